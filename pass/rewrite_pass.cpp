#include "pass/rewrite_pass.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "ts/packet.h"

namespace corvane {

namespace {

// Packets are rewritten a piece at a time, each handed to the writer right after, while it is in
// the processor's cache.
constexpr std::int64_t kRewriteStep = kIoSize / kPacketSize * kPacketSize;

PassOutcome failed(PassEnd end, const IoStatus& status, Refusal stop = Refusal::none) {
  return PassOutcome{end, status.code, stop};
}

// Calls `rewrite` on the `bytes` bytes at file offset `at` as one piece of memory. When they
// cross the ring's end, those after it are copied behind it first (at most a packet's worth,
// into the page kept there) and copied back after.
template <typename Rewrite>
auto rewriteJoined(PassBuffer& buffer, std::int64_t at, std::int64_t bytes, Rewrite rewrite) {
  auto after = static_cast<std::size_t>(std::max<std::int64_t>(0, at + bytes - ringEndAfter(at)));
  std::memcpy(buffer.bytes + kRingSize, buffer.bytes, after);
  auto result = rewrite(bufferAt(buffer, at));
  std::memcpy(buffer.bytes, buffer.bytes + kRingSize, after);
  return result;
}

// The rules over the packets from the rewritten cursor to `end`, a packet boundary.
Refusal rewriteUpTo(PacketRules& rules, PassBuffer& buffer, std::int64_t end) {
  while (buffer.rewritten < end) {
    std::int64_t from = buffer.rewritten;
    std::int64_t before = (ringEndAfter(from) - from) / kPacketSize * kPacketSize;
    std::int64_t count = before > 0 ? std::min(end - from, before) : kPacketSize;
    RulesEnd rulesEnd = rewriteJoined(buffer, from, count, [&](std::uint8_t* begin) {
      RulesEnd rewritten = rewritePackets(rules, begin, begin + count, from);
      buffer.rewritten += rewritten.stop - begin;
      return rewritten;
    });
    if (rulesEnd.refusal != Refusal::none) return rulesEnd.refusal;
  }
  return Refusal::none;
}

// Once the source has ended: the partial packet it may end with, and then every byte read
// counts as rewritten.
void rewriteToSourceEnd(PacketRules& rules, PassBuffer& buffer) {
  if (std::int64_t bytes = buffer.read - buffer.rewritten; bytes > 0) {
    rewriteJoined(buffer, buffer.rewritten, bytes, [&](std::uint8_t* packet) {
      rewriteCutOffPacket(rules, packet, bytes, buffer.rewritten);
      return 0;
    });
  }
  buffer.rewritten = buffer.read;
}

// After a PMT re-read failed, the destination is to hold the blocks before the failing packet's,
// all of them, and the driver cuts it back to them.
std::int64_t keptBeforeStop(const PassBuffer& buffer) {
  return buffer.rewritten / kBlockSize * kBlockSize;
}

// The reader, the rules and the writer in turn on one thread.
PassOutcome rewriteInTurn(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                          Destination& output) {
  for (;;) {
    std::int64_t whole = buffer.read - buffer.read % kPacketSize;
    while (buffer.rewritten < whole) {
      Refusal refusal =
          rewriteUpTo(rules, buffer, std::min(whole, buffer.rewritten + kRewriteStep));
      if (refusal != Refusal::none) {
        if (IoStatus status = writeRewritten(output, buffer, keptBeforeStop(buffer), true);
            status.failed) {
          return failed(PassEnd::writeFailed, status, refusal);
        }
        return PassOutcome{PassEnd::stopped, 0, refusal};
      }
      if (IoStatus status = writeRewritten(output, buffer, buffer.rewritten, false);
          status.failed) {
        return failed(PassEnd::writeFailed, status);
      }
    }
    std::int64_t got = 0;
    if (IoStatus status = readNext(source, buffer, &got); status.failed) {
      return failed(PassEnd::readFailed, status);
    }
    if (got == 0) break;
  }
  rewriteToSourceEnd(rules, buffer);
  if (IoStatus status = writeRewritten(output, buffer, buffer.read, true); status.failed) {
    return failed(PassEnd::writeFailed, status);
  }
  return PassOutcome{PassEnd::complete};
}

// What the reader, the rules and the writer tell each other, under one lock. Each moves its own
// cursor in a PassBuffer of its own over the same bytes, and publishes it here; each waits for
// the cursor it follows, or for the end, on a condition of its own.
struct Handover {
  std::mutex lock;
  std::condition_variable readerWaits;  // for room in the ring
  std::condition_variable rulesWait;    // for packets read
  std::condition_variable writerWaits;  // for packets rewritten
  std::int64_t read = 0;
  std::int64_t writeEnd = 0;  // the writer may write the bytes before it: those rewritten
  std::int64_t written = 0;
  bool sourceEnded = false;  // the reader found the end, or a read failed: `readStatus`
  IoStatus readStatus;
  // The rules have ended: the writer writes up to `writeEnd`, with `toEnd` the last piece too,
  // and stops; the reader stops.
  bool rulesEnded = false;
  bool toEnd = false;
  IoStatus writeStatus;  // a write failed at `written`: the rules and the reader stop
};

// The pass ends before the reader reaches the source's end.
bool readerHalts(const Handover& shared) { return shared.rulesEnded || shared.writeStatus.failed; }

void readAhead(SourceReader& source, PassBuffer buffer, Handover& shared) {
  for (;;) {
    std::int64_t size = ioSizeAt(buffer.read);
    {
      std::unique_lock hold(shared.lock);
      shared.readerWaits.wait(hold, [&] {
        return readerHalts(shared) || buffer.read + size - shared.written <= kRingSize;
      });
      if (readerHalts(shared)) return;
    }
    std::int64_t got = 0;
    IoStatus status = readNext(source, buffer, &got);
    bool ended = status.failed || got == 0;
    {
      std::lock_guard hold(shared.lock);
      shared.read = buffer.read;
      shared.sourceEnded = ended;
      shared.readStatus = status;
    }
    shared.rulesWait.notify_one();
    if (ended) return;
  }
}

void writeBehind(Destination& output, PassBuffer buffer, Handover& shared) {
  for (;;) {
    std::int64_t size = 0;
    {
      std::unique_lock hold(shared.lock);
      shared.writerWaits.wait(hold, [&] {
        size = nextWriteSize(output, buffer, shared.writeEnd, shared.toEnd);
        return size > 0 || shared.rulesEnded;
      });
      if (size == 0) return;
    }
    IoStatus status = writeNext(output, buffer, size);
    {
      std::lock_guard hold(shared.lock);
      shared.written = buffer.written;
      shared.writeStatus = status;
    }
    shared.readerWaits.notify_one();
    if (status.failed) {
      shared.rulesWait.notify_one();
      return;
    }
  }
}

// Starts `work` on a thread of its own; false when the system has none to give.
template <typename Work>
bool startThread(std::thread& thread, Work work) {
  try {
    thread = std::thread(std::move(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Tells the writer where to stop and the reader to stop, and waits for both.
void endThreads(Handover& shared, std::int64_t writeEnd, bool toEnd, std::thread& writer,
                std::thread& reader) {
  {
    std::lock_guard hold(shared.lock);
    shared.rulesEnded = true;
    shared.writeEnd = writeEnd;
    shared.toEnd = toEnd;
  }
  shared.writerWaits.notify_one();
  shared.readerWaits.notify_one();
  if (writer.joinable()) writer.join();
  if (reader.joinable()) reader.join();
}

// The reader and the writer on threads of their own, the rules on this one.
PassOutcome rewriteOverlapped(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                              Destination& output) {
  Handover shared;
  shared.read = buffer.read;
  shared.writeEnd = buffer.rewritten;
  shared.written = buffer.written;
  std::thread writer;
  std::thread reader;
  // The writer first: until the rules hand it packets it only waits, so that without a thread
  // for the reader the pass can still go on in turn.
  if (!startThread(writer, [&, mine = buffer] { writeBehind(output, mine, shared); })) {
    return rewriteInTurn(rules, source, buffer, output);
  }
  if (!startThread(reader, [&, mine = buffer] { readAhead(source, mine, shared); })) {
    endThreads(shared, buffer.written, false, writer, reader);
    return rewriteInTurn(rules, source, buffer, output);
  }

  Refusal refusal = Refusal::none;
  bool writeFailed = false;
  bool sourceEnded = false;
  bool readFailed = false;
  while (!sourceEnded && refusal == Refusal::none && !writeFailed) {
    {
      std::unique_lock hold(shared.lock);
      shared.rulesWait.wait(hold, [&] {
        return shared.read - shared.read % kPacketSize > buffer.rewritten || shared.sourceEnded ||
               shared.writeStatus.failed;
      });
      buffer.read = shared.read;
      sourceEnded = shared.sourceEnded;
      readFailed = shared.readStatus.failed;
      writeFailed = shared.writeStatus.failed;
    }
    std::int64_t whole = buffer.read - buffer.read % kPacketSize;
    while (buffer.rewritten < whole && refusal == Refusal::none && !writeFailed) {
      refusal = rewriteUpTo(rules, buffer, std::min(whole, buffer.rewritten + kRewriteStep));
      {
        std::lock_guard hold(shared.lock);
        shared.writeEnd = buffer.rewritten;
        writeFailed = shared.writeStatus.failed;
      }
      shared.writerWaits.notify_one();
    }
  }

  // What the writer is still to write: the blocks before a stop, everything rewritten after a
  // failed read, the whole source once it has ended.
  readFailed = readFailed && refusal == Refusal::none;
  if (writeFailed || refusal != Refusal::none) {
    endThreads(shared, keptBeforeStop(buffer), true, writer, reader);
  } else if (readFailed) {
    endThreads(shared, buffer.rewritten, false, writer, reader);
  } else {
    rewriteToSourceEnd(rules, buffer);
    endThreads(shared, buffer.read, true, writer, reader);
  }
  buffer.read = shared.read;
  buffer.written = shared.written;

  // A write that failed in the block of a stop or after it would be cut off with that block.
  if (shared.writeStatus.failed &&
      (refusal == Refusal::none || buffer.written < keptBeforeStop(buffer))) {
    return failed(PassEnd::writeFailed, shared.writeStatus, refusal);
  }
  if (refusal != Refusal::none) return PassOutcome{PassEnd::stopped, 0, refusal};
  if (readFailed) return failed(PassEnd::readFailed, shared.readStatus);
  return PassOutcome{PassEnd::complete};
}

}  // namespace

PassSchedule passScheduleFor(const PassBuffer& buffer) {
  // With one processor the threads would only take turns, and a source that ended within the
  // survey's block leaves nothing to read ahead.
  return platform::usableProcessors() > 1 && buffer.read == kBlockSize ? PassSchedule::overlapped
                                                                       : PassSchedule::inTurn;
}

PassOutcome rewriteFile(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                        Destination& output, PassSchedule schedule) {
  // The packets are rewritten in place in file order, so the output bytes do not depend on how
  // the file moves through the buffer, nor on how the threads take turns.
  return schedule == PassSchedule::overlapped ? rewriteOverlapped(rules, source, buffer, output)
                                              : rewriteInTurn(rules, source, buffer, output);
}

}  // namespace corvane
