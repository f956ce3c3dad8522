// Where packets are: the generator's recordings framed in each packet size, with bytes that are
// not packets put between packets, before the first and after the last, come out as they went
// in, and every packet as it does without them.
#include "ts/packet_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

#include "output/messages.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

namespace gen = streamgen;
using testing::Bytes;

// The destination is the recording's own, framed alike, with those bytes put back untouched; the
// status and the time log are the same, and the console counts the bytes. Named and piped, one
// service and all, across the survey's block and the ring's end, and with a source that ends
// inside a stamp or a trailer.
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
    return std::make_tuple(result, testing::readFile(folder / "out.ts"), log);
  };
  for (int round = 0; round < 9; ++round) {
    const Bytes& x = recordings[round % 3];
    const bool all = round % 3 == 2 || below(2) == 0;
    const Framing framing = kFramings[below(4)];
    const int stride = framing.stride;
    SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(stride) + " bytes");
    auto [result, destination, log] = run(x, all, false);
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
    // At the end zeros, a packet cut short, or a source that ends inside the last stamp or
    // trailer: no packet's bytes, which are not counted.
    Bytes tail = unitOf(x, below(units));
    tail.resize(framing.lead + 1 + below(187));
    std::size_t cut = stride == 204 ? 1 + below(15) : 0;
    if (below(2) == 0) tail = Bytes(1 + below(2000), 0x00);
    if (below(3) == 0) tail = framing.lead > 0 ? Bytes(tail.begin(), tail.begin() + 3) : Bytes{};
    if (!tail.empty()) inserted[units] = tail;
    std::int64_t passedBy = 0;
    for (const auto& [n, bytes] : inserted) passedBy += static_cast<std::int64_t>(bytes.size());
    if (tail.size() <= static_cast<std::size_t>(framing.lead)) passedBy -= tail.size();
    auto framed = [&](const Bytes& stream) {
      Bytes out;
      for (std::size_t n = 0; n <= units; ++n) {
        if (inserted.count(n)) out.insert(out.end(), inserted[n].begin(), inserted[n].end());
        if (n == units) break;
        Bytes unit = unitOf(stream, n);
        out.insert(out.end(), unit.begin(), unit.end());
      }
      // A trailer cut short by the source's end, when the tail is none.
      if (!inserted.count(units)) out.resize(out.size() - cut);
      return out;
    };
    auto [variant, variantDestination, variantLog] = run(framed(x), all, round % 2 == 0);
    const Bytes expected = framed(destination);
    auto differ = std::mismatch(variantDestination.begin(), variantDestination.end(),
                                expected.begin(), expected.end());
    EXPECT_EQ(variant.status, result.status);
    EXPECT_TRUE(variantDestination == expected)
        << "first difference at " << differ.first - variantDestination.begin();
    EXPECT_TRUE(variantLog == log);
    // A packet cut short is lost to its PID's counter: the drops are counted, not checked here.
    EXPECT_EQ(testing::withoutDamageCount(variant.err),
              passedBy > 0 ? testing::printed(msg::kNotPacketBytes, passedBy) : "");
  }
}

}  // namespace
}  // namespace corvane
