// Writes the fuzz target's seed corpus: small valid and almost valid recordings, each behind
// the settings byte (bit 0 nogop, bit 1 pmtcheck, bit 2 log).
//   make_fuzz_seeds tests/fuzz/corpus
#include <cstdio>
#include <string>

#include "tools/stream_generator.h"

namespace {

using namespace corvane::streamgen;

void write(const std::string& folder, const std::string& name, int settings, Bytes bytes) {
  bytes.insert(bytes.begin(), static_cast<std::uint8_t>(settings));
  std::FILE* file = std::fopen((folder + "/" + name).c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

RecordingOptions small() {
  RecordingOptions options;
  options.durationTicks = 90000;  // one second
  options.videoPacketsPerFrame = 1;
  options.sourceStart = kPtsModulus - 30000;  // the clock wraps after a third of a second
  options.jumps = {{45000, 600 * 90000}};     // and jumps at the GOP after half a second
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string folder = argv[1];
  RecordingOptions options = small();
  write(folder, "sample", 4, makeRecording(options).bytes);
  options.pcrOnVideoPid = true;
  write(folder, "pcr-on-video", 4, makeRecording(options).bytes);

  options = small();
  options.pmtChangeAt = 45000;
  options.audioPidsAfterChange = {kAudio1Pid, 0x0114};
  write(folder, "pmt-change", 6, makeRecording(options).bytes);
  options.audioPidsAfterChange = {};
  write(folder, "pmt-loses-audio", 6, makeRecording(options).bytes);

  Bytes bytes = makeRecording(small()).bytes;
  write(folder, "truncated", 5, Bytes(bytes.begin(), bytes.begin() + 188 * 40 + 77));

  Bytes audioFirst;
  appendPayload(audioFirst, kAudio1Pid);
  audioFirst.insert(audioFirst.end(), bytes.begin(), bytes.end());
  write(folder, "nogop", 1, audioFirst);
  write(folder, "not-at-gop", 0, audioFirst);

  Bytes adaptation = bytes;  // PES headers behind long adaptation fields
  for (std::size_t at = 0; at + 188 <= adaptation.size(); at += 188 * 7) {
    adaptation[at + 3] = static_cast<std::uint8_t>(adaptation[at + 3] | 0x20);
    adaptation[at + 4] = static_cast<std::uint8_t>(160 + at % 96);
  }
  write(folder, "long-adaptation", 7, adaptation);

  // Reception damage: errored packets, a burst among them, and PCRs flagged in adaptation fields
  // too short for them.
  Bytes errored = bytes;
  markErrored(errored, 12, 1, 1);
  markErrored(errored, 40, 6, 2);
  write(folder, "errored", 6, errored);
  Bytes shortAdaptation = bytes;
  int shortened = 0;
  for (std::size_t packet = 20; packet * 188 < bytes.size(); ++packet) {  // past the survey's PCRs
    const std::uint8_t* p = &bytes[packet * 188];
    if (((p[1] & 0x1F) << 8 | p[2]) == kPcrPid) {
      shortenAdaptationField(shortAdaptation, static_cast<std::int64_t>(packet),
                             1 + shortened++ % 6);
    }
  }
  write(folder, "short-adaptation", 4, shortAdaptation);

  // H.264 without B-frames, which begins at an IDR picture, and HEVC with B-frames.
  options = small();
  options.videoStreamType = 0x1B;
  options.bFrames = false;
  write(folder, "h264", 6, makeRecording(options).bytes);
  options.videoStreamType = 0x24;
  options.bFrames = true;
  write(folder, "hevc", 4, makeRecording(options).bytes);
  return 0;
}
