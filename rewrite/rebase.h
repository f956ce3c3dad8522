// Moving PCR, PTS and DTS of one packet onto the output timeline, in place in the buffer.
#pragma once

#include <cstdint>

#include "stream/packet.h"
#include "stream/stream_context.h"

namespace corvane {

constexpr std::int64_t kJumpLimit = 900000;  // 10 s in 90 kHz ticks; a larger step is a jump
constexpr std::int64_t kJointGap = 9009;     // MPEG-2: three frame periods of 3,003 ticks
// H.264 and HEVC: the frame period until the stream has shown its own (29.97 frames per second)
constexpr std::int64_t kDefaultFramePeriod = 3003;
constexpr std::int64_t kCaptionLead = 45000;  // 0.5 s added to every caption PTS

// PCR rebasing: source PCR - 300 x ptsOffset, with the fallback on prevPtsOffset when the result
// would pass what the field can carry. The packet must carry a PCR.
void rebasePcr(StreamContext& context, std::uint8_t* packet);

// True when the packet starts a PES of a video, audio or caption PID and that PES carries a PTS
// whose field (and the DTS, when flagged) lies inside the packet. `pesOffset` receives where the
// PES header starts behind the 4-byte packet header, which the handlers below take.
bool isTimedPesStart(const StreamContext& context, const std::uint8_t* packet, int* pesOffset);

// True when the PES takes part in the jump test: with MPEG-2 video every PES that carries a DTS,
// whatever its stream; with H.264 and HEVC every PES of the video stream.
inline bool inJumpTest(const StreamContext& context, const std::uint8_t* packet, int pesOffset) {
  return context.videoCoding == VideoCoding::mpeg2
             ? pesHasDts(packet, pesOffset)
             : containsPid(context.videoPids, packetPid(packet));
}

// A PES in the jump test: jump test, joint or wrap, the PTS and DTS rewrites and the V-GOP log
// line.
void rebaseGopPes(StreamContext& context, std::uint8_t* packet, int pesOffset);

// Rewrites the PTS of a PES (offset rule, or the caption rule for captions) and logs it.
void rebasePts(StreamContext& context, std::uint8_t* packet, int pesOffset);

// Rewrites the DTS of a PES (offset rule); returns the new value before it is stored in 33 bits.
std::int64_t rebaseDts(const StreamContext& context, std::uint8_t* packet, int pesOffset);

}  // namespace corvane
