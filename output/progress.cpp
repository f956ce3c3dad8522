#include "output/progress.h"

#include <chrono>
#include <string>

#include "output/console.h"
#include "output/json.h"
#include "output/messages.h"

namespace corvane {

namespace {

constexpr std::int64_t kJsonLineGap = 1000;  // milliseconds

std::int64_t steadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The share of a source of known size, 0 for a stream.
double shareShown(const Progress& progress) {
  return progress.streamed || progress.lastShown < 0
             ? 0.0
             : static_cast<double>(progress.lastShown) / 100.0;
}

void putJsonLine(const Progress& progress, double share, const std::string& log,
                 const char* outcome, const char* reason) {
  std::fprintf(progress.json, "{\"type\":\"progress\",\"percent\":%.2f,\"log\":%s", share,
               jsonString(log).c_str());
  if (outcome != nullptr) {
    std::fprintf(progress.json, ",\"outcome\":%s,\"reason\":%s", jsonString(outcome).c_str(),
                 jsonString(reason).c_str());
  }
  std::fputs("}\n", progress.json);
  std::fflush(progress.json);
}

void putJsonProgress(Progress& progress) {
  char log[64];
  if (progress.streamed) {
    std::snprintf(log, sizeof log, "%lld MB",
                  static_cast<long long>(progress.lastShown * (kStreamProgressStep >> 20)));
  } else {
    std::snprintf(log, sizeof log, "%lld%% of %lld MB", static_cast<long long>(progress.lastShown),
                  static_cast<long long>(progress.fileSize >> 20));
  }
  putJsonLine(progress, shareShown(progress), log, nullptr, nullptr);
}

}  // namespace

void printProgress(Progress& progress, std::int64_t shown) {
  bool first = progress.lastShown < 0;
  progress.lastShown = shown;
  if (progress.json != nullptr) {
    std::int64_t now = steadyMilliseconds();
    if (!first && now - progress.lastLineAt < kJsonLineGap) return;
    progress.lastLineAt = now;
    putJsonProgress(progress);
  } else if (progress.streamed) {
    // PCR,PTS,DTS 更新中　 %lld MB
    printOut(msg::kRewriteProgressMegabytes,
             static_cast<long long>(shown * (kStreamProgressStep >> 20)));
  } else {
    printOut(msg::kRewriteProgress, static_cast<int>(shown));  // PCR,PTS,DTS 更新中　 %d%%
  }
}

void startProgress(Progress& progress) {
  // The 0 % line, then the same through the percentage format; a stream's 0 MB line alone.
  if (!progress.streamed && progress.json == nullptr) {
    printOut(msg::kRewriteProgressStart);  // PCR,PTS,DTS 更新中　 0%%
  }
  showProgress(progress, 0);
}

void finishProgress(const Progress& progress) {
  if (progress.json == nullptr) printOut(msg::kRewriteDone);  // PCR,PTS,DTS 更新完了 100%%
}

void endProgress(const Progress& progress, const char* outcome, const char* reason) {
  if (progress.json == nullptr) return;
  std::string log = outcome;
  if (std::string(reason) != "none") log += std::string(": ") + reason;
  putJsonLine(progress, std::string(outcome) == "complete" ? 1.0 : shareShown(progress), log,
              outcome, reason);
}

}  // namespace corvane
