#include "rewrite/source_reader.h"

#include <cstring>

#include "stream/packet.h"

namespace corvane {

namespace {

// The file offset of the packet boundary at or after `offset`.
std::int64_t packetBoundaryAfter(std::int64_t offset) {
  return (offset + kPacketSize - 1) / kPacketSize * kPacketSize;
}

// Reads up to `size` bytes at the read cursor. The bytes after them up to the next packet
// boundary are cleared, so that a partial last packet is seen with zeros behind its data rather
// than with bytes of an earlier read.
IoStatus readAt(SourceReader& source, PassBuffer& buffer, std::int64_t size, std::int64_t* got) {
  std::int64_t count = source.calls->readFull(source.file, bufferAt(buffer, buffer.read), size);
  if (count < 0) return IoStatus{true, source.calls->lastErrorCode()};
  buffer.read += count;
  std::uint8_t* end = bufferAt(buffer, buffer.read);
  std::memset(end, 0, static_cast<std::size_t>(packetBoundaryAfter(buffer.read) - buffer.read));
  *got = count;
  return IoStatus{};
}

}  // namespace

IoStatus readFirstBlock(SourceReader& source, PassBuffer& buffer) {
  std::int64_t got = 0;
  return readAt(source, buffer, kBlockSize, &got);
}

IoStatus readNext(SourceReader& source, PassBuffer& buffer, std::int64_t* got) {
  std::int64_t size = ioSizeAt(buffer.read);
  std::int64_t padded = packetBoundaryAfter(buffer.read + size);
  if (padded - buffer.start > kBufferSize) {
    // The bytes from the written cursor on are all that is still needed. The writer leaves less
    // than a block unwritten, so they and the read fit once they stand at the buffer's start.
    std::memmove(buffer.bytes, bufferAt(buffer, buffer.written),
                 static_cast<std::size_t>(packetBoundaryAfter(buffer.read) - buffer.written));
    buffer.start = buffer.written;
  }
  return readAt(source, buffer, size, got);
}

}  // namespace corvane
