#include "ts/section.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace corvane {

namespace {

// CRC_32 of ISO/IEC 13818-1 (polynomial 0x04C11DB7, most significant bit first, no reflection,
// no final inversion), a byte at a time.
constexpr std::array<std::uint32_t, 256> crcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    table[byte] = crc;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = crcTable();

struct Gathering {
  SectionAssembler& assembler;
  int failed = 0;  // sections that failed their CRC_32 or were cut short
  void (*take)(void*, Section);
  void* context;
};

// Adds up to `size` bytes to the section in hand and returns how many it took: none beyond the
// section's end, which it reaches once they are all in.
int append(Gathering& gathering, const std::uint8_t* data, int size) {
  SectionAssembler& assembler = gathering.assembler;
  int taken = 0;
  while (assembler.filled < 3 && taken < size) assembler.bytes[assembler.filled++] = data[taken++];
  if (assembler.filled < 3) return taken;
  int total = 3 + sectionLengthOf(assembler.bytes);
  // A longer section is some other table's: its bytes are passed over, and it counts for
  // nothing.
  assembler.skipping = total > kMaxSectionSize;
  int count = std::min(total - assembler.filled, size - taken);
  if (!assembler.skipping) {
    std::memcpy(assembler.bytes + assembler.filled, data + taken, static_cast<std::size_t>(count));
  }
  assembler.filled += count;
  taken += count;
  if (assembler.filled < total) return taken;
  if (!assembler.skipping) {
    // Sections without section_syntax_indicator carry no CRC_32.
    if (!(assembler.bytes[1] & 0x80) || crcHolds(assembler.bytes, total)) {
      gathering.take(gathering.context, Section{assembler.bytes, total});
    } else {
      ++gathering.failed;
    }
  }
  assembler.filled = 0;
  assembler.skipping = false;
  return taken;
}

// The section in hand is cut short.
void abandon(Gathering& gathering) {
  if (!gathering.assembler.skipping) ++gathering.failed;
  gathering.assembler.filled = 0;
  gathering.assembler.skipping = false;
}

}  // namespace

bool crcHolds(const std::uint8_t* section, int size) {
  if (size < 4) return false;
  std::uint32_t crc = 0xFFFFFFFF;
  for (int i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable[(crc >> 24) ^ section[i]];
  return crc == 0;
}

int gatherSections(SectionAssembler& assembler, const std::uint8_t* packet, int counter,
                   void (*take)(void* context, Section section), void* context) {
  Gathering gathering{assembler, 0, take, context};
  if (!hasPayload(packet)) return 0;
  if (assembler.counter >= 0 && counter == assembler.counter) return 0;  // a repeated packet
  if (assembler.counter >= 0 && counter != ((assembler.counter + 1) & 0x0F) &&
      assembler.filled > 0) {
    abandon(gathering);  // a packet was lost
  }
  assembler.counter = counter;
  int start = hasAdaptationField(packet) ? 5 + packet[4] : 4;
  const std::uint8_t* payload = packet + start;
  int left = kPacketSize - start;
  if (left <= 0) return gathering.failed;

  if (!payloadUnitStart(packet)) {
    if (assembler.filled > 0) append(gathering, payload, left);
    return gathering.failed;
  }
  // The bytes before the pointer end the section in hand; a new one begins behind them.
  int pointer = payload[0];
  ++payload;
  --left;
  if (assembler.filled > 0) {
    append(gathering, payload, std::min(pointer, left));
    if (assembler.filled > 0) abandon(gathering);
  }
  if (pointer >= left) return gathering.failed;
  payload += pointer;
  left -= pointer;
  // Sections follow one another until the packet or stuffing (0xFF) ends them.
  while (left > 0 && payload[0] != 0xFF) {
    int taken = append(gathering, payload, left);
    payload += taken;
    left -= taken;
    if (assembler.filled > 0) break;  // it goes on in the next packet
  }
  return gathering.failed;
}

}  // namespace corvane
