// Moving PCR, PTS and DTS of one packet onto the output timeline, in place in the buffer.
// Each takes the context and the offset of the packet's first byte in context.buffer.
#pragma once

#include <cstdint>

#include "stream/stream_context.h"

namespace corvane {

constexpr std::int64_t kJumpLimit = 900000;   // 10 s in 90 kHz ticks; a larger step is a jump
constexpr std::int64_t kJointGap = 9009;      // three frame periods of 3,003 ticks
constexpr std::int64_t kCaptionLead = 45000;  // 0.5 s added to every caption PTS

// PCR rebasing: source PCR - 300 x ptsOffset, with the fallback on prevPtsOffset when the result
// would pass what the field can carry. The packet must carry a PCR.
void rebasePcr(StreamContext& context, std::int32_t packet);

// True when the packet starts a PES of a video, audio or caption PID and that PES carries a PTS
// whose fields (and DTS, when flagged) lie inside the packet. Sets pesOffset for a tracked PID.
bool isTimedPesStart(StreamContext& context, std::int32_t packet);

// A PES with PTS and DTS: jump test, joint or wrap, both rewrites and the V-GOP log line.
void rebaseGopPes(StreamContext& context, std::int32_t packet);

// Rewrites the PTS of the PES in the packet (offset rule, or the caption rule for captions).
void rebasePts(StreamContext& context, std::int32_t packet);

// Rewrites the DTS of the PES in the packet (offset rule).
void rebaseDts(StreamContext& context, std::int32_t packet);

}  // namespace corvane
