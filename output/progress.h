// The progress lines of the pass: the share of the source taken up, or for a stream of unknown
// size the megabytes, printed from the rules' events whenever the shown figure changes.
#pragma once

#include <cstdint>

#include "service/events.h"

namespace corvane {

struct Progress {
  std::int64_t fileSize = 0;  // bytes of the source, 0 when unknown
  // The source is a stream of unknown size (not a regular file): the lines show the megabytes
  // taken up so far instead of a percentage.
  bool streamed = false;
  std::int64_t lastShown = -1;  // the percentage, or the megabyte step, last printed
};

// A stream's progress line is printed at most once per this many bytes.
constexpr std::int64_t kStreamProgressStep = std::int64_t{64} << 20;

// The first lines, before the pass takes up any packet.
void startProgress(Progress& progress);

// A packet counted: the line for the bytes before it, when its figure changed.
void showProgress(Progress& progress, const Event& event);

// The last line, once every byte is written.
void finishProgress();

}  // namespace corvane
