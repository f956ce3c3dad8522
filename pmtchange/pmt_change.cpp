#include "pmtchange/pmt_change.h"

#include <cstdio>
#include <utility>

#include "stream/packet.h"
#include "stream/survey.h"

namespace corvane {

namespace {

// The next entry after `cursor` whose value in the column is not 0; -1 past the table's end.
std::int32_t advance(const PidPairTable& table, std::int32_t& cursor,
                     std::int32_t PidPair::*column) {
  do {
    ++cursor;
  } while (cursor < kPidCount && table.entries[cursor].*column == 0);
  return cursor < kPidCount ? table.entries[cursor].*column : -1;
}

std::int32_t firstLeft(const PidPairTable& table, std::int32_t& cursor,
                       std::int32_t PidPair::*column) {
  cursor = -1;
  return advance(table, cursor, column);
}

// The name of the PIDs in the report lines, with the blanks up to the colon.
constexpr char kAudioName[] = "AUDIOPID  ";
constexpr char kCaptionName[] = "CAPTIONPID  ";

// One line per remaining pair: Change for a pair, Add for a surplus new PID, Delete for a
// surplus old one. With the names above, "*** Add    AUDIOPID  : ---- -> %04x\r\n",
// "*** Delete CAPTIONPID  : %04x -> ----\r\n" and so on.
void reportPairs(RunState& run, const PidList& oldList, const PidList& newList, const char* name) {
  PidPairTable& table = run.pidPairs;
  PidPairing pairing = pairPidLists(table, oldList, newList);
  if (!pairing.any) return;
  std::int32_t oldPid = pairing.oldPid;
  std::int32_t newPid = pairing.newPid;
  for (;;) {
    if (oldPid == 0) {
      writeLog(run.timeLog, "*** Add    %s: ---- -> %04x\r\n", name, static_cast<unsigned>(newPid));
    } else if (newPid == 0) {
      writeLog(run.timeLog, "*** Delete %s: %04x -> ----\r\n", name, static_cast<unsigned>(oldPid));
    } else {
      writeLog(run.timeLog, "*** Change %s: %04x -> %04x\r\n", name, static_cast<unsigned>(oldPid),
               static_cast<unsigned>(newPid));
    }
    oldPid = advance(table, table.oldCursor, &PidPair::oldPid);
    newPid = advance(table, table.newCursor, &PidPair::newPid);
    if (oldPid == -1 && newPid == -1) return;
    if (oldPid == -1) oldPid = 0;
    if (newPid == -1) newPid = 0;
  }
}

}  // namespace

bool pidListsDiffer(const PidList& oldList, const PidList& newList) { return oldList != newList; }

PidPairing pairPidLists(PidPairTable& table, const PidList& oldList, const PidList& newList) {
  PidPair* pairs = table.entries;
  for (PidPair& pair : table.entries) pair = PidPair{-1, -1};
  std::int32_t row = 0;
  for (int pid = nextPid(oldList, -1); pid >= 0; pid = nextPid(oldList, pid)) {
    pairs[row++].oldPid = pid;
  }
  row = 0;
  for (int pid = nextPid(newList, -1); pid >= 0; pid = nextPid(newList, pid)) {
    pairs[row++].newPid = pid;
  }
  // Cancel the PIDs that both lists hold.
  for (std::int32_t i = 0; i < kPidCount && pairs[i].oldPid != -1; ++i) {
    for (std::int32_t k = 0; k < kPidCount && pairs[k].newPid != -1; ++k) {
      if (pairs[k].newPid == pairs[i].oldPid) {
        pairs[i].oldPid = 0;
        pairs[k].newPid = 0;
        break;
      }
    }
  }
  std::int32_t oldPid = firstLeft(table, table.oldCursor, &PidPair::oldPid);
  std::int32_t newPid = firstLeft(table, table.newCursor, &PidPair::newPid);
  if (oldPid == -1 && newPid == -1) return PidPairing{0, 0, false};
  return PidPairing{oldPid == -1 ? 0 : oldPid, newPid == -1 ? 0 : newPid, true};
}

bool trackPmtChange(StreamContext& context, const std::uint8_t* packet) {
  // The old lists are held aside, so that the reader's verdict covers this section alone.
  const PidList oldPcr = std::exchange(context.pcrPids, {});
  const PidList oldVideo = std::exchange(context.videoPids, {});
  const PidList oldAudio = std::exchange(context.audioPids, {});
  const PidList oldCaption = std::exchange(context.captionPids, {});

  bool ok = readPmt(context, packet);
  TimeLog& log = context.run.timeLog;
  if (ok && log.stream != nullptr) {
    if (pidListsDiffer(oldPcr, context.pcrPids)) {
      writeLog(log, "*** Change PCRPID     : %04x -> %04x\r\n",
               static_cast<unsigned>(pidAt(oldPcr, 0)),
               static_cast<unsigned>(pidAt(context.pcrPids, 0)));
    }
    if (pidListsDiffer(oldVideo, context.videoPids)) {
      writeLog(log, "*** Change VIDEOPID   : %04x -> %04x\r\n",
               static_cast<unsigned>(pidAt(oldVideo, 0)),
               static_cast<unsigned>(pidAt(context.videoPids, 0)));
    }
    if (pidListsDiffer(oldAudio, context.audioPids)) {
      reportPairs(context.run, oldAudio, context.audioPids, kAudioName);
    }
    if (pidListsDiffer(oldCaption, context.captionPids)) {
      reportPairs(context.run, oldCaption, context.captionPids, kCaptionName);
    }
  }
  return ok;
}

}  // namespace corvane
