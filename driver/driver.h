// The program: settings, command line, buffers, survey, rewrite pass, exit status.
#pragma once

#include <vector>

#include "driver/command_line.h"
#include "pass/rewrite_pass.h"
#include "platform/platform.h"

namespace corvane {

// Where the settings file is kept: beside the executable (a portable program, and every Windows
// build), or in the user's configuration folder (a program installed where users cannot write).
enum class SettingsPlace { besideExecutable, userFolder };

// How a run ended, its message printed.
enum class RunEnd {
  complete,      // every byte of the source is rewritten into the destination
  usage,         // the command line could not be taken: the usage text was shown
  noMemory,      // the buffer or the continuity counters could not be had
  logNotOpened,  // the time log could not be opened, or leads to the source
  refused,       // the survey refused the recording
  stopped,       // a PMT met during the pass failed its checks
  interrupted,   // a signal asked the run to end (platform::cancelSignal)
  failed,        // a file could not be opened, read, written, cut or closed
  answered,      // --version or --help was answered
};

// The exit status of a run's end. Classic: 1 after a complete run, a failed open, read, write,
// cut or close, and a signal; 0 after the usage text and every refusal or early stop. POSIX: 0
// complete, 1 a failure (a file, or memory), 2 the usage text, 3 refused, 4 stopped, and after a
// signal 128 and its number, as a shell gives for a command the signal ended. Both: 0 after
// --version and --help.
int exitStatus(RunEnd end, StatusStyle style, int signal);

// Runs the tool on the argument vector (argument 0 is the program's name) and returns the exit
// status.
int runCorvane(const std::vector<platform::Path>& arguments,
               SettingsPlace settingsPlace = SettingsPlace::besideExecutable);

// The one cleanup of the destination after the pass: cut back to whole blocks when the pass
// ended early, then closed. The pass's own failure comes first, then a failed cut or close.
PassOutcome settleDestination(Destination& output, const PassBuffer& buffer, PassOutcome outcome);

}  // namespace corvane
