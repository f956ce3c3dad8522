// Per-packet cost of the rewrite pass, in memory: one block of a broadcast-like recording
// rewritten in place, with and without the time log. No disk is involved, so a regression on
// the packet path shows here without the noise of file I/O.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "output/outputs.h"
#include "pass/packet_rules.h"
#include "pass/pass_buffer.h"
#include "service/survey.h"
#include "tools/stream_generator.h"
#include "ts/continuity.h"
#include "ts/packet.h"

namespace {

using namespace corvane;

struct Block {
  std::vector<std::uint8_t> pristine;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kBlockSize);
  Service service;

  Block() {
    streamgen::RecordingOptions options = streamgen::sampleOptions();
    options.videoPacketsPerFrame = 330;  // about 15 Mbit/s of video
    options.durationTicks = 10 * 90000;
    streamgen::Recording recording = streamgen::makeRecording(options);
    pristine.assign(recording.bytes.begin(), recording.bytes.begin() + kBlockSize);
    std::memcpy(buffer.data(), pristine.data(), kBlockSize);
    surveyStream(service, false, Framing{}, buffer.data(), kBlockSize);
  }
};

void rewriteOneBlock(benchmark::State& state, bool withLog) {
  Block block;
  RunOutputs outputs;
  outputs.timeLog.stream = withLog ? std::fopen("/dev/null", "wb") : nullptr;
  outputs.progress.fileSize = std::numeric_limits<std::int64_t>::max() / 200;  // stays at 0 %
  outputs.progress.lastShown = 0;
  EventSink events = sinkTo(outputs);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(block.buffer.data(), block.pristine.data(), kBlockSize);
    CountersPointer counters = makeContinuityCounters();
    Multiplex multiplex;
    adoptService(multiplex, block.service, false);
    PacketRules rules{multiplex, *counters, events, PacketWalker{}, ReadAhead{}};
    state.ResumeTiming();
    benchmark::DoNotOptimize(rewritePackets(
        rules, WalkView<std::uint8_t>{block.buffer.data(), 0, kBlockSize, kBlockSize, true}));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (kBlockSize / kPacketSize));
  state.SetBytesProcessed(state.iterations() * kBlockSize);
  if (outputs.timeLog.stream != nullptr) std::fclose(outputs.timeLog.stream);
}

void RewriteBlock(benchmark::State& state) { rewriteOneBlock(state, false); }
void RewriteBlockWithLog(benchmark::State& state) { rewriteOneBlock(state, true); }

BENCHMARK(RewriteBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(RewriteBlockWithLog)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
