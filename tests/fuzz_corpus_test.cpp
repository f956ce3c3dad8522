// The fuzz target's seeds replayed as a test, so that every build that runs the suite (the
// sanitizers and the Windows and arm64 builds too) runs them through the same checks: the
// committed corpus and the seeds of three blocks and more, which are made here.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/fuzz/fuzz_run.h"
#include "tests/test_support.h"
#include "tools/fuzz_seeds.h"

namespace corvane {
namespace {

TEST(FuzzCorpus, EverySeedKeepsThePassPromises) {
  std::vector<streamgen::FuzzSeed> seeds = streamgen::largeFuzzSeeds();
  for (const auto& entry : std::filesystem::directory_iterator(CORVANE_FUZZ_CORPUS)) {
    seeds.push_back({entry.path().filename().string(), testing::readFile(entry.path())});
  }
  EXPECT_GE(seeds.size(), 16u);
  for (const streamgen::FuzzSeed& seed : seeds) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string broken = fuzzing::runInput(seed.bytes.data(), seed.bytes.size());
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(broken, "") << seed.name;
  }
}

}  // namespace
}  // namespace corvane
