#include "driver/command_line.h"

#include <cstdio>

namespace corvane {

namespace {

using platform::Path;

bool isOff(const Path& value) { return platform::equalsIgnoreCase(value, CORVANE_PATH("off")); }

bool readSwitch(const Path& settingsPath, const Path& key) {
  return !isOff(
      platform::readProfileString(settingsPath, CORVANE_PATH("Default"), key, CORVANE_PATH("off")));
}

// A key of the settings file whose value is `word`, in any case.
bool readsAs(const Path& settingsPath, const Path& key, const Path& word) {
  return platform::equalsIgnoreCase(
      platform::readProfileString(settingsPath, CORVANE_PATH("Default"), key, Path()), word);
}

// `value` as one of two words, in any case: `first` sets `isFirst`, `second` clears it. False,
// with `isFirst` left as it was, for any other value.
bool choose(const Path& value, const Path& first, const Path& second, bool* isFirst) {
  if (platform::equalsIgnoreCase(value, first)) {
    *isFirst = true;
  } else if (platform::equalsIgnoreCase(value, second)) {
    *isFirst = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace

Path replaceExtension(const Path& path, const Path& extension) {
  return path.substr(0, platform::findExtension(path)) + extension;
}

Settings loadSettingsFile(const Path& settingsPath) {
  // Only where no file of the name exists: one that exists but cannot be read holds the user's
  // settings all the same, and is left alone.
  platform::FileHandle file = platform::createNewFile(settingsPath);
  if (file != platform::kNoFile) {
    if (std::FILE* created = platform::streamOver(file)) {
      std::fwrite(kDefaultSettingsFile, 1, sizeof kDefaultSettingsFile - 1, created);
      std::fclose(created);
    }
  }
  // A file that cannot be read, or made, holds no keys: every setting reads as off.
  Settings result;
  result.nogop = readSwitch(settingsPath, CORVANE_PATH("nogop"));
  result.pmtcheck = readSwitch(settingsPath, CORVANE_PATH("pmtcheck"));
  result.log = readSwitch(settingsPath, CORVANE_PATH("log"));
  result.allServices = readsAs(settingsPath, CORVANE_PATH("services"), CORVANE_PATH("all"));
  result.cleanJoints = readsAs(settingsPath, CORVANE_PATH("joints"), CORVANE_PATH("clean"));
  result.jsonProgress = readsAs(settingsPath, CORVANE_PATH("progress"), CORVANE_PATH("json"));
  result.status = readsAs(settingsPath, CORVANE_PATH("status"), CORVANE_PATH("posix"))
                      ? StatusStyle::posix
                      : StatusStyle::classic;
  return result;
}

namespace {

// The words of the command line into `line`, which holds the defaults. False when the usage text
// is to be shown.
bool readWords(const std::vector<Path>& arguments, CommandLine& line) {
  using platform::equalsIgnoreCase;
  if (arguments.size() < 2) return false;

  bool haveSource = false;
  bool haveDestination = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const Path& word = arguments[i];
    if (word == CORVANE_PATH("--version") || word == CORVANE_PATH("--help")) {
      line.asked = word == CORVANE_PATH("--version") ? Asked::version : Asked::help;
      return true;
    }
    bool* setting = nullptr;
    if (equalsIgnoreCase(word, CORVANE_PATH("-nogop"))) {
      setting = &line.settings.nogop;
    } else if (equalsIgnoreCase(word, CORVANE_PATH("-pmtcheck"))) {
      setting = &line.settings.pmtcheck;
    } else if (equalsIgnoreCase(word, CORVANE_PATH("-log"))) {
      setting = &line.settings.log;
    }
    bool isName =
        equalsIgnoreCase(word, CORVANE_PATH("-i")) || equalsIgnoreCase(word, CORVANE_PATH("-o"));
    bool isServices = equalsIgnoreCase(word, CORVANE_PATH("-services"));
    bool isStatus = equalsIgnoreCase(word, CORVANE_PATH("-status"));
    bool isReport = equalsIgnoreCase(word, CORVANE_PATH("-report"));
    bool isDropLog = equalsIgnoreCase(word, CORVANE_PATH("-droplog"));
    bool isPlot = equalsIgnoreCase(word, CORVANE_PATH("-plot"));
    bool isJoints = equalsIgnoreCase(word, CORVANE_PATH("-joints"));
    bool isProgress = equalsIgnoreCase(word, CORVANE_PATH("-progress"));

    if (setting == nullptr && !isName && !isServices && !isStatus && !isReport && !isJoints &&
        !isProgress && !isDropLog && !isPlot) {
      // A positional name, also an unknown word that begins with '-'.
      if (!haveSource) {
        line.source = word;
        haveSource = true;
      } else if (!haveDestination) {
        line.destination = word;
        haveDestination = true;
      }
      continue;
    }
    if (i + 1 >= arguments.size()) return false;
    const Path& value = arguments[++i];
    if (isServices) {
      if (!choose(value, CORVANE_PATH("all"), CORVANE_PATH("one"), &line.settings.allServices)) {
        return false;
      }
    } else if (isStatus) {
      bool posix = line.settings.status == StatusStyle::posix;
      if (!choose(value, CORVANE_PATH("posix"), CORVANE_PATH("classic"), &posix)) return false;
      line.settings.status = posix ? StatusStyle::posix : StatusStyle::classic;
    } else if (isJoints) {
      if (!choose(value, CORVANE_PATH("clean"), CORVANE_PATH("classic"),
                  &line.settings.cleanJoints)) {
        return false;
      }
    } else if (isProgress) {
      if (!choose(value, CORVANE_PATH("json"), CORVANE_PATH("text"), &line.settings.jsonProgress)) {
        return false;
      }
    } else if (isReport || isDropLog || isPlot) {
      // A report, a drop log or a picture goes to a file of its own, never to a standard stream.
      if (value.empty() || platform::namesStandardStream(value)) return false;
      (isReport ? line.report : isDropLog ? line.dropLog : line.plot) = value;
    } else if (setting != nullptr) {
      if (!choose(value, CORVANE_PATH("on"), CORVANE_PATH("off"), setting)) return false;
    } else if (equalsIgnoreCase(word, CORVANE_PATH("-i"))) {
      line.source = value;  // taken as it stands, even when it looks like an option
      haveSource = true;
    } else {
      line.destination = value;
      haveDestination = true;
    }
  }

  if (!haveSource) return false;
  bool fromStandardInput = platform::namesStandardStream(line.source);
  if (!fromStandardInput &&
      !equalsIgnoreCase(line.source.substr(platform::findExtension(line.source)),
                        CORVANE_PATH(".ts"))) {
    return false;
  }
  if (!haveDestination) {
    line.destination =
        fromStandardInput ? line.source : replaceExtension(line.source, CORVANE_PATH(".000.ts"));
  } else if (!fromStandardInput && equalsIgnoreCase(line.destination, line.source)) {
    return false;
  }
  // With both ends standard streams, no name is left for the time log.
  if (fromStandardInput && platform::namesStandardStream(line.destination) && line.settings.log)
    return false;
  return true;
}

}  // namespace

bool parseCommandLine(const std::vector<Path>& arguments, const Settings& defaults,
                      CommandLine* result) {
  CommandLine line;
  line.settings = defaults;
  bool accepted = readWords(arguments, line);
  if (accepted) *result = line;
  result->settings.status = line.settings.status;
  return accepted;
}

Path timeLogPath(const CommandLine& line) {
  const Path& named = platform::namesStandardStream(line.source) ? line.destination : line.source;
  return replaceExtension(named, CORVANE_PATH("_Time.log"));
}

}  // namespace corvane
