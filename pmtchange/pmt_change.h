// Following PMT changes during the rewrite pass: the PID lists are re-read from every PMT
// section, and changed, added and removed PIDs are reported in the time log.
#pragma once

#include <cstdint>

#include "stream/stream_context.h"

namespace corvane {

// Re-reads the PMT section in the packet into fresh PCR, video, audio and caption lists and,
// while the time log is open, writes a line for each PID that changed, came or went. False when
// the section fails the reader's checks (the reader has printed its message).
bool trackPmtChange(StreamContext& context, const std::uint8_t* packet);

// True when the lists do not hold the same PIDs.
bool pidListsDiffer(const PidList& oldList, const PidList& newList);

struct PidPairing {
  std::int32_t oldPid;  // first old PID left to report, 0 when none
  std::int32_t newPid;  // first new PID left to report, 0 when none
  bool any;             // false when nothing is left to report
};

// Pairs the PIDs of two lists that are not in both, in ascending order, in the run's pair table,
// and places its two cursors on the first pair.
PidPairing pairPidLists(PidPairTable& table, const PidList& oldList, const PidList& newList);

}  // namespace corvane
