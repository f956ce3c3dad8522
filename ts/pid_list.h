// Sets of PIDs.
#pragma once

#include <cstdint>

#include "ts/packet.h"

namespace corvane {

// An ascending set of distinct PIDs: one bit for each of the 8,192 PID values. It needs no memory
// of its own, so adding a PID cannot fail, and a lookup on the packet path is one bit test.
struct PidList {
  std::uint64_t bits[kPidCount / 64] = {};

  friend bool operator==(const PidList&, const PidList&) = default;
};

// Adds `pid` (0 to 8,191); a present PID is not added again.
inline void insertPid(PidList& list, int pid) {
  if (pid >= 0 && pid < kPidCount) list.bits[pid >> 6] |= std::uint64_t{1} << (pid & 63);
}
inline void erasePid(PidList& list, int pid) {
  if (pid >= 0 && pid < kPidCount) list.bits[pid >> 6] &= ~(std::uint64_t{1} << (pid & 63));
}
inline bool containsPid(const PidList& list, int pid) {
  return pid >= 0 && pid < kPidCount && (list.bits[pid >> 6] >> (pid & 63) & 1);
}
std::int32_t countPids(const PidList& list);
// The smallest PID of the list above `after`, or -1 when there is none: the list in ascending
// order is nextPid(list, -1), then nextPid of that, until -1.
int nextPid(const PidList& list, int after);
// PID at a 0-based position in ascending order; 0 at or past the end and for a negative position.
std::int32_t pidAt(const PidList& list, std::int32_t position);
// The PIDs of `list` that `other` does not hold.
PidList pidsNotIn(const PidList& list, const PidList& other);

}  // namespace corvane
