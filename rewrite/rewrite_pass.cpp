#include "rewrite/rewrite_pass.h"

#include <algorithm>
#include <bit>
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
        containsPid(context.pmtPids, pid) && !trackPmtChange(context, packet)) {
      return false;
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
  return true;
}

namespace {

static_assert(2 * kIoSize <= kBlockSize,
              "the block before keeps its last unwritten piece while the next is read");

// Rewriting goes a piece at a time, each written right after, while it is in the processor's
// cache.
constexpr std::int32_t kRewriteStep = kIoSize / kPacketSize * kPacketSize;

// The amount that a read or write at file offset `at` moves: the largest power of two, up to
// kIoSize, that `at` is a multiple of. After the survey's block, reads climb 16 KiB, 32 KiB, ...
// to kIoSize and stay there; after a read that found the end of a growing file, they climb again.
std::int64_t ioSizeAt(std::int64_t at) {
  return at == 0 ? kIoSize : std::min<std::int64_t>(kIoSize, at & -at);
}

// The destination as the pass has written it so far.
struct Destination {
  platform::FileHandle file;
  // A regular file written from its start, which can be cut back. Anything else (a pipe, a
  // device, standard output appending to a file) is written in whole blocks only.
  bool cuttable;
  std::int64_t written = 0;  // bytes
};

// The source's bytes in the buffer. The block being rewritten starts the buffer, at file offset
// `frame`; a read that runs past the block's end puts the next block's first bytes behind it,
// and they move to the buffer's start once the block is done. The last bytes of the block before
// stay where they were until they are written.
struct Window {
  std::int64_t frame = 0;  // file offset of the buffer's first byte
  std::int64_t read = 0;   // bytes read from the source
  std::int64_t done = 0;   // of them rewritten, in whole packets
};

// Cuts the destination back to the whole blocks written so far, so that after a stop or a
// failed write it ends on a block boundary rather than inside a packet.
bool cutToWholeBlocks(const Destination& output) {
  return !output.cuttable ||
         platform::truncateFile(output.file, output.written / kBlockSize * kBlockSize);
}

// Writes buffer offsets [begin, end) to the destination. A failed write ends the process.
void writePiece(const StreamContext& context, Destination& output, std::int64_t begin,
                std::int64_t end) {
  if (begin == end) return;
  if (!platform::writeAll(output.file, context.buffer + begin, end - begin)) {
    int code = platform::lastErrorCode();
    cutToWholeBlocks(output);  // as far as the system still lets it
    fatalIoError(msg::kWriteError, code);  // データ書き込み中にエラーが発生しました. error code %d.
  }
  output.written += end - begin;
}

// Writes the next `size` bytes of the destination. Bytes of the block before are still at their
// places in the buffer; when they run on into this block, its first bytes, rewritten at the
// buffer's start, are put behind them again, so that one call writes them all.
void writeNext(StreamContext& context, Destination& output, const Window& window,
               std::int64_t size) {
  std::int64_t at = output.written - window.frame;
  if (at < 0) {
    at += kBlockSize;
    std::int64_t past = at + size - kBlockSize;
    if (past > 0) std::memcpy(context.buffer + kBlockSize, context.buffer, past);
  }
  writePiece(context, output, at, at + size);
}

// Writes the rewritten bytes up to file offset `end` to a destination that can be cut, in
// amounts of ioSizeAt; the rest, short of a whole amount, only when `toEnd` (in smaller powers of
// two, each at an offset it divides).
void writeRewritten(StreamContext& context, Destination& output, const Window& window,
                    std::int64_t end, bool toEnd) {
  while (output.written < end) {
    std::int64_t size = ioSizeAt(output.written);
    if (output.written + size > end) {
      if (!toEnd) return;
      size = static_cast<std::int64_t>(
          std::bit_floor(static_cast<std::uint64_t>(end - output.written)));
    }
    writeNext(context, output, window, size);
  }
}

// Rewrites the packets at file offsets [window.done, end) of the window's block. When a PMT re-read
// fails, the destination is made to end where that block starts, with the rewritten bytes
// before it that were not written yet, and closed, and the result is false; a failure of that
// write, cut or close ends the process.
bool rewritePiece(StreamContext& context, PassProgress& progress, Destination& output,
                  const Window& window, std::int64_t end) {
  if (rewritePackets(context, progress, static_cast<std::int32_t>(window.done - window.frame),
                     static_cast<std::int32_t>(end - window.frame))) {
    return true;
  }
  if (output.cuttable) writeRewritten(context, output, window, window.frame, true);
  if (!cutToWholeBlocks(output) || !platform::closeFile(output.file)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return false;
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

  // The survey's block is in the buffer already; the file moves on in reads of ioSizeAt, each
  // read behind the last. Every packet is rewritten in place exactly as it would be in its block,
  // so the output bytes do not depend on how the file moves. A destination that can be cut takes
  // the rewritten bytes in the same aligned amounts as they are read; any other takes each block
  // once all of it is rewritten, so that a stop leaves exactly the blocks before it there too.
  //
  // A read that ends inside a packet found the end of a recording that may still be growing: the
  // partial packet stays where it is and the next read completes it. The first read that finds
  // nothing ends the pass, and a partial packet left then is the last.
  Window window;
  window.read = firstBlockBytes;
  for (;;) {
    std::int64_t blockEnd = window.frame + kBlockSize;
    std::int64_t whole =
        std::min(blockEnd, window.done + (window.read - window.done) / kPacketSize * kPacketSize);
    while (window.done < whole) {
      std::int64_t end = std::min(whole, window.done + kRewriteStep);
      if (!rewritePiece(context, progress, output, window, end)) return false;
      window.done = end;
      if (output.cuttable) writeRewritten(context, output, window, window.done, false);
    }
    if (window.done == blockEnd) {
      if (!output.cuttable) writePiece(context, output, 0, kBlockSize);
      // The next block's first bytes, read past the end, move to the buffer's start, with the
      // zeros behind a partial packet among them.
      std::int64_t past = window.read - blockEnd;
      std::memcpy(context.buffer, context.buffer + kBlockSize,
                  (past + kPacketSize - 1) / kPacketSize * kPacketSize);
      window.frame = blockEnd;
    }
    std::int32_t got =
        readPackets(context, source, static_cast<std::int32_t>(window.read - window.frame),
                    static_cast<std::int32_t>(ioSizeAt(window.read)));
    if (got == 0) break;
    window.read += got;
  }
  if (window.read > window.done && !rewritePiece(context, progress, output, window, window.read)) {
    return false;
  }
  if (output.cuttable) {
    writeRewritten(context, output, window, window.read, true);
  } else {
    writePiece(context, output, 0, window.read - window.frame);
  }
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
  if (!platform::closeFile(output.file)) {
    // データ書き込み中にエラーが発生しました. error code %d.
    fatalIoError(msg::kWriteError, platform::lastErrorCode());
  }
  return true;
}

}  // namespace corvane
