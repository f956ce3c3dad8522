// The time log: a binary text file of CR LF lines that records every timestamp the pass rewrote
// and every PID change, written from the rules' events. The driver opens and closes it.
#pragma once

#include <cstdio>

#include "platform/platform.h"
#include "service/events.h"

namespace corvane {

struct TimeLog {
  std::FILE* stream = nullptr;                    // null while no log is written
  platform::FileHandle file = platform::kNoFile;  // the file under the stream
  int error = 0;  // the system's code of the first write that failed, 0 while none has
  // Each line begins with the program number of its service: the services of a whole transport
  // stream share the log.
  bool programs = false;
};

// Writes the lines of one event; nothing while the log is not open. A write that fails is
// remembered, not reported: the run goes on and the driver reports it at the end.
void logEvent(TimeLog& log, const Event& event);

// Opens the time log at `path` without cutting it, and cuts it only when it is not the source,
// so that a log name which leads to the source (a link) cannot empty it. The source is the file
// `sourcePath` names, or `openSource` when it is open already (standard input). False when the
// log cannot be opened or is the source; nothing is open then.
bool openTimeLog(TimeLog& log, const platform::Path& path, const platform::Path& sourcePath,
                 platform::FileHandle openSource = platform::kNoFile);

// Closes the log when it is open. Failed when a line did not reach the file: a write or the
// close failed, with the system's code of the first failure.
IoStatus closeTimeLog(TimeLog& log);

}  // namespace corvane
