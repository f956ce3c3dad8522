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

// PIDs that a service's stream may be: not a table, not a PMT, not null packets.
bool streamPid(const Multiplex& multiplex, int pid) {
  return pid >= 0x0010 && pid != kNullPid && !containsPid(multiplex.pmtPids, pid);
}

void claim(Multiplex& multiplex, const PidList& list, Service* service) {
  for (int pid = nextPid(list, -1); pid >= 0; pid = nextPid(list, pid)) {
    if (multiplex.owner[pid] == nullptr && streamPid(multiplex, pid)) {
      multiplex.owner[pid] = service;
    }
  }
}

// The service's anchor among the PIDs it repairs: its first video stream, or without one its
// first audio stream, with the coding its PMT gave the video.
void settleOwnAnchor(const Multiplex& multiplex, Service& service) {
  ProgramPids& pids = service.pids;
  auto firstOwned = [&](const PidList& list) {
    int pid = nextPid(list, -1);
    while (pid >= 0 && multiplex.owner[pid] != &service) pid = nextPid(list, pid);
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
    StreamCoding coding = listing.streams[i].coding;
    pids.videoCoding = coding == StreamCoding::h264   ? VideoCoding::h264
                       : coding == StreamCoding::hevc ? VideoCoding::hevc
                                                      : VideoCoding::mpeg2;
  }
}

// Each PID goes to the first program, in the PATs' order, that lists it.
void settleOwners(Multiplex& multiplex) {
  std::fill(std::begin(multiplex.owner), std::end(multiplex.owner), nullptr);
  for (const Program& program : multiplex.programs) {
    Service* service = program.service.get();
    if (service == nullptr) continue;
    const ProgramPids& pids = service->pids;
    for (const PidList* list :
         {&pids.pcr, &pids.video, &pids.audio, &pids.captions, &pids.others}) {
      claim(multiplex, *list, service);
    }
  }
  for (const Program& program : multiplex.programs) {
    if (Service* service = program.service.get()) settleOwnAnchor(multiplex, *service);
  }
}

void waitForPcr(Multiplex& multiplex, const Service& service) {
  if (!service.started && !withoutPcr(service)) {
    insertPid(multiplex.waitingPcr, nextPid(service.pids.pcr, -1));
    multiplex.waiting = true;
  }
}

void start(Service& service, std::int64_t ptsOffset) {
  service.timeline.ptsOffset = ptsOffset;
  service.timeline.prevPtsOffset = ptsOffset;
  service.started = true;
}

}  // namespace

Multiplex::Multiplex() {
  programs.reserve(kMaxServices);
  std::fill(std::begin(owner), std::end(owner), nullptr);
}

void takePat(Multiplex& multiplex, const std::uint8_t* packet) {
  multiplex.patSeen = true;
  // A PAT repeats every tenth of a second; one whose length and CRC_32 are those of the last
  // one read has nothing new.
  int length = sectionLength(packet);
  if (length >= 4 && 7 + length < kPacketSize) {
    const std::uint8_t* crc = packet + 4 + length;
    std::uint64_t key = std::uint64_t(length) << 32 | std::uint64_t(crc[0]) << 24 |
                        std::uint64_t(crc[1]) << 16 | std::uint64_t(crc[2]) << 8 | crc[3];
    if (key == multiplex.lastPat) return;
    multiplex.lastPat = key;
  }
  bool added = false;
  forEachPatProgram(packet, [&](int number, int pmtPid) {
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

void takePmt(Multiplex& multiplex, const std::uint8_t* packet, bool follow, EventSink& events) {
  int pid = packetPid(packet);
  if (!follow && !containsPid(multiplex.newPmtPids, pid)) return;
  int number = pmtProgramNumber(packet);
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
    readPmt(packet, service.pids, PmtStreams::anyStream, &service.listing);
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
  events.program = static_cast<std::uint16_t>(number);
  trackPmtChange(service.pids, packet, events, PmtStreams::anyStream, &service.listing);
  if (service.pids == before) return;
  waitForPcr(multiplex, service);
  settleOwners(multiplex);
}

void takeTables(Multiplex& multiplex, const std::uint8_t* packet, bool follow, EventSink& events) {
  if (!payloadUnitStart(packet) || scrambled(packet)) return;
  int pid = packetPid(packet);
  int key = sectionKey(packet);
  if (pid == 0 && key == kPatSectionKey) {
    takePat(multiplex, packet);
  } else if (key == kPmtSectionKey && containsPid(multiplex.pmtPids, pid)) {
    takePmt(multiplex, packet, follow, events);
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
  multiplex.waiting = multiplex.waitingPcr != PidList{};
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
  EventSink none{dropEvent};
  auto survey = [&](const std::uint8_t* packet) {
    if (transportError(packet)) return true;
    int pid = packetPid(packet);
    Service* owner = meetPacket(multiplex, packet, pid, false, none);
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
  multiplex.waiting = false;
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
  if (anyService) return Refusal::none;
  return multiplex.patSeen && multiplex.programs.empty() ? Refusal::noService
                                                         : Refusal::noSecondPcr;
}

}  // namespace corvane
