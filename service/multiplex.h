// The services of a recording and the table that routes each PID's packets to them. A whole
// transport stream has every program of its PAT as a service of its own, repaired on its own
// clock by the same rules; a one-service recording has the one service that the survey admitted.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "service/events.h"
#include "service/pid_table.h"
#include "service/service.h"
#include "service/survey.h"
#include "ts/packet.h"
#include "ts/packet_walker.h"
#include "ts/section.h"
#include "ts/timestamp.h"

namespace corvane {

// Programs beyond this many are passed through with their counters.
constexpr int kMaxServices = 256;

struct Program {
  int number = 0;  // program_number
  int pmtPid = 0;
  std::unique_ptr<Service> service;  // made when its PMT is first seen
  // A section on its PMT PID failed its CRC_32 before its PMT came.
  bool badPmt = false;
};

struct Multiplex {
  Multiplex();

  // The one service that the survey admitted: its PMTs are checked as the survey checks them,
  // one that fails stops the pass, and every PID it lists is its own. Otherwise every program of
  // the PAT is a service, and tables (PIDs below 0x0010), PMT PIDs and null packets are none's.
  bool oneService = false;
  // PMTs are re-read during the pass, and their changes followed (-pmtcheck on).
  bool followPmts = false;
  // Every stream of a new stretch takes its offset where it jumps (-joints clean).
  bool cleanJoints = false;
  std::vector<Program> programs;  // in the order the PATs list them; room for kMaxServices
  PidList pmtPids;                // the PMT PID of every program
  PidList newPmtPids;             // the PMT PIDs of programs whose PMT has not come yet
  PidList waitingPcr;             // the PCR PIDs of services not started yet
  bool patSeen = false;
  std::uint64_t lastPat = 0;  // section_length and CRC_32 of the last PAT section read
  // Each PID goes to the first program that lists it.
  PidTable pids;
  // Under clean joints, the clock of each PID's PES stream.
  StreamClock clocks[kPidCount];
  // The sections gathered on each PID that carries a PAT or PMTs of a whole transport stream.
  std::unique_ptr<SectionAssembler> sections[kPidCount];
};

// Makes `service`, which the survey admitted, the multiplex's one service.
void adoptService(Multiplex& multiplex, const Service& service, bool followPmts);

// A whole PAT section, its CRC_32 included: programs it names that are new are added.
void takePat(Multiplex& multiplex, Section section);

// A whole PMT section on the PMT PID `pid`, its CRC_32 included. The first of a program makes
// its service; with `follow` the later ones are followed as PMT changes, reported to `events`.
void takePmt(Multiplex& multiplex, int pid, Section section, bool follow, const PacketPlace& at,
             const EventSink& events);

// A packet of the PAT's PID or a PMT PID of a whole transport stream, whose continuity_counter in
// the source is `counter`: the PAT and PMT sections it completes go to takePat and takePmt once
// their CRC_32 holds, and each section that fails it, or is cut short, is reported. Nothing is
// read from a scrambled packet.
void readTables(Multiplex& multiplex, const std::uint8_t* packet, int pid, int counter, bool follow,
                const PacketPlace& at, const EventSink& events);

// A PCR on a PID that services wait for starts them: it lands at one hour.
void startOnPcr(Multiplex& multiplex, int pid, std::int64_t pcr);

// Meets a packet of the multiplex in the survey: a PID that no service repairs may carry tables,
// which are taken; a PCR that services wait for starts them. The service that repairs the
// packet's PID, or none.
inline Service* meetPacket(Multiplex& multiplex, const std::uint8_t* packet, int pid) {
  Service* service = multiplex.pids.service[pid];
  if (service == nullptr) {
    if (multiplex.pids.attention[pid] & kReadTables) {
      readTables(multiplex, packet, pid, continuityCounter(packet), false, {},
                 EventSink{dropEvent});
    }
  } else if ((multiplex.pids.attention[pid] & kPcrWaited) && carriesPcr(packet)) {
    startOnPcr(multiplex, pid, readPcr(packet));
  }
  return service;
}

// What the pass does with a packet whose PID needs attention (PidTable), before the rules: its
// tables are read (`counter` is its continuity_counter in the source), a PCR that services wait
// for starts them, and a service that is not ready takes the packet as takeUnready says. The
// service whose rules are to see the packet, or none; or the refusal of the one service's PMT
// when it fails its checks.
struct Attended {
  Service* service;
  Refusal stop = Refusal::none;
};
Attended attend(Multiplex& multiplex, const std::uint8_t* packet, int pid, int counter,
                const PacketPlace& at, const EventSink& events);

// Starts a service without PCR at its anchor's PTS, which lands at one hour.
void startOnPts(Service& service, std::int64_t pts);

// True for a service without PCR: its PCR_PID is the null PID.
inline bool withoutPcr(const Service& service) { return containsPid(service.pids.pcr, kNullPid); }

// The first packet with payload of the service's anchor: when it is scrambled, the service's
// timestamps cannot be reached, and it gets its counters only.
void noteAnchorPacket(Service& service, const std::uint8_t* packet);

// A packet of a service that is not ready yet: its anchor's first packet is noted, and a service
// without PCR starts at its anchor's first PES with a PTS. True when the service's rules are to
// see the packet; the service is ready once it has started and its anchor has been seen.
bool takeUnready(Service& service, const std::uint8_t* packet);

// Surveys the packets of the first block, framed as `framing`: its programs, each service's first
// PCR (or without one its anchor's first PTS) and whether its anchor is scrambled. Refused only
// when no program can be found.
Refusal surveyMultiplex(Multiplex& multiplex, Framing framing, const std::uint8_t* block,
                        std::int32_t blockBytes);

}  // namespace corvane
