#include "stream/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace corvane {

namespace {

void printTo(std::FILE* stream, const char* format, va_list args) CORVANE_PRINTF(2, 0);
void printTo(std::FILE* stream, const char* format, va_list args) {
  std::vfprintf(stream, format, args);
  std::fflush(stream);
}

}  // namespace

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
  printTo(stdout, format, args);
  va_end(args);
}

void printErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printTo(stderr, format, args);
  va_end(args);
}

void fatalIoError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printTo(stderr, format, args);
  va_end(args);
  std::exit(1);
}

}  // namespace corvane
