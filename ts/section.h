// PSI sections gathered across the packets of one PID, as a whole transport stream carries them:
// a section begins behind the pointer_field of a packet that starts one and goes on in the
// packets after it. A whole section is read only once its CRC_32 holds.
#pragma once

#include <cstdint>

#include "ts/packet.h"

namespace corvane {

// 3 header bytes and a section_length of at most 1,021, as PAT and PMT sections have.
constexpr int kMaxSectionSize = 1024;

struct SectionAssembler {
  std::uint8_t bytes[kMaxSectionSize];
  int filled = 0;         // bytes of the section in hand; 0 while none is begun
  bool skipping = false;  // the section in hand is longer than a PAT or PMT can be: not kept
  int counter = -1;       // the source's continuity_counter of the PID's last packet with payload
};

// Where a section's bytes are, and how many of them there are. The bounds of every read.
struct Section {
  const std::uint8_t* bytes;  // table_id first
  int size;
};

// section_length, and the bytes the section takes with its header.
inline int sectionLengthOf(const std::uint8_t* section) {
  return ((section[1] & 0x0F) << 8) | section[2];
}

// True when the CRC_32 of the section, which ends its `size` bytes, holds.
bool crcHolds(const std::uint8_t* section, int size);

// Takes the payload of the next packet of the PID, whose continuity_counter in the source is
// `counter`, and calls take(Section) for each whole section whose CRC_32 holds (or that carries
// none), the CRC_32 included. A repeated packet (the same counter again) adds nothing, and a
// packet lost before this one ends the section in hand. Returns how many sections failed their
// CRC_32 or were cut short, by a lost packet or a new section. The caller does not give it
// errored or scrambled packets.
int gatherSections(SectionAssembler& assembler, const std::uint8_t* packet, int counter,
                   void (*take)(void* context, Section section), void* context);

// Forgets the section in hand and the last counter, as at the start of a new pass.
inline void resetSections(SectionAssembler& assembler) {
  assembler.filled = 0;
  assembler.skipping = false;
  assembler.counter = -1;
}

}  // namespace corvane
