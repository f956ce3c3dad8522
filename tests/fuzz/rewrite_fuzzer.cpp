// libFuzzer target: arbitrary bytes as a source recording, through the survey and the rewrite
// pass exactly as the tool runs them. The first byte chooses the settings (bit 0 nogop, bit 1
// pmtcheck, bit 2 log); the rest is the recording. The source and the destination are in-memory
// files, so no input reaches the paths that end the process on I/O errors.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rewrite/rebase.h"
#include "rewrite/rewrite_pass.h"
#include "stream/packet.h"
#include "stream/run_settings.h"
#include "stream/survey.h"

namespace {

using namespace corvane;

std::uint8_t* buffer() {
  static auto* block = static_cast<std::uint8_t*>(std::malloc(kBlockSize));
  return block;
}

std::int32_t* counters() {
  static auto* table = static_cast<std::int32_t*>(std::malloc(kPidCount * sizeof(std::int32_t)));
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  settings.nogop = data[0] & 1;
  settings.pmtcheck = data[0] & 2;
  settings.log = data[0] & 4;
  static std::FILE* nowhere = std::fopen("/dev/null", "wb");
  timeLog.stream = settings.log ? nowhere : nullptr;
  resetCaptionBase();

  int source = ::memfd_create("source.ts", 0);
  int destination = ::memfd_create("destination.ts", 0);
  if (source < 0 || destination < 0) std::abort();
  for (std::size_t done = 1; done < size;) {
    ssize_t put = ::write(source, data + done, size - done);
    if (put <= 0) std::abort();
    done += static_cast<std::size_t>(put);
  }
  ::lseek(source, 0, SEEK_SET);

  StreamContext context;
  context.buffer = buffer();
  context.ccTable = counters();
  std::int32_t firstBlockBytes = 0;
  if (surveyStream(context, source, &firstBlockBytes)) {
    context.gopFlag = false;
    rewriteFile("/proc/self/fd/" + std::to_string(destination), source, context, firstBlockBytes);
  }
  freePidLists(context);
  ::close(source);
  ::close(destination);
  return 0;
}
