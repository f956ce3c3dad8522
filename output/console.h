// Console output. Texts and formats, held as code page 932 bytes, go out in the console's
// character set (see platform::convertConsoleText); what a format prints into them goes out as
// it is. Every print is followed by a flush of its stream, so that progress and messages appear
// in order when both streams go to one console or one file.
#pragma once

#include <cstdio>  // on MinGW, also the name of its printf format family
#include <string>

namespace corvane {

// Marks a printf-style function, so that the compiler checks each format against its arguments.
// MinGW's runtime prints through its own printf, whose format family the toolchain names.
#if defined(__MINGW32__)
#define CORVANE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define CORVANE_PRINTF(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define CORVANE_PRINTF(formatIndex, firstArgument)
#endif

// While on, the texts meant for standard output go to standard error instead, in the same order:
// standard output then carries the recording and nothing else.
void sendOutputTextsToStandardError(bool on);

// While on, every text that goes to standard error is also kept, in UTF-8 and up to a few KiB,
// for the run's report. Turning it on forgets what was kept.
void keepErrorTexts(bool on);
const std::string& errorTextsInUtf8();

// Plain text, no format.
void writeOut(const char* text);
void writeErr(const char* text);

// printf formats.
void printOut(const char* format, ...) CORVANE_PRINTF(1, 2);
void printErr(const char* format, ...) CORVANE_PRINTF(1, 2);

}  // namespace corvane
