// The progress lines of the pass: the share of the source taken up, or for a stream of unknown
// size the megabytes, printed whenever the shown figure changes: the run shows them for each
// packet that the rules count. For job runners they go out as JSON lines instead, each an object
// {"type":"progress","percent":0..1,"log":text}, at most one a second, and the last with the
// run's outcome and reason.
#pragma once

#include <cstdint>
#include <cstdio>

namespace corvane {

struct Progress {
  std::int64_t fileSize = 0;  // bytes of the source, 0 when unknown
  // The source is a stream of unknown size (not a regular file): the lines show the megabytes
  // taken up so far instead of a percentage.
  bool streamed = false;
  std::int64_t lastShown = -1;  // the percentage, or the megabyte step, last printed
  std::FILE* json = nullptr;    // where the JSON lines go; null for the console's lines
  std::int64_t lastLineAt = 0;  // when the last JSON line went, in steady-clock milliseconds
};

// A stream's progress line is printed at most once per this many bytes.
constexpr std::int64_t kStreamProgressStep = std::int64_t{64} << 20;

// The first lines, before the pass takes up any packet.
void startProgress(Progress& progress);

// Prints the line of a figure that changed.
void printProgress(Progress& progress, std::int64_t shown);

// The line for the `bytesDone` bytes taken up so far, when its figure changed. A size that could
// not be had shows 0 %.
inline void showProgress(Progress& progress, std::int64_t bytesDone) {
  std::int64_t shown = progress.streamed   ? bytesDone / kStreamProgressStep
                       : progress.fileSize ? bytesDone * 100 / progress.fileSize
                                           : 0;
  if (shown != progress.lastShown) printProgress(progress, shown);
}

// The console's last line, once every byte is written.
void finishProgress(const Progress& progress);

// The last JSON line, with the run's outcome and reason: 1 for a complete run, else the share
// last shown. Nothing for the console's lines.
void endProgress(const Progress& progress, const char* outcome, const char* reason);

}  // namespace corvane
