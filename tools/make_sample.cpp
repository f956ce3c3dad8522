// Writes a broadcast-like sample recording.
//   make_sample OUT.ts [--seconds N] [--packets-per-frame K] [--pcr-on-video]
// Without options: one minute with a 33-bit wrap of the source clock at about 20 s, a jump ten
// minutes forward at about 35 s and one five minutes back at about 50 s.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/stream_generator.h"

int main(int argc, char** argv) {
  using namespace corvane::streamgen;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: make_sample OUT.ts [--seconds N] [--packets-per-frame K] "
                 "[--pcr-on-video]\n");
    return 2;
  }
  RecordingOptions options = sampleOptions();
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      long long seconds = std::atoll(argv[++i]);
      options.durationTicks = seconds * 90000;
      // Spread the sample's wrap and jumps over a longer recording, repeating the jumps.
      if (seconds > 60) {
        options.jumps.clear();
        for (long long at = 35; at + 15 < seconds; at += 60) {
          options.jumps.push_back({at * 90000, 600 * 90000});
          options.jumps.push_back({(at + 15) * 90000, -300 * 90000});
        }
      }
    } else if (std::strcmp(argv[i], "--packets-per-frame") == 0 && i + 1 < argc) {
      options.videoPacketsPerFrame = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--pcr-on-video") == 0) {
      options.pcrOnVideoPid = true;
    } else {
      std::fprintf(stderr, "make_sample: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  Recording recording = makeRecording(options);
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr ||
      std::fwrite(recording.bytes.data(), 1, recording.bytes.size(), file) !=
          recording.bytes.size() ||
      std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s: %zu bytes, %zu packets, %zu timed PES, %zu PCRs, %zu jumps\n", argv[1],
              recording.bytes.size(), recording.bytes.size() / 188, recording.pes.size(),
              recording.pcrs.size(), recording.jointPackets.size());
  return 0;
}
