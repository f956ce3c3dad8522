#include "service/pmt_change.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;

struct Lists {
  int pcr;
  int video;
  std::vector<int> audio;
  std::vector<int> captions;
};

// A change as (role, old PID, new PID), 0 for none.
struct Change {
  StreamRole role;
  std::int64_t oldPid;
  std::int64_t newPid;
  friend bool operator==(const Change&, const Change&) = default;
};

class PmtChange : public ::testing::Test {
 protected:
  // Sets the lists to `before`, re-reads a PMT describing `after`, and returns the changes
  // reported.
  std::vector<Change> change(const Lists& before, const Lists& after, Refusal* refusal) {
    pids_ = ProgramPids{};
    insertPid(pids_.pcr, before.pcr);
    insertPid(pids_.video, before.video);
    for (int pid : before.audio) insertPid(pids_.audio, pid);
    for (int pid : before.captions) insertPid(pids_.captions, pid);

    std::vector<gen::PmtEntry> streams = {{0x02, after.video, {}}};
    for (int pid : after.audio) streams.push_back({0x0F, pid, {}});
    for (int pid : after.captions) streams.push_back({0x06, pid, {0x52, 0x01, 0x30}});
    gen::Bytes bytes;
    gen::appendPmt(bytes, gen::kPmtPid, after.pcr, streams);
    testing::RecordedEvents events;
    *refusal = trackPmtChange(pids_, sectionIn(bytes.data()), {}, events.sink);
    std::vector<Change> changes;
    for (const Event& event : events.all) {
      EXPECT_EQ(event.kind, EventKind::pidChanged);
      changes.push_back({event.role, event.previous, event.value});
    }
    return changes;
  }

  ProgramPids pids_;
};

TEST_F(PmtChange, ReportsEachChangeInOrder) {
  using R = StreamRole;
  const struct {
    Lists before;
    Lists after;
    std::vector<Change> changes;
  } cases[] = {
      {{0x01FF, 0x0111, {0x0112}, {}}, {0x01FF, 0x0111, {0x0112}, {}}, {}},
      {{0x01FF, 0x0111, {0x0112}, {}}, {0x0100, 0x0111, {0x0112}, {}}, {{R::pcr, 0x01FF, 0x0100}}},
      {{0x01FF, 0x0111, {0x0112}, {}},
       {0x01FF, 0x0121, {0x0112}, {}},
       {{R::video, 0x0111, 0x0121}}},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0112, 0x0113}, {}},
       {{R::audio, 0x0111, 0x0113}}},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0112}, {}},
       {{R::audio, 0x0111, 0}}},
      {{0x01FF, 0x0100, {0x0111}, {}},
       {0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {{R::audio, 0, 0x0112}}},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0113}, {}},
       {{R::audio, 0x0111, 0x0113}, {R::audio, 0x0112, 0}}},
      {{0x01FF, 0x0100, {0x0111}, {}},
       {0x01FF, 0x0100, {0x0111}, {0x0130}},
       {{R::caption, 0, 0x0130}}},
      {{0x01FF, 0x0100, {0x0111}, {0x0130, 0x0138}},
       {0x01FF, 0x0100, {0x0111}, {}},
       {{R::caption, 0x0130, 0}, {R::caption, 0x0138, 0}}},
      // All at once, in the order PCR, video, audio, captions.
      {{0x01FF, 0x0100, {0x0111}, {0x0130}},
       {0x01FE, 0x0101, {0x0112}, {0x0131}},
       {{R::pcr, 0x01FF, 0x01FE},
        {R::video, 0x0100, 0x0101},
        {R::audio, 0x0111, 0x0112},
        {R::caption, 0x0130, 0x0131}}},
  };
  for (const auto& c : cases) {
    Refusal refusal = Refusal::noService;
    EXPECT_EQ(change(c.before, c.after, &refusal), c.changes);
    EXPECT_EQ(refusal, Refusal::none);
    // The lists now are the new ones.
    EXPECT_EQ(pidAt(pids_.pcr, 0), c.after.pcr);
    EXPECT_EQ(countPids(pids_.audio), static_cast<int>(c.after.audio.size()));
    EXPECT_EQ(countPids(pids_.captions), static_cast<int>(c.after.captions.size()));
  }
  // A PMT without audio fails the reader's checks, and reports nothing.
  Refusal refusal = Refusal::none;
  EXPECT_TRUE(change({0x01FF, 0x0100, {0x0111}, {}}, {0x01FF, 0x0100, {}, {}}, &refusal).empty());
  EXPECT_EQ(refusal, Refusal::noAudioInPmt);
}

}  // namespace
}  // namespace corvane
