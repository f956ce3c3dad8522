#include <cstdio>
#include <cstdlib>

#include "rewrite/rebase.h"
#include "stream/packet.h"
#include "stream/timestamp.h"

namespace corvane {

namespace {

// Offset rule: source - ptsOffset; when that reaches 2^33, source - prevPtsOffset instead.
std::int64_t offsetRule(const StreamContext& context, std::int64_t source) {
  std::int64_t value = source - context.ptsOffset;
  if (value > kMaxPts) value = source - context.prevPtsOffset;
  return value;
}

struct PtsRewrite {
  std::int64_t source;  // 90 kHz
  std::int64_t value;   // 90 kHz, as computed, before it is stored modulo 2^33
};

// Rewrites the PTS of the PES whose header starts at `o`: the offset rule, or for a caption PID
// the caption rule. The PTS of a PES that carries a DTS becomes the last reference picture's.
PtsRewrite rewritePts(StreamContext& context, std::uint8_t* packet, int o) {
  std::uint8_t* field = packet + kPtsField + o;
  std::int64_t source = readPesTimestamp(field);
  std::int64_t value = offsetRule(context, source);
  if (containsPid(context.captionPids, packetPid(packet))) {
    // Captions ignore the offsets: they count from the first caption PTS above one hour, which
    // lands half a second after one hour, whatever joints and wraps come later.
    std::int64_t oneHour = context.pcrOrigin / 300;
    RunState& run = context.run;
    if (run.captionBaseUnset && source > oneHour) {
      run.captionBasePts = source;
      run.captionBaseUnset = false;
    }
    value = oneHour + source - run.captionBasePts + kCaptionLead;
  }
  writePesTimestamp(field, value);
  if (pesHasDts(packet, o)) context.lastRefPts = value;
  return PtsRewrite{source, value};
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

bool isTimedPesStart(const StreamContext& context, const std::uint8_t* packet, int* pesOffset) {
  int pid = packetPid(packet);
  if (!containsPid(context.videoPids, pid) && !containsPid(context.audioPids, pid) &&
      !containsPid(context.captionPids, pid)) {
    return false;
  }
  int o = *pesOffset = pesOffsetOf(packet);
  // Nothing is read or written outside the packet: a header whose flags, PTS or flagged DTS
  // would pass its last byte is left alone.
  return startsPesHeader(packet, o) && pesHasPts(packet, o) && pesTimestampsFit(packet, o);
}

void rebasePts(StreamContext& context, std::uint8_t* packet, int pesOffset) {
  PtsRewrite pts = rewritePts(context, packet, pesOffset);
  TimeLog& log = context.run.timeLog;
  if (log.stream == nullptr) return;
  int pid = packetPid(packet);
  const char* tag = containsPid(context.videoPids, pid)   ? "V-PTS"
                    : containsPid(context.audioPids, pid) ? "A-PTS"
                                                          : "C-PTS";
  writeLog(log, "%s :                %13lld, %13lld, %13lld\r\n", tag,
           static_cast<long long>(pts.source), static_cast<long long>(context.ptsOffset),
           static_cast<long long>(pts.value));
}

std::int64_t rebaseDts(const StreamContext& context, std::uint8_t* packet, int pesOffset) {
  std::uint8_t* field = packet + kDtsField + pesOffset;
  std::int64_t value = offsetRule(context, readPesTimestamp(field));
  writePesTimestamp(field, value);
  return value;
}

void rebaseGopPes(StreamContext& context, std::uint8_t* packet, int pesOffset) {
  TimeLog& log = context.run.timeLog;
  // MPEG-2 video is measured by the PTS of its reference pictures, H.264 and HEVC video by the
  // decode time of every picture: the DTS, or the PTS where a PES carries no DTS because the two
  // are equal.
  bool mpeg2 = context.videoCoding == VideoCoding::mpeg2;
  bool hasDts = pesHasDts(packet, pesOffset);
  int timeField = mpeg2 || !hasDts ? kPtsField : kDtsField;
  std::int64_t source = readPesTimestamp(packet + timeField + pesOffset);
  std::int64_t previous = context.gopPts;
  std::int64_t step = source - previous;
  context.gopPts = source;

  if (context.gopCount > 1 && std::llabs(step) > kJumpLimit) {
    context.prevPtsOffset = context.ptsOffset;
    if (step + kMaxPts <= kJumpLimit) {
      // The source clock wrapped at 2^33: follow it without a joint.
      context.ptsOffset -= kMaxPts;
      writeLog(log, "********* wrap around GOP *********\r\n");
    } else {
      // A jump. MPEG-2: join the new stretch three frames after the last reference picture.
      // H.264 and HEVC: decode the new stretch's first picture one frame period after the last
      // picture of the old one.
      context.ptsOffset = mpeg2 ? source - context.lastRefPts - kJointGap
                                : source - context.lastDecodeTime - framePeriod(context.frameSteps);
      // Players and editors see the joint as a discontinuity when the counter skips one value.
      int pid = packetPid(packet);
      context.ccTable[pid] = nextContinuityCounter(context.ccTable[pid]);
      setContinuityCounter(packet, context.ccTable[pid]);
      writeLog(log, "********* Joint GOP *********\r\nGOPPTS: %13lld, %13lld\r\n",
               static_cast<long long>(context.prevPtsOffset),
               static_cast<long long>(context.ptsOffset));
    }
  } else if (!mpeg2 && context.gopCount > 1) {
    noteFrameStep(context.frameSteps, step);
  }

  // The V-GOP line below stands for this PES: its PTS gets no line of its own.
  std::int64_t pts = rewritePts(context, packet, pesOffset).value;
  context.lastDecodeTime = hasDts ? rebaseDts(context, packet, pesOffset) : pts;

  if (log.stream == nullptr) return;
  writeLog(log, "V-GOP :                %13lld, %13lld, %13lld, %13lld, %13lld\r\n",
           static_cast<long long>(source), static_cast<long long>(context.ptsOffset),
           static_cast<long long>(source - context.ptsOffset), static_cast<long long>(previous),
           static_cast<long long>(std::llabs(step)));
}

}  // namespace corvane
