// What the outputs that tell of a run (the report, the drop log, the picture) say alike of its
// services: the coding of each stream, whose each PID is, and the counts of each service.
#pragma once

#include <cstdint>
#include <vector>

#include "service/events.h"
#include "service/multiplex.h"
#include "ts/continuity.h"

namespace corvane {

// The coding of a PID of the service: as its last PMT listed it, or for the one service as the
// one-service reader takes its streams.
StreamCoding codingOf(const Service& service, int pid, StreamRole role);

// Whose a PID of the source is, and what it carries.
struct PidOwner {
  int program;       // 0 for none
  const char* kind;  // video, audio, caption, other or table
};
PidOwner ownerOf(const Multiplex& multiplex, int pid);

// Calls visit(pid, owner) for each PID that the source held, in ascending order.
template <typename Visit>
void eachSeenPid(const Multiplex& multiplex, const ContinuityCounters& counters, Visit visit) {
  for (int pid = 0; pid < kPidCount; ++pid) {
    if (counters.packets[pid] > 0) visit(pid, ownerOf(multiplex, pid));
  }
}

// The counts of each program of the multiplex, in its order, and of the whole source.
struct CountSums {
  std::vector<PidCounts> programs;
  std::vector<std::int64_t> programPackets;
  PidCounts all;
  std::int64_t allPackets = 0;
};
CountSums sumCounts(const Multiplex& multiplex, const ContinuityCounters& counters);

}  // namespace corvane
