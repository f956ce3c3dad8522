// The console message of each refusal.
#pragma once

#include "service/survey.h"
#include "ts/psi.h"

namespace corvane {

// Prints the message for `refusal` on standard error, followed by the PIDs it is about where
// it names them, from the PIDs the service had when it refused.
// The refusal as the report names it: a stable code such as "not-at-gop" or "several-services".
const char* refusalCode(Refusal refusal);

void printRefusal(Refusal refusal, const ProgramPids& pids);

}  // namespace corvane
