// The packet rules of the pass: each packet's continuity counter, the PMT re-read, and the PCR
// and PES rebasing, in place on whole packets in the buffer. They know nothing of files, and
// report what they did as events.
#pragma once

#include <cstdint>

#include "service/events.h"
#include "service/service.h"
#include "service/survey.h"
#include "ts/continuity.h"

namespace corvane {

struct Multiplex;

// What the rules work on and with: the service they rebase, the stream's continuity counters,
// the sink they report to, and whether PMTs are re-read. With a multiplex, its services are
// rebased instead, each on its own clock, and `service` is not used.
struct PacketRules {
  Service& service;
  ContinuityCounters& counters;
  EventSink& events;
  bool pmtcheck = false;
  Multiplex* multiplex = nullptr;
};

struct RulesEnd {
  std::uint8_t* stop;  // the packet after the last one rewritten
  Refusal refusal;     // why a PMT re-read stopped the rules, or none
};

// Rewrites the packets in [begin, end), the next ones of the source, whose first lies at source
// offset `offset`, in place. Stops at a PMT that fails its checks (never in a multiplex); that
// packet has its counter renumbered and nothing more. An errored packet
// (transport_error_indicator) has its counter renumbered and nothing more, and nothing is read
// from or written into the payload of a scrambled one.
RulesEnd rewritePackets(PacketRules& rules, std::uint8_t* begin, std::uint8_t* end,
                        std::int64_t offset);

// The partial packet that the source ends with, `bytes` long at source offset `offset`: cut off,
// so that what its missing bytes would have said is unknown. It takes part in nothing but the
// counting, and only when its header, which holds the counter, is there.
void rewriteCutOffPacket(PacketRules& rules, std::uint8_t* packet, std::int64_t bytes,
                         std::int64_t offset);

}  // namespace corvane
