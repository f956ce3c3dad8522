// The program driver through the built executable, run in a folder of its own.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <regex>
#include <string>

#include "driver/driver.h"
#include "output/messages.h"
#include "tests/test_support.h"
#include "tools/stream_generator.h"

namespace corvane {
namespace {

using testing::readText;
using testing::RunResult;
using testing::ToolFolder;
using testing::writeText;

const std::string kUsage = std::string(msg::kUsageTitle) + msg::kUsageBody + msg::kUsagePressEnter;
const std::string kDefaultSettings = "[Default]\r\nnogop='off'\r\npmtcheck='off'\r\nlog='off'\r\n";

TEST(Driver, WithoutArgumentsCreatesTheSettingsFileAndShowsTheUsage) {
  ToolFolder folder;
  RunResult result = folder.run({});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kUsage);
  EXPECT_EQ(readText(folder.settingsFile()), kDefaultSettings);
}

TEST(Driver, UsageTextIsExact) {
  EXPECT_EQ(kUsage,
            "Corvane Ver3.5.16.7(32bit) Kai (fix C-PTS) r2\n\n"
            "usage\n"
            "Corvane.exe [OPTIONS] source.ts [destination.ts]\n"
            "     [OPTIONS]\n"
            "          -nogop {on|off}     : no-check GOP start\n"
            "          -pmtcheck {on|off}  : check PMT change\n"
            "          -log {on|off}       : make log-file\n"
            "          -services {one|all} : repair every service of a multiplex\n"
            "          -status {classic|posix} : exit status for scripts\n"
            "          -report FILE        : write a JSON report of the run\n"
            "          -joints {classic|clean} : move every stream at a joint\n"
            "          -progress {text|json} : progress as JSON lines\n"
            "          -droplog FILE       : write each PID's drops to FILE\n"
            "          -plot FILE.svg      : draw each service's timeline in FILE.svg\n"
            "\n\n" +
                std::string(msg::kUsagePressEnter));
}

TEST(Driver, VersionAndHelpAreAnsweredOnStandardOutputWithStatusZero) {
  ToolFolder folder;
  for (std::string style : {"classic", "posix"}) {
    RunResult version = folder.run({"-status", style, "--version", "rec.ts"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "corvane " CORVANE_VERSION "\n");
    RunResult help = folder.run({"rec.ts", "--help", "-status", style});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, std::string(msg::kUsageTitle) + msg::kUsageBody);
    EXPECT_EQ(help.err, "");
  }
  // A name after -o is a name.
  EXPECT_EQ(folder.run({"-o", "--help"}).err, kUsage);
}

TEST(Driver, RefusedCommandLinesShowTheUsageAndLeaveTheSettingsFileAlone) {
  ToolFolder folder;
  const std::string settings = "[Default]\nlog=on\n; kept as it is\n";
  writeText(folder.settingsFile(), settings);
  for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
           {"rec.m2ts"}, {"rec.ts", "REC.ts"}, {"rec.ts", "-nogop"}, {"rec.ts", "-log", "yes"}}) {
    RunResult result = folder.run(words);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, kUsage);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(readText(folder.settingsFile()), settings);
}

// Built with append: GCC 12 warns falsely (-Wrestrict) about "^" + std::string here.
const std::regex kStartLine(std::string("^").append(testing::timeLinePattern(msg::kStartTime)));
const std::regex kEndLine(testing::timeLinePattern(msg::kEndTime));

TEST(Driver, MissingSourceEndsWithTheOpenErrorAfterCreatingTheTimeLog) {
  ToolFolder folder;
  RunResult result = folder.run({"-log", "on", "missing.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(std::regex_search(result.out, kStartLine)) << result.out;
  EXPECT_EQ(result.err, testing::printed(msg::kReadOpenError, testing::kFileNotFound));
  EXPECT_TRUE(std::filesystem::exists(folder / "missing_Time.log"));
  EXPECT_EQ(std::filesystem::file_size(folder / "missing_Time.log"), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing.000.ts"));
}

TEST(Driver, LogSettingFromTheFileOpensTheTimeLog) {
  ToolFolder folder;
  writeText(folder.settingsFile(), "[DEFAULT]\r\nLog = 'On'\r\n");
  RunResult result = folder.run({"missing.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(std::filesystem::exists(folder / "missing_Time.log"));
  // ... and the command line turns it off again.
  std::filesystem::remove(folder / "missing_Time.log");
  result = folder.run({"missing.ts", "-log", "off"});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing_Time.log"));
}

TEST(Driver, TimeLogThatCannotBeCreatedNamesItsFullPath) {
  ToolFolder folder;
  std::string source = (folder / "no-such-folder" / "rec.ts").string();
  RunResult result = folder.run({"-log", "on", source});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(std::regex_search(result.out, kStartLine));
  EXPECT_EQ(result.err, "Open Log File: " + (folder / "no-such-folder" / "rec_Time.log").string() +
                            " failed\n");
}

TEST(Driver, TimeLogThatLeadsToTheSourceIsRefusedBeforeAnythingIsCut) {
  ToolFolder folder;
  const testing::Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "rec.ts", source);
  std::vector<void (*)(const std::filesystem::path&, const std::filesystem::path&)> links = {
      [](const auto& to, const auto& from) { std::filesystem::create_hard_link(to, from); }};
#ifndef _WIN32
  links.push_back(
      [](const auto&, const auto& from) { std::filesystem::create_symlink("rec.ts", from); });
#endif
  for (auto link : links) {
    std::filesystem::remove(folder / "rec_Time.log");
    link(folder / "rec.ts", folder / "rec_Time.log");
    RunResult result = folder.run({"-log", "on", "rec.ts", "out.ts"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "Open Log File: rec_Time.log failed\n");
    EXPECT_EQ(testing::readFile(folder / "rec.ts"), source);
    EXPECT_FALSE(std::filesystem::exists(folder / "out.ts"));
  }
}

// Both styles of exit status in one table, with the outcome of each run's report: none where the
// source was never opened.
TEST(Driver, ExitStatusesOfBothStylesAndTheOutcomeInTheReport) {
  ToolFolder folder;
  testing::writeFile(folder / "rec.ts", testing::acceptedStream());
  testing::writeFile(folder / "empty.ts", {});
  streamgen::RecordingOptions options;
  options.pmtChangeAt = 10 * 90000;
  options.audioPidsAfterChange = {};  // the PMT loses its audio
  testing::writeFile(folder / "stop.ts", streamgen::makeRecording(options).bytes);
  struct Case {
    std::vector<std::string> words;
    int classic;
    int posix;
    const char* outcome;
  };
  const Case cases[] = {{{"rec.ts"}, 1, 0, "complete"},
                        {{"missing.ts"}, 1, 1, nullptr},
                        {{"rec.m2ts"}, 0, 2, nullptr},
                        {{"empty.ts"}, 0, 3, "refused"},
                        {{"-pmtcheck", "on", "stop.ts"}, 0, 4, "stopped"}};
  for (const Case& c : cases) {
    for (std::string style : {"classic", "posix"}) {
      SCOPED_TRACE(c.words.back() + " " + style);
      std::filesystem::remove(folder / "r.json");
      std::vector<std::string> words = {"-status", style, "-report", "r.json"};
      words.insert(words.end(), c.words.begin(), c.words.end());
      EXPECT_EQ(folder.run(words).status, style == "posix" ? c.posix : c.classic);
      EXPECT_FALSE(std::filesystem::exists(folder / "r.json.tmp"));
      if (c.outcome == nullptr) {
        EXPECT_FALSE(std::filesystem::exists(folder / "r.json"));
      } else {
        EXPECT_NE(readText(folder / "r.json").find("\"outcome\": \"" + std::string(c.outcome)),
                  std::string::npos);
      }
    }
  }
  // The settings file's style holds unless the command line names another, also for a command
  // line that shows the usage.
  writeText(folder.settingsFile(), "[Default]\r\nstatus = 'POSIX'\r\n");
  EXPECT_EQ(folder.run({"rec.ts"}).status, 0);
  EXPECT_EQ(folder.run({"-status", "classic", "rec.ts"}).status, 1);
  EXPECT_EQ(folder.run({"-status", "bsd", "rec.ts"}).status, 2);
}

TEST(Driver, ReportThatCannotBeWrittenOrLeadsToAFileOfTheRunIsRefusedBeforeThePass) {
  ToolFolder folder;
  const testing::Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "rec.ts", source);
  std::filesystem::create_hard_link(folder / "rec.ts", folder / "link.json");
  for (std::string report : {"missing/r.json", "link.json", "out.ts", "rec_Time.log"}) {
    SCOPED_TRACE(report);
    RunResult result =
        folder.run({"-status", "posix", "-log", "on", "-report", report, "rec.ts", "out.ts"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Open Report File: " + report + " failed\n");
    EXPECT_EQ(testing::readFile(folder / "rec.ts"), source);
    EXPECT_EQ(testing::readFile(folder / "link.json"), source);
    EXPECT_FALSE(std::filesystem::exists(folder / "out.ts"));
  }
  // The drop log and the picture likewise, and neither is the report; nothing is left behind.
  for (auto [option, file] : {std::pair{"-droplog", "Drop Log"}, std::pair{"-plot", "Plot"}}) {
    for (std::string log : {"r.json", "R.JSON.tmp", "link.json", "out.ts", "rec_Time.log"}) {
      SCOPED_TRACE(log);
      RunResult result = folder.run(
          {"-status", "posix", "-log", "on", "-report", "r.json", option, log, "rec.ts", "out.ts"});
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, std::string("Open ") + file + " File: " + log + " failed\n");
      EXPECT_EQ(testing::readFile(folder / "rec.ts"), source);
      EXPECT_FALSE(std::filesystem::exists(folder / "out.ts"));
      EXPECT_FALSE(std::filesystem::exists(folder / "r.json.tmp"));
      EXPECT_FALSE(std::filesystem::exists(folder / "rec_Time.log"));
    }
  }
}

TEST(Driver, SourceThatIsADirectoryIsRefusedAtOpening) {
  ToolFolder folder;
  std::filesystem::create_directory(folder / "folder.ts");
  RunResult result = folder.run({"folder.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(". error code " + std::to_string(testing::kIsAFolder) + ".\n"),
            std::string::npos);
}

TEST(Driver, TwoRunsInOneProcessGiveWhatTwoProcessesGive) {
  // Two recordings whose captions count from different bases; only the first writes a log.
  ToolFolder folder;
  streamgen::RecordingOptions second = streamgen::sampleOptions();
  second.sourceStart = 5000 * 90000;
  testing::writeFile(folder / "a.ts", streamgen::makeRecording(streamgen::sampleOptions()).bytes);
  testing::writeFile(folder / "b.ts", streamgen::makeRecording(second).bytes);
  auto words = [](const std::string& log, const std::string& source, const std::string& output) {
    return std::vector<std::string>{"-nogop", "off", "-pmtcheck", "off",
                                    "-log",   log,   source,      output};
  };
  ASSERT_EQ(folder.run(words("on", "a.ts", "a-apart.ts")).status, 1);
  ASSERT_EQ(folder.run(words("off", "b.ts", "b-apart.ts")).status, 1);
  std::string logApart = readText(folder / "a_Time.log");

  for (const auto& [log, name] : {std::pair{"on", "a"}, std::pair{"off", "b"}}) {
    std::vector<platform::Path> arguments = {CORVANE_PATH("corvane")};
    for (const std::string& word :
         words(log, (folder / (name + std::string(".ts"))).string(),
               (folder / (name + std::string("-together.ts"))).string())) {
      arguments.push_back(testing::toPath(word));
    }
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(runCorvane(arguments), 1) << name;
    ::testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(testing::readFile(folder / "a-together.ts"), testing::readFile(folder / "a-apart.ts"));
  EXPECT_EQ(testing::readFile(folder / "b-together.ts"), testing::readFile(folder / "b-apart.ts"));
  EXPECT_EQ(readText(folder / "a_Time.log"), logApart);
  EXPECT_FALSE(std::filesystem::exists(folder / "b_Time.log"));
}

#ifndef _WIN32
TEST(Driver, SettingsFileThatCannotBeReadIsLeftAlone) {
  ToolFolder folder;
  const std::string settings = "[Default]\r\nlog='on'\r\n";
  writeText(folder.settingsFile(), settings);
  std::filesystem::permissions(folder.settingsFile(), std::filesystem::perms::owner_write);
  // Owned by whoever runs the tool, so that it could write the file but not read it.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder.settingsFile().c_str(), 65534, 65534), 0);
  }
  RunResult result = folder.run({}, {.unprivileged = true});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, kUsage);
  std::filesystem::permissions(folder.settingsFile(), std::filesystem::perms::owner_read);
  EXPECT_EQ(readText(folder.settingsFile()), settings);
}

// An installed tool keeps its settings under $XDG_CONFIG_HOME, or else ~/.config, and makes the
// folders on the way; with neither, the defaults apply and nothing is made.
TEST(Driver, SettingsInTheUserFolderFollowTheConfigurationVariables) {
  ToolFolder folder;
  testing::writeFile(folder / "rec.ts", testing::acceptedStream());
  const std::filesystem::path home = folder / "home";
  const std::filesystem::path config = folder / "config";
  std::filesystem::create_directory(home);
  auto logAfterRun = [&](const char* configHome, const char* homeFolder) {
    std::filesystem::remove(folder / "rec_Time.log");
    for (auto [name, value] : {std::pair{"XDG_CONFIG_HOME", configHome}, {"HOME", homeFolder}}) {
      if (value == nullptr) {
        ::unsetenv(name);
      } else {
        ::setenv(name, value, 1);
      }
    }
    ::testing::internal::CaptureStdout();
    int status = runCorvane(
        {CORVANE_PATH("corvane"), (folder / "rec.ts").string(), (folder / "out.ts").string()},
        SettingsPlace::userFolder);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    return std::filesystem::exists(folder / "rec_Time.log");
  };
  const std::filesystem::path inHome = home / ".config/corvane/corvane.ini";
  EXPECT_FALSE(logAfterRun(nullptr, home.c_str()));
  EXPECT_EQ(readText(inHome), kDefaultSettings);
  EXPECT_EQ(std::filesystem::status(home / ".config").permissions(),
            std::filesystem::perms::owner_all);
  writeText(inHome, "[Default]\r\nlog='on'\r\n");
  EXPECT_TRUE(logAfterRun(nullptr, home.c_str()));
  EXPECT_TRUE(logAfterRun("", home.c_str()));
  EXPECT_TRUE(logAfterRun("relative/config", home.c_str()));

  EXPECT_FALSE(logAfterRun(config.c_str(), home.c_str()));
  EXPECT_EQ(readText(config / "corvane/corvane.ini"), kDefaultSettings);
  EXPECT_FALSE(logAfterRun(nullptr, nullptr));
  EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST(Driver, ConsoleThatIsClosedOrGoneNeitherLandsInFilesNorStopsTheRun) {
  ToolFolder folder;
  const testing::Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "rec.ts", source);
  // With descriptor 1 closed, the time log would be opened as 1 and take the console texts.
  RunResult closed = folder.run({"-log", "on", "rec.ts", "out.ts"},
                                {.stdout_ = testing::RunOptions::Stdout::closed});
  EXPECT_EQ(closed.status, 1) << closed.err;
  std::string log = readText(folder / "rec_Time.log");
  EXPECT_EQ(log.rfind("PCR   : ", 0), 0u) << log;
  EXPECT_EQ(log.find(msg::kSurveyProgress), std::string::npos);

  RunResult gone =
      folder.run({"rec.ts", "out.ts"}, {.stdout_ = testing::RunOptions::Stdout::brokenPipe});
  EXPECT_EQ(gone.status, 1) << "ended by signal " << gone.status - 128;
  EXPECT_EQ(gone.err, "");
  EXPECT_EQ(testing::readFile(folder / "out.ts").size(), source.size());
}

// The console texts of a full run, of a refusal and of the usage text, as the locale's
// character set shows them; the C locale keeps their code page 932 bytes.
TEST(Driver, ConsoleTextsAreInTheCharacterSetOfTheLocale) {
  ToolFolder folder;
  testing::writeFile(folder / "rec.ts", testing::acceptedStream());
  testing::writeFile(folder / "empty.ts", {});
  const std::string run = testing::timeLinePattern("開始時刻 %02d時%02d分%02d秒\n") +
                          "PAT,PMT,PCR,GOP 検索中\n(PCR,PTS,DTS 更新中　 [0-9]+% \r)+" +
                          "PCR,PTS,DTS 更新完了 100% \n" +
                          testing::timeLinePattern("終了時刻 %02d時%02d分%02d秒\n");
  const std::string refusal = "ファイルが破損している可能性があります...終了します(INFO).\n";
  const std::string pressEnter = "Enterキーを押して下さい...";
  // Where the C library keeps the EUC-JP locale made below.
  const std::filesystem::path locales = folder / "locales";
  const struct {
    std::vector<std::string> environment;
    const char* charset;
  } cases[] = {
      {{}, "CP932"},
      {{"LC_ALL=C.UTF-8"}, "UTF-8"},
      {{"LC_ALL=ja_JP.EUC-JP", "LOCPATH=" + locales.string()}, "EUC-JP"},
  };
  const std::string makeEucJp =
      "localedef -i ja_JP -f EUC-JP '" + (locales / "ja_JP.EUC-JP").string() + "' >/dev/null 2>&1";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    if (c.charset == std::string("EUC-JP") &&
        (!std::filesystem::create_directory(locales) || std::system(makeEucJp.c_str()) != 0)) {
      GTEST_SKIP() << "localedef cannot make ja_JP.EUC-JP here (Debian's locales package)";
    }
    testing::RunOptions options;
    options.environment = c.environment;
    auto inCharset = [&](const std::string& text) {
      return testing::convertText(text, "UTF-8", c.charset);
    };
    RunResult full = folder.run({"rec.ts", "out.ts"}, options);
    EXPECT_TRUE(std::regex_match(full.out, std::regex(inCharset(run)))) << full.out;
    RunResult refused = folder.run({"empty.ts"}, options);
    EXPECT_EQ(refused.err, inCharset(refusal));
    RunResult usage = folder.run({}, options);
    EXPECT_TRUE(usage.err.ends_with(inCharset(pressEnter))) << usage.err;
    // A file name goes out as the system gave it, in every character set.
    RunResult noLog = folder.run({"-log", "on", "無い/録画.ts"}, options);
    EXPECT_EQ(noLog.err, "Open Log File: 無い/録画_Time.log failed\n");
  }
}

TEST(Driver, TimeLogThatCannotBeWrittenIsAWriteErrorAfterTheWholeDestination) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ToolFolder folder;
  const testing::Bytes source = testing::acceptedStream();
  testing::writeFile(folder / "rec.ts", source);
  std::filesystem::create_symlink("/dev/full", folder / "rec_Time.log");
  RunResult result = folder.run({"-log", "on", "rec.ts", "out.ts"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, testing::printed(msg::kWriteError, 28));  // ENOSPC
  EXPECT_FALSE(std::regex_search(result.out, kEndLine)) << "the run looked complete";
  EXPECT_EQ(testing::readFile(folder / "out.ts").size(), source.size());
}
#endif

}  // namespace
}  // namespace corvane
