#include <cstdlib>

#include "service/rebase.h"
#include "ts/packet.h"
#include "ts/timestamp.h"

namespace corvane {

namespace {

// Offset rule: source - ptsOffset; when that reaches 2^33, source - prevPtsOffset instead.
std::int64_t offsetRule(const Timeline& timeline, std::int64_t source) {
  std::int64_t value = source - timeline.ptsOffset;
  if (value > kMaxPts) value = source - timeline.prevPtsOffset;
  return value;
}

struct PtsRewrite {
  std::int64_t source;  // 90 kHz
  std::int64_t value;   // 90 kHz, as computed, before it is stored modulo 2^33
};

// Rewrites the PTS of the PES whose header starts at `o`: the offset rule, or for a caption PID
// the caption rule. The PTS of a PES that carries a DTS becomes the last reference picture's.
PtsRewrite rewritePts(Service& service, std::uint8_t* packet, int o) {
  Timeline& timeline = service.timeline;
  std::uint8_t* field = packet + kPtsField + o;
  std::int64_t source = readPesTimestamp(field);
  std::int64_t value = offsetRule(timeline, source);
  if (containsPid(service.pids.captions, packetPid(packet))) {
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
std::int64_t rewriteDts(const Timeline& timeline, std::uint8_t* packet, int o) {
  std::uint8_t* field = packet + kDtsField + o;
  std::int64_t value = offsetRule(timeline, readPesTimestamp(field));
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

void rebasePes(Service& service, std::uint8_t* packet, TimedPes pes, const PacketPlace& at,
               const EventSink& events) {
  int pesOffset = pes.offset;
  PtsRewrite pts = rewritePts(service, packet, pesOffset);
  // Only with H.264 or HEVC video can a PES outside the jump test carry a DTS.
  if (pesHasDts(packet, pesOffset)) rewriteDts(service.timeline, packet, pesOffset);
  emit(events, at,
       Event{.kind = EventKind::pesRebased,
             .role = pes.role,
             .pid = packetPid(packet),
             .source = pts.source,
             .value = pts.value,
             .ptsOffset = service.timeline.ptsOffset});
}

bool rebaseJumpTestPes(Service& service, std::uint8_t* packet, TimedPes pes, const PacketPlace& at,
                       const EventSink& events) {
  Timeline& timeline = service.timeline;
  int pesOffset = pes.offset;
  // MPEG-2 video is measured by the PTS of its reference pictures, H.264 and HEVC video by the
  // decode time of every picture: the DTS, or the PTS where a PES carries no DTS because the two
  // are equal. A service without video is measured by its anchor's audio in the same way.
  bool mpeg2 = service.pids.videoCoding == VideoCoding::mpeg2;
  bool hasDts = pesHasDts(packet, pesOffset);
  int timeField = mpeg2 || !hasDts ? kPtsField : kDtsField;
  std::int64_t source = readPesTimestamp(packet + timeField + pesOffset);
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
    timeline.prevPtsOffset = timeline.ptsOffset;
    EventKind kind;
    if (step + kMaxPts <= kJumpLimit) {
      // The source clock wrapped at 2^33: follow it without a joint.
      timeline.ptsOffset -= kMaxPts;
      kind = EventKind::wrap;
    } else {
      // A jump. MPEG-2: join the new stretch three frames after the last reference picture.
      // H.264, HEVC and audio: decode the new stretch's first unit one step (the frame period)
      // after the last unit of the old one.
      timeline.ptsOffset =
          mpeg2 ? source - timeline.lastRefPts - kJointGap
                : source - timeline.lastDecodeTime - framePeriod(timeline.frameSteps);
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
  } else if (!mpeg2 && timeline.jumpTestCount > 1) {
    noteFrameStep(timeline.frameSteps, step);
  }

  std::int64_t pts = rewritePts(service, packet, pesOffset).value;
  timeline.lastDecodeTime = hasDts ? rewriteDts(timeline, packet, pesOffset) : pts;
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
