#include "output/report.h"

#include <cstdarg>
#include <string>
#include <vector>

#include "output/json.h"
#include "output/service_facts.h"
#include "output/text_stream.h"
#include "ts/timestamp.h"

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

namespace corvane {

namespace {

void put(Report& report, const char* format, ...) CORVANE_PRINTF(2, 3);
void put(Report& report, const char* format, ...) {
  if (report.file.stream == nullptr) return;  // the drop log alone
  va_list args;
  va_start(args, format);
  printText(report.file.stream, report.file.error, format, args);
  va_end(args);
}

long long ll(std::int64_t value) { return static_cast<long long>(value); }

// A JSON string.
void putString(Report& report, const std::string& text) {
  put(report, "%s", jsonString(text).c_str());
}

// "name_ticks": 90 kHz ticks, "name_seconds": the same in seconds.
void putTime(Report& report, const char* name, std::int64_t ticks) {
  put(report, "\"%s_ticks\": %lld, \"%s_seconds\": %.6f", name, ll(ticks), name,
      static_cast<double>(ticks) / 90000.0);
}

void putPcr(Report& report, const char* name, std::int64_t pcr) {
  if (pcr < 0) {
    put(report, "\"%s_ticks\": null, \"%s_seconds\": null", name, name);
  } else {
    putTime(report, name, pcr / 300);
  }
}

// A count, or null when it is not known (below 0).
void putCount(Report& report, std::int64_t count) {
  if (count < 0) {
    put(report, "null");
  } else {
    put(report, "%lld", ll(count));
  }
}

void putPid(Report& report, const char* name, std::int64_t pid) {
  if (pid == 0) {
    put(report, "\"%s\": null", name);
  } else {
    put(report, "\"%s\": %lld", name, ll(pid));
  }
}

// Where the tally of the service with the program number `program` is, or -1.
int tallyIndex(const Report& report, int program) {
  if (report.serviceCount > 0 && report.services[report.lastService].program == program) {
    return report.lastService;
  }
  for (int i = 0; i < report.serviceCount; ++i) {
    if (report.services[i].program == program) return i;
  }
  return -1;
}

// The tally of the service with the program number `program`, made at its first event; null once
// the table is full.
ServiceTally* tallyOf(Report& report, int program) {
  int i = tallyIndex(report, program);
  if (i < 0) {
    if (report.serviceCount == kMaxServices + 1) return nullptr;
    i = report.serviceCount++;
    report.services[i] = ServiceTally{.program = program};
  }
  report.lastService = i;
  return &report.services[i];
}

// The head of an entry of the events list.
void putEventHead(Report& report, const char* type, const Event& event) {
  put(report, "%s\n    {\"type\": \"%s\", \"program\": %d, \"pid\": %d, ",
      report.events++ == 0 ? "" : ",", type, event.program, event.pid);
  put(report, "\"byte_offset\": %lld, \"packet_index\": %lld", ll(event.offset), ll(event.packet));
}

void putJumpEvent(Report& report, const char* type, const Event& event) {
  putEventHead(report, type, event);
  put(report, ", ");
  putTime(report, "before", event.previous);
  put(report, ", ");
  putTime(report, "after", event.source);
  if (event.kind == EventKind::joint) {
    // The time the joint took out of the timeline: the source's step less the output's, also
    // when the source's clock wrapped between them.
    put(report, ", ");
    putTime(report, "gap", ptsStep(event.ptsOffset - event.prevPtsOffset));
  }
  put(report, "}");
}

void putCounts(Report& report, const PidCounts& counts, std::int64_t packets) {
  put(report,
      "\"counts\": {\"packets\": %lld, \"errors\": %lld, \"drops\": %lld, \"scrambled\": %lld}",
      ll(packets), ll(counts.errors), ll(counts.drops), ll(counts.scrambled));
}

void putService(Report& report, int program, int pmtPid, const Service* service,
                const ServiceTally& tally, const PidCounts& counts, std::int64_t packets,
                bool first) {
  put(report, "%s\n    {\"program\": %d, \"pmt_pid\": %d, \"repaired\": %s, ", first ? "" : ",",
      program, pmtPid, service != nullptr && !service->countersOnly ? "true" : "false");
  int pcrPid = service != nullptr ? nextPid(service->pids.pcr, -1) : -1;
  putPid(report, "pcr_pid", pcrPid < 0 || pcrPid == kNullPid ? 0 : pcrPid);
  put(report, ", \"streams\": [");
  int streams = 0;
  if (service != nullptr) {
    struct RoleList {
      StreamRole role;
      const PidList* pids;
    };
    for (RoleList list : {RoleList{StreamRole::video, &service->pids.video},
                          RoleList{StreamRole::audio, &service->pids.audio},
                          RoleList{StreamRole::caption, &service->pids.captions},
                          RoleList{StreamRole::other, &service->pids.others}}) {
      for (int pid = nextPid(*list.pids, -1); pid >= 0; pid = nextPid(*list.pids, pid)) {
        put(report, "%s{\"pid\": %d, \"kind\": \"%s\", \"coding\": \"%s\"}",
            streams++ == 0 ? "" : ", ", pid, roleNames(list.role).key,
            codingNames(codingOf(*service, pid, list.role)).key);
      }
    }
  }
  put(report, "],\n     ");
  putPcr(report, "first_pcr", tally.firstPcr);
  put(report, ", ");
  putPcr(report, "output_first_pcr", tally.firstOutput);
  put(report, ",\n     ");
  putPcr(report, "output_last_pcr", tally.lastOutput);
  put(report, ", \"joints\": %lld, \"wraps\": %lld, \"pmt_changes\": %lld, ", ll(tally.joints),
      ll(tally.wraps), ll(tally.pmtChanges));
  put(report, "\"unjoined_stretches\": %lld, ", ll(tally.unjoinedStretches));
  put(report, "\"packets_before_random_access\": ");
  putCount(report, tally.randomAccessPacket);
  put(report, ",\n     ");
  putCounts(report, counts, packets);
  put(report, "}");
}

// hh:mm:ss.mmm of a 27 MHz time, or "-" before the service's first PCR.
std::string clockText(std::int64_t pcr) {
  if (pcr < 0) return "-";
  std::int64_t ms = pcr / 27000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ll(ms / 3600000),
                ll(ms / 60000 % 60), ll(ms / 1000 % 60), ll(ms % 1000));
  return text;
}

}  // namespace

bool reportLeadsTo(const Report& report, platform::FileHandle file) {
  return outputLeadsTo(report.file, file) || outputLeadsTo(report.dropLog, file);
}

IoStatus openDropLog(Report& report, const platform::Path& path, const ReportHead& head,
                     platform::FileHandle source, platform::FileHandle timeLog) {
  return openOutputFile(report.dropLog, path,
                        {head.destination, head.source, report.file.path, report.file.temporary},
                        source, timeLog);
}

IoStatus openReport(Report& report, const platform::Path& path, const ReportHead& head,
                    platform::FileHandle source, platform::FileHandle timeLog) {
  if (IoStatus status =
          openOutputFile(report.file, path, {head.destination, head.source}, source, timeLog);
      status.failed) {
    return status;
  }

  put(report, "{\n  \"report\": \"corvane\", \"format\": 1, \"version\": \"%s\",\n  \"source\": ",
      CORVANE_VERSION);
  putString(report, platform::pathInUtf8(head.source));
  put(report, ",\n  \"destination\": ");
  putString(report, platform::pathInUtf8(head.destination));
  put(report,
      ",\n  \"settings\": {\"nogop\": %s, \"pmtcheck\": %s, \"log\": %s, \"services\": \"%s\", "
      "\"status\": \"%s\", \"joints\": \"%s\"},\n  \"events\": [",
      head.nogop ? "true" : "false", head.pmtcheck ? "true" : "false", head.log ? "true" : "false",
      head.allServices ? "all" : "one", head.posixStatus ? "posix" : "classic",
      head.cleanJoints ? "clean" : "classic");
  return IoStatus{};
}

void reportEvent(Report& report, const Event& event) {
  switch (event.kind) {
    case EventKind::packetCounted:
      ++report.packets;
      return;
    case EventKind::pesRebased:
    case EventKind::jumpTestPes:
      ++report.pes;
      return;
    case EventKind::erroredPacket:
      ++report.erroredPackets;
      return;
    case EventKind::pcrWithoutRoom:
      ++report.pcrsWithoutRoom;
      return;
    case EventKind::straySection:
      ++report.straySections;
      return;
    case EventKind::cutOffEnd:
      report.cutOffBytes = event.value;
      return;
    case EventKind::syncLost:
      ++report.syncLosses;
      report.syncLostBytes += event.value;
      return;
    case EventKind::badSection:
      ++report.badSections;
      return;
    default:
      break;
  }
  ServiceTally* tally = tallyOf(report, event.program);
  if (tally == nullptr) return;
  switch (event.kind) {
    case EventKind::pcrRebased:
      ++report.pcrs;
      // As written: a value rebased below 0 or past 2^33 is stored modulo 2^33 x 300.
      if (tally->firstPcr < 0) {
        tally->firstPcr = event.source;
        tally->firstOutput = pcrAsWritten(event.value);
      }
      tally->lastOutput = pcrAsWritten(event.value);
      tally->lastSource = event.source;
      return;
    case EventKind::drop:
      // The first drops, with the times of their service's last PCR, in the source and out.
      if (report.listedDrops++ >= kListedDamage) return;
      putEventHead(report, "drop", event);
      put(report, ", \"counter\": %lld, \"expected\": %lld, ", ll(event.value), ll(event.previous));
      putPcr(report, "source", tally->lastSource);
      put(report, ", ");
      putPcr(report, "output", tally->lastOutput);
      put(report, "}");
      if (report.dropLog.stream != nullptr) {
        printTo(report.dropLog, "drop (pid: 0x%04X, counter: %lld, expected: %lld, time: %s)\n",
                event.pid, ll(event.value), ll(event.previous),
                clockText(tally->lastOutput).c_str());
      }
      return;
    case EventKind::randomAccess:
      tally->randomAccessPacket = event.packet;
      return;
    case EventKind::joint:
      ++tally->joints;
      putJumpEvent(report, "joint", event);
      return;
    case EventKind::unjoinedStretch:
      ++tally->unjoinedStretches;
      return;
    case EventKind::wrap:
      ++tally->wraps;
      putJumpEvent(report, "wrap", event);
      return;
    case EventKind::pidChanged:
      ++tally->pmtChanges;
      putEventHead(report, "pmt-change", event);
      put(report, ", \"stream\": \"%s\", ", roleNames(event.role).key);
      putPid(report, "from", event.previous);
      put(report, ", ");
      putPid(report, "to", event.value);
      put(report, "}");
      return;
    default:
      return;
  }
}

namespace {

// The services, the PIDs and the counts into the report, and the PIDs' lines into the drop log;
// without counters (the run ended before the pass), empty lists.
void putServices(Report& report, const Multiplex* multiplex, const ContinuityCounters* counters) {
  if (report.servicesWritten) return;
  report.servicesWritten = true;
  // Each service's counts, in the order of its program, and all of them.
  CountSums sums = multiplex != nullptr ? sumCounts(*multiplex, *counters) : CountSums{};
  put(report, "%s],\n  \"services\": [", report.events == 0 ? "" : "\n  ");
  for (std::size_t i = 0; i < sums.programs.size(); ++i) {
    const Program& program = multiplex->programs[i];
    int tally = tallyIndex(report, program.number);
    putService(report, program.number, program.pmtPid, program.service.get(),
               tally >= 0 ? report.services[tally] : ServiceTally{}, sums.programs[i],
               sums.programPackets[i], i == 0);
  }
  put(report, "%s],\n  \"pids\": [", sums.programs.empty() ? "" : "\n  ");
  bool first = true;
  if (report.dropLog.stream != nullptr && report.listedDrops > 0) printTo(report.dropLog, "\n");
  auto visit = [&](int pid, PidOwner owner) {
    const PidCounts& counts = counters->counts[pid];
    put(report, "%s\n    {\"pid\": %d, ", first ? "" : ",", pid);
    putPid(report, "program", owner.program);
    put(report, ", \"kind\": \"%s\", ", owner.kind);
    putCounts(report, counts, counters->packets[pid]);
    put(report, "}");
    first = false;
    if (report.dropLog.stream != nullptr) {
      printTo(report.dropLog,
              "pid: 0x%04X, error: %lld, drop: %lld, scrambling: %lld, packet: %lld, name: %s\n",
              pid, ll(counts.errors), ll(counts.drops), ll(counts.scrambled),
              ll(counters->packets[pid]), owner.kind);
    }
  };
  if (multiplex != nullptr) eachSeenPid(*multiplex, *counters, visit);
  put(report, "%s],\n  ", first ? "" : "\n  ");
  putCounts(report, sums.all, sums.allPackets);
  put(report, ",\n");
}

}  // namespace

void reportServices(Report& report, const Multiplex& multiplex,
                    const ContinuityCounters& counters) {
  putServices(report, &multiplex, &counters);
}

IoStatus finishReport(Report& report, const ReportEnd& end) {
  if (!reportWanted(report)) return IoStatus{};
  putServices(report, nullptr, nullptr);
  put(report,
      "  \"damage\": {\"errored_packets\": %lld, \"pcr_without_room\": %lld, "
      "\"stray_sections\": %lld, ",
      ll(report.erroredPackets), ll(report.pcrsWithoutRoom), ll(report.straySections));
  put(report, "\"cut_off_end_bytes\": ");
  putCount(report, report.cutOffBytes);
  put(report, ", \"sync_losses\": %lld, \"sync_lost_bytes\": %lld, \"bad_sections\": %lld},\n",
      ll(report.syncLosses), ll(report.syncLostBytes), ll(report.badSections));
  put(report, "  \"rewritten\": {\"packets\": %lld, \"pcrs\": %lld, \"pes\": %lld},\n",
      ll(report.packets), ll(report.pcrs), ll(report.pes));
  put(report, "  \"sizes\": {\"source_file\": ");
  putCount(report, end.sizes.sourceFile);
  put(report, ", \"source_read\": %lld, \"destination\": ", ll(end.sizes.sourceRead));
  putCount(report, end.sizes.destination);
  put(report, "},\n  \"outcome\": \"%s\", \"reason\": \"%s\",\n  \"console\": ", end.outcome,
      end.reason);
  putString(report, end.console);
  put(report, "\n}\n");

  IoStatus status = finishOutputFile(report.file);
  IoStatus log = finishOutputFile(report.dropLog);
  return status.failed ? status : log;
}

void abandonReport(Report& report) {
  abandonOutputFile(report.file);
  abandonOutputFile(report.dropLog);
}

}  // namespace corvane
