// A file of the run's outputs besides the time log (the report, the drop log, the picture): it is
// written under a temporary name and renamed at the end, so that a run that fails or is stopped
// leaves no half-written file under its name.
#pragma once

#include <cstdio>
#include <initializer_list>

#include "output/console.h"
#include "platform/platform.h"

namespace corvane {

struct OutputFile {
  std::FILE* stream = nullptr;  // null while none is written
  platform::Path path;          // its own name
  platform::Path temporary;     // the name it is written under
  int error = 0;                // the system's code of the first write that failed
};

// Opens the file under its temporary name, `path` with ".tmp". A name that is one of `taken` (in
// any case), or that leads to the open `source` or `timeLog` (kNoFile for none), would lose a
// file of the run when it is renamed over it: it fails with code 0, as does a temporary file that
// is not empty.
IoStatus openOutputFile(OutputFile& output, const platform::Path& path,
                        std::initializer_list<platform::Path> taken, platform::FileHandle source,
                        platform::FileHandle timeLog);

// True when either of the file's names leads to the open `file`.
bool outputLeadsTo(const OutputFile& output, platform::FileHandle file);

// Prints into the open file; a write that fails is remembered in `error`.
void printTo(OutputFile& output, const char* format, ...) CORVANE_PRINTF(2, 3);

// Closes the file and gives it its name; on failure the temporary file goes. Nothing for a file
// that is not open.
IoStatus finishOutputFile(OutputFile& output);

// Closes and removes a file that is not to be finished.
void abandonOutputFile(OutputFile& output);

}  // namespace corvane
