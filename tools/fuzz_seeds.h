// The fuzz target's seeds: recordings behind the settings byte (bit 0 nogop, bit 1 pmtcheck,
// bit 2 log, bit 3 a destination that cannot be cut back).
#pragma once

#include <string>
#include <vector>

#include "tools/stream_generator.h"

namespace corvane::streamgen {

struct FuzzSeed {
  std::string name;
  Bytes bytes;  // the settings byte, then the recording
};

// Small valid and almost valid recordings, within the survey's block: the committed corpus.
std::vector<FuzzSeed> smallFuzzSeeds();

// Recordings of three blocks and more (6,930,432 bytes), under 8,000,000 bytes with the settings
// byte, so that the fuzzer crosses blocks: joints and a wrap, a PMT that stops the pass in the
// third block, damage on block edges, a source cut inside a packet, destinations that cannot be
// cut. Made when needed, not committed.
std::vector<FuzzSeed> largeFuzzSeeds();

}  // namespace corvane::streamgen
