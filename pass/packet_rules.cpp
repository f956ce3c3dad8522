#include "pass/packet_rules.h"

#include "service/multiplex.h"
#include "service/pmt_change.h"
#include "service/rebase.h"
#include "ts/packet.h"

namespace corvane {

namespace {

// The packet loop, for one service or for every service of a multiplex: one body, so that the
// one-service loop stays as lean as it was.
template <bool kMultiplex>
RulesEnd rewriteLoop(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                     std::int64_t offset) {
  EventSink& events = rules.events;
  ContinuityCounters& counters = rules.counters;
  Service* const oneService = &rules.service;
  for (std::uint8_t* packet = begin; packet < end; packet += kPacketSize, offset += kPacketSize) {
    events.packetOffset = offset;
    int pid = renumber(counters, packet);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) {
      if constexpr (kMultiplex) events.program = 0;
      emit(events, Event{.kind = EventKind::erroredPacket, .pid = pid});
      continue;
    }

    Service* service = oneService;
    if constexpr (kMultiplex) {
      // Every service on its own clock; the tables are read as they come and stop nothing.
      // Tables and packets of PIDs that no service lists have their counters only.
      service = meetPacket(*rules.multiplex, packet, pid, rules.pmtcheck, events);
      if (service == nullptr || (!service->ready && !takeUnready(*service, packet))) continue;
      events.program = static_cast<std::uint16_t>(service->programNumber);
    } else if (rules.pmtcheck && sectionKey(packet) == kPmtSectionKey &&
               containsPid(service->pmtPids, pid) && !scrambled(packet)) {
      // A section is read only from the packet that starts it.
      if (!payloadUnitStart(packet)) {
        emit(events, Event{.kind = EventKind::straySection, .pid = pid});
      } else if (Refusal refusal = trackPmtChange(service->pids, packet, events);
                 refusal != Refusal::none) {
        return RulesEnd{packet, refusal};
      }
    }

    bool pcrDue = false;
    if (pcrFlagged(packet) && containsPid(service->pids.pcr, pid)) {
      pcrDue = carriesPcr(packet);
      if (!pcrDue) emit(events, Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
    }
    TimedPes pes = payloadUnitStart(packet) && clearPayload(packet)
                       ? timedPesStart(service->pids, packet)
                       : TimedPes{};
    if (!pcrDue && pes.offset < 0) continue;

    // The PCR of a packet is rebased before its PES header, whose joint may move the offset.
    if (pcrDue) rebasePcr(service->timeline, packet, events);
    if (pes.offset >= 0) {
      if (!inJumpTest(service->pids, packet, pes.offset)) {
        rebasePes(*service, packet, pes, events);
      } else if (rebaseJumpTestPes(*service, packet, pes, events)) {
        skipOneCount(counters, packet);
      }
    }
    emit(events, Event{.kind = EventKind::packetCounted, .pid = pid});
  }
  return RulesEnd{end, Refusal::none};
}

}  // namespace

RulesEnd rewritePackets(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                        std::int64_t offset) {
  return rules.multiplex != nullptr ? rewriteLoop<true>(rules, begin, end, offset)
                                    : rewriteLoop<false>(rules, begin, end, offset);
}

void rewriteCutOffPacket(PacketRules& rules, std::uint8_t* packet, std::int64_t bytes,
                         std::int64_t offset) {
  rules.events.packetOffset = offset;
  rules.events.program = 0;
  if (bytes >= 4) renumber(rules.counters, packet);
  emit(rules.events, Event{.kind = EventKind::cutOffEnd, .value = bytes});
}

}  // namespace corvane
