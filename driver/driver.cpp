#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>

#include "driver/command_line.h"
#include "stream/console.h"
#include "stream/messages.h"
#include "stream/packet.h"
#include "stream/stream_context.h"
#include "stream/survey.h"

namespace corvane {

namespace {

static_assert(kBufferSize % 4096 == 0, "the packet buffer is allocated in whole pages");

int showUsage() {
  writeErr(msg::kUsageTitle);
  writeErr(msg::kUsageBody);
  writeErr(msg::kUsagePressEnter);  // Enterキーを押して下さい...
  char answer;
  if (std::scanf("%c", &answer) != 1) answer = 0;
  return 0;
}

enum class Clock { start, end };

// The start or the end line with the local time.
void printTime(Clock line) {
  platform::LocalTime now = platform::localTime();
  // 開始時刻 %02d時%02d分%02d秒 or 終了時刻 %02d時%02d分%02d秒
  printOut(line == Clock::start ? msg::kStartTime : msg::kEndTime, now.hour, now.minute,
           now.second);
}

// How a run on the files ended.
enum class RunEnd {
  complete,
  refused,  // a refusal or an early stop, with its message printed
  failed,   // an open, read, write, cut or close failed, and its message is printed
};

RunEnd sourceNotOpened() {
  // 読込みファイルオープンエラー. error code %d.
  printErr(msg::kReadOpenError, platform::lastErrorCode());
  return RunEnd::failed;
}

platform::FileHandle openSource(const platform::Path& path) {
  return platform::namesStandardStream(path) ? platform::openStandardInput()
                                             : platform::openSourceFile(path);
}

// The survey and the pass over the open source.
RunEnd repair(StreamContext& context, const CommandLine& line, platform::FileHandle sourceFile,
              std::uint8_t* bufferBytes) {
  PassBuffer buffer{bufferBytes};
  SourceReader source{sourceFile};
  writeOut(msg::kSurveyProgress);  // PAT,PMT,PCR,GOP 検索中
  if (IoStatus status = readFirstBlock(source, buffer); status.failed) {
    printErr(msg::kReadError, status.code);  // リードエラー. error code %d.
    return RunEnd::failed;
  }
  if (!surveyStream(context, buffer.bytes, static_cast<std::int32_t>(buffer.read))) {
    return RunEnd::refused;
  }

  Destination output;
  if (IoStatus status =
          openDestination(output, line.destination, sourceFile, context.run.timeLog.file);
      status.failed) {
    printErr(msg::kWriteOpenError, status.code);  // 書込みファイルオープンエラー. error code %d.
    return RunEnd::failed;
  }
  PassProgress progress;
  progress.streamed = !platform::isRegularFile(sourceFile);
  if (!platform::fileSize(sourceFile, &progress.fileSize)) progress.fileSize = 0;
  PassOutcome outcome =
      settleDestination(output, buffer, rewriteFile(context, progress, source, buffer, output));
  switch (outcome.end) {
    case PassEnd::complete:
      return RunEnd::complete;
    case PassEnd::stopped:
      return RunEnd::refused;
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
RunEnd runOnFiles(StreamContext& context, const CommandLine& line, std::uint8_t* buffer) {
  // Standard input is taken before the time log is opened, which must not be it; a named source
  // after, so that a log that cannot be opened is reported first.
  platform::FileHandle source = platform::kNoFile;
  if (platform::namesStandardStream(line.source)) {
    source = openSource(line.source);
    if (source == platform::kNoFile) return sourceNotOpened();
  }
  if (context.run.settings.log) {
    platform::Path logPath = timeLogPath(line);
    // A log name that leads to the source itself is refused like one that cannot be opened.
    if (!openTimeLog(context.run.timeLog, logPath, line.source, source)) {
      printErr(msg::kLogOpenFailed, platform::pathForConsole(logPath).c_str());
      platform::closeFile(source);
      return RunEnd::refused;
    }
  }
  if (source == platform::kNoFile) {
    source = openSource(line.source);
    if (source == platform::kNoFile) return sourceNotOpened();
  }
  RunEnd end = repair(context, line, source, buffer);
  platform::closeFile(source);
  return end;
}

}  // namespace

PassOutcome settleDestination(Destination& output, const PassBuffer& buffer, PassOutcome outcome) {
  // After a failure the cut and the close go as far as the system still lets them; otherwise
  // the first of them to fail is the outcome.
  bool failed = outcome.end == PassEnd::readFailed || outcome.end == PassEnd::writeFailed;
  IoStatus cut = outcome.end != PassEnd::complete ? cutToWholeBlocks(output, buffer) : IoStatus{};
  IoStatus closed = closeDestination(output);
  if (failed) return outcome;
  if (cut.failed) return PassOutcome{PassEnd::writeFailed, cut.code};
  if (closed.failed) return PassOutcome{PassEnd::writeFailed, closed.code};
  return outcome;
}

int runCorvane(const std::vector<platform::Path>& arguments, SettingsPlace settingsPlace) {
  Settings defaults;
  if (settingsPlace == SettingsPlace::besideExecutable) {
    platform::Path executable;
    if (!platform::executablePath(&executable)) return 1;
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

  auto* buffer = static_cast<std::uint8_t*>(platform::allocatePageAligned(kBufferSize));
  if (buffer == nullptr) {
    writeErr(msg::kReadBufferAllocFailed);  // 読込みバッファメモリの確保に失敗しました.
    return 0;
  }
  auto* ccTable = static_cast<std::int32_t*>(std::malloc(kPidCount * sizeof(std::int32_t)));
  if (ccTable == nullptr) {
    writeErr(msg::kCcTableAllocFailed);  // 巡回カウンタメモリの確保に失敗しました.
    platform::freePageAligned(buffer);
    return 0;
  }
  // Everything the run carries lives in its context, made afresh for each run.
  StreamContext context;
  context.ccTable = ccTable;
  context.run.settings = line.settings;

  printTime(Clock::start);
  RunEnd end = runOnFiles(context, line, buffer);
  std::free(ccTable);
  platform::freePageAligned(buffer);
  int logError = 0;
  bool logKept = closeTimeLog(context.run.timeLog, &logError);
  if (end == RunEnd::failed) return 1;  // the failure is reported, whatever became of the log
  // Lines that did not reach the time log make the run incomplete: the destination is kept, and
  // the run ends as after any other write error.
  if (!logKept) {
    printErr(msg::kWriteError, logError);  // データ書き込み中にエラーが発生しました. error code %d.
    return 1;
  }
  if (end == RunEnd::refused) return 0;
  printTime(Clock::end);
  return 1;
}

}  // namespace corvane
