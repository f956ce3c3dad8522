// The packet rules of the pass: each packet's continuity counter, the PMT re-read, and the PCR
// and PES rebasing, in place on whole packets in the buffer. They know nothing of files.
#pragma once

#include <cstdint>

#include "stream/stream_context.h"

namespace corvane {

// Progress of one pass over the source.
struct PassProgress {
  std::int64_t fileSize = 0;  // bytes of the source, 0 when unknown
  // The source is a stream of unknown size (not a regular file): the progress lines show the
  // megabytes taken up so far instead of a percentage.
  bool streamed = false;
  std::int64_t nextPacketOffset = 0;  // source offset of the next packet to be taken up
  std::int64_t lastShown = -1;        // the percentage, or the megabyte step, last printed
};

// A stream's progress line is printed at most once per this many bytes.
constexpr std::int64_t kStreamProgressStep = std::int64_t{64} << 20;

// Starts the rules on a pass: every PID unseen, and the first progress lines printed.
void startPacketRules(StreamContext& context, PassProgress& progress);

// Rewrites the packets in [begin, end), the next ones of the source, in place. Returns `end`, or
// the packet at which a PMT re-read failed; that packet has its counter renumbered and nothing
// more. An errored packet (transport_error_indicator) has its counter renumbered and nothing more.
std::uint8_t* rewritePackets(StreamContext& context, PassProgress& progress, std::uint8_t* begin,
                             std::uint8_t* end);

// Gives the packet the next continuity counter of its PID, and nothing more: all that a partial
// packet cut off by the file's end takes part in. Returns the PID.
int renumberPacket(StreamContext& context, std::uint8_t* packet);

}  // namespace corvane
