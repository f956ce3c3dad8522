#include "stream/time_log.h"

#include <cstdarg>

namespace corvane {

void writeLog(TimeLog& log, const char* format, ...) {
  if (log.stream == nullptr) return;
  va_list args;
  va_start(args, format);
  int written = std::vfprintf(log.stream, format, args);
  va_end(args);
  if (written < 0 && log.error == 0) log.error = platform::lastStreamErrorCode();
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

bool closeTimeLog(TimeLog& log, int* code) {
  if (log.stream == nullptr) return true;
  bool failed = log.error != 0;
  *code = log.error;
  auto check = [&](bool fine) {
    if (fine) return;
    if (!failed) *code = platform::lastStreamErrorCode();
    failed = true;
  };
  check(std::fflush(log.stream) == 0);
  check(!std::ferror(log.stream));
  check(std::fclose(log.stream) == 0);
  log = TimeLog{};
  return !failed;
}

}  // namespace corvane
