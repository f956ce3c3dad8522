// The per-run stream record and its PID lists.
#pragma once

#include <cstdint>

#include "stream/packet.h"
#include "stream/run_state.h"

namespace corvane {

// An ascending set of distinct PIDs: one bit for each of the 8,192 PID values. It needs no memory
// of its own, so adding a PID cannot fail, and a lookup on the packet path is one bit test.
struct PidList {
  std::uint64_t bits[kPidCount / 64] = {};

  friend bool operator==(const PidList&, const PidList&) = default;
};

// Everything the survey learns about the source and the rewrite pass carries from one packet to
// the next. Timestamps are signed 64-bit tick counts: 90 kHz for PTS, DTS and offsets, 27 MHz for
// PCR values.
struct StreamContext {
  std::int64_t ptsOffset = 0;      // 90 kHz; subtracted from every PTS and DTS (x300 from PCRs)
  std::int64_t prevPtsOffset = 0;  // 90 kHz; the offset before the last joint or wrap
  std::int64_t pcrOrigin = 97200000000;  // 27 MHz; one hour, where the first output PCR lands
  std::int64_t srcPcr = 0;               // 27 MHz; last source PCR rebased
  std::int64_t outPcr = 0;               // 27 MHz; last PCR written
  std::int64_t gopPts = 0;               // 90 kHz; source PTS of the last PES with a DTS
  PidList pcrPids;
  PidList pmtPids;
  PidList videoPids;
  PidList audioPids;
  PidList captionPids;
  // The survey found the video PES header (with PTS and DTS) that the stream may begin at, or
  // nogop is on and any start will do.
  bool gopStartFound = false;
  std::int64_t gopCount = 0;        // PES headers with a DTS met by the rewrite pass
  std::int64_t lastRefPts = 0;      // 90 kHz; rewritten PTS of the last PES with a DTS
  std::int32_t* ccTable = nullptr;  // continuity counter per PID, kPidCount entries
  RunState run;                     // settings, time log and the rest of the run's state
};

// Adds `pid` (0 to 8,191); a present PID is not added again.
inline void insertPid(PidList& list, int pid) {
  if (pid >= 0 && pid < kPidCount) list.bits[pid >> 6] |= std::uint64_t{1} << (pid & 63);
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

}  // namespace corvane
