// The reader and the writer around the packet rules, in process, through a scripted source and
// destination: however the source comes in and wherever the pass ends, the destination holds
// the rewritten packets at their places, in the pieces and cuts that its kind allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "pass/rewrite_pass.h"
#include "service/survey.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"
#include "ts/continuity.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;

constexpr std::int64_t kBlock = 2310144;
constexpr int kScriptedError = 5;  // the code a scripted failure reports

// A source that grows: each read stops at the next of `growth` (the end found for the moment,
// often inside a packet) and the read after it finds more. Reads from `failAt` on fail.
struct ScriptedSource {
  const Bytes* bytes;
  std::vector<std::int64_t> growth;  // ascending; the last is the source's length
  std::int64_t failAt = -1;
  std::int64_t at = 0;
  std::size_t visible = 0;  // index into growth
  std::int64_t calls = 0;
  std::string misplaced;  // a read after the first that is not ioSizeAt of its offset
};

// Records every write and cut. Writes that would reach `failAt` fail.
struct ScriptedDestination {
  Bytes bytes;
  std::int64_t failAt = -1;
  std::vector<std::pair<std::int64_t, std::int64_t>> writes;  // offset, size
  std::vector<std::int64_t> cuts;
  bool closed = false;
};

template <typename Script>
Script& scriptOf(platform::FileHandle file) {
  return *reinterpret_cast<Script*>(file);
}

std::int64_t scriptedRead(platform::FileHandle file, std::uint8_t* data, std::int64_t size) {
  ScriptedSource& source = scriptOf<ScriptedSource>(file);
  if (source.calls++ > 0 && size != ioSizeAt(source.at)) {
    source.misplaced = std::to_string(size) + " bytes at " + std::to_string(source.at);
  }
  if (source.failAt >= 0 && source.at >= source.failAt) return -1;
  while (source.at == source.growth[source.visible] && source.visible + 1 < source.growth.size()) {
    ++source.visible;
  }
  std::int64_t end = std::min(source.at + size, source.growth[source.visible]);
  if (source.failAt >= 0) end = std::min(end, source.failAt);
  std::memcpy(data, source.bytes->data() + source.at, static_cast<std::size_t>(end - source.at));
  std::int64_t got = end - source.at;
  source.at = end;
  return got;
}

bool scriptedWrite(platform::FileHandle file, const std::uint8_t* data, std::int64_t size) {
  ScriptedDestination& output = scriptOf<ScriptedDestination>(file);
  auto at = static_cast<std::int64_t>(output.bytes.size());
  if (output.failAt >= 0 && at + size > output.failAt) return false;
  output.writes.emplace_back(at, size);
  output.bytes.insert(output.bytes.end(), data, data + size);
  return true;
}

bool scriptedCut(platform::FileHandle file, std::int64_t size) {
  ScriptedDestination& output = scriptOf<ScriptedDestination>(file);
  output.cuts.push_back(size);
  output.bytes.resize(static_cast<std::size_t>(size));
  return true;
}

bool scriptedClose(platform::FileHandle file) {
  scriptOf<ScriptedDestination>(file).closed = true;
  return true;
}

int scriptedError() { return kScriptedError; }

constexpr FileCalls kScriptedCalls = {scriptedRead, scriptedWrite, scriptedCut, scriptedClose,
                                      scriptedError};

// A PMT without audio on the service's PMT PID: under -pmtcheck on it stops the pass.
Bytes failingPmt() {
  Bytes packet;
  gen::appendPmt(packet, gen::kPmtPid, gen::kPcrPid, {{0x02, gen::kVideoPid, {}}});
  return packet;
}

// The packet rules over the whole source in one go: the bytes every way of moving the file must
// give. Packets from a failed PMT re-read on are left as they are; no test looks at them.
Bytes rewrittenInOneGo(const Bytes& source, bool pmtcheck) {
  Bytes all(source);
  std::size_t whole = source.size() / 188 * 188;
  Service service;
  EXPECT_EQ(surveyStream(service, false, all.data(), static_cast<std::int32_t>(kBlock)),
            Refusal::none);
  ContinuityCounters counters;
  EventSink events{dropEvent};
  PacketRules rules{service, counters, events, pmtcheck};
  if (rewritePackets(rules, all.data(), all.data() + whole, 0).refusal == Refusal::none &&
      whole < source.size()) {
    rewriteCutOffPacket(rules, all.data() + whole, static_cast<std::int64_t>(source.size() - whole),
                        static_cast<std::int64_t>(whole));
  }
  return all;
}

TEST(PassInPieces, AnyScheduleOfReadsAndAnyEndLeaveTheRewrittenPacketsInPlace) {
  gen::RecordingOptions options = gen::sampleOptions();
  options.videoPacketsPerFrame = 20;
  const Bytes recording = gen::makeRecording(options).bytes;
  ASSERT_GT(recording.size(), static_cast<std::size_t>(3 * kBlock));
  const auto packets = static_cast<std::int64_t>(recording.size() / 188);
  std::mt19937_64 random(21);
  auto below = [&](std::int64_t bound) { return static_cast<std::int64_t>(random() % bound); };
  // An offset in [low, high): half of them within a read of a block's end, where the buffer's
  // bytes move, a block is written and a cut lands.
  auto offset = [&](std::int64_t low, std::int64_t high) {
    std::int64_t at = low + below(high - low);
    if (below(2) == 0) at = (at / kBlock + below(2)) * kBlock - kIoSize + below(2 * kIoSize);
    return std::clamp(at, low, high - 1);
  };

  std::vector<std::uint8_t> bufferBytes(kBufferSize);
  for (int round = 0; round < 40; ++round) {
    // The source: the recording cut anywhere past its second block, and perhaps a PMT that stops
    // the pass anywhere past the survey's PCRs.
    Bytes source(recording.begin(),
                 recording.begin() + 2 * kBlock + below(packets * 188 - 2 * kBlock));
    bool stop = below(3) == 0;
    std::int64_t stopPacket = -1;
    if (stop) {
      stopPacket = offset(2000 * 188, static_cast<std::int64_t>(source.size()) / 188 * 188) / 188;
      Bytes pmt = failingPmt();
      std::copy(pmt.begin(), pmt.end(), source.begin() + stopPacket * 188);
    }
    const auto size = static_cast<std::int64_t>(source.size());
    const Bytes expected = rewrittenInOneGo(source, stop);

    ScriptedSource input{&source};
    for (int i = static_cast<int>(below(8)); i > 0; --i) {
      input.growth.push_back(offset(kBlock / 2, size));
    }
    input.growth.push_back(size);
    std::sort(input.growth.begin(), input.growth.end());
    if (below(4) == 0) input.failAt = offset(kBlock / 2, size);
    ScriptedDestination written;
    if (below(5) == 0) written.failAt = offset(0, size);
    bool cuttable = below(2) == 0;

    Service service;
    ContinuityCounters counters;
    EventSink events{dropEvent};
    PacketRules rules{service, counters, events, stop};
    PassBuffer buffer{bufferBytes.data()};
    SourceReader reader{reinterpret_cast<platform::FileHandle>(&input), &kScriptedCalls};
    Destination output{reinterpret_cast<platform::FileHandle>(&written), cuttable, &kScriptedCalls};
    bool surveyed = !readFirstBlock(reader, buffer).failed &&
                    surveyStream(service, false, buffer.bytes,
                                 static_cast<std::int32_t>(buffer.read)) == Refusal::none;
    PassOutcome outcome;
    if (surveyed) {
      outcome = settleDestination(output, buffer, rewriteFile(rules, reader, buffer, output));
    }

    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(surveyed);
    // What ends the pass when no write fails: the stop, once its packet is read whole; a read
    // that fails before that; or the source's end.
    PassEnd end = PassEnd::complete;
    if (stop && (input.failAt < 0 || stopPacket * 188 + 188 <= input.failAt)) {
      end = PassEnd::stopped;
    } else if (input.failAt >= 0) {
      end = PassEnd::readFailed;
    }
    if (outcome.end != end) {
      ASSERT_EQ(outcome.end, PassEnd::writeFailed);
    }
    if (outcome.end != PassEnd::complete && outcome.end != PassEnd::stopped) {
      EXPECT_EQ(outcome.errorCode, kScriptedError);
    }
    EXPECT_EQ(input.misplaced, "");
    EXPECT_TRUE(written.closed);

    // The bytes are those of the rules in one go, in whole blocks after an early end.
    const auto length = static_cast<std::int64_t>(written.bytes.size());
    ASSERT_LE(length, size);
    EXPECT_TRUE(std::equal(written.bytes.begin(), written.bytes.end(), expected.begin()));
    if (outcome.end == PassEnd::complete) {
      EXPECT_EQ(length, size);
    } else {
      EXPECT_EQ(length % kBlock, 0);
    }
    if (outcome.end == PassEnd::stopped) {
      EXPECT_EQ(length, stopPacket * 188 / kBlock * kBlock);
      EXPECT_EQ(outcome.stop, Refusal::noAudioInPmt);
    }
    if (outcome.end == PassEnd::readFailed) {
      // Nothing rewritten before the failing read is lost but the block it ended in.
      EXPECT_GE(length, (input.failAt - 188 - kIoSize) / kBlock * kBlock);
      EXPECT_LE(length, input.failAt);
    }

    // Pieces and cuts: a destination that can be cut takes powers of two at offsets they divide
    // and is cut back once after an early end; any other takes whole blocks (and the last piece
    // of a complete pass) and is never cut.
    for (auto [at, piece] : written.writes) {
      if (cuttable) {
        EXPECT_TRUE(std::has_single_bit(static_cast<std::uint64_t>(piece)) && at % piece == 0)
            << piece << " bytes at " << at;
      } else {
        EXPECT_TRUE(at % kBlock == 0 && (piece == kBlock || at + piece == size))
            << piece << " bytes at " << at;
      }
    }
    std::size_t cuts = cuttable && outcome.end != PassEnd::complete ? 1 : 0;
    EXPECT_EQ(written.cuts.size(), cuts);
  }
}

}  // namespace
}  // namespace corvane
