// The demultiplexer's table, one entry per PID: the service that repairs the PID's streams, and
// whether its packets need attention before the rules do. Most packets need none, so that their
// way through the rules is one test of a byte.
#pragma once

#include <cstdint>

#include "ts/packet.h"

namespace corvane {

struct Service;

// Why a PID's packets are looked at before the rules.
enum PidAttention : std::uint8_t {
  kReadTables = 1,  // PAT or PMT sections are read from it
  kNotReady = 2,    // the service that repairs it has not started, or waits for its anchor
  kPcrWaited = 4,   // services wait for a PCR on it to start
};

struct PidTable {
  Service* service[kPidCount] = {};        // the service that repairs the PID, or none
  std::uint8_t attention[kPidCount] = {};  // PidAttention bits
};

}  // namespace corvane
