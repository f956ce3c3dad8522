// The console message of each refusal.
#pragma once

#include "service/survey.h"
#include "ts/psi.h"

namespace corvane {

// Prints the message for `refusal` on standard error, followed by the PIDs it is about where
// it names them, from the PIDs the service had when it refused.
void printRefusal(Refusal refusal, const ProgramPids& pids);

}  // namespace corvane
