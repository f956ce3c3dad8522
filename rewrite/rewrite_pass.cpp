#include "rewrite/rewrite_pass.h"

#include <algorithm>

#include "pmtchange/pmt_change.h"
#include "rewrite/rebase.h"
#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"
#include "stream/source_input.h"

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

// Resets the continuity table and prints the starting progress lines: the 0 % line, then the
// same through the percentage format; a stream's 0 MB line alone.
void startPass(StreamContext& context, PassProgress& progress) {
  std::fill(context.ccTable, context.ccTable + kPidCount, -1);
  if (!progress.streamed) printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
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
  // A regular file written from its start, which can be cut back. Anything else (a pipe, a
  // device, standard output appending to a file) is written in whole blocks only.
  bool cuttable;
  std::int64_t written = 0;  // bytes
};

// Cuts the destination back to the whole blocks written so far, so that after a stop or a
// failed write it ends on a block boundary rather than inside a packet.
bool cutToWholeBlocks(const Destination& output) {
  return !output.cuttable ||
         platform::truncateFile(output.file, output.written / kBlockSize * kBlockSize);
}

// Rewrites the packets at buffer offsets [begin, end). When a PMT re-read fails, the destination
// is cut back to the blocks before the one that holds the failing PMT and closed, and the result
// is false; a failure of that cut or close ends the process.
bool rewritePiece(StreamContext& context, PassProgress& progress, const Destination& output,
                  std::int32_t begin, std::int32_t end) {
  if (rewritePackets(context, progress, begin, end)) return true;
  if (!cutToWholeBlocks(output) || !platform::closeFile(output.file)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return false;
}

// Writes buffer offsets [begin, end) to the destination. A failed write ends the process.
void writePiece(const StreamContext& context, Destination& output, std::int32_t begin,
                std::int32_t end) {
  if (begin == end) return;
  if (!platform::writeAll(output.file, context.buffer + begin, end - begin)) {
    int code = platform::lastErrorCode();
    cutToWholeBlocks(output);  // as far as the system still lets it
    fatalIoError(msg::kWriteError, code);  // データ書き込み中にエラーが発生しました. error code %d.
  }
  output.written += end - begin;
}

}  // namespace

bool rewriteFile(const platform::Path& destination, platform::FileHandle source,
                 StreamContext& context, std::int32_t firstBlockBytes) {
  bool toStandardOutput = platform::namesStandardStream(destination);
  platform::FileHandle timeLog = context.run.timeLog.file;
  Destination output{toStandardOutput
                         ? platform::openStandardOutput(source, timeLog)
                         : platform::createDestinationFile(destination, source, timeLog),
                     false};
  if (output.file == platform::kNoFile) {
    // 書込みファイルオープンエラー. error code %d.
    fatalIoError(msg::kWriteOpenError, platform::lastErrorCode());
  }
  // Standard output can be cut back only when it is a new file (`> out.ts`): one that held
  // something before (`>> old.ts`) is written in whole blocks, so that nothing of it is cut.
  output.cuttable = platform::isRegularFile(output.file) &&
                    (!toStandardOutput || platform::isEmptyFile(output.file));
  PassProgress progress;
  progress.streamed = !platform::isRegularFile(source);
  if (!platform::fileSize(source, &progress.fileSize)) progress.fileSize = 0;
  startPass(context, progress);

  // The buffer holds one block of the file at a time; the survey's block is in it already. The
  // file moves in pieces of an eighth of a block rather than in whole blocks: a piece stays in the
  // processor's cache from its read through its rewrite to its write, which makes the pass about
  // twice as fast. Each packet is rewritten exactly as it would be in its block, so the output
  // bytes are the same. A destination that can be cut takes each piece as soon as it is
  // rewritten; any other takes each block once all of it is rewritten, so that a stop leaves
  // exactly the blocks before it there too.
  //
  // Every read fills its piece unless the file ends, so blocks keep their places in the file. A
  // read that ends inside a packet found the end of a recording that may still be growing: the
  // partial packet stays where it is and the next read completes it. The first read that finds
  // nothing ends the pass, and a partial packet left then is the last.
  std::int32_t have = firstBlockBytes;  // bytes of the block in the buffer
  std::int32_t done = 0;                // of them rewritten, in whole packets
  std::int32_t written = 0;             // of them written
  for (;;) {
    std::int32_t whole = done + (have - done) / kPacketSize * kPacketSize;
    while (done < whole) {
      std::int32_t end = std::min(whole, done + kPieceSize);
      if (!rewritePiece(context, progress, output, done, end)) return false;
      done = end;
      if (output.cuttable) {
        writePiece(context, output, written, done);
        written = done;
      }
    }
    if (done == kBlockSize) {
      writePiece(context, output, written, done);
      have = done = written = 0;
    }
    std::int32_t got = readPackets(context, source, have, std::min(kPieceSize, kBlockSize - have));
    if (got == 0) break;
    have += got;
  }
  if (have > done && !rewritePiece(context, progress, output, done, have)) return false;
  writePiece(context, output, written, have);
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
  if (!platform::closeFile(output.file)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return true;
}

}  // namespace corvane
