#include "output/outputs.h"

namespace corvane {

void receiveEvent(const EventSink& sink, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(sink.outputs);
  if (event.kind == EventKind::packetCounted) {
    showProgress(run.progress, event.offset);
  } else if (run.timeLog.stream != nullptr) {
    logEvent(run.timeLog, event, sink.program);
  }
}

void receiveReportedEvent(const EventSink& sink, const Event& event) {
  reportEvent(static_cast<RunOutputs*>(sink.outputs)->report, event, sink.program);
  receiveEvent(sink, event);
}

}  // namespace corvane
