#include "pass/destination_writer.h"

#include <bit>

namespace corvane {

namespace {

IoStatus failure(const Destination& output) {
  return IoStatus{true, output.calls->lastErrorCode()};
}

IoStatus writeNext(Destination& output, PassBuffer& buffer, std::int64_t size) {
  if (!output.calls->writeAll(output.file, bufferAt(buffer, buffer.written), size)) {
    return failure(output);
  }
  buffer.written += size;
  return IoStatus{};
}

}  // namespace

IoStatus openDestination(Destination& output, const platform::Path& name,
                         platform::FileHandle source, platform::FileHandle timeLog) {
  bool toStandardOutput = platform::namesStandardStream(name);
  output.file = toStandardOutput ? platform::openStandardOutput(source, timeLog)
                                 : platform::createDestinationFile(name, source, timeLog);
  if (output.file == platform::kNoFile) return IoStatus{true, platform::lastErrorCode()};
  // Standard output can be cut back only when it is a new file (`> out.ts`): one that held
  // something before (`>> old.ts`) is written in whole blocks, so that nothing of it is cut.
  output.cuttable = platform::isRegularFile(output.file) &&
                    (!toStandardOutput || platform::isEmptyFile(output.file));
  return IoStatus{};
}

IoStatus writeRewritten(Destination& output, PassBuffer& buffer, std::int64_t end, bool toEnd) {
  if (!output.cuttable) {
    while (buffer.written + kBlockSize <= end) {
      if (IoStatus status = writeNext(output, buffer, kBlockSize); status.failed) return status;
    }
    if (toEnd && buffer.written < end) return writeNext(output, buffer, end - buffer.written);
    return IoStatus{};
  }
  while (buffer.written < end) {
    std::int64_t size = ioSizeAt(buffer.written);
    if (buffer.written + size > end) {
      if (!toEnd) break;
      size = static_cast<std::int64_t>(
          std::bit_floor(static_cast<std::uint64_t>(end - buffer.written)));
    }
    if (IoStatus status = writeNext(output, buffer, size); status.failed) return status;
  }
  return IoStatus{};
}

IoStatus cutToWholeBlocks(const Destination& output, const PassBuffer& buffer) {
  if (output.cuttable &&
      !output.calls->truncateFile(output.file, buffer.written / kBlockSize * kBlockSize)) {
    return failure(output);
  }
  return IoStatus{};
}

IoStatus closeDestination(Destination& output) {
  bool closed = output.calls->closeFile(output.file);
  output.file = platform::kNoFile;
  return closed ? IoStatus{} : failure(output);
}

}  // namespace corvane
