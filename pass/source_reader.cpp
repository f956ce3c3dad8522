#include "pass/source_reader.h"

#include <cstring>

namespace corvane {

namespace {

// Reads up to `size` bytes at the read cursor.
IoStatus readAt(SourceReader& source, PassBuffer& buffer, std::int64_t size, std::int64_t* got) {
  std::int64_t count = source.calls->readFull(source.file, bufferAt(buffer, buffer.read), size);
  if (count < 0) return IoStatus{true, source.calls->lastErrorCode()};
  buffer.read += count;
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
  if (buffer.read + size - buffer.start > kBufferSize) {
    // The bytes from the written cursor on are all that is still needed. The writer leaves less
    // than a block unwritten, so they and the read fit once they stand at the buffer's start.
    std::memmove(buffer.bytes, bufferAt(buffer, buffer.written),
                 static_cast<std::size_t>(buffer.read - buffer.written));
    buffer.start = buffer.written;
  }
  return readAt(source, buffer, size, got);
}

}  // namespace corvane
