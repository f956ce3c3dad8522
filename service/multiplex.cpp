#include "service/multiplex.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "service/pmt_change.h"
#include "service/rebase.h"
#include "ts/packet.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

// PIDs that a service of a whole transport stream may repair: not a table, not a PMT, not null
// packets. The one service of a recording repairs whatever it lists.
bool streamPid(const Multiplex& multiplex, int pid) {
  return multiplex.oneService ||
         (pid >= 0x0010 && pid != kNullPid && !containsPid(multiplex.pmtPids, pid));
}

template <typename Visit>
void forEachListedPid(const Service& service, Visit visit) {
  const ProgramPids& pids = service.pids;
  for (const PidList* list : {&pids.pcr, &pids.video, &pids.audio, &pids.captions, &pids.others}) {
    for (int pid = nextPid(*list, -1); pid >= 0; pid = nextPid(*list, pid)) visit(pid);
  }
}

// The service's PIDs need attention while it is not ready.
void markReadiness(Multiplex& multiplex, const Service& service) {
  forEachListedPid(service, [&](int pid) {
    if (multiplex.pids.service[pid] != &service) return;
    std::uint8_t& attention = multiplex.pids.attention[pid];
    attention = service.ready ? attention & ~kNotReady : attention | kNotReady;
  });
}

// The service's anchor among the PIDs it repairs: its first video stream, or without one its
// first audio stream, with the coding its PMT gave the video.
void settleOwnAnchor(const Multiplex& multiplex, Service& service) {
  ProgramPids& pids = service.pids;
  auto firstOwned = [&](const PidList& list) {
    int pid = nextPid(list, -1);
    while (pid >= 0 && multiplex.pids.service[pid] != &service) pid = nextPid(list, pid);
    return pid;
  };
  pids.anchor = firstOwned(pids.video);
  pids.videoCoding = VideoCoding::none;
  if (pids.anchor < 0) {
    pids.anchor = firstOwned(pids.audio);
    return;
  }
  const StreamListing& listing = service.listing;
  for (int i = 0; i < listing.count; ++i) {
    if (listing.streams[i].pid != pids.anchor) continue;
    pids.videoCoding = videoCodingOf(listing.streams[i].coding);
  }
}

// Each PID goes to the first program, in the PATs' order, that lists it; then what needs
// attention: the tables, the PIDs of services not ready, and the PCRs that services wait for.
void settleOwners(Multiplex& multiplex) {
  PidTable& table = multiplex.pids;
  std::fill(std::begin(table.service), std::end(table.service), nullptr);
  std::fill(std::begin(table.attention), std::end(table.attention), std::uint8_t{0});
  for (const Program& program : multiplex.programs) {
    Service* service = program.service.get();
    if (service == nullptr) continue;
    forEachListedPid(*service, [&](int pid) {
      if (table.service[pid] == nullptr && streamPid(multiplex, pid)) table.service[pid] = service;
    });
  }
  for (const Program& program : multiplex.programs) {
    Service* service = program.service.get();
    if (service == nullptr) continue;
    // The one service's anchor is its video, which the survey settled.
    if (!multiplex.oneService) settleOwnAnchor(multiplex, *service);
    markReadiness(multiplex, *service);
  }
  if (multiplex.oneService) {
    if (multiplex.followPmts) {
      const PidList& pmtPids = multiplex.programs.front().service->pmtPids;
      for (int pid = nextPid(pmtPids, -1); pid >= 0; pid = nextPid(pmtPids, pid)) {
        table.attention[pid] |= kReadTables;
      }
    }
    return;
  }
  table.attention[0] |= kReadTables;
  for (int pid = nextPid(multiplex.pmtPids, -1); pid >= 0; pid = nextPid(multiplex.pmtPids, pid)) {
    table.attention[pid] |= kReadTables;
  }
  // Only a PCR on a PID that a service repairs starts services.
  const PidList& waiting = multiplex.waitingPcr;
  for (int pid = nextPid(waiting, -1); pid >= 0; pid = nextPid(waiting, pid)) {
    if (table.service[pid] != nullptr) table.attention[pid] |= kPcrWaited;
  }
}

void waitForPcr(Multiplex& multiplex, const Service& service) {
  if (!service.started && !withoutPcr(service)) {
    insertPid(multiplex.waitingPcr, nextPid(service.pids.pcr, -1));
  }
}

void start(Service& service, std::int64_t ptsOffset) {
  service.timeline.ptsOffset = ptsOffset;
  service.timeline.prevPtsOffset = ptsOffset;
  service.started = true;
}

// The one service's PMT, re-read during the pass: checked as the survey checks it.
Refusal followOnePmt(Multiplex& multiplex, Service& service, const std::uint8_t* packet,
                     const PacketPlace& at, const EventSink& events) {
  // A section is read only from the packet that starts it, and never from a scrambled one.
  if (sectionKey(packet) != kPmtSectionKey || scrambled(packet)) return Refusal::none;
  if (!payloadUnitStart(packet)) {
    emit(events, at, Event{.kind = EventKind::straySection, .pid = packetPid(packet)});
    return Refusal::none;
  }
  const ProgramPids before = service.pids;
  PacketPlace place{at.offset, at.index, service.programNumber};
  if (Refusal refusal = trackPmtChange(service.pids, sectionIn(packet), place, events);
      refusal != Refusal::none) {
    return refusal;
  }
  if (!(service.pids == before)) settleOwners(multiplex);
  return Refusal::none;
}

}  // namespace

Multiplex::Multiplex() {
  programs.reserve(kMaxServices);
  pids.attention[0] = kReadTables;  // the PAT
}

void adoptService(Multiplex& multiplex, const Service& service, bool followPmts) {
  multiplex.oneService = true;
  multiplex.followPmts = followPmts;
  Program& program =
      multiplex.programs.emplace_back(Program{service.programNumber, nextPid(service.pmtPids, -1),
                                              std::unique_ptr<Service>(new Service(service))});
  program.service->started = true;
  program.service->anchorSeen = true;
  program.service->ready = true;
  settleOwners(multiplex);
}

void takePat(Multiplex& multiplex, Section section) {
  multiplex.patSeen = true;
  // A PAT repeats every tenth of a second; one whose length and CRC_32 are those of the last
  // one read has nothing new.
  const std::uint8_t* crc = section.bytes + section.size - 4;
  std::uint64_t key = std::uint64_t(sectionLengthOf(section.bytes)) << 32 |
                      std::uint64_t(crc[0]) << 24 | std::uint64_t(crc[1]) << 16 |
                      std::uint64_t(crc[2]) << 8 | crc[3];
  if (key == multiplex.lastPat) return;
  multiplex.lastPat = key;
  bool added = false;
  forEachPatProgram(Section{section.bytes, section.size - 4}, [&](int number, int pmtPid) {
    if (pmtPid < 0x0010 || pmtPid == kNullPid) return;  // a table's PID cannot carry a PMT
    for (const Program& program : multiplex.programs) {
      if (program.number == number) return;
    }
    if (multiplex.programs.size() >= kMaxServices) return;
    multiplex.programs.push_back(Program{number, pmtPid, nullptr});
    insertPid(multiplex.pmtPids, pmtPid);
    insertPid(multiplex.newPmtPids, pmtPid);
    added = true;
  });
  if (added) settleOwners(multiplex);
}

void takePmt(Multiplex& multiplex, int pid, Section section, bool follow, const PacketPlace& at,
             const EventSink& events) {
  if (!follow && !containsPid(multiplex.newPmtPids, pid)) return;
  const Section entries{section.bytes, section.size - 4};  // without its CRC_32
  int number = pmtProgramNumber(entries);
  auto program =
      std::find_if(multiplex.programs.begin(), multiplex.programs.end(),
                   [&](const Program& p) { return p.number == number && p.pmtPid == pid; });
  if (program == multiplex.programs.end()) return;
  if (program->service == nullptr) {
    // Without the memory for it, the program is passed through with its counters.
    program->service.reset(new (std::nothrow) Service);
    if (program->service == nullptr) return;
    Service& service = *program->service;
    service.programNumber = number;
    insertPid(service.pmtPids, pid);
    readPmt(entries, service.pids, PmtStreams::anyStream, &service.listing);
    const ProgramPids& pids = service.pids;
    service.countersOnly = pids.video == PidList{} && pids.audio == PidList{} &&
                           pids.captions == PidList{} && pids.others == PidList{};
    waitForPcr(multiplex, service);
    settleOwners(multiplex);
    // The PID is new no more once every program on it has its service.
    if (std::none_of(multiplex.programs.begin(), multiplex.programs.end(),
                     [&](const Program& p) { return p.pmtPid == pid && p.service == nullptr; })) {
      erasePid(multiplex.newPmtPids, pid);
    }
    return;
  }
  if (!follow) return;
  Service& service = *program->service;
  const ProgramPids before = service.pids;
  trackPmtChange(service.pids, entries, PacketPlace{at.offset, at.index, number}, events,
                 PmtStreams::anyStream, &service.listing);
  if (service.pids == before) return;
  waitForPcr(multiplex, service);
  settleOwners(multiplex);
}

void readTables(Multiplex& multiplex, const std::uint8_t* packet, int pid, int counter, bool follow,
                const PacketPlace& at, const EventSink& events) {
  if (scrambled(packet)) return;
  std::unique_ptr<SectionAssembler>& assembler = multiplex.sections[pid];
  // Without the memory for it, the PID's tables are not read.
  if (assembler == nullptr) assembler.reset(new (std::nothrow) SectionAssembler);
  if (assembler == nullptr) return;
  struct Reading {
    Multiplex& multiplex;
    int pid;
    bool follow;
    const PacketPlace& at;
    const EventSink& events;
  } reading{multiplex, pid, follow, at, events};
  auto take = [](void* context, Section section) {
    Reading& r = *static_cast<Reading*>(context);
    // A section for a table still to come (current_next_indicator 0) is not the table in force.
    if (section.size < 12 || !(section.bytes[5] & 0x01)) return;
    int key = sectionKeyOf(section.bytes);
    if (r.pid == 0 && key == kPatSectionKey) {
      takePat(r.multiplex, section);
    } else if (key == kPmtSectionKey && containsPid(r.multiplex.pmtPids, r.pid)) {
      takePmt(r.multiplex, r.pid, section, r.follow, r.at, r.events);
    }
  };
  int failed = gatherSections(*assembler, packet, counter, take, &reading);
  for (int k = 0; k < failed; ++k)
    emit(events, at, Event{.kind = EventKind::badSection, .pid = pid});
  // A program whose PMT has not come is told apart from one whose PMT fails its CRC_32.
  if (failed > 0 && pid != 0) {
    for (Program& program : multiplex.programs) {
      if (program.pmtPid == pid && program.service == nullptr) program.badPmt = true;
    }
  }
}

void startOnPcr(Multiplex& multiplex, int pid, std::int64_t pcr) {
  for (Program& program : multiplex.programs) {
    Service* service = program.service.get();
    if (service == nullptr || service->started || !containsPid(service->pids.pcr, pid)) continue;
    // The first PCR lands at one hour; truncating division, as the offset is in 90 kHz.
    start(*service, (pcr - kPcrOrigin) / 300);
  }
  erasePid(multiplex.waitingPcr, pid);
  multiplex.pids.attention[pid] &= ~kPcrWaited;
}

Attended attend(Multiplex& multiplex, const std::uint8_t* packet, int pid, int counter,
                const PacketPlace& at, const EventSink& events) {
  std::uint8_t attention = multiplex.pids.attention[pid];
  if (attention & kReadTables) {
    // The tables of a whole transport stream are read as they come and stop nothing; the one
    // service's PMT is checked.
    if (!multiplex.oneService) {
      readTables(multiplex, packet, pid, counter, multiplex.followPmts, at, events);
    } else if (Refusal refusal =
                   followOnePmt(multiplex, *multiplex.programs.front().service, packet, at, events);
               refusal != Refusal::none) {
      return Attended{nullptr, refusal};
    }
  }
  Service* service = multiplex.pids.service[pid];
  if (service == nullptr) return Attended{nullptr};
  if ((attention & kPcrWaited) && carriesPcr(packet)) startOnPcr(multiplex, pid, readPcr(packet));
  if (!service->ready) {
    if (!takeUnready(*service, packet)) return Attended{nullptr};
    if (service->ready) markReadiness(multiplex, *service);
  }
  return Attended{service};
}

void startOnPts(Service& service, std::int64_t pts) { start(service, pts - kOneHour); }

bool takeUnready(Service& service, const std::uint8_t* packet) {
  if (!service.anchorSeen) noteAnchorPacket(service, packet);
  if (service.countersOnly) return false;
  if (!service.started) {
    // Without PCR the service starts at its anchor's first PES with a PTS; until a service has
    // started, nothing of it is rebased.
    int pid = packetPid(packet);
    if (!withoutPcr(service) || pid != service.pids.anchor || !payloadUnitStart(packet) ||
        !clearPayload(packet)) {
      return false;
    }
    TimedPes pes = timedPesStart(service.pids, packet);
    if (pes.offset < 0) return false;
    startOnPts(service, readPesTimestamp(packet + kPtsField + pes.offset));
  }
  service.ready = service.anchorSeen;
  return true;
}

void noteAnchorPacket(Service& service, const std::uint8_t* packet) {
  if (packetPid(packet) != service.pids.anchor || !hasPayload(packet)) return;
  service.anchorSeen = true;
  if (scrambled(packet)) service.countersOnly = true;
}

Refusal surveyMultiplex(Multiplex& multiplex, Framing framing, const std::uint8_t* block,
                        std::int32_t blockBytes) {
  auto survey = [&](const std::uint8_t* packet) {
    if (transportError(packet)) return true;
    int pid = packetPid(packet);
    Service* owner = meetPacket(multiplex, packet, pid);
    if (owner == nullptr) return true;
    Service& service = *owner;
    if (!service.anchorSeen) noteAnchorPacket(service, packet);
    if (service.firstAnchorPts < 0 && pid == service.pids.anchor && payloadUnitStart(packet) &&
        clearPayload(packet)) {
      TimedPes pes = timedPesStart(service.pids, packet);
      if (pes.offset >= 0)
        service.firstAnchorPts = readPesTimestamp(packet + kPtsField + pes.offset);
    }
    return true;
  };
  PacketWalker walker{framing};
  walkPackets(walker, WalkView<const std::uint8_t>{block, 0, blockBytes, blockBytes, true}, survey,
              [](std::int64_t, std::int64_t, NotPackets) {});

  bool anyService = false;
  multiplex.waitingPcr = PidList{};
  for (Program& program : multiplex.programs) {
    Service* service = program.service.get();
    if (service == nullptr) continue;
    anyService = true;
    // Its PCR did not come in the first block, or it has none: its anchor's first PTS counts.
    if (!service->started && service->firstAnchorPts >= 0) {
      startOnPts(*service, service->firstAnchorPts);
    }
    waitForPcr(multiplex, *service);
  }
  settleOwners(multiplex);
  // The pass reads the tables again from the source's start.
  for (std::unique_ptr<SectionAssembler>& assembler : multiplex.sections) {
    if (assembler != nullptr) resetSections(*assembler);
  }
  if (anyService) return Refusal::none;
  if (multiplex.patSeen && multiplex.programs.empty()) return Refusal::noService;
  bool badPmts = std::any_of(multiplex.programs.begin(), multiplex.programs.end(),
                             [](const Program& program) { return program.badPmt; });
  return badPmts ? Refusal::badPmtSections : Refusal::noSecondPcr;
}

}  // namespace corvane
