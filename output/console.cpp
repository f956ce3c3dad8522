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

// A text or printf format in another character set, by `convert`. Each is converted once, on its
// first print, and kept in `texts`; the arguments a format takes, file names among them, go out
// as they are. ASCII is the same in every set the console can have.
const char* convertedText(std::deque<ConsoleText>& texts,
                          bool (*convert)(const char* text, std::string& converted),
                          const char* text) {
  if (isAscii(text)) return text;
  for (const ConsoleText& known : texts) {
    if (known.held == text) return known.isConverted ? known.converted.c_str() : text;
  }
  ConsoleText& added = texts.emplace_back(ConsoleText{text, {}, false});
  // A set that spells characters with ASCII bytes (a 7-bit one) could add a '%' to a format,
  // which would then read arguments that were never passed: such a text keeps its bytes.
  added.isConverted = convert(text, added.converted) &&
                      std::count(added.converted.begin(), added.converted.end(), '%') ==
                          std::count(text, text + std::strlen(text), '%');
  return added.isConverted ? added.converted.c_str() : text;
}

// A deque keeps each entry in place as it grows.
const char* forConsole(const char* text) {
  static std::deque<ConsoleText> texts;
  return convertedText(texts, platform::convertConsoleText, text);
}

const char* inUtf8(const char* text) {
  static std::deque<ConsoleText> texts;
  return convertedText(texts, platform::codePage932ToUtf8, text);
}

// The error texts kept for the run's report, in UTF-8, up to a bound: a run prints a few.
constexpr std::size_t kMaxKeptText = 4096;
bool keepingErrorTexts = false;
std::string keptErrorTexts;

void keep(const char* text) {
  std::size_t room = kMaxKeptText - std::min(kMaxKeptText, keptErrorTexts.size());
  keptErrorTexts.append(text, std::min(room, std::strlen(text)));
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
// The same, in UTF-8 into `text`.
void formatUtf8(char* text, std::size_t size, const char* format, va_list args)
    CORVANE_PRINTF(3, 0);
void formatUtf8(char* text, std::size_t size, const char* format, va_list args) {
  if (std::vsnprintf(text, size, inUtf8(format), args) < 0) text[0] = '\0';
}
#pragma GCC diagnostic pop

}  // namespace

void sendOutputTextsToStandardError(bool on) { outputTextsToStandardError = on; }

void keepErrorTexts(bool on) {
  keepingErrorTexts = on;
  keptErrorTexts.clear();
}

const std::string& errorTextsInUtf8() { return keptErrorTexts; }

void writeOut(const char* text) {
  std::fputs(forConsole(text), outputTexts());
  std::fflush(outputTexts());
}

void writeErr(const char* text) {
  std::fputs(forConsole(text), stderr);
  std::fflush(stderr);
  if (keepingErrorTexts) keep(inUtf8(text));
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
  if (keepingErrorTexts) {
    va_list again;
    va_copy(again, args);
    char text[1024];
    formatUtf8(text, sizeof text, format, again);
    va_end(again);
    keep(text);
  }
  printTo(stderr, format, args);
  va_end(args);
}

}  // namespace corvane
