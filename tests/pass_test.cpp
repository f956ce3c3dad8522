// The reader and the writer around the packet rules, in process, through a scripted source and
// destination: however the source comes in, wherever the pass ends, and however the reader's and
// the writer's threads are delayed, the destination holds the rewritten packets at their places,
// in the pieces and cuts that its kind allows.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
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

// Now and then a few dozen microseconds' sleep, so that the threads meet in ever other orders.
// Each scripted file has its own generator: only its own thread calls it.
void maybeDelay(std::mt19937_64* delays) {
  if (delays != nullptr && (*delays)() % 4 == 0) {
    std::this_thread::sleep_for(std::chrono::microseconds((*delays)() % 64));
  }
}

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
  std::mt19937_64* delays = nullptr;
};

// Records every write and cut. Writes that would reach `failAt` fail.
struct ScriptedDestination {
  Bytes bytes;
  std::int64_t failAt = -1;
  std::vector<std::pair<std::int64_t, std::int64_t>> writes;  // offset, size
  std::vector<std::int64_t> cuts;
  bool closed = false;
  std::mt19937_64* delays = nullptr;
};

template <typename Script>
Script& scriptOf(platform::FileHandle file) {
  return *reinterpret_cast<Script*>(file);
}

std::int64_t scriptedRead(platform::FileHandle file, std::uint8_t* data, std::int64_t size) {
  ScriptedSource& source = scriptOf<ScriptedSource>(file);
  maybeDelay(source.delays);
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
  maybeDelay(output.delays);
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
  Service service;
  EXPECT_EQ(surveyStream(service, false, Framing{}, all.data(), static_cast<std::int32_t>(kBlock)),
            Refusal::none);
  CountersPointer counters = makeContinuityCounters();
  EventSink events{dropEvent};
  Multiplex multiplex;
  adoptService(multiplex, service, pmtcheck);
  PacketRules rules{multiplex, *counters, events, PacketWalker{}, ReadAhead{}};
  const auto size = static_cast<std::int64_t>(all.size());
  rewritePackets(rules, WalkView<std::uint8_t>{all.data(), 0, size, size, true});
  return all;
}

TEST(PassInPieces, AnyScheduleOfReadsAndAnyEndLeaveTheRewrittenPacketsInPlace) {
  gen::RecordingOptions options = gen::sampleOptions();
  options.videoPacketsPerFrame = 20;
  gen::Recording made = gen::makeRecording(options);
  Bytes recording = made.bytes;
  ASSERT_GT(recording.size(), static_cast<std::size_t>(3 * kBlock));
  // The packet across each of the ring's ends: an audio PES start whose adaptation field puts its
  // PTS after the end, so that the rules rewrite bytes on both sides of it.
  for (std::int64_t end = kRingSize; end < static_cast<std::int64_t>(recording.size());
       end += kRingSize) {
    std::int64_t packet = end / 188;
    auto audio = std::find_if(made.pes.rbegin(), made.pes.rend(), [&](const gen::PesRecord& pes) {
      return pes.pid == gen::kAudio1Pid && pes.packet < packet;
    });
    ASSERT_NE(audio, made.pes.rend());
    Bytes crossing;
    gen::appendPesStart(crossing,
                        gen::PesStart{.pid = gen::kAudio1Pid,
                                      .streamId = 0xC0,
                                      .pts = audio->pts,
                                      .adaptationLength = static_cast<int>(end % 188) + 8});
    std::copy(crossing.begin(), crossing.end(), recording.begin() + packet * 188);
  }
  const auto packets = static_cast<std::int64_t>(recording.size() / 188);
  std::mt19937_64 random(21);
  auto below = [&](std::int64_t bound) { return static_cast<std::int64_t>(random() % bound); };
  // An offset in [low, high): half of them within a read of a block's or the ring's end, where a
  // block is written, a cut lands or a packet is joined across the end.
  auto offset = [&](std::int64_t low, std::int64_t high) {
    std::int64_t at = low + below(high - low);
    std::int64_t unit = below(2) == 0 ? kBlock : kRingSize;
    if (below(2) == 0) at = (at / unit + below(2)) * unit - kIoSize + below(2 * kIoSize);
    return std::clamp(at, low, high - 1);
  };
  // The scripted test under ThreadSanitizer runs many more rounds.
  const char* roundsWanted = std::getenv("CORVANE_PASS_ROUNDS");
  const int rounds = roundsWanted != nullptr ? std::atoi(roundsWanted) : 40;

  std::vector<std::uint8_t> bufferBytes(kBufferSize);
  for (int round = 0; round < rounds; ++round) {
    // The source: the recording cut anywhere past its second block, and perhaps a PMT that stops
    // the pass anywhere past the survey's PCRs.
    Bytes source(recording.begin(), recording.begin() + offset(2 * kBlock, packets * 188 + 1));
    bool stop = below(3) == 0;
    std::int64_t stopPacket = -1;
    if (stop) {
      stopPacket = offset(2000 * 188, static_cast<std::int64_t>(source.size()) / 188 * 188) / 188;
      Bytes pmt = failingPmt();
      std::copy(pmt.begin(), pmt.end(), source.begin() + stopPacket * 188);
    }
    const auto size = static_cast<std::int64_t>(source.size());
    const Bytes expected = rewrittenInOneGo(source, stop);

    ScriptedSource script{&source};
    for (int i = static_cast<int>(below(8)); i > 0; --i) {
      script.growth.push_back(offset(kBlock / 2, size));
    }
    script.growth.push_back(size);
    std::sort(script.growth.begin(), script.growth.end());
    if (below(4) == 0) script.failAt = offset(kBlock / 2, size);
    ScriptedDestination destination;
    if (below(5) == 0) destination.failAt = offset(0, size);
    bool cuttable = below(2) == 0;
    std::mt19937_64 readDelays(random());
    std::mt19937_64 writeDelays(random());

    // Each round in turn, then overlapped with the reader and the writer delayed at random: the
    // same bytes and pieces, and the same end but where a write fails in a stop's block, which
    // cuts it off either way.
    Bytes inTurnBytes;
    PassEnd inTurnEnd = PassEnd::complete;
    for (PassSchedule schedule : {PassSchedule::inTurn, PassSchedule::overlapped}) {
      bool overlapped = schedule == PassSchedule::overlapped;
      SCOPED_TRACE("round " + std::to_string(round) + (overlapped ? ", overlapped" : ", in turn"));
      ScriptedSource input = script;
      ScriptedDestination written = destination;
      input.delays = overlapped ? &readDelays : nullptr;
      written.delays = overlapped ? &writeDelays : nullptr;
      Service service;
      CountersPointer counters = makeContinuityCounters();
      EventSink events{dropEvent};
      Multiplex multiplex;
      PassBuffer buffer{bufferBytes.data()};
      SourceReader reader{reinterpret_cast<platform::FileHandle>(&input), &kScriptedCalls};
      Destination output{reinterpret_cast<platform::FileHandle>(&written), cuttable,
                         &kScriptedCalls};
      bool surveyed = !readFirstBlock(reader, buffer).failed &&
                      surveyStream(service, false, Framing{}, buffer.bytes,
                                   static_cast<std::int32_t>(buffer.read)) == Refusal::none;
      ASSERT_TRUE(surveyed);
      adoptService(multiplex, service, stop);
      PacketRules rules{multiplex, *counters, events, PacketWalker{}, ReadAhead{}};
      PassOutcome outcome =
          settleDestination(output, buffer, rewriteFile(rules, reader, buffer, output, schedule));

      // What ends the pass when no write fails: the stop, once its packet is read with the sync
      // bytes of the two after it; a read that fails before that; or the source's end.
      PassEnd end = PassEnd::complete;
      if (stop && (input.failAt < 0 || stopPacket * 188 + 2 * 188 < input.failAt)) {
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
        // A block that crosses the ring's end goes in two writes, and the second may fail.
        bool split = outcome.end == PassEnd::writeFailed && !cuttable && length % kRingSize == 0;
        EXPECT_TRUE(length % kBlock == 0 || split) << length;
      }
      if (outcome.end == PassEnd::stopped) {
        EXPECT_EQ(length, stopPacket * 188 / kBlock * kBlock);
        EXPECT_EQ(outcome.stop, Refusal::noAudioInPmt);
      }
      if (outcome.end == PassEnd::readFailed) {
        // Nothing rewritten before the failing read is lost but the block it ended in.
        EXPECT_GE(length, (input.failAt - kWalkLookahead - 188 - kIoSize) / kBlock * kBlock);
        EXPECT_LE(length, input.failAt);
      }
      if (!overlapped) {
        inTurnBytes = written.bytes;
        inTurnEnd = outcome.end;
      } else {
        EXPECT_TRUE(written.bytes == inTurnBytes);
        if (!(stop && destination.failAt / kBlock == stopPacket * 188 / kBlock)) {
          EXPECT_EQ(outcome.end, inTurnEnd);
        }
      }

      // Pieces and cuts: a destination that can be cut takes powers of two at offsets they
      // divide and is cut back once after an early end; any other takes whole blocks (and the
      // last piece of a complete pass), each in one write or two that meet at the ring's end,
      // and is never cut.
      auto edge = [&](std::int64_t at) {
        return at % kBlock == 0 || at % kRingSize == 0 || at == size;
      };
      for (auto [at, piece] : written.writes) {
        if (cuttable) {
          EXPECT_TRUE(std::has_single_bit(static_cast<std::uint64_t>(piece)) && at % piece == 0)
              << piece << " bytes at " << at;
        } else {
          EXPECT_TRUE(edge(at) && edge(at + piece) && at / kBlock == (at + piece - 1) / kBlock)
              << piece << " bytes at " << at;
        }
      }
      std::size_t cuts = cuttable && outcome.end != PassEnd::complete ? 1 : 0;
      EXPECT_EQ(written.cuts.size(), cuts);
    }
  }
}

}  // namespace
}  // namespace corvane
