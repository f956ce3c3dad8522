// Writes a broadcast-like sample recording.
//   make_sample OUT.ts [--seconds N] [--packets-per-frame K] [--pcr-on-video] [--services S]
//                      [--packet-size 188|192|204] [--without-pcr]
// Without options: one minute with a 33-bit wrap of the source clock at about 20 s, a jump ten
// minutes forward at about 35 s and one five minutes back at about 50 s. With --services, a
// multiplex of S such services, each N / S seconds long, on PIDs of their own. With
// --packet-size 192, each packet has an arrival stamp before it that counts up by 0.1 ms (as
// Blu-ray recorders write them); with 204, a 16-byte trailer of zeros after it. With
// --without-pcr, the last service of a multiplex has none: its PMT names the null PID as its
// PCR_PID, and its PCRs go out as null packets.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/stream_generator.h"

int main(int argc, char** argv) {
  using namespace corvane::streamgen;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: make_sample OUT.ts [--seconds N] [--packets-per-frame K] "
                 "[--pcr-on-video] [--services S] [--packet-size 188|192|204] "
                 "[--without-pcr]\n");
    return 2;
  }
  RecordingOptions options = sampleOptions();
  int services = 1;
  int packetSize = 188;
  bool withoutPcr = false;
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
    } else if (std::strcmp(argv[i], "--packet-size") == 0 && i + 1 < argc) {
      packetSize = std::atoi(argv[++i]);
      if (packetSize != 192 && packetSize != 204) packetSize = 188;
    } else if (std::strcmp(argv[i], "--without-pcr") == 0) {
      withoutPcr = true;
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
      if (withoutPcr && n == services - 1) {
        part.pids.pcr = 0x1FFF;
        part.pcrOnVideoPid = false;
      }
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
  if (packetSize != 188) {
    Bytes framed;
    framed.reserve(recording.bytes.size() / 188 * static_cast<std::size_t>(packetSize));
    for (std::size_t at = 0, n = 0; at + 188 <= recording.bytes.size(); at += 188, ++n) {
      std::uint32_t stamp = static_cast<std::uint32_t>(n * 2700) & 0x3FFFFFFF;
      if (packetSize == 192) {
        framed.insert(
            framed.end(),
            {static_cast<std::uint8_t>(stamp >> 24), static_cast<std::uint8_t>(stamp >> 16),
             static_cast<std::uint8_t>(stamp >> 8), static_cast<std::uint8_t>(stamp)});
      }
      framed.insert(framed.end(), recording.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    recording.bytes.begin() + static_cast<std::ptrdiff_t>(at + 188));
      if (packetSize == 204) framed.insert(framed.end(), 16, 0x00);
    }
    recording.bytes = std::move(framed);
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
              recording.bytes.size(), recording.bytes.size() / static_cast<std::size_t>(packetSize),
              recording.pes.size(), recording.pcrs.size(), recording.jointPackets.size());
  return 0;
}
