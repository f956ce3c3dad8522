#include "output/outputs.h"

namespace corvane {

void receiveEvent(void* outputs, const Event& event) {
  RunOutputs& run = *static_cast<RunOutputs*>(outputs);
  logEvent(run.timeLog, event);
  showProgress(run.progress, event);
}

}  // namespace corvane
