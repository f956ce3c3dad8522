#include "pass/packet_rules.h"

#include <algorithm>

#include "pass/pass_buffer.h"
#include "service/rebase.h"
#include "ts/packet.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

// Under clean joints: the verdict of the joint picture of `service` among the packets from
// `from`, the packet where one of its streams jumped, up to kJointLookahead bytes on. They are
// those of the view, and where the view stops at the ring's end, the ring's from its start.
JointAhead lookForJoint(const PacketRules& rules, const WalkView<std::uint8_t>& view,
                        const Service& service, std::int64_t from) {
  const PidTable& table = rules.multiplex.pids;
  const ReadAhead& ahead = rules.ahead;
  JointAhead found;
  auto visit = [&](const std::uint8_t* packet) {
    int pid = packetPid(packet);
    if (table.service[pid] != &service || transportError(packet) || !payloadUnitStart(packet) ||
        !clearPayload(packet)) {
      return true;
    }
    TimedPes pes = timedPesStart(service.pids, packet);
    if (pes.offset < 0 || !inJumpTest(service.pids, packet, pes.offset)) return true;
    found = jointAhead(service, packet, pes);
    return false;
  };
  auto pass = [](std::int64_t, std::int64_t, NotPackets) {};
  std::int64_t limit = from + kJointLookahead;
  std::int64_t ringEnd = ringEndAfter(ahead.ringSize, view.from);
  bool crosses = view.end > ringEnd;
  PacketWalker walker{rules.walker.framing, PacketWalker::State::candidate, from};
  WalkView<const std::uint8_t> near{view.bytes, view.from, view.end,
                                    crosses ? std::min(limit, ringEnd) : limit, view.ended};
  if (walkPackets(walker, near, visit, pass) && crosses && walker.next >= ringEnd &&
      walker.next < limit) {
    WalkView<const std::uint8_t> far{ahead.ring + (walker.next - ringEnd), walker.next, ahead.read,
                                     limit, ahead.ended};
    walkPackets(walker, far, visit, pass);
  }
  return found;
}

// The PCR and the PES header of a packet that the service's rules see; the packet is counted when
// a rule rewrote it. Apart from the packet loop, which most packets leave before it.
CORVANE_NOINLINE void rebaseTimestamps(PacketRules& rules, const WalkView<std::uint8_t>& view,
                                       Service& service, std::uint8_t* packet, int pid) {
  const EventSink& events = rules.events;
  auto placeOf = [&] {
    std::int64_t offset = offsetIn(view, packet);
    return PacketPlace{offset, packetIndex(rules.walker, offset), service.programNumber};
  };
  bool pcrDue = false;
  if (pcrFlagged(packet) && containsPid(service.pids.pcr, pid)) {
    pcrDue = carriesPcr(packet);
    if (!pcrDue) {
      emit(events, placeOf(), Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
    }
  }
  TimedPes pes = payloadUnitStart(packet) && clearPayload(packet)
                     ? timedPesStart(service.pids, packet)
                     : TimedPes{};
  if (!pcrDue && pes.offset < 0) return;

  // The PCR of a packet is rebased before its PES header, whose joint may move the offset.
  // Under clean joints each is rebased with the offsets of the stretch its clock is on.
  const PacketPlace at = placeOf();
  Timeline& timeline = service.timeline;
  const bool clean = rules.multiplex.cleanJoints;
  auto findJoint = [&] { return lookForJoint(rules, view, service, offsetIn(view, packet)); };
  if (pcrDue) {
    rebasePcr(clean ? stepClock(timeline, timeline.pcrClock, readPcr(packet) / 300, findJoint, at,
                                events, pid)
                    : currentOffsets(timeline),
              packet, at, events);
  }
  if (pes.offset >= 0) {
    if (!inJumpTest(service.pids, packet, pes.offset)) {
      StretchOffsets offsets = clean ? stepClock(timeline, rules.multiplex.clocks[pid],
                                                 readPesTimestamp(packet + kPtsField + pes.offset),
                                                 findJoint, at, events, pid)
                                     : currentOffsets(timeline);
      rebasePes(service, packet, pes, offsets, clean, at, events);
    } else if (rebaseJumpTestPes(service, packet, pes, clean, at, events)) {
      skipOneCount(rules.counters, packet);
    }
  }
  emit(events, at, Event{.kind = EventKind::packetCounted, .pid = pid});
}

// A packet out of order, or a PID's first: renumbered, and a loss before it reported. Apart from
// the packet loop, which the packets in order leave before it.
CORVANE_NOINLINE void renumberAside(PacketRules& rules, const WalkView<std::uint8_t>& view,
                                    std::uint8_t* packet, int pid) {
  unsigned due = rules.counters.expected[pid] & 0x0F;
  int counter = continuityCounter(packet);
  if (!renumberOutOfOrder(rules.counters, packet, pid)) return;
  const Service* service = rules.multiplex.pids.service[pid];
  std::int64_t offset = offsetIn(view, packet);
  emit(rules.events,
       PacketPlace{offset, packetIndex(rules.walker, offset),
                   service != nullptr ? service->programNumber : 0},
       Event{.kind = EventKind::drop, .pid = pid, .value = counter, .previous = due});
}

}  // namespace

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
  auto rewrite = [&stop, placeOf, &rules, &view, &events = rules.events, &counters = rules.counters,
                  &multiplex = rules.multiplex,
                  table = &rules.multiplex.pids](std::uint8_t* packet) CORVANE_INLINE_VISIT {
    int sourceCounter = continuityCounter(packet);  // for the tables, which follow it
    int pid = packetPid(packet);
    if (!renumberInOrder(counters, packet, pid)) renumberAside(rules, view, packet, pid);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) {
      ++counters.counts[pid].errors;
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

    rebaseTimestamps(rules, view, *service, packet, pid);
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
