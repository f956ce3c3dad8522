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
Refusal rewriteLoop(PacketRules& rules, const WalkView<std::uint8_t>& view) {
  Refusal stop = Refusal::none;
  // What the loop reads on every packet is held by value: a byte written into a packet could be
  // any byte to the compiler, so that a local it only knows by address would be read anew.
  auto rewrite = [&stop, view, &events = rules.events, &counters = rules.counters,
                  oneService = &rules.service, multiplex = rules.multiplex,
                  pmtcheck = rules.pmtcheck](std::uint8_t* packet) CORVANE_INLINE_VISIT {
    int pid = renumber(counters, packet);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) {
      events.packetOffset = offsetIn(view, packet);
      if constexpr (kMultiplex) events.program = 0;
      emit(events, Event{.kind = EventKind::erroredPacket, .pid = pid});
      return true;
    }

    Service* service = oneService;
    if constexpr (kMultiplex) {
      // Every service on its own clock; the tables are read as they come and stop nothing.
      // Tables and packets of PIDs that no service lists have their counters only.
      if (multiplex->owner[pid] == nullptr) events.packetOffset = offsetIn(view, packet);
      service = meetPacket(*multiplex, packet, pid, pmtcheck, events);
      if (service == nullptr || (!service->ready && !takeUnready(*service, packet))) return true;
      events.program = static_cast<std::uint16_t>(service->programNumber);
    } else if (pmtcheck && sectionKey(packet) == kPmtSectionKey &&
               containsPid(service->pmtPids, pid) && !scrambled(packet)) {
      events.packetOffset = offsetIn(view, packet);
      // A section is read only from the packet that starts it.
      if (!payloadUnitStart(packet)) {
        emit(events, Event{.kind = EventKind::straySection, .pid = pid});
      } else if (Refusal refusal = trackPmtChange(service->pids, packet, events);
                 refusal != Refusal::none) {
        stop = refusal;
        return false;
      }
    }

    bool pcrDue = false;
    if (pcrFlagged(packet) && containsPid(service->pids.pcr, pid)) {
      pcrDue = carriesPcr(packet);
      if (!pcrDue) {
        events.packetOffset = offsetIn(view, packet);
        emit(events, Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
      }
    }
    TimedPes pes = payloadUnitStart(packet) && clearPayload(packet)
                       ? timedPesStart(service->pids, packet)
                       : TimedPes{};
    if (!pcrDue && pes.offset < 0) return true;
    events.packetOffset = offsetIn(view, packet);

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
    return true;
  };
  // Bytes that are not packets are left as they are: lost bytes, or a packet the source's end
  // cuts short, which takes part in nothing.
  auto pass = [&events = rules.events](std::int64_t offset, std::int64_t bytes, NotPackets what) {
    events.packetOffset = offset;
    events.program = 0;
    emit(events, Event{.kind = what == NotPackets::cutOff ? EventKind::cutOffEnd
                                                          : EventKind::syncLost,
                       .value = bytes});
  };
  walkPackets(rules.walker, view, rewrite, pass);
  return stop;
}

}  // namespace

Refusal rewritePackets(PacketRules& rules, const WalkView<std::uint8_t>& view) {
  return rules.multiplex != nullptr ? rewriteLoop<true>(rules, view)
                                    : rewriteLoop<false>(rules, view);
}

}  // namespace corvane
