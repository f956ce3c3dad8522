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
  std::int64_t notPacketBytes = 0;  // bytes the pass left as they were, as no packet's
  FileSizes sizes;                  // for the report's end
};

// Hands an event to the time log and the progress lines; the sink's `outputs` is a RunOutputs.
void receiveEvent(const EventSink& sink, const Event& event);
// The same, and to the report first.
void receiveReportedEvent(const EventSink& sink, const Event& event);

// A run without a report pays nothing for it per event.
inline EventSink sinkTo(RunOutputs& outputs) {
  return EventSink{reportWanted(outputs.report) ? receiveReportedEvent : receiveEvent, &outputs};
}

}  // namespace corvane
