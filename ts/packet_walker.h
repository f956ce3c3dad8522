// Where a recording's packets are. A packet is found by its sync byte at the packet size of the
// file's framing: 188 bytes, 192 with a 4-byte arrival stamp before each packet (BDAV, as Blu-ray
// recorders and dubbing tools write them), or 204 with a 16-byte Reed-Solomon trailer after each.
// Bytes that are not packets (lost bytes, the rest of a packet cut short, a zero-filled tail) and
// the stamps and trailers are never read or written. Every loop over a recording's packets walks
// them here: the survey, the table reader and the packet rules.
#pragma once

#include <algorithm>
#include <cstdint>

#include "ts/packet.h"

namespace corvane {

constexpr std::uint8_t kSyncByte = 0x47;

// How the packets lie in the file.
struct Framing {
  int stride = kPacketSize;  // bytes from one packet's sync byte to the next one's
  int lead = 0;              // bytes of the stamp that comes before each sync byte
  // The stamps count up from packet to packet, as recorders write them; then a grid is only
  // found again where they do. (Where they do not, as ffmpeg writes them, no stamp byte stays the
  // same from packet to packet to make a grid of its own.)
  bool stampsCountUp = false;
};
// In the order in which they win when the sync byte recurs as long at several.
inline constexpr Framing kFramings[] = {{188, 0}, {192, 4, true}, {192, 4}, {204, 0}};
constexpr int kMaxStride = 204;
constexpr int kMaxLead = 4;

// How far beyond a sync byte the test for a grid there reads: the sync bytes one and two packets
// on (and their stamps before them).
constexpr int kGridReach = 2 * kMaxStride + 1;

// The bytes beyond a packet's sync byte that deciding it may read: the packet and a stamp's
// length, and the test for a grid that could start inside them.
constexpr int kWalkLookahead = kLastPacketByte + kMaxLead + kGridReach;

// The framing of a recording from its first bytes. Where the sync byte first recurs three times
// in a row at one of the packet sizes, the framings in which it does so from within that packet
// compete: the one in which it recurs longest wins, then the first of kFramings; stamps that
// count up win over stamps that do not. False when it recurs in none. `ended`: the source ends
// with these bytes.
bool detectFraming(const std::uint8_t* bytes, std::int64_t size, bool ended, Framing* framing);

// Bytes that the walk passes by.
enum class NotPackets : std::uint8_t {
  lostSync,  // where the grid is lost until it is found again, or to the source's end
  cutOff,    // the source ends inside the packet due there
};

// Where the walk stands, carried from one stretch of bytes to the next.
struct PacketWalker {
  enum class State : std::uint8_t {
    searching,  // no packet begins before `next`; the grid is looked for from there
    candidate,  // a sync byte is at `next`, where a packet is due
    inSync,     // sync bytes are at `next` and one packet further
  };
  Framing framing;
  State state = State::searching;
  // The file offset the walk goes on from, and the packets taken before it. While a packet is
  // visited they are those of the run of packets it is in, so that its index is
  // packetIndex(walker, offset).
  std::int64_t next = 0;
  std::int64_t packets = 0;
  // Where the last packet's stamp, packet and trailer end. Bytes from here to where the next
  // packet's stamp begins are not packets.
  std::int64_t unitEnd = 0;
};

// A stretch of the source in memory: the byte at file offset `from` is at `bytes`, and the bytes
// up to `end` are there. Packets that begin at or after `stop` are left for the next stretch.
template <typename Byte>
struct WalkView {
  Byte* bytes;
  std::int64_t from;
  std::int64_t end;
  std::int64_t stop;
  bool ended;  // the source ends at `end`
};

// The file offset of a byte of the view.
template <typename Byte>
std::int64_t offsetIn(const WalkView<Byte>& view, const std::uint8_t* byte) {
  return view.from + (byte - view.bytes);
}

// The index of the packet at `offset` among those walked, while it is visited.
inline std::int64_t packetIndex(const PacketWalker& walker, std::int64_t offset) {
  return walker.packets + (offset - walker.next) / walker.framing.stride;
}

// The packet loops are lambdas that the walker calls in its own loop; each is to be compiled
// into it, as the loop it replaces was.
#if defined(__GNUC__)
#define CORVANE_INLINE_VISIT __attribute__((always_inline))
#define CORVANE_NOINLINE __attribute__((noinline))
#else
#define CORVANE_INLINE_VISIT
#define CORVANE_NOINLINE
#endif

namespace walk_detail {

// The first q in [first, last) at which a packet is whole and the sync byte recurs at q, one and
// two packets further (or the source ends before them), or -1. Where stamps count up, those of
// the three packets must too: a stamp byte that stays the same from packet to packet makes a grid
// of its own, a few bytes before the packets' sync bytes.
std::int64_t findGrid(const std::uint8_t* bytes, std::int64_t from, std::int64_t end, bool ended,
                      Framing framing, std::int64_t first, std::int64_t last);

inline bool syncAt(const std::uint8_t* bytes, std::int64_t from, std::int64_t end, bool ended,
                   std::int64_t at) {
  return at >= end ? ended : bytes[at - from] == kSyncByte;
}

// Visits the packets from `packet` on, each kStride bytes after the one before, while the sync
// byte recurs two packets on and the packet lies before `last`. False when visit stopped at
// `packet`; otherwise `packet` ends after the last one visited.
template <int kStride, typename Byte, typename Visit>
bool visitRun(Byte*& packet, Byte* last, Visit& visit) {
  Byte* at = packet;
  for (; at < last && at[2 * kStride] == kSyncByte; at += kStride) {
    if (!visit(at)) {
      packet = at;
      return false;
    }
  }
  packet = at;
  return true;
}

}  // namespace walk_detail

// Walks the packets of the view from `walker.next` on, calling visit(packet) for each (at file
// offset offsetIn(view, packet)), which returns false to stop there, and skip(offset, bytes,
// NotPackets) for bytes that are not packets. A packet is taken where its sync byte is and the
// next packet's follows one packet later, or the source ends, or no grid starts before the
// packet's own end: so the last whole packet before lost bytes is still a packet, and one cut
// short is not. The grid is found again where the sync byte recurs three times at the packet
// size. Stops where it needs bytes beyond the view; false when visit stopped it. (Packets whose
// sync byte recurs two packets on are taken in a loop of their own, which tests one byte each.)
template <typename Byte, typename Visit, typename Skip>
bool walkPackets(PacketWalker& walker, const WalkView<Byte>& view, Visit&& visit, Skip&& skip) {
  using State = PacketWalker::State;
  const std::int64_t stride = walker.framing.stride;
  const std::int64_t lead = walker.framing.lead;
  const auto* bytes = static_cast<const std::uint8_t*>(view.bytes);
  auto syncAt = [&](std::int64_t at) {
    return walk_detail::syncAt(bytes, view.from, view.end, view.ended, at);
  };
  auto findGrid = [&](std::int64_t first, std::int64_t last) {
    return walk_detail::findGrid(bytes, view.from, view.end, view.ended, walker.framing, first,
                                 last);
  };
  // Bytes from the last packet's unit to a grid found again at `at`.
  auto foundAgain = [&](std::int64_t at) {
    if (at - lead > walker.unitEnd) {
      skip(walker.unitEnd, at - lead - walker.unitEnd, NotPackets::lostSync);
      walker.unitEnd = at - lead;
    }
    walker.next = at;
    walker.state = State::inSync;
  };

  while (walker.next < view.stop) {
    std::int64_t at = walker.next;
    if (walker.state == State::inSync) {
      // Every packet whose sync byte recurs two packets on, while that byte is in the view: the
      // loop of each packet size on its own, so that the size is a constant in it.
      std::int64_t runEnd = std::min(view.stop, view.end - 2 * stride);
      Byte* const first = view.bytes + (at - view.from);
      Byte* const last = view.bytes + (runEnd - view.from);
      Byte* packet = first;
      bool stopped = stride == 188   ? !walk_detail::visitRun<188>(packet, last, visit)
                     : stride == 192 ? !walk_detail::visitRun<192>(packet, last, visit)
                                     : !walk_detail::visitRun<204>(packet, last, visit);
      if (packet > first) {
        walker.packets += (packet - first) / stride;
        at += packet - first;
        walker.unitEnd = at - lead;
      }
      walker.next = at;
      if (stopped) return false;
      if (at >= view.stop) break;
      if (at >= runEnd && !view.ended) break;  // the byte two packets on is still to come
      walker.state = State::candidate;
      continue;
    }

    if (walker.state == State::candidate) {
      if (at + kPacketSize > view.end) {
        if (!view.ended) break;
        skip(walker.unitEnd, view.end - walker.unitEnd, NotPackets::cutOff);
        walker.unitEnd = walker.next = view.end;
        break;
      }
      if (!view.ended && at + kWalkLookahead >= view.end) break;
      // Where the next packet's sync byte does not follow, either lost bytes follow this packet,
      // or this is the start of a packet cut short by them, when the grid starts again inside it
      // (or inside the stamp that would follow it).
      bool nextToo = syncAt(at + stride);
      if (!nextToo) {
        if (std::int64_t again = findGrid(at + 1, at + kPacketSize + lead); again >= 0) {
          foundAgain(again);
          continue;
        }
      }
      if (!visit(view.bytes + (at - view.from))) return false;
      ++walker.packets;
      walker.unitEnd = at - lead + stride;
      walker.next = nextToo ? at + stride : at + kPacketSize;
      walker.state = !nextToo                  ? State::searching
                     : syncAt(at + 2 * stride) ? State::inSync
                                               : State::candidate;
      continue;
    }

    // Searching, as far as the bytes in view can tell.
    std::int64_t last = std::min(view.stop, view.ended ? view.end : view.end - kGridReach);
    if (std::int64_t again = findGrid(at, last); again >= 0) {
      foundAgain(again);
      continue;
    }
    walker.next = std::max(at, last);
    if (view.ended && walker.next >= view.end && view.end > walker.unitEnd) {
      skip(walker.unitEnd, view.end - walker.unitEnd, NotPackets::lostSync);
      walker.unitEnd = view.end;
    }
    break;
  }
  if (view.ended && walker.next > view.end) walker.next = view.end;
  return true;
}

}  // namespace corvane
