// The JSON report, read back with Python's json module and compared with what the generator built
// into the recording: its joints and wraps, where they are, and the damage put into it.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/stream_generator.h"

// Read back with python3, which the Windows test machine lacks.
#ifndef _WIN32

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;
using testing::RunResult;
using testing::ToolFolder;
using testing::writeFile;

// The report's facts, one per line, as the real parser reads them.
constexpr char kFlatten[] = R"(
import json, sys
r = json.load(open(sys.argv[1], encoding="utf-8"))
print("outcome", r["outcome"], r["reason"])
for e in r["events"]:
    if e["type"] in ("joint", "wrap"):
        print(e["type"], e["packet_index"], e["byte_offset"], e["before_ticks"], e["after_ticks"])
for s in r["services"]:
    print("service", s["joints"], s["wraps"], s["output_first_pcr_ticks"])
d = r["damage"]
print("damage", d["errored_packets"], d["pcr_without_room"], d["stray_sections"],
      d["cut_off_end_bytes"])
c = r["counts"]
print("counts", c["errors"], c["drops"], c["scrambled"], sum(p["counts"]["drops"] for p in r["pids"]),
      len([e for e in r["events"] if e["type"] == "drop"]))
print("sizes", r["sizes"]["source_read"], r["sizes"]["destination"])
)";

std::string flattened(const ToolFolder& folder, const std::string& report) {
  testing::writeText(folder / "flatten.py", kFlatten);
  std::string command =
      "python3 \"" + (folder / "flatten.py").string() + "\" \"" + (folder / report).string() + "\"";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string text;
  for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;) text += static_cast<char>(c);
  if (pipe != nullptr) ::pclose(pipe);
  return text;
}

// A line of a joint or wrap at the packet, with the jump test's source times before and after.
std::string jumpLine(const char* type, std::int64_t packet, std::int64_t before,
                     std::int64_t after) {
  return std::string(type) + " " + std::to_string(packet) + " " + std::to_string(packet * 188) +
         " " + std::to_string(before) + " " + std::to_string(after) + "\n";
}

TEST(Report, TellsTheJointsWrapsAndDamageTheRecordingWasBuiltWith) {
  if (std::system("python3 -c '' 2>/dev/null") != 0) GTEST_SKIP() << "python3 is missing";
  for (std::uint32_t round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    std::mt19937 random(round);
    auto pick = [&random](int below) { return static_cast<int>(random() % below); };
    gen::RecordingOptions options;
    options.durationTicks = 40 * 90000;
    options.videoPacketsPerFrame = 10;
    options.videoStreamType = std::vector<int>{0x02, 0x1B, 0x24}[round % 3];
    bool wraps = round % 2 == 0;
    // A start near the wrap, which comes before the first jump, or well above 0, so that a jump
    // back cannot pass below it.
    options.sourceStart = wraps ? gen::kPtsModulus - (2 + pick(4)) * 90000 : 3000 * 90000;
    for (int k = 0, jumps = 1 + pick(3); k < jumps; ++k) {
      std::int64_t seconds = 20 + pick(900);
      options.jumps.push_back(
          {(8 + 10 * k + pick(6)) * 90000, (wraps || pick(2) ? 1 : -1) * seconds * 90000});
    }
    gen::Recording recording = gen::makeRecording(options);
    Bytes& bytes = recording.bytes;

    // Damage behind the first block, on packets that carry no PES start and no PCR: errored
    // packets, PCR fields without room, PMT packets that do not start their section, and an end
    // cut off inside a packet.
    std::vector<bool> timed(bytes.size() / 188);
    for (const gen::PesRecord& pes : recording.pes) timed[pes.packet] = true;
    for (const gen::PcrRecord& pcr : recording.pcrs) timed[pcr.packet] = true;
    // A counter put 2 to 14 ahead, far from other damage: the source lost packets before it, and
    // before the next of its PID, which counts on from the old one.
    std::int64_t errored = 0, withoutRoom = 0, stray = 0, skipped = 0;
    for (std::size_t i = 12288, last = 0; i + 200 < timed.size(); ++i) {
      std::uint8_t* p = bytes.data() + i * 188;
      int pid = (p[1] & 0x1F) << 8 | p[2];
      if (timed[i] || i < last + 100 || pick(400) != 0) continue;
      last = i;
      if (pid == gen::kPmtPid && round % 2 == 1) {
        p[1] &= 0xBF;  // read with -pmtcheck on only
        ++stray;
      } else if (pid != gen::kPmtPid && pid != 0x1FFF && pick(2) && (p[3] & 0x10)) {
        p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | ((p[3] + 2 + pick(13)) & 0x0F));
        ++skipped;
      } else if (pid != gen::kPmtPid) {
        p[1] |= 0x80;
        ++errored;
      }
    }
    for (std::size_t k = recording.pcrs.size() / 2; k < recording.pcrs.size() / 2 + 2; ++k) {
      std::uint8_t* p = bytes.data() + recording.pcrs[k].packet * 188;
      p[4] = 1;  // PCR_flag stays set in an adaptation field of one byte
      ++withoutRoom;
    }
    std::size_t cut = 1 + pick(187);
    bytes.resize(bytes.size() - cut);

    // The joints and wraps where the generator put them, at the jump test's PES: MPEG-2
    // reference pictures, every H.264 and HEVC picture.
    bool mpeg2 = options.videoStreamType == 0x02;
    auto time = [mpeg2](const gen::PesRecord& pes) {
      return !mpeg2 && pes.dts >= 0 ? pes.dts : pes.pts;
    };
    std::string expected = "outcome complete none\n";
    std::int64_t joints = 0, wrapCount = 0;
    const gen::PesRecord* previous = nullptr;
    for (const gen::PesRecord& pes : recording.pes) {
      if (pes.pid != gen::kVideoPid || (mpeg2 && pes.dts < 0)) continue;
      if (pes.packet * 188 + 188 > static_cast<std::int64_t>(bytes.size())) break;
      if (previous != nullptr && pes.segment != previous->segment) {
        expected += jumpLine("joint", pes.packet, time(*previous), time(pes));
        ++joints;
      } else if (previous != nullptr && time(pes) < time(*previous)) {
        // Within a stretch the source clock goes back only where it wraps.
        expected += jumpLine("wrap", pes.packet, time(*previous), time(pes));
        ++wrapCount;
      }
      previous = &pes;
    }
    ASSERT_EQ(joints, static_cast<std::int64_t>(options.jumps.size()));
    expected +=
        "service " + std::to_string(joints) + " " + std::to_string(wrapCount) + " 324000000\n";
    expected += "damage " + std::to_string(errored) + " " + std::to_string(withoutRoom) + " " +
                std::to_string(stray) + " " + std::to_string(188 - cut) + "\n";
    std::string drops = std::to_string(2 * skipped);
    expected += "counts " + std::to_string(errored) + " " + drops + " 0 " + drops + " " +
                std::to_string(std::min<std::int64_t>(2 * skipped, 100)) + "\n";
    expected += "sizes " + std::to_string(bytes.size()) + " " + std::to_string(bytes.size()) + "\n";

    ToolFolder folder;
    writeFile(folder / "rec.ts", bytes);
    RunResult result = folder.run({"-status", "posix", "-pmtcheck", round % 2 ? "on" : "off",
                                   "-report", "rec.json", "rec.ts"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(flattened(folder, "rec.json"), expected);

    // A destination that fills up: the report says how far the run got, never complete.
    if (round == 0) {
      result = folder.run({"-status", "posix", "-report", "full.json", "rec.ts", "full.ts"},
                          {.fileSizeLimit = 3 << 20});
      EXPECT_EQ(result.status, 1);
      std::string full = flattened(folder, "full.json");
      EXPECT_EQ(full.substr(0, full.find('\n')), "outcome failed write-error");
      EXPECT_EQ(full.substr(full.rfind(' ')), " 2310144\n") << full;
    }
  }
}

}  // namespace
}  // namespace corvane

#endif  // _WIN32
