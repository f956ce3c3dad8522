// The per-run stream record and its PID lists.
#pragma once

#include <cstdint>

#include "stream/run_state.h"

namespace corvane {

// An ascending set of distinct PIDs, kept as a singly linked list. A list is reached through a
// head node of the same shape as its elements, so insertion can treat the head and an element
// alike as the predecessor whose link changes. The head's pid holds nothing.
struct PidList {
  std::int32_t pid = 0;
  PidList* link = nullptr;
};

// One packet block: 12,288 packets of 188 bytes.
constexpr std::int32_t kBlockSize = 2310144;

// The rewrite pass reads and writes at most this many bytes per call, a power of two, at file
// offsets that are multiples of the amount moved: the system copies between its file cache and
// the program fastest in such pieces, and no size that holds whole packets is one (188 = 4 x 47).
constexpr std::int32_t kIoSize = 256 << 10;

// The packet buffer: one block, then room for the part of a read that runs past the block's end,
// with the zeros behind a partial packet there.
constexpr std::int32_t kBufferSize = kBlockSize + kIoSize + 4096;

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
  std::uint8_t* buffer = nullptr;        // kBufferSize bytes, page-aligned
  PidList pcrPids;
  PidList pmtPids;
  PidList videoPids;
  PidList audioPids;
  PidList captionPids;
  bool gopFlag = false;         // survey: the stream may begin; rewrite: a GOP handler is at work
  std::int64_t gopCount = 0;    // PES headers with a DTS met by the rewrite pass
  std::int64_t lastRefPts = 0;  // 90 kHz; rewritten PTS of the last PES with a DTS
  std::int32_t pesOffset = 0;   // PES header start behind the 4-byte packet header
  std::int32_t* ccTable = nullptr;  // continuity counter per PID, kPidCount entries
  RunState run;                     // settings, time log and the rest of the run's state
};

// Adds `pid`, keeping the list ascending; a present PID is not added again. False only when no
// memory can be had for a node, after the allocation message.
bool insertPid(PidList& list, std::int32_t pid);
bool containsPid(const PidList& list, std::int32_t pid);
std::int32_t countPids(const PidList& list);
// PID at a 0-based position; 0 at or past the end and for a negative position.
std::int32_t pidAt(const PidList& list, std::int32_t position);
// Frees the nodes of one list, from its front, leaving it empty.
void freePidList(PidList& list);
// Empties the five lists of the context: PCR, PMT, video, audio, caption.
void freePidLists(StreamContext& context);

}  // namespace corvane
