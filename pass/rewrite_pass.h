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

// Rewrites the source into the open destination, from the survey's block, which is in the buffer
// already, to the first read that finds nothing. Nothing is read twice. The destination is left
// open; a pass that ended early leaves it for the driver to cut back to whole blocks.
PassOutcome rewriteFile(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                        Destination& output);

}  // namespace corvane
