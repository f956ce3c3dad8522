// The report: a JSON file that tells scripts what a run did. It is written under a temporary name
// as the run goes, the joints, wraps and PMT changes as their events arrive, so that its memory
// stays bounded however long the recording is; the end of the run adds the services, the damage,
// the counts and the outcome, and only then is it renamed to its own name.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "platform/platform.h"
#include "service/events.h"
#include "service/multiplex.h"
#include "ts/continuity.h"

namespace corvane {

// What the report tallies for one service from its events.
struct ServiceTally {
  int program = 0;                // program_number
  std::int64_t firstPcr = -1;     // source, 27 MHz; -1 until its first PCR
  std::int64_t firstOutput = -1;  // output, 27 MHz
  std::int64_t lastOutput = -1;
  std::int64_t lastSource = -1;
  std::int64_t joints = 0;
  std::int64_t wraps = 0;
  std::int64_t pmtChanges = 0;
  std::int64_t unjoinedStretches = 0;
  std::int64_t randomAccessPacket = -1;  // the packet index of its first random-access picture
};

// The first drops and errored packets are listed with their places; the rest are counted.
constexpr std::int64_t kListedDamage = 100;

struct Report {
  OutputFile file;
  std::int64_t events = 0;  // entries of the events list so far
  // The drop log: the first drops and errored packets, then a line for each PID.
  OutputFile dropLog;
  std::int64_t listedDrops = 0;
  std::int64_t listedErrors = 0;

  ServiceTally services[kMaxServices + 1];
  int serviceCount = 0;
  int lastService = 0;  // the tally the last event went to

  std::int64_t packets = 0;  // packets the rules rewrote
  std::int64_t pcrs = 0;
  std::int64_t pes = 0;
  std::int64_t erroredPackets = 0;
  std::int64_t pcrsWithoutRoom = 0;
  std::int64_t straySections = 0;
  std::int64_t cutOffBytes = -1;  // the length of a packet the source ends inside, -1 for none
  std::int64_t syncLosses = 0;    // stretches of bytes that are not packets
  std::int64_t syncLostBytes = 0;
  std::int64_t badSections = 0;  // PAT and PMT sections whose CRC_32 failed or that were cut short
  bool servicesWritten = false;
};

// What the report's head says of the run.
struct ReportHead {
  platform::Path source;
  platform::Path destination;
  bool nogop, pmtcheck, log, allServices, posixStatus, cleanJoints;
};

// Opens the report under its temporary name, `path` with ".tmp", and writes its head. Fails with
// nothing open when the temporary file cannot be made, or when either name leads to the open
// source, to the open time log (kNoFile when none) or to the destination's name.
IoStatus openReport(Report& report, const platform::Path& path, const ReportHead& head,
                    platform::FileHandle source, platform::FileHandle timeLog);

// Opens the drop log under its temporary name, as the report is opened; it fails as well for a
// name that is the report's (either of its names).
IoStatus openDropLog(Report& report, const platform::Path& path, const ReportHead& head,
                     platform::FileHandle source, platform::FileHandle timeLog);

// True when an event is to reach the report: the report or the drop log is written.
inline bool reportWanted(const Report& report) {
  return report.file.stream != nullptr || report.dropLog.stream != nullptr;
}

// True when a name of the report or of the drop log leads to the open file.
bool reportLeadsTo(const Report& report, platform::FileHandle file);

// Tallies an event, and writes the joints, wraps and PMT changes; nothing while no report is open.
void reportEvent(Report& report, const Event& event);

// Writes each service's PIDs, codings and tallies: every program of the multiplex, which for a
// one-service recording is its one service; none after a refusal. Then every PID the source
// held, with its program, its kind and its counts, and the counts of each service and of all.
void reportServices(Report& report, const Multiplex& multiplex, const ContinuityCounters& counters);

// What the run knows of its files at its end; -1 where unknown.
struct FileSizes {
  std::int64_t sourceFile = -1;  // a regular source's size
  std::int64_t sourceRead = 0;
  std::int64_t destination = -1;
};

// How the run ended, for the report's last lines.
struct ReportEnd {
  const FileSizes& sizes;
  const char* outcome;         // complete, refused, stopped or failed
  const char* reason;          // a stable code: none, several-services, read-error, ...
  const std::string& console;  // what the run printed on standard error, in UTF-8
};

// Writes the rest, closes the file and gives it its name. On failure the temporary file is
// removed, and the status has the system's code.
IoStatus finishReport(Report& report, const ReportEnd& end);

// Closes and removes a report, and a drop log, that are not to be finished.
void abandonReport(Report& report);

}  // namespace corvane
