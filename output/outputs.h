// The run's outputs that the rules' events reach: the time log, the progress lines, the report
// and the picture.
#pragma once

#include "output/plot.h"
#include "output/progress.h"
#include "output/report.h"
#include "output/time_log.h"
#include "service/events.h"

namespace corvane {

struct RunOutputs {
  TimeLog timeLog;
  Progress progress;
  Report report;
  Plot plot;
  std::int64_t notPacketBytes = 0;  // bytes the pass left as they were, as no packet's
  FileSizes sizes;                  // for the report's end
};

// Hands an event to the time log and the progress lines; the sink's `outputs` is a RunOutputs.
void receiveEvent(const EventSink& sink, const Event& event);
// The same, and to the report first.
void receiveReportedEvent(const EventSink& sink, const Event& event);
// The same, and to the picture first.
void receivePlottedEvent(const EventSink& sink, const Event& event);

// A run without a report or a picture pays nothing for them per event.
inline EventSink sinkTo(RunOutputs& outputs) {
  if (plotWanted(outputs.plot)) return EventSink{receivePlottedEvent, &outputs};
  return EventSink{reportWanted(outputs.report) ? receiveReportedEvent : receiveEvent, &outputs};
}

}  // namespace corvane
