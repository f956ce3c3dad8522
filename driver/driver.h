// The program: settings, command line, buffers, survey, rewrite pass, exit status.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace corvane {

// Where the settings file is kept: beside the executable (a portable program, and every Windows
// build), or in the user's configuration folder (a program installed where users cannot write).
enum class SettingsPlace { besideExecutable, userFolder };

// Runs the tool on the argument vector (argument 0 is the program's name) and returns the exit
// status: 1 after a complete run and after fatal file errors, 0 after the usage text and every
// refusal or early stop.
int runCorvane(const std::vector<platform::Path>& arguments,
               SettingsPlace settingsPlace = SettingsPlace::besideExecutable);

// Opens the source; on failure prints the open error with the system's code and ends the
// process with status 1.
platform::FileHandle openSource(const platform::Path& path);

}  // namespace corvane
