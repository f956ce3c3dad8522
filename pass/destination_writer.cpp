#include "pass/destination_writer.h"

#include <algorithm>
#include <bit>

namespace corvane {

namespace {

IoStatus failure(const Destination& output) {
  return IoStatus{true, output.calls->lastErrorCode()};
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

std::int64_t nextWriteSize(const Destination& output, const PassBuffer& buffer, std::int64_t end,
                           bool toEnd) {
  std::int64_t left = end - buffer.written;
  if (left <= 0) return 0;
  if (!output.cuttable) return left >= kBlockSize ? kBlockSize : toEnd ? left : 0;
  std::int64_t size = ioSizeAt(buffer.written);
  if (size <= left) return size;
  return toEnd ? static_cast<std::int64_t>(std::bit_floor(static_cast<std::uint64_t>(left))) : 0;
}

IoStatus writeNext(Destination& output, PassBuffer& buffer, std::int64_t size) {
  // Only a block, or the rest after one, crosses the ring's end: in two calls.
  std::int64_t first =
      std::min(size, ringEndAfter(buffer.ringSize, buffer.written) - buffer.written);
  if (!output.calls->writeAll(output.file, bufferAt(buffer, buffer.written), first) ||
      (first < size && !output.calls->writeAll(
                           output.file, bufferAt(buffer, buffer.written + first), size - first))) {
    return failure(output);
  }
  buffer.written += size;
  return IoStatus{};
}

IoStatus writeRewritten(Destination& output, PassBuffer& buffer, std::int64_t end, bool toEnd) {
  while (std::int64_t size = nextWriteSize(output, buffer, end, toEnd)) {
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
