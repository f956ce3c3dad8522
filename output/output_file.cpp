#include "output/output_file.h"

#include <cstdarg>

#include "output/text_stream.h"

namespace corvane {

bool outputLeadsTo(const OutputFile& output, platform::FileHandle file) {
  return file != platform::kNoFile && !output.path.empty() &&
         (platform::isSameFile(file, output.path) || platform::isSameFile(file, output.temporary));
}

IoStatus openOutputFile(OutputFile& output, const platform::Path& path,
                        std::initializer_list<platform::Path> taken, platform::FileHandle source,
                        platform::FileHandle timeLog) {
  output.path = path;
  output.temporary = path + CORVANE_PATH(".tmp");
  for (const platform::Path& name : {output.path, output.temporary}) {
    for (const platform::Path& other : taken) {
      if (!other.empty() && platform::equalsIgnoreCase(name, other)) return IoStatus{true, 0};
    }
  }
  if (outputLeadsTo(output, source) || outputLeadsTo(output, timeLog)) return IoStatus{true, 0};
  platform::FileHandle file = platform::openForWriting(output.temporary);
  if (file == platform::kNoFile) return IoStatus{true, platform::lastErrorCode()};
  if (outputLeadsTo(output, source) || outputLeadsTo(output, timeLog) ||
      !platform::emptyFile(file)) {
    platform::closeFile(file);
    return IoStatus{true, 0};
  }
  output.stream = platform::streamOver(file);
  if (output.stream == nullptr) return IoStatus{true, platform::lastErrorCode()};
  return IoStatus{};
}

void printTo(OutputFile& output, const char* format, ...) {
  va_list args;
  va_start(args, format);
  printText(output.stream, output.error, format, args);
  va_end(args);
}

IoStatus finishOutputFile(OutputFile& output) {
  if (output.stream == nullptr) return IoStatus{};
  IoStatus status = closeText(output.stream, output.error);
  output.stream = nullptr;
  if (!status.failed && !platform::renameFile(output.temporary, output.path)) {
    status = IoStatus{true, platform::lastErrorCode()};
  }
  if (status.failed) platform::removeFile(output.temporary);
  return status;
}

void abandonOutputFile(OutputFile& output) {
  if (output.stream == nullptr) return;
  std::fclose(output.stream);
  output.stream = nullptr;
  platform::removeFile(output.temporary);
}

}  // namespace corvane
