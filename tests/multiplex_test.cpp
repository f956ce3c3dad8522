// Whole transport streams. A multiplex is repaired service by service as each service alone: the
// packets of a service's PIDs, and its lines of the time log, equal those of the one-service
// repair of that service with a PAT of its own.
#include "service/multiplex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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
