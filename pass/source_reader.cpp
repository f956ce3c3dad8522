#include "pass/source_reader.h"

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
  return readAt(source, buffer, ioSizeAt(buffer.read), got);
}

}  // namespace corvane
