#include "tests/fuzz/fuzz_run.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "driver/driver.h"
#include "output/outputs.h"
#include "pass/rewrite_pass.h"
#include "service/multiplex.h"
#include "service/survey.h"
#include "ts/continuity.h"

namespace corvane::fuzzing {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Which bits of a packet's bytes the pass may change: the counter nibble of byte 3, the PCR where
// an adaptation field with room for one flags it, and the PTS and DTS value bits of a PES header
// that starts in the packet with its fields inside it. An errored packet may change its counter
// alone. Worked out from the recording's own bytes, the way the fields are laid down in ISO/IEC
// 13818-1, whichever PID the packet is on.
void changeableBits(const std::uint8_t* p, std::uint8_t* mask) {
  static const std::uint8_t kTimestampBits[5] = {0x0E, 0xFF, 0xFE, 0xFF, 0xFE};
  std::fill(mask, mask + 188, 0);
  mask[3] = 0x0F;
  if (p[1] & 0x80) return;
  bool adaptation = p[3] & 0x20;
  if (adaptation && p[4] >= 7 && (p[5] & 0x10)) {
    for (int i = 6; i <= 11; ++i) mask[i] = 0xFF;
  }
  int o = adaptation ? p[4] + 1 : 0;
  // The payload of a scrambled packet is never touched.
  bool start = (p[1] & 0x40) && (p[3] & 0x10) && !(p[3] & 0xC0) && 11 + o < 188 && p[4 + o] == 0 &&
               p[5 + o] == 0 && p[6 + o] == 1 && (p[10 + o] & 0xC0) == 0x80;
  if (start && (p[11 + o] & 0x80) && 17 + o < 188) {
    for (int i = 0; i < 5; ++i) mask[13 + o + i] |= kTimestampBits[i];
    if ((p[11 + o] & 0x40) && 22 + o < 188) {
      for (int i = 0; i < 5; ++i) mask[18 + o + i] |= kTimestampBits[i];
    }
  }
}

// Only bytes of packets change: a changed bit must be one that a whole packet beginning with the
// sync byte at most 187 bytes before it may change, wherever the packets lie.
std::string checkOutput(const Bytes& recording, const Bytes& output, bool complete) {
  if (complete && output.size() != recording.size()) {
    return "the destination has " + std::to_string(output.size()) + " bytes, the recording " +
           std::to_string(recording.size());
  }
  if (!complete && (output.size() % kBlockSize != 0 || output.size() > recording.size())) {
    return "a stopped pass left " + std::to_string(output.size()) + " bytes, not whole blocks";
  }
  std::uint8_t mask[188];
  for (std::size_t at = 0; at < output.size(); ++at) {
    std::uint8_t changed = output[at] ^ recording[at];
    if (changed == 0) continue;
    bool allowed = false;
    for (std::size_t start = at >= 187 ? at - 187 : 0; start <= at && !allowed; ++start) {
      if (recording[start] != 0x47 || start + 188 > recording.size()) continue;
      changeableBits(recording.data() + start, mask);
      allowed = (changed & ~mask[at - start]) == 0;
    }
    if (!allowed) return "byte " + std::to_string(at) + " changed outside the rewritten fields";
  }
  return "";
}

// The source and destination files: in memory on Linux, so that the fuzzer stays fast, and in
// the temporary folder elsewhere.
#ifdef _WIN32
struct Files {
  std::filesystem::path source = std::filesystem::temp_directory_path() / "corvane-fuzz-source.ts";
  std::filesystem::path destination =
      std::filesystem::temp_directory_path() / "corvane-fuzz-destination.ts";
  platform::FileHandle sourceFile = platform::kNoFile;

  explicit Files(const Bytes& recording) {
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(recording.data()),
               static_cast<std::streamsize>(recording.size()));
    std::filesystem::remove(destination);
    sourceFile = platform::openSourceFile(source.native());
    if (sourceFile == platform::kNoFile) std::abort();
  }
  ~Files() {
    platform::closeFile(sourceFile);
    std::filesystem::remove(source);
    std::filesystem::remove(destination);
  }
  platform::Path destinationPath() const { return destination.native(); }
  Bytes written() const {
    std::ifstream in(destination, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};
#else
struct Files {
  int sourceFile = ::memfd_create("source.ts", 0);
  int destination = ::memfd_create("destination.ts", 0);

  explicit Files(const Bytes& recording) {
    if (sourceFile < 0 || destination < 0) std::abort();
    for (std::size_t done = 0; done < recording.size();) {
      ssize_t put = ::write(sourceFile, recording.data() + done, recording.size() - done);
      if (put <= 0) std::abort();
      done += static_cast<std::size_t>(put);
    }
    ::lseek(sourceFile, 0, SEEK_SET);
  }
  ~Files() {
    ::close(sourceFile);
    ::close(destination);
  }
  platform::Path destinationPath() const { return "/proc/self/fd/" + std::to_string(destination); }
  Bytes written() const {
    Bytes bytes(static_cast<std::size_t>(::lseek(destination, 0, SEEK_END)));
    if (!bytes.empty() && ::pread(destination, bytes.data(), bytes.size(), 0) < 0) std::abort();
    return bytes;
  }
};
#endif

std::uint8_t* packetBuffer() {
  static auto* block =
      static_cast<std::uint8_t*>(platform::allocatePageAligned(bufferSizeFor(kCleanRingSize)));
  return block;
}

}  // namespace

std::string runInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return "";
  Bytes recording(data + 1, data + size);
  Files files(recording);

  bool nogop = data[0] & 1;
  bool pmtcheck = data[0] & 2;
  bool log = data[0] & 4;
  bool uncuttable = data[0] & 8;
  bool allServices = data[0] & 16;
  bool clean = data[0] & 32;
#ifdef _WIN32
  static std::FILE* nowhere = std::fopen("NUL", "wb");
#else
  static std::FILE* nowhere = std::fopen("/dev/null", "wb");
#endif
  RunOutputs outputs;
  if (log) outputs.timeLog.stream = nowhere;
  outputs.progress.fileSize = static_cast<std::int64_t>(recording.size());

  PassBuffer buffer{packetBuffer(), clean ? kCleanRingSize : kRingSize};
  SourceReader source{files.sourceFile};
  Service service;
  Multiplex multiplex;
  std::string broken;
  Framing framing;
  auto survey = [&] {
    auto blockBytes = static_cast<std::int32_t>(buffer.read);
    if (!detectFraming(buffer.bytes, buffer.read, buffer.read < kBlockSize, &framing)) {
      return Refusal::noSecondPcr;
    }
    return allServices ? surveyMultiplex(multiplex, framing, buffer.bytes, blockBytes)
                       : surveyStream(service, nogop, framing, buffer.bytes, blockBytes);
  };
  if (!readFirstBlock(source, buffer).failed && survey() == Refusal::none) {
    Destination output;
    if (openDestination(output, files.destinationPath(), files.sourceFile, platform::kNoFile)
            .failed) {
      std::abort();
    }
    // A pipe or a device is written in whole blocks only.
    if (uncuttable) output.cuttable = false;
    CountersPointer counters = makeContinuityCounters();
    EventSink events = sinkTo(outputs);
    if (allServices) {
      multiplex.followPmts = pmtcheck;
    } else {
      adoptService(multiplex, service, pmtcheck);
    }
    multiplex.cleanJoints = clean;
    outputs.timeLog.programs = allServices;
    PacketRules rules{multiplex, *counters, events, PacketWalker{framing}, ReadAhead{}};
    startProgress(outputs.progress);
    PassOutcome outcome = settleDestination(
        output, buffer, rewriteFile(rules, source, buffer, output, passScheduleFor(buffer)));
    broken = checkOutput(recording, files.written(), outcome.end == PassEnd::complete);
  }
  return broken;
}

}  // namespace corvane::fuzzing
