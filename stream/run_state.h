// What one run carries besides the stream itself: the settings, the time log, the caption base
// and the table in which PMT changes are paired. It lives in the run's StreamContext, which the
// driver sets up afresh for each run, so that nothing survives from one run to the next.
#pragma once

#include <cstdint>

#include "stream/packet.h"
#include "stream/time_log.h"

namespace corvane {

struct Settings {
  bool nogop = false;     // do not require the file to begin with a GOP start
  bool pmtcheck = false;  // re-read the PMT during the rewrite pass and follow PID changes
  bool log = false;       // write the time log
};

// Entry k pairs the k-th old PID with the k-th new PID of one comparison of two PID lists. In
// either column -1 is no entry, 0 a PID that both lists hold (cancelled), anything else a PID to
// report. Rebuilt from scratch for each comparison.
struct PidPair {
  std::int32_t oldPid;
  std::int32_t newPid;
};
struct PidPairTable {
  PidPair entries[kPidCount];
  std::int32_t oldCursor = 0;  // the old PID being reported
  std::int32_t newCursor = 0;  // the new PID being reported
};

struct RunState {
  Settings settings;
  TimeLog timeLog;
  // Caption PTS are counted from the first caption source PTS above one hour, for the whole run.
  std::int64_t captionBasePts = 0;  // 90 kHz
  bool captionBaseUnset = true;
  PidPairTable pidPairs;
};

}  // namespace corvane
