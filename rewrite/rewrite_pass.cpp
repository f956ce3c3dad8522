#include "rewrite/rewrite_pass.h"

#include <algorithm>

#include "pmtchange/pmt_change.h"
#include "rewrite/rebase.h"
#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"
#include "stream/run_settings.h"
#include "stream/survey.h"

namespace corvane {

namespace {

// Prints the percentage of the source taken up so far when it changed. A size that could not be
// had shows 0 %.
void showProgress(PassProgress& progress, std::int64_t bytesDone) {
  std::int32_t percent = 0;
  if (progress.fileSize > 0) percent = static_cast<std::int32_t>(bytesDone * 100 / progress.fileSize);
  if (percent == progress.lastPercent) return;
  progress.lastPercent = percent;
  printOut(msg::kRewriteProgress, percent);  // PCR,PTS,DTS 更新中　 %d%%
}

// Resets the continuity table and prints the starting progress lines: the 0 % line, then the
// same through the percentage format.
void startPass(StreamContext& context, PassProgress& progress) {
  std::fill(context.ccTable, context.ccTable + kPidCount, -1);
  printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  showProgress(progress, 0);
}

}  // namespace

bool rewritePackets(StreamContext& context, PassProgress& progress, std::int32_t begin,
                    std::int32_t end) {
  std::int32_t* ccTable = context.ccTable;
  for (std::int32_t offset = begin; offset < end; offset += kPacketSize) {
    std::uint8_t* packet = context.buffer + offset;
    std::int64_t bytesDone = progress.nextPacketOffset;
    progress.nextPacketOffset += kPacketSize;
    int pid = packetPid(packet);

    // Continuity counter, for every packet: a packet without payload repeats the PID's counter.
    if (hasPayload(packet)) {
      int counter = ccTable[pid] + 1;
      ccTable[pid] = counter > 15 ? 0 : counter;
    } else if (ccTable[pid] < 0) {
      ccTable[pid] = 0;
    }
    setContinuityCounter(packet, ccTable[pid]);

    if (settings.pmtcheck && sectionKey(packet) == kPmtSectionKey &&
        containsPid(context.pmtPids, pid) && !trackPmtChange(context, offset)) {
      return false;
    }

    bool pcrDue = carriesPcr(packet) && containsPid(context.pcrPids, pid);
    bool gopDue = false;
    bool ptsDue = false;
    if (payloadUnitStart(packet) && hasPayload(packet) && isTimedPesStart(context, offset)) {
      if (packet[11 + context.pesOffset] & 0x40) {  // PTS_DTS_flags: a DTS follows
        ++context.gopCount;
        gopDue = true;
      } else {
        ptsDue = true;
      }
    }
    if (!pcrDue && !gopDue && !ptsDue) continue;

    if (pcrDue) rebasePcr(context, offset);
    if (gopDue) rebaseGopPes(context, offset);
    if (ptsDue) rebasePts(context, offset);
    showProgress(progress, bytesDone);
  }
  return true;
}

namespace {

// Rewrites the packets at buffer offsets [begin, end) and writes them to the destination. When
// a PMT re-read fails, the destination is cut back to the blocks before the one that holds the
// failing PMT and closed, and the result is false.
bool passPiece(StreamContext& context, PassProgress& progress, platform::FileHandle output,
               std::int32_t begin, std::int32_t end) {
  if (!rewritePackets(context, progress, begin, end)) {
    std::int64_t failing = progress.nextPacketOffset - kPacketSize;
    platform::truncateFile(output, failing / kBlockSize * kBlockSize);
    platform::closeFile(output);
    return false;
  }
  if (!platform::writeAll(output, context.buffer + begin, end - begin)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return true;
}

}  // namespace

bool rewriteFile(const platform::Path& destination, platform::FileHandle source,
                 StreamContext& context, std::int32_t firstBlockBytes) {
  platform::FileHandle output = platform::createDestinationFile(destination, source);
  if (output == platform::kNoFile) {
    // 書込みファイルオープンエラー. error code %d.
    fatalIoError(msg::kWriteOpenError, platform::lastErrorCode());
  }
  PassProgress progress;
  if (!platform::fileSize(source, &progress.fileSize)) progress.fileSize = 0;
  startPass(context, progress);

  // The survey's block is in the buffer already.
  for (std::int32_t begin = 0; begin < firstBlockBytes; begin += kPieceSize) {
    std::int32_t end = std::min(firstBlockBytes, begin + kPieceSize);
    if (!passPiece(context, progress, output, begin, end)) return false;
  }
  // The rest comes piece by piece into the buffer's start. Every read fills its piece unless
  // the file ends, so blocks keep their places in the file; the first empty read ends the pass.
  for (;;) {
    std::int32_t got = readPackets(context, source, kPieceSize);
    if (got == 0) break;
    if (!passPiece(context, progress, output, 0, got)) return false;
  }
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
  platform::closeFile(output);
  return true;
}

}  // namespace corvane
