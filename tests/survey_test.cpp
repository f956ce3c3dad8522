#include "service/survey.h"

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
using gen::Bytes;

const gen::PmtEntry kVideoEntry = {0x02, gen::kVideoPid, {}};
const gen::PmtEntry kAudioEntry = {0x0F, gen::kAudio1Pid, {}};

void addTables(Bytes& out, const std::vector<gen::PmtEntry>& streams = {kVideoEntry, kAudioEntry},
               int pcrPid = gen::kPcrPid) {
  gen::appendPat(out, {{1, gen::kPmtPid}});
  gen::appendPmt(out, gen::kPmtPid, pcrPid, streams);
}

void addGopStart(Bytes& out, int pid = gen::kVideoPid) {
  gen::PesStart pes;
  pes.pid = pid;
  pes.pts = 1000;
  pes.dts = 900;
  gen::appendPesStart(out, pes);
}

class Survey : public ::testing::Test {
 protected:
  Refusal survey(const Bytes& bytes) {
    return surveyStream(service_, nogop_, Framing{}, bytes.data(),
                        static_cast<std::int32_t>(bytes.size()));
  }

  Service service_;
  bool nogop_ = false;
};

TEST_F(Survey, AcceptsAStreamThatBeginsAtAGop) {
  Bytes stream;
  addTables(stream,
            {kVideoEntry, kAudioEntry, {0x0F, 0x0113, {}}, {0x06, 0x0130, {0x52, 0x01, 0x30}}});
  gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000);
  addGopStart(stream);
  gen::appendPayload(stream, gen::kVideoPid);
  gen::appendSiPacket(stream);
  gen::appendNull(stream);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97202700000);
  EXPECT_EQ(survey(stream), Refusal::none);
  EXPECT_EQ(pidAt(service_.pmtPids, 0), gen::kPmtPid);
  EXPECT_EQ(pidAt(service_.pids.pcr, 0), gen::kPcrPid);
  EXPECT_EQ(countPids(service_.pids.video), 1);
  EXPECT_EQ(countPids(service_.pids.audio), 2);
  EXPECT_EQ(pidAt(service_.pids.captions, 0), 0x0130);
  EXPECT_EQ(service_.timeline.ptsOffset, 0);
  EXPECT_EQ(service_.timeline.prevPtsOffset, 0);
}

TEST_F(Survey, FirstOffsetTruncatesTowardZero) {
  const struct {
    std::int64_t firstPcr;
    std::int64_t offset;
  } cases[] = {
      {97200000000, 0},        {0, -324000000},           {97200000000 - 299, 0},
      {97200000000 - 300, -1}, {127200000150, 100000000}, {5000000000, -307333333},
  };
  for (const auto& c : cases) {
    service_ = Service{};
    ASSERT_EQ(survey(testing::acceptedStream(c.firstPcr)), Refusal::none);
    EXPECT_EQ(service_.timeline.ptsOffset, c.offset) << c.firstPcr;
    // The fallback offset before the first joint is the first offset too.
    EXPECT_EQ(service_.timeline.prevPtsOffset, c.offset) << c.firstPcr;
  }
}

TEST_F(Survey, PcrsBeforeThePmtDoNotCount) {
  Bytes stream;
  gen::appendPcrOnly(stream, gen::kPcrPid, 1);
  gen::appendPcrOnly(stream, gen::kPcrPid, 2);
  Bytes rest = testing::acceptedStream(97200000000 + 300 * 5);
  stream.insert(stream.end(), rest.begin(), rest.end());
  EXPECT_EQ(survey(stream), Refusal::none);
  EXPECT_EQ(service_.timeline.ptsOffset, 5);
}

TEST_F(Survey, CaptionsAreFoundByTheirComponentTagAnywhereInTheDescriptors) {
  Bytes stream;
  addTables(stream, {kVideoEntry,
                     kAudioEntry,
                     {0x06, 0x0130, {0x52, 0x01}},  // too short to hold the tag
                     {0x06, 0x0131, {0xFD, 0x05, 0x00, 0x52, 0x01, 0x30, 0x00}},
                     {0x06, 0x0132, {0x52, 0x01, 0x31}},
                     {0x0F + 1, 0x0133, {0x52, 0x01, 0x30}}});
  gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000);
  addGopStart(stream);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97202700000);
  ASSERT_EQ(survey(stream), Refusal::none);
  EXPECT_EQ(countPids(service_.pids.captions), 1);
  EXPECT_EQ(pidAt(service_.pids.captions, 0), 0x0131);
}

TEST_F(Survey, DamagedPacketsAreTakenForNothing) {
  Bytes stream;
  addTables(stream);
  gen::appendNull(stream);  // errored: faces no GOP test
  stream[stream.size() - 188 + 1] |= 0x80;
  gen::appendPcrOnly(stream, gen::kPcrPid, 5);  // a PCR flagged without room for it
  gen::shortenAdaptationField(stream, static_cast<std::int64_t>(stream.size() / 188 - 1), 6);
  addGopStart(stream);
  gen::appendStrayPmtContinuation(stream, gen::kPmtPid);  // not read: the PMT lists no audio
  gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000 + 300 * 7);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97202700000);
  EXPECT_EQ(survey(stream), Refusal::none);
  EXPECT_EQ(service_.timeline.ptsOffset, 7);
}

TEST_F(Survey, NogopLetsAnyPacketComeFirst) {
  nogop_ = true;
  Bytes stream;
  addTables(stream);
  gen::appendPayload(stream, gen::kAudio1Pid);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97202700000);
  EXPECT_EQ(survey(stream), Refusal::none);
}

// An H.264 or HEVC recording must begin at a picture that decodes on its own, which the NAL units
// in the first packet of its PES tell; MPEG-2's rule (a PES with a DTS) does not apply to them.
TEST(SurveyOfH264AndHevc, BeginsAtAPictureThatDecodesOnItsOwn) {
  auto nal = [](std::initializer_list<std::uint8_t> bytes) {
    Bytes unit(4 + bytes.size());
    unit[3] = 0x01;  // the start code 00 00 00 01
    std::copy(bytes.begin(), bytes.end(), unit.begin() + 4);
    return unit;
  };
  auto join = [](std::initializer_list<Bytes> units) {
    Bytes all;
    for (const Bytes& unit : units) all.insert(all.end(), unit.begin(), unit.end());
    return all;
  };
  // H.264: NAL unit type in the low five bits of the header byte.
  const Bytes audAny = nal({0x09, 0xF0});    // primary_pic_type 7: any slice type may follow
  const Bytes audIntra = nal({0x09, 0x10});  // primary_pic_type 0: I slices only
  const Bytes sps = nal({0x67, 0x64, 0x00, 0x0C, 0xAC});
  const Bytes pps = nal({0x68, 0xEB, 0xE3});
  const Bytes idr = nal({0x65, 0x88, 0x84});
  const Bytes nonIdr = nal({0x41, 0x9A, 0x02});
  Bytes longSei(167, 0x41);  // an SEI that runs past the first packet
  const Bytes seiStart = nal({0x06, 0x05, 0xFF});
  std::copy(seiStart.begin(), seiStart.end(), longSei.begin());
  // HEVC: NAL unit type in bits 1 to 6 of the first of two header bytes.
  const Bytes hevcAud = nal({0x46, 0x01, 0x50});  // pic_type 2: B, P and I slices
  const Bytes vps = nal({0x40, 0x01, 0x0C});
  const Bytes hevcSps = nal({0x42, 0x01, 0x01});
  const Bytes cra = nal({0x2A, 0x01, 0xAF});     // type 21, an IRAP picture
  const Bytes trailR = nal({0x02, 0x01, 0xD0});  // type 1, needs the pictures before it

  const struct {
    const char* name;
    int streamType;
    Bytes payload;
    bool randomAccess;
    bool accepted;
  } cases[] = {
      {"H.264 IDR slice", 0x1B, join({audAny, sps, pps, idr}), false, true},
      {"H.264 non-IDR slice, flagged", 0x1B, join({audAny, sps, pps, nonIdr}), true, false},
      {"H.264 parameter set, flagged", 0x1B, join({audAny, sps, pps, longSei}), true, true},
      {"H.264 parameter set, not flagged", 0x1B, join({audAny, sps, pps, longSei}), false, false},
      {"H.264 parameter set, intra AUD", 0x1B, join({audIntra, sps, pps, longSei}), false, true},
      {"H.264 flagged, no parameter set", 0x1B, join({audAny, longSei}), true, false},
      {"HEVC CRA slice", 0x24, join({hevcAud, vps, hevcSps, cra}), false, true},
      {"HEVC trailing slice, flagged", 0x24, join({hevcAud, vps, hevcSps, trailR}), true, false},
  };
  for (const auto& c : cases) {
    Bytes stream;
    addTables(stream, {{c.streamType, gen::kVideoPid, {}}, kAudioEntry});
    gen::PesStart start;
    start.pid = gen::kVideoPid;
    start.pts = 1000;
    start.dts = 900;  // a DTS, which MPEG-2 would take for a GOP start
    start.adaptationLength = 1;
    start.randomAccess = c.randomAccess;
    start.payload = c.payload;
    gen::appendPesStart(stream, start);
    gen::appendPcrOnly(stream, gen::kPcrPid, 0);
    gen::appendPcrOnly(stream, gen::kPcrPid, 1);
    Service service;
    EXPECT_EQ(surveyStream(service, false, Framing{}, stream.data(),
                           static_cast<std::int32_t>(stream.size())),
              c.accepted ? Refusal::none : Refusal::notAtStart)
        << c.name;
    EXPECT_EQ(service.pids.videoCoding,
              c.streamType == 0x1B ? VideoCoding::h264 : VideoCoding::hevc)
        << c.name;
  }
}

// Each refusal through the executable: its exact message, exit status 0, no destination.
TEST(SurveyRefusal, EndsTheRunWithTheMessageOfEachCase) {
  const std::string gopMessage = msg::kNotGopStart;
  struct Case {
    const char* name;
    Bytes stream;
    std::string err;
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* name, Bytes stream, std::string err) {
    cases.push_back({name, std::move(stream), std::move(err)});
  };

  {
    Bytes s;
    addTables(s);
    gen::appendPcrOnly(s, gen::kPcrPid, 0);
    addGopStart(s);
    add("one PCR only", s, msg::kDamagedInfo);
  }
  {
    Bytes s;
    gen::appendPat(s, {{0, 0x0010}});
    add("PAT with the network PID only", s, msg::kDamagedPat);
  }
  {
    Bytes s;
    gen::appendPat(s, {{1, gen::kPmtPid}, {2, 0x01F1}});
    add("PAT with two services", s, msg::kSeveralServicesPat);
  }
  {
    Bytes s;
    gen::appendPat(s, {{1, gen::kPmtPid}});
    gen::appendPat(s, {{2, 0x01F1}});
    add("two PATs with different services", s, msg::kSeveralServicesPat);
  }
  {
    Bytes s;
    addTables(s, {kAudioEntry});
    add("PMT without video", s, msg::kNoVideoPmt);
  }
  {
    Bytes s;
    addTables(s, {kVideoEntry});
    add("PMT without audio", s, msg::kNoAudioPmt);
  }
  {
    Bytes s;
    addTables(s, {kVideoEntry, {0x02, 0x0121, {}}, kAudioEntry});
    add("PMT with two videos", s, std::string(msg::kSeveralVideoPmt) + " 273  289 \n");
  }
  {
    Bytes s;
    addTables(s, {{0x1B, gen::kVideoPid, {}}, {0x24, 0x0121, {}}, kAudioEntry});
    add("PMT with H.264 and HEVC video", s, std::string(msg::kSeveralVideoPmt) + " 273  289 \n");
  }
  {
    Bytes s;
    addTables(s, {kVideoEntry, kAudioEntry, {0x0F, 0x0113, {}}, {0x0F, 0x0114, {}}});
    add("PMT with three audios", s, std::string(msg::kTooManyAudioPmt) + " 274  275  276 \n");
  }
  {
    Bytes s;
    addTables(s);
    gen::appendPmt(s, gen::kPmtPid, 0x0100, {kVideoEntry, kAudioEntry});
    add("PCR PID differs between PMTs", s, msg::kDamagedPmt);
  }
  {
    Bytes s;
    addTables(s);
    addGopStart(s);
    addGopStart(s, 0x012C);  // video on a PID the PMT does not list
    gen::appendPmt(s, gen::kPmtPid, gen::kPcrPid, {kVideoEntry, kAudioEntry});
    add("unlisted video at the next PMT", s, std::string(msg::kSeveralVideoPmt) + " 273  300 \n");
  }
  {
    Bytes s;
    addTables(s);
    gen::appendPcrOnly(s, gen::kPcrPid, 0);
    addGopStart(s);
    addGopStart(s, 0x012C);
    gen::appendPcrOnly(s, gen::kPcrPid, 1);
    add("unlisted video at the second PCR", s,
        std::string(msg::kSeveralVideoInfo) + " 273  300 \n");
  }
  {
    Bytes s;
    addTables(s);
    gen::appendPcrOnly(s, gen::kPcrPid, 0);
    addGopStart(s);
    for (int pid : {0x0113, 0x0114}) {
      gen::PesStart audio;
      audio.pid = pid;
      audio.streamId = 0xC0;
      gen::appendPesStart(s, audio);
    }
    gen::appendPcrOnly(s, gen::kPcrPid, 1);
    add("three audios at the second PCR", s,
        std::string(msg::kTooManyAudioInfo) + " 274  275  276 \n");
  }
  {
    Bytes s;
    addTables(s);
    gen::appendPayload(s, gen::kAudio1Pid);
    addGopStart(s);
    add("audio before the GOP", s, gopMessage);
  }
  {
    Bytes s;
    addTables(s);
    gen::PesStart ptsOnly;
    ptsOnly.pid = gen::kVideoPid;
    gen::appendPesStart(s, ptsOnly);
    add("video PES with PTS only", s, gopMessage);
  }
  {
    Bytes s;
    gen::appendPmt(s, gen::kPmtPid, gen::kPcrPid, {kVideoEntry, kAudioEntry});
    add("PMT before the PAT", s, gopMessage);
  }
  {
    Bytes s;
    addTables(s);
    gen::appendNull(s);
    add("null packet first", s, gopMessage);
  }
  {
    Bytes s;
    addTables(s);
    gen::PesStart late;
    late.pid = gen::kVideoPid;
    late.dts = 0;
    late.adaptationLength = 177;  // the flags byte would lie past the packet
    gen::appendPesStart(s, late);
    add("PES header past the packet's end", s, gopMessage);
  }
  testing::ToolFolder folder;
  for (const Case& c : cases) {
    testing::writeFile(folder / "rec.ts", c.stream);
    testing::RunResult result = folder.run({"rec.ts"});
    EXPECT_EQ(result.status, 0) << c.name;
    EXPECT_EQ(result.err, c.err) << c.name;
    EXPECT_FALSE(std::filesystem::exists(folder / "rec.000.ts")) << c.name;
    EXPECT_FALSE(std::regex_search(result.out, std::regex(testing::timeLinePattern(msg::kEndTime))))
        << "an end time after " << c.name;
  }
}

TEST_F(Survey, HeaderThatJustFitsIsAGopStart) {
  Bytes stream;
  addTables(stream);
  gen::PesStart edge;
  edge.pid = gen::kVideoPid;
  edge.dts = 0;
  edge.adaptationLength = 175;  // flags byte at 187, the packet's last byte
  gen::appendPesStart(stream, edge);
  gen::appendPcrOnly(stream, gen::kPcrPid, 0);
  gen::appendPcrOnly(stream, gen::kPcrPid, 1);
  EXPECT_EQ(survey(stream), Refusal::none);
}

}  // namespace
}  // namespace corvane
