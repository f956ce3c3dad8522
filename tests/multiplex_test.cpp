// Whole transport streams. A multiplex is repaired service by service as each service alone: the
// packets of a service's PIDs, and its lines of the time log, equal those of the one-service
// repair of that service with a PAT of its own.
#include "service/multiplex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "output/messages.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"
#include "ts/psi.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;
using testing::readFile;
using testing::readText;
using testing::RunResult;
using testing::ToolFolder;
using testing::writeFile;

struct GeneratedService {
  gen::Recording recording;
  gen::RecordingOptions options;
  std::vector<int> pids;  // every PID it uses: PMT, PCR, video, audio before and after, caption
};

// A service with PIDs of its own (0x0n11 and so on for service n) and random features: its
// coding, its PCR on the video PID or not, a start near the 33-bit wrap or anywhere, jumps both
// ways and a PMT change that moves its audio. The first service always has a PMT change, the
// second a wrap and a jump, and the codings take turns.
GeneratedService randomService(std::mt19937& random, int n, std::uint32_t round) {
  auto pick = [&random](int below) { return static_cast<int>(random() % below); };
  gen::RecordingOptions options;
  options.durationTicks = 30 * 90000;
  int base = 0x0100 * (n + 1);
  options.pids = {.programNumber = 0x0400 + 8 * n,
                  .pmt = 0x1F00 + n,
                  .video = base + 0x11,
                  .audio1 = base + 0x12,
                  .audio2 = base + 0x13,
                  .caption = base + 0x30,
                  .pcr = base + 0xFF};
  const int codings[] = {0x02, 0x1B, 0x24};
  options.videoStreamType = codings[(n + round) % 3];
  options.bFrames = options.videoStreamType == 0x02 || pick(2) == 0;
  options.pcrOnVideoPid = pick(2) == 0;
  options.videoPacketsPerFrame = 2 + pick(4);
  options.sourceStart = n == 1 || pick(2) == 0 ? gen::kPtsModulus - (3 + pick(20)) * 90000
                                               : std::int64_t{pick(1 << 30)} * 7;
  for (int jumps = n == 1 ? 2 : pick(3), k = 0; k < jumps; ++k) {
    std::int64_t seconds = 20 + pick(600);
    options.jumps.push_back({(5 + 10 * k + pick(8)) * 90000, (pick(2) ? 1 : -1) * seconds * 90000});
  }
  GeneratedService service;
  if (n == 0 || pick(2) == 0) {
    options.pmtChangeAt = (8 + pick(15)) * 90000;
    options.audioPidsAfterChange =
        pick(2) ? std::vector<int>{base + 0x14} : std::vector<int>{base + 0x12, base + 0x15};
  }
  service.options = options;
  service.recording = gen::makeRecording(options);
  const gen::ServicePids& p = options.pids;
  service.pids = {p.pmt, p.pcr, p.video, p.audio1, p.audio2, p.caption, base + 0x14, base + 0x15};
  return service;
}

// The packets of the given PIDs, in order.
std::vector<Bytes> packetsOf(const Bytes& stream, const std::vector<int>& pids) {
  std::vector<Bytes> packets;
  for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
    int pid = (stream[at + 1] & 0x1F) << 8 | stream[at + 2];
    for (int wanted : pids) {
      if (pid == wanted) packets.emplace_back(stream.begin() + at, stream.begin() + at + 188);
    }
  }
  return packets;
}

// The lines of a time log, and of a multiplex's log those of one program, without its mark.
std::vector<std::string> logLines(const std::string& log, int program = -1) {
  std::vector<std::string> lines;
  char mark[16];
  std::snprintf(mark, sizeof mark, "[%5d] ", program);
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find("\r\n", at);
    std::string line = log.substr(at, end - at);
    at = end + 2;
    if (program < 0) {
      lines.push_back(line);
    } else if (line.rfind(mark, 0) == 0) {
      lines.push_back(line.substr(8));
    }
  }
  return lines;
}

TEST(Multiplex, EveryServiceIsRepairedAsItIsAlone) {
  for (std::uint32_t round = 1; round <= 4; ++round) {
    std::mt19937 random(round);
    int count = 2 + static_cast<int>(random() % 3);
    std::vector<GeneratedService> services;
    std::vector<const gen::Recording*> recordings;
    std::vector<gen::ProgramEntry> programs = {{0, 0x0010}};
    for (int n = 0; n < count; ++n) services.push_back(randomService(random, n, round));
    for (const GeneratedService& service : services) {
      recordings.push_back(&service.recording);
      programs.push_back({service.options.pids.programNumber, service.options.pids.pmt});
    }
    std::string pmtcheck = round % 2 ? "on" : "off";
    SCOPED_TRACE("round " + std::to_string(round) + ", -pmtcheck " + pmtcheck);

    ToolFolder folder;
    Bytes multiplex = gen::interleave(recordings, programs, round);
    writeFile(folder / "mux.ts", multiplex);
    RunResult all = folder.run(
        {"-services", "all", "-pmtcheck", pmtcheck, "-log", "on", "mux.ts", "mux.out.ts"});
    ASSERT_EQ(all.status, 1) << all.err;
    Bytes repaired = readFile(folder / "mux.out.ts");
    ASSERT_EQ(repaired.size(), multiplex.size());
    std::string log = readText(folder / "mux_Time.log");
    std::size_t serviceLines = 0;
    // Through a pipe, a stream of unknown size, the same bytes.
    testing::RunOptions piped;
    piped.input = folder / "mux.ts";
    piped.inputThroughPipe = true;
    EXPECT_EQ(
        folder
            .run({"-services", "all", "-pmtcheck", pmtcheck, "-log", "on", "-", "piped.ts"}, piped)
            .status,
        1);
    EXPECT_EQ(readFile(folder / "piped.ts"), repaired);
    EXPECT_EQ(readText(folder / "piped_Time.log"), log);

    for (int n = 0; n < count; ++n) {
      const GeneratedService& service = services[n];
      std::string name = "s" + std::to_string(n);
      writeFile(folder / (name + ".ts"), service.recording.bytes);
      RunResult alone = folder.run({"-services", "one", "-nogop", "on", "-pmtcheck", pmtcheck,
                                    "-log", "on", name + ".ts", name + ".out.ts"});
      ASSERT_EQ(alone.status, 1) << alone.err;
      EXPECT_EQ(packetsOf(repaired, service.pids),
                packetsOf(readFile(folder / (name + ".out.ts")), service.pids))
          << "service " << n;
      std::vector<std::string> aloneLines = logLines(readText(folder / (name + "_Time.log")));
      EXPECT_EQ(logLines(log, service.options.pids.programNumber), aloneLines) << "service " << n;
      serviceLines += aloneLines.size();

      std::string heading = "サービス " + std::to_string(service.options.pids.programNumber) + ": ";
      EXPECT_NE(all.out.find(testing::toCp932(heading)), std::string::npos) << all.out;
    }
    // No line of the multiplex's log is left without its program.
    EXPECT_EQ(logLines(log).size(), serviceLines);
  }
}

// Two services of five seconds, 1024 on PIDs 0x01xx and 1032 on PIDs 0x02xx, and the packets
// of the PIDs their streams use.
struct TwoServices {
  std::vector<gen::Recording> services;
  Bytes multiplex;
  std::vector<int> streamPids = {0x0111, 0x0112, 0x0113, 0x0130, 0x01FF,
                                 0x0211, 0x0212, 0x0213, 0x0230, 0x02FF};
};

TwoServices twoServices() {
  TwoServices two;
  for (int n = 0; n < 2; ++n) {
    gen::RecordingOptions options;
    options.durationTicks = 5 * 90000;
    int base = 0x0100 * (n + 1);
    options.pids = {0x0400 + 8 * n, 0x1F00 + n,  base + 0x11, base + 0x12,
                    base + 0x13,    base + 0x30, base + 0xFF};
    options.videoStreamType = n == 0 ? 0x02 : 0x1B;
    two.services.push_back(gen::makeRecording(options));
  }
  two.multiplex = gen::interleave({&two.services[0], &two.services[1]},
                                  {{0, 0x0010}, {0x0400, 0x1F00}, {0x0408, 0x1F01}}, 5);
  return two;
}

// Each packet of `pid` replaced by `packet`, which keeps its continuity counter.
void replacePackets(Bytes& stream, int pid, const Bytes& packet) {
  for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
    if (((stream[at + 1] & 0x1F) << 8 | stream[at + 2]) != pid) continue;
    std::uint8_t counter = stream[at + 3] & 0x0F;
    std::copy(packet.begin(), packet.end(), stream.begin() + static_cast<std::ptrdiff_t>(at));
    stream[at + 3] = static_cast<std::uint8_t>((stream[at + 3] & 0xF0) | counter);
  }
}

// The PMT of service 1032: its video and audio, then `more`, then its captions.
Bytes pmtOf1032With(const std::vector<gen::PmtEntry>& more) {
  std::vector<gen::PmtEntry> streams = {{0x1B, 0x0211, {}}, {0x0F, 0x0212, {}}, {0x0F, 0x0213, {}}};
  streams.insert(streams.end(), more.begin(), more.end());
  streams.push_back({0x06, 0x0230, {0x52, 0x01, 0x30}});
  Bytes packet;
  gen::appendPmt(packet, 0x1F01, 0x02FF, streams, 0, {}, 0x0408);
  return packet;
}

// Damaged and unusual tables: each run completes, every packet keeps its place, and the streams
// of both services come out as from the clean multiplex, unless the case says otherwise.
TEST(Multiplex, BadTablesAreTakenOrPassedThrough) {
  const TwoServices two = twoServices();
  ToolFolder folder;
  writeFile(folder / "clean.ts", two.multiplex);
  ASSERT_EQ(folder.run({"-services", "all", "clean.ts", "clean.out.ts"}).status, 1);
  const Bytes clean = readFile(folder / "clean.out.ts");

  Bytes manyPrograms = two.multiplex;  // 280 programs more, behind the first PAT
  for (int k = 0; k < 7; ++k) {
    std::vector<gen::ProgramEntry> programs;
    for (int j = 0; j < 40; ++j) programs.push_back({2000 + 40 * k + j, 0x1000 + 40 * k + j});
    Bytes pat;
    gen::appendPat(pat, programs);
    manyPrograms.insert(manyPrograms.begin() + 188, pat.begin(), pat.end());
  }
  Bytes otherProgramsPid = two.multiplex;  // 1032 lists 1024's video and audio as well
  replacePackets(otherProgramsPid, 0x1F01, pmtOf1032With({{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}}));
  Bytes tablePids = two.multiplex;  // 1032 lists the PAT's PID and both PMT PIDs as streams
  replacePackets(tablePids, 0x1F01,
                 pmtOf1032With({{0x02, 0x0000, {}}, {0x0F, 0x1F00, {}}, {0x06, 0x1F01, {}}}));
  Bytes withoutPmt = two.multiplex;  // a third program whose PMT never comes
  Bytes pat;
  gen::appendPat(pat, {{0x0400, 0x1F00}, {0x0408, 0x1F01}, {0x0410, 0x1F02}});
  replacePackets(withoutPmt, 0x0000, pat);
  // 1032's PMT runs on beyond its packet, as a section that spans packets: what lies beyond,
  // its caption stream, is not read.
  Bytes spanning = two.multiplex;
  std::vector<gen::PmtEntry> fillers;
  for (int k = 0; k < 30; ++k) fillers.push_back({0x06, 0x0250 + k, {0x52, 0x01, 0x38}});
  Bytes longPmt = pmtOf1032With(fillers);
  replacePackets(spanning, 0x1F01, longPmt);
  Bytes errored = two.multiplex;  // every other PAT and PMT packet errored, after the first ones
  std::map<int, int> tables;
  for (std::size_t at = 0; at < errored.size(); at += 188) {
    int pid = (errored[at + 1] & 0x1F) << 8 | errored[at + 2];
    if ((pid == 0 || pid >= 0x1F00) && tables[pid]++ % 2 == 1) {
      gen::markErrored(errored, static_cast<std::int64_t>(at / 188), 1, 9);
    }
  }

  const struct {
    const char* name;
    const Bytes& stream;
    std::vector<int> changedPids;  // the streams that come out otherwise
    std::string console;           // a text the console shows
  } cases[] = {
      {"280 programs more", manyPrograms, {}, "サービス 2253: PMTが見つかりません"},
      {"a PMT lists another program's PIDs",
       otherProgramsPid,
       {},
       "映像 0111(MPEG-2) 音声 0112(AAC)"},
      {"a PMT lists table PIDs", tablePids, {}, "サービス 1032: PCR 02ff 映像 0211(H.264)"},
      {"a PMT never comes", withoutPmt, {}, "サービス 1040: PMTが見つかりません"},
      // The caption stream lies behind the packet's end: its packets get their counters only.
      {"a PMT spans packets", spanning, {0x0230}, "その他 0250"},
      {"errored tables", errored, {}, "サービス 1032: PCR 02ff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(folder / "bad.ts", c.stream);
    RunResult result = folder.run({"-services", "all", "bad.ts", "bad.out.ts"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.out.find(testing::toCp932(c.console)), std::string::npos) << result.out;
    Bytes repaired = readFile(folder / "bad.out.ts");
    ASSERT_EQ(repaired.size(), c.stream.size());
    for (int pid : two.streamPids) {
      bool changed =
          std::find(c.changedPids.begin(), c.changedPids.end(), pid) != c.changedPids.end();
      EXPECT_EQ(packetsOf(repaired, {pid}) == packetsOf(clean, {pid}), !changed) << "PID " << pid;
    }
    // Every packet that no service repairs keeps all but its counter.
    for (std::size_t at = 0; at < repaired.size(); at += 188) {
      int pid = (repaired[at + 1] & 0x1F) << 8 | repaired[at + 2];
      bool repairedPid =
          std::find(two.streamPids.begin(), two.streamPids.end(), pid) != two.streamPids.end();
      if (repairedPid &&
          std::find(c.changedPids.begin(), c.changedPids.end(), pid) == c.changedPids.end())
        continue;
      repaired[at + 3] &= 0xF0;
      Bytes source(c.stream.begin() + static_cast<std::ptrdiff_t>(at),
                   c.stream.begin() + static_cast<std::ptrdiff_t>(at) + 188);
      source[3] &= 0xF0;
      ASSERT_TRUE(std::equal(source.begin(), source.end(),
                             repaired.begin() + static_cast<std::ptrdiff_t>(at)))
          << "packet " << at / 188 << ", PID " << pid;
    }
  }

  // Only a first block without any program is refused, as one without a PAT program.
  Bytes noProgram;
  for (int k = 0; k < 100; ++k) gen::appendPat(noProgram, {{0, 0x0010}});
  writeFile(folder / "none.ts", noProgram);
  RunResult refused = folder.run({"-services", "all", "none.ts", "none.out.ts"});
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(refused.err, msg::kDamagedPat);
}

// Sets transport_scrambling_control on every packet of `pid`.
Bytes scrambled(Bytes stream, int pid) {
  for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
    if (((stream[at + 1] & 0x1F) << 8 | stream[at + 2]) == pid) stream[at + 3] |= 0x80;
  }
  return stream;
}

// A packet's bytes but its counter.
Bytes withoutCounter(const Bytes& packet) {
  Bytes bytes = packet;
  bytes[3] &= 0xF0;
  return bytes;
}

// The payload of a scrambled packet is never read nor written, in either mode; a service whose
// video is scrambled is refused alone, and passed through with its counters in a multiplex.
TEST(Multiplex, ScrambledPayloadIsNeverTouched) {
  const TwoServices two = twoServices();
  ToolFolder folder;
  auto run = [&folder](const Bytes& stream, const std::string& services) {
    writeFile(folder / "in.ts", stream);
    RunResult result = folder.run({"-services", services, "-nogop", "on", "in.ts", "out.ts"});
    return std::make_pair(result, readFile(folder / "out.ts"));
  };

  // One service, with its second audio stream scrambled: those packets keep their bytes, and
  // every other one comes out as from the clear recording.
  const Bytes& alone = two.services[0].bytes;
  Bytes clear = run(alone, "one").second;
  Bytes audio = scrambled(alone, 0x0113);
  auto [result, repaired] = run(audio, "one");
  EXPECT_EQ(result.status, 1);
  ASSERT_EQ(repaired.size(), audio.size());
  for (std::size_t at = 0; at < audio.size(); at += 188) {
    Bytes in(audio.begin() + at, audio.begin() + at + 188);
    Bytes out(repaired.begin() + at, repaired.begin() + at + 188);
    if (audio[at + 3] & 0xC0) {
      EXPECT_EQ(withoutCounter(out), withoutCounter(in)) << "packet " << at / 188;
    } else {
      EXPECT_TRUE(std::equal(out.begin(), out.end(), clear.begin() + at)) << "packet " << at / 188;
    }
  }

  // Scrambled video cannot be repaired alone.
  result = run(scrambled(alone, 0x0111), "one").first;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, msg::kScrambledVideoInfo);

  // In a multiplex that service gets its counters only, and the other one its repair.
  Bytes multiplex = scrambled(two.multiplex, 0x0111);
  Bytes clean = run(two.multiplex, "all").second;
  std::tie(result, repaired) = run(multiplex, "all");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find(msg::kServiceScrambled), std::string::npos);
  for (int pid : {0x0111, 0x0112, 0x0113, 0x0130, 0x01FF}) {
    std::vector<Bytes> in = packetsOf(multiplex, {pid});
    std::vector<Bytes> out = packetsOf(repaired, {pid});
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
      EXPECT_EQ(withoutCounter(out[k]), withoutCounter(in[k])) << "PID " << pid;
    }
  }
  for (int pid : {0x0211, 0x0212, 0x0213, 0x0230, 0x02FF}) {
    EXPECT_EQ(packetsOf(repaired, {pid}), packetsOf(clean, {pid})) << "PID " << pid;
  }
}

// What a service of a multiplex takes as video, as audio, as captions and as other timed streams.
TEST(Multiplex, StreamTypesCountAsTheirKind) {
  enum Kind { video, audio, caption, other, none };
  const struct {
    int streamType;
    gen::Bytes descriptors;
    Kind kind;
  } cases[] = {
      {0x02, {}, video},
      {0x1B, {}, video},
      {0x24, {}, video},
      {0x01, {}, other},  // MPEG-1 video is no anchor
      {0x03, {}, audio},
      {0x04, {}, audio},
      {0x0F, {}, audio},
      {0x11, {}, audio},
      {0x81, {}, audio},
      {0x87, {}, audio},
      {0x06, {0x6A, 0x01, 0x00}, audio},                    // AC-3 descriptor
      {0x06, {0x52, 0x01, 0x10, 0x7A, 0x00}, audio},        // E-AC-3 behind another descriptor
      {0x06, {0x7B, 0x00}, audio},                          // DTS
      {0x06, {0x52, 0x01, 0x30}, caption},                  // ARIB captions
      {0x06, {0x52, 0x01, 0x38}, other},                    // superimposed text
      {0x06, {0x09, 0x04, 0x6A, 0x7A, 0x7B, 0x00}, other},  // the tags inside another descriptor
      {0x05, {}, none},                                     // private sections
      {0x0D, {}, none},                                     // data carousel
      {0x86, {}, none},                                     // splice information
  };
  for (const auto& c : cases) {
    gen::Bytes bytes;
    gen::appendPmt(bytes, 0x01F0, 0x01FF, {{c.streamType, 0x0140, c.descriptors}});
    ProgramPids pids;
    readPmt(bytes.data(), pids, PmtStreams::anyStream);
    const PidList* lists[] = {&pids.video, &pids.audio, &pids.captions, &pids.others};
    for (int kind = video; kind <= other; ++kind) {
      EXPECT_EQ(containsPid(*lists[kind], 0x0140), kind == c.kind)
          << "stream_type " << c.streamType << ", list " << kind;
    }
  }
}

}  // namespace
}  // namespace corvane
