#include "stream/survey.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "stream/messages.h"
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

struct Outcome {
  bool accepted;
  std::string err;
};

class Survey : public ::testing::Test {
 protected:
  Outcome survey(const Bytes& bytes) {
    ::testing::internal::CaptureStderr();
    bool accepted = surveyStream(loaded_.context, loaded_.buffer.data(), loaded_.load(bytes));
    return {accepted, ::testing::internal::GetCapturedStderr()};
  }
  StreamContext& context() { return loaded_.context; }

 private:
  testing::LoadedContext loaded_;
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
  Outcome outcome = survey(stream);
  EXPECT_TRUE(outcome.accepted);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(pidAt(context().pmtPids, 0), gen::kPmtPid);
  EXPECT_EQ(pidAt(context().pcrPids, 0), gen::kPcrPid);
  EXPECT_EQ(countPids(context().videoPids), 1);
  EXPECT_EQ(countPids(context().audioPids), 2);
  EXPECT_EQ(pidAt(context().captionPids, 0), 0x0130);
  EXPECT_EQ(context().ptsOffset, 0);
  EXPECT_EQ(context().prevPtsOffset, 0);
  EXPECT_TRUE(context().gopStartFound);
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
    testing::LoadedContext loaded;
    std::int32_t size = loaded.load(testing::acceptedStream(c.firstPcr));
    ASSERT_TRUE(surveyStream(loaded.context, loaded.buffer.data(), size));
    EXPECT_EQ(loaded.context.ptsOffset, c.offset) << c.firstPcr;
    // The fallback offset before the first joint is the first offset too.
    EXPECT_EQ(loaded.context.prevPtsOffset, c.offset) << c.firstPcr;
  }
}

TEST_F(Survey, PcrsBeforeThePmtDoNotCount) {
  Bytes stream;
  gen::appendPcrOnly(stream, gen::kPcrPid, 1);
  gen::appendPcrOnly(stream, gen::kPcrPid, 2);
  Bytes rest = testing::acceptedStream(97200000000 + 300 * 5);
  stream.insert(stream.end(), rest.begin(), rest.end());
  EXPECT_TRUE(survey(stream).accepted);
  EXPECT_EQ(context().ptsOffset, 5);
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
  ASSERT_TRUE(survey(stream).accepted);
  EXPECT_EQ(countPids(context().captionPids), 1);
  EXPECT_EQ(pidAt(context().captionPids, 0), 0x0131);
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
  EXPECT_EQ(survey(stream).err, "");
  EXPECT_EQ(context().ptsOffset, 7);
}

TEST_F(Survey, NogopLetsAnyPacketComeFirst) {
  context().run.settings.nogop = true;
  Bytes stream;
  addTables(stream);
  gen::appendPayload(stream, gen::kAudio1Pid);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97200000000);
  gen::appendPcrOnly(stream, gen::kPcrPid, 97202700000);
  EXPECT_TRUE(survey(stream).accepted);
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
  EXPECT_TRUE(survey(stream).accepted);
}

}  // namespace
}  // namespace corvane
