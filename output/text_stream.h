// A text file written through a C stream, as the time log and the report are: a write that
// fails is remembered, not reported, so that the run goes on, and the close tells whether every
// line reached the file.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "output/console.h"
#include "platform/platform.h"

namespace corvane {

// Prints into the stream; `error` receives the system's code of the first write that failed.
void printText(std::FILE* stream, int& error, const char* format, va_list args)
    CORVANE_PRINTF(3, 0);

// Flushes and closes the stream. Failed when a write before (`error`), the flush or the close
// failed, with the code of the first of them.
IoStatus closeText(std::FILE* stream, int error);

}  // namespace corvane
