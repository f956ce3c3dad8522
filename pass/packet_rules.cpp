#include "pass/packet_rules.h"

#include "service/multiplex.h"
#include "service/pmt_change.h"
#include "service/rebase.h"
#include "ts/packet.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

// The PCR and PES rules of one service for a packet of its PIDs, renumbered already.
inline void rebaseServicePacket(Service& service, ContinuityCounters& counters, EventSink& events,
                                std::uint8_t* packet, int pid) {
  bool pcrDue = false;
  if (pcrFlagged(packet) && containsPid(service.pids.pcr, pid)) {
    pcrDue = carriesPcr(packet);
    if (!pcrDue) emit(events, Event{.kind = EventKind::pcrWithoutRoom, .pid = pid});
  }
  TimedPes pes = payloadUnitStart(packet) && hasPayload(packet)
                     ? timedPesStart(service.pids, packet)
                     : TimedPes{};
  if (!pcrDue && pes.offset < 0) return;

  // The PCR of a packet is rebased before its PES header, whose joint may move the offset.
  if (pcrDue) rebasePcr(service.timeline, packet, events);
  if (pes.offset >= 0) {
    if (!inJumpTest(service.pids, packet, pes.offset)) {
      rebasePes(service, packet, pes, events);
    } else if (rebaseJumpTestPes(service, packet, pes, events)) {
      skipOneCount(counters, packet);
    }
  }
  emit(events, Event{.kind = EventKind::packetCounted, .pid = pid});
}

// A service that is not started yet: one without PCR starts at its anchor's first PES with a
// PTS; until then nothing of it is rebased. True when it has started.
bool startsHere(Service& service, const std::uint8_t* packet, int pid) {
  if (!withoutPcr(service) || pid != service.pids.anchor || !payloadUnitStart(packet) ||
      !hasPayload(packet)) {
    return false;
  }
  TimedPes pes = timedPesStart(service.pids, packet);
  if (pes.offset < 0) return false;
  startOnPts(service, readPesTimestamp(packet + kPtsField + pes.offset));
  return true;
}

// Every service of a multiplex, each on its own clock; the tables are read as they come, and
// nothing stops the rules.
RulesEnd rewriteMultiplexPackets(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                                 std::int64_t offset) {
  Multiplex& multiplex = *rules.multiplex;
  EventSink& events = rules.events;
  for (std::uint8_t* packet = begin; packet < end; packet += kPacketSize, offset += kPacketSize) {
    events.packetOffset = offset;
    int pid = renumber(rules.counters, packet);
    if (transportError(packet)) {
      events.program = -1;
      emit(events, Event{.kind = EventKind::erroredPacket, .pid = pid});
      continue;
    }
    if (payloadUnitStart(packet) && !scrambled(packet)) {
      int key = sectionKey(packet);
      if (pid == 0 && key == kPatSectionKey) {
        takePat(multiplex, packet);
        continue;
      }
      if (key == kPmtSectionKey && containsPid(multiplex.pmtPids, pid)) {
        takePmt(multiplex, packet, rules.pmtcheck, events);
        continue;
      }
    }
    if (carriesPcr(packet) && containsPid(multiplex.waitingPcr, pid)) {
      startOnPcr(multiplex, pid, readPcr(packet));
    }
    std::uint16_t owner = multiplex.owner[pid];
    if (owner == kNoOwner) continue;
    Service& service = *multiplex.programs[owner].service;
    if (!service.anchorSeen) noteAnchorPacket(service, packet);
    if (service.countersOnly) continue;
    if (!service.started && !startsHere(service, packet, pid)) continue;
    events.program = service.programNumber;
    rebaseServicePacket(service, rules.counters, events, packet, pid);
  }
  return RulesEnd{end, Refusal::none};
}

}  // namespace

RulesEnd rewritePackets(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                        std::int64_t offset) {
  if (rules.multiplex != nullptr) return rewriteMultiplexPackets(rules, begin, end, offset);
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
        containsPid(service.pmtPids, pid) && !scrambled(packet)) {
      // A section is read only from the packet that starts it.
      if (!payloadUnitStart(packet)) {
        emit(events, Event{.kind = EventKind::straySection, .pid = pid});
      } else if (Refusal refusal = trackPmtChange(service.pids, packet, events);
                 refusal != Refusal::none) {
        return RulesEnd{packet, refusal};
      }
    }
    rebaseServicePacket(service, rules.counters, events, packet, pid);
  }
  return RulesEnd{end, Refusal::none};
}

void rewriteCutOffPacket(PacketRules& rules, std::uint8_t* packet, std::int64_t bytes,
                         std::int64_t offset) {
  rules.events.packetOffset = offset;
  rules.events.program = -1;
  if (bytes >= 4) renumber(rules.counters, packet);
  emit(rules.events, Event{.kind = EventKind::cutOffEnd, .value = bytes});
}

}  // namespace corvane
