// The reader: moves the source into the pass's buffer, on the packet grid. A read that ends
// inside a packet leaves the packet where it is, and the next read completes it; the first read
// that finds nothing ends the source.
#pragma once

#include <cstdint>

#include "pass/pass_buffer.h"
#include "platform/platform.h"

namespace corvane {

struct SourceReader {
  platform::FileHandle file = platform::kNoFile;
  const FileCalls* calls = &kSystemFileCalls;
};

// Reads the survey's block, up to kBlockSize bytes, into an empty buffer in one call.
IoStatus readFirstBlock(SourceReader& source, PassBuffer& buffer);

// Reads the next ioSizeAt(read) bytes behind those read, until they are all in or the source
// ends; `got` receives the count, and 0 means that the source has ended. The caller sees that
// the ring has room for them: read + ioSizeAt(read) - written <= ringSize.
IoStatus readNext(SourceReader& source, PassBuffer& buffer, std::int64_t* got);

}  // namespace corvane
