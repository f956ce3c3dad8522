#include "tools/fuzz_seeds.h"

namespace corvane::streamgen {

namespace {

FuzzSeed seed(std::string name, int settings, Bytes bytes) {
  bytes.insert(bytes.begin(), static_cast<std::uint8_t>(settings));
  return FuzzSeed{std::move(name), std::move(bytes)};
}

RecordingOptions small() {
  RecordingOptions options;
  options.durationTicks = 90000;  // one second
  options.videoPacketsPerFrame = 1;
  options.sourceStart = kPtsModulus - 30000;  // the clock wraps after a third of a second
  options.jumps = {{45000, 600 * 90000}};     // and jumps at the GOP after half a second
  return options;
}

// The sample at 12 video packets a frame, about 92 KB a second: a wrap at 20 s and joints at 35
// and 50 s, in the second and third blocks.
RecordingOptions large(std::int64_t seconds) {
  RecordingOptions options = sampleOptions();
  options.durationTicks = seconds * 90000;
  options.videoPacketsPerFrame = 12;
  return options;
}

constexpr std::int64_t kBlockPackets = 12288;

// Three services of `base`'s length interleaved: the first as `base`, the second H.264 with its
// PCR on the video PID and a PMT that moves its audio, whose second audio stream is scrambled,
// and the third with scrambled video.
Bytes multiplexOf(const RecordingOptions& base) {
  std::vector<Recording> services;
  std::vector<ProgramEntry> programs = {{0, 0x0010}};
  for (int n = 0; n < 3; ++n) {
    RecordingOptions options = base;
    int pidBase = 0x0100 * (n + 1);
    options.pids = multiplexServicePids(n);
    if (n == 1) {
      options.videoStreamType = 0x1B;
      options.pcrOnVideoPid = true;
      options.pmtChangeAt = options.durationTicks / 2;
      options.audioPidsAfterChange = {pidBase + 0x12, pidBase + 0x14};
    }
    services.push_back(makeRecording(options));
    if (n == 1) scramblePid(services.back().bytes, pidBase + 0x13);
    if (n == 2) scramblePid(services.back().bytes, pidBase + 0x11);
    programs.push_back({options.pids.programNumber, options.pids.pmt});
  }
  return interleave({&services[0], &services[1], &services[2]}, programs, 7);
}

}  // namespace

std::vector<FuzzSeed> smallFuzzSeeds() {
  std::vector<FuzzSeed> seeds;
  RecordingOptions options = small();
  seeds.push_back(seed("sample", 4, makeRecording(options).bytes));
  options.pcrOnVideoPid = true;
  seeds.push_back(seed("pcr-on-video", 4, makeRecording(options).bytes));

  options = small();
  options.pmtChangeAt = 45000;
  options.audioPidsAfterChange = {kAudio1Pid, 0x0114};
  seeds.push_back(seed("pmt-change", 6, makeRecording(options).bytes));
  options.audioPidsAfterChange = {};
  seeds.push_back(seed("pmt-loses-audio", 6, makeRecording(options).bytes));

  Bytes bytes = makeRecording(small()).bytes;
  seeds.push_back(seed("truncated", 5, Bytes(bytes.begin(), bytes.begin() + 188 * 40 + 77)));

  Bytes audioFirst;
  appendPayload(audioFirst, kAudio1Pid);
  audioFirst.insert(audioFirst.end(), bytes.begin(), bytes.end());
  seeds.push_back(seed("nogop", 1, audioFirst));
  seeds.push_back(seed("not-at-gop", 0, audioFirst));

  Bytes adaptation = bytes;  // PES headers behind long adaptation fields
  for (std::size_t at = 0; at + 188 <= adaptation.size(); at += 188 * 7) {
    adaptation[at + 3] = static_cast<std::uint8_t>(adaptation[at + 3] | 0x20);
    adaptation[at + 4] = static_cast<std::uint8_t>(160 + at % 96);
  }
  seeds.push_back(seed("long-adaptation", 7, adaptation));

  // Reception damage: errored packets, a burst among them, and PCRs flagged in adaptation fields
  // too short for them.
  Bytes errored = bytes;
  markErrored(errored, 12, 1, 1);
  markErrored(errored, 40, 6, 2);
  seeds.push_back(seed("errored", 6, errored));
  Bytes shortAdaptation = bytes;
  int shortened = 0;
  for (std::size_t packet = 20; packet * 188 < bytes.size(); ++packet) {  // past the survey's PCRs
    const std::uint8_t* p = &bytes[packet * 188];
    if (((p[1] & 0x1F) << 8 | p[2]) == kPcrPid) {
      shortenAdaptationField(shortAdaptation, static_cast<std::int64_t>(packet),
                             1 + shortened++ % 6);
    }
  }
  seeds.push_back(seed("short-adaptation", 4, shortAdaptation));

  // H.264 without B-frames, which begins at an IDR picture, and HEVC with B-frames.
  options = small();
  options.videoStreamType = 0x1B;
  options.bFrames = false;
  seeds.push_back(seed("h264", 6, makeRecording(options).bytes));
  options.videoStreamType = 0x24;
  options.bFrames = true;
  seeds.push_back(seed("hevc", 4, makeRecording(options).bytes));

  // Every service of a multiplex, with an errored PAT.
  Bytes multiplex = multiplexOf(small());
  markErrored(multiplex, 0, 1, 3);
  seeds.push_back(seed("multiplex", 22, multiplex));

  // Clean joints, with jumps inside GOPs and the PCR and the audio ahead of the pictures.
  options = small();
  options.jumpsMidGop = true;
  options.audioLead = 60000;
  options.videoLast = true;
  seeds.push_back(seed("clean-joints", 36, makeRecording(options).bytes));
  return seeds;
}

std::vector<FuzzSeed> largeFuzzSeeds() {
  std::vector<FuzzSeed> seeds;
  seeds.push_back(seed("blocks-sample", 4, makeRecording(large(80)).bytes));

  // The PMT loses its audio at 55 s, in the third block: the destination keeps two blocks.
  RecordingOptions options = large(82);
  options.pmtChangeAt = 55 * 90000;
  seeds.push_back(seed("blocks-pmt-stop", 6, makeRecording(options).bytes));
  // The same into a destination that cannot be cut back, as H.264.
  options.videoStreamType = 0x1B;
  seeds.push_back(seed("blocks-h264-stop-uncuttable", 10, makeRecording(options).bytes));

  // Damage on each block edge, an audio PID that the PMT adds, and a source cut inside a packet,
  // into a destination that cannot be cut back.
  options = large(78);
  options.pmtChangeAt = 40 * 90000;
  options.audioPidsAfterChange = {kAudio1Pid, kAudio2Pid, 0x0114};
  Bytes damaged = makeRecording(options).bytes;
  for (std::int64_t edge = kBlockPackets;
       (edge + 2) * 188 < static_cast<std::int64_t>(damaged.size()); edge += kBlockPackets) {
    markErrored(damaged, edge - 1, 2, static_cast<std::uint32_t>(edge));
  }
  damaged.resize(damaged.size() - 100);
  seeds.push_back(seed("blocks-damaged-uncuttable", 14, damaged));

  // Three services over three blocks, with the sample's wrap and joints.
  seeds.push_back(seed("blocks-multiplex", 22, multiplexOf(large(26))));
  // The same with clean joints into a destination that cannot be cut back.
  seeds.push_back(seed("blocks-multiplex-clean-uncuttable", 62, multiplexOf(large(26))));
  return seeds;
}

}  // namespace corvane::streamgen
