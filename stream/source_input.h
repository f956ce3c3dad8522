// Reading the source into the packet buffer, for the survey and the rewrite pass alike.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "stream/stream_context.h"

namespace corvane {

// Reads up to `size` bytes into context.buffer from offset `at`, until they are all in or the
// file ends, and clears the bytes after the data up to the next packet boundary of the buffer, so
// that a last, partial packet is seen with zeros behind its data; the buffer has room for them
// behind `at + size`. Returns the count read; ends the process on a read error.
std::int32_t readPackets(StreamContext& context, platform::FileHandle source, std::int32_t at,
                         std::int32_t size);

}  // namespace corvane
