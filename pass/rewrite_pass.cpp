#include "pass/rewrite_pass.h"

#include <algorithm>

#include "ts/packet.h"

namespace corvane {

namespace {

// Packets are rewritten a piece at a time, each written right after, while it is in the
// processor's cache.
constexpr std::int64_t kRewriteStep = kIoSize / kPacketSize * kPacketSize;

PassOutcome failed(PassEnd end, const IoStatus& status, Refusal stop = Refusal::none) {
  return PassOutcome{end, status.code, stop};
}

// After a PMT re-read failed, the destination is to hold the blocks before the failing packet's,
// all of them, and the driver cuts it back to them.
PassOutcome stopped(PassBuffer& buffer, Destination& output, Refusal refusal) {
  std::int64_t kept = buffer.rewritten / kBlockSize * kBlockSize;
  if (IoStatus status = writeRewritten(output, buffer, kept, true); status.failed) {
    return failed(PassEnd::writeFailed, status, refusal);
  }
  return PassOutcome{PassEnd::stopped, 0, refusal};
}

}  // namespace

PassOutcome rewriteFile(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                        Destination& output) {
  // The packets are rewritten in place in file order, so the output bytes do not depend on how
  // the file moves through the buffer.
  for (;;) {
    std::int64_t whole = buffer.read - buffer.read % kPacketSize;
    while (buffer.rewritten < whole) {
      std::int64_t end = std::min(whole, buffer.rewritten + kRewriteStep);
      std::uint8_t* begin = bufferAt(buffer, buffer.rewritten);
      RulesEnd rulesEnd = rewritePackets(rules, begin, bufferAt(buffer, end), buffer.rewritten);
      buffer.rewritten += rulesEnd.stop - begin;
      if (rulesEnd.refusal != Refusal::none) return stopped(buffer, output, rulesEnd.refusal);
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
  if (buffer.read > buffer.rewritten) {
    rewriteCutOffPacket(rules, bufferAt(buffer, buffer.rewritten), buffer.read - buffer.rewritten,
                        buffer.rewritten);
  }
  buffer.rewritten = buffer.read;
  if (IoStatus status = writeRewritten(output, buffer, buffer.read, true); status.failed) {
    return failed(PassEnd::writeFailed, status);
  }
  return PassOutcome{PassEnd::complete};
}

}  // namespace corvane
