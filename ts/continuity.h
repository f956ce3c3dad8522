// The stream's continuity counters, renumbered per PID from the first packet on, and what the
// source's own counters tell of each PID: its packets, and those errored, lost and scrambled.
#pragma once

#include <cstdint>
#include <memory>

#include "ts/packet.h"

namespace corvane {

// What the source's packets of one PID held.
struct PidCounts {
  std::int64_t errors = 0;     // transport_error_indicator set
  std::int64_t drops = 0;      // where the source's counter skipped: packets lost before
  std::int64_t scrambled = 0;  // transport_scrambling_control not 00
};

inline PidCounts& operator+=(PidCounts& sum, const PidCounts& counts) {
  sum.errors += counts.errors;
  sum.drops += counts.drops;
  sum.scrambled += counts.scrambled;
  return sum;
}

struct ContinuityCounters {
  // Byte 3 of a PID's next packet, when it follows the last one in order with a clear payload:
  // transport_scrambling_control 00, a payload, and the source's counter after the last one.
  // kNotSeen for a PID not seen yet, which no packet matches; kDuplicated marks the packet after a
  // duplicate.
  static constexpr std::uint16_t kNotSeen = 0x100;
  static constexpr std::uint16_t kDuplicated = 0x200;
  std::uint16_t expected[kPidCount];
  // What the renumbering adds to the source's counter, modulo 16, while the source counts on,
  // times 256: the row of kCounterTables.renumbered that renumbers the PID's packets.
  std::uint16_t shift[kPidCount];
  std::int64_t packets[kPidCount];
  PidCounts counts[kPidCount];
};

// The counters of a new stream, every PID not seen yet, in memory that the system hands over
// zeroed (so that most of it is never written before its PID comes); null without memory.
using CountersPointer = std::unique_ptr<ContinuityCounters, void (*)(void*)>;
CountersPointer makeContinuityCounters();

// The bits of byte 3 that a packet in order matches: all but the adaptation field's presence.
constexpr unsigned kInOrderBits = 0x1DF;

// Looked up on the packet path rather than computed: for each byte 3, what its PID expects next;
// for each shift and byte 3, the byte renumbered.
struct CounterTables {
  std::uint16_t next[256];
  std::uint8_t renumbered[16 * 256];
};
inline constexpr CounterTables kCounterTables = [] {
  CounterTables tables{};
  for (unsigned header = 0; header < 256; ++header) {
    tables.next[header] = static_cast<std::uint16_t>(0x10 | ((header + 1) & 0x0F));
    for (unsigned shift = 0; shift < 16; ++shift) {
      tables.renumbered[shift * 256 + header] =
          static_cast<std::uint8_t>((header & 0xF0) | ((header + shift) & 0x0F));
    }
  }
  return tables;
}();

// A packet that follows its PID's last one in order, with a clear payload: takes its PID's next
// counter, and true. False, leaving the packet alone, for any other: the packet then goes to
// renumberOutOfOrder. One test for both, on the packet path.
inline bool renumberInOrder(ContinuityCounters& counters, std::uint8_t* packet, int pid) {
  std::size_t header = packet[3];
  if (((header ^ counters.expected[pid]) & kInOrderBits) != 0) return false;
  counters.expected[pid] = kCounterTables.next[header];
  packet[3] = kCounterTables.renumbered[counters.shift[pid] + header];
  ++counters.packets[pid];
  return true;
}

// Any other packet: it takes its PID's next counter (a packet without payload repeats it, and a
// PID's first packet gets 0), and is counted. True when the source lost packets before it: its
// counter skipped, neither a duplicate (the same counter once more), nor a packet without payload,
// nor one that flags a discontinuity, nor a PID's first packet, nor an errored packet, whose
// counter cannot be trusted, nor a null packet, whose counter means nothing.
bool renumberOutOfOrder(ContinuityCounters& counters, std::uint8_t* packet, int pid);

// A joint: the packet, renumbered already, skips one more value, which players and editors take
// for a discontinuity.
inline void skipOneCount(ContinuityCounters& counters, std::uint8_t* packet) {
  int pid = packetPid(packet);
  counters.shift[pid] = static_cast<std::uint16_t>((counters.shift[pid] + 256) & 0x0F00);
  setContinuityCounter(packet, (continuityCounter(packet) + 1) & 0x0F);
}

}  // namespace corvane
