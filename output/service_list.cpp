#include "output/service_list.h"

#include "output/console.h"
#include "output/messages.h"

namespace corvane {

namespace {

void printStream(const StreamListing::Entry& stream) {
  unsigned pid = stream.pid;
  const char* label = codingNames(stream.coding).label;
  if (isVideoCoding(stream.coding)) {
    printOut(msg::kServiceVideo, pid, label);  //  映像 %04x(%s)
  } else if (stream.coding == StreamCoding::caption) {
    printOut(msg::kServiceCaption, pid);  //  字幕 %04x
  } else if (stream.coding == StreamCoding::other) {
    printOut(msg::kServiceOther, pid);  //  その他 %04x
  } else {
    printOut(msg::kServiceAudio, pid, label);  //  音声 %04x(%s)
  }
}

}  // namespace

void printServices(const Multiplex& multiplex) {
  for (const Program& program : multiplex.programs) {
    const Service* service = program.service.get();
    if (service == nullptr) {
      // サービス %d: PMTのCRCが一致しません...巡回カウンタのみ更新します.
      // サービス %d: PMTが見つかりません...巡回カウンタのみ更新します.
      printOut(program.badPmt ? msg::kServiceBadPmt : msg::kServiceWithoutPmt, program.number);
      continue;
    }
    if (withoutPcr(*service)) {
      printOut(msg::kServiceWithoutPcr, program.number);  // サービス %d: PCRなし
    } else {
      // サービス %d: PCR %04x
      printOut(msg::kServiceHeading, program.number,
               static_cast<unsigned>(nextPid(service->pids.pcr, -1)));
    }
    const StreamListing& listing = service->listing;
    for (int i = 0; i < listing.count; ++i) printStream(listing.streams[i]);
    if (!service->countersOnly) {
      writeOut("\n");
    } else if (service->anchorSeen) {
      // ...スクランブルされています. 巡回カウンタのみ更新します.
      writeOut(msg::kServiceScrambled);
    } else {
      writeOut(
          msg::kServiceWithoutStream);  // ...ストリームがありません. 巡回カウンタのみ更新します.
    }
  }
}

}  // namespace corvane
