#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "unknown"
#endif

#include "driver/command_line.h"
#include "output/console.h"
#include "output/messages.h"
#include "output/outputs.h"
#include "output/refusals.h"
#include "output/service_list.h"
#include "service/multiplex.h"
#include "service/survey.h"
#include "ts/continuity.h"

namespace corvane {

namespace {

static_assert(kBufferSize % 4096 == 0 && bufferSizeFor(kCleanRingSize) % 4096 == 0,
              "the packet buffer is allocated in whole pages");

// How a run ended, and why: the report's reason, a code that scripts match.
struct RunEnding {
  RunEnd end;
  const char* reason = reasonCode(EndReason::none);
  // Ended before the destination was opened, by a signal or an output that cannot be opened: the
  // report, the picture and the time log go too.
  bool leavesNothing = false;
};

RunEnding interruptedBy(int signal, bool leavesNothing) {
  printErr(msg::kInterrupted, signal);  // シグナル %d を受けて中断しました.
  return RunEnding{RunEnd::interrupted, reasonCode(EndReason::interrupted), leavesNothing};
}

RunEnding failedWith(EndReason reason) { return RunEnding{RunEnd::failed, reasonCode(reason)}; }

RunEnding showUsage() {
  writeErr(msg::kUsageTitle);
  writeErr(msg::kUsageBody);
  writeErr(msg::kUsagePressEnter);  // Enterキーを押して下さい...
  char answer;
  if (std::scanf("%c", &answer) != 1) answer = 0;
  return RunEnding{RunEnd::usage, reasonCode(EndReason::usage)};
}

enum class Clock { start, end };

// The start or the end line with the local time.
void printTime(Clock line) {
  platform::LocalTime now = platform::localTime();
  // 開始時刻 %02d時%02d分%02d秒 or 終了時刻 %02d時%02d分%02d秒
  printOut(line == Clock::start ? msg::kStartTime : msg::kEndTime, now.hour, now.minute,
           now.second);
}

RunEnding sourceNotOpened() {
  // 読込みファイルオープンエラー. error code %d.
  printErr(msg::kReadOpenError, platform::lastErrorCode());
  return failedWith(EndReason::sourceOpenError);
}

// A report, a drop log or a picture that cannot be written where it is asked for, or whose name
// leads to a file of the run: the run is refused before anything of it is written, and the time
// log, opened first, goes as well.
RunEnding leavingNothing(EndReason reason) {
  return RunEnding{RunEnd::failed, reasonCode(reason), true};
}

RunEnding reportNotOpened(const CommandLine& line) {
  printErr(msg::kReportOpenFailed, platform::pathForConsole(line.report).c_str());
  return leavingNothing(EndReason::reportOpenError);
}

RunEnding dropLogNotOpened(const CommandLine& line) {
  printErr(msg::kDropLogOpenFailed, platform::pathForConsole(line.dropLog).c_str());
  return leavingNothing(EndReason::dropLogOpenError);
}

RunEnding plotNotOpened(const CommandLine& line) {
  printErr(msg::kPlotOpenFailed, platform::pathForConsole(line.plot).c_str());
  return leavingNothing(EndReason::plotOpenError);
}

const char* outcomeName(RunEnd end) {
  switch (end) {
    case RunEnd::complete:
      return "complete";
    case RunEnd::refused:
      return "refused";
    case RunEnd::stopped:
    case RunEnd::interrupted:
      return "stopped";
    default:
      return "failed";
  }
}

platform::FileHandle openSource(const platform::Path& path) {
  return platform::namesStandardStream(path) ? platform::openStandardInput()
                                             : platform::openSourceFile(path);
}

// What the run needs besides its files, allocated once.
struct RunMemory {
  std::uint8_t* buffer;
  ContinuityCounters& counters;
};

// The bytes the destination holds once the pass has ended and the destination is settled.
std::int64_t destinationBytes(const Destination& output, const PassBuffer& buffer, PassEnd end) {
  return end == PassEnd::complete || !output.cuttable ? buffer.written
                                                      : buffer.written / kBlockSize * kBlockSize;
}

// The pass from the open destination on, and how it ended.
RunEnding passToEnd(PacketRules& rules, SourceReader& source, PassBuffer& buffer,
                    Destination& output, RunOutputs& outputs) {
  startProgress(outputs.progress);
  PassOutcome outcome = rewriteFile(rules, source, buffer, output, passScheduleFor(buffer));
  if (outcome.end == PassEnd::complete) finishProgress(outputs.progress);
  if (outputs.notPacketBytes > 0) {
    // パケットでない %lld バイトをそのまま書き込みました.
    printErr(msg::kNotPacketBytes, static_cast<long long>(outputs.notPacketBytes));
  }
  PidCounts damage;
  for (const PidCounts& counts : rules.counters.counts) damage += counts;
  if (damage.errors > 0 || damage.drops > 0 || damage.scrambled > 0) {
    // エラー %lld, ドロップ %lld, スクランブル %lld パケット.
    printErr(msg::kDamageCounted, static_cast<long long>(damage.errors),
             static_cast<long long>(damage.drops), static_cast<long long>(damage.scrambled));
  }
  // Only the one service of a recording stops the pass.
  if (outcome.stop != Refusal::none) {
    printRefusal(outcome.stop, rules.multiplex.programs.front().service->pids);
  }
  outcome = settleDestination(output, buffer, outcome);
  outputs.sizes.destination = destinationBytes(output, buffer, outcome.end);
  switch (outcome.end) {
    case PassEnd::complete:
      return RunEnding{RunEnd::complete};
    case PassEnd::stopped:
      return RunEnding{RunEnd::stopped, refusalCode(outcome.stop)};
    case PassEnd::interrupted:
      return interruptedBy(platform::cancelSignal(), false);
    case PassEnd::readFailed:
      printErr(msg::kReadError, outcome.errorCode);  // リードエラー. error code %d.
      return failedWith(EndReason::readError);
    case PassEnd::writeFailed:
      // データ書き込み中にエラーが発生しました. error code %d.
      printErr(msg::kWriteError, outcome.errorCode);
      return failedWith(EndReason::writeError);
  }
  return failedWith(EndReason::writeError);
}

// The survey and the pass over the open source.
RunEnding repair(const CommandLine& line, RunOutputs& outputs, platform::FileHandle sourceFile,
                 RunMemory memory) {
  PassBuffer buffer{memory.buffer, line.settings.cleanJoints ? kCleanRingSize : kRingSize};
  SourceReader source{sourceFile};
  writeOut(msg::kSurveyProgress);  // PAT,PMT,PCR,GOP 検索中
  IoStatus firstRead = readFirstBlock(source, buffer);
  outputs.sizes.sourceRead = buffer.read;
  if (firstRead.failed) {
    printErr(msg::kReadError, firstRead.code);  // リードエラー. error code %d.
    return failedWith(EndReason::readError);
  }
  // The services of the recording and the table that routes its PIDs to them.
  std::unique_ptr<Multiplex> multiplex(new (std::nothrow) Multiplex);
  if (multiplex == nullptr) {
    writeErr(msg::kMemoryAllocFailed);  // メモリの確保に失敗しました
    return RunEnding{RunEnd::noMemory, reasonCode(EndReason::noMemory)};
  }
  auto blockBytes = static_cast<std::int32_t>(buffer.read);
  // The packets are found where the sync byte recurs: without a grid in the first block, there
  // are none to survey. A first read that found less than a block found the source's end.
  Framing framing;
  if (!detectFraming(buffer.bytes, buffer.read, buffer.read < kBlockSize, &framing)) {
    printRefusal(Refusal::noSecondPcr, ProgramPids{});
    return RunEnding{RunEnd::refused, refusalCode(Refusal::noSecondPcr)};
  }
  if (line.settings.allServices) {
    if (Refusal refusal = surveyMultiplex(*multiplex, framing, buffer.bytes, blockBytes);
        refusal != Refusal::none) {
      printRefusal(refusal, ProgramPids{});
      return RunEnding{RunEnd::refused, refusalCode(refusal)};
    }
    printServices(*multiplex);
    multiplex->followPmts = line.settings.pmtcheck;
  } else {
    Service service;
    if (Refusal refusal =
            surveyStream(service, line.settings.nogop, framing, buffer.bytes, blockBytes);
        refusal != Refusal::none) {
      printRefusal(refusal, service.pids);
      return RunEnding{RunEnd::refused, refusalCode(refusal)};
    }
    adoptService(*multiplex, service, line.settings.pmtcheck);
  }
  multiplex->cleanJoints = line.settings.cleanJoints;
  // A signal during the survey: nothing is made.
  if (int signal = platform::cancelSignal()) return interruptedBy(signal, true);

  Destination output;
  RunEnding ending;
  if (IoStatus status = openDestination(output, line.destination, sourceFile, outputs.timeLog.file);
      status.failed) {
    printErr(msg::kWriteOpenError, status.code);  // 書込みファイルオープンエラー. error code %d.
    ending = failedWith(EndReason::destinationOpenError);
  } else if (reportLeadsTo(outputs.report, output.file) ||
             outputLeadsTo(outputs.plot.file, output.file)) {
    // Nothing of the source is in it yet.
    closeDestination(output);
    bool report = reportLeadsTo(outputs.report, output.file);
    abandonReport(outputs.report);
    abandonPlot(outputs.plot);
    return report ? reportNotOpened(line) : plotNotOpened(line);
  } else {
    outputs.timeLog.programs = line.settings.allServices;
    outputs.progress.streamed = !platform::isRegularFile(sourceFile);
    if (!platform::fileSize(sourceFile, &outputs.progress.fileSize)) outputs.progress.fileSize = 0;
    if (plotWanted(outputs.plot)) startPlot(outputs.plot, *multiplex, memory.counters);
    EventSink events = sinkTo(outputs);
    PacketRules rules{*multiplex, memory.counters, events, PacketWalker{framing}, ReadAhead{}};
    ending = passToEnd(rules, source, buffer, output, outputs);
  }
  outputs.sizes.sourceRead = buffer.read;
  reportServices(outputs.report, *multiplex, memory.counters);
  plotServices(outputs.plot, *multiplex, memory.counters);
  return ending;
}

// The time log, the source and the run on them. The time log is left open for the caller.
RunEnding runOnFiles(const CommandLine& line, RunOutputs& outputs, RunMemory memory) {
  // Standard input is taken before the time log is opened, which must not be it; a named source
  // after, so that a log that cannot be opened is reported first.
  platform::FileHandle source = platform::kNoFile;
  if (platform::namesStandardStream(line.source)) {
    source = openSource(line.source);
    if (source == platform::kNoFile) return sourceNotOpened();
  }
  if (line.settings.log) {
    platform::Path logPath = timeLogPath(line);
    // A log name that leads to the source itself is refused like one that cannot be opened.
    if (!openTimeLog(outputs.timeLog, logPath, line.source, source)) {
      printErr(msg::kLogOpenFailed, platform::pathForConsole(logPath).c_str());
      platform::closeFile(source);
      return RunEnding{RunEnd::logNotOpened, reasonCode(EndReason::logOpenError)};
    }
  }
  if (source == platform::kNoFile) {
    source = openSource(line.source);
    if (source == platform::kNoFile) return sourceNotOpened();
  }
  const Settings& settings = line.settings;
  ReportHead head{line.source,
                  line.destination,
                  settings.nogop,
                  settings.pmtcheck,
                  settings.log,
                  settings.allServices,
                  settings.status == StatusStyle::posix,
                  settings.cleanJoints};
  if (!line.report.empty() &&
      openReport(outputs.report, line.report, head, source, outputs.timeLog.file).failed) {
    platform::closeFile(source);
    return reportNotOpened(line);
  }
  if (!line.dropLog.empty() &&
      openDropLog(outputs.report, line.dropLog, head, source, outputs.timeLog.file).failed) {
    abandonReport(outputs.report);
    platform::closeFile(source);
    return dropLogNotOpened(line);
  }
  if (!line.plot.empty() &&
      openPlot(outputs.plot, line.plot, head, outputs.report, source, outputs.timeLog.file)
          .failed) {
    abandonReport(outputs.report);
    platform::closeFile(source);
    return plotNotOpened(line);
  }
  if (reportWanted(outputs.report) && platform::isRegularFile(source)) {
    platform::fileSize(source, &outputs.sizes.sourceFile);
  }
  RunEnding ending = repair(line, outputs, source, memory);
  platform::closeFile(source);
  return ending;
}

// The run, and the status style it ends with.
RunEnd run(const std::vector<platform::Path>& arguments, SettingsPlace settingsPlace,
           StatusStyle& style) {
  Settings defaults;
  if (settingsPlace == SettingsPlace::besideExecutable) {
    platform::Path executable;
    if (!platform::executablePath(&executable)) return RunEnd::failed;  // without a message
    defaults = loadSettingsFile(replaceExtension(executable, CORVANE_PATH(".ini")));
  } else if (platform::Path settingsPath; platform::userSettingsPath(&settingsPath)) {
    defaults = loadSettingsFile(settingsPath);
  }  // With no configuration folder to keep it in, the defaults apply.

  CommandLine line;
  bool accepted = parseCommandLine(arguments, defaults, &line);
  style = line.settings.status;
  if (!accepted) return showUsage().end;
  if (line.asked == Asked::version) {
    printOut(msg::kVersion, CORVANE_VERSION);  // corvane %s
    return RunEnd::answered;
  }
  if (line.asked == Asked::help) {
    writeOut(msg::kUsageTitle);
    writeOut(msg::kUsageBody);
    return RunEnd::answered;
  }
  bool toStandardOutput = platform::namesStandardStream(line.destination);
  // Recordings are not written to terminals.
  if (toStandardOutput && platform::standardOutputIsTerminal()) return showUsage().end;
  // Standard output carries the recording, or the JSON lines, and nothing else.
  sendOutputTextsToStandardError(toStandardOutput || line.settings.jsonProgress);
  keepErrorTexts(!line.report.empty() || !line.plot.empty());
  RunOutputs outputs;
  if (line.settings.jsonProgress) outputs.progress.json = toStandardOutput ? stderr : stdout;

  std::unique_ptr<std::uint8_t, void (*)(void*)> buffer(
      static_cast<std::uint8_t*>(platform::allocatePageAligned(
          bufferSizeFor(line.settings.cleanJoints ? kCleanRingSize : kRingSize))),
      platform::freePageAligned);
  if (buffer == nullptr) {
    writeErr(msg::kReadBufferAllocFailed);  // 読込みバッファメモリの確保に失敗しました.
    endProgress(outputs.progress, "failed", reasonCode(EndReason::noMemory));
    return RunEnd::noMemory;
  }
  CountersPointer counters = makeContinuityCounters();
  if (counters == nullptr) {
    writeErr(msg::kCcTableAllocFailed);  // 巡回カウンタメモリの確保に失敗しました.
    endProgress(outputs.progress, "failed", reasonCode(EndReason::noMemory));
    return RunEnd::noMemory;
  }

  printTime(Clock::start);
  RunEnding ending = runOnFiles(line, outputs, RunMemory{buffer.get(), *counters});
  if (ending.leavesNothing) {
    abandonReport(outputs.report);
    abandonPlot(outputs.plot);
    if (outputs.timeLog.stream != nullptr) {
      closeTimeLog(outputs.timeLog);
      platform::removeFile(timeLogPath(line));
    }
  }
  // Lines that did not reach the time log make the run incomplete: the destination is kept, and
  // the run ends as after any other write error. A failure before is reported already.
  if (IoStatus log = closeTimeLog(outputs.timeLog); log.failed && ending.end != RunEnd::failed) {
    printErr(msg::kWriteError, log.code);  // データ書き込み中にエラーが発生しました. error code %d.
    ending = failedWith(EndReason::logWriteError);
  }
  // The picture before the report, whose outcome then tells whether the picture was written.
  if (IoStatus plot = finishPlot(outputs.plot, ReportEnd{outputs.sizes, outcomeName(ending.end),
                                                         ending.reason, errorTextsInUtf8()});
      plot.failed) {
    printErr(msg::kWriteError,
             plot.code);  // データ書き込み中にエラーが発生しました. error code %d.
    ending = failedWith(EndReason::plotWriteError);
  }
  if (IoStatus report = finishReport(
          outputs.report,
          ReportEnd{outputs.sizes, outcomeName(ending.end), ending.reason, errorTextsInUtf8()});
      report.failed) {
    printErr(msg::kWriteError,
             report.code);  // データ書き込み中にエラーが発生しました. error code %d.
    ending = failedWith(EndReason::reportWriteError);
  }
  endProgress(outputs.progress, outcomeName(ending.end), ending.reason);
  if (ending.end != RunEnd::complete) return ending.end;
  printTime(Clock::end);
  return RunEnd::complete;
}

}  // namespace

int exitStatus(RunEnd end, StatusStyle style, int signal) {
  if (style == StatusStyle::posix) {
    switch (end) {
      case RunEnd::complete:
      case RunEnd::answered:
        return 0;
      case RunEnd::interrupted:
        return 128 + signal;
      case RunEnd::usage:
        return 2;
      case RunEnd::refused:
        return 3;
      case RunEnd::stopped:
        return 4;
      case RunEnd::noMemory:
      case RunEnd::logNotOpened:
      case RunEnd::failed:
        return 1;
    }
    return 1;
  }
  switch (end) {
    case RunEnd::complete:
    case RunEnd::failed:
    case RunEnd::interrupted:
      return 1;
    case RunEnd::answered:
    case RunEnd::usage:
    case RunEnd::noMemory:
    case RunEnd::logNotOpened:
    case RunEnd::refused:
    case RunEnd::stopped:
      return 0;
  }
  return 1;
}

PassOutcome settleDestination(Destination& output, const PassBuffer& buffer, PassOutcome outcome) {
  // After a failure the cut and the close go as far as the system still lets them; otherwise
  // the first of them to fail is the outcome.
  bool failed = outcome.end == PassEnd::readFailed || outcome.end == PassEnd::writeFailed;
  IoStatus cut = outcome.end != PassEnd::complete ? cutToWholeBlocks(output, buffer) : IoStatus{};
  IoStatus closed = closeDestination(output);
  if (failed) return outcome;
  if (cut.failed) return PassOutcome{PassEnd::writeFailed, cut.code, outcome.stop};
  if (closed.failed) return PassOutcome{PassEnd::writeFailed, closed.code, outcome.stop};
  return outcome;
}

int runCorvane(const std::vector<platform::Path>& arguments, SettingsPlace settingsPlace) {
  StatusStyle style = StatusStyle::classic;
  RunEnd end = run(arguments, settingsPlace, style);
  return exitStatus(end, style, platform::cancelSignal());
}

}  // namespace corvane
