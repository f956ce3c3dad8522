// A whole transport stream: every program of its PAT is a service of its own, repaired on its own
// clock by the same rules as a one-service recording. The tables make the services; the owner
// table says which service repairs each PID.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "service/events.h"
#include "service/service.h"
#include "service/survey.h"
#include "ts/packet.h"
#include "ts/packet_walker.h"
#include "ts/timestamp.h"

namespace corvane {

// Programs beyond this many are passed through with their counters.
constexpr int kMaxServices = 256;

struct Program {
  int number = 0;  // program_number
  int pmtPid = 0;
  std::unique_ptr<Service> service;  // made when its PMT is first seen
};

struct Multiplex {
  Multiplex();

  std::vector<Program> programs;  // in the order the PATs list them; room for kMaxServices
  PidList pmtPids;                // the PMT PID of every program
  PidList newPmtPids;             // the PMT PIDs of programs whose PMT has not come yet
  PidList waitingPcr;             // the PCR PIDs of services not started yet
  bool waiting = false;           // waitingPcr holds a PID
  bool patSeen = false;
  std::uint64_t lastPat = 0;  // section_length and CRC_32 of the last PAT section read
  // The service that repairs each PID: that of the first program that lists the PID. Tables
  // (PIDs below 0x0010), PMT PIDs and null packets have none.
  Service* owner[kPidCount];
};

// A PAT section: programs it names that are new are added.
void takePat(Multiplex& multiplex, const std::uint8_t* packet);

// A PMT section on a PMT PID. The first of a program makes its service; with `follow` the later
// ones are followed as PMT changes, reported to `events`.
void takePmt(Multiplex& multiplex, const std::uint8_t* packet, bool follow, EventSink& events);

// A packet that starts a PAT section or a PMT section on a PMT PID goes to takePat or takePmt.
// Nothing is read from a scrambled packet.
void takeTables(Multiplex& multiplex, const std::uint8_t* packet, bool follow, EventSink& events);

// A PCR on a PID that services wait for starts them: it lands at one hour.
void startOnPcr(Multiplex& multiplex, int pid, std::int64_t pcr);

// Meets a packet of the multiplex, as the survey and the pass do: a PID that no service repairs
// may carry tables, which are taken; a PCR that services wait for starts them. The service that
// repairs the packet's PID, or none.
inline Service* meetPacket(Multiplex& multiplex, const std::uint8_t* packet, int pid, bool follow,
                           EventSink& events) {
  Service* service = multiplex.owner[pid];
  if (service == nullptr) {
    if (payloadUnitStart(packet)) takeTables(multiplex, packet, follow, events);
  } else if (multiplex.waiting && containsPid(multiplex.waitingPcr, pid) && carriesPcr(packet)) {
    startOnPcr(multiplex, pid, readPcr(packet));
  }
  return service;
}

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
