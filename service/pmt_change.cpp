#include "service/pmt_change.h"

#include <utility>

namespace corvane {

namespace {

// The PIDs that left paired with those that came, in ascending order, as long as both are left;
// then the rest of either alone. PID 0 is never reported: it stands for "none".
void reportPairs(const PidList& oldList, const PidList& newList, StreamRole role,
                 const PacketPlace& at, const EventSink& events) {
  if (oldList == newList) return;
  const PidList left = pidsNotIn(oldList, newList);
  const PidList came = pidsNotIn(newList, oldList);
  int oldPid = nextPid(left, 0);
  int newPid = nextPid(came, 0);
  while (oldPid >= 0 || newPid >= 0) {
    emit(events, at,
         Event{.kind = EventKind::pidChanged,
               .role = role,
               .value = newPid < 0 ? 0 : newPid,
               .previous = oldPid < 0 ? 0 : oldPid});
    if (oldPid >= 0) oldPid = nextPid(left, oldPid);
    if (newPid >= 0) newPid = nextPid(came, newPid);
  }
}

// A PCR or video PID changed: the first of each list, 0 for an empty one.
void reportFirst(const PidList& oldList, const PidList& newList, StreamRole role,
                 const PacketPlace& at, const EventSink& events) {
  if (oldList == newList) return;
  emit(events, at,
       Event{.kind = EventKind::pidChanged,
             .role = role,
             .value = pidAt(newList, 0),
             .previous = pidAt(oldList, 0)});
}

}  // namespace

Refusal trackPmtChange(ProgramPids& pids, Section section, const PacketPlace& at,
                       const EventSink& events, PmtStreams streams, StreamListing* listing) {
  // The old lists are held aside, so that the reader's verdict covers this section alone.
  const PidList oldPcr = std::exchange(pids.pcr, {});
  const PidList oldVideo = std::exchange(pids.video, {});
  const PidList oldAudio = std::exchange(pids.audio, {});
  const PidList oldCaptions = std::exchange(pids.captions, {});
  // Only a service of a multiplex has other streams.
  bool anyStream = streams == PmtStreams::anyStream;
  const PidList oldOthers = anyStream ? std::exchange(pids.others, {}) : PidList{};
  readPmt(section, pids, streams, listing);
  if (!anyStream) {
    if (Refusal refusal = checkPmt(pids); refusal != Refusal::none) return refusal;
    pids.anchor = nextPid(pids.video, -1);
  }
  reportFirst(oldPcr, pids.pcr, StreamRole::pcr, at, events);
  reportFirst(oldVideo, pids.video, StreamRole::video, at, events);
  reportPairs(oldAudio, pids.audio, StreamRole::audio, at, events);
  reportPairs(oldCaptions, pids.captions, StreamRole::caption, at, events);
  if (anyStream) reportPairs(oldOthers, pids.others, StreamRole::other, at, events);
  return Refusal::none;
}

}  // namespace corvane
