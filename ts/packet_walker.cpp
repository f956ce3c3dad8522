#include "ts/packet_walker.h"

#include <algorithm>
#include <cstring>

namespace corvane {

namespace walk_detail {

namespace {

// The arrival_time_stamp of the packet whose sync byte is at `at`: 30 bits of 27 MHz behind the
// copy_permission_indicator, in the four bytes before it.
std::uint32_t arrivalStamp(const std::uint8_t* bytes, std::int64_t from, std::int64_t at) {
  const std::uint8_t* stamp = bytes + (at - 4 - from);
  return std::uint32_t(stamp[0] & 0x3F) << 24 | std::uint32_t(stamp[1]) << 16 |
         std::uint32_t(stamp[2]) << 8 | stamp[3];
}

// The stamps of the packets at `at`, one and two packets after it count up, each by at least 1
// and less than 2^21 ticks (78 ms), as far as they are in view; or they are all 0, as some tools
// write them. Stamps read a few bytes off are bytes of packets, which pass this by chance once in
// 2^18, and the stuffing that ends many packets (0xFF) repeats without counting up.
bool stampsCountUp(const std::uint8_t* bytes, std::int64_t from, std::int64_t end, int stride,
                   std::int64_t at) {
  bool zero = true;
  for (int k = at - 4 >= from ? 0 : 1; k < 2 && at + (k + 1) * stride <= end; ++k) {
    std::uint32_t before = arrivalStamp(bytes, from, at + k * stride);
    std::uint32_t after = arrivalStamp(bytes, from, at + (k + 1) * stride);
    std::uint32_t step = (after - before) & 0x3FFFFFFF;
    zero = zero && before == 0 && after == 0;
    if (!zero && (step == 0 || step >= std::uint32_t{1} << 21)) return false;
  }
  return true;
}

}  // namespace

std::int64_t findGrid(const std::uint8_t* bytes, std::int64_t from, std::int64_t end, bool ended,
                      Framing framing, std::int64_t first, std::int64_t last) {
  for (std::int64_t at = first; at < last; ++at) {
    const void* hit =
        std::memchr(bytes + (at - from), kSyncByte, static_cast<std::size_t>(last - at));
    if (hit == nullptr) return -1;
    at = from + (static_cast<const std::uint8_t*>(hit) - bytes);
    // A packet cut short by the source's end is none, and neither is any after it.
    if (at + kPacketSize > end) return -1;
    if (syncAt(bytes, from, end, ended, at + framing.stride) &&
        syncAt(bytes, from, end, ended, at + 2 * framing.stride) &&
        (!framing.stampsCountUp || stampsCountUp(bytes, from, end, framing.stride, at))) {
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
    last = std::min(last, ended ? size : size - kGridReach);
    return walk_detail::findGrid(bytes, 0, size, ended, candidate, first, last);
  };
  std::int64_t first = -1;
  for (const Framing& candidate : kFramings) {
    std::int64_t at = gridFrom(candidate, 0, first < 0 ? size : first);
    if (at >= 0) first = at;
  }
  if (first < 0) return false;
  int bestRun = 0;
  bool countingStamps = false;
  for (const Framing& candidate : kFramings) {
    // Stamps that count up tell where packets are better than how long sync bytes recur: a
    // stamp byte that stays the same recurs on where a packet's sync byte was hit.
    if (countingStamps && candidate.lead > 0) continue;
    std::int64_t at = gridFrom(candidate, first, first + kPacketSize);
    if (at < 0) continue;
    countingStamps = candidate.stampsCountUp;
    std::int64_t stride = candidate.stride;
    int run = 1;
    while (run < kLongestRun && at + run * stride < size && bytes[at + run * stride] == kSyncByte) {
      ++run;
    }
    if (run > bestRun) {
      bestRun = run;
      *framing = candidate;
    }
  }
  return true;
}

}  // namespace corvane
