// Console output. Every print is followed by a flush of its stream, so that progress and
// messages appear in order when both streams go to one console or one file.
#pragma once

namespace corvane {

// Plain text, no format.
void writeOut(const char* text);
void writeErr(const char* text);

// printf formats.
void printOut(const char* format, ...);
void printErr(const char* format, ...);

// Ends the process after an input/output error: prints `format` with the system's error code on
// the standard error stream and exits with status 1, leaving open files to the system. This is
// the one place where the tool's stream code ends the process.
[[noreturn]] void fatalIoError(const char* format, int code);

}  // namespace corvane
