#include "output/console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/platform.h"

namespace corvane {

namespace {

struct ConsoleText {
  const char* held;  // the code page 932 bytes
  std::string converted;
  bool isConverted;
};

bool isAscii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

// A text or printf format in the console's character set. Each is converted once, on its first
// print, and kept; the arguments a format takes, file names among them, go out as they are.
// ASCII is the same in every set the console can have.
const char* forConsole(const char* text) {
  if (isAscii(text)) return text;
  static std::deque<ConsoleText> texts;  // a deque keeps each entry in place as it grows
  for (const ConsoleText& known : texts) {
    if (known.held == text) return known.isConverted ? known.converted.c_str() : text;
  }
  ConsoleText& added = texts.emplace_back(ConsoleText{text, {}, false});
  // A set that spells characters with ASCII bytes (a 7-bit one) could add a '%' to a format,
  // which would then read arguments that were never passed: such a text keeps its bytes.
  added.isConverted = platform::convertConsoleText(text, added.converted) &&
                      std::count(added.converted.begin(), added.converted.end(), '%') ==
                          std::count(text, text + std::strlen(text), '%');
  return added.isConverted ? added.converted.c_str() : text;
}

bool outputTextsToStandardError = false;

std::FILE* outputTexts() { return outputTextsToStandardError ? stderr : stdout; }

// The format the compiler checked at the caller, in the console's character set: the same
// conversions in the same order, which the compiler cannot see through.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void printTo(std::FILE* stream, const char* format, va_list args) CORVANE_PRINTF(2, 0);
void printTo(std::FILE* stream, const char* format, va_list args) {
  std::vfprintf(stream, forConsole(format), args);
  std::fflush(stream);
}
#pragma GCC diagnostic pop

}  // namespace

void sendOutputTextsToStandardError(bool on) { outputTextsToStandardError = on; }

void writeOut(const char* text) {
  std::fputs(forConsole(text), outputTexts());
  std::fflush(outputTexts());
}

void writeErr(const char* text) {
  std::fputs(forConsole(text), stderr);
  std::fflush(stderr);
}

void printOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printTo(outputTexts(), format, args);
  va_end(args);
}

void printErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  printTo(stderr, format, args);
  va_end(args);
}

}  // namespace corvane
