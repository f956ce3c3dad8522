// Writes a broadcast-like sample recording.
//   make_sample OUT.ts [--seconds N] [--packets-per-frame K] [--pcr-on-video] [--services S]
// Without options: one minute with a 33-bit wrap of the source clock at about 20 s, a jump ten
// minutes forward at about 35 s and one five minutes back at about 50 s. With --services, a
// multiplex of S such services, each N / S seconds long, on PIDs of their own.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/stream_generator.h"

int main(int argc, char** argv) {
  using namespace corvane::streamgen;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: make_sample OUT.ts [--seconds N] [--packets-per-frame K] "
                 "[--pcr-on-video] [--services S]\n");
    return 2;
  }
  RecordingOptions options = sampleOptions();
  int services = 1;
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
    } else if (std::strcmp(argv[i], "--services") == 0 && i + 1 < argc) {
      services = std::atoi(argv[++i]);
      if (services < 1 || services > 30) services = 1;
    } else if (std::strcmp(argv[i], "--pcr-on-video") == 0) {
      options.pcrOnVideoPid = true;
    } else {
      std::fprintf(stderr, "make_sample: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  Recording recording;
  if (services == 1) {
    recording = makeRecording(options);
  } else {
    std::vector<Recording> parts;
    std::vector<ProgramEntry> programs = {{0, 0x0010}};
    std::int64_t seconds = options.durationTicks / 90000 / services;
    for (int n = 0; n < services; ++n) {
      RecordingOptions part = options;
      part.durationTicks = seconds * 90000;
      for (Jump& jump : part.jumps)
        jump.atTime = jump.atTime * seconds * 90000 / options.durationTicks;
      part.pids = multiplexServicePids(n);
      parts.push_back(makeRecording(part));
      const Recording& made = parts.back();
      recording.pes.insert(recording.pes.end(), made.pes.begin(), made.pes.end());
      recording.pcrs.insert(recording.pcrs.end(), made.pcrs.begin(), made.pcrs.end());
      recording.jointPackets.insert(recording.jointPackets.end(), made.jointPackets.begin(),
                                    made.jointPackets.end());
      programs.push_back({part.pids.programNumber, part.pids.pmt});
    }
    std::vector<const Recording*> pointers;
    for (const Recording& part : parts) pointers.push_back(&part);
    recording.bytes = interleave(pointers, programs, 1);
  }
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
