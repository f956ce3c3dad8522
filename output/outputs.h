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
  // The event kinds that the time log or the picture take, one bit for each: one test for the
  // rest. Set with the sink.
  unsigned takenKinds = 0;
};

// Hands an event to the time log, the progress lines and the picture; the sink's `outputs` is a
// RunOutputs.
void receiveEvent(const EventSink& sink, const Event& event);
// The same, and to the report first.
void receiveReportedEvent(const EventSink& sink, const Event& event);

// A run without a report pays nothing for it per event, nor one without a picture for that.
inline EventSink sinkTo(RunOutputs& outputs) {
  outputs.takenKinds = (outputs.timeLog.stream != nullptr ? ~0u : 0u) | outputs.plot.kinds;
  return EventSink{reportWanted(outputs.report) ? receiveReportedEvent : receiveEvent, &outputs};
}

}  // namespace corvane
