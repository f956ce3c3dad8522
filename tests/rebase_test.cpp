// A service's timeline rules on single packets in memory, with the events they report.
#include "service/rebase.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;

constexpr std::int64_t kTwo33 = std::int64_t{1} << 33;

class Rebase : public ::testing::Test {
 protected:
  void SetUp() override {
    insertPid(service_.pids.video, gen::kVideoPid);
    service_.pids.anchor = gen::kVideoPid;
    insertPid(service_.pids.audio, gen::kAudio1Pid);
    insertPid(service_.pids.captions, gen::kCaptionPid);
    insertPid(service_.pids.pcr, gen::kPcrPid);
  }

  // Puts one PES start packet in place and tests it as the pass would.
  int place(const gen::PesStart& pes) {
    packet_.clear();
    gen::appendPesStart(packet_, pes);
    pes_ = timedPesStart(service_.pids, packet_.data());
    return pesOffset_ = pes_.offset;
  }
  // Runs a PES in the jump test; dts -1 for none. True when it joined.
  bool jumpTest(std::int64_t pts, std::int64_t dts, int pid = gen::kVideoPid) {
    gen::PesStart pes;
    pes.pid = pid;
    pes.pts = pts;
    pes.dts = dts;
    EXPECT_GE(place(pes), 0);
    return rebaseJumpTestPes(service_, packet_.data(), pes_, false, {}, events_.sink);
  }
  void ptsOnly(std::int64_t pts, int pid) {
    gen::PesStart pes;
    pes.pid = pid;
    pes.pts = pts;
    ASSERT_GE(place(pes), 0);
    rebasePes(service_, packet_.data(), pes_, currentOffsets(timeline()), false, {}, events_.sink);
  }
  std::int64_t pts() { return gen::decodeTimestamp(packet_.data() + 13 + pesOffset_); }
  std::int64_t dts() { return gen::decodeTimestamp(packet_.data() + 18 + pesOffset_); }
  Timeline& timeline() { return service_.timeline; }
  // The last event of a kind.
  Event last(EventKind kind) {
    std::vector<Event> found = events_.of(kind);
    return found.empty() ? Event{kind} : found.back();
  }

  Service service_;
  gen::Bytes packet_;
  TimedPes pes_;
  int pesOffset_ = 0;
  testing::RecordedEvents events_;
};

TEST_F(Rebase, PcrMovesByTheOffsetAndFallsBackOnlyAboveTheFieldLimit) {
  const struct {
    std::int64_t ptsOffset;
    std::int64_t prevPtsOffset;
    std::int64_t base;  // of the source field
    int extension;
    std::int64_t value;    // as computed, 27 MHz
    std::int64_t written;  // as the field then reads
  } cases[] = {
      {100000000, 0, 424000000, 0, 97200000000, 97200000000},
      // Exactly the largest the field can carry is not above it: base 2^33 - 1, extension 511
      // is written as base 0, extension 211.
      {0, 10, kTwo33 - 1, 511, 2576980377811, 211},
      // One tick past it takes the previous offset.
      {-1, 10, kTwo33 - 1, 468, 2576980377768 - 3000, 2576980377768 - 3000},
      // Below zero there is no fallback: stored modulo the field's range.
      {1, -5, 0, 0, -300, kTwo33 * 300 - 300},
  };
  for (const auto& c : cases) {
    timeline().ptsOffset = c.ptsOffset;
    timeline().prevPtsOffset = c.prevPtsOffset;
    packet_.clear();
    gen::appendPcrOnly(packet_, gen::kPcrPid, 0);
    std::uint8_t* b = packet_.data();
    b[6] = static_cast<std::uint8_t>(c.base >> 25);
    b[7] = static_cast<std::uint8_t>(c.base >> 17);
    b[8] = static_cast<std::uint8_t>(c.base >> 9);
    b[9] = static_cast<std::uint8_t>(c.base >> 1);
    b[10] = static_cast<std::uint8_t>((c.base & 1) << 7 | 0x7E | c.extension >> 8);  // reserved 1s
    b[11] = static_cast<std::uint8_t>(c.extension);
    rebasePcr(currentOffsets(timeline()), b, {}, events_.sink);
    EXPECT_EQ(gen::decodePcr(b), c.written) << c.base;
    EXPECT_EQ(b[10] & 0x7E, 0);  // reserved bits come out 0
    Event event = last(EventKind::pcrRebased);
    EXPECT_EQ(event.source, c.base * 300 + c.extension);
    EXPECT_EQ(event.value, c.value);
    EXPECT_EQ(event.ptsOffset, c.ptsOffset);
    EXPECT_EQ(event.pid, gen::kPcrPid);
  }
}

TEST_F(Rebase, PesTestFindsTheHeaderOnlyInsideThePacketOfATrackedPid) {
  gen::PesStart pes;
  pes.pid = gen::kAudio1Pid;
  pes.pts = 5;
  pes.adaptationLength = 100;
  EXPECT_EQ(place(pes), 101);
  EXPECT_EQ(packet_[105], 0x00);  // start code at packet offset 105

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
    EXPECT_EQ(place(pes), b.timed ? b.adaptation + 1 : -1) << b.adaptation;
  }

  pes = gen::PesStart{};
  pes.pid = 0x0200;  // untracked
  EXPECT_EQ(place(pes), -1);
  pes.pid = gen::kCaptionPid;
  pes.withPts = false;
  EXPECT_EQ(place(pes), -1);
  pes.withPts = true;
  EXPECT_EQ(place(pes), 0);
  packet_[6] = 0x02;  // start code broken
  EXPECT_EQ(timedPesStart(service_.pids, packet_.data()).offset, -1);
  packet_[6] = 0x01;
  packet_[10] = 0x40;  // not the '10' marker
  EXPECT_EQ(timedPesStart(service_.pids, packet_.data()).offset, -1);
}

TEST_F(Rebase, FirstPesOfTheJumpTestKeepsTheSurveyOffset) {
  timeline().ptsOffset = 1000;
  EXPECT_FALSE(jumpTest(50000000, 49990000));
  EXPECT_EQ(pts(), 49999000);
  EXPECT_EQ(dts(), 49989000);
  EXPECT_EQ(timeline().lastRefPts, 49999000);
  EXPECT_EQ(timeline().jumpTestTime, 50000000);
  Event event = last(EventKind::jumpTestPes);
  EXPECT_EQ(event.source, 50000000);
  EXPECT_EQ(event.previous, 0);
  EXPECT_EQ(event.ptsOffset, 1000);
  // No joint: the PES is the first picture a start may be, and is rebased.
  ASSERT_EQ(events_.all.size(), 2u);
  EXPECT_EQ(events_.all[0].kind, EventKind::randomAccess);
}

TEST_F(Rebase, StepsUpToTenSecondsChangeNothing) {
  for (std::int64_t step : {900000, -900000}) {
    timeline().jumpTestCount = 1;
    timeline().jumpTestTime = 10000000;
    timeline().ptsOffset = 0;
    EXPECT_FALSE(jumpTest(10000000 + step, 10000000 + step - 3003));
    EXPECT_EQ(timeline().ptsOffset, 0) << step;
    EXPECT_EQ(pts(), 10000000 + step);
  }
  EXPECT_TRUE(events_.of(EventKind::joint).empty());
}

TEST_F(Rebase, JumpOfMoreThanTenSecondsIsJoinedAfterTheLastReferencePicture) {
  for (std::int64_t step : {900001, -900001, 20 * 90000}) {
    timeline().jumpTestCount = 1;
    timeline().jumpTestTime = 400000000;
    timeline().ptsOffset = 76000000;
    timeline().lastRefPts = 324500000;
    EXPECT_TRUE(jumpTest(400000000 + step, 400000000 + step - 6006));
    std::int64_t newOffset = 400000000 + step - 324500000 - 9009;
    EXPECT_EQ(timeline().prevPtsOffset, 76000000);
    EXPECT_EQ(timeline().ptsOffset, newOffset);
    EXPECT_EQ(pts(), 324509009);
    EXPECT_EQ(dts(), 324509009 - 6006);
    EXPECT_EQ(timeline().lastRefPts, 324509009);
    Event joint = last(EventKind::joint);
    EXPECT_EQ(joint.prevPtsOffset, 76000000);
    EXPECT_EQ(joint.ptsOffset, newOffset);
    EXPECT_EQ(joint.source, 400000000 + step);
    EXPECT_EQ(joint.previous, 400000000);
    EXPECT_EQ(last(EventKind::jumpTestPes).ptsOffset, newOffset);
  }
}

// H.264 and HEVC: every video PES is measured by its decode time, and a joint decodes the new
// stretch one frame period (the step seen most often) after the old one's last picture.
TEST_F(Rebase, H264JointDecodesOneFramePeriodAfterTheLastPicture) {
  service_.pids.videoCoding = VideoCoding::h264;
  timeline().ptsOffset = 1000;
  // 15 frames per second without B-frames: PTS only, steps of 6,000 and one of 3,000.
  for (std::int64_t source : {400000, 406000, 412000, 415000}) {
    EXPECT_FALSE(jumpTest(source, -1));
    EXPECT_EQ(pts(), source - 1000);
  }
  // 20 s later, with a DTS: decoded at 414,000 + 6,000, presented 6,000 after that.
  EXPECT_TRUE(jumpTest(2221000, 2215000));
  EXPECT_EQ(dts(), 420000);
  EXPECT_EQ(pts(), 426000);
  EXPECT_EQ(last(EventKind::joint).ptsOffset, 1795000);
  EXPECT_EQ(last(EventKind::jumpTestPes).previous, 415000);

  // Audio outside the jump test, even with a DTS; every video PES in it.
  EXPECT_TRUE(inJumpTest(service_.pids, packet_.data(), pesOffset_));
  gen::PesStart audio;
  audio.pid = gen::kAudio1Pid;
  audio.dts = 0;
  ASSERT_GE(place(audio), 0);
  EXPECT_FALSE(inJumpTest(service_.pids, packet_.data(), pesOffset_));
  service_.pids.videoCoding = VideoCoding::mpeg2;
  EXPECT_TRUE(inJumpTest(service_.pids, packet_.data(), pesOffset_));

  // Without a step seen, HEVC takes 3,003 ticks.
  service_ = Service{};
  insertPid(service_.pids.video, gen::kVideoPid);
  service_.pids.anchor = gen::kVideoPid;
  service_.pids.videoCoding = VideoCoding::hevc;
  jumpTest(500000, 497000);
  jumpTest(1500000, 1497000);
  EXPECT_EQ(dts(), 497000 + 3003);
  EXPECT_EQ(pts(), 500000 + 3003);
}

TEST_F(Rebase, WrapOfTheSourceClockIsFollowedWithoutAJoint) {
  timeline().jumpTestCount = 1;
  timeline().jumpTestTime = 8589933592;  // 2^33 - 1000
  timeline().ptsOffset = 8000000000;
  timeline().lastRefPts = 589933592;
  EXPECT_FALSE(jumpTest(2000, 2000 - 3003 + kTwo33));
  EXPECT_EQ(timeline().prevPtsOffset, 8000000000);
  EXPECT_EQ(timeline().ptsOffset, 8000000000 - 8589934591);
  EXPECT_EQ(pts(), 589933592 + 2999);  // one tick short of the source step of 3,000
  // The pre-wrap DTS falls back on the previous offset.
  EXPECT_EQ(dts(), 8589933589 - 8000000000);
  EXPECT_EQ(events_.of(EventKind::wrap).size(), 1u);
  EXPECT_TRUE(events_.of(EventKind::joint).empty());

  // The step plus kMaxPts: up to 900,000 is a wrap, 900,001 a joint.
  for (std::int64_t past : {900000, 900001}) {
    timeline().jumpTestCount = 1;
    timeline().jumpTestTime = 8589934591;
    timeline().ptsOffset = 0;
    timeline().lastRefPts = 100;
    EXPECT_EQ(jumpTest(past, past - 3003), past == 900001);
    EXPECT_EQ(timeline().ptsOffset, past == 900000 ? -8589934591 : past - 100 - 9009) << past;
  }
}

TEST_F(Rebase, OffsetRuleFallsBackFrom2To33On) {
  timeline().prevPtsOffset = -100;
  timeline().ptsOffset = -10;
  ptsOnly(8589934581, gen::kVideoPid);  // new value kMaxPts: as it is
  EXPECT_EQ(pts(), 8589934591);
  ptsOnly(8589934582, gen::kVideoPid);  // 2^33: source - prevPtsOffset, stored modulo 2^33
  EXPECT_EQ(pts(), (8589934582 + 100) - kTwo33);
  EXPECT_EQ(last(EventKind::pesRebased).value, 8589934682);
  jumpTest(8589934582, 8589934500);
  EXPECT_EQ(pts(), (8589934582 + 100) - kTwo33);
  timeline().ptsOffset = 1;
  ptsOnly(0, gen::kAudio1Pid);  // -1: no fallback, stored as kMaxPts
  EXPECT_EQ(pts(), 8589934591);
  Event audio = last(EventKind::pesRebased);
  EXPECT_EQ(audio.value, -1);
  EXPECT_EQ(audio.role, StreamRole::audio);
}

TEST_F(Rebase, CaptionsCountFromTheFirstCaptionAboveOneHour) {
  timeline().ptsOffset = 123456;
  ptsOnly(300000000, gen::kCaptionPid);  // base unset: 324,045,000 + S
  EXPECT_EQ(pts(), 624045000);
  ptsOnly(324000000, gen::kCaptionPid);  // exactly one hour is not above it
  EXPECT_EQ(pts(), 648045000);
  ptsOnly(500000000, gen::kCaptionPid);  // takes the base
  EXPECT_EQ(pts(), 324045000);
  // Later joints and wraps do not matter.
  timeline().ptsOffset = -77777777;
  timeline().prevPtsOffset = 5;
  ptsOnly(500090000, gen::kCaptionPid);
  EXPECT_EQ(pts(), 324135000);
  EXPECT_EQ(last(EventKind::pesRebased).role, StreamRole::caption);

  // A caption PES with a DTS takes the caption rule for its PTS only.
  timeline().ptsOffset = 1000;
  jumpTest(500000000, 399990000, gen::kCaptionPid);
  EXPECT_EQ(pts(), 324045000);
  EXPECT_EQ(dts(), 399989000);
  EXPECT_EQ(timeline().lastRefPts, 324045000);
}

}  // namespace
}  // namespace corvane
