#include "output/outputs.h"

namespace corvane {

void receiveEvent(const EventSink& sink, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(sink.outputs);
  if (run.report.stream != nullptr) reportEvent(run.report, event, sink.program);
  if (event.kind == EventKind::packetCounted) {
    showProgress(run.progress, event.offset);
  } else if (run.timeLog.stream != nullptr) {
    logEvent(run.timeLog, event, sink.program);
  }
}

}  // namespace corvane
