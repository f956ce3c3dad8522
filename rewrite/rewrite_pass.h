// The pass over the whole file: renumbers continuity counters and rebases every PCR, PTS and
// DTS, block by block in the context's buffer, and writes the destination.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "stream/stream_context.h"

namespace corvane {

// Progress of one pass over the source.
struct PassProgress {
  std::int64_t fileSize = 0;  // bytes of the source, 0 when unknown
  // The source is a stream of unknown size (not a regular file): the progress lines show the
  // megabytes taken up so far instead of a percentage.
  bool streamed = false;
  std::int64_t nextPacketOffset = 0;  // source offset of the next packet to be taken up
  std::int64_t lastShown = -1;        // the percentage, or the megabyte step, last printed
};

// A stream's progress line is printed at most once per this many bytes.
constexpr std::int64_t kStreamProgressStep = std::int64_t{64} << 20;

// Creates the destination ("-": standard output) and rewrites the source into it, starting on
// the block of `firstBlockBytes` bytes that the survey left in the buffer. True after the last
// block; false when a PMT re-read failed (the destination then holds the blocks before the
// current one). Ends the process on read and write errors.
bool rewriteFile(const platform::Path& destination, platform::FileHandle source,
                 StreamContext& context, std::int32_t firstBlockBytes);

// Rewrites the packets at buffer offsets [begin, end) in place, the last one possibly partial.
// False when a PMT re-read failed.
bool rewritePackets(StreamContext& context, PassProgress& progress, std::int32_t begin,
                    std::int32_t end);

}  // namespace corvane
