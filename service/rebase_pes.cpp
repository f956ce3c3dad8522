#include <cstdlib>

#include "service/rebase.h"
#include "ts/packet.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

// Offset rule: source - ptsOffset; when that reaches 2^33, source - prevPtsOffset instead.
std::int64_t offsetRule(const StretchOffsets& offsets, std::int64_t source) {
  std::int64_t value = source - offsets.ptsOffset;
  if (value > kMaxPts) value = source - offsets.prevPtsOffset;
  return value;
}

struct PtsRewrite {
  std::int64_t source;  // 90 kHz
  std::int64_t value;   // 90 kHz, as computed, before it is stored modulo 2^33
};

// Rewrites the PTS of the PES whose header starts at `o`: the offset rule, for a caption PID with
// its lead under clean joints and the caption rule under classic ones. The PTS of a PES that
// carries a DTS becomes the last reference picture's.
PtsRewrite rewritePts(Service& service, std::uint8_t* packet, int o, const StretchOffsets& offsets,
                      bool clean) {
  Timeline& timeline = service.timeline;
  std::uint8_t* field = packet + kPtsField + o;
  std::int64_t source = readPesTimestamp(field);
  std::int64_t value = offsetRule(offsets, source);
  bool caption = containsPid(service.pids.captions, packetPid(packet));
  if (caption && clean) {
    // Captions are shown half a second after their stretch's other streams would place them.
    value += kCaptionLead;
  } else if (caption) {
    // Captions ignore the offsets: they count from the first caption PTS above one hour, which
    // lands half a second after one hour, whatever joints and wraps come later.
    if (timeline.captionBaseUnset && source > kOneHour) {
      timeline.captionBasePts = source;
      timeline.captionBaseUnset = false;
    }
    value = kOneHour + source - timeline.captionBasePts + kCaptionLead;
  }
  writePesTimestamp(field, value);
  if (pesHasDts(packet, o)) timeline.lastRefPts = value;
  return PtsRewrite{source, value};
}

// Rewrites the DTS of a PES (offset rule); returns the new value before it is stored in 33 bits.
std::int64_t rewriteDts(const StretchOffsets& offsets, std::uint8_t* packet, int o) {
  std::uint8_t* field = packet + kDtsField + o;
  std::int64_t value = offsetRule(offsets, readPesTimestamp(field));
  writePesTimestamp(field, value);
  return value;
}

// The stream's frame period: the step seen most often among the last ones, or 3,003 ticks (29.97
// frames per second) before any was seen. Of steps seen equally often the newest wins.
std::int64_t framePeriod(const FrameSteps& frameSteps) {
  std::int64_t period = kDefaultFramePeriod;
  int periodCount = 0;
  for (int back = 1; back <= frameSteps.count; ++back) {
    std::int32_t candidate =
        frameSteps.steps[(frameSteps.next - back + kFrameStepWindow) % kFrameStepWindow];
    int count = 0;
    for (int k = 0; k < frameSteps.count; ++k) count += frameSteps.steps[k] == candidate;
    if (count > periodCount) {
      period = candidate;
      periodCount = count;
    }
  }
  return period;
}

// Only forward steps within a stretch are frame steps; the ring keeps the newest.
void noteFrameStep(FrameSteps& frameSteps, std::int64_t step) {
  if (step <= 0 || step > kJumpLimit) return;
  frameSteps.steps[frameSteps.next] = static_cast<std::int32_t>(step);
  frameSteps.next = (frameSteps.next + 1) % kFrameStepWindow;
  if (frameSteps.count < kFrameStepWindow) ++frameSteps.count;
}

// The source time the jump test measures a PES by. MPEG-2 video is measured by the PTS of its
// reference pictures, H.264 and HEVC video by the decode time of every picture: the DTS, or the
// PTS where a PES carries no DTS because the two are equal. A service without video is measured
// by its anchor's audio in the same way.
std::int64_t jumpTestTimeOf(const Service& service, const std::uint8_t* packet, int pesOffset) {
  bool byPts = service.pids.videoCoding == VideoCoding::mpeg2 || !pesHasDts(packet, pesOffset);
  return readPesTimestamp(packet + (byPts ? kPtsField : kDtsField) + pesOffset);
}

// The offset of a new stretch whose joint picture's time is `source`. MPEG-2: the new stretch
// joins three frames after the last reference picture. H.264, HEVC and audio: its first unit is
// decoded one step (the frame period) after the last unit of the old one.
std::int64_t jointOffset(const Service& service, std::int64_t source) {
  const Timeline& timeline = service.timeline;
  return service.pids.videoCoding == VideoCoding::mpeg2
             ? source - timeline.lastRefPts - kJointGap
             : source - timeline.lastDecodeTime - framePeriod(timeline.frameSteps);
}

}  // namespace

TimedPes timedPesStart(const ProgramPids& pids, const std::uint8_t* packet) {
  int pid = packetPid(packet);
  StreamRole role;
  if (containsPid(pids.video, pid)) {
    role = StreamRole::video;
  } else if (containsPid(pids.audio, pid)) {
    role = StreamRole::audio;
  } else if (containsPid(pids.captions, pid)) {
    role = StreamRole::caption;
  } else if (containsPid(pids.others, pid)) {
    role = StreamRole::other;
  } else {
    return TimedPes{};
  }
  int o = pesOffsetOf(packet);
  // Nothing is read or written outside the packet: a header whose flags, PTS or flagged DTS
  // would pass its last byte is left alone.
  if (!startsPesHeader(packet, o) || !pesHasPts(packet, o) || !pesTimestampsFit(packet, o)) {
    return TimedPes{};
  }
  return TimedPes{o, role};
}

void rebasePes(Service& service, std::uint8_t* packet, TimedPes pes, const StretchOffsets& offsets,
               bool clean, const PacketPlace& at, const EventSink& events) {
  int pesOffset = pes.offset;
  PtsRewrite pts = rewritePts(service, packet, pesOffset, offsets, clean);
  // Only with H.264 or HEVC video can a PES outside the jump test carry a DTS.
  if (pesHasDts(packet, pesOffset)) rewriteDts(offsets, packet, pesOffset);
  emit(events, at,
       Event{.kind = EventKind::pesRebased,
             .role = pes.role,
             .pid = packetPid(packet),
             .source = pts.source,
             .value = pts.value,
             .ptsOffset = offsets.ptsOffset});
}

JointAhead jointAhead(const Service& service, const std::uint8_t* packet, TimedPes pes) {
  const Timeline& timeline = service.timeline;
  std::int64_t source = jumpTestTimeOf(service, packet, pes.offset);
  if (timeline.jumpTestCount == 0 || !isJump(source - timeline.jumpTestTime)) {
    return JointAhead{JointAhead::disagrees};
  }
  return JointAhead{JointAhead::joins, jointOffset(service, source)};
}

void openStretch(Timeline& timeline, std::int64_t ptsOffset) {
  timeline.left = currentOffsets(timeline);
  timeline.prevPtsOffset = timeline.ptsOffset;
  timeline.ptsOffset = ptsOffset;
  ++timeline.stretch;
  timeline.unjoined = false;
}

bool rebaseJumpTestPes(Service& service, std::uint8_t* packet, TimedPes pes, bool clean,
                       const PacketPlace& at, const EventSink& events) {
  Timeline& timeline = service.timeline;
  int pesOffset = pes.offset;
  bool hasDts = pesHasDts(packet, pesOffset);
  std::int64_t source = jumpTestTimeOf(service, packet, pesOffset);
  std::int64_t previous = timeline.jumpTestTime;
  std::int64_t step = source - previous;
  timeline.jumpTestTime = source;
  ++timeline.jumpTestCount;
  int pid = packetPid(packet);
  // Every picture a recording may begin with is in the jump test: with MPEG-2 its PES carries a
  // DTS, and with H.264 and HEVC every PES of the anchor is.
  if (!service.randomAccessSeen && pes.role == StreamRole::video && pid == service.pids.anchor) {
    noteRandomAccess(service, packet, pes, at, events);
  }

  bool joined = false;
  if (timeline.jumpTestCount > 1 && std::llabs(step) > kJumpLimit) {
    EventKind kind;
    if (step + kMaxPts <= kJumpLimit) {
      // The source clock wrapped at 2^33: follow it without a joint.
      timeline.prevPtsOffset = timeline.ptsOffset;
      timeline.ptsOffset -= kMaxPts;
      kind = EventKind::wrap;
    } else {
      // A stretch that a stream of it opened ahead of its joint picture has its offset already.
      if (!clean) {
        timeline.prevPtsOffset = timeline.ptsOffset;
        timeline.ptsOffset = jointOffset(service, source);
      } else if (timeline.jumpTest.stretch >= timeline.stretch) {
        openStretch(timeline, jointOffset(service, source));
      }
      timeline.jumpTest.stretch = timeline.stretch;
      kind = EventKind::joint;
      joined = true;
    }
    emit(events, at,
         Event{.kind = kind,
               .pid = pid,
               .source = source,
               .previous = previous,
               .ptsOffset = timeline.ptsOffset,
               .prevPtsOffset = timeline.prevPtsOffset});
  } else if (service.pids.videoCoding != VideoCoding::mpeg2 && timeline.jumpTestCount > 1) {
    noteFrameStep(timeline.frameSteps, step);
  }

  StretchOffsets offsets = offsetsOf(timeline, timeline.jumpTest);
  std::int64_t pts = rewritePts(service, packet, pesOffset, offsets, clean).value;
  timeline.lastDecodeTime = hasDts ? rewriteDts(offsets, packet, pesOffset) : pts;
  emit(events, at,
       Event{.kind = EventKind::jumpTestPes,
             .role = pes.role,
             .pid = pid,
             .source = source,
             .previous = previous,
             .ptsOffset = timeline.ptsOffset});
  return joined;
}

}  // namespace corvane
