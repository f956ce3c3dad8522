#include "ts/timestamp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>

namespace corvane {
namespace {

using Six = std::array<std::uint8_t, 6>;

Six pcrBytesAfterWriting(std::int64_t value) {
  std::uint8_t packet[188] = {};
  writePcr(packet, value);
  return {packet[6], packet[7], packet[8], packet[9], packet[10], packet[11]};
}

std::int64_t readPcrBytes(const Six& bytes) {
  std::uint8_t packet[188] = {};
  std::copy(bytes.begin(), bytes.end(), packet + 6);
  return readPcr(packet);
}

TEST(PcrField, WritesAndReadsKnownByteVectors) {
  const struct {
    std::int64_t value;
    Six bytes;
  } cases[] = {
      {97200000000, {0x09, 0xA7, 0xEC, 0x80, 0x00, 0x00}},
      {97200000299, {0x09, 0xA7, 0xEC, 0x80, 0x01, 0x2B}},
      {2576980377599, {0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x2B}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pcrBytesAfterWriting(c.value), c.bytes) << c.value;
    EXPECT_EQ(readPcrBytes(c.bytes), c.value);
  }
}

TEST(PcrField, FullExtensionReadsAsMaxAndIsNormalisedOnWriting) {
  EXPECT_EQ(readPcrBytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), kMaxPcr);
  EXPECT_EQ(kMaxPcr, 2576980377811);
  // Base 2^33 is stored as 0; the extension 211 remains.
  EXPECT_EQ(pcrBytesAfterWriting(kMaxPcr), (Six{0x00, 0x00, 0x00, 0x00, 0x00, 0xD3}));
}

TEST(PcrField, ReservedBitsAreIgnoredOnReadingAndClearedOnWriting) {
  EXPECT_EQ(readPcrBytes({0x12, 0x34, 0x56, 0x78, 0x7E, 0x9A}),
            readPcrBytes({0x12, 0x34, 0x56, 0x78, 0x00, 0x9A}));
  std::uint8_t packet[188] = {};
  packet[10] = 0x7E;
  writePcr(packet, 12345);
  EXPECT_EQ(packet[10] & 0x7E, 0);
}

TEST(PcrField, NegativeValuesAreStoredModuloTheFieldRange) {
  // -1 is 2^33 x 300 - 1: base 2^33 - 1, extension 299.
  EXPECT_EQ(pcrBytesAfterWriting(-1), (Six{0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x2B}));
  // -300 is base 2^33 - 1, extension 0; -301 is base 2^33 - 2, extension 299.
  EXPECT_EQ(pcrBytesAfterWriting(-300), (Six{0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00}));
  EXPECT_EQ(pcrBytesAfterWriting(-301), (Six{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x2B}));
  // What the report gives for a PCR is what the field holds: base 2^33 - 1, extension 299.
  EXPECT_EQ(pcrAsWritten(-1), 2576980377599);
  EXPECT_EQ(pcrAsWritten(-301), 2576980377299);
  EXPECT_EQ(pcrAsWritten(kMaxPcr), 211);
}

TEST(PcrField, RoundTripsOverTheWholeRange) {
  std::vector<std::int64_t> values = {0, 1, 299, 300, 301, 2576980377599};
  for (int bit = 0; bit < 42; ++bit) values.push_back(std::int64_t{1} << bit);
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i)
    values.push_back(static_cast<std::int64_t>(random() % 2576980377600));
  for (std::int64_t value : values) {
    if (value >= 2576980377600) continue;
    std::uint8_t packet[188] = {};
    writePcr(packet, value);
    EXPECT_EQ(readPcr(packet), value);
  }
}

using Five = std::array<std::uint8_t, 5>;

Five ptsAfterWriting(Five field, std::int64_t value) {
  std::uint8_t buffer[16] = {};
  std::copy(field.begin(), field.end(), buffer + 3);
  writePesTimestamp(buffer + 3, value);
  return {buffer[3], buffer[4], buffer[5], buffer[6], buffer[7]};
}

TEST(PesTimestampField, WritesKnownByteVectorsKeepingPrefixAndMarkers) {
  const Five pts = {0x21, 0x00, 0x01, 0x00, 0x01};
  EXPECT_EQ(ptsAfterWriting(pts, 324000000), (Five{0x21, 0x4D, 0x3F, 0xB2, 0x01}));
  EXPECT_EQ(ptsAfterWriting(pts, kMaxPts), (Five{0x2F, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(ptsAfterWriting({0x2F, 0xFF, 0xFF, 0xFF, 0xFF}, 0),
            (Five{0x21, 0x00, 0x01, 0x00, 0x01}));
  EXPECT_EQ(ptsAfterWriting({0x31, 0, 1, 0, 1}, 324000000)[0], 0x31);
  EXPECT_EQ(ptsAfterWriting({0x11, 0, 1, 0, 1}, 324000000)[0], 0x11);
  // Markers that are 0 stay 0.
  EXPECT_EQ(ptsAfterWriting({0x20, 0x00, 0x00, 0x00, 0x00}, kMaxPts),
            (Five{0x2E, 0xFF, 0xFE, 0xFF, 0xFE}));
}

TEST(PesTimestampField, OutOfRangeValuesAreStoredModulo2To33) {
  const Five pts = {0x31, 0x00, 0x01, 0x00, 0x01};
  EXPECT_EQ(ptsAfterWriting(pts, (std::int64_t{1} << 33) + 5), ptsAfterWriting(pts, 5));
  EXPECT_EQ(ptsAfterWriting(pts, -1), (Five{0x3F, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(PesTimestampField, ReadingIgnoresPrefixAndMarkers) {
  std::uint8_t a[5] = {0x21, 0x4D, 0x3F, 0xB2, 0x01};
  std::uint8_t b[5] = {0xF0, 0x4D, 0x3E, 0xB2, 0x00};
  EXPECT_EQ(readPesTimestamp(a), 324000000);
  EXPECT_EQ(readPesTimestamp(b), 324000000);
}

TEST(PesTimestampField, RoundTripsOverTheWholeRange) {
  std::vector<std::int64_t> values = {0, 1, 299, 300, kMaxPts};
  for (int bit = 0; bit < 33; ++bit) values.push_back(std::int64_t{1} << bit);
  std::mt19937_64 random(11);
  for (int i = 0; i < 2000; ++i) values.push_back(static_cast<std::int64_t>(random() & kMaxPts));
  for (std::uint8_t marker : {std::uint8_t{0}, std::uint8_t{1}}) {
    for (std::int64_t value : values) {
      std::uint8_t field[5] = {static_cast<std::uint8_t>(0x20 | marker), 0, marker, 0, marker};
      writePesTimestamp(field, value);
      EXPECT_EQ(readPesTimestamp(field), value);
      EXPECT_EQ(field[0] & 0xF1, 0x20 | marker);
      EXPECT_EQ(field[2] & 1, marker);
      EXPECT_EQ(field[4] & 1, marker);
    }
  }
}

}  // namespace
}  // namespace corvane
