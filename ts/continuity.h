// The stream's continuity counters, renumbered per PID from the first packet on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "ts/packet.h"

namespace corvane {

struct ContinuityCounters {
  ContinuityCounters() { std::fill(std::begin(last), std::end(last), std::int8_t{-1}); }

  std::int8_t last[kPidCount];  // the counter each PID's last packet got; -1 for a PID not seen
};

// The counter after `counter`: 0 follows 15, and a PID not seen yet (-1) begins at 0.
inline std::int8_t nextContinuityCounter(std::int8_t counter) {
  return counter >= 15 ? std::int8_t{0} : static_cast<std::int8_t>(counter + 1);
}

// Gives the packet its PID's next counter: a packet without payload repeats the PID's counter,
// and a PID's first packet gets 0. Returns the PID.
inline int renumber(ContinuityCounters& counters, std::uint8_t* packet) {
  int pid = packetPid(packet);
  std::int8_t& counter = counters.last[pid];
  if (hasPayload(packet)) {
    counter = nextContinuityCounter(counter);
  } else if (counter < 0) {
    counter = 0;
  }
  setContinuityCounter(packet, counter);
  return pid;
}

// A joint: the packet, renumbered already, skips one more value, which players and editors take
// for a discontinuity.
inline void skipOneCount(ContinuityCounters& counters, std::uint8_t* packet) {
  std::int8_t& counter = counters.last[packetPid(packet)];
  counter = nextContinuityCounter(counter);
  setContinuityCounter(packet, counter);
}

}  // namespace corvane
