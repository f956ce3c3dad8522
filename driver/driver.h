// The program: settings, command line, buffers, survey, rewrite pass, exit status.
#pragma once

#include <vector>

#include "platform/platform.h"
#include "rewrite/rewrite_pass.h"

namespace corvane {

// Where the settings file is kept: beside the executable (a portable program, and every Windows
// build), or in the user's configuration folder (a program installed where users cannot write).
enum class SettingsPlace { besideExecutable, userFolder };

// Runs the tool on the argument vector (argument 0 is the program's name) and returns the exit
// status: 1 after a complete run and after a failed open, read, write, cut or close; 0 after the
// usage text and every refusal or early stop.
int runCorvane(const std::vector<platform::Path>& arguments,
               SettingsPlace settingsPlace = SettingsPlace::besideExecutable);

// The one cleanup of the destination after the pass: cut back to whole blocks when the pass
// ended early, then closed. The pass's own failure comes first, then a failed cut or close.
PassOutcome settleDestination(Destination& output, const PassBuffer& buffer, PassOutcome outcome);

}  // namespace corvane
