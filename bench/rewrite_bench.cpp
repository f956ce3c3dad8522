// Per-packet cost of the rewrite pass, in memory: one block of a broadcast-like recording
// rewritten in place, with and without the time log. No disk is involved, so a regression on
// the packet path shows here without the noise of file I/O.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "rewrite/packet_rules.h"
#include "rewrite/pass_buffer.h"
#include "stream/packet.h"
#include "stream/survey.h"
#include "tools/stream_generator.h"

namespace {

using namespace corvane;

struct Block {
  std::vector<std::uint8_t> pristine;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kBlockSize);
  std::vector<std::int32_t> counters = std::vector<std::int32_t>(kPidCount);
  StreamContext context;

  Block() {
    streamgen::RecordingOptions options = streamgen::sampleOptions();
    options.videoPacketsPerFrame = 330;  // about 15 Mbit/s of video
    options.durationTicks = 10 * 90000;
    streamgen::Recording recording = streamgen::makeRecording(options);
    pristine.assign(recording.bytes.begin(), recording.bytes.begin() + kBlockSize);
    context.ccTable = counters.data();
    std::memcpy(buffer.data(), pristine.data(), kBlockSize);
    surveyStream(context, buffer.data(), kBlockSize);
  }
};

void rewriteOneBlock(benchmark::State& state, bool withLog) {
  Block block;
  TimeLog& log = block.context.run.timeLog;
  log.stream = withLog ? std::fopen("/dev/null", "wb") : nullptr;
  PassProgress progress;
  progress.fileSize = std::numeric_limits<std::int64_t>::max() / 200;  // progress stays at 0 %
  progress.lastShown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(block.buffer.data(), block.pristine.data(), kBlockSize);
    std::fill(block.counters.begin(), block.counters.end(), -1);
    block.context.gopCount = 0;
    state.ResumeTiming();
    std::uint8_t* begin = block.buffer.data();
    benchmark::DoNotOptimize(rewritePackets(block.context, progress, begin, begin + kBlockSize));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (kBlockSize / kPacketSize));
  state.SetBytesProcessed(state.iterations() * kBlockSize);
  if (log.stream != nullptr) std::fclose(log.stream);
  log.stream = nullptr;
}

void RewriteBlock(benchmark::State& state) { rewriteOneBlock(state, false); }
void RewriteBlockWithLog(benchmark::State& state) { rewriteOneBlock(state, true); }

BENCHMARK(RewriteBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(RewriteBlockWithLog)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
