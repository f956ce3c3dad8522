#include "ts/timestamp.h"

namespace corvane {

std::int64_t readPcr(const std::uint8_t* b) {
  std::int64_t base = std::int64_t{b[6]} << 25 | std::int64_t{b[7]} << 17 |
                      std::int64_t{b[8]} << 9 | std::int64_t{b[9]} << 1 | b[10] >> 7;
  std::int64_t extension = (b[10] & 0x01) << 8 | b[11];
  return base * 300 + extension;
}

void writePcr(std::uint8_t* b, std::int64_t value) {
  std::int64_t written = pcrAsWritten(value);
  std::int64_t base = written / 300;
  std::int64_t extension = written % 300;
  b[6] = static_cast<std::uint8_t>(base >> 25);
  b[7] = static_cast<std::uint8_t>(base >> 17);
  b[8] = static_cast<std::uint8_t>(base >> 9);
  b[9] = static_cast<std::uint8_t>(base >> 1);
  b[10] = static_cast<std::uint8_t>((base & 0x01) << 7 | extension >> 8);
  b[11] = static_cast<std::uint8_t>(extension & 0xFF);
}

std::int64_t readPesTimestamp(const std::uint8_t* b) {
  return std::int64_t{(b[0] >> 1) & 0x07} << 30 | std::int64_t{b[1]} << 22 |
         std::int64_t{b[2] >> 1} << 15 | std::int64_t{b[3]} << 7 | b[4] >> 1;
}

void writePesTimestamp(std::uint8_t* b, std::int64_t value) {
  // Two's complement bits 32..0: a negative value lands modulo 2^33.
  std::uint64_t bits = static_cast<std::uint64_t>(value);
  b[0] = static_cast<std::uint8_t>((b[0] & 0xF1) | ((bits >> 30) & 0x07) << 1);
  b[1] = static_cast<std::uint8_t>(bits >> 22);
  b[2] = static_cast<std::uint8_t>(((bits >> 15) & 0x7F) << 1 | (b[2] & 0x01));
  b[3] = static_cast<std::uint8_t>(bits >> 7);
  b[4] = static_cast<std::uint8_t>((bits & 0x7F) << 1 | (b[4] & 0x01));
}

}  // namespace corvane
