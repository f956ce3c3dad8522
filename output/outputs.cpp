#include "output/outputs.h"

namespace corvane {

void receiveEvent(void* outputs, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(outputs);
  if (event.kind == EventKind::packetCounted) {
    showProgress(run.progress, event.offset);
  } else if (run.timeLog.stream != nullptr) {
    logEvent(run.timeLog, event);
  }
}

}  // namespace corvane
