#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>

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

static_assert(kBufferSize % 4096 == 0, "the packet buffer is allocated in whole pages");

RunEnd showUsage() {
  writeErr(msg::kUsageTitle);
  writeErr(msg::kUsageBody);
  writeErr(msg::kUsagePressEnter);  // Enterキーを押して下さい...
  char answer;
  if (std::scanf("%c", &answer) != 1) answer = 0;
  return RunEnd::usage;
}

enum class Clock { start, end };

// The start or the end line with the local time.
void printTime(Clock line) {
  platform::LocalTime now = platform::localTime();
  // 開始時刻 %02d時%02d分%02d秒 or 終了時刻 %02d時%02d分%02d秒
  printOut(line == Clock::start ? msg::kStartTime : msg::kEndTime, now.hour, now.minute,
           now.second);
}

RunEnd sourceNotOpened() {
  // 読込みファイルオープンエラー. error code %d.
  printErr(msg::kReadOpenError, platform::lastErrorCode());
  return RunEnd::failed;
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

// The survey and the pass over the open source.
RunEnd repair(const CommandLine& line, RunOutputs& outputs, platform::FileHandle sourceFile,
              RunMemory memory) {
  PassBuffer buffer{memory.buffer};
  SourceReader source{sourceFile};
  writeOut(msg::kSurveyProgress);  // PAT,PMT,PCR,GOP 検索中
  if (IoStatus status = readFirstBlock(source, buffer); status.failed) {
    printErr(msg::kReadError, status.code);  // リードエラー. error code %d.
    return RunEnd::failed;
  }
  Service service;
  std::unique_ptr<Multiplex> multiplex;
  auto blockBytes = static_cast<std::int32_t>(buffer.read);
  if (line.settings.allServices) {
    multiplex.reset(new (std::nothrow) Multiplex);
    if (multiplex == nullptr) {
      writeErr(msg::kMemoryAllocFailed);  // メモリの確保に失敗しました
      return RunEnd::noMemory;
    }
    if (Refusal refusal = surveyMultiplex(*multiplex, buffer.bytes, blockBytes);
        refusal != Refusal::none) {
      printRefusal(refusal, service.pids);
      return RunEnd::refused;
    }
    printServices(*multiplex);
  } else if (Refusal refusal = surveyStream(service, line.settings.nogop, buffer.bytes, blockBytes);
             refusal != Refusal::none) {
    printRefusal(refusal, service.pids);
    return RunEnd::refused;
  }

  Destination output;
  if (IoStatus status = openDestination(output, line.destination, sourceFile, outputs.timeLog.file);
      status.failed) {
    printErr(msg::kWriteOpenError, status.code);  // 書込みファイルオープンエラー. error code %d.
    return RunEnd::failed;
  }
  outputs.progress.streamed = !platform::isRegularFile(sourceFile);
  if (!platform::fileSize(sourceFile, &outputs.progress.fileSize)) outputs.progress.fileSize = 0;
  startProgress(outputs.progress);
  EventSink events = sinkTo(outputs);
  PacketRules rules{service, memory.counters, events, line.settings.pmtcheck, multiplex.get()};
  PassOutcome outcome = rewriteFile(rules, source, buffer, output);
  if (outcome.end == PassEnd::complete) finishProgress();
  if (outcome.stop != Refusal::none) printRefusal(outcome.stop, service.pids);
  outcome = settleDestination(output, buffer, outcome);
  switch (outcome.end) {
    case PassEnd::complete:
      return RunEnd::complete;
    case PassEnd::stopped:
      return RunEnd::stopped;
    case PassEnd::readFailed:
      printErr(msg::kReadError, outcome.errorCode);  // リードエラー. error code %d.
      return RunEnd::failed;
    case PassEnd::writeFailed:
      // データ書き込み中にエラーが発生しました. error code %d.
      printErr(msg::kWriteError, outcome.errorCode);
      return RunEnd::failed;
  }
  return RunEnd::failed;
}

// The time log, the source and the run on them. The time log is left open for the caller.
RunEnd runOnFiles(const CommandLine& line, RunOutputs& outputs, RunMemory memory) {
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
      return RunEnd::logNotOpened;
    }
  }
  if (source == platform::kNoFile) {
    source = openSource(line.source);
    if (source == platform::kNoFile) return sourceNotOpened();
  }
  RunEnd end = repair(line, outputs, source, memory);
  platform::closeFile(source);
  return end;
}

RunEnd run(const std::vector<platform::Path>& arguments, SettingsPlace settingsPlace) {
  Settings defaults;
  if (settingsPlace == SettingsPlace::besideExecutable) {
    platform::Path executable;
    if (!platform::executablePath(&executable)) return RunEnd::failed;  // without a message
    defaults = loadSettingsFile(replaceExtension(executable, CORVANE_PATH(".ini")));
  } else if (platform::Path settingsPath; platform::userSettingsPath(&settingsPath)) {
    defaults = loadSettingsFile(settingsPath);
  }  // With no configuration folder to keep it in, the defaults apply.

  CommandLine line;
  if (!parseCommandLine(arguments, defaults, &line)) return showUsage();
  bool toStandardOutput = platform::namesStandardStream(line.destination);
  // Recordings are not written to terminals.
  if (toStandardOutput && platform::standardOutputIsTerminal()) return showUsage();
  sendOutputTextsToStandardError(toStandardOutput);

  std::unique_ptr<std::uint8_t, void (*)(void*)> buffer(
      static_cast<std::uint8_t*>(platform::allocatePageAligned(kBufferSize)),
      platform::freePageAligned);
  if (buffer == nullptr) {
    writeErr(msg::kReadBufferAllocFailed);  // 読込みバッファメモリの確保に失敗しました.
    return RunEnd::noMemory;
  }
  std::unique_ptr<ContinuityCounters> counters(new (std::nothrow) ContinuityCounters);
  if (counters == nullptr) {
    writeErr(msg::kCcTableAllocFailed);  // 巡回カウンタメモリの確保に失敗しました.
    return RunEnd::noMemory;
  }

  RunOutputs outputs;
  printTime(Clock::start);
  RunEnd end = runOnFiles(line, outputs, RunMemory{buffer.get(), *counters});
  IoStatus log = closeTimeLog(outputs.timeLog);
  if (end == RunEnd::failed) return end;  // the failure is reported, whatever became of the log
  // Lines that did not reach the time log make the run incomplete: the destination is kept, and
  // the run ends as after any other write error.
  if (log.failed) {
    printErr(msg::kWriteError, log.code);  // データ書き込み中にエラーが発生しました. error code %d.
    return RunEnd::failed;
  }
  if (end != RunEnd::complete) return end;
  printTime(Clock::end);
  return RunEnd::complete;
}

}  // namespace

int exitStatus(RunEnd end) {
  switch (end) {
    case RunEnd::complete:
    case RunEnd::failed:
      return 1;
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
  return exitStatus(run(arguments, settingsPlace));
}

}  // namespace corvane
