#include "driver/driver.h"

#include <cstdio>
#include <cstdlib>

#include "driver/command_line.h"
#include "rewrite/rewrite_pass.h"
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

}  // namespace

platform::FileHandle openSource(const platform::Path& path) {
  platform::FileHandle source = platform::namesStandardStream(path)
                                    ? platform::openStandardInput()
                                    : platform::openSourceFile(path);
  if (source == platform::kNoFile) {
    // 読込みファイルオープンエラー. error code %d.
    fatalIoError(msg::kReadOpenError, platform::lastErrorCode());
  }
  return source;
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
  context.buffer = buffer;
  context.ccTable = ccTable;
  context.run.settings = line.settings;
  TimeLog& timeLog = context.run.timeLog;

  printTime(Clock::start);

  // Standard input is taken before the time log is opened, which must not be it; a named source
  // after, so that a log that cannot be opened is reported first.
  platform::FileHandle source = platform::kNoFile;
  if (platform::namesStandardStream(line.source)) source = openSource(line.source);
  if (context.run.settings.log) {
    platform::Path logPath = timeLogPath(line);
    // A log name that leads to the source itself is refused like one that cannot be opened.
    if (!openTimeLog(timeLog, logPath, line.source, source)) {
      printErr(msg::kLogOpenFailed, platform::pathForConsole(logPath).c_str());
      std::free(ccTable);
      platform::freePageAligned(buffer);
      platform::closeFile(source);
      return 0;
    }
  }
  if (source == platform::kNoFile) source = openSource(line.source);
  std::int32_t firstBlockBytes = 0;
  bool complete = surveyStream(context, source, &firstBlockBytes);
  if (complete) {
    complete = rewriteFile(line.destination, source, context, firstBlockBytes);
  }

  std::free(ccTable);
  platform::freePageAligned(buffer);
  platform::closeFile(source);
  // Lines that did not reach the time log make the run incomplete: the destination is kept, and
  // the run ends as after any other write error.
  int logError = 0;
  if (!closeTimeLog(timeLog, &logError)) {
    printErr(msg::kWriteError, logError);  // データ書き込み中にエラーが発生しました. error code %d.
    return 1;
  }
  if (!complete) return 0;
  printTime(Clock::end);
  return 1;
}

}  // namespace corvane
