// PCR and PES rebasing on single packets in memory, with the time log captured.
#include "rewrite/rebase.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;

class Rebase : public ::testing::Test {
 protected:
  void SetUp() override {
    insertPid(context().videoPids, gen::kVideoPid);
    insertPid(context().audioPids, gen::kAudio1Pid);
    insertPid(context().captionPids, gen::kCaptionPid);
    insertPid(context().pcrPids, gen::kPcrPid);
    log_.stream = std::tmpfile();
  }
  void TearDown() override { std::fclose(log_.stream); }

  StreamContext& context() { return loaded_.context; }
  std::uint8_t* packet() { return loaded_.buffer.data(); }

  // Puts one PES start packet at buffer offset 0 and tests it as the rewrite pass would.
  bool place(const gen::PesStart& pes) {
    gen::Bytes bytes;
    gen::appendPesStart(bytes, pes);
    loaded_.load(bytes);
    return isTimedPesStart(context(), packet(), &pesOffset_);
  }
  void placePcr(std::int64_t pcr) {
    gen::Bytes bytes;
    gen::appendPcrOnly(bytes, gen::kPcrPid, pcr);
    loaded_.load(bytes);
  }
  // Runs a PES in the jump test through the GOP handler, counting it first; dts -1 for none.
  void gop(std::int64_t pts, std::int64_t dts, int pid = gen::kVideoPid) {
    gen::PesStart pes;
    pes.pid = pid;
    pes.pts = pts;
    pes.dts = dts;
    ASSERT_TRUE(place(pes));
    ++context().gopCount;
    rebaseGopPes(context(), packet(), pesOffset_);
  }
  void ptsOnly(std::int64_t pts, int pid) {
    gen::PesStart pes;
    pes.pid = pid;
    pes.pts = pts;
    ASSERT_TRUE(place(pes));
    rebasePts(context(), packet(), pesOffset_);
  }
  std::int64_t pts() { return gen::decodeTimestamp(packet() + 13 + pesOffset_); }
  std::int64_t dts() { return gen::decodeTimestamp(packet() + 18 + pesOffset_); }

  // The lines written since the last call.
  std::string log() {
    std::string text = testing::streamText(log_.stream);
    std::fclose(log_.stream);
    log_.stream = std::tmpfile();
    return text;
  }

  testing::LoadedContext loaded_;
  TimeLog& log_ = loaded_.context.run.timeLog;
  int pesOffset_ = 0;  // where isTimedPesStart found the PES header
};

TEST_F(Rebase, PcrMovesByTheOffsetAndIsLogged) {
  context().ptsOffset = 100000000;
  placePcr(127200000000);
  rebasePcr(context(), packet());
  EXPECT_EQ(gen::decodePcr(packet()), 97200000000);
  EXPECT_EQ(packet()[10] & 0x7E, 0);  // reserved bits come out 0
  EXPECT_EQ(context().srcPcr, 127200000000);
  EXPECT_EQ(context().outPcr, 97200000000);
  EXPECT_EQ(log(), "PCR   :  127200000000,     424000000,     100000000,     324000000\r\n");
}

TEST_F(Rebase, PcrFallsBackOnlyAboveTheFieldLimit) {
  // Exactly kMaxPcr (base 2^33 - 1, extension 511) is written as it is: base 0, extension 211.
  context().ptsOffset = 0;
  context().prevPtsOffset = 10;
  packet()[0] = 0x47;
  gen::Bytes bytes;
  gen::appendPcrOnly(bytes, gen::kPcrPid, 0);
  std::copy(bytes.begin(), bytes.end(), packet());
  std::fill(packet() + 6, packet() + 12, 0xFF);
  rebasePcr(context(), packet());
  EXPECT_EQ(context().outPcr, 2576980377811);
  EXPECT_EQ(gen::decodePcr(packet()), 211);

  // One more (extension 212 with offset -1) takes the previous offset; the log still shows -1.
  std::fill(packet() + 6, packet() + 12, 0xFF);
  packet()[11] = 0xD4;  // extension 0x1D4 = 468: source 2576980377768
  context().ptsOffset = -1;
  log();
  rebasePcr(context(), packet());
  EXPECT_EQ(context().srcPcr, 2576980377768);
  EXPECT_EQ(context().outPcr, 2576980377768 - 3000);
  EXPECT_EQ(log(), "PCR   : 2576980377768,    8589934592,            -1,    8589934582\r\n");
}

TEST_F(Rebase, NegativePcrTakesNoFallback) {
  context().ptsOffset = 1;
  context().prevPtsOffset = -5;
  placePcr(0);
  rebasePcr(context(), packet());
  EXPECT_EQ(context().outPcr, -300);
  EXPECT_EQ(gen::decodePcr(packet()), (std::int64_t{1} << 33) * 300 - 300);
  EXPECT_EQ(log(), "PCR   :             0,             0,             1,            -1\r\n");
}

TEST_F(Rebase, PesTestFindsTheHeaderBehindTheAdaptationField) {
  gen::PesStart pes;
  pes.pid = gen::kAudio1Pid;
  pes.pts = 5;
  pes.adaptationLength = 100;
  EXPECT_TRUE(place(pes));
  EXPECT_EQ(pesOffset_, 101);
  EXPECT_EQ(packet()[105], 0x00);  // start code at packet offset 105

  // Fields that would pass the packet's end: flags byte, PTS, flagged DTS.
  const struct {
    int adaptation;
    bool dts;
    bool timed;
  } bounds[] = {{169, false, true}, {170, false, false}, {164, true, true},
                {165, true, false}, {175, false, false}, {183, false, false}};
  for (const auto& b : bounds) {
    pes.adaptationLength = b.adaptation;
    pes.dts = b.dts ? 1 : -1;
    EXPECT_EQ(place(pes), b.timed) << b.adaptation;
    EXPECT_EQ(pesOffset_, b.adaptation + 1);
  }
}

TEST_F(Rebase, PesTestRefusesUntrackedAndMalformedHeaders) {
  gen::PesStart pes;
  pes.pid = 0x0200;
  pesOffset_ = 42;
  EXPECT_FALSE(place(pes));
  EXPECT_EQ(pesOffset_, 42);  // untracked: left as it was

  pes.pid = gen::kCaptionPid;
  pes.withPts = false;
  EXPECT_FALSE(place(pes));
  EXPECT_EQ(pesOffset_, 0);
  pes.withPts = true;
  EXPECT_TRUE(place(pes));
  packet()[6] = 0x02;  // start code broken
  EXPECT_FALSE(isTimedPesStart(context(), packet(), &pesOffset_));
  packet()[6] = 0x01;
  packet()[10] = 0x40;  // not the '10' marker
  EXPECT_FALSE(isTimedPesStart(context(), packet(), &pesOffset_));
}

TEST_F(Rebase, FirstGopKeepsTheSurveyOffset) {
  context().ptsOffset = 1000;
  gop(50000000, 49990000);
  EXPECT_EQ(pts(), 49999000);
  EXPECT_EQ(dts(), 49989000);
  EXPECT_EQ(context().lastRefPts, 49999000);
  EXPECT_EQ(context().gopPts, 50000000);
  EXPECT_EQ(log(),
            "V-GOP :                     50000000,          1000,      49999000,             0,"
            "      50000000\r\n");
}

TEST_F(Rebase, StepsUpToTenSecondsChangeNothing) {
  for (std::int64_t step : {900000, -900000}) {
    context().gopCount = 1;
    context().gopPts = 10000000;
    context().ptsOffset = 0;
    gop(10000000 + step, 10000000 + step - 3003);
    EXPECT_EQ(context().ptsOffset, 0) << step;
    EXPECT_EQ(pts(), 10000000 + step);
  }
}

TEST_F(Rebase, JumpOfMoreThanTenSecondsIsJoinedAfterTheLastReferencePicture) {
  for (std::int64_t step : {900001, -900001, 20 * 90000}) {
    context().gopCount = 1;
    context().gopPts = 400000000;
    context().ptsOffset = 76000000;
    context().lastRefPts = 324500000;
    context().ccTable[gen::kVideoPid] = 8;  // the pass gave this packet 8
    log();
    gop(400000000 + step, 400000000 + step - 6006);
    std::int64_t newOffset = 400000000 + step - 324500000 - 9009;
    EXPECT_EQ(context().prevPtsOffset, 76000000);
    EXPECT_EQ(context().ptsOffset, newOffset);
    EXPECT_EQ(pts(), 324509009);
    EXPECT_EQ(dts(), 324509009 - 6006);
    EXPECT_EQ(context().lastRefPts, 324509009);
    EXPECT_EQ(packet()[3] & 0x0F, 9);
    EXPECT_EQ(context().ccTable[gen::kVideoPid], 9);
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "********* Joint GOP *********\r\n"
                  "GOPPTS:      76000000, %13lld\r\n"
                  "V-GOP :                %13lld, %13lld,     324509009,     400000000, %13lld\r\n",
                  static_cast<long long>(newOffset), static_cast<long long>(400000000 + step),
                  static_cast<long long>(newOffset),
                  static_cast<long long>(step < 0 ? -step : step));
    EXPECT_EQ(log(), expected);
  }
}

// H.264 and HEVC: every video PES is measured by its decode time, and a joint decodes the new
// stretch one frame period (the step seen most often) after the old one's last picture.
TEST_F(Rebase, H264JointDecodesOneFramePeriodAfterTheLastPicture) {
  context().videoCoding = VideoCoding::h264;
  context().ptsOffset = 1000;
  // 15 frames per second without B-frames: PTS only, steps of 6,000 and one of 3,000.
  for (std::int64_t source : {400000, 406000, 412000, 415000}) {
    gop(source, -1);
    EXPECT_EQ(pts(), source - 1000);
  }
  log();
  context().ccTable[gen::kVideoPid] = 3;
  // 20 s later, with a DTS: decoded at 414,000 + 6,000, presented 6,000 after that.
  gop(2221000, 2215000);
  EXPECT_EQ(dts(), 420000);
  EXPECT_EQ(pts(), 426000);
  EXPECT_EQ(packet()[3] & 0x0F, 4);
  EXPECT_EQ(log(),
            "********* Joint GOP *********\r\n"
            "GOPPTS:          1000,       1795000\r\n"
            "V-GOP :                      2215000,       1795000,        420000,        415000,"
            "       1800000\r\n");

  // Audio outside the jump test, even with a DTS; every video PES in it.
  EXPECT_TRUE(inJumpTest(context(), packet(), pesOffset_));
  gen::PesStart audio;
  audio.pid = gen::kAudio1Pid;
  audio.dts = 0;
  ASSERT_TRUE(place(audio));
  EXPECT_FALSE(inJumpTest(context(), packet(), pesOffset_));
  context().videoCoding = VideoCoding::mpeg2;
  EXPECT_TRUE(inJumpTest(context(), packet(), pesOffset_));
}

TEST_F(Rebase, HevcJointWithoutAStepSeenTakes3003Ticks) {
  context().videoCoding = VideoCoding::hevc;
  gop(500000, 497000);
  gop(1500000, 1497000);
  EXPECT_EQ(dts(), 497000 + 3003);
  EXPECT_EQ(pts(), 500000 + 3003);
}

TEST_F(Rebase, JointCounterWrapsFrom15To0) {
  context().gopCount = 1;
  context().gopPts = 0;
  context().ccTable[gen::kVideoPid] = 15;
  gop(5000000, 4990000);
  EXPECT_EQ(packet()[3] & 0x0F, 0);
  EXPECT_EQ(packet()[3] & 0xF0, 0x10);  // payload only, as built
}

TEST_F(Rebase, WrapOfTheSourceClockIsFollowedWithoutAJoint) {
  context().gopCount = 1;
  context().gopPts = 8589933592;  // 2^33 - 1000
  context().ptsOffset = 8000000000;
  context().lastRefPts = 589933592;
  context().ccTable[gen::kVideoPid] = 4;
  gop(2000, 2000 - 3003 + (std::int64_t{1} << 33));
  EXPECT_EQ(context().prevPtsOffset, 8000000000);
  EXPECT_EQ(context().ptsOffset, 8000000000 - 8589934591);
  EXPECT_EQ(pts(), 589933592 + 2999);               // one tick short of the source step of 3,000
  EXPECT_EQ(context().ccTable[gen::kVideoPid], 4);  // no continuity break
  EXPECT_EQ(packet()[3] & 0x0F, 0);
  // The pre-wrap DTS falls back on the previous offset.
  EXPECT_EQ(dts(), 8589933589 - 8000000000);
  EXPECT_EQ(log(),
            "********* wrap around GOP *********\r\n"
            "V-GOP :                         2000,    -589934591,     589936591,    8589933592,"
            "    8589931592\r\n");
}

TEST_F(Rebase, WrapIsCountedUpToTenSecondsPastTheWrap) {
  // The step plus kMaxPts: 900,000 is a wrap, 900,001 a joint.
  for (std::int64_t past : {900000, 900001}) {
    context().gopCount = 1;
    context().gopPts = 8589934591;
    context().ptsOffset = 0;
    context().lastRefPts = 100;
    gop(past, past - 3003);
    EXPECT_EQ(context().ptsOffset, past == 900000 ? -8589934591 : past - 100 - 9009) << past;
  }
}

TEST_F(Rebase, OffsetRuleFallsBackFrom2To33On) {
  context().prevPtsOffset = -100;
  context().ptsOffset = -10;
  ptsOnly(8589934581, gen::kVideoPid);  // new value kMaxPts: as it is
  EXPECT_EQ(pts(), 8589934591);
  ptsOnly(8589934582, gen::kVideoPid);  // 2^33: source - prevPtsOffset, stored modulo 2^33
  EXPECT_EQ(pts(), (8589934582 + 100) - (std::int64_t{1} << 33));
  gop(8589934582, 8589934500);  // its line shows the plain difference all the same
  EXPECT_EQ(pts(), (8589934582 + 100) - (std::int64_t{1} << 33));
  context().ptsOffset = 1;
  ptsOnly(0, gen::kAudio1Pid);  // -1: no fallback, stored as kMaxPts
  EXPECT_EQ(pts(), 8589934591);
  EXPECT_EQ(log(),
            "V-PTS :                   8589934581,           -10,    8589934591\r\n"
            "V-PTS :                   8589934582,           -10,    8589934682\r\n"
            "V-GOP :                   8589934582,           -10,    8589934592,             0,"
            "    8589934582\r\n"
            "A-PTS :                            0,             1,            -1\r\n");
}

TEST_F(Rebase, CaptionsCountFromTheFirstCaptionAboveOneHour) {
  context().ptsOffset = 123456;
  ptsOnly(300000000, gen::kCaptionPid);  // base unset: 324,045,000 + S
  EXPECT_EQ(pts(), 624045000);
  ptsOnly(324000000, gen::kCaptionPid);  // exactly one hour is not above it
  EXPECT_EQ(pts(), 648045000);
  ptsOnly(500000000, gen::kCaptionPid);  // takes the base
  EXPECT_EQ(pts(), 324045000);
  // Later joints and wraps do not matter.
  context().ptsOffset = -77777777;
  context().prevPtsOffset = 5;
  ptsOnly(500090000, gen::kCaptionPid);
  EXPECT_EQ(pts(), 324135000);
  EXPECT_EQ(log(),
            "C-PTS :                    300000000,        123456,     624045000\r\n"
            "C-PTS :                    324000000,        123456,     648045000\r\n"
            "C-PTS :                    500000000,        123456,     324045000\r\n"
            "C-PTS :                    500090000,     -77777777,     324135000\r\n");
}

TEST_F(Rebase, CaptionWithDtsTakesTheCaptionRuleForItsPtsOnly) {
  context().ptsOffset = 1000;
  gop(400000000, 399990000, gen::kCaptionPid);
  EXPECT_EQ(pts(), 324045000);
  EXPECT_EQ(dts(), 399989000);
  EXPECT_EQ(context().lastRefPts, 324045000);
  EXPECT_EQ(log(),
            "V-GOP :                    400000000,          1000,     399999000,             0,"
            "     400000000\r\n");
}

TEST_F(Rebase, NothingIsLoggedWhileTheLogIsClosed) {
  std::FILE* saved = log_.stream;
  log_.stream = nullptr;
  context().ptsOffset = 100;
  placePcr(300000);
  rebasePcr(context(), packet());
  EXPECT_EQ(gen::decodePcr(packet()), 270000);
  gop(1000, 900);
  EXPECT_EQ(pts(), 900);
  log_.stream = saved;
  EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace corvane
