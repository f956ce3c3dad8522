// Damaged and hostile recordings through the executable: each ends with its message and exit
// status, the destination absent or exactly as documented, and the source unchanged.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>

#include "stream/messages.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
namespace gen = streamgen;
using testing::Bytes;
using testing::readFile;
using testing::RunResult;
using testing::ToolFolder;

struct Outcome {
  RunResult result;
  bool destination;
  Bytes output;
};

Outcome runOn(const ToolFolder& folder, const Bytes& source,
              std::vector<std::string> options = {}) {
  testing::writeFile(folder / "bad.ts", source);
  fs::remove(folder / "bad.000.ts");
  options.push_back("bad.ts");
  Outcome run{folder.run(options), fs::exists(folder / "bad.000.ts"), {}};
  if (run.destination) run.output = readFile(folder / "bad.000.ts");
  EXPECT_EQ(readFile(folder / "bad.ts"), source) << "the source changed";
  EXPECT_LT(run.result.status, 2) << "the tool crashed: " << run.result.err;
  return run;
}

// Every byte but the continuity counters equal.
void expectOnlyCountersDiffer(const Bytes& output, const Bytes& source, std::size_t from) {
  ASSERT_EQ(output.size(), source.size());
  for (std::size_t at = from; at < source.size(); ++at) {
    if (at % 188 == 3) {
      ASSERT_EQ(output[at] & 0xF0, source[at] & 0xF0) << at;
    } else {
      ASSERT_EQ(output[at], source[at]) << at;
    }
  }
}

TEST(BadInput, RandomBytesAreRefusedCleanly) {
  ToolFolder folder;
  std::mt19937 random(2024);
  for (std::size_t size : {1u, 187u, 188u, 5000u, 100000u}) {
    Bytes noise(size);
    for (std::uint8_t& byte : noise) byte = static_cast<std::uint8_t>(random());
    for (const char* pmtcheck : {"on", "off"}) {
      Outcome run = runOn(folder, noise, {"-pmtcheck", pmtcheck, "-nogop", "on"});
      if (run.result.status == 0) {
        EXPECT_FALSE(run.destination);
        EXPECT_FALSE(run.result.err.empty());
      } else {
        EXPECT_EQ(run.output.size(), noise.size());
      }
    }
  }
}

TEST(BadInput, SyncBytesAreNeverLookedAt) {
  ToolFolder folder;
  gen::Recording recording = gen::makeRecording(gen::sampleOptions());
  Outcome proper = runOn(folder, recording.bytes);
  Bytes zeroed = recording.bytes;
  for (std::size_t at = 0; at < zeroed.size(); at += 188) zeroed[at] = 0x00;
  Outcome damaged = runOn(folder, zeroed);
  EXPECT_EQ(damaged.result.status, 1);
  for (std::size_t at = 0; at < zeroed.size(); at += 188) proper.output[at] = 0x00;
  EXPECT_EQ(damaged.output, proper.output);
}

TEST(BadInput, OverlongAdaptationFieldsStayInsideTheirPacket) {
  ToolFolder folder;
  Bytes source = testing::acceptedStream();
  std::size_t from = source.size();
  for (int length = 183; length <= 255; ++length) {
    gen::PesStart pes;  // PES start behind the field: left alone
    pes.pts = 324012012;
    pes.dts = 324009009;
    pes.adaptationLength = length;
    gen::appendPesStart(source, pes);
    gen::appendPayload(source, gen::kPmtPid, 0, 0x02);  // a table packet with the field
    source.back() = 0x00;
    source[source.size() - 188 + 3] = 0x30;
    source[source.size() - 188 + 4] = static_cast<std::uint8_t>(length);
  }
  Outcome run = runOn(folder, source, {"-pmtcheck", "on", "-log", "on"});
  EXPECT_EQ(run.result.status, 1) << run.result.err;
  expectOnlyCountersDiffer(run.output, source, from);

  // A PCR behind an overlong field is still inside the packet and is rebased.
  Bytes pcrs = testing::acceptedStream();
  for (int length = 183; length <= 255; ++length) {
    gen::appendPcrOnly(pcrs, gen::kPcrPid, 97200000000 + 300 * length);
    pcrs[pcrs.size() - 188 + 4] = static_cast<std::uint8_t>(length);
  }
  run = runOn(folder, pcrs);
  ASSERT_EQ(run.result.status, 1);
  for (int length = 183; length <= 255; ++length) {
    std::size_t packet = pcrs.size() - 188 * static_cast<std::size_t>(256 - length);
    EXPECT_EQ(gen::decodePcr(&run.output[packet]), 97200000000 + 300 * length);
  }
}

TEST(BadInput, RefusedRecordingsLeaveNoDestination) {
  ToolFolder folder;
  Bytes longPat;
  gen::appendPat(longPat, {{1, gen::kPmtPid}});
  longPat[6] = 0xBF;  // section_length 4095
  longPat[7] = 0xFF;
  Bytes wideInfo;
  gen::appendPat(wideInfo, {{1, gen::kPmtPid}});
  gen::appendPmt(wideInfo, gen::kPmtPid, gen::kPcrPid,
                 {{0x02, gen::kVideoPid, {}}, {0x0F, gen::kAudio1Pid, {}}}, 0,
                 Bytes(300, 0xFF));  // program_info_length 300
  Bytes longPmt = testing::acceptedStream();
  longPmt[188 + 6] = 0xBF;
  longPmt[188 + 7] = 0xFF;
  const struct {
    const char* name;
    Bytes source;
    std::string err;
  } cases[] = {
      {"empty file", {}, msg::kDamagedInfo},
      {"one partial packet with payload", Bytes(100, 0x57), msg::kNotGopStart},
      {"one partial packet without payload", Bytes(100, 0x47), msg::kDamagedInfo},
      {"PAT of 4095 bytes", longPat, msg::kSeveralServicesPat},
      {"program_info_length past the packet", wideInfo, msg::kNoVideoPmt},
      {"PMT of 4095 bytes", longPmt, ""},
  };
  for (const auto& c : cases) {
    Outcome run = runOn(folder, c.source);
    if (!c.err.empty()) {
      EXPECT_EQ(run.result.status, 0) << c.name;
      EXPECT_EQ(run.result.err, c.err) << c.name;
      EXPECT_FALSE(run.destination) << c.name;
    }
  }
}

TEST(BadInput, PesHeadersCutOffAtThePacketEndAreLeftAlone) {
  ToolFolder folder;
  Bytes source = testing::acceptedStream();
  std::size_t from = source.size();
  for (int length : {160, 165, 169, 170, 175}) {
    gen::PesStart pes;
    pes.pid = gen::kAudio1Pid;
    pes.streamId = 0xC0;
    pes.pts = 324000000;
    pes.dts = length <= 165 ? -1 : 323990000;  // a DTS only where it would not fit
    pes.adaptationLength = length - 1;
    gen::appendPesStart(source, pes);
  }
  Outcome run = runOn(folder, source, {"-log", "on"});
  ASSERT_EQ(run.result.status, 1);
  // Only the two PES whose PTS fits are rewritten; the others keep every byte.
  EXPECT_EQ(testing::occurrences(testing::readText(folder / "bad_Time.log"), "A-PTS"), 2u);
  Bytes rest(source.begin() + static_cast<long>(from + 2 * 188), source.end());
  expectOnlyCountersDiffer(
      Bytes(run.output.begin() + static_cast<long>(from + 2 * 188), run.output.end()), rest, 0);
}

TEST(BadInput, UnitStartWithoutPayloadIsNoPesStart) {
  ToolFolder folder;
  Bytes source = testing::acceptedStream();
  std::size_t from = source.size();
  gen::PesStart pes;
  pes.pts = 324012012;
  pes.dts = 324009009;
  pes.adaptationLength = 7;
  gen::appendPesStart(source, pes);
  source[source.size() - 188 + 3] = 0x20;  // adaptation field only, though a header follows
  Outcome run = runOn(folder, source, {"-log", "on"});
  ASSERT_EQ(run.result.status, 1);
  expectOnlyCountersDiffer(run.output, source, from);
  EXPECT_EQ(testing::occurrences(testing::readText(folder / "bad_Time.log"), "V-GOP"), 1u);
}

TEST(BadInput, PartialLastPacketNeverSeesAnEarlierPiece) {
  // Every packet after the header is a PCR packet, so the bytes an earlier piece left at the
  // place of the last, partial packet belong to a PCR packet. Only the five bytes read may
  // count: without its flags byte the partial packet carries no PCR.
  ToolFolder folder;
  Bytes source = testing::acceptedStream();
  for (int i = 0; i < 3000; ++i)
    gen::appendPcrOnly(source, gen::kPcrPid, 97202700000 + 2700000LL * i);
  Bytes pcrPacket;
  gen::appendPcrOnly(pcrPacket, gen::kPcrPid, 1);
  source.insert(source.end(), pcrPacket.begin(), pcrPacket.begin() + 5);
  Outcome run = runOn(folder, source, {"-log", "on"});
  ASSERT_EQ(run.result.status, 1);
  EXPECT_EQ(testing::occurrences(testing::readText(folder / "bad_Time.log"), "PCR   :"), 3002u);
  EXPECT_EQ(run.output.size(), source.size());
}

#ifndef _WIN32
TEST(BadInput, FailedWriteEndsWithTheWriteErrorAndStatusOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ToolFolder folder;
  gen::Recording recording = gen::makeRecording(gen::sampleOptions());
  testing::writeFile(folder / "rec.ts", recording.bytes);
  RunResult result = folder.run({"rec.ts", "/dev/full"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kWriteError, ENOSPC));
  EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);
}

TEST(BadInput, DiskThatFillsUpOrSourceThatFailsLeavesTheWholeBlocksWrittenBefore) {
  ToolFolder folder;
  gen::Recording recording = gen::makeRecording(gen::sampleOptions());
  testing::writeFile(folder / "rec.ts", recording.bytes);
  constexpr std::int64_t kBlock = 2310144;
  RunResult result = folder.run({"rec.ts"}, {.fileSizeLimit = kBlock + 100000 + 33});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kWriteError, EFBIG));
  EXPECT_EQ(fs::file_size(folder / "rec.000.ts"), static_cast<std::uintmax_t>(kBlock));
  // A read that fails once 10 x 256 KiB are in, when 9 x 256 KiB are written: that ends 84 bytes
  // into a packet, and the destination is cut back to the one whole block.
  result = folder.run({"rec.ts"}, {.fault = "eio:rec.ts:" + std::to_string(10 << 18)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kReadError, EIO));
  EXPECT_EQ(fs::file_size(folder / "rec.000.ts"), static_cast<std::uintmax_t>(kBlock));
  EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);
}

TEST(BadInput, UnreadableSourceEndsWithTheOpenError) {
  ToolFolder folder;
  Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "locked.ts", source);
  fs::permissions(folder / "locked.ts", fs::perms::none);
  RunResult result = folder.run({"locked.ts"}, {.unprivileged = true});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kReadOpenError, EACCES));
  EXPECT_FALSE(fs::exists(folder / "locked.000.ts"));
  fs::permissions(folder / "locked.ts", fs::perms::owner_read);
  EXPECT_EQ(readFile(folder / "locked.ts"), source);
}
#endif

}  // namespace
}  // namespace corvane
