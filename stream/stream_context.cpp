#include "stream/stream_context.h"

#include <new>

#include "stream/console.h"
#include "stream/messages.h"

namespace corvane {

bool insertPid(PidList& list, std::int32_t pid) {
  PidList* predecessor = &list;
  PidList* element = list.link;
  while (element != nullptr) {
    if (element->pid == pid) return true;
    if (element->pid > pid) break;
    predecessor = element;
    element = element->link;
  }
  PidList* node = new (std::nothrow) PidList{pid, nullptr};
  if (node == nullptr) {
    writeErr(msg::kNodeAllocFailed);  // メモリの確保に失敗しました
    return false;
  }
  node->link = element;
  predecessor->link = node;
  return true;
}

bool containsPid(const PidList& list, std::int32_t pid) {
  for (const PidList* element = list.link; element != nullptr; element = element->link) {
    if (element->pid == pid) return true;
  }
  return false;
}

std::int32_t countPids(const PidList& list) {
  std::int32_t count = 0;
  for (const PidList* element = list.link; element != nullptr; element = element->link) ++count;
  return count;
}

std::int32_t pidAt(const PidList& list, std::int32_t position) {
  if (position < 0) return 0;
  const PidList* element = list.link;
  for (; element != nullptr && position > 0; --position) element = element->link;
  return element != nullptr ? element->pid : 0;
}

void freePidList(PidList& list) {
  while (list.link != nullptr) {
    PidList* first = list.link;
    list.link = first->link;
    delete first;
  }
}

void freePidLists(StreamContext& context) {
  freePidList(context.pcrPids);
  freePidList(context.pmtPids);
  freePidList(context.videoPids);
  freePidList(context.audioPids);
  freePidList(context.captionPids);
}

}  // namespace corvane
