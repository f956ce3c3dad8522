#include "rewrite/rewrite_pass.h"

#include <algorithm>
#include <cstring>

#include "pmtchange/pmt_change.h"
#include "rewrite/rebase.h"
#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"
#include "stream/source_input.h"

namespace corvane {

namespace {

// Prints the percentage of the source taken up so far when it changed. A size that could not be
// had shows 0 %.
void showProgress(PassProgress& progress, std::int64_t bytesDone) {
  std::int32_t percent =
      progress.fileSize > 0 ? static_cast<std::int32_t>(bytesDone * 100 / progress.fileSize) : 0;
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
      ccTable[pid] = nextContinuityCounter(ccTable[pid]);
    } else if (ccTable[pid] < 0) {
      ccTable[pid] = 0;
    }
    setContinuityCounter(packet, ccTable[pid]);

    if (context.run.settings.pmtcheck && sectionKey(packet) == kPmtSectionKey &&
        containsPid(context.pmtPids, pid) && !trackPmtChange(context, offset)) {
      return false;
    }

    bool pcrDue = carriesPcr(packet) && containsPid(context.pcrPids, pid);
    bool gopDue = false;
    bool ptsDue = false;
    if (payloadUnitStart(packet) && hasPayload(packet) && isTimedPesStart(context, offset)) {
      if (pesHasDts(packet, context.pesOffset)) {
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

// The destination as the pass has written it so far.
struct Destination {
  platform::FileHandle file;
  std::int64_t written = 0;  // bytes
};

// Cuts the destination back to the whole blocks written so far, so that after a stop or a
// failed write it ends on a block boundary rather than inside a packet.
bool cutToWholeBlocks(const Destination& output) {
  return platform::truncateFile(output.file, output.written / kBlockSize * kBlockSize);
}

// Rewrites the packets at buffer offsets [begin, end) and writes them to the destination. When
// a PMT re-read fails, the destination is cut back to the blocks before the one that holds the
// failing PMT and closed, and the result is false. A write that fails, also that of the cut or
// the close, ends the process.
bool passPiece(StreamContext& context, PassProgress& progress, Destination& output,
               std::int32_t begin, std::int32_t end) {
  if (!rewritePackets(context, progress, begin, end)) {
    if (!cutToWholeBlocks(output) || !platform::closeFile(output.file)) {
      // データ書き込み中にエラーが発生しました. error code %d.
      fatalIoError(msg::kWriteError, platform::lastErrorCode());
    }
    return false;
  }
  if (!platform::writeAll(output.file, context.buffer + begin, end - begin)) {
    int code = platform::lastErrorCode();
    cutToWholeBlocks(output);  // as far as the system still lets it
    fatalIoError(msg::kWriteError, code);  // データ書き込み中にエラーが発生しました. error code %d.
  }
  output.written += end - begin;
  return true;
}

}  // namespace

bool rewriteFile(const platform::Path& destination, platform::FileHandle source,
                 StreamContext& context, std::int32_t firstBlockBytes) {
  Destination output{
      platform::createDestinationFile(destination, source, context.run.timeLog.file)};
  if (output.file == platform::kNoFile) {
    // 書込みファイルオープンエラー. error code %d.
    fatalIoError(msg::kWriteOpenError, platform::lastErrorCode());
  }
  PassProgress progress;
  if (!platform::fileSize(source, &progress.fileSize)) progress.fileSize = 0;
  startPass(context, progress);

  // The file moves in pieces of an eighth of a block rather than in whole blocks: a piece stays
  // in the processor's cache from its read through its rewrite to its write, which makes the pass
  // about twice as fast. Each packet is rewritten exactly as it would be in its block, so the
  // output bytes are the same, and since pieces tile blocks, what was written before a stop can
  // still be cut back to whole blocks. The survey's block is in the buffer already.
  std::int32_t whole = firstBlockBytes - firstBlockBytes % kPacketSize;
  for (std::int32_t begin = 0; begin < whole; begin += kPieceSize) {
    std::int32_t end = std::min(whole, begin + kPieceSize);
    if (!passPiece(context, progress, output, begin, end)) return false;
  }
  // The rest comes piece by piece into the buffer's start. Every read fills its piece unless the
  // file ends, so blocks keep their places in the file. A read that ends inside a packet found
  // the end of a recording that may still be growing: the partial packet is carried to the
  // buffer's start and completed by the next read, so that every packet keeps its place. The
  // first read that finds nothing ends the pass, and a partial packet left then is the last.
  std::int32_t carried = firstBlockBytes - whole;
  std::memmove(context.buffer, context.buffer + whole, static_cast<std::size_t>(carried));
  for (;;) {
    std::int32_t got = readPackets(context, source, carried, kPieceSize - carried);
    if (got == 0) {
      if (carried > 0 && !passPiece(context, progress, output, 0, carried)) return false;
      break;
    }
    std::int32_t have = carried + got;
    whole = have - have % kPacketSize;
    if (whole > 0 && !passPiece(context, progress, output, 0, whole)) return false;
    carried = have - whole;
    std::memmove(context.buffer, context.buffer + whole, static_cast<std::size_t>(carried));
  }
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
  if (!platform::closeFile(output.file)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return true;
}

}  // namespace corvane
