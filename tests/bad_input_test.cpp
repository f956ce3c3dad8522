// Damaged and hostile recordings through the executable: each ends with its message and exit
// status, the destination absent or exactly as documented, and the source unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "output/messages.h"
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

// What reception breaks is taken for nothing: each damaged packet after an accepted start keeps
// its bytes but the counter, adds no line to the time log, and the run completes.
TEST(BadInput, ReceptionDamageIsNeverTakenForTiming) {
  const Bytes start = testing::acceptedStream();
  std::vector<std::pair<const char*, Bytes>> cases;
  {
    Bytes s = start;  // PCR_flag in adaptation fields of 1 to 6 bytes, payload behind them
    for (int length = 1; length <= 6; ++length) {
      gen::appendPcrOnly(s, gen::kPcrPid, 97200000000 + 300 * length);
      s[s.size() - 188 + 3] = 0x30;
      gen::shortenAdaptationField(s, static_cast<std::int64_t>(s.size() / 188 - 1), length);
    }
    cases.emplace_back("PCR flagged without room for it", s);
  }
  {
    Bytes s = start;  // an errored GOP start whose PTS and DTS read 745 s later
    gen::PesStart gop;
    gop.pts = 324009009 + 3 * 3003 + 745 * 90000;
    gop.dts = gop.pts - 3003;
    gen::appendPesStart(s, gop);
    s[s.size() - 188 + 1] |= 0x80;
    gen::appendPayload(s, gen::kVideoPid);
    cases.emplace_back("errored GOP start", s);
  }
  {
    Bytes s = start;
    gen::appendStrayPmtContinuation(s, gen::kPmtPid);
    gen::appendPayload(s, gen::kVideoPid);
    cases.emplace_back("continuation on the PMT PID", s);
  }
  {
    Bytes s = start;  // the file ends inside a PMT, before its stream entries
    gen::appendPmt(s, gen::kPmtPid, gen::kPcrPid,
                   {{0x02, gen::kVideoPid, {}}, {0x0F, gen::kAudio1Pid, {}}});
    s.resize(s.size() - 188 + 17);
    cases.emplace_back("file cut inside a PMT", s);
  }
  ToolFolder folder;
  const std::vector<std::string> options = {"-pmtcheck", "on", "-log", "on"};
  ASSERT_EQ(runOn(folder, start, options).result.status, 1);
  const std::string startLog = testing::readText(folder / "bad_Time.log");
  for (const auto& [name, source] : cases) {
    Outcome run = runOn(folder, source, options);
    EXPECT_EQ(run.result.status, 1) << name;
    // The packet cut short is left as it is, and the console says so.
    bool cut = source.size() % 188 != 0;
    // The cases' packets restart their counters: the drops are counted, not checked here.
    EXPECT_EQ(testing::withoutDamageCount(run.result.err),
              cut ? testing::printed(msg::kNotPacketBytes, 17) : "")
        << name;
    expectOnlyCountersDiffer(run.output, source, start.size());
    if (cut) {
      EXPECT_TRUE(std::equal(source.end() - 17, source.end(), run.output.end() - 17));
    }
    EXPECT_EQ(testing::readText(folder / "bad_Time.log"), startLog) << name;
  }
}

// The packets of a recording whose loss would change the timing of later packets, however well
// the tool treated it, so that the damage below stays away from them: the survey's packets (the
// first PCR sets the offset), the reference picture before a joint (the joint counts from its
// PTS), the GOP start at a joint or past the clock's wrap (where the offset changes; one GOP
// later it would change elsewhere), and the first caption above one hour (its PTS is the base
// of every caption after it).
std::set<std::int64_t> timingPackets(const gen::Recording& recording) {
  std::set<std::int64_t> packets;
  for (std::int64_t packet = 0; packet <= recording.pcrs.at(1).packet; ++packet) {
    packets.insert(packet);
  }
  const gen::PesRecord* lastReference = nullptr;
  bool wrapSeen = false;
  bool captionBaseSeen = false;
  std::size_t joint = 0;
  for (const gen::PesRecord& pes : recording.pes) {
    if (pes.pid == gen::kCaptionPid && !captionBaseSeen && pes.pts > 324000000) {
      packets.insert(pes.packet);
      captionBaseSeen = true;
    }
    if (pes.dts < 0) continue;
    if (joint < recording.jointPackets.size() && pes.packet == recording.jointPackets[joint]) {
      packets.insert(lastReference->packet);
      packets.insert(pes.packet);
      ++joint;
    }
    if (pes.wrapped && !wrapSeen) packets.insert(pes.packet);
    wrapSeen = wrapSeen || pes.wrapped;
    lastReference = &pes;
  }
  return packets;
}

// Errored bursts, errored GOP starts with bit errors in their timestamps, PCRs flagged without
// room for them, continuations on the PMT PID that read as a PMT, and an end cut off inside a
// packet take nothing with them but their own packets.
TEST(BadInput, DamagedRecordingRepairsLikeTheUndamagedOneOnEveryOtherPacket) {
  const std::vector<std::string> options = {"-pmtcheck", "on"};
  ToolFolder folder;
  for (bool pcrOnVideo : {false, true}) {
    gen::RecordingOptions recordingOptions = gen::sampleOptions();
    recordingOptions.pcrOnVideoPid = pcrOnVideo;
    const gen::Recording recording = gen::makeRecording(recordingOptions);
    const Bytes& clean = recording.bytes;
    const auto packets = static_cast<std::int64_t>(clean.size() / 188);
    const std::set<std::int64_t> timing = timingPackets(recording);
    const Outcome reference = runOn(folder, clean, options);
    ASSERT_EQ(reference.result.status, 1);
    std::mt19937 random(pcrOnVideo ? 23 : 22);
    for (int round = 0; round < 3; ++round) {
      Bytes damaged = clean;
      std::vector<bool> hit(static_cast<std::size_t>(packets));
      auto damage = [&](std::int64_t packet) {
        if (timing.count(packet) || hit[static_cast<std::size_t>(packet)]) return false;
        hit[static_cast<std::size_t>(packet)] = true;
        return true;
      };
      for (int burst = 0; burst < 12; ++burst) {
        std::int64_t first = random() % packets;
        std::int64_t count = std::min<std::int64_t>(1 + random() % 40, packets - first);
        for (std::int64_t packet = first; packet < first + count && damage(packet); ++packet) {
          gen::markErrored(damaged, packet, 1, static_cast<std::uint32_t>(random()));
        }
      }
      for (const gen::PesRecord& pes : recording.pes) {
        // An errored GOP start that is still one, with bit errors in its PTS and DTS.
        if (pes.dts < 0 || random() % 12 != 0 || !damage(pes.packet)) continue;
        std::uint8_t* p = &damaged[static_cast<std::size_t>(pes.packet * 188)];
        std::size_t o = (p[3] & 0x20) ? p[4] + 1 : 0;
        p[1] |= 0x80;
        p[14 + o] ^= static_cast<std::uint8_t>(1 << random() % 8);  // 46 s or more
        p[21 + o] ^= static_cast<std::uint8_t>(1 << random() % 8);
      }
      for (const gen::PcrRecord& pcr : recording.pcrs) {
        if (random() % 6 == 0 && damage(pcr.packet)) {
          gen::shortenAdaptationField(damaged, pcr.packet, 1 + static_cast<int>(random() % 6));
        }
      }
      for (std::int64_t packet = 0; packet < packets; ++packet) {
        std::uint8_t* p = &damaged[static_cast<std::size_t>(packet * 188)];
        if (((p[1] & 0x1F) << 8 | p[2]) == gen::kPmtPid && random() % 6 == 0 && damage(packet)) {
          Bytes stray;
          gen::appendStrayPmtContinuation(stray, gen::kPmtPid, p[3] & 0x0F);
          std::copy(stray.begin(), stray.end(), p);
        }
      }
      damaged.resize(clean.size() - 188 * (random() % 40) - 1 - random() % 187);

      Outcome run = runOn(folder, damaged, options);
      ASSERT_EQ(run.result.status, 1) << run.result.err;
      ASSERT_EQ(run.output.size(), damaged.size());
      std::int64_t compared = 0;
      for (std::size_t at = 0; at + 188 <= damaged.size(); at += 188) {
        if (hit[at / 188]) continue;
        ASSERT_TRUE(std::equal(&run.output[at], &run.output[at] + 188, &reference.output[at]))
            << "packet " << at / 188 << ", round " << round << ", PCR on video " << pcrOnVideo;
        ++compared;
      }
      EXPECT_GT(compared, packets / 2);
    }
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
      {"one partial packet with payload", Bytes(100, 0x57), msg::kDamagedInfo},
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
