// One input of the fuzz target, shared by the fuzzer and by the test that replays the seed
// corpus: the first byte chooses the settings (bit 0 nogop, bit 1 pmtcheck, bit 2 log, bit 4
// every service of a multiplex, bit 5 clean joints) and a destination that cannot be cut back, as
// a pipe (bit 3); the rest is a recording, run through
// the survey and the rewrite pass exactly as the tool runs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::fuzzing {

// Runs the input and checks what the pass wrote against the recording: after a complete pass
// the destination has the recording's length, after a stop it holds whole blocks, and in either
// case only continuity counters and PCR, PTS and DTS fields differ from the recording. Returns
// what broke, or an empty text.
std::string runInput(const std::uint8_t* data, std::size_t size);

}  // namespace corvane::fuzzing
