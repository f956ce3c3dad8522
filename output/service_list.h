// The services of a multiplex, as the console lists them before the pass.
#pragma once

#include "service/multiplex.h"

namespace corvane {

// One line for each program of the PATs read so far: its program number, its PCR PID and its
// streams with their codings, or why it gets its counters only.
void printServices(const Multiplex& multiplex);

}  // namespace corvane
