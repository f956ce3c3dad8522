#include "service/rebase.h"
#include "ts/timestamp.h"

namespace corvane {

void rebasePcr(const StretchOffsets& offsets, std::uint8_t* packet, const PacketPlace& at,
               const EventSink& events) {
  std::int64_t source = readPcr(packet);
  std::int64_t value = source - offsets.ptsOffset * 300;
  // PCRs still on the timeline left at the last joint or wrap keep the offset of that timeline.
  if (value > kMaxPcr) value = source - offsets.prevPtsOffset * 300;
  writePcr(packet, value);
  emit(events, at,
       Event{.kind = EventKind::pcrRebased,
             .role = StreamRole::pcr,
             .pid = packetPid(packet),
             .source = source,
             .value = value,
             .ptsOffset = offsets.ptsOffset});
}

}  // namespace corvane
