#include "ts/continuity.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace corvane {

namespace {

// discontinuity_indicator: the PID's counter starts afresh here.
bool flagsDiscontinuity(const std::uint8_t* packet) {
  return hasAdaptationField(packet) && packet[4] >= 1 && (packet[5] & 0x80);
}

}  // namespace

CountersPointer makeContinuityCounters() {
  CountersPointer counters(
      static_cast<ContinuityCounters*>(std::calloc(1, sizeof(ContinuityCounters))), std::free);
  if (counters != nullptr) {
    std::fill(std::begin(counters->expected), std::end(counters->expected),
              ContinuityCounters::kNotSeen);
  }
  return counters;
}

bool renumberOutOfOrder(ContinuityCounters& counters, std::uint8_t* packet, int pid) {
  unsigned expected = counters.expected[pid];
  bool seen = (expected & ContinuityCounters::kNotSeen) == 0;
  int nextCounter = static_cast<int>(expected & 0x0F);
  int lastOutput = seen ? (nextCounter - 1 + (counters.shift[pid] >> 8)) & 0x0F : -1;
  int counter = continuityCounter(packet);
  bool payload = hasPayload(packet);
  int output = payload ? (lastOutput + 1) & 0x0F : std::max(lastOutput, 0);

  PidCounts& counts = counters.counts[pid];
  ++counters.packets[pid];
  if (scrambled(packet)) ++counts.scrambled;
  // Whether the packet's counter is the one that the PID's next packet follows.
  bool follows = true;
  bool duplicate = false;
  bool dropped = false;
  if (!seen || pid == kNullPid || flagsDiscontinuity(packet)) {
  } else if (transportError(packet) || !payload) {
    follows = false;
  } else if (counter == ((nextCounter - 1) & 0x0F) &&
             (expected & ContinuityCounters::kDuplicated) == 0) {
    duplicate = true;
  } else {
    dropped = counter != nextCounter;
  }
  if (follows) {
    counters.expected[pid] = static_cast<std::uint16_t>(
        kCounterTables.next[counter] | (duplicate ? ContinuityCounters::kDuplicated : 0));
    counters.shift[pid] = static_cast<std::uint16_t>(((output - counter) & 0x0F) << 8);
  } else {
    counters.shift[pid] = static_cast<std::uint16_t>(((output - (nextCounter - 1)) & 0x0F) << 8);
  }
  setContinuityCounter(packet, output);
  if (dropped) ++counts.drops;
  return dropped;
}

}  // namespace corvane
