// Moving PCR, PTS and DTS of one packet onto the output timeline, in place in the buffer.
#pragma once

#include <cstdint>

#include "stream/stream_context.h"

namespace corvane {

constexpr std::int64_t kJumpLimit = 900000;   // 10 s in 90 kHz ticks; a larger step is a jump
constexpr std::int64_t kJointGap = 9009;      // three frame periods of 3,003 ticks
constexpr std::int64_t kCaptionLead = 45000;  // 0.5 s added to every caption PTS

// PCR rebasing: source PCR - 300 x ptsOffset, with the fallback on prevPtsOffset when the result
// would pass what the field can carry. The packet must carry a PCR.
void rebasePcr(StreamContext& context, std::uint8_t* packet);

// True when the packet starts a PES of a video, audio or caption PID and that PES carries a PTS
// whose field (and the DTS, when flagged) lies inside the packet. `pesOffset` receives where the
// PES header starts behind the 4-byte packet header, which the handlers below take.
bool isTimedPesStart(const StreamContext& context, const std::uint8_t* packet, int* pesOffset);

// A PES with PTS and DTS: jump test, joint or wrap, both rewrites and the V-GOP log line.
void rebaseGopPes(StreamContext& context, std::uint8_t* packet, int pesOffset);

// Rewrites the PTS of a PES (offset rule, or the caption rule for captions) and logs it.
void rebasePts(StreamContext& context, std::uint8_t* packet, int pesOffset);

// Rewrites the DTS of a PES (offset rule).
void rebaseDts(const StreamContext& context, std::uint8_t* packet, int pesOffset);

}  // namespace corvane
