// Standard input and output ("-") as the source and the destination, through real pipes.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "output/messages.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;
using testing::readFile;
using testing::RunOptions;
using testing::RunResult;
using testing::ToolFolder;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The console of a complete run whose source is a stream, with these progress lines.
std::regex streamRun(const std::string& progress) {
  return std::regex(testing::timeLinePattern(msg::kStartTime) + msg::kSurveyProgress + progress +
                    testing::timeLinePattern(testing::printed(msg::kRewriteDone, 0).c_str()) +
                    testing::timeLinePattern(msg::kEndTime));
}

std::string megabytesLine(int megabytes) {
  return testing::printed(msg::kRewriteProgressMegabytes, megabytes);
}

TEST(Pipeline, StreamsGiveTheBytesOfNamedFiles) {
  ToolFolder folder;
  testing::writeFile(folder / "rec.ts", gen::makeRecording(gen::sampleOptions()).bytes);
  RunResult named = folder.run({"-log", "on", "rec.ts", "out.ts"});
  ASSERT_EQ(named.status, 1) << named.err;
  const Bytes output = readFile(folder / "out.ts");
  const RunOptions piped = {
      .input = folder / "rec.ts", .inputThroughPipe = true, .stdout_ = RunOptions::Stdout::pipe};

  // Standard output carries the recording alone; the console goes to standard error.
  RunResult streams = folder.run({"-"}, piped);
  EXPECT_EQ(streams.status, 1);
  EXPECT_TRUE(bytesOf(streams.out) == output);
  EXPECT_TRUE(std::regex_match(streams.err, streamRun(megabytesLine(0)))) << streams.err;

  // From a stream the time log takes the destination's name.
  RunResult fromStream = folder.run({"-log", "on", "-", "piped.ts"},
                                    {.input = folder / "rec.ts", .inputThroughPipe = true});
  EXPECT_EQ(fromStream.status, 1);
  EXPECT_TRUE(readFile(folder / "piped.ts") == output);
  EXPECT_EQ(testing::readText(folder / "piped_Time.log"),
            testing::readText(folder / "rec_Time.log"));
  EXPECT_TRUE(std::regex_match(fromStream.out, streamRun(megabytesLine(0)))) << fromStream.out;

  // A named source to standard output, as into an encoder.
  RunResult toStream = folder.run({"rec.ts", "-"});
  EXPECT_EQ(toStream.status, 1);
  EXPECT_TRUE(bytesOf(toStream.out) == output);

  // With both ends streams, no time log can be named.
  RunResult noLog = folder.run({"-log", "on", "-", "-"}, piped);
  EXPECT_EQ(noLog.status, 0);
  EXPECT_EQ(noLog.out, "");
  EXPECT_EQ(noLog.err, std::string(msg::kUsageTitle) + msg::kUsageBody + msg::kUsagePressEnter);
}

TEST(Pipeline, WhatCannotGoThroughIsRefused) {
  ToolFolder folder;
  const Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "rec.ts", source);
  testing::writeFile(folder / "empty.ts", {});

  RunResult empty = folder.run({"-", "-"}, {.input = folder / "empty.ts",
                                            .inputThroughPipe = true,
                                            .stdout_ = RunOptions::Stdout::pipe});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_TRUE(empty.err.ends_with(msg::kDamagedInfo)) << empty.err;

  // A reader that goes away is a write error, not the end of the tool by a signal.
  RunResult gone = folder.run({"rec.ts", "-"}, {.stdout_ = RunOptions::Stdout::brokenPipe});
  EXPECT_EQ(gone.status, 1);
  EXPECT_TRUE(gone.err.ends_with(testing::printed(msg::kWriteError, testing::kPipeClosed)))
      << gone.err;

  // Standard output appended to the source itself. On Windows the shell's handle writes to the
  // source, which the tool then cannot open without write sharing.
  RunResult intoSource = folder.run({"rec.ts", "-"}, {.output = folder / "rec.ts"});
  EXPECT_EQ(intoSource.status, 1);
#ifdef _WIN32
  const char* refusal = msg::kReadOpenError;
#else
  const char* refusal = msg::kWriteOpenError;
#endif
  EXPECT_TRUE(intoSource.err.ends_with(testing::printed(refusal, testing::kFileInUse)))
      << intoSource.err;
#ifndef _WIN32
  // Recordings are not written to terminals.
  RunResult terminal = folder.run({"rec.ts", "-"}, {.stdout_ = RunOptions::Stdout::terminal});
  EXPECT_EQ(terminal.status, 0);
  EXPECT_TRUE(terminal.err.ends_with(msg::kUsagePressEnter));
#endif
  EXPECT_TRUE(readFile(folder / "rec.ts") == source);
}

TEST(Pipeline, StreamProgressShowsMegabytesOncePer64) {
  ToolFolder folder;
  Bytes stream = testing::acceptedStream();
  while (stream.size() < (std::size_t{64} << 20)) gen::appendNull(stream);
  for (int k = 2; k < 6; ++k) gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000 + k * 2700000);
  testing::writeFile(folder / "rec.ts", stream);
  RunResult result = folder.run(
      {"-", "-"},
      {.input = folder / "rec.ts", .inputThroughPipe = true, .stdout_ = RunOptions::Stdout::pipe});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.size(), stream.size());
  EXPECT_TRUE(std::regex_match(result.err, streamRun(megabytesLine(0) + megabytesLine(64))))
      << result.err;
}

}  // namespace
}  // namespace corvane
