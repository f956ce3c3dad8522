// Helpers shared by the tests: a temporary folder with a copy of the tool in it, running the
// tool there, and reading and writing whole files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace corvane::testing {

using Bytes = std::vector<std::uint8_t>;

// The system's error codes that the tool's messages show.
#ifdef _WIN32
constexpr int kFileNotFound = 2;    // ERROR_FILE_NOT_FOUND
constexpr int kFolderNotFound = 3;  // ERROR_PATH_NOT_FOUND
constexpr int kIsAFolder = 5;       // ERROR_ACCESS_DENIED
constexpr int kFileInUse = 32;      // ERROR_SHARING_VIOLATION
constexpr int kPipeClosed = 232;    // ERROR_NO_DATA
#else
constexpr int kFileNotFound = 2;    // ENOENT
constexpr int kFolderNotFound = 2;  // ENOENT
constexpr int kIsAFolder = 21;      // EISDIR
constexpr int kFileInUse = 16;      // EBUSY
constexpr int kPipeClosed = 32;     // EPIPE
#endif

// A console text as the tool prints it: its one number field ("%d") holding `value`, and "%%"
// as one percent sign.
std::string printed(const char* format, long long value);

// A regular expression for a console line of the local time: each "%02d" field any two digits.
std::string timeLinePattern(const char* format);

// The console's text less its line of damage counted (errored, lost and scrambled packets).
std::string withoutDamageCount(const std::string& err);

// A UTF-8 text as code page 932 bytes.
std::string toCp932(const std::string& utf8);

#ifndef _WIN32
// `text` converted between two character sets with iconv.
std::string convertText(const std::string& text, const char* from, const char* to);
#endif

// A UTF-8 text as the system's path type.
platform::Path toPath(const std::string& text);

Bytes readFile(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);
void writeText(const std::filesystem::path& path, const std::string& text);

// PAT, PMT (video 0x0111, audio 0x0112, PCR PID 0x01FF), a PCR, a video GOP start and a second
// PCR 0.1 s later: the smallest stream that the survey accepts.
Bytes acceptedStream(std::int64_t firstPcr = 97200000000);

// A path in the temporary folder that no other test, in this process or another, uses.
std::filesystem::path scratchPath(const std::string& name);

// Everything written to a stream so far, read from its start.
std::string streamText(std::FILE* file);

// How often `needle` occurs in `text`.
std::size_t occurrences(const std::string& text, const std::string& needle);

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// How the tool is started. The standard streams can be set on every system; the rest is POSIX
// only.
struct RunOptions {
  // Standard input: empty (at its end at once), or this file, read directly or fed through a
  // pipe, where the tool sees a stream of unknown size.
  std::filesystem::path input;
  bool inputThroughPipe = false;
  // Standard output: a file, a pipe read to its end, or a pipe whose reader has gone; closed and
  // terminal are POSIX only.
  enum class Stdout { file, pipe, brokenPipe, closed, terminal } stdout_ = Stdout::file;
  // The file of Stdout::file, appended to; a fresh one when empty.
  std::filesystem::path output;
  // When the tests run as root, the tool runs as user nobody, so that file permissions apply.
  bool unprivileged = false;
  // A fault injected by tests/fault_injection.cpp, as its CORVANE_FAULT takes it.
  std::string fault;
  // The largest file size the tool may write (RLIMIT_FSIZE), as on a disk that fills up; its
  // writes past it fail with EFBIG.
  std::int64_t fileSizeLimit = -1;
  // Variables set for the tool as "NAME=VALUE", after LC_ALL=C, which keeps the console texts'
  // code page 932 bytes unless a test sets another locale here.
  std::vector<std::string> environment;
};

// A fresh folder holding a copy of the built executable (so that its settings file is made
// there), removed again at the end of the test.
class ToolFolder {
 public:
  ToolFolder();
  ~ToolFolder();
  ToolFolder(const ToolFolder&) = delete;
  ToolFolder& operator=(const ToolFolder&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
  std::filesystem::path settingsFile() const;

  // Runs the tool in the folder with the arguments, standard input at its end.
  RunResult run(const std::vector<std::string>& arguments, const RunOptions& options = {}) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path executable_;
};

}  // namespace corvane::testing

#include "service/events.h"

namespace corvane::testing {

// A sink that keeps every event the rules report, for a test to look at.
struct RecordedEvents {
  RecordedEvents() = default;
  RecordedEvents(const RecordedEvents&) = delete;
  RecordedEvents& operator=(const RecordedEvents&) = delete;

  // The events of one kind, in order.
  std::vector<Event> of(EventKind kind) const;

  std::vector<Event> all;
  EventSink sink{[](const EventSink& from, const Event& event) {
                   static_cast<RecordedEvents*>(from.outputs)->all.push_back(event);
                 },
                 this};
};

}  // namespace corvane::testing
