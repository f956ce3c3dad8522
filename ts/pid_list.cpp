#include "ts/pid_list.h"

#include <bit>

namespace corvane {

std::int32_t countPids(const PidList& list) {
  std::int32_t count = 0;
  for (std::uint64_t word : list.bits) count += std::popcount(word);
  return count;
}

int nextPid(const PidList& list, int after) {
  int pid = after < 0 ? 0 : after + 1;
  if (pid >= kPidCount) return -1;
  int word = pid >> 6;
  // The bits of the first word below `pid` are cleared, so that the lowest bit left is the answer.
  std::uint64_t bits = list.bits[word] & (~std::uint64_t{0} << (pid & 63));
  while (bits == 0) {
    if (++word == kPidCount / 64) return -1;
    bits = list.bits[word];
  }
  return word * 64 + std::countr_zero(bits);
}

std::int32_t pidAt(const PidList& list, std::int32_t position) {
  if (position < 0) return 0;
  int pid = nextPid(list, -1);
  for (; pid >= 0 && position > 0; --position) pid = nextPid(list, pid);
  return pid >= 0 ? pid : 0;
}

PidList pidsNotIn(const PidList& list, const PidList& other) {
  PidList left;
  for (int word = 0; word < kPidCount / 64; ++word) {
    left.bits[word] = list.bits[word] & ~other.bits[word];
  }
  return left;
}

}  // namespace corvane
