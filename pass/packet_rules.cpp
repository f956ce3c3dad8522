#include "pass/packet_rules.h"

#include "service/rebase.h"
#include "ts/packet.h"

namespace corvane {

Refusal rewritePackets(PacketRules& rules, const WalkView<std::uint8_t>& view) {
  Refusal stop = Refusal::none;
  const PacketWalker& walker = rules.walker;
  auto placeOf = [&walker, view](const std::uint8_t* packet, int program) {
    std::int64_t offset = offsetIn(view, packet);
    return PacketPlace{offset, packetIndex(walker, offset), program};
  };
  // The packet path, top to bottom. What it reads on every packet is held by value: a byte
  // written into a packet could be any byte to the compiler, so that a local it only knew by
  // address would be read anew.
  auto rewrite = [&stop, placeOf, &events = rules.events, &counters = rules.counters,
                  &multiplex = rules.multiplex,
                  table = &rules.multiplex.pids](std::uint8_t* packet) CORVANE_INLINE_VISIT {
    int sourceCounter = continuityCounter(packet);  // for the tables, which follow it
    int pid = renumber(counters, packet);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) {
      emit(events, placeOf(packet, 0), Event{.kind = EventKind::erroredPacket, .pid = pid});
      return true;
    }
    // The service whose rules see the packet, when it may carry a PCR or start a PES; first, for
    // the PIDs that need it, tables, services not ready yet and PCRs that services wait for.
    Service* service;
    if (table->attention[pid] == 0) {
      if (!pcrFlagged(packet) && !payloadUnitStart(packet)) return true;
      service = table->service[pid];
    } else {
      Attended attention =
          attend(multiplex, packet, pid, sourceCounter, placeOf(packet, 0), events);
      if (attention.stop != Refusal::none) {
        stop = attention.stop;
        return false;
      }
      service = attention.service;
    }
    if (service == nullptr) return true;

    bool pcrDue = false;
    if (pcrFlagged(packet) && containsPid(service->pids.pcr, pid)) {
      pcrDue = carriesPcr(packet);
      if (!pcrDue) {
        emit(events, placeOf(packet, service->programNumber),
             Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
      }
    }
    TimedPes pes = payloadUnitStart(packet) && clearPayload(packet)
                       ? timedPesStart(service->pids, packet)
                       : TimedPes{};
    if (!pcrDue && pes.offset < 0) return true;

    // The PCR of a packet is rebased before its PES header, whose joint may move the offset.
    const PacketPlace at = placeOf(packet, service->programNumber);
    if (pcrDue) rebasePcr(service->timeline, packet, at, events);
    if (pes.offset >= 0) {
      if (!inJumpTest(service->pids, packet, pes.offset)) {
        rebasePes(*service, packet, pes, at, events);
      } else if (rebaseJumpTestPes(*service, packet, pes, at, events)) {
        skipOneCount(counters, packet);
      }
    }
    emit(events, at, Event{.kind = EventKind::packetCounted, .pid = pid});
    return true;
  };
  // Bytes that are not packets are left as they are: lost bytes, or a packet the source's end
  // cuts short, which takes part in nothing.
  auto pass = [&events = rules.events, &walker](std::int64_t offset, std::int64_t bytes,
                                                NotPackets what) {
    EventKind kind = what == NotPackets::cutOff ? EventKind::cutOffEnd : EventKind::syncLost;
    emit(events, PacketPlace{offset, walker.packets, 0}, Event{.kind = kind, .value = bytes});
  };
  walkPackets(rules.walker, view, rewrite, pass);
  return stop;
}

}  // namespace corvane
