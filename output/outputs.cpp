#include "output/outputs.h"

namespace corvane {

void receiveEvent(const EventSink& sink, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(sink.outputs);
  if (event.kind == EventKind::packetCounted) {
    showProgress(run.progress, event.offset);
    return;
  }
  if (event.kind == EventKind::syncLost || event.kind == EventKind::cutOffEnd) {
    run.notPacketBytes += event.value;
  }
  if (run.timeLog.stream != nullptr) logEvent(run.timeLog, event);
}

void receiveReportedEvent(const EventSink& sink, const Event& event) {
  reportEvent(static_cast<RunOutputs*>(sink.outputs)->report, event);
  receiveEvent(sink, event);
}

void receivePlottedEvent(const EventSink& sink, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(sink.outputs);
  plotEvent(run.plot, event);
  if (reportWanted(run.report)) reportEvent(run.report, event);
  receiveEvent(sink, event);
}

}  // namespace corvane
