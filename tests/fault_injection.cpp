// Faults that real machines produce, injected into the tool for end-to-end tests: loaded with
// LD_PRELOAD, it stands in front of the C library's read, close and ftruncate, and makes one of
// them misbehave for one file, as CORVANE_FAULT says:
//   eof-once:NAME:OFFSET  reads of NAME stop at OFFSET, and the read that starts there finds the
//                         end of the file, once; later reads go on (a recording still growing)
//   eio:NAME:OFFSET       reads of NAME stop at OFFSET, and the reads from there fail with EIO
//   close:NAME            closing NAME fails with EIO (a write the system had deferred)
//   truncate:NAME         cutting NAME fails with EIO and leaves it as it is
// NAME is matched against the last part of the name the descriptor was opened by.
#include <dlfcn.h>
#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Fault {
  std::string kind;
  std::string name;
  off_t offset = -1;
  bool done = false;
};

Fault& fault() {
  static Fault parsed = [] {
    Fault result;
    const char* text = std::getenv("CORVANE_FAULT");
    if (text == nullptr) return result;
    std::string setting = text;
    std::size_t first = setting.find(':');
    if (first == std::string::npos) return result;
    result.kind = setting.substr(0, first);
    std::size_t second = setting.find(':', first + 1);
    result.name = setting.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (second != std::string::npos) result.offset = std::atoll(setting.c_str() + second + 1);
    return result;
  }();
  return parsed;
}

// The fault of this kind applies to the file open as `fd`.
bool targets(const char* kind, int fd) {
  Fault& wanted = fault();
  if (wanted.kind != kind || wanted.done) return false;
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  const char* slash = std::strrchr(target, '/');
  return wanted.name == (slash != nullptr ? slash + 1 : target);
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t read(int fd, void* data, size_t size) {
  static auto real = next<ssize_t (*)(int, void*, size_t)>("read");
  if (targets("eof-once", fd)) {
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    off_t end = fault().offset;
    if (at == end) {
      fault().done = true;
      return 0;
    }
    if (at < end && at + static_cast<off_t>(size) > end) size = static_cast<size_t>(end - at);
  } else if (targets("eio", fd)) {
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    off_t end = fault().offset;
    if (at >= end) {
      errno = EIO;
      return -1;
    }
    if (at + static_cast<off_t>(size) > end) size = static_cast<size_t>(end - at);
  }
  return real(fd, data, size);
}

extern "C" int close(int fd) {
  static auto real = next<int (*)(int)>("close");
  bool failing = targets("close", fd);
  int result = real(fd);
  if (!failing) return result;
  errno = EIO;
  return -1;
}

extern "C" int ftruncate(int fd, off_t size) {
  static auto real = next<int (*)(int, off_t)>("ftruncate");
  if (targets("truncate", fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, size);
}
