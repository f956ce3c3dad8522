// The fuzz target's seed corpus replayed as a test, so that every build that runs the suite
// (the sanitizers and the Windows build too) runs the seeds through the same checks.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/fuzz/fuzz_run.h"
#include "tests/test_support.h"

namespace corvane {
namespace {

TEST(FuzzCorpus, EverySeedKeepsThePassPromises) {
  int seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CORVANE_FUZZ_CORPUS)) {
    testing::Bytes input = testing::readFile(entry.path());
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string broken = fuzzing::runInput(input.data(), input.size());
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(broken, "") << entry.path().filename();
    ++seeds;
  }
  EXPECT_GE(seeds, 8);
}

}  // namespace
}  // namespace corvane
