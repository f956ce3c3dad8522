// A service's timeline rules: PCR, PTS and DTS of one packet moved onto the service's output
// timeline, in place in the buffer, with joints and wraps of the jump test. Each rule reports
// what it did to the sink.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "service/events.h"
#include "service/service.h"
#include "ts/packet.h"
#include "ts/random_access.h"
#include "ts/timestamp.h"

namespace corvane {

constexpr std::int64_t kJumpLimit = 900000;  // 10 s in 90 kHz ticks; a larger step is a jump
constexpr std::int64_t kJointGap = 9009;     // MPEG-2: three frame periods of 3,003 ticks
// H.264 and HEVC: the frame period until the stream has shown its own (29.97 frames per second)
constexpr std::int64_t kDefaultFramePeriod = 3003;
constexpr std::int64_t kCaptionLead = 45000;  // 0.5 s added to every caption PTS

// The offsets in force for the service's newest stretch.
inline StretchOffsets currentOffsets(const Timeline& timeline) {
  return StretchOffsets{timeline.ptsOffset, timeline.prevPtsOffset};
}

// Clean joints: the offsets of the stretch a clock is on, the newest or the one before.
inline StretchOffsets offsetsOf(const Timeline& timeline, const StreamClock& clock) {
  return clock.stretch >= timeline.stretch ? currentOffsets(timeline) : timeline.left;
}

// A step of a clock (90 kHz) that begins a new stretch: more than kJumpLimit, and not the
// source clock's wrap at 2^33.
inline bool isJump(std::int64_t step) {
  return std::llabs(step) > kJumpLimit && step + kMaxPts > kJumpLimit;
}

// PCR rebasing: source PCR - 300 x ptsOffset, with the fallback on prevPtsOffset when the result
// would pass what the field can carry. The packet must carry a PCR.
void rebasePcr(const StretchOffsets& offsets, std::uint8_t* packet, const PacketPlace& at,
               const EventSink& events);

// A PES start that the rules rebase: where its header starts behind the 4-byte packet header, and
// the stream it belongs to (video before audio before captions, for a PID in several lists).
struct TimedPes {
  int offset = -1;  // -1: the packet starts no PES that the rules rebase
  StreamRole role = StreamRole::video;
};

// The PES start of a packet that starts a PES of a video, audio, caption or other timed PID, when
// that PES carries a PTS whose field (and the DTS, when flagged) lies inside the packet. The
// caller has made sure that the packet's payload is there and not scrambled (clearPayload).
TimedPes timedPesStart(const ProgramPids& pids, const std::uint8_t* packet);

// True when the PES takes part in the jump test: with MPEG-2 video every PES that carries a DTS,
// whatever its stream, but for video streams other than the anchor; with H.264 and HEVC video,
// and without video, every PES of the anchor.
inline bool inJumpTest(const ProgramPids& pids, const std::uint8_t* packet, int pesOffset) {
  int pid = packetPid(packet);
  return pids.videoCoding == VideoCoding::mpeg2
             ? pesHasDts(packet, pesOffset) && (pid == pids.anchor || !containsPid(pids.video, pid))
             : pid == pids.anchor;
}

// A video PES of the service's anchor before its first random-access picture: reports that
// picture when the PES begins it.
inline void noteRandomAccess(Service& service, const std::uint8_t* packet, TimedPes pes,
                             const PacketPlace& at, const EventSink& events) {
  if (!entersVideo(service.pids.videoCoding, packet, pes.offset)) return;
  service.randomAccessSeen = true;
  emit(events, at, Event{.kind = EventKind::randomAccess, .pid = packetPid(packet)});
}

// A PES in the jump test: the jump test, a joint or a wrap, and the PTS and DTS rewrites. True
// when it joined a new stretch: its packet's continuity counter is then to skip one value. Under
// clean joints, a stretch that a stream opened ahead of this picture is joined with the offset
// it was opened with.
bool rebaseJumpTestPes(Service& service, std::uint8_t* packet, TimedPes pes, bool clean,
                       const PacketPlace& at, const EventSink& events);

// A PES outside the jump test: its PTS (the offset rule with `offsets`; for captions, classic
// joints count them from their first caption instead, clean joints add their lead) and, when it
// carries one, its DTS (the offset rule).
void rebasePes(Service& service, std::uint8_t* packet, TimedPes pes, const StretchOffsets& offsets,
               bool clean, const PacketPlace& at, const EventSink& events);

// Clean joints. What the packets ahead say of a new stretch that a stream's jump would begin: its
// joint picture (the next PES of the service in the jump test) jumps too, and sets `ptsOffset`;
// or it does not, and the stream jumped alone; or it did not come within the look-ahead.
struct JointAhead {
  enum Verdict : std::uint8_t { joins, disagrees, notFound } verdict = notFound;
  std::int64_t ptsOffset = 0;
};

// The verdict of the service's next PES in the jump test, which starts in `packet`.
JointAhead jointAhead(const Service& service, const std::uint8_t* packet, TimedPes pes);

// A new stretch with the offset its joint picture gives: the streams that have not jumped yet
// keep the offsets in force so far.
void openStretch(Timeline& timeline, std::int64_t ptsOffset);

// Clean joints: a clock of the service, the PCR or a PES stream, met at `value` (90 kHz). Where it
// jumps by more than kJumpLimit (and did not wrap), it moves onto the stretch that is open
// ahead of it, or opens one when findJoint() finds its joint picture; when that does not come,
// it waits for the next stretch, which is reported once. The offsets to rebase it with: those of
// its stretch, or of the one before for a clock that has not jumped onto the newest yet.
template <typename FindJoint>
StretchOffsets stepClock(Timeline& timeline, StreamClock& clock, std::int64_t value,
                         FindJoint&& findJoint, const PacketPlace& at, const EventSink& events,
                         int pid) {
  bool jumped = clock.last >= 0 && isJump(value - clock.last);
  clock.last = value;
  if (jumped && clock.stretch < timeline.stretch) {
    clock.stretch = timeline.stretch;
  } else if (jumped && clock.stretch == timeline.stretch) {
    JointAhead joint = findJoint();
    if (joint.verdict == JointAhead::joins) {
      openStretch(timeline, joint.ptsOffset);
      clock.stretch = timeline.stretch;
    } else if (joint.verdict == JointAhead::notFound) {
      clock.stretch = timeline.stretch + 1;
      if (!timeline.unjoined) {
        timeline.unjoined = true;
        emit(events, at, Event{.kind = EventKind::unjoinedStretch, .pid = pid, .source = value});
      }
    }
  }
  return offsetsOf(timeline, clock);
}

}  // namespace corvane
