#include "tests/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace corvane::testing {

namespace fs = std::filesystem;

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
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeText(const fs::path& path, const std::string& text) {
  writeFile(path, Bytes(text.begin(), text.end()));
}

ToolFolder::ToolFolder() {
  static std::atomic<int> serial{0};
  dir_ = fs::temp_directory_path() /
         ("corvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  executable_ = dir_ / "corvane";
  fs::copy_file(CORVANE_EXECUTABLE, executable_);
}

ToolFolder::~ToolFolder() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

fs::path ToolFolder::settingsFile() const { return dir_ / "corvane.ini"; }

RunResult ToolFolder::run(const std::vector<std::string>& arguments) const {
  fs::path outPath = dir_ / ".stdout";
  fs::path errPath = dir_ / ".stderr";
  pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv;
    std::string program = executable_.string();
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readText(outPath);
  result.err = readText(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return result;
}

}  // namespace corvane::testing

namespace corvane::testing {

std::int32_t LoadedContext::load(const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  return static_cast<std::int32_t>(bytes.size());
}

}  // namespace corvane::testing
