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

// How the video stream is coded, from its stream_type in the PMT: 0x02, 0x1B or 0x24. It decides
// what the survey takes for the start of a GOP and which video PES the jump test measures.
enum class VideoCoding : std::uint8_t { mpeg2, h264, hevc };

// The last decode-time steps between consecutive video PES of an H.264 or HEVC stream, in a ring:
// the one seen most often is the stream's frame period, by which a joint spaces the stretches.
constexpr int kFrameStepWindow = 32;
struct FrameSteps {
  std::int32_t steps[kFrameStepWindow] = {};  // 90 kHz
  std::int32_t count = 0;                     // steps held, up to the window
  std::int32_t next = 0;                      // where the next step goes
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
  // 90 kHz; the source time of the last PES in the jump test: for MPEG-2 video the PTS of the last
  // PES with a DTS, for H.264 and HEVC the decode time of the last video PES
  std::int64_t gopPts = 0;
  PidList pcrPids;
  PidList pmtPids;
  PidList videoPids;
  PidList audioPids;
  PidList captionPids;
  VideoCoding videoCoding = VideoCoding::mpeg2;  // as the last PMT read gave it
  // The survey found the video PES header that the stream may begin at (MPEG-2: one with PTS and
  // DTS; H.264 and HEVC: a random access point), or nogop is on and any start will do.
  bool gopStartFound = false;
  std::int64_t gopCount = 0;        // PES in the jump test met by the rewrite pass
  std::int64_t lastRefPts = 0;      // 90 kHz; rewritten PTS of the last PES with a DTS
  std::int64_t lastDecodeTime = 0;  // 90 kHz; rewritten decode time of the last PES in the test
  FrameSteps frameSteps;            // H.264 and HEVC: the stream's recent decode-time steps
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
