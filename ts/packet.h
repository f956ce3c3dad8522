// Fields of a 188-byte transport packet, read in place at fixed byte positions. Where packets are,
// the walker finds (packet_walker.h).
#pragma once

#include <cstdint>

namespace corvane {

constexpr int kPacketSize = 188;
constexpr int kLastPacketByte = kPacketSize - 1;
constexpr int kPidCount = 8192;
constexpr int kNullPid = 0x1FFF;  // null packets; as a PCR_PID, a program without PCR

// Section keys: table_id followed by the top four bits of the byte after it
// (section_syntax_indicator 1, '0', reserved 11).
constexpr int kPatSectionKey = 0x0B;
constexpr int kPmtSectionKey = 0x2B;

// transport_error_indicator: the demodulator could not correct the packet, so nothing behind its
// header can be trusted.
inline bool transportError(const std::uint8_t* packet) { return packet[1] & 0x80; }
inline int packetPid(const std::uint8_t* packet) { return ((packet[1] & 0x1F) << 8) | packet[2]; }
inline bool payloadUnitStart(const std::uint8_t* packet) { return packet[1] & 0x40; }
inline bool hasAdaptationField(const std::uint8_t* packet) { return packet[3] & 0x20; }
inline bool hasPayload(const std::uint8_t* packet) { return packet[3] & 0x10; }
// transport_scrambling_control not 00: the payload is encrypted, so nothing in it can be read or
// written without corrupting what a descrambler needs. The adaptation field is never scrambled.
inline bool scrambled(const std::uint8_t* packet) { return packet[3] & 0xC0; }
// A payload that can be read: present and not scrambled, in one test.
inline bool clearPayload(const std::uint8_t* packet) { return (packet[3] & 0xD0) == 0x10; }

// The adaptation field's length when it carries a PCR: the flags byte and the six PCR bytes.
constexpr int kPcrAdaptationLength = 7;

// PCR_flag: the adaptation field is there, has its flags byte and flags a PCR.
inline bool pcrFlagged(const std::uint8_t* packet) {
  return hasAdaptationField(packet) && packet[4] >= 1 && (packet[5] & 0x10);
}
// A PCR is present when the field that flags it is long enough to hold one. A shorter field that
// flags one holds other bytes where the PCR would be.
inline bool carriesPcr(const std::uint8_t* packet) {
  return pcrFlagged(packet) && packet[4] >= kPcrAdaptationLength;
}

// random_access_indicator: the stream can be entered in this packet, as the encoder or the
// multiplexer saw it. A hint only, as some set it and some do not.
inline bool randomAccessIndicator(const std::uint8_t* packet) {
  return hasAdaptationField(packet) && packet[4] >= 1 && (packet[5] & 0x40);
}

// Where the PES header starts behind the 4-byte packet header: 0 without an adaptation field,
// else adaptation_field_length + 1 (which may point beyond the packet).
inline int pesOffsetOf(const std::uint8_t* packet) {
  return hasAdaptationField(packet) ? packet[4] + 1 : 0;
}

// PES header fields, by their position in the packet for a header that starts behind the
// packet header at pesOffset o: the start code prefix at 4 + o, the '10' marker in the top bits of
// the flags byte at 10 + o, PTS_DTS_flags in the top bits of the byte at 11 + o, and the five-byte
// PTS and DTS fields at 13 + o and 18 + o. An adaptation field can push any of them past the
// packet's end, so each is read only once its bound has been checked.
constexpr int kPtsDtsFlagsByte = 11;
constexpr int kPtsField = 13;
constexpr int kDtsField = 18;
constexpr int kTimestampSize = 5;

// A PES header starts at o: start code prefix and '10' marker, with the flags inside the packet.
inline bool startsPesHeader(const std::uint8_t* packet, int o) {
  return kPtsDtsFlagsByte + o <= kLastPacketByte && packet[4 + o] == 0x00 &&
         packet[5 + o] == 0x00 && packet[6 + o] == 0x01 && (packet[10 + o] & 0xC0) == 0x80;
}
// PTS_DTS_flags of a PES header that starts at o.
inline bool pesHasPts(const std::uint8_t* packet, int o) {
  return packet[kPtsDtsFlagsByte + o] & 0x80;
}
inline bool pesHasDts(const std::uint8_t* packet, int o) {
  return packet[kPtsDtsFlagsByte + o] & 0x40;
}
// The PES header at o carries a PTS, and a DTS when it flags one, inside the packet.
inline bool pesTimestampsFit(const std::uint8_t* packet, int o) {
  int last = (pesHasDts(packet, o) ? kDtsField : kPtsField) + kTimestampSize - 1 + o;
  return last <= kLastPacketByte;
}

// table_id and the four bits behind it of a section; a one-service recording's sections are only
// recognised where they begin at byte 5 of a packet, behind a zero pointer_field.
inline int sectionKeyOf(const std::uint8_t* section) {
  return (section[0] << 4) + (section[1] >> 4);
}
inline int sectionKey(const std::uint8_t* packet) { return sectionKeyOf(packet + 5); }

inline int continuityCounter(const std::uint8_t* packet) { return packet[3] & 0x0F; }
// Stores a continuity counter, keeping scrambling and adaptation_field_control.
inline void setContinuityCounter(std::uint8_t* packet, int counter) {
  packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | counter);
}

}  // namespace corvane
