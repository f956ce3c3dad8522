// The writer: takes the rewritten bytes from the pass's buffer to the destination. A destination
// that can be cut back gets them in aligned pieces as soon as they are rewritten; any other gets
// whole blocks, each once all of it is rewritten. Either way a destination left early can end on
// a block boundary, never inside a packet.
#pragma once

#include <cstdint>

#include "pass/pass_buffer.h"
#include "platform/platform.h"

namespace corvane {

struct Destination {
  platform::FileHandle file = platform::kNoFile;
  // A regular file written from its start, which can be cut back. Anything else (a pipe, a
  // device, standard output appending to a file) is written in whole blocks only.
  bool cuttable = false;
  const FileCalls* calls = &kSystemFileCalls;
};

// Creates the destination, or takes standard output for "-". Refuses one that leads to the open
// source or time log before anything is cut.
IoStatus openDestination(Destination& output, const platform::Path& name,
                         platform::FileHandle source, platform::FileHandle timeLog);

// Writes the rewritten bytes before file offset `end`, as far as they make whole pieces of
// ioSizeAt (each at an offset that is a multiple of it) or, for a destination that cannot be
// cut, whole blocks. With `toEnd` the rest goes too: in falling powers of two, each at an offset
// it divides, or in one write.
IoStatus writeRewritten(Destination& output, PassBuffer& buffer, std::int64_t end, bool toEnd);

// The size of the next write towards `end` that writeRewritten would make, or 0 for none.
std::int64_t nextWriteSize(const Destination& output, const PassBuffer& buffer, std::int64_t end,
                           bool toEnd);

// Writes the next `size` bytes from the written cursor on.
IoStatus writeNext(Destination& output, PassBuffer& buffer, std::int64_t size);

// Cuts a destination that can be cut back to the whole blocks written.
IoStatus cutToWholeBlocks(const Destination& output, const PassBuffer& buffer);

// Closes the destination. A failure is a write that the system had deferred (network shares,
// quotas).
IoStatus closeDestination(Destination& output);

}  // namespace corvane
