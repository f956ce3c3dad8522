// The pass over the whole file: the reader, the packet rules and the writer over one buffer,
// from the survey's block to the source's end.
#pragma once

#include <cstdint>

#include "pass/destination_writer.h"
#include "pass/packet_rules.h"
#include "pass/pass_buffer.h"
#include "pass/source_reader.h"

namespace corvane {

enum class PassEnd {
  complete,     // the source has ended and every byte of it is written
  stopped,      // a PMT re-read failed: the blocks before the failing packet's are written
  interrupted,  // a signal asked the run to end: as after a stop
  readFailed,   // with the system's code
  writeFailed,  // a write, cut or close, with the system's code
};

struct PassOutcome {
  PassEnd end = PassEnd::complete;
  int errorCode = 0;
  // Why a PMT re-read stopped the pass. It stays set when writing the blocks before the stop
  // failed afterwards.
  Refusal stop = Refusal::none;
};

// How the reader, the rules and the writer share the processor.
enum class PassSchedule {
  inTurn,      // one after the other on the calling thread
  overlapped,  // the reader and the writer on threads of their own, beside the rules
};

// Overlapped where more than one processor is there to run it and the source did not end within
// the survey's block (in `buffer`); in turn otherwise.
PassSchedule passScheduleFor(const PassBuffer& buffer);

// Rewrites the source into the open destination, from the survey's block, which is in the buffer
// already, to the first read that finds nothing. Nothing is read twice. A signal that asks the
// run to end (platform::cancelSignal) is seen between two steps of the rules. The destination is
// left open; a pass that ended early leaves it for the driver to cut back to whole blocks. The
// destination's bytes are those of `inTurn`, whichever runs, and so is the outcome, but for a
// write that fails in the block of a stop or after it, which the stop cuts off either way:
// overlapped, that is always a stop. Overlapped, the reader may also have read further when the
// pass ends early, and the rules may have taken up more of the source when a write fails.
PassOutcome rewriteFile(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                        Destination& output, PassSchedule schedule);

}  // namespace corvane
