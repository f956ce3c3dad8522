#include "output/text_stream.h"

namespace corvane {

void printText(std::FILE* stream, int& error, const char* format, va_list args) {
  if (std::vfprintf(stream, format, args) < 0 && error == 0) {
    error = platform::lastStreamErrorCode();
  }
}

IoStatus closeText(std::FILE* stream, int error) {
  IoStatus status{error != 0, error};
  auto check = [&status](bool fine) {
    if (fine || status.failed) return;
    status = IoStatus{true, platform::lastStreamErrorCode()};
  };
  check(std::fflush(stream) == 0);
  check(!std::ferror(stream));
  check(std::fclose(stream) == 0);
  return status;
}

}  // namespace corvane
