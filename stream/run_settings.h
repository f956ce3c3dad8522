// Process-wide state of one run: the three on/off settings, set by the driver from the settings
// file and the command line before the survey starts, and the time log.
#pragma once

#include "stream/time_log.h"

namespace corvane {

struct Settings {
  bool nogop = false;     // do not require the file to begin with a GOP start
  bool pmtcheck = false;  // re-read the PMT during the rewrite pass and follow PID changes
  bool log = false;       // write the time log
};

inline Settings settings;

// The time log. Lines end in "\r\n"; the file is binary, so nothing translates them.
inline TimeLog timeLog;

}  // namespace corvane
