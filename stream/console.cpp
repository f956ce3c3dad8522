#include "stream/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace corvane {

void writeOut(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void writeErr(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void printOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

void printErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fflush(stderr);
}

void fatalIoError(const char* format, int code) {
  printErr(format, code);
  std::exit(1);
}

}  // namespace corvane
