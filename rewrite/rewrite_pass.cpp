#include "rewrite/rewrite_pass.h"

#include <algorithm>

#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"

namespace corvane {

namespace {

// Packets are rewritten a piece at a time, each written right after, while it is in the
// processor's cache.
constexpr std::int64_t kRewriteStep = kIoSize / kPacketSize * kPacketSize;

PassOutcome failed(PassEnd end, const IoStatus& status) { return PassOutcome{end, status.code}; }

// Rewrites the read bytes up to file offset `end`, a whole number of packets from the file's
// start. False when a PMT re-read failed.
bool rewriteUpTo(StreamContext& context, PassProgress& progress, PassBuffer& buffer,
                 std::int64_t end) {
  std::uint8_t* begin = bufferAt(buffer, buffer.rewritten);
  std::uint8_t* stop = rewritePackets(context, progress, begin, bufferAt(buffer, end));
  buffer.rewritten += stop - begin;
  return buffer.rewritten == end;
}

// After a PMT re-read failed, the destination is to hold the blocks before the failing packet's,
// all of them, and the driver cuts it back to them.
PassOutcome stopped(PassBuffer& buffer, Destination& output) {
  std::int64_t kept = buffer.rewritten / kBlockSize * kBlockSize;
  if (IoStatus status = writeRewritten(output, buffer, kept, true); status.failed) {
    return failed(PassEnd::writeFailed, status);
  }
  return PassOutcome{PassEnd::stopped};
}

}  // namespace

PassOutcome rewriteFile(StreamContext& context, PassProgress& progress, SourceReader& source,
                        PassBuffer& buffer, Destination& output) {
  startPacketRules(context, progress);
  // The packets are rewritten in place in file order, so the output bytes do not depend on how
  // the file moves through the buffer.
  for (;;) {
    std::int64_t whole = buffer.read - buffer.read % kPacketSize;
    while (buffer.rewritten < whole) {
      std::int64_t end = std::min(whole, buffer.rewritten + kRewriteStep);
      if (!rewriteUpTo(context, progress, buffer, end)) return stopped(buffer, output);
      if (IoStatus status = writeRewritten(output, buffer, buffer.rewritten, false);
          status.failed) {
        return failed(PassEnd::writeFailed, status);
      }
    }
    std::int64_t got = 0;
    if (IoStatus status = readNext(source, buffer, &got); status.failed) {
      return failed(PassEnd::readFailed, status);
    }
    if (got == 0) break;
  }
  // A partial packet left when the source has ended was cut off: what its missing bytes would
  // have said is unknown, so it takes part in nothing but the counting, and only when its
  // header, which holds the counter, is there.
  if (buffer.read - buffer.rewritten >= 4)
    renumberPacket(context, bufferAt(buffer, buffer.rewritten));
  buffer.rewritten = buffer.read;
  if (IoStatus status = writeRewritten(output, buffer, buffer.read, true); status.failed) {
    return failed(PassEnd::writeFailed, status);
  }
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
  return PassOutcome{PassEnd::complete};
}

}  // namespace corvane
