#include "output/outputs.h"

namespace corvane {

namespace {

// Apart from receiveEvent, which most events leave before it.
[[gnu::noinline]] void takeEvent(RunOutputs& run, const Event& event) {
  if (run.timeLog.stream != nullptr) logEvent(run.timeLog, event);
  if (run.plot.kinds >> static_cast<int>(event.kind) & 1) plotEvent(run.plot, event);
}

}  // namespace

void receiveEvent(const EventSink& sink, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(sink.outputs);
  if (event.kind == EventKind::packetCounted) {
    showProgress(run.progress, event.offset);
    return;
  }
  if (event.kind == EventKind::syncLost || event.kind == EventKind::cutOffEnd) {
    run.notPacketBytes += event.value;
  }
  if (run.takenKinds >> static_cast<int>(event.kind) & 1) takeEvent(run, event);
}

void receiveReportedEvent(const EventSink& sink, const Event& event) {
  reportEvent(static_cast<RunOutputs*>(sink.outputs)->report, event);
  receiveEvent(sink, event);
}

}  // namespace corvane
