// Settings file and command line.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace corvane {

// Which exit statuses a run ends with: the tool's own (a complete run 1, refusals 0), or those
// that scripts and job runners read (0 complete, 1 file error, 2 usage, 3 refused, 4 stopped).
enum class StatusStyle : std::uint8_t { classic, posix };

struct Settings {
  bool nogop = false;     // do not require the file to begin where the video can be entered
  bool pmtcheck = false;  // re-read the PMT during the pass and follow PID changes
  bool log = false;       // write the time log
  // Repair every service of a multiplex, each on its own clock (services=all), instead of the one
  // service a recording must hold (services=one).
  bool allServices = false;
  // Every stream of a new stretch takes its offset where it jumps (joints=clean), instead of the
  // joint picture moving the service's offset for all that follows (joints=classic).
  bool cleanJoints = false;
  StatusStyle status = StatusStyle::classic;
  // Progress as JSON lines for job runners (progress=json), instead of the console's lines.
  bool jsonProgress = false;
};

// Exactly what a missing settings file is created with.
inline constexpr char kDefaultSettingsFile[] =
    "[Default]\r\nnogop='off'\r\npmtcheck='off'\r\nlog='off'\r\n";

// Replaces the extension of `path` (or appends when it has none) by `extension`.
platform::Path replaceExtension(const platform::Path& path, const platform::Path& extension);

// Creates the settings file with its default content when no file of its name exists (an
// existing file is never changed, even one that cannot be read), then reads the settings from
// its section Default. A switch is off only when its value is "off" in any case; `services` is
// all only when its value is "all" in any case, and one otherwise, also when it is missing;
// `status` is posix, `joints` clean and `progress` json only when their values are "posix",
// "clean" and "json" in any case, and classic or text otherwise.
Settings loadSettingsFile(const platform::Path& settingsPath);

// What the command line asks for besides a repair.
enum class Asked : std::uint8_t { repair, version, help };

struct CommandLine {
  Asked asked = Asked::repair;
  platform::Path source;
  platform::Path destination;
  platform::Path report;   // the JSON report's name; empty for none
  platform::Path dropLog;  // the drop log's name; empty for none
  platform::Path plot;     // the picture's name; empty for none
  Settings settings;
};

// Reads arguments 1.. of `arguments` (argument 0 is the program) over `defaults`. A "--version"
// or "--help" where a word may stand answers the line, whatever else it holds. False when the
// usage text is to be shown; `result->settings.status` is set even then, from `defaults` and the
// last valid -status on the line, for the status the usage text ends with.
bool parseCommandLine(const std::vector<platform::Path>& arguments, const Settings& defaults,
                      CommandLine* result);

// The time log's name: the source's with "_Time.log", or the destination's when the source is
// standard input.
platform::Path timeLogPath(const CommandLine& line);

}  // namespace corvane
