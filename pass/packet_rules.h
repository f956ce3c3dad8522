// The packet rules of the pass: each packet's continuity counter, the tables, and the PCR and
// PES rebasing, in place on the packets that the walker finds in the buffer. They know nothing of
// files, and report what they did as events.
#pragma once

#include <cstdint>

#include "service/events.h"
#include "service/multiplex.h"
#include "service/survey.h"
#include "ts/continuity.h"
#include "ts/packet_walker.h"

namespace corvane {

// The bytes read beyond the packets being rewritten, in the pass's ring, where clean joints look
// for a new stretch's joint picture.
struct ReadAhead {
  const std::uint8_t* ring = nullptr;
  std::int64_t ringSize = 0;
  std::int64_t read = 0;  // the file offset the bytes read end at
  bool ended = false;     // the source ends there
};

// What the rules work on and with: the services and the table that routes each PID to them, the
// stream's continuity counters, the sink they report to, where the walk over the source's
// packets stands, and the bytes read ahead of it.
struct PacketRules {
  Multiplex& multiplex;
  ContinuityCounters& counters;
  const EventSink& events;
  PacketWalker walker;
  ReadAhead ahead;
};

// Rewrites the packets of the view in place, from where the walk stands (`rules.walker.next`)
// as far as the view lets the walker decide. Stops at a PMT of the one service that fails its
// checks: that packet has its counter renumbered and nothing more, and the walk stands on it;
// the refusal is returned. An errored packet (transport_error_indicator) has its counter
// renumbered and nothing more, and nothing is read from or written into the payload of a
// scrambled one. Bytes that are not packets are reported and left as they are. Under clean
// joints, a packet's new stretch is looked for up to kJointLookahead bytes on in `rules.ahead`,
// which must hold them unless the source ends before.
Refusal rewritePackets(PacketRules& rules, const WalkView<std::uint8_t>& view);

}  // namespace corvane
