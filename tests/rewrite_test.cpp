// The rewrite pass end to end: generated recordings through the built executable, with the
// expected output worked out from how each recording was built.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "output/messages.h"
#include "pass/rewrite_pass.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;
using testing::readFile;
using testing::RunResult;
using testing::ToolFolder;

constexpr std::int64_t kTwo33 = std::int64_t{1} << 33;
constexpr std::int64_t kOneHour = 324000000;  // 90 kHz
constexpr std::int64_t kBlock = 2310144;

std::int64_t mod33(std::int64_t value) {
  value %= kTwo33;
  return value < 0 ? value + kTwo33 : value;
}

std::string progressLine(int percent) { return testing::printed(msg::kRewriteProgress, percent); }
const std::string kDoneLine = testing::printed(msg::kRewriteDone, 0);
const std::string kSurveyLine = msg::kSurveyProgress;
const std::regex kTimeLine(std::string("(") + testing::timeLinePattern(msg::kStartTime) + "|" +
                           testing::timeLinePattern(msg::kEndTime) + ")");

std::string col(long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%13lld", value);
  return text;
}

// What a whole run must leave: checks one output against the recording it was made from.
// `pmtcheck` tells whether PIDs that the PMT adds later are rebased.
class RecordingCheck {
 public:
  RecordingCheck(const gen::Recording& recording, const Bytes& output)
      : recording_(recording), source_(recording.bytes), output_(output) {}

  void untouchedBytesAndLength() const {
    ASSERT_EQ(output_.size(), source_.size());
    std::set<std::int64_t> pcrPackets;
    for (const auto& pcr : recording_.pcrs) pcrPackets.insert(pcr.packet);
    std::map<std::int64_t, const gen::PesRecord*> pesPackets;
    for (const auto& pes : recording_.pes) pesPackets[pes.packet] = &pes;
    for (std::size_t at = 0; at < source_.size(); ++at) {
      std::int64_t packet = static_cast<std::int64_t>(at / 188);
      std::size_t byte = at % 188;
      if (byte == 3) {
        ASSERT_EQ(output_[at] & 0xF0, source_[at] & 0xF0) << at;
        continue;
      }
      if (pcrPackets.count(packet) && byte >= 6 && byte <= 11) continue;
      auto pes = pesPackets.find(packet);
      if (pes != pesPackets.end()) {
        std::size_t o = (source_[packet * 188 + 3] & 0x20) ? source_[packet * 188 + 4] + 1 : 0;
        std::size_t end = pes->second->dts >= 0 ? 22 : 17;
        if (byte >= 13 + o && byte <= end + o) {
          // Prefix nibble and markers are kept.
          static const std::uint8_t kKept[5] = {0xF1, 0x00, 0x01, 0x00, 0x01};
          ASSERT_EQ(output_[at] & kKept[(byte - 13 - o) % 5],
                    source_[at] & kKept[(byte - 13 - o) % 5]);
          continue;
        }
      }
      ASSERT_EQ(output_[at], source_[at]) << "byte " << at;
    }
  }

  // Every PID counts 0, 1, ... 15, 0 over its packets with payload; packets without payload
  // repeat the counter; the packet that starts a joined GOP skips one value.
  void continuityCounters() const {
    std::set<std::int64_t> joints(recording_.jointPackets.begin(), recording_.jointPackets.end());
    std::map<int, int> last;
    for (std::size_t packet = 0; packet * 188 < output_.size(); ++packet) {
      const std::uint8_t* p = &output_[packet * 188];
      int pid = (p[1] & 0x1F) << 8 | p[2];
      auto seen = last.find(pid);
      int expected;
      if (p[3] & 0x10) {
        expected = seen == last.end() ? 0 : (seen->second + 1) % 16;
      } else {
        expected = seen == last.end() ? 0 : seen->second;
      }
      if (joints.count(static_cast<std::int64_t>(packet))) expected = (expected + 1) % 16;
      ASSERT_EQ(p[3] & 0x0F, expected) << "packet " << packet << " PID " << pid;
      last[pid] = expected;
    }
  }

  // The output timeline of a segment: output = program time + shift[segment]. The reference
  // pictures lie every 9,009 ticks and a joint leaves the same gap, so the whole video timeline
  // steps by 9,009 from one hour on, one tick less once the source clock's wrap is followed.
  void timestamps() const {
    std::map<int, std::int64_t> shift;
    std::int64_t firstRefProgram = -1;
    std::int64_t refIndex = 0;
    bool wrapFollowed = false;
    std::int64_t captionBase = -1;
    for (const auto& pes : recording_.pes) {
      const std::uint8_t* p = &output_[pes.packet * 188];
      std::size_t o = (p[3] & 0x20) ? p[4] + 1 : 0;
      std::int64_t outPts = gen::decodeTimestamp(p + 13 + o);
      if (pes.pid == gen::kCaptionPid) {
        if (captionBase < 0 && pes.pts > kOneHour) captionBase = pes.pts;
        std::int64_t base = captionBase < 0 ? 0 : captionBase;
        ASSERT_EQ(outPts, mod33(kOneHour + pes.pts - base + 45000)) << "caption " << pes.packet;
        continue;
      }
      if (pes.dts >= 0) {
        if (firstRefProgram < 0) firstRefProgram = pes.programPts;
        if (pes.wrapped && pes.segment == 0) wrapFollowed = true;
        std::int64_t expected =
            kOneHour + firstRefProgram + 9009 * refIndex - (wrapFollowed ? 1 : 0);
        ++refIndex;
        ASSERT_EQ(outPts, mod33(expected)) << "reference picture at packet " << pes.packet;
        if (!shift.count(pes.segment)) shift[pes.segment] = expected - pes.programPts;
        std::int64_t outDts = gen::decodeTimestamp(p + 18 + o);
        ASSERT_EQ(mod33(outPts - outDts), mod33(pes.pts - pes.dts));
        continue;
      }
      ASSERT_TRUE(shift.count(pes.segment));
      // In the segment where the clock wraps, values past the wrap lose the tick once it is
      // followed; values from before it keep the old offset.
      std::int64_t drift = (pes.segment == 0 && wrapFollowed && pes.wrapped) ? 1 : 0;
      ASSERT_EQ(outPts, mod33(pes.programPts + shift[pes.segment] - drift))
          << "PES at packet " << pes.packet << " PID " << pes.pid;
    }
  }

  // PCRs move with the PTS of their segment; the first lands exactly at one hour.
  void pcrs() const {
    std::map<int, std::int64_t> shift;
    bool first = true;
    bool wrapFollowed = false;
    std::set<std::int64_t> joints(recording_.jointPackets.begin(), recording_.jointPackets.end());
    std::map<std::int64_t, const gen::PesRecord*> refs;
    for (const auto& pes : recording_.pes) {
      if (pes.dts >= 0) refs[pes.packet] = &pes;
    }
    // The shift of each segment, taken from its first reference picture.
    for (const auto& [packet, pes] : refs) {
      if (!shift.count(pes->segment)) shift[pes->segment] = outPts(packet) - pes->programPts;
    }
    auto firstWrapped =
        std::find_if(recording_.pes.begin(), recording_.pes.end(),
                     [](const gen::PesRecord& r) { return r.dts >= 0 && r.wrapped; });
    for (const auto& pcr : recording_.pcrs) {
      std::int64_t out = gen::decodePcr(&output_[pcr.packet * 188]);
      if (first) {
        EXPECT_EQ(out, 97200000000);
        first = false;
      }
      if (firstWrapped != recording_.pes.end() && pcr.packet > firstWrapped->packet) {
        wrapFollowed = true;
      }
      if (joints.count(pcr.packet)) {
        // A PCR in the packet that starts a joined GOP is rebased before the joint: with the
        // offset of the reference picture before it, applied to the new segment's value.
        const gen::PesRecord* before = std::prev(refs.lower_bound(pcr.packet))->second;
        std::int64_t oldOffset = before->pts - outPts(before->packet);
        std::int64_t difference = mod33(out / 300 - (pcr.pcr / 300 - oldOffset));
        ASSERT_TRUE(difference <= 1 || difference == kTwo33 - 1) << "PCR at packet " << pcr.packet;
        continue;
      }
      std::int64_t drift = (pcr.segment == 0 && wrapFollowed && pcr.wrapped) ? 1 : 0;
      std::int64_t expected = pcr.programPcr / 300 + shift[pcr.segment] - drift;
      ASSERT_EQ(out / 300 % kTwo33, mod33(expected)) << "PCR at packet " << pcr.packet;
      ASSERT_EQ(out % 300, 0);
    }
  }

 private:
  std::int64_t outPts(std::int64_t packet) const {
    const std::uint8_t* p = &output_[packet * 188];
    std::size_t o = (p[3] & 0x20) ? p[4] + 1 : 0;
    return gen::decodeTimestamp(p + 13 + o);
  }

  const gen::Recording& recording_;
  const Bytes& source_;
  const Bytes& output_;
};

// The per-packet rules in memory, on a prepared service, adopted at the first rewrite.
class PacketPass : public ::testing::Test {
 protected:
  // Rewrites `stream` in place as the pass does; the refusal of a PMT re-read that failed.
  Refusal rewrite(Bytes& stream) {
    if (multiplex_.programs.empty()) adoptService(multiplex_, service_, pmtcheck_);
    const auto size = static_cast<std::int64_t>(stream.size());
    rules_.walker = PacketWalker{};
    return rewritePackets(rules_, WalkView<std::uint8_t>{stream.data(), 0, size, size, true});
  }

  Service service_;
  bool pmtcheck_ = false;
  Multiplex multiplex_;
  CountersPointer counters_ = makeContinuityCounters();
  testing::RecordedEvents events_;
  PacketRules rules_{multiplex_, *counters_, events_.sink, PacketWalker{}};
};

TEST_F(PacketPass, PacketWithoutPayloadRepeatsItsPidsCounterAndAJointSkipsOne) {
  Bytes stream;
  gen::appendPayload(stream, 0x0200, 9);
  gen::appendPayload(stream, 0x0200, 9);
  gen::appendPcrOnly(stream, 0x0200, 0, 9);  // adaptation field only
  gen::appendPayload(stream, 0x0200, 9);
  gen::appendPcrOnly(stream, 0x0201, 0, 9);  // a PID's very first packet: 0
  gen::appendPayload(stream, 0x0201, 9);
  rewrite(stream);
  std::vector<int> counters;
  for (std::size_t at = 3; at < stream.size(); at += 188) counters.push_back(stream[at] & 0x0F);
  EXPECT_EQ(counters, (std::vector<int>{0, 1, 1, 2, 0, 1}));

  stream[3] = 0x1F;  // renumbered to 15
  skipOneCount(*counters_, stream.data());
  EXPECT_EQ(stream[3], 0x10);  // payload only, as built, and the counter from 15 to 0
}

// Each case a PID of its own: its packets' counters (a: adaptation field only, d: flagging a
// discontinuity, e: errored, s: scrambled), then the counters renumbered and the drops, errors and
// scrambled packets, all worked out by hand.
TEST_F(PacketPass, SourceCountersTellDropsAndTheRenumberingIgnoresThem) {
  struct Case {
    const char* packets;
    std::vector<int> renumbered;
    PidCounts counts;
  };
  const Case cases[] = {
      {"0 1 2 3", {0, 1, 2, 3}, {}},
      {"7 8 10 11", {0, 1, 2, 3}, {0, 1, 0}},
      {"15 0 1", {0, 1, 2}, {}},
      {"4 4 5", {0, 1, 2}, {}},              // a duplicate
      {"4 4 4 5", {0, 1, 2, 3}, {0, 1, 0}},  // one duplicate; the next is 16 lost
      {"3 a3 4", {0, 0, 1}, {}},
      {"3 a9 4", {0, 0, 1}, {}},  // no payload: its counter does not count
      {"3 d9 10", {0, 1, 2}, {}},
      {"3 e9 4", {0, 1, 2}, {1, 0, 0}},  // an errored counter cannot be trusted
      {"a5 6", {0, 1}, {}},
      {"2 9 10 3", {0, 1, 2, 3}, {0, 2, 0}},
      {"s1 s2 s4", {0, 1, 2}, {0, 1, 3}},
  };
  Bytes stream;
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    std::istringstream words(cases[i].packets);
    for (std::string word; words >> word;) {
      char kind = std::isdigit(static_cast<unsigned char>(word[0])) ? ' ' : word[0];
      int counter = std::stoi(kind == ' ' ? word : word.substr(1));
      if (kind == 'a') {
        gen::appendPcrOnly(stream, 0x0200 + i, 0, counter);
        continue;
      }
      gen::appendPayload(stream, 0x0200 + i, counter);
      std::uint8_t* p = &stream[stream.size() - 188];
      if (kind == 'd') {
        p[3] |= 0x20;  // an adaptation field of its flags alone: discontinuity_indicator
        p[4] = 1;
        p[5] = 0x80;
      }
      if (kind == 'e') p[1] |= 0x80;
      if (kind == 's') p[3] |= 0x80;
    }
  }
  rewrite(stream);
  std::vector<std::vector<int>> renumbered(std::size(cases));
  for (std::size_t at = 0; at < stream.size(); at += 188) {
    renumbered[static_cast<std::size_t>(packetPid(&stream[at]) - 0x0200)].push_back(stream[at + 3] &
                                                                                    0x0F);
  }
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    SCOPED_TRACE(cases[i].packets);
    const PidCounts& counts = counters_->counts[0x0200 + i];
    EXPECT_EQ(renumbered[static_cast<std::size_t>(i)], cases[i].renumbered);
    EXPECT_EQ(counts.errors, cases[i].counts.errors);
    EXPECT_EQ(counts.drops, cases[i].counts.drops);
    EXPECT_EQ(counts.scrambled, cases[i].counts.scrambled);
    EXPECT_EQ(counters_->packets[0x0200 + i],
              static_cast<std::int64_t>(cases[i].renumbered.size()));
  }
}

TEST_F(PacketPass, DamageAndCountedPacketsAreReportedAtTheirOffsets) {
  insertPid(service_.pids.pcr, gen::kPcrPid);
  Bytes stream;
  gen::appendPcrOnly(stream, gen::kPcrPid, 0);
  gen::appendPcrOnly(stream, gen::kPcrPid, 0);
  gen::shortenAdaptationField(stream, 1, 6);
  gen::appendPcrOnly(stream, gen::kPcrPid, 0);
  gen::markErrored(stream, 2, 1, 7);
  gen::appendPcrOnly(stream, 0x0200, 0);                            // not the service's PCR
  stream.insert(stream.end(), stream.begin(), stream.begin() + 3);  // a packet cut short
  rewrite(stream);
  std::vector<std::pair<EventKind, std::int64_t>> seen;
  for (const Event& event : events_.all) seen.emplace_back(event.kind, event.offset);
  using K = EventKind;
  EXPECT_EQ(seen, (std::vector<std::pair<K, std::int64_t>>{{K::pcrRebased, 0},
                                                           {K::packetCounted, 0},
                                                           {K::pcrWithoutRoom, 188},
                                                           {K::erroredPacket, 376},
                                                           {K::cutOffEnd, 752}}));
  EXPECT_EQ(events_.all.back().value, 3);
}

TEST_F(PacketPass, PmtcheckReReadsSectionsOnPmtPidsOnly) {
  pmtcheck_ = true;
  insertPid(service_.pmtPids, gen::kPmtPid);
  insertPid(service_.pids.audio, gen::kAudio1Pid);
  // A PMT without audio, which fails the reader's checks wherever it is re-read.
  Bytes elsewhere;
  gen::appendPmt(elsewhere, 0x0300, gen::kPcrPid, {{0x02, gen::kVideoPid, {}}});
  EXPECT_EQ(rewrite(elsewhere), Refusal::none);
  EXPECT_EQ(pidAt(multiplex_.programs.front().service->pids.audio, 0), gen::kAudio1Pid);
  // Nor is one read from a packet that does not start it; it is damage met.
  Bytes stray;
  gen::appendStrayPmtContinuation(stray, gen::kPmtPid);
  EXPECT_EQ(rewrite(stray), Refusal::none);
  EXPECT_EQ(events_.of(EventKind::straySection).size(), 1u);
  Bytes onPmtPid;
  gen::appendPmt(onPmtPid, gen::kPmtPid, gen::kPcrPid, {{0x02, gen::kVideoPid, {}}});
  EXPECT_EQ(rewrite(onPmtPid), Refusal::noAudioInPmt);
}

gen::Recording writeRecording(const ToolFolder& folder, const gen::RecordingOptions& options,
                              const std::string& name = "rec.ts") {
  gen::Recording recording = gen::makeRecording(options);
  testing::writeFile(folder / name, recording.bytes);
  return recording;
}

TEST(RewritePass, SampleRecordingComesOutOnOneTimeline) {
  for (bool pcrOnVideo : {false, true}) {
    ToolFolder folder;
    gen::RecordingOptions options = gen::sampleOptions();
    options.pcrOnVideoPid = pcrOnVideo;
    gen::Recording recording = writeRecording(folder, options);
    ASSERT_GT(recording.bytes.size(), static_cast<std::size_t>(kBlock));  // crosses a block
    ASSERT_EQ(recording.jointPackets.size(), 2u);

    RunResult result = folder.run({"-log", "on", "rec.ts"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);  // the source is untouched

    Bytes output = readFile(folder / "rec.000.ts");
    RecordingCheck check(recording, output);
    check.untouchedBytesAndLength();
    check.continuityCounters();
    check.timestamps();
    check.pcrs();

    std::string log = testing::readText(folder / "rec_Time.log");
    EXPECT_EQ(testing::occurrences(log, "********* Joint GOP *********\r\nGOPPTS: "), 2u);
    EXPECT_NE(log.find("********* wrap around GOP *********\r\nV-GOP : "), std::string::npos);
  }
}

// Clean joints: with stretches cut anywhere in a GOP, audio sent up to a second ahead, PCRs and
// audio before the pictures, and the clock's wrap in any stretch, every timestamp comes out on
// the program's own continuous timeline (captions half a second later), one tick less for each
// wrap followed. Only counters and timestamps change, and each joint picture's counter skips
// one. One service and all, named and piped.
TEST(RewritePass, CleanJointsPutEveryStreamOfAStretchOnItsOffset) {
  std::mt19937 random(38);
  auto below = [&](std::int64_t bound) { return static_cast<std::int64_t>(random() % bound); };
  ToolFolder folder;
  for (int round = 0; round < 9; ++round) {
    gen::RecordingOptions options;
    options.videoStreamType = std::array{0x02, 0x1B, 0x24}[round % 3];
    options.bFrames = round % 3 == 0 || below(2) == 0;
    options.durationTicks = 40 * 90000;
    options.sourceStart = gen::kPtsModulus - below(40 * 90000);
    options.jumpsMidGop = below(4) > 0;
    options.audioLead = below(90001);
    options.videoLast = below(2) == 0;
    options.pcrOnVideoPid = below(2) == 0;
    for (std::int64_t at = 3 + below(8); at < 37; at += 2 + below(12)) {
      std::int64_t delta = (15 + below(900)) * 90000 + below(90000);
      options.jumps.push_back({at * 90000, below(2) == 0 ? delta : -delta});
    }
    const bool all = below(2) == 0;
    const bool piped = below(2) == 0;
    SCOPED_TRACE("round " + std::to_string(round));
    gen::Recording recording = writeRecording(folder, options);
    std::filesystem::remove(folder / "out.ts");
    RunResult result = folder.run({"-joints", "clean", "-services", all ? "all" : "one", "-report",
                                   "r.json", piped ? "-" : "rec.ts", "out.ts"},
                                  {.input = folder / "rec.ts", .inputThroughPipe = piped});
    EXPECT_EQ(result.status, 1) << result.err;
    Bytes output = readFile(folder / "out.ts");
    RecordingCheck check(recording, output);
    check.untouchedBytesAndLength();
    check.continuityCounters();
    EXPECT_NE(testing::readText(folder / "r.json").find("\"unjoined_stretches\": 0,"),
              std::string::npos);

    // output - program time, less the captions' lead, in 90 kHz ticks modulo 2^33.
    std::vector<std::int64_t> shifts;
    for (const gen::PesRecord& pes : recording.pes) {
      const std::uint8_t* p = &output[pes.packet * 188];
      std::size_t o = (p[3] & 0x20) ? p[4] + 1 : 0;
      std::int64_t lead = pes.pid == gen::kCaptionPid ? 45000 : 0;
      shifts.push_back(mod33(gen::decodeTimestamp(p + 13 + o) - pes.programPts - lead));
      // The DTS, as far before the PTS in the program as in the source.
      std::int64_t dtsLag = mod33(pes.pts - pes.dts);
      if (pes.dts >= 0)
        shifts.push_back(mod33(gen::decodeTimestamp(p + 18 + o) - pes.programPts + dtsLag));
    }
    for (const gen::PcrRecord& pcr : recording.pcrs) {
      std::int64_t out = gen::decodePcr(&output[pcr.packet * 188]);
      EXPECT_EQ(out % 300, pcr.pcr % 300);
      shifts.push_back(mod33(out / 300 - pcr.programPcr / 300));
    }
    // A wrap loses one tick, and the source wraps at most twice in 40 s with these jumps.
    auto [low, high] = std::minmax_element(shifts.begin(), shifts.end());
    EXPECT_LE(mod33(*high - *low), 2) << *low << " to " << *high;
  }
}

TEST(RewritePass, ProgressAndTimeLogOfASmallStreamAreExact) {
  ToolFolder folder;
  Bytes stream;
  gen::appendPat(stream, {{1, 0x01F0}});
  gen::appendPmt(stream, 0x01F0, 0x01FF, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}});
  gen::appendPcrOnly(stream, 0x01FF, 97200300000);  // offset 1000
  gen::PesStart video;
  video.pts = 324046000;
  video.dts = 324043000;
  gen::appendPesStart(stream, video);
  gen::appendPayload(stream, 0x0111);
  gen::appendPcrOnly(stream, 0x01FF, 97203000000);
  gen::PesStart audio;
  audio.pid = 0x0112;
  audio.streamId = 0xC0;
  audio.pts = 324040000;
  gen::appendPesStart(stream, audio);
  gen::appendNull(stream);
  testing::writeFile(folder / "small.ts", stream);

  RunResult result = folder.run({"small.ts", "out.ts", "-log", "on"});
  EXPECT_EQ(result.status, 1);
  // Handled packets 2, 3, 5 and 6 of 8.
  std::string expected = kSurveyLine + progressLine(0) + progressLine(0) + progressLine(25) +
                         progressLine(37) + progressLine(62) + progressLine(75) + kDoneLine;
  std::smatch start;
  ASSERT_TRUE(std::regex_search(result.out, start, kTimeLine));
  EXPECT_EQ(start.position(0), 0);
  std::string middle = result.out.substr(start.length(0));
  ASSERT_GE(middle.size(), expected.size());
  EXPECT_EQ(middle.substr(0, expected.size()), expected);
  EXPECT_TRUE(std::regex_match(middle.substr(expected.size()), kTimeLine));

  EXPECT_EQ(testing::readText(folder / "small_Time.log"),
            "PCR   : " + col(97200300000) + ", " + col(324001000) + ", " + col(1000) + ", " +
                col(324000000) + "\r\n" + "V-GOP :                " + col(324046000) + ", " +
                col(1000) + ", " + col(324045000) + ", " + col(0) + ", " + col(324046000) + "\r\n" +
                "PCR   : " + col(97203000000) + ", " + col(324010000) + ", " + col(1000) + ", " +
                col(324009000) + "\r\n" + "A-PTS :                " + col(324040000) + ", " +
                col(1000) + ", " + col(324039000) + "\r\n");

  Bytes output = readFile(folder / "out.ts");
  ASSERT_EQ(output.size(), stream.size());
  EXPECT_EQ(gen::decodeTimestamp(&output[3 * 188 + 13]), 324045000);
  EXPECT_EQ(gen::decodeTimestamp(&output[3 * 188 + 18]), 324042000);
  EXPECT_EQ(gen::decodePcr(&output[5 * 188]), 97202700000);
  EXPECT_EQ(gen::decodeTimestamp(&output[6 * 188 + 13]), 324039000);
}

TEST(RewritePass, NamesInAnyScriptReachTheTool) {
  ToolFolder folder;
  gen::Recording recording = gen::makeRecording(gen::sampleOptions());
  testing::writeFile(folder.dir() / std::filesystem::path(u8"録画 ニュース.ts"), recording.bytes);
  RunResult result =
      folder.run({"-log", "on",
                  "\xE9\x8C\xB2\xE7\x94\xBB \xE3\x83\x8B\xE3\x83\xA5\xE3\x83\xBC\xE3\x82\xB9.ts"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(
      std::filesystem::file_size(folder.dir() / std::filesystem::path(u8"録画 ニュース.000.ts")),
      recording.bytes.size());
  EXPECT_TRUE(
      std::filesystem::exists(folder.dir() / std::filesystem::path(u8"録画 ニュース_Time.log")));
}

TEST(RewritePass, WholeBlocksAndPartialPacketsKeepTheSourceLength) {
  gen::RecordingOptions options = gen::sampleOptions();
  options.videoPacketsPerFrame = 10;
  gen::Recording recording = gen::makeRecording(options);
  ASSERT_GT(recording.bytes.size(), static_cast<std::size_t>(2 * kBlock));
  for (std::int64_t length :
       {2 * kBlock, 2 * kBlock - 188 + 100, kBlock + 3, kBlock + 188 * 7 + 4}) {
    ToolFolder folder;
    Bytes source(recording.bytes.begin(), recording.bytes.begin() + length);
    testing::writeFile(folder / "cut.ts", source);
    RunResult result = folder.run({"cut.ts"});
    EXPECT_EQ(result.status, 1) << length;
    EXPECT_NE(result.out.find(kDoneLine), std::string::npos);
    EXPECT_EQ(result.out.find("100% \r"), std::string::npos);
    Bytes output = readFile(folder / "cut.000.ts");
    ASSERT_EQ(output.size(), source.size()) << length;
    // The partial last packet: only its counter can differ, and only when byte 3 was read.
    std::int64_t tail = length % 188;
    for (std::int64_t at = length - tail; at < length; ++at) {
      if (at % 188 != 3) {
        EXPECT_EQ(output[at], source[at]) << at;
      }
    }
    EXPECT_EQ(readFile(folder / "cut.ts"), source);
  }
}

#ifndef _WIN32
TEST(RewritePass, RecordingThatGrowsWhileItIsReadKeepsEveryPacketInPlace) {
  // A read ends inside a packet because the file ended there at that moment, and the next read
  // finds more: once inside the survey's block, once inside a later piece.
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  for (std::int64_t end : {kBlock / 2 + 100, kBlock + 288768 * 2 + 188 * 3 + 100}) {
    RunResult result = folder.run({"rec.ts"}, {.fault = "eof-once:rec.ts:" + std::to_string(end)});
    EXPECT_EQ(result.status, 1) << result.err;
    Bytes output = readFile(folder / "rec.000.ts");
    RecordingCheck check(recording, output);
    check.untouchedBytesAndLength();
    check.continuityCounters();
    check.timestamps();
  }
}

TEST(RewritePass, DestinationWhoseCloseFailsIsAWriteError) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  RunResult result = folder.run({"rec.ts", "out.ts"}, {.fault = "close:out.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kWriteError, EIO));
  EXPECT_EQ(result.out.substr(result.out.size() - kDoneLine.size()), kDoneLine);  // no end time
}
#endif

std::string writeOpenError(int code) { return testing::printed(msg::kWriteOpenError, code); }

#ifdef _WIN32
TEST(RewritePass, DestinationThatIsTheSourceFailsOnItsSharingMode) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  for (const char* destination : {".\\rec.ts", ".\\REC.TS"}) {
    RunResult result = folder.run({"rec.ts", destination});
    EXPECT_EQ(result.status, 1) << destination;
    EXPECT_EQ(result.err, writeOpenError(32)) << destination;  // ERROR_SHARING_VIOLATION
    EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes) << destination;
  }
}

TEST(RewritePass, FileNamesIgnoreCase) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  RunResult result = folder.run({"REC.TS"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(readFile(folder / "rec.000.ts").size(), recording.bytes.size());
}
#else
TEST(RewritePass, DestinationThatIsTheSourceIsRefusedBeforeAnythingIsCut) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  ASSERT_EQ(::link((folder / "rec.ts").c_str(), (folder / "hard.ts").c_str()), 0);
  ASSERT_EQ(::symlink("rec.ts", (folder / "soft.ts").c_str()), 0);
  for (const char* destination : {"./rec.ts", "hard.ts", "soft.ts"}) {
    RunResult result = folder.run({"rec.ts", destination});
    EXPECT_EQ(result.status, 1) << destination;
    EXPECT_EQ(result.err, writeOpenError(EBUSY)) << destination;
    EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes) << destination;
  }
}
#endif

TEST(RewritePass, DestinationThatIsTheTimeLogIsRefused) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  RunResult result = folder.run({"-log", "on", "rec.ts", "rec_Time.log"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, writeOpenError(testing::kFileInUse));
  EXPECT_EQ(std::filesystem::file_size(folder / "rec_Time.log"), 0u);
  EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);
}

TEST(RewritePass, DestinationInAMissingFolderEndsWithTheWriteOpenError) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, gen::sampleOptions());
  RunResult result = folder.run({"rec.ts", "missing/out.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(". error code " + std::to_string(testing::kFolderNotFound) + ".\n"),
            std::string::npos);
  EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);
}

// PMT changes: audio 2 moves from 0x0113 to 0x0114 at about 30 s.
gen::RecordingOptions movedAudio() {
  gen::RecordingOptions options;
  options.sourceStart = 1000 * 90000;
  options.pmtChangeAt = 30 * 90000;
  options.audioPidsAfterChange = {gen::kAudio1Pid, 0x0114};
  return options;
}

TEST(PmtTracking, FollowsAnAudioStreamToItsNewPid) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, movedAudio());
  RunResult result = folder.run({"-pmtcheck", "on", "-log", "on", "rec.ts"});
  EXPECT_EQ(result.status, 1) << result.err;
  Bytes output = readFile(folder / "rec.000.ts");
  // No jumps: every timestamp moves by the same offset, also on the new PID.
  std::int64_t offset = 1000 * 90000 - kOneHour;
  int moved = 0;
  for (const auto& pes : recording.pes) {
    if (pes.pid == gen::kCaptionPid) continue;
    ASSERT_EQ(gen::decodeTimestamp(&output[pes.packet * 188 + 13]), pes.pts - offset);
    moved += pes.pid == 0x0114;
  }
  EXPECT_GT(moved, 100);
  std::string log = testing::readText(folder / "rec_Time.log");
  std::string line = "*** Change AUDIOPID  : 0113 -> 0114\r\n";
  std::size_t first = log.find(line);
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(log.find(line, first + 1), std::string::npos);  // repeated PMTs write nothing
  EXPECT_EQ(log.find("*** ", first + 1), std::string::npos);
}

TEST(PmtTracking, WithoutPmtcheckNewPidsAreOnlyRenumbered) {
  ToolFolder folder;
  gen::Recording recording = writeRecording(folder, movedAudio());
  RunResult result = folder.run({"-log", "on", "rec.ts"});
  EXPECT_EQ(result.status, 1);
  Bytes output = readFile(folder / "rec.000.ts");
  for (const auto& pes : recording.pes) {
    if (pes.pid != 0x0114) continue;
    const std::uint8_t* in = &recording.bytes[pes.packet * 188];
    const std::uint8_t* out = &output[pes.packet * 188];
    ASSERT_TRUE(std::equal(in + 4, in + 188, out + 4));
  }
  EXPECT_EQ(testing::readText(folder / "rec_Time.log").find("***"), std::string::npos);
}

TEST(PmtTracking, PmtThatLosesItsAudioEndsTheRunAfterTheWrittenBlocks) {
  ToolFolder folder;
  gen::RecordingOptions options = movedAudio();
  options.videoPacketsPerFrame = 8;
  options.pmtChangeAt = 45 * 90000;
  options.audioPidsAfterChange = {};
  gen::Recording recording = writeRecording(folder, options);
  // The first PMT without audio.
  std::int64_t failing = -1;
  for (std::size_t packet = 0; packet * 188 < recording.bytes.size() && failing < 0; ++packet) {
    const std::uint8_t* p = &recording.bytes[packet * 188];
    if (((p[1] & 0x1F) << 8 | p[2]) == gen::kPmtPid && p[17 + 5 + 3] == 0x06) {
      failing = static_cast<std::int64_t>(packet);
    }
  }
  ASSERT_GT(failing * 188, kBlock);
  RunResult result = folder.run({"-pmtcheck", "on", "rec.ts"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, msg::kNoAudioPmt);
  EXPECT_EQ(std::filesystem::file_size(folder / "rec.000.ts"),
            static_cast<std::uintmax_t>(failing * 188 / kBlock * kBlock));
  EXPECT_EQ(readFile(folder / "rec.ts"), recording.bytes);
  // A pipe cannot be cut back: it is given whole blocks only, the same ones.
  RunResult piped =
      folder.run({"-pmtcheck", "on", "-", "-"}, {.input = folder / "rec.ts",
                                                 .inputThroughPipe = true,
                                                 .stdout_ = testing::RunOptions::Stdout::pipe});
  EXPECT_EQ(piped.status, 0);
  const Bytes blocks = readFile(folder / "rec.000.ts");
  EXPECT_TRUE(Bytes(piped.out.begin(), piped.out.end()) == blocks);
  // Nor is standard output appending to a file that held something before.
  testing::writeFile(folder / "kept.ts", {0x47});
  folder.run({"-pmtcheck", "on", "rec.ts", "-"}, {.output = folder / "kept.ts"});
  Bytes kept = {0x47};
  kept.insert(kept.end(), blocks.begin(), blocks.end());
  EXPECT_TRUE(readFile(folder / "kept.ts") == kept);
#ifndef _WIN32
  // A cut that fails is a write error.
  std::filesystem::remove(folder / "rec.000.ts");
  result = folder.run({"-pmtcheck", "on", "rec.ts"}, {.fault = "truncate:rec.000.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, msg::kNoAudioPmt + testing::printed(msg::kWriteError, EIO));
#endif
}

}  // namespace
}  // namespace corvane
