// Whole transport streams. A multiplex is repaired service by service as each service alone: the
// packets of a service's PIDs, and its lines of the time log, equal those of the one-service
// repair of that service with a PAT of its own.
#include "service/multiplex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
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

// A service with PIDs of its own (multiplexServicePids) and random features: its coding, its PCR
// on the video PID or not, a start near the 33-bit wrap or anywhere, jumps both ways and a PMT
// change that moves its audio. The first service always has a PMT change, the second a wrap and
// jumps, and the codings take turns.
gen::RecordingOptions randomService(std::mt19937& random, int n, std::uint32_t round) {
  auto pick = [&random](int below) { return static_cast<int>(random() % below); };
  gen::RecordingOptions options;
  options.durationTicks = 30 * 90000;
  options.pids = gen::multiplexServicePids(n);
  options.videoStreamType = std::vector<int>{0x02, 0x1B, 0x24}[(n + round) % 3];
  options.bFrames = options.videoStreamType == 0x02 || pick(2) == 0;
  options.pcrOnVideoPid = pick(2) == 0;
  options.videoPacketsPerFrame = 2 + pick(4);
  options.sourceStart = n == 1 || pick(2) == 0 ? gen::kPtsModulus - (3 + pick(20)) * 90000
                                               : std::int64_t{pick(1 << 30)} * 7;
  for (int jumps = n == 1 ? 2 : pick(3), k = 0; k < jumps; ++k) {
    std::int64_t at = (5 + 10 * k + pick(8)) * 90000;
    std::int64_t seconds = 20 + pick(600);
    options.jumps.push_back({at, (pick(2) ? 1 : -1) * seconds * 90000});
  }
  if (n == 0 || pick(2) == 0) {
    options.pmtChangeAt = (8 + pick(15)) * 90000;
    int base = options.pids.video - 0x11;
    options.audioPidsAfterChange =
        pick(2) ? std::vector<int>{base + 0x14} : std::vector<int>{base + 0x12, base + 0x15};
  }
  return options;
}

// The packets of the given PIDs, in order; with `service`, of every PID of the n-th service of a
// generated multiplex, whose PIDs are 0x0n00 to 0x0nFF, and its PMT PID.
std::vector<Bytes> packetsOf(const Bytes& stream, const std::vector<int>& pids, int service = -1) {
  std::vector<Bytes> packets;
  for (std::size_t at = 0; at + 188 <= stream.size(); at += 188) {
    int pid = (stream[at + 1] & 0x1F) << 8 | stream[at + 2];
    if (std::count(pids.begin(), pids.end(), pid) > 0 ||
        (service >= 0 && (pid >> 8 == service + 1 || pid == 0x1F00 + service))) {
      packets.emplace_back(stream.begin() + at, stream.begin() + at + 188);
    }
  }
  return packets;
}

// The lines of a time log that begin with a program's mark, without it; for program 0, every line.
std::vector<std::string> logLines(const std::string& log, int program = 0) {
  std::vector<std::string> lines;
  char mark[16];
  int length = program == 0 ? 0 : std::snprintf(mark, sizeof mark, "[%5d] ", program);
  for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
    if (log.compare(at, length, mark, length) == 0)
      lines.push_back(log.substr(at + length, end - at - length));
  }
  return lines;
}

TEST(Multiplex, EveryServiceIsRepairedAsItIsAlone) {
  for (std::uint32_t round = 1; round <= 4; ++round) {
    std::mt19937 random(round);
    int count = 2 + static_cast<int>(random() % 3);
    std::vector<gen::Recording> services;
    std::vector<gen::ProgramEntry> programs = {{0, 0x0010}};
    for (int n = 0; n < count; ++n) {
      services.push_back(gen::makeRecording(randomService(random, n, round)));
      programs.push_back({gen::multiplexServicePids(n).programNumber, 0x1F00 + n});
    }
    std::vector<const gen::Recording*> recordings;
    for (const gen::Recording& service : services) recordings.push_back(&service);
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
    // Through a pipe, a stream of unknown size, the same bytes.
    testing::RunOptions piped{.input = folder / "mux.ts", .inputThroughPipe = true};
    folder.run({"-services", "all", "-pmtcheck", pmtcheck, "-log", "on", "-", "piped.ts"}, piped);
    EXPECT_EQ(readFile(folder / "piped.ts"), repaired);
    EXPECT_EQ(readText(folder / "piped_Time.log"), log);

    std::size_t serviceLines = 0;
    for (int n = 0; n < count; ++n) {
      writeFile(folder / "alone.ts", services[n].bytes);
      RunResult alone = folder.run({"-services", "one", "-nogop", "on", "-pmtcheck", pmtcheck,
                                    "-log", "on", "alone.ts", "alone.out.ts"});
      ASSERT_EQ(alone.status, 1) << alone.err;
      EXPECT_EQ(packetsOf(repaired, {}, n), packetsOf(readFile(folder / "alone.out.ts"), {}, n))
          << "service " << n;
      std::vector<std::string> aloneLines = logLines(readText(folder / "alone_Time.log"));
      EXPECT_EQ(logLines(log, programs[n + 1].programNumber), aloneLines) << "service " << n;
      serviceLines += aloneLines.size();
      std::string heading = "サービス " + std::to_string(programs[n + 1].programNumber) + ": ";
      EXPECT_NE(all.out.find(testing::toCp932(heading)), std::string::npos) << all.out;
    }
    // No line of the multiplex's log is left without its program.
    EXPECT_EQ(logLines(log).size(), serviceLines);
  }
}

// Two services of five seconds, 1024 on PIDs 0x01xx (MPEG-2) and 1032 on PIDs 0x02xx (H.264).
Bytes twoServices() {
  std::vector<gen::Recording> services;
  for (int n = 0; n < 2; ++n) {
    gen::RecordingOptions options;
    options.durationTicks = 5 * 90000;
    options.pids = gen::multiplexServicePids(n);
    options.videoStreamType = n == 0 ? 0x02 : 0x1B;
    services.push_back(gen::makeRecording(options));
  }
  return gen::interleave({&services[0], &services[1]},
                         {{0, 0x0010}, {0x0400, 0x1F00}, {0x0408, 0x1F01}}, 5);
}

// Each packet of `pid` replaced by `packets`, the PID's counters numbered anew.
Bytes withPackets(const Bytes& stream, int pid, const Bytes& packets) {
  Bytes out;
  int counter = 0;
  for (std::size_t at = 0; at < stream.size(); at += 188) {
    bool replaced = ((stream[at + 1] & 0x1F) << 8 | stream[at + 2]) == pid;
    const std::uint8_t* from = replaced ? packets.data() : stream.data() + at;
    out.insert(out.end(), from, from + (replaced ? packets.size() : 188));
    for (std::size_t k = 0; replaced && k < packets.size(); k += 188) {
      out[out.size() - packets.size() + k + 3] = static_cast<std::uint8_t>(0x10 | counter++ % 16);
    }
  }
  return out;
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

std::vector<Bytes> withoutCounters(std::vector<Bytes> packets) {
  for (Bytes& packet : packets) packet[3] &= 0xF0;
  return packets;
}

// Damaged, unusual and scrambled tables and streams: each run completes, every packet keeps its
// place, the streams of both services come out as from the clean multiplex, but for those that a
// case leaves their counters only, and every other packet keeps all but its counter.
TEST(Multiplex, BadTablesAndScrambledStreamsAreTakenOrPassedThrough) {
  const Bytes two = twoServices();
  ToolFolder folder;
  writeFile(folder / "clean.ts", two);
  ASSERT_EQ(folder.run({"-services", "all", "clean.ts", "clean.out.ts"}).status, 1);
  const Bytes clean = readFile(folder / "clean.out.ts");

  Bytes manyPrograms = two;  // 280 programs more, behind the first PAT
  for (int k = 0; k < 7; ++k) {
    std::vector<gen::ProgramEntry> programs;
    for (int j = 0; j < 40; ++j) programs.push_back({2000 + 40 * k + j, 0x1000 + 40 * k + j});
    Bytes pat;
    gen::appendPat(pat, programs);
    manyPrograms.insert(manyPrograms.begin() + 188, pat.begin(), pat.end());
  }
  // 1032 lists 1024's video and audio as well
  Bytes otherProgramsPid =
      withPackets(two, 0x1F01, pmtOf1032With({{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}}));
  // 1032 lists the PAT's PID and both PMT PIDs as streams
  Bytes tablePids = withPackets(
      two, 0x1F01, pmtOf1032With({{0x02, 0x0000, {}}, {0x0F, 0x1F00, {}}, {0x06, 0x1F01, {}}}));
  Bytes pat;  // a third program whose PMT never comes
  gen::appendPat(pat, {{0x0400, 0x1F00}, {0x0408, 0x1F01}, {0x0410, 0x1F02}});
  Bytes withoutPmt = withPackets(two, 0x0000, pat);
  // 1032's PMT runs on beyond its packet, as a section that spans packets: it is read whole,
  // and its caption stream behind 30 other streams is 1032's. Cut short, where the packet after
  // never comes, it is not read at all.
  std::vector<gen::PmtEntry> fillers;
  for (int k = 0; k < 30; ++k) fillers.push_back({0x06, 0x0250 + k, {0x52, 0x01, 0x38}});
  Bytes spanningPmt = pmtOf1032With(fillers);
  ASSERT_EQ(spanningPmt.size(), 2u * 188);
  Bytes spanning = withPackets(two, 0x1F01, spanningPmt);
  Bytes cutShort = withPackets(two, 0x1F01, Bytes(spanningPmt.begin(), spanningPmt.begin() + 188));
  Bytes errored = two;  // every other PAT and PMT packet errored, after the first ones
  std::map<int, int> tables;
  for (std::size_t at = 0; at < errored.size(); at += 188) {
    int pid = (errored[at + 1] & 0x1F) << 8 | errored[at + 2];
    if ((pid == 0 || pid >= 0x1F00) && tables[pid]++ % 2 == 1) {
      gen::markErrored(errored, static_cast<std::int64_t>(at / 188), 1, 9);
    }
  }
  Bytes scrambled = two;  // 1024's video scrambled: 1024 gets its counters only
  gen::scramblePid(scrambled, 0x0111);

  const struct {
    const char* name;
    const Bytes& stream;
    std::vector<int> countersOnly;  // the streams that get their counters only
    std::string console;            // a text the console shows
  } cases[] = {
      {"280 programs more", manyPrograms, {}, "サービス 2253: PMTが見つかりません"},
      {"another program's PIDs", otherProgramsPid, {}, "映像 0111(MPEG-2) 音声 0112(AAC)"},
      {"table PIDs as streams", tablePids, {}, "サービス 1032: PCR 02ff 映像 0211(H.264)"},
      {"a PMT never comes", withoutPmt, {}, "サービス 1040: PMTが見つかりません"},
      {"a PMT spans packets", spanning, {}, "その他 0250"},
      {"a PMT cut short",
       cutShort,
       {0x0211, 0x0212, 0x0213, 0x0230, 0x02FF},
       "サービス 1032: PMTのCRCが一致しません"},
      {"errored tables", errored, {}, "サービス 1032: PCR 02ff"},
      {"scrambled video",
       scrambled,
       {0x0111, 0x0112, 0x0113, 0x0130, 0x01FF},
       "...スクランブルされています."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(folder / "bad.ts", c.stream);
    RunResult result = folder.run({"-services", "all", "bad.ts", "bad.out.ts"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.out.find(testing::toCp932(c.console)), std::string::npos) << result.out;
    Bytes repaired = readFile(folder / "bad.out.ts");
    ASSERT_EQ(repaired.size(), c.stream.size());
    std::set<int> pids;
    for (std::size_t at = 0; at < c.stream.size(); at += 188) {
      pids.insert((repaired[at + 1] & 0x1F) << 8 | repaired[at + 2]);
    }
    for (int pid : pids) {
      bool countersOnly = pid >> 8 < 1 || pid >> 8 > 2 ||
                          std::count(c.countersOnly.begin(), c.countersOnly.end(), pid) > 0;
      EXPECT_EQ(
          countersOnly ? withoutCounters(packetsOf(repaired, {pid})) : packetsOf(repaired, {pid}),
          countersOnly ? withoutCounters(packetsOf(c.stream, {pid})) : packetsOf(clean, {pid}))
          << "PID " << pid;
    }
  }

  // Only a first block without any service is refused: one without a PAT program, and one whose
  // every PMT fails its CRC_32.
  Bytes noProgram;
  for (int k = 0; k < 100; ++k) gen::appendPat(noProgram, {{0, 0x0010}});
  Bytes badCrcs = two;
  for (std::size_t at = 0; at < badCrcs.size(); at += 188) {
    int pid = (badCrcs[at + 1] & 0x1F) << 8 | badCrcs[at + 2];
    if (pid == 0x1F00 || pid == 0x1F01) badCrcs[at + 5 + 9] ^= 0x01;  // PCR_PID of a PMT
  }
  for (const auto& [stream, message] :
       {std::pair{noProgram, msg::kDamagedPat}, std::pair{badCrcs, msg::kBadPmtCrc}}) {
    writeFile(folder / "none.ts", stream);
    RunResult refused = folder.run({"-services", "all", "none.ts", "none.out.ts"});
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(refused.err, message);
  }
}

// Alone, a scrambled audio stream keeps its bytes while the rest is repaired as from the clear
// recording, and scrambled video is refused.
TEST(Multiplex, ScrambledPayloadIsNeverTouchedAlone) {
  ToolFolder folder;
  auto run = [&folder](const Bytes& stream) {
    writeFile(folder / "in.ts", stream);
    RunResult result = folder.run({"-nogop", "on", "in.ts", "out.ts"});
    return std::make_pair(result, readFile(folder / "out.ts"));
  };
  gen::RecordingOptions options;
  options.durationTicks = 5 * 90000;
  Bytes audio = gen::makeRecording(options).bytes;
  Bytes clear = run(audio).second;
  gen::scramblePid(audio, gen::kAudio2Pid);
  auto [result, repaired] = run(audio);
  EXPECT_EQ(result.status, 1);
  for (int pid : {gen::kVideoPid, gen::kAudio1Pid, gen::kCaptionPid, gen::kPcrPid, gen::kPmtPid}) {
    EXPECT_EQ(packetsOf(repaired, {pid}), packetsOf(clear, {pid})) << "PID " << pid;
  }
  EXPECT_EQ(withoutCounters(packetsOf(repaired, {gen::kAudio2Pid})),
            withoutCounters(packetsOf(audio, {gen::kAudio2Pid})));

  Bytes video = gen::makeRecording(options).bytes;
  gen::scramblePid(video, gen::kVideoPid);
  result = run(video).first;
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, msg::kScrambledVideoInfo);
}

// What a service of a multiplex takes as video, as audio, as captions and as other timed streams.
TEST(Multiplex, StreamTypesCountAsTheirKind) {
  enum Kind { video, audio, caption, other, none };
  // AC-3, E-AC-3 (behind another descriptor) and DTS descriptors make a private stream audio,
  // but not as bytes inside another descriptor; component tag 0x30 makes it captions, 0x38
  // (superimposed text) another stream. MPEG-1 video is no anchor; sections are no stream.
  // clang-format off
  const struct {
    int streamType;
    gen::Bytes descriptors;
    Kind kind;
  } cases[] = {
      {0x02, {}, video}, {0x1B, {}, video}, {0x24, {}, video}, {0x01, {}, other},
      {0x03, {}, audio}, {0x04, {}, audio}, {0x0F, {}, audio}, {0x11, {}, audio},
      {0x81, {}, audio}, {0x87, {}, audio}, {0x06, {0x6A, 0x01, 0x00}, audio},
      {0x06, {0x52, 0x01, 0x10, 0x7A, 0x00}, audio}, {0x06, {0x7B, 0x00}, audio},
      {0x06, {0x52, 0x01, 0x30}, caption}, {0x06, {0x52, 0x01, 0x38}, other},
      {0x06, {0x09, 0x04, 0x6A, 0x7A, 0x7B, 0x00}, other}, {0x05, {}, none},
      {0x0D, {}, none}, {0x86, {}, none},
  };
  // clang-format on
  for (const auto& c : cases) {
    gen::Bytes bytes;
    gen::appendPmt(bytes, 0x01F0, 0x01FF, {{c.streamType, 0x0140, c.descriptors}});
    ProgramPids pids;
    readPmt(sectionIn(bytes.data()), pids, PmtStreams::anyStream);
    const PidList* lists[] = {&pids.video, &pids.audio, &pids.captions, &pids.others};
    for (int kind = video; kind <= other; ++kind) {
      EXPECT_EQ(containsPid(*lists[kind], 0x0140), kind == c.kind)
          << "stream_type " << c.streamType << ", list " << kind;
    }
  }
}

}  // namespace
}  // namespace corvane
