#include "pass/packet_rules.h"

#include "service/pmt_change.h"
#include "service/rebase.h"
#include "ts/packet.h"

namespace corvane {

RulesEnd rewritePackets(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                        std::int64_t offset) {
  Service& service = rules.service;
  EventSink& events = rules.events;
  for (std::uint8_t* packet = begin; packet < end; packet += kPacketSize, offset += kPacketSize) {
    events.packetOffset = offset;
    int pid = renumber(rules.counters, packet);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) {
      emit(events, Event{.kind = EventKind::erroredPacket, .pid = pid});
      continue;
    }

    if (rules.pmtcheck && sectionKey(packet) == kPmtSectionKey &&
        containsPid(service.pmtPids, pid)) {
      // A section is read only from the packet that starts it.
      if (!payloadUnitStart(packet)) {
        emit(events, Event{.kind = EventKind::straySection, .pid = pid});
      } else if (Refusal refusal = trackPmtChange(service.pids, packet, events);
                 refusal != Refusal::none) {
        return RulesEnd{packet, refusal};
      }
    }

    bool pcrDue = false;
    if (pcrFlagged(packet) && containsPid(service.pids.pcr, pid)) {
      pcrDue = carriesPcr(packet);
      if (!pcrDue) emit(events, Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
    }
    TimedPes pes = payloadUnitStart(packet) && hasPayload(packet)
                       ? timedPesStart(service.pids, packet)
                       : TimedPes{};
    if (!pcrDue && pes.offset < 0) continue;

    // The PCR of a packet is rebased before its PES header, whose joint may move the offset.
    if (pcrDue) rebasePcr(service.timeline, packet, events);
    if (pes.offset >= 0) {
      if (!inJumpTest(service.pids, packet, pes.offset)) {
        rebasePes(service, packet, pes, events);
      } else if (rebaseJumpTestPes(service, packet, pes, events)) {
        skipOneCount(rules.counters, packet);
      }
    }
    emit(events, Event{.kind = EventKind::packetCounted, .pid = pid});
  }
  return RulesEnd{end, Refusal::none};
}

void rewriteCutOffPacket(PacketRules& rules, std::uint8_t* packet, std::int64_t bytes,
                         std::int64_t offset) {
  rules.events.packetOffset = offset;
  if (bytes >= 4) renumber(rules.counters, packet);
  emit(rules.events, Event{.kind = EventKind::cutOffEnd, .value = bytes});
}

}  // namespace corvane
