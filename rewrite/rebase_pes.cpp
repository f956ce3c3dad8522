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

}  // namespace

bool isTimedPesStart(StreamContext& context, std::int32_t packet) {
  const std::uint8_t* p = context.buffer + packet;
  int pid = packetPid(p);
  if (!containsPid(context.videoPids, pid) && !containsPid(context.audioPids, pid) &&
      !containsPid(context.captionPids, pid)) {
    return false;
  }
  int o = context.pesOffset = pesOffsetOf(p);
  // Nothing is read or written outside the packet: a header whose flags, PTS or flagged DTS
  // would pass its last byte is left alone.
  return startsPesHeader(p, o) && pesHasPts(p, o) && pesTimestampsFit(p, o);
}

void rebasePts(StreamContext& context, std::int32_t packet) {
  std::uint8_t* p = context.buffer + packet;
  int pid = packetPid(p);
  std::int64_t field = packet + kPtsField + context.pesOffset;
  std::int64_t source = readPesTimestamp(context.buffer, field);
  std::int64_t value = offsetRule(context, source);

  std::int64_t oneHour = context.pcrOrigin / 300;
  bool caption = containsPid(context.captionPids, pid);
  if (caption) {
    // Captions ignore the offsets: they count from the first caption PTS above one hour, which
    // lands half a second after one hour, whatever joints and wraps come later.
    RunState& run = context.run;
    if (run.captionBaseUnset && source > oneHour) {
      run.captionBasePts = source;
      run.captionBaseUnset = false;
    }
    value = oneHour + source - run.captionBasePts + kCaptionLead;
  }
  writePesTimestamp(context.buffer, field, value);
  if (pesHasDts(p, context.pesOffset)) context.lastRefPts = value;

  if (context.run.timeLog.stream != nullptr && !context.gopFlag) {
    const char* tag = containsPid(context.videoPids, pid)   ? "V-PTS"
                      : containsPid(context.audioPids, pid) ? "A-PTS"
                                                            : "C-PTS";
    writeLog(context.run.timeLog, "%s :                %13lld, %13lld, %13lld\r\n", tag,
             static_cast<long long>(source), static_cast<long long>(context.ptsOffset),
             static_cast<long long>(value));
  }
}

void rebaseDts(StreamContext& context, std::int32_t packet) {
  std::int64_t field = packet + kDtsField + context.pesOffset;
  writePesTimestamp(context.buffer, field,
                    offsetRule(context, readPesTimestamp(context.buffer, field)));
}

void rebaseGopPes(StreamContext& context, std::int32_t packet) {
  std::uint8_t* p = context.buffer + packet;
  TimeLog& log = context.run.timeLog;
  std::int64_t source = readPesTimestamp(context.buffer, packet + kPtsField + context.pesOffset);
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
      // A jump: join the new stretch three frames after the last reference picture.
      context.ptsOffset = source - context.lastRefPts - kJointGap;
      // Players and editors see the joint as a discontinuity when the counter skips one value.
      int pid = packetPid(p);
      context.ccTable[pid] = nextContinuityCounter(context.ccTable[pid]);
      setContinuityCounter(p, context.ccTable[pid]);
      writeLog(log, "********* Joint GOP *********\r\nGOPPTS: %13lld, %13lld\r\n",
               static_cast<long long>(context.prevPtsOffset),
               static_cast<long long>(context.ptsOffset));
    }
  }

  context.gopFlag = true;
  rebasePts(context, packet);
  rebaseDts(context, packet);
  context.gopFlag = false;

  if (log.stream == nullptr) return;
  writeLog(log, "V-GOP :                %13lld, %13lld, %13lld, %13lld, %13lld\r\n",
           static_cast<long long>(source), static_cast<long long>(context.ptsOffset),
           static_cast<long long>(source - context.ptsOffset), static_cast<long long>(previous),
           static_cast<long long>(std::llabs(step)));
}

}  // namespace corvane
