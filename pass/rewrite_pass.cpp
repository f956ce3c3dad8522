#include "pass/rewrite_pass.h"

#include <algorithm>
#include <chrono>
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

// The bytes behind the ring's end that a walk across it may read: the rest of the packet that
// crosses it and the walker's lookahead, inside the page kept there.
constexpr std::int64_t kJoinBytes = 1024;
static_assert(kJoinBytes >= kPacketSize + kWalkLookahead && kJoinBytes <= kBufferSize - kRingSize,
              "a walk across the ring's end fits behind it");

// The rules over the bytes read, from the rewritten cursor to `stop`, as far as the walker can
// decide where packets are; with `ended`, the source ends where the bytes read end. When the
// bytes cross the ring's end, those after it are copied behind it first, and the part of the
// packet that crosses it is copied back after.
Refusal rewriteUpTo(PacketRules& rules, PassBuffer& buffer, std::int64_t stop, bool ended) {
  const PacketWalker& walker = rules.walker;
  stop = std::min(stop, buffer.read);
  // Under clean joints, the rules keep the look-ahead read beyond each packet they rewrite, the
  // walker's lookahead behind it, until the source ends.
  if (rules.multiplex.cleanJoints && !ended) {
    stop = std::min(stop, buffer.read - kJointLookahead - kJoinBytes);
  }
  rules.ahead = ReadAhead{buffer.bytes, buffer.ringSize, buffer.read, ended};
  while (buffer.rewritten < stop) {
    std::int64_t from = buffer.rewritten;
    std::int64_t ringEnd = ringEndAfter(buffer.ringSize, from);
    Refusal refusal;
    if (buffer.read <= ringEnd) {
      refusal = rewritePackets(
          rules, WalkView<std::uint8_t>{bufferAt(buffer, from), from, buffer.read, stop, ended});
    } else {
      std::int64_t joined = std::min(buffer.read, ringEnd + kJoinBytes);
      auto after = static_cast<std::size_t>(joined - ringEnd);
      std::memcpy(buffer.bytes + buffer.ringSize, buffer.bytes, after);
      refusal = rewritePackets(
          rules, WalkView<std::uint8_t>{bufferAt(buffer, from), from, joined,
                                        std::min(stop, ringEnd), ended && joined == buffer.read});
      std::memcpy(buffer.bytes, buffer.bytes + buffer.ringSize,
                  std::min(after, static_cast<std::size_t>(kPacketSize)));
    }
    buffer.rewritten = walker.next;
    if (refusal != Refusal::none) return refusal;
    if (buffer.rewritten == from) break;  // the walker needs bytes still to come
  }
  return Refusal::none;
}

// How often the rules, waiting for a read, look whether a signal asked the run to end.
constexpr std::chrono::milliseconds kCancelLook{100};

// After a PMT re-read failed, the destination is to hold the blocks before the failing packet's,
// all of them, and the driver cuts it back to them.
std::int64_t keptBeforeStop(const PassBuffer& buffer) {
  return buffer.rewritten / kBlockSize * kBlockSize;
}

bool interrupted() { return platform::cancelSignal() != 0; }

// The reader, the rules and the writer in turn on one thread.
PassOutcome rewriteInTurn(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                          Destination& output) {
  bool ended = false;
  for (;;) {
    // What the bytes read let the rules decide, a step at a time, each written right after.
    for (;;) {
      std::int64_t from = buffer.rewritten;
      Refusal refusal = rewriteUpTo(rules, buffer, from + kRewriteStep, ended);
      if (refusal != Refusal::none || interrupted()) {
        if (IoStatus status = writeRewritten(output, buffer, keptBeforeStop(buffer), true);
            status.failed) {
          return failed(PassEnd::writeFailed, status, refusal);
        }
        return PassOutcome{refusal != Refusal::none ? PassEnd::stopped : PassEnd::interrupted, 0,
                           refusal};
      }
      if (buffer.rewritten == from) break;
      if (IoStatus status = writeRewritten(output, buffer, buffer.rewritten, false);
          status.failed) {
        return failed(PassEnd::writeFailed, status);
      }
    }
    if (ended) break;
    std::int64_t got = 0;
    if (IoStatus status = readNext(source, buffer, &got); status.failed) {
      return failed(PassEnd::readFailed, status);
    }
    ended = got == 0;
  }
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
        return readerHalts(shared) || buffer.read + size - shared.written <= buffer.ringSize;
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
  bool cancelled = false;
  for (;;) {
    // What the bytes read let the rules decide, a step at a time, each handed to the writer;
    // once the source has ended, all of it.
    while (refusal == Refusal::none && !writeFailed && !(cancelled = interrupted())) {
      std::int64_t from = buffer.rewritten;
      refusal = rewriteUpTo(rules, buffer, from + kRewriteStep, sourceEnded && !readFailed);
      if (buffer.rewritten == from && refusal == Refusal::none) break;
      {
        std::lock_guard hold(shared.lock);
        shared.writeEnd = buffer.rewritten;
        writeFailed = shared.writeStatus.failed;
      }
      shared.writerWaits.notify_one();
    }
    if (sourceEnded || refusal != Refusal::none || writeFailed || cancelled) break;
    std::unique_lock hold(shared.lock);
    // The reader tells of every read; a signal tells nobody, and is looked for now and then.
    shared.rulesWait.wait_for(hold, kCancelLook, [&] {
      return shared.read > buffer.read || shared.sourceEnded || shared.writeStatus.failed ||
             interrupted();
    });
    buffer.read = shared.read;
    sourceEnded = shared.sourceEnded;
    readFailed = shared.readStatus.failed;
    writeFailed = shared.writeStatus.failed;
  }

  // What the writer is still to write: the blocks before a stop, everything rewritten after a
  // failed read, the whole source once it has ended.
  bool stopped = refusal != Refusal::none || cancelled;
  readFailed = readFailed && !stopped;
  if (writeFailed || stopped) {
    endThreads(shared, keptBeforeStop(buffer), true, writer, reader);
  } else if (readFailed) {
    endThreads(shared, buffer.rewritten, false, writer, reader);
  } else {
    endThreads(shared, buffer.read, true, writer, reader);
  }
  buffer.read = shared.read;
  buffer.written = shared.written;

  // A write that failed in the block of a stop or after it would be cut off with that block.
  if (shared.writeStatus.failed && (!stopped || buffer.written < keptBeforeStop(buffer))) {
    return failed(PassEnd::writeFailed, shared.writeStatus, refusal);
  }
  if (refusal != Refusal::none) return PassOutcome{PassEnd::stopped, 0, refusal};
  if (cancelled) return PassOutcome{PassEnd::interrupted};
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
