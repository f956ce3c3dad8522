// The console message of each refusal, and the code of every reason a run ends with.
#pragma once

#include "service/survey.h"
#include "ts/psi.h"

namespace corvane {

// Why a run ended, when no refusal says it.
enum class EndReason : std::uint8_t {
  none,
  usage,
  noMemory,
  interrupted,
  sourceOpenError,
  destinationOpenError,
  logOpenError,
  reportOpenError,
  dropLogOpenError,
  readError,
  writeError,
  logWriteError,
  reportWriteError,
  plotOpenError,
  plotWriteError,
};

// The reasons as the report and the last JSON progress line name them: stable codes that scripts
// match, such as "not-at-gop", "several-services" or "read-error".
const char* refusalCode(Refusal refusal);
const char* reasonCode(EndReason reason);

// Prints the message for `refusal` on standard error, followed by the PIDs it is about where
// it names them, from the PIDs the service had when it refused.
void printRefusal(Refusal refusal, const ProgramPids& pids);

}  // namespace corvane
