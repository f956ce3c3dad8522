// The program: settings, command line, buffers, survey, rewrite pass, exit status.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace corvane {

// Runs the tool on the argument vector (argument 0 is the program's name) and returns the exit
// status: 1 after a complete run and after fatal file errors, 0 after the usage text and every
// refusal or early stop.
int runCorvane(const std::vector<platform::Path>& arguments);

// Opens the source; on failure prints the open error with the system's code and ends the
// process with status 1.
platform::FileHandle openSource(const platform::Path& path);

}  // namespace corvane
