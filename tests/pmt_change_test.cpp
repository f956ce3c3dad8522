#include "pmtchange/pmt_change.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "stream/messages.h"
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

class PmtChange : public ::testing::Test {
 protected:
  void SetUp() override { log_.stream = std::tmpfile(); }
  void TearDown() override { std::fclose(log_.stream); }

  // Sets the context's lists to `before`, re-reads a PMT describing `after`, and returns the
  // lines written.
  std::string change(const Lists& before, const Lists& after, bool* ok = nullptr) {
    StreamContext& context = loaded_.context;
    for (PidList* list : {&context.pmtPids, &context.pcrPids, &context.videoPids,
                          &context.audioPids, &context.captionPids}) {
      *list = {};
    }
    insertPid(context.pmtPids, gen::kPmtPid);
    insertPid(context.pcrPids, before.pcr);
    insertPid(context.videoPids, before.video);
    for (int pid : before.audio) insertPid(context.audioPids, pid);
    for (int pid : before.captions) insertPid(context.captionPids, pid);

    std::vector<gen::PmtEntry> streams = {{0x02, after.video, {}}};
    for (int pid : after.audio) streams.push_back({0x0F, pid, {}});
    for (int pid : after.captions) streams.push_back({0x06, pid, {0x52, 0x01, 0x30}});
    gen::Bytes bytes;
    gen::appendPmt(bytes, gen::kPmtPid, after.pcr, streams);
    loaded_.load(bytes);

    std::fclose(log_.stream);
    log_.stream = std::tmpfile();
    bool result = trackPmtChange(context, loaded_.buffer.data());
    if (ok != nullptr) *ok = result;
    return testing::streamText(log_.stream);
  }

  testing::LoadedContext loaded_;
  TimeLog& log_ = loaded_.context.run.timeLog;
};

TEST_F(PmtChange, ReportsEachChangeWithItsLine) {
  const struct {
    Lists before;
    Lists after;
    std::string lines;
  } cases[] = {
      {{0x01FF, 0x0111, {0x0112}, {}}, {0x01FF, 0x0111, {0x0112}, {}}, ""},
      {{0x01FF, 0x0111, {0x0112}, {}},
       {0x0100, 0x0111, {0x0112}, {}},
       "*** Change PCRPID     : 01ff -> 0100\r\n"},
      {{0x01FF, 0x0111, {0x0112}, {}},
       {0x01FF, 0x0121, {0x0112}, {}},
       "*** Change VIDEOPID   : 0111 -> 0121\r\n"},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0112, 0x0113}, {}},
       "*** Change AUDIOPID  : 0111 -> 0113\r\n"},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0112}, {}},
       "*** Delete AUDIOPID  : 0111 -> ----\r\n"},
      {{0x01FF, 0x0100, {0x0111}, {}},
       {0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       "*** Add    AUDIOPID  : ---- -> 0112\r\n"},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0111}, {}},
       "*** Delete AUDIOPID  : 0112 -> ----\r\n"},
      {{0x01FF, 0x0100, {0x0111, 0x0112}, {}},
       {0x01FF, 0x0100, {0x0113}, {}},
       "*** Change AUDIOPID  : 0111 -> 0113\r\n*** Delete AUDIOPID  : 0112 -> ----\r\n"},
      {{0x01FF, 0x0100, {0x0111}, {}},
       {0x01FF, 0x0100, {0x0111}, {0x0130}},
       "*** Add    CAPTIONPID  : ---- -> 0130\r\n"},
      {{0x01FF, 0x0100, {0x0111}, {0x0130, 0x0138}},
       {0x01FF, 0x0100, {0x0111}, {}},
       "*** Delete CAPTIONPID  : 0130 -> ----\r\n*** Delete CAPTIONPID  : 0138 -> ----\r\n"},
      // All at once, in the order PCR, video, audio, captions.
      {{0x01FF, 0x0100, {0x0111}, {0x0130}},
       {0x01FE, 0x0101, {0x0112}, {0x0131}},
       "*** Change PCRPID     : 01ff -> 01fe\r\n"
       "*** Change VIDEOPID   : 0100 -> 0101\r\n"
       "*** Change AUDIOPID  : 0111 -> 0112\r\n"
       "*** Change CAPTIONPID  : 0130 -> 0131\r\n"},
  };
  for (const auto& c : cases) {
    bool ok = false;
    EXPECT_EQ(change(c.before, c.after, &ok), c.lines);
    EXPECT_TRUE(ok);
    // The context now holds the new lists.
    EXPECT_EQ(pidAt(loaded_.context.pcrPids, 0), c.after.pcr);
    EXPECT_EQ(countPids(loaded_.context.audioPids), static_cast<int>(c.after.audio.size()));
    EXPECT_EQ(countPids(loaded_.context.captionPids), static_cast<int>(c.after.captions.size()));
  }
}

TEST_F(PmtChange, PmtWithoutAudioFailsWithTheReadersMessage) {
  bool ok = true;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(change({0x01FF, 0x0100, {0x0111}, {}}, {0x01FF, 0x0100, {}, {}}, &ok), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), msg::kNoAudioPmt);
  EXPECT_FALSE(ok);
}

TEST_F(PmtChange, ListsFollowThePmtWhileTheLogIsClosed) {
  std::FILE* saved = log_.stream;
  StreamContext& context = loaded_.context;
  insertPid(context.pmtPids, gen::kPmtPid);
  insertPid(context.pcrPids, 0x01FF);
  insertPid(context.videoPids, 0x0100);
  insertPid(context.audioPids, 0x0111);
  gen::Bytes bytes;
  gen::appendPmt(bytes, gen::kPmtPid, 0x01FF, {{0x02, 0x0100, {}}, {0x0F, 0x0115, {}}});
  loaded_.load(bytes);
  log_.stream = nullptr;
  EXPECT_TRUE(trackPmtChange(context, loaded_.buffer.data()));
  log_.stream = saved;
  EXPECT_EQ(pidAt(context.audioPids, 0), 0x0115);
  EXPECT_EQ(countPids(context.audioPids), 1);
  EXPECT_EQ(testing::streamText(log_.stream), "");
}

}  // namespace
}  // namespace corvane
