#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "output/messages.h"
#include "tools/stream_generator.h"

namespace corvane::testing {

namespace fs = std::filesystem;

namespace {
#ifdef _WIN32
constexpr const char* kExecutableName = "Corvane.exe";
constexpr const char* kSettingsName = "Corvane.ini";
int processId() { return static_cast<int>(::GetCurrentProcessId()); }
#else
constexpr const char* kExecutableName = "corvane";
constexpr const char* kSettingsName = "corvane.ini";
int processId() { return static_cast<int>(::getpid()); }
#endif
#ifndef _WIN32
// The command that runs a cross-built executable (CORVANE_EMULATOR, words apart by blanks), or
// nothing for a native one.
std::vector<std::string> emulatorCommand() {
  std::vector<std::string> words;
  std::string_view rest = CORVANE_EMULATOR;
  while (!rest.empty()) {
    std::size_t end = std::min(rest.find(' '), rest.size());
    if (end > 0) words.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return words;
}
#endif

}  // namespace

#ifdef _WIN32
platform::Path toPath(const std::string& text) {
  int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string toCp932(const std::string& utf8) {
  int wide =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), wide);
  int size = ::WideCharToMultiByte(932, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string output(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(932, 0, text.data(), wide, output.data(), size, nullptr, nullptr);
  return output;
}
#else
platform::Path toPath(const std::string& text) { return text; }

std::string convertText(const std::string& text, const char* from, const char* to) {
  iconv_t converter = ::iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  std::string input = text;
  std::string output(input.size() * 4 + 16, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t inLeft = input.size();
  std::size_t outLeft = output.size();
  std::size_t done = ::iconv(converter, &in, &inLeft, &out, &outLeft);
  ::iconv_close(converter);
  if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv failed");
  output.resize(output.size() - outLeft);
  return output;
}

std::string toCp932(const std::string& utf8) { return convertText(utf8, "UTF-8", "CP932"); }
#endif

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const fs::path& path) {
  Bytes bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

Bytes acceptedStream(std::int64_t firstPcr) {
  namespace gen = streamgen;
  Bytes out;
  gen::appendPat(out, {{1, gen::kPmtPid}});
  gen::appendPmt(out, gen::kPmtPid, gen::kPcrPid,
                 {{0x02, gen::kVideoPid, {}}, {0x0F, gen::kAudio1Pid, {}}});
  gen::appendPcrOnly(out, gen::kPcrPid, firstPcr);
  gen::PesStart gop;
  gop.pts = 324009009;
  gop.dts = 324006006;
  gen::appendPesStart(out, gop);
  gen::appendPcrOnly(out, gen::kPcrPid, firstPcr + 2700000);
  return out;
}

std::filesystem::path scratchPath(const std::string& name) {
  static std::atomic<int> serial{0};
  return fs::temp_directory_path() /
         ("corvane-" + std::to_string(processId()) + "-" + std::to_string(serial++) + "-" + name);
}

std::string streamText(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  return text;
}

std::string printed(const char* format, long long value) {
  std::string text;
  for (const char* at = format; *at != '\0'; ++at) {
    if (std::string_view(at).substr(0, 4) == "%lld") {
      text += std::to_string(value);
      at += 3;
    } else if (at[0] == '%' && at[1] == 'd') {
      text += std::to_string(value);
      ++at;
    } else if (at[0] == '%' && at[1] == '%') {
      text += '%';
      ++at;
    } else {
      text += *at;
    }
  }
  return text;
}

std::string timeLinePattern(const char* format) {
  std::string pattern;
  for (const char* at = format; *at != '\0'; ++at) {
    if (std::string_view(at).substr(0, 4) == "%02d") {
      pattern += "[0-9]{2}";
      at += 3;
    } else if (std::string_view(at).substr(0, 4) == "%lld") {
      pattern += "[0-9]+";
      at += 3;
    } else if (std::string_view("\\^$.|?*+()[]{}").find(*at) != std::string_view::npos) {
      pattern += std::string("\\") + *at;
    } else {
      pattern += *at;
    }
  }
  return pattern;
}

std::string withoutDamageCount(const std::string& err) {
  return std::regex_replace(err, std::regex(timeLinePattern(msg::kDamageCounted)), "");
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

ToolFolder::ToolFolder() {
  dir_ = scratchPath("folder");
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  executable_ = dir_ / kExecutableName;
  fs::copy_file(CORVANE_EXECUTABLE, executable_);
}

ToolFolder::~ToolFolder() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

fs::path ToolFolder::settingsFile() const { return dir_ / kSettingsName; }

#ifdef _WIN32
RunResult ToolFolder::run(const std::vector<std::string>& arguments,
                          const RunOptions& options) const {
  fs::path outPath = dir_ / "stdout.txt";
  fs::path errPath = dir_ / "stderr.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  // The test's own pipe ends are not inherited, so that each pipe ends when the test closes it.
  auto makePipe = [&](HANDLE* read, HANDLE* write, bool testReads) {
    if (!::CreatePipe(read, write, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    ::SetHandleInformation(testReads ? *read : *write, HANDLE_FLAG_INHERIT, 0);
  };
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE feed = nullptr;
  if (options.inputThroughPipe) {
    makePipe(&in, &feed, false);
  } else {
    fs::path input = options.input.empty() ? fs::path(L"NUL") : options.input;
    in = ::CreateFileW(input.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
  }
  HANDLE out = INVALID_HANDLE_VALUE;
  HANDLE collect = nullptr;
  if (!options.output.empty()) {
    out = ::CreateFileW(options.output.c_str(), FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS, 0, nullptr);
  } else if (options.stdout_ == RunOptions::Stdout::file) {
    out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                        nullptr);
  } else {
    makePipe(&collect, &out, true);
    if (options.stdout_ == RunOptions::Stdout::brokenPipe) {
      ::CloseHandle(collect);  // nobody will ever read
      collect = nullptr;
    }
  }
  HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
  std::wstring line = L"\"" + executable_.wstring() + L"\"";
  for (const std::string& argument : arguments) line += L" \"" + toPath(argument) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(executable_.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        dir_.c_str(), &startup, &process)) {
    throw std::runtime_error("CreateProcessW failed");
  }
  ::CloseHandle(in);
  ::CloseHandle(out);
  ::CloseHandle(err);
  std::thread feeder;
  if (feed != nullptr) {
    feeder = std::thread([&] {
      Bytes data = readFile(options.input);
      DWORD put = 0;
      for (std::size_t done = 0; done < data.size(); done += put) {
        DWORD size = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
        if (!::WriteFile(feed, data.data() + done, size, &put, nullptr)) break;
      }
      ::CloseHandle(feed);
    });
  }
  std::string collected;
  if (collect != nullptr) {
    char piece[65536];
    DWORD got = 0;
    while (::ReadFile(collect, piece, sizeof piece, &got, nullptr) && got > 0) {
      collected.append(piece, got);
    }
    ::CloseHandle(collect);
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  if (feeder.joinable()) feeder.join();
  DWORD status = 0;
  ::GetExitCodeProcess(process.hProcess, &status);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  RunResult result;
  result.status = static_cast<int>(status);
  result.out = options.stdout_ == RunOptions::Stdout::file ? readText(outPath) : collected;
  result.err = readText(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}
#else
RunResult ToolFolder::run(const std::vector<std::string>& arguments,
                          const RunOptions& options) const {
  fs::path outPath = dir_ / ".stdout";
  fs::path errPath = dir_ / ".stderr";
  // A feeding pipe whose reader has gone fails its write instead of ending the tests.
  ::signal(SIGPIPE, SIG_IGN);
  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  if (options.inputThroughPipe && ::pipe2(inPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if ((options.stdout_ == RunOptions::Stdout::pipe ||
       options.stdout_ == RunOptions::Stdout::brokenPipe) &&
      ::pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (options.stdout_ == RunOptions::Stdout::brokenPipe) {
    ::close(outPipe[0]);  // nobody will ever read
    outPipe[0] = -1;
  }
  pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    std::string input = options.input.empty() ? "/dev/null" : options.input.string();
    int in = inPipe[0] >= 0 ? inPipe[0] : ::open(input.c_str(), O_RDONLY);
    int out = outPipe[1];
    if (options.stdout_ == RunOptions::Stdout::terminal) {
      out = ::posix_openpt(O_RDWR | O_NOCTTY);
      if (out < 0 || ::grantpt(out) != 0 || ::unlockpt(out) != 0) ::_exit(126);
      out = ::open(::ptsname(out), O_RDWR | O_NOCTTY);
    } else if (!options.output.empty()) {
      out = ::open(options.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    } else if (out < 0) {
      out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.stdout_ == RunOptions::Stdout::closed) ::close(1);
    ::signal(SIGPIPE, SIG_DFL);
    ::setenv("LC_ALL", "C", 1);
    std::vector<std::string> variables = options.environment;
    for (std::string& variable : variables) ::putenv(variable.data());
    // A cross-built executable starts through its emulator, which passes the preload to the
    // emulated loader only: in the emulator's own environment it would load into the emulator.
    std::vector<std::string> command = emulatorCommand();
    if (!options.fault.empty()) {
      if (command.empty()) {
        ::setenv("LD_PRELOAD", CORVANE_FAULTS, 1);
      } else {
        command.insert(command.end(), {"-E", std::string("LD_PRELOAD=") + CORVANE_FAULTS});
      }
      ::setenv("CORVANE_FAULT", options.fault.c_str(), 1);
      ::setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }
    if (options.fileSizeLimit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
      struct rlimit limit = {static_cast<rlim_t>(options.fileSizeLimit),
                             static_cast<rlim_t>(options.fileSizeLimit)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (options.unprivileged && ::geteuid() == 0 &&
        (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(126);
    }
    command.push_back(executable_.string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  if (inPipe[0] >= 0) ::close(inPipe[0]);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  std::thread feeder;
  if (inPipe[1] >= 0) {
    feeder = std::thread([&] {
      Bytes data = readFile(options.input);
      ssize_t put = 0;
      for (std::size_t done = 0; done < data.size(); done += static_cast<std::size_t>(put)) {
        put = ::write(inPipe[1], data.data() + done, data.size() - done);
        if (put < 0) break;
      }
      ::close(inPipe[1]);
    });
  }
  std::string collected;
  if (outPipe[0] >= 0) {
    char piece[65536];
    ssize_t got = 0;
    while ((got = ::read(outPipe[0], piece, sizeof piece)) > 0) {
      collected.append(piece, static_cast<std::size_t>(got));
    }
    ::close(outPipe[0]);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (feeder.joinable()) feeder.join();
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = options.stdout_ == RunOptions::Stdout::pipe ? collected : readText(outPath);
  result.err = readText(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}
#endif

}  // namespace corvane::testing

namespace corvane::testing {

std::vector<Event> RecordedEvents::of(EventKind kind) const {
  std::vector<Event> found;
  for (const Event& event : all) {
    if (event.kind == kind) found.push_back(event);
  }
  return found;
}

}  // namespace corvane::testing
