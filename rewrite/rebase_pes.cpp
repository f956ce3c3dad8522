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

void rebaseDts(const StreamContext& context, std::uint8_t* packet, int pesOffset) {
  std::uint8_t* field = packet + kDtsField + pesOffset;
  writePesTimestamp(field, offsetRule(context, readPesTimestamp(field)));
}

void rebaseGopPes(StreamContext& context, std::uint8_t* packet, int pesOffset) {
  TimeLog& log = context.run.timeLog;
  std::int64_t source = readPesTimestamp(packet + kPtsField + pesOffset);
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
      int pid = packetPid(packet);
      context.ccTable[pid] = nextContinuityCounter(context.ccTable[pid]);
      setContinuityCounter(packet, context.ccTable[pid]);
      writeLog(log, "********* Joint GOP *********\r\nGOPPTS: %13lld, %13lld\r\n",
               static_cast<long long>(context.prevPtsOffset),
               static_cast<long long>(context.ptsOffset));
    }
  }

  // The V-GOP line below stands for this PES: its PTS gets no line of its own.
  rewritePts(context, packet, pesOffset);
  rebaseDts(context, packet, pesOffset);

  if (log.stream == nullptr) return;
  writeLog(log, "V-GOP :                %13lld, %13lld, %13lld, %13lld, %13lld\r\n",
           static_cast<long long>(source), static_cast<long long>(context.ptsOffset),
           static_cast<long long>(source - context.ptsOffset), static_cast<long long>(previous),
           static_cast<long long>(std::llabs(step)));
}

}  // namespace corvane
