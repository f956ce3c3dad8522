#include "stream/source_input.h"

#include <cstring>

#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"

namespace corvane {

std::int32_t readPackets(StreamContext& context, platform::FileHandle source, std::int32_t at,
                         std::int32_t size) {
  std::int64_t got = platform::readFull(source, context.buffer + at, size);
  if (got < 0) {
    fatalIoError(msg::kReadError, platform::lastErrorCode());  // リードエラー. error code %d.
  }
  std::int32_t end = at + static_cast<std::int32_t>(got);
  std::int32_t tail = end % kPacketSize;
  if (tail != 0) std::memset(context.buffer + end, 0, kPacketSize - tail);
  return end - at;
}

}  // namespace corvane
