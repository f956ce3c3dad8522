// One service: its PIDs as the survey and its PMTs give them, and the timeline its timestamps are
// moved onto. The rules take the service they work for; the stream's continuity counters and
// the run's settings and outputs are kept apart from it.
#pragma once

#include <cstdint>

#include "ts/pid_list.h"
#include "ts/psi.h"

namespace corvane {

// One hour, where the first output PCR lands.
constexpr std::int64_t kPcrOrigin = 97200000000;     // 27 MHz
constexpr std::int64_t kOneHour = kPcrOrigin / 300;  // 90 kHz

// The last decode-time steps between consecutive video PES of an H.264 or HEVC stream, in a ring:
// the one seen most often is the stream's frame period, by which a joint spaces the stretches.
constexpr int kFrameStepWindow = 32;
struct FrameSteps {
  std::int32_t steps[kFrameStepWindow] = {};  // 90 kHz
  std::int32_t count = 0;                     // steps held, up to the window
  std::int32_t next = 0;                      // where the next step goes
};

// One clock of a service under clean joints: the PCR, or the PTS of one PES stream. Each is
// measured against its own last value, and moves onto a new stretch where it jumps.
struct StreamClock {
  std::int64_t last = -1;  // 90 kHz; -1 before its first value
  // The stretch of the service it is on. One ahead of the service's: it has jumped, and waits
  // for the stretch whose joint picture did not come within the look-ahead.
  std::int32_t stretch = 0;
};

// The offsets that one stretch's timestamps are rebased with.
struct StretchOffsets {
  std::int64_t ptsOffset = 0;
  std::int64_t prevPtsOffset = 0;  // the fallback of the offset rule
};

// The output timeline and what the jump test carries from one PES to the next. Timestamps are
// signed 64-bit tick counts of 90 kHz.
struct Timeline {
  std::int64_t ptsOffset = 0;      // subtracted from every PTS and DTS (x300 from PCRs)
  std::int64_t prevPtsOffset = 0;  // the offset before the last joint or wrap
  // The source time of the last PES in the jump test: for MPEG-2 video the PTS of the last PES
  // with a DTS, for H.264 and HEVC the decode time of the last video PES.
  std::int64_t jumpTestTime = 0;
  std::int64_t jumpTestCount = 0;   // PES in the jump test met so far
  std::int64_t lastRefPts = 0;      // rewritten PTS of the last PES with a DTS
  std::int64_t lastDecodeTime = 0;  // rewritten decode time of the last PES in the jump test
  FrameSteps frameSteps;            // H.264 and HEVC: the stream's recent decode-time steps
  // Caption PTS are counted from the first caption source PTS above one hour.
  std::int64_t captionBasePts = 0;
  bool captionBaseUnset = true;

  // Clean joints: every stream of a new stretch takes its offset from where it jumps, which may
  // be before the joint picture that decides it. The stretches opened so far, and the offsets of
  // the one before the last, which streams that have not jumped yet keep.
  std::int32_t stretch = 0;
  StretchOffsets left;
  StreamClock jumpTest;   // the stretch the jump test is on (its time is jumpTestTime)
  StreamClock pcrClock;   // the PCR, in 90 kHz
  bool unjoined = false;  // a stream jumped and its joint picture did not come: reported once
};

struct Service {
  PidList pmtPids;   // from the PAT
  ProgramPids pids;  // from the PMT, and in the survey from PES headers too
  Timeline timeline;
  // Its video has begun a picture that a recording may begin with (reported once).
  bool randomAccessSeen = false;

  // The program_number of its PMT, for the events and the report; -1 while none has been read.
  int programNumber = -1;
  // Its offset is set: from its first PCR, or for a service without PCR from its anchor's first
  // PTS. Nothing of it is rebased before. The one service that the survey admits has started,
  // has its anchor seen and is ready from the pass's start.
  bool started = false;
  // Its anchor is scrambled, or it has no stream: it gets its counters and nothing else.
  bool countersOnly = false;
  bool anchorSeen = false;           // its anchor's first packet with payload has been met
  bool ready = false;                // started, anchor seen and not left to its counters
  std::int64_t firstAnchorPts = -1;  // the survey's: its anchor's first PTS in the first block
  StreamListing listing;             // its streams as the last PMT read lists them
};

}  // namespace corvane
