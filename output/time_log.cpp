#include "output/time_log.h"

#include <cstdarg>
#include <cstdlib>

#include "output/text_stream.h"

namespace corvane {

namespace {

void writeLog(TimeLog& log, const char* format, ...) CORVANE_PRINTF(2, 3);
void writeLog(TimeLog& log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printText(log.stream, log.error, format, args);
  va_end(args);
}

long long ll(std::int64_t value) { return static_cast<long long>(value); }
unsigned pid(std::int64_t value) { return static_cast<unsigned>(value); }

// A line of a service of a whole transport stream begins with its program number: "[ 1024] ".
void logProgram(TimeLog& log, int program) {
  if (log.programs && program != 0) writeLog(log, "[%5d] ", program);
}

// "*** Change PCRPID     : 01ff -> 0100", and for audio and captions also "*** Add    AUDIOPID
// : ---- -> 0112" and "*** Delete CAPTIONPID  : 0130 -> ----". A PCR or video PID is always
// changed, to or from 0000 when a list is empty.
void logPidChange(TimeLog& log, const Event& event, int program) {
  logProgram(log, program);
  const char* name = roleNames(event.role).logPid;
  bool paired = event.role == StreamRole::audio || event.role == StreamRole::caption;
  if (paired && event.previous == 0) {
    writeLog(log, "*** Add    %s: ---- -> %04x\r\n", name, pid(event.value));
  } else if (paired && event.value == 0) {
    writeLog(log, "*** Delete %s: %04x -> ----\r\n", name, pid(event.previous));
  } else {
    writeLog(log, "*** Change %s: %04x -> %04x\r\n", name, pid(event.previous), pid(event.value));
  }
}

}  // namespace

void logEvent(TimeLog& log, const Event& event) {
  if (log.stream == nullptr) return;
  int program = event.program;
  switch (event.kind) {
    case EventKind::pcrRebased:
      logProgram(log, program);
      writeLog(log, "PCR   : %13lld, %13lld, %13lld, %13lld\r\n", ll(event.source),
               ll(event.source / 300), ll(event.ptsOffset), ll(event.value / 300));
      return;
    case EventKind::pesRebased: {
      const char* tag = roleNames(event.role).logPes;
      logProgram(log, program);
      writeLog(log, "%s :                %13lld, %13lld, %13lld\r\n", tag, ll(event.source),
               ll(event.ptsOffset), ll(event.value));
      return;
    }
    case EventKind::jumpTestPes:
      logProgram(log, program);
      // The step column is the distance to the last PES in the test, and the new value the plain
      // difference, before any fallback.
      writeLog(log, "V-GOP :                %13lld, %13lld, %13lld, %13lld, %13lld\r\n",
               ll(event.source), ll(event.ptsOffset), ll(event.source - event.ptsOffset),
               ll(event.previous), ll(std::llabs(event.source - event.previous)));
      return;
    case EventKind::joint:
      logProgram(log, program);
      writeLog(log, "********* Joint GOP *********\r\n");
      logProgram(log, program);
      writeLog(log, "GOPPTS: %13lld, %13lld\r\n", ll(event.prevPtsOffset), ll(event.ptsOffset));
      return;
    case EventKind::wrap:
      logProgram(log, program);
      writeLog(log, "********* wrap around GOP *********\r\n");
      return;
    case EventKind::pidChanged:
      logPidChange(log, event, program);
      return;
    default:
      return;  // progress and damage have no lines
  }
}

bool openTimeLog(TimeLog& log, const platform::Path& path, const platform::Path& sourcePath,
                 platform::FileHandle openSource) {
  log = TimeLog{};
  platform::FileHandle file = platform::openForWriting(path);
  if (file == platform::kNoFile) return false;
  bool isSource = openSource != platform::kNoFile ? platform::isSameOpenFile(file, openSource)
                                                  : platform::isSameFile(file, sourcePath);
  if (isSource || !platform::emptyFile(file)) {
    platform::closeFile(file);
    return false;
  }
  log.stream = platform::streamOver(file);
  if (log.stream == nullptr) return false;
  log.file = file;
  return true;
}

IoStatus closeTimeLog(TimeLog& log) {
  if (log.stream == nullptr) return IoStatus{};
  IoStatus status = closeText(log.stream, log.error);
  log = TimeLog{};
  return status;
}

}  // namespace corvane
