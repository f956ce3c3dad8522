#include "ts/packet_walker.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace walk_detail {

std::int64_t findGrid(const std::uint8_t* bytes, std::int64_t from, std::int64_t end, bool ended,
                      int stride, std::int64_t first, std::int64_t last) {
  for (std::int64_t at = first; at < last; ++at) {
    const void* hit =
        std::memchr(bytes + (at - from), kSyncByte, static_cast<std::size_t>(last - at));
    if (hit == nullptr) return -1;
    at = from + (static_cast<const std::uint8_t*>(hit) - bytes);
    // A packet cut short by the source's end is none, and neither is any after it.
    if (at + kPacketSize > end) return -1;
    if (syncAt(bytes, from, end, ended, at + stride) &&
        syncAt(bytes, from, end, ended, at + 2 * stride)) {
      return at;
    }
  }
  return -1;
}

}  // namespace walk_detail

bool detectFraming(const std::uint8_t* bytes, std::int64_t size, bool ended, Framing* framing) {
  // Enough recurrences to tell a framing from sync bytes that line up by chance.
  constexpr int kLongestRun = 64;
  auto gridFrom = [&](const Framing& candidate, std::int64_t first, std::int64_t last) {
    last = std::min(last, ended ? size : size - 2 * candidate.stride);
    return walk_detail::findGrid(bytes, 0, size, ended, candidate.stride, first, last);
  };
  std::int64_t first = -1;
  for (const Framing& candidate : kFramings) {
    std::int64_t at = gridFrom(candidate, 0, first < 0 ? size : first);
    if (at >= 0) first = at;
  }
  if (first < 0) return false;
  int bestRun = 0;
  std::int64_t bestAt = 0;
  for (const Framing& candidate : kFramings) {
    std::int64_t at = gridFrom(candidate, first, first + kPacketSize);
    if (at < 0) continue;
    std::int64_t stride = candidate.stride;
    int run = 1;
    while (run < kLongestRun && at + run * stride < size && bytes[at + run * stride] == kSyncByte) {
      ++run;
    }
    if (run > bestRun || (run == bestRun && at < bestAt)) {
      bestRun = run;
      bestAt = at;
      *framing = candidate;
    }
  }
  return true;
}

}  // namespace corvane
