// Following PMT changes during the pass: the service's PIDs are re-read from every PMT section,
// and each PID that changed, came or went is reported.
#pragma once

#include <cstdint>

#include "service/events.h"
#include "service/survey.h"
#include "ts/psi.h"

namespace corvane {

// Re-reads the PMT section into fresh PCR, video, audio and caption lists of
// `pids`. When they pass the reader's checks, a pidChanged event goes out for each change: one
// for a changed PCR PID, one for a changed video PID, then for audio and for captions one per
// PID that left or came, paired in ascending order (a PID that left with one that came, as long
// as both are left). The refusal when they do not pass. A service of a multiplex takes any
// stream, with no check, and changes of its other streams are reported last; `listing`, when
// given, receives its streams. Its anchor is left as it was, for its multiplex to settle.
Refusal trackPmtChange(ProgramPids& pids, Section section, const PacketPlace& at,
                       const EventSink& events, PmtStreams streams = PmtStreams::oneService,
                       StreamListing* listing = nullptr);

}  // namespace corvane
