// The run's outputs that the rules' events reach: the time log, the progress lines and the
// report.
#pragma once

#include "output/progress.h"
#include "output/report.h"
#include "output/time_log.h"
#include "service/events.h"

namespace corvane {

struct RunOutputs {
  TimeLog timeLog;
  Progress progress;
  Report report;
};

// Hands an event to each output; the sink's `outputs` is a RunOutputs.
void receiveEvent(const EventSink& sink, const Event& event);

inline EventSink sinkTo(RunOutputs& outputs) { return EventSink{receiveEvent, &outputs}; }

}  // namespace corvane
