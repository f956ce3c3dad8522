// libFuzzer target: arbitrary bytes as a settings byte and a source recording, through the
// survey and the rewrite pass exactly as the tool runs them, with the destination checked. The
// files are in memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string broken = corvane::fuzzing::runInput(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "the pass broke its promise: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
