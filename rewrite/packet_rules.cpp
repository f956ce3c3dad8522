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

void startPacketRules(StreamContext& context, PassProgress& progress) {
  std::fill(context.ccTable, context.ccTable + kPidCount, -1);
  // The 0 % line, then the same through the percentage format; a stream's 0 MB line alone.
  if (!progress.streamed) printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  showProgress(progress, 0);
}

std::uint8_t* rewritePackets(StreamContext& context, PassProgress& progress, std::uint8_t* begin,
                             std::uint8_t* end) {
  std::int32_t* ccTable = context.ccTable;
  for (std::uint8_t* packet = begin; packet < end; packet += kPacketSize) {
    std::int64_t bytesDone = progress.nextPacketOffset;
    progress.nextPacketOffset += kPacketSize;
    int pid = packetPid(packet);

    // Continuity counter, for every packet: a packet without payload repeats the PID's counter.
    if (hasPayload(packet)) {
      ccTable[pid] = nextContinuityCounter(ccTable[pid]);
    } else if (ccTable[pid] < 0) {
      ccTable[pid] = 0;
    }
    setContinuityCounter(packet, ccTable[pid]);

    if (context.run.settings.pmtcheck && sectionKey(packet) == kPmtSectionKey &&
        containsPid(context.pmtPids, pid) && !trackPmtChange(context, packet)) {
      return packet;
    }

    bool pcrDue = carriesPcr(packet) && containsPid(context.pcrPids, pid);
    bool gopDue = false;
    bool ptsDue = false;
    int pesOffset = 0;
    if (payloadUnitStart(packet) && hasPayload(packet) &&
        isTimedPesStart(context, packet, &pesOffset)) {
      if (pesHasDts(packet, pesOffset)) {
        ++context.gopCount;
        gopDue = true;
      } else {
        ptsDue = true;
      }
    }
    if (!pcrDue && !gopDue && !ptsDue) continue;

    if (pcrDue) rebasePcr(context, packet);
    if (gopDue) rebaseGopPes(context, packet, pesOffset);
    if (ptsDue) rebasePts(context, packet, pesOffset);
    showProgress(progress, bytesDone);
  }
  return end;
}

}  // namespace corvane
