// Fields of a 188-byte transport packet, read in place at fixed byte positions. The sync byte is
// never checked; the file is taken to begin on a packet boundary.
#pragma once

#include <cstdint>

namespace corvane {

constexpr int kPacketSize = 188;
constexpr int kLastPacketByte = kPacketSize - 1;
constexpr int kPidCount = 8192;

// Section keys: table_id followed by the top four bits of the byte after it
// (section_syntax_indicator 1, '0', reserved 11).
constexpr int kPatSectionKey = 0x0B;
constexpr int kPmtSectionKey = 0x2B;

inline int packetPid(const std::uint8_t* packet) { return ((packet[1] & 0x1F) << 8) | packet[2]; }
inline bool payloadUnitStart(const std::uint8_t* packet) { return packet[1] & 0x40; }
inline bool hasAdaptationField(const std::uint8_t* packet) { return packet[3] & 0x20; }
inline bool hasPayload(const std::uint8_t* packet) { return packet[3] & 0x10; }

// A PCR is present when the adaptation field is there, is not empty and has PCR_flag set.
inline bool carriesPcr(const std::uint8_t* packet) {
  return hasAdaptationField(packet) && packet[4] != 0 && (packet[5] & 0x10);
}

// Where the PES header starts behind the 4-byte packet header: 0 without an adaptation field,
// else adaptation_field_length + 1 (which may point beyond the packet).
inline int pesOffsetOf(const std::uint8_t* packet) {
  return hasAdaptationField(packet) ? packet[4] + 1 : 0;
}

// A PSI section is only recognised where it begins at byte 5, behind a zero pointer_field.
inline int sectionKey(const std::uint8_t* packet) { return (packet[5] << 4) + (packet[6] >> 4); }
inline int sectionLength(const std::uint8_t* packet) {
  return ((packet[6] & 0x0F) << 8) | packet[7];
}

// Stores a continuity counter, keeping scrambling and adaptation_field_control.
inline void setContinuityCounter(std::uint8_t* packet, int counter) {
  packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | counter);
}

}  // namespace corvane
