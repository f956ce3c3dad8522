// Where packets are. The walker on streams built piece by piece, in each framing: it takes the
// packets the stream was built of and passes by all else, whether it sees the stream at once or
// in pieces. And the tool on the generator's recordings: bytes that are not packets, put between
// packets, come out as they went in, and every packet as it does without them.
#include "ts/packet_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <random>
#include <tuple>
#include <vector>

#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;

// A packet with its stamp or trailer, as the framing has it. Stamps that count up have the sync
// byte's value first, so that they make a grid of their own a packet apart; the others are as
// random as ffmpeg's.
Bytes unit(const Framing& framing, int n) {
  Bytes packet(188, static_cast<std::uint8_t>(0x10 + n % 32));
  packet[0] = 0x47;
  Bytes stamp = {0x47, 0x00, static_cast<std::uint8_t>(n >> 4), static_cast<std::uint8_t>(n << 4)};
  if (!framing.stampsCountUp) stamp = {0x91, static_cast<std::uint8_t>(n * 97), 0x2C, 0x05};
  if (framing.stride == 192) packet.insert(packet.begin(), stamp.begin(), stamp.end());
  if (framing.stride == 204) packet.insert(packet.end(), 16, 0xFE);
  return packet;
}

using Skipped = std::tuple<std::int64_t, std::int64_t, NotPackets>;

struct Walked {
  std::vector<std::int64_t> packets;
  std::vector<Skipped> skipped;
  friend bool operator==(const Walked&, const Walked&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Walked& walked) {
    for (std::int64_t packet : walked.packets) out << packet << " ";
    for (auto [offset, bytes, what] : walked.skipped) {
      out << "| " << bytes << " at " << offset << (what == NotPackets::cutOff ? " cut off " : " ");
    }
    return out;
  }
};

// Walks the stream as the pass does, the bytes coming in `steps` (one step: all at once).
Walked walk(const Bytes& stream, const Framing& framing, std::mt19937& random, bool steps) {
  Walked walked;
  PacketWalker walker{framing};
  const auto size = static_cast<std::int64_t>(stream.size());
  for (std::int64_t end = 0; end < size;) {
    end = steps ? std::min<std::int64_t>(size, end + 1 + random() % 700) : size;
    WalkView<const std::uint8_t> view{stream.data(), 0, end, end, end == size};
    walkPackets(
        walker, view,
        [&](const std::uint8_t* packet) {
          walked.packets.push_back(offsetIn(view, packet));
          return true;
        },
        [&](std::int64_t offset, std::int64_t bytes, NotPackets what) {
          walked.skipped.emplace_back(offset, bytes, what);
        });
  }
  return walked;
}

TEST(PacketWalker, TakesThePacketsOfEachFramingAndPassesByAllElse) {
  std::mt19937 random(188);
  for (const Framing& framing : kFramings) {
    const int s = framing.stride;
    Bytes junk(100, 0x00);
    Bytes hit = unit(framing, 9);
    hit[framing.lead] = 0x46;
    Bytes cut = unit(framing, 9);
    cut.resize(static_cast<std::size_t>(framing.lead + 120));
    Bytes head = unit(framing, 9);
    head.erase(head.begin(), head.begin() + framing.lead + 90);
    // Each case: what goes between units 0..5, at unit boundary `at`, with three units or the
    // file's start or end on either side: a grid is found where the sync byte recurs three times.
    const struct {
      const char* name;
      int at;
      Bytes between;
      bool cutOff;  // the stream ends inside a packet
    } cases[] = {
        {"clean", 6, {}, false},
        {"lost bytes", 3, junk, false},
        {"a packet whose sync byte was hit", 3, hit, false},
        {"the first bytes of a packet cut short", 3, cut, false},
        {"the last bytes of a packet before the first", 0, head, false},
        {"a zero-filled tail", 6, Bytes(500, 0x00), false},
        {"a packet cut short by the end", 6, cut, true},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(s) + "-byte packets");
      Bytes stream;
      Walked expected;
      for (int n = 0; n <= 6; ++n) {
        if (n == c.at && !c.between.empty()) {
          auto offset = static_cast<std::int64_t>(stream.size());
          expected.skipped.emplace_back(offset, static_cast<std::int64_t>(c.between.size()),
                                        c.cutOff ? NotPackets::cutOff : NotPackets::lostSync);
          stream.insert(stream.end(), c.between.begin(), c.between.end());
        }
        if (n == 6) break;
        expected.packets.push_back(static_cast<std::int64_t>(stream.size()) + framing.lead);
        Bytes packet = unit(framing, n);
        stream.insert(stream.end(), packet.begin(), packet.end());
      }
      Framing found;
      ASSERT_TRUE(
          detectFraming(stream.data(), static_cast<std::int64_t>(stream.size()), true, &found));
      EXPECT_EQ(found, framing);
      EXPECT_EQ(walk(stream, framing, random, false), expected);
      for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(walk(stream, framing, random, true), expected) << "in pieces, round " << round;
      }
      // A source that ends inside the last stamp or trailer loses no packet.
      if (s > 188) {
        stream.resize(stream.size() - (framing.lead > 0 ? 0 : 5));
        if (framing.lead > 0) stream.insert(stream.end(), {0x47, 0x00});
        if (c.cutOff) continue;
        EXPECT_EQ(walk(stream, framing, random, true).packets, expected.packets);
      }
    }
  }
  // Sync bytes that recur at every size: the smaller.
  Framing found;
  Bytes syncs(4000, 0x47);
  ASSERT_TRUE(detectFraming(syncs.data(), 4000, true, &found));
  EXPECT_EQ(found.stride, 188);
  EXPECT_FALSE(detectFraming(Bytes(4000, 0x00).data(), 4000, true, &found));
}

// The generator's recordings framed in each packet size, with bytes that are not packets put
// between packets, before the first and after the last: the destination is the recording's own,
// framed alike, with those bytes put back untouched; the status and the time log are the same.
// Named and piped, one service and all, and across the survey's block and the ring's end.
TEST(PacketWalker, BytesThatAreNotPacketsComeOutAsTheyWentInAndPacketsAsWithoutThem) {
  std::mt19937 random(37);
  auto below = [&](std::size_t bound) { return static_cast<std::size_t>(random() % bound); };
  gen::RecordingOptions longer = gen::sampleOptions();
  longer.durationTicks = 100 * 90000;  // past the ring's end
  gen::RecordingOptions first;
  first.durationTicks = 20 * 90000;
  gen::RecordingOptions second = first;
  second.pids = gen::multiplexServicePids(1);
  gen::Recording services[] = {gen::makeRecording(first), gen::makeRecording(second)};
  const Bytes recordings[] = {
      gen::makeRecording(gen::sampleOptions()).bytes, gen::makeRecording(longer).bytes,
      gen::interleave({&services[0], &services[1]}, {{0x0408, gen::kPmtPid}, {0x0208, 0x1F01}}, 3)};
  testing::ToolFolder folder;
  auto run = [&](const Bytes& source, bool all, bool piped) {
    testing::writeFile(folder / "in.ts", source);
    std::filesystem::remove(folder / "out.ts");
    testing::RunResult result = folder.run(
        {"-services", all ? "all" : "one", "-log", "on", piped ? "-" : "in.ts", "out.ts"},
        {.input = folder / "in.ts", .inputThroughPipe = piped});
    std::string log = testing::readText(folder / (piped ? "out_Time.log" : "in_Time.log"));
    return std::make_tuple(result.status, testing::readFile(folder / "out.ts"), log);
  };
  for (int round = 0; round < 9; ++round) {
    const Bytes& x = recordings[round % 3];
    const bool all = round % 3 == 2 || below(2) == 0;
    const Framing framing = kFramings[below(4)];
    const int stride = framing.stride;
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(stride) + " bytes");
    auto [status, destination, log] = run(x, all, false);
    // Stamps that count up with their first byte the sync byte's value, or random ones, or
    // random trailers.
    const std::size_t units = x.size() / 188;
    std::vector<Bytes> extras(units);
    for (std::size_t n = 0; n < units; ++n) {
      std::uint32_t stamp = 0x47000000 + static_cast<std::uint32_t>(n * 500 + below(400));
      extras[n] = stride == 192 ? Bytes{0x47, static_cast<std::uint8_t>(stamp >> 16),
                                        static_cast<std::uint8_t>(stamp >> 8),
                                        static_cast<std::uint8_t>(stamp)}
                                : Bytes(stride - 188);
      if (stride == 204 || !framing.stampsCountUp) {
        for (std::uint8_t& byte : extras[n]) byte = static_cast<std::uint8_t>(0x48 + below(255));
      }
    }
    auto unitOf = [&](const Bytes& stream, std::size_t n) {
      Bytes unit(stream.begin() + n * 188, stream.begin() + n * 188 + 188);
      unit.insert(framing.lead > 0 ? unit.begin() : unit.end(), extras[n].begin(), extras[n].end());
      return unit;
    };
    // What goes before unit n: at the start, the end of a packet; between, at least three units
    // apart and once right at the survey's block's or the ring's end, junk, the start of a packet
    // cut short, or a packet whose sync byte was hit; at the end, zeros or a packet cut short.
    std::map<std::size_t, Bytes> inserted;
    Bytes some = unitOf(x, below(units));
    inserted[0] = Bytes(some.end() - 1 - below(187), some.end());
    std::size_t edge = (round % 2 ? 2310144 : 4194304) / stride;
    for (std::size_t n = 3 + below(40); n + 3 < units; n += 3 + below(units / 4)) {
      if (n < edge && n + 3 > edge) n = edge;
      Bytes extra = unitOf(x, below(units));
      switch (below(3)) {
        case 0:
          extra.resize(1 + below(3000));
          for (std::uint8_t& byte : extra) byte = static_cast<std::uint8_t>(0x48 + below(255));
          if (extra.size() > 1000) extra[extra.size() / 4] = 0x47;
          break;
        case 1:
          extra.resize(framing.lead + 1 + below(187));
          break;
        default:
          extra[framing.lead] = static_cast<std::uint8_t>(0x48 + below(255));
      }
      inserted[n] = extra;
    }
    Bytes tail = unitOf(x, below(units));
    tail.resize(framing.lead + 1 + below(187));
    inserted[units] = below(2) ? Bytes(1 + below(2000), 0x00) : tail;
    auto framed = [&](const Bytes& stream) {
      Bytes out;
      for (std::size_t n = 0; n <= units; ++n) {
        if (inserted.count(n)) out.insert(out.end(), inserted[n].begin(), inserted[n].end());
        if (n == units) break;
        Bytes unit = unitOf(stream, n);
        out.insert(out.end(), unit.begin(), unit.end());
      }
      return out;
    };
    auto [variantStatus, variantDestination, variantLog] = run(framed(x), all, round % 2 == 0);
    const Bytes expected = framed(destination);
    auto differ = std::mismatch(variantDestination.begin(), variantDestination.end(),
                                expected.begin(), expected.end());
    std::string where = "first difference at ";
    where += std::to_string(differ.first - variantDestination.begin());
    where += "; inserted";
    for (const auto& [n, bytes] : inserted) {
      where += ' ';
      where += std::to_string(bytes.size());
      where += " before packet ";
      where += std::to_string(n);
    }
    EXPECT_EQ(variantStatus, status);
    EXPECT_TRUE(variantDestination == expected) << where;
    EXPECT_TRUE(variantLog == log) << where;
  }
}

}  // namespace
}  // namespace corvane
