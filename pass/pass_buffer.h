// The one buffer of the rewrite pass and what its three parts share. The reader fills the buffer
// from the source, the packet rules rewrite it in place, and the writer takes the rewritten bytes
// to the destination. Each part moves a cursor of its own, a file offset, and the three always
// stand written <= rewritten <= read, with read - written at most the ring's size.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace corvane {

// One packet block: 12,288 packets of 188 bytes. The survey reads the first block; a destination
// that cannot be cut back is written in whole blocks, and one left early is cut back to them.
constexpr std::int32_t kBlockSize = 2310144;

// Reads and writes move at most this many bytes per call, a power of two, at file offsets that
// are multiples of the amount moved: the system copies between its file cache and the program
// fastest in such pieces, and no size that holds whole packets is one (188 = 4 x 47).
constexpr std::int32_t kIoSize = 256 << 10;

// The buffer is a ring: the byte at file offset `at` lies at `at % kRingSize`, so that the
// bytes never move. It holds a block not yet written to a destination that takes whole blocks,
// and reads ahead of it. Reads and cut-back writes are aligned pieces of at most kIoSize, which
// never cross the ring's end; a packet that does is joined behind the end for the rules.
constexpr std::int32_t kRingSize = 16 * kIoSize;
static_assert(kRingSize >= kBlockSize + 3 * kIoSize, "a block and the reads around it fit");
static_assert(kRingSize % kIoSize == 0, "no read crosses the ring's end");

// Under clean joints the rules stay this many bytes behind the reads, where they look for a new
// stretch's joint picture, and the ring is twice as large to hold them.
constexpr std::int32_t kJointLookahead = 5 << 20;
constexpr std::int32_t kCleanRingSize = 2 * kRingSize;
static_assert(kCleanRingSize >= kBlockSize + 3 * kIoSize + kJointLookahead,
              "a block, the look-ahead and the reads around them fit");

// The ring, and one page behind it for the packet that crosses its end.
constexpr std::int32_t bufferSizeFor(std::int32_t ringSize) { return ringSize + 4096; }
constexpr std::int32_t kBufferSize = bufferSizeFor(kRingSize);

struct PassBuffer {
  std::uint8_t* bytes = nullptr;  // bufferSizeFor(ringSize) bytes, page-aligned
  std::int64_t ringSize = kRingSize;
  // File offsets: the bytes before `written` are in the destination, those before `rewritten`
  // are rewritten (a whole number of packets from the file's start), those before `read` are in.
  std::int64_t written = 0;
  std::int64_t rewritten = 0;
  std::int64_t read = 0;
};

// Where the byte at a file offset lies in the buffer.
inline std::uint8_t* bufferAt(const PassBuffer& buffer, std::int64_t offset) {
  return buffer.bytes + offset % buffer.ringSize;
}

// The first file offset after `offset` at which a ring of `ringSize` bytes starts over.
inline std::int64_t ringEndAfter(std::int64_t ringSize, std::int64_t offset) {
  return (offset / ringSize + 1) * ringSize;
}

// The amount that a read or write at file offset `at` moves: the largest power of two, up to
// kIoSize, that `at` is a multiple of. After the survey's block, reads climb 16 KiB, 32 KiB, ...
// to kIoSize and stay there; after a read that found the end of a growing file, they climb again.
inline std::int64_t ioSizeAt(std::int64_t at) {
  return at == 0 ? kIoSize : std::min<std::int64_t>(kIoSize, at & -at);
}

// The file calls of the pass: the system's for the tool, a script's in tests.
struct FileCalls {
  // Reads until `size` bytes are in or the file ends: the count, or -1.
  std::int64_t (*readFull)(platform::FileHandle file, std::uint8_t* data, std::int64_t size);
  bool (*writeAll)(platform::FileHandle file, const std::uint8_t* data, std::int64_t size);
  bool (*truncateFile)(platform::FileHandle file, std::int64_t size);
  bool (*closeFile)(platform::FileHandle file);
  // The system's error code of the last call above that failed.
  int (*lastErrorCode)();
};

inline constexpr FileCalls kSystemFileCalls = {platform::readFull, platform::writeAll,
                                               platform::truncateFile, platform::closeFile,
                                               platform::lastErrorCode};

}  // namespace corvane
