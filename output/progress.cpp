#include "output/progress.h"

#include "output/console.h"
#include "output/messages.h"

namespace corvane {

void printProgress(Progress& progress, std::int64_t shown) {
  progress.lastShown = shown;
  if (progress.streamed) {
    // PCR,PTS,DTS 更新中　 %lld MB
    printOut(msg::kRewriteProgressMegabytes,
             static_cast<long long>(shown * (kStreamProgressStep >> 20)));
  } else {
    printOut(msg::kRewriteProgress, static_cast<int>(shown));  // PCR,PTS,DTS 更新中　 %d%%
  }
}

void startProgress(Progress& progress) {
  // The 0 % line, then the same through the percentage format; a stream's 0 MB line alone.
  if (!progress.streamed) printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  showProgress(progress, 0);
}

void finishProgress() {
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
}

}  // namespace corvane
