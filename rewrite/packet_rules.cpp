#include "rewrite/packet_rules.h"

#include <algorithm>

#include "pmtchange/pmt_change.h"
#include "rewrite/rebase.h"
#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"

namespace corvane {

namespace {

// Prints the percentage of the source taken up so far when it changed. A size that could not be
// had shows 0 %. A stream shows the megabytes taken up, once per step.
void showProgress(PassProgress& progress, std::int64_t bytesDone) {
  std::int64_t shown = progress.streamed   ? bytesDone / kStreamProgressStep
                       : progress.fileSize ? bytesDone * 100 / progress.fileSize
                                           : 0;
  if (shown == progress.lastShown) return;
  progress.lastShown = shown;
  if (progress.streamed) {
    // PCR,PTS,DTS 更新中　 %lld MB
    printOut(msg::kRewriteProgressMegabytes,
             static_cast<long long>(shown * (kStreamProgressStep >> 20)));
  } else {
    printOut(msg::kRewriteProgress, static_cast<int>(shown));  // PCR,PTS,DTS 更新中　 %d%%
  }
}

}  // namespace

int renumberPacket(StreamContext& context, std::uint8_t* packet) {
  int pid = packetPid(packet);
  std::int32_t& counter = context.ccTable[pid];
  // A packet without payload repeats the PID's counter; a PID's first packet gets 0.
  if (hasPayload(packet)) {
    counter = nextContinuityCounter(counter);
  } else if (counter < 0) {
    counter = 0;
  }
  setContinuityCounter(packet, counter);
  return pid;
}

void startPacketRules(StreamContext& context, PassProgress& progress) {
  std::fill(context.ccTable, context.ccTable + kPidCount, -1);
  // The 0 % line, then the same through the percentage format; a stream's 0 MB line alone.
  if (!progress.streamed) printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  showProgress(progress, 0);
}

std::uint8_t* rewritePackets(StreamContext& context, PassProgress& progress, std::uint8_t* begin,
                             std::uint8_t* end) {
  for (std::uint8_t* packet = begin; packet < end; packet += kPacketSize) {
    std::int64_t bytesDone = progress.nextPacketOffset;
    progress.nextPacketOffset += kPacketSize;
    int pid = renumberPacket(context, packet);
    // Nothing behind the header of an errored packet is taken for a section or a timestamp.
    if (transportError(packet)) continue;

    if (context.run.settings.pmtcheck && payloadUnitStart(packet) &&
        sectionKey(packet) == kPmtSectionKey && containsPid(context.pmtPids, pid) &&
        !trackPmtChange(context, packet)) {
      return packet;
    }

    bool pcrDue = carriesPcr(packet) && containsPid(context.pcrPids, pid);
    bool gopDue = false;
    bool ptsDue = false;
    int pesOffset = 0;
    if (payloadUnitStart(packet) && hasPayload(packet) &&
        isTimedPesStart(context, packet, &pesOffset)) {
      if (inJumpTest(context, packet, pesOffset)) {
        ++context.gopCount;
        gopDue = true;
      } else {
        ptsDue = true;
      }
    }
    if (!pcrDue && !gopDue && !ptsDue) continue;

    if (pcrDue) rebasePcr(context, packet);
    if (gopDue) rebaseGopPes(context, packet, pesOffset);
    if (ptsDue) {
      rebasePts(context, packet, pesOffset);
      // Only with H.264 or HEVC video can a PES outside the jump test carry a DTS.
      if (pesHasDts(packet, pesOffset)) rebaseDts(context, packet, pesOffset);
    }
    showProgress(progress, bytesDone);
  }
  return end;
}

}  // namespace corvane
