#include "output/progress.h"

#include "output/console.h"
#include "output/messages.h"

namespace corvane {

namespace {

// A size that could not be had shows 0 %.
void showAt(Progress& progress, std::int64_t bytesDone) {
  std::int64_t shown = progress.streamed   ? bytesDone / kStreamProgressStep
                       : progress.fileSize ? bytesDone * 100 / progress.fileSize
                                           : 0;
  if (shown == progress.lastShown) return;
  progress.lastShown = shown;
  if (progress.streamed) {
    // PCR,PTS,DTS 更新中　 %lld MB
    printOut(msg::kRewriteProgressMegabytes,
             static_cast<long long>(shown * (kStreamProgressStep >> 20)));
  } else {
    printOut(msg::kRewriteProgress, static_cast<int>(shown));  // PCR,PTS,DTS 更新中　 %d%%
  }
}

}  // namespace

void startProgress(Progress& progress) {
  // The 0 % line, then the same through the percentage format; a stream's 0 MB line alone.
  if (!progress.streamed) printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  showAt(progress, 0);
}

void showProgress(Progress& progress, const Event& event) {
  if (event.kind == EventKind::packetCounted) showAt(progress, event.offset);
}

void finishProgress() {
  printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
}

}  // namespace corvane
