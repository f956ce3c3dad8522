// Codecs of the clock fields: the PCR of an adaptation field and the PTS/DTS of a PES header.
// They read and write the bytes in place and check nothing; callers have established that the
// field is present and lies inside its packet.
#pragma once

#include <cstdint>

namespace corvane {

constexpr std::int64_t kMaxPts = 8589934591;     // 2^33 - 1, the largest PTS a field can carry
constexpr std::int64_t kMaxPcr = 2576980377811;  // (2^33 - 1) x 300 + 511, base and extension full

// PCR in 27 MHz ticks (base x 300 + extension) from bytes 6..11 of the packet.
// Extensions of 300..511 are taken as they stand.
std::int64_t readPcr(const std::uint8_t* packet);

// Writes a 27 MHz value into bytes 6..11: base modulo 2^33, extension 0..299, reserved bits 0.
// A negative value is stored modulo 2^33 x 300.
void writePcr(std::uint8_t* packet, std::int64_t value);

// The value that writePcr stores for `value`: base modulo 2^33, extension 0..299.
constexpr std::int64_t pcrAsWritten(std::int64_t value) {
  constexpr std::int64_t kBaseModulus = std::int64_t{1} << 33;
  std::int64_t base = value / 300 - (value % 300 < 0 ? 1 : 0);
  std::int64_t extension = value - base * 300;
  return (base % kBaseModulus + kBaseModulus) % kBaseModulus * 300 + extension;
}

// A step between two times that 33-bit fields carry, 90 kHz, as the nearest either way: a step of
// more than half the fields' range goes the other way round their wrap.
constexpr std::int64_t ptsStep(std::int64_t step) {
  constexpr std::int64_t kModulus = std::int64_t{1} << 33;
  std::int64_t rest = (step % kModulus + kModulus) % kModulus;
  return rest > kModulus / 2 ? rest - kModulus : rest;
}

// 90 kHz value of the five-byte PTS or DTS field; prefix and marker bits are ignored.
std::int64_t readPesTimestamp(const std::uint8_t* field);

// Writes a 90 kHz value modulo 2^33, keeping the prefix nibble and the three marker bits.
void writePesTimestamp(std::uint8_t* field, std::int64_t value);

}  // namespace corvane
