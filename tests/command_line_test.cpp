#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace corvane {
namespace {

using platform::Path;
using testing::toPath;

struct Parsed {
  bool accepted;
  CommandLine line;
};

Parsed parse(const std::vector<std::string>& words, Settings defaults = {}) {
  std::vector<Path> arguments = {toPath("corvane")};
  for (const std::string& word : words) arguments.push_back(toPath(word));
  Parsed parsed{};
  parsed.accepted = parseCommandLine(arguments, defaults, &parsed.line);
  return parsed;
}

TEST(CommandLine, SettlesSourceAndDestination) {
  const struct {
    std::vector<std::string> words;
    std::string source;
    std::string destination;
  } cases[] = {
      {{"a.ts", "b.ts", "c.ts"}, "a.ts", "b.ts"},  // further names are ignored
      {{"-o", "out.ts", "in.ts"}, "in.ts", "out.ts"},
      {{"in.ts", "-i", "other.ts"}, "other.ts", "other.000.ts"},
      {{"REC.TS"}, "REC.TS", "REC.000.ts"},
      {{"dir.v2/rec.ts"}, "dir.v2/rec.ts", "dir.v2/rec.000.ts"},
      {{"rec.ts", "out"}, "rec.ts", "out"},           // any destination extension, or none
      {{"-i", "-log.ts"}, "-log.ts", "-log.000.ts"},  // the value of -i is taken as it stands
      {{"rec.ts", "-o", "-nogop"}, "rec.ts", "-nogop"},
      {{"-"}, "-", "-"},  // standard input, with no extension, to standard output
      {{"-", "-"}, "-", "-"},
      {{"-i", "-", "out.ts"}, "-", "out.ts"},
  };
  for (const auto& c : cases) {
    Parsed parsed = parse(c.words);
    ASSERT_TRUE(parsed.accepted) << c.words[0];
    EXPECT_EQ(parsed.line.source, toPath(c.source));
    EXPECT_EQ(parsed.line.destination, toPath(c.destination));
  }
}

TEST(CommandLine, RefusesWhatTheUsageTextIsFor) {
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"rec.m2ts"},
      {"rec.ts.bak"},
      {"rec"},
      {"dir.ts/rec"},  // an extension never reaches across a separator
      {"rec.ts", "REC.ts"},
      {"rec.ts", "-nogop"},
      {"rec.ts", "-nogop", "yes"},
      {"rec.ts", "-i"},
      {"rec.ts", "-o"},
      {"-log", "on"},  // no source
      {"-o", "rec.ts", "-log", "maybe"},
      {"-x", "rec.ts"},     // an unknown option is a name, here the source
      {"-log", "on", "-"},  // no name for the time log
      {"rec.ts", "-services", "two"},
      {"rec.ts", "-services"},
  };
  for (const auto& words : refused) {
    EXPECT_FALSE(parse(words).accepted) << (words.empty() ? "(none)" : words.back());
  }
  // Names that differ only as strings pass; the file system decides later.
  EXPECT_TRUE(parse({"rec.ts", "./rec.ts"}).accepted);
}

TEST(CommandLine, TimeLogIsNamedFromTheSourceOrFromTheDestinationOfAStream) {
  EXPECT_EQ(timeLogPath(parse({"rec.ts", "out.ts"}).line), toPath("rec_Time.log"));
  EXPECT_EQ(timeLogPath(parse({"rec.ts", "-"}).line), toPath("rec_Time.log"));
  EXPECT_EQ(timeLogPath(parse({"-", "out.ts"}).line), toPath("out_Time.log"));
}

TEST(CommandLine, OptionsOverrideTheSettingsFileAndIgnoreCase) {
  Settings fromFile;
  fromFile.pmtcheck = true;
  fromFile.nogop = true;
  Parsed parsed = parse({"-pmtcheck", "off", "-LOG", "ON", "rec.ts", "-NoGop", "Off"}, fromFile);
  ASSERT_TRUE(parsed.accepted);
  EXPECT_FALSE(parsed.line.settings.pmtcheck);
  EXPECT_TRUE(parsed.line.settings.log);
  EXPECT_FALSE(parsed.line.settings.nogop);
  // The last of repeated options wins; untouched settings keep the file's value.
  parsed = parse({"rec.ts", "-log", "on", "-log", "off"}, fromFile);
  ASSERT_TRUE(parsed.accepted);
  EXPECT_FALSE(parsed.line.settings.log);
  EXPECT_TRUE(parsed.line.settings.pmtcheck);
  EXPECT_TRUE(parse({"-SERVICES", "All", "rec.ts"}, fromFile).line.settings.allServices);
  fromFile.allServices = true;
  EXPECT_FALSE(parse({"rec.ts", "-services", "one"}, fromFile).line.settings.allServices);
  EXPECT_TRUE(parse({"-Progress", "Json", "rec.ts"}, fromFile).line.settings.jsonProgress);
  EXPECT_FALSE(parse({"rec.ts", "-progress", "lines"}, fromFile).accepted);
}

TEST(NameRules, ReplaceTheExtensionOrAppend) {
  const struct {
    const char* path;
    const char* extension;
    const char* result;
  } cases[] = {
      {"/rec/news.ts", "_Time.log", "/rec/news_Time.log"},
      {"/bin/corvane", ".ini", "/bin/corvane.ini"},
      {"a.b.ts", ".000.ts", "a.b.000.ts"},
      {"dir.v2/rec", ".ini", "dir.v2/rec.ini"},
      {"my rec.t s", ".ini", "my rec.t s.ini"},  // a blank ends it
      {".ts", ".000.ts", ".000.ts"},
#ifdef _WIN32
      {"D:\\rec.v2\\news", ".000.ts", "D:\\rec.v2\\news.000.ts"},
#endif
  };
  for (const auto& c : cases) {
    EXPECT_EQ(replaceExtension(toPath(c.path), toPath(c.extension)), toPath(c.result)) << c.path;
  }
}

class SettingsFile : public ::testing::Test {
 protected:
  std::filesystem::path path_ = testing::scratchPath("settings.ini");
  void TearDown() override { std::filesystem::remove(path_); }

  Settings loadWith(const std::string& content) {
    testing::writeText(path_, content);
    return loadSettingsFile(path_.native());
  }
};

TEST_F(SettingsFile, ValuesAreOffOnlyWhenTheyReadOff) {
  const struct {
    const char* line;
    bool nogop;
  } cases[] = {
      {"nogop=on", true},       {"nogop=1", true},      {"nogop=", true},
      {"nogop=yes", true},      {"nogop='OFF'", false}, {"nogop = off ", false},
      {"NOGOP=\"Off\"", false}, {"nogop='off", true},   {"nogop=''off''", true},
      {"other=on", false},  // missing key
  };
  for (const auto& c : cases) {
    Settings loaded = loadWith(std::string("[default]\r\n") + c.line + "\r\nlog=on\r\n");
    EXPECT_EQ(loaded.nogop, c.nogop) << c.line;
    EXPECT_TRUE(loaded.log);
    EXPECT_FALSE(loaded.pmtcheck);
  }
}

TEST_F(SettingsFile, ServicesAreAllOnlyWhenTheyReadAll) {
  EXPECT_TRUE(loadWith("[Default]\r\nservices='ALL'\r\n").allServices);
  EXPECT_FALSE(loadWith("[Default]\r\nservices=one\r\n").allServices);
  EXPECT_FALSE(loadWith("[Default]\r\nservices=every\r\n").allServices);
  EXPECT_FALSE(loadWith("[Default]\r\nlog=on\r\n").allServices);  // a file without the key
  EXPECT_TRUE(loadWith("[Default]\r\nprogress = \"JSON\"\r\n").jsonProgress);
  EXPECT_FALSE(loadWith("[Default]\r\nprogress=on\r\n").jsonProgress);
}

TEST_F(SettingsFile, OnlyTheDefaultSectionCountsAndTheFileIsLeftAlone) {
  const std::string content =
      "[Other]\nlog=on\n[ Default ]\n  pmtcheck  =  on  \n[Later]\nnogop=on\n";
  Settings loaded = loadWith(content);
  EXPECT_FALSE(loaded.log);
  EXPECT_TRUE(loaded.pmtcheck);
  EXPECT_FALSE(loaded.nogop);
  EXPECT_EQ(testing::readText(path_), content);
}

TEST_F(SettingsFile, ValuesAreCutAt255Characters) {
  std::string value(300, 'x');
  testing::writeText(path_, "[Default]\nlog=" + value + "\n");
  EXPECT_EQ(
      platform::readProfileString(path_.native(), toPath("default"), toPath("LOG"), toPath("off")),
      toPath(std::string(255, 'x')));
}

}  // namespace
}  // namespace corvane
