// POSIX implementation of the platform layer. Paths and arguments are the system's byte
// strings; comparisons that ignore case fold ASCII letters only.
#include <fcntl.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace corvane::platform {

namespace {

int descriptor(FileHandle file) { return static_cast<int>(file); }

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameIdentity(const struct stat& first, const struct stat& second) {
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Both are open and are the same file.
bool sameOpenFiles(int fd, FileHandle other) {
  struct stat first;
  struct stat second;
  return other != kNoFile && ::fstat(fd, &first) == 0 && ::fstat(descriptor(other), &second) == 0 &&
         sameIdentity(first, second);
}

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// From code page 932 into the locale's character set; kNoConverter while the texts go out as
// their own bytes.
iconv_t consoleConverter = kNoConverter;

// The names the C library gives code page 932 and the Shift_JIS it extends, compared without
// case, '-' and '_'. Their texts keep their exact bytes.
bool namesCodePage932(const char* charset) {
  std::string name;
  for (const char* c = charset; *c != '\0'; ++c) {
    if (*c != '-' && *c != '_') name += foldAscii(*c);
  }
  for (const char* known : {"cp932", "ms932", "windows31j", "shiftjis", "sjis", "mskanji"}) {
    if (name == known) return true;
  }
  return false;
}

void openConsoleConverter() {
  // Only the name of the locale's set is taken. The C library goes back to the C locale, so
  // that nothing else the tool does depends on the user's locale.
  if (std::setlocale(LC_CTYPE, "") == nullptr) return;
  std::string charset = ::nl_langinfo(CODESET);
  std::setlocale(LC_CTYPE, "C");
  if (namesCodePage932(charset.c_str())) return;
  consoleConverter = ::iconv_open(charset.c_str(), "CP932");
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimBlanks(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && isBlank(text[first])) ++first;
  while (last > first && isBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

FileHandle openSourceFile(const Path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat info;
  int code = 0;
  if (::fstat(fd, &info) != 0) {
    code = errno;
  } else if (S_ISDIR(info.st_mode)) {
    code = EISDIR;
  }
  if (code != 0) {
    ::close(fd);
    errno = code;
    return kNoFile;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

FileHandle createDestinationFile(const Path& path, FileHandle source, FileHandle timeLog) {
  // Opened without truncation first: when the name leads to the source or the time log (the same
  // name written differently, a hard link, a symbolic link) nothing may be cut off. There is no
  // share mode that would refuse this open, so the file identity is compared instead.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return kNoFile;
  if (sameOpenFiles(fd, source) || sameOpenFiles(fd, timeLog)) {
    ::close(fd);
    errno = EBUSY;
    return kNoFile;
  }
  if (!emptyFile(fd)) {
    int code = errno;
    ::close(fd);
    errno = code;
    return kNoFile;
  }
  return fd;
}

namespace {

// A pipe holds 64 KiB by default, so that a writer and a reader moving pieces of 100 KiB and
// more wake each other several times a piece. A larger pipe (Linux lets anyone raise it to
// 1 MiB) lets each side move a whole piece per wake-up. Not a pipe, or not allowed: no change.
void widenPipe(int fd) {
#ifdef F_SETPIPE_SZ
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode)) ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
#else
  (void)fd;
#endif
}

// A descriptor of its own for standard input (0) or output (1), its pipe widened.
FileHandle duplicateStandard(int standard) {
  int fd = ::fcntl(standard, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return kNoFile;
  widenPipe(fd);
  return fd;
}

}  // namespace

FileHandle openStandardInput() { return duplicateStandard(0); }

FileHandle openStandardOutput(FileHandle source, FileHandle timeLog) {
  if (sameOpenFiles(1, source) || sameOpenFiles(1, timeLog)) {
    errno = EBUSY;
    return kNoFile;
  }
  return duplicateStandard(1);
}

bool standardOutputIsTerminal() { return ::isatty(1) == 1; }

bool isRegularFile(FileHandle file) {
  struct stat info;
  return ::fstat(descriptor(file), &info) == 0 && S_ISREG(info.st_mode);
}

bool isEmptyFile(FileHandle file) {
  struct stat info;
  return ::fstat(descriptor(file), &info) == 0 && info.st_size == 0 &&
         ::lseek(descriptor(file), 0, SEEK_CUR) == 0;
}

bool isSameOpenFile(FileHandle first, FileHandle second) {
  return first != kNoFile && sameOpenFiles(descriptor(first), second);
}

FileHandle openForWriting(const Path& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return fd < 0 ? kNoFile : fd;
}

FileHandle createNewFile(const Path& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? kNoFile : fd;
}

bool isSameFile(FileHandle file, const Path& path) {
  struct stat open;
  struct stat named;
  return ::fstat(descriptor(file), &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
         sameIdentity(open, named);
}

std::int64_t readFull(FileHandle file, std::uint8_t* data, std::int64_t size) {
  std::int64_t done = 0;
  while (done < size) {
    ssize_t got = ::read(descriptor(file), data + done, static_cast<std::size_t>(size - done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool writeAll(FileHandle file, const std::uint8_t* data, std::int64_t size) {
  std::int64_t done = 0;
  while (done < size) {
    ssize_t put = ::write(descriptor(file), data + done, static_cast<std::size_t>(size - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += put;
  }
  return true;
}

bool truncateFile(FileHandle file, std::int64_t size) {
  return ::ftruncate(descriptor(file), static_cast<off_t>(size)) == 0;
}

bool emptyFile(FileHandle file) {
  struct stat info;
  if (::fstat(descriptor(file), &info) == 0 && info.st_size == 0) return true;
  return truncateFile(file, 0);
}

bool fileSize(FileHandle file, std::int64_t* size) {
  struct stat info;
  if (::fstat(descriptor(file), &info) != 0) return false;
  *size = info.st_size;
  return true;
}

bool closeFile(FileHandle file) {
  // After EINTR the descriptor is closed all the same on Linux; only other errors count.
  return file == kNoFile || ::close(descriptor(file)) == 0 || errno == EINTR;
}

int lastErrorCode() { return errno; }

bool executablePath(Path* path) {
  std::vector<char> name(PATH_MAX);
  for (;;) {
    ssize_t got = ::readlink("/proc/self/exe", name.data(), name.size());
    if (got < 0) return false;
    if (static_cast<std::size_t>(got) < name.size()) {
      path->assign(name.data(), static_cast<std::size_t>(got));
      return true;
    }
    name.resize(name.size() * 2);
  }
}

bool userSettingsPath(Path* path) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  Path folder;
  if (configHome != nullptr && configHome[0] == '/') {
    folder = configHome;
  } else if (home != nullptr && home[0] == '/') {
    folder = std::string(home) + "/.config";
  } else {
    return false;
  }
  folder += "/corvane";
  // Each missing folder from the top down; existing ones are left as they are.
  for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    ::mkdir(folder.substr(0, end).c_str(), 0700);
    if (end == std::string::npos) break;
  }
  *path = folder + "/corvane.ini";
  return true;
}

Path readProfileString(const Path& file, const Path& section, const Path& key,
                       const Path& fallback) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (stream == nullptr) return fallback;
  std::string content;
  char chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) content.append(chunk, got);
  std::fclose(stream);

  bool inSection = false;
  bool sectionSeen = false;
  std::size_t lineStart = 0;
  while (lineStart < content.size()) {
    std::size_t lineEnd = content.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = content.size();
    std::string line = trimBlanks(content.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;

    if (!line.empty() && line[0] == '[') {
      // Only the first section of the name counts, as with the system's reader.
      if (inSection) break;
      std::size_t close = line.find(']');
      std::string name =
          trimBlanks(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = !sectionSeen && equalsIgnoreCase(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (!equalsIgnoreCase(trimBlanks(line.substr(0, equals)), key)) continue;

    std::string value = trimBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.size() > 255) value.resize(255);
    return value;
  }
  return fallback;
}

std::FILE* streamOver(FileHandle file) {
  std::FILE* stream = ::fdopen(descriptor(file), "wb");
  if (stream == nullptr) closeFile(file);
  return stream;
}

int lastStreamErrorCode() { return errno; }

void* allocatePageAligned(std::size_t size) { return std::aligned_alloc(4096, size); }

void freePageAligned(void* memory) { std::free(memory); }

int usableProcessors() {
#ifdef __linux__
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
#endif
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 1 ? static_cast<int>(std::min<long>(online, INT_MAX)) : 1;
}

LocalTime localTime() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  return LocalTime{parts.tm_hour, parts.tm_min, parts.tm_sec};
}

std::size_t findExtension(const Path& path) {
  std::size_t dot = path.size();
  for (std::size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '.') {
      dot = i;
    } else if (c == '/' || c == ' ') {
      dot = path.size();
    }
  }
  return dot;
}

bool equalsIgnoreCase(const Path& a, const Path& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

std::string pathForConsole(const Path& path) { return path; }

std::string pathInUtf8(const Path& path) { return path; }

bool renameFile(const Path& from, const Path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const Path& path) { return ::unlink(path.c_str()) == 0; }

void prepareConsole() {
  // A descriptor left closed by the caller would be the next one open() hands out, and the
  // console texts would land in the file that took it.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
      }
    }
  }
  // The console only informs: a write to a pipe whose reader has gone fails with EPIPE instead.
  std::signal(SIGPIPE, SIG_IGN);
  openConsoleConverter();
}

namespace {

std::atomic<int> cancelledBy{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written from a signal handler");

extern "C" void onCancelSignal(int signal) {
  int none = 0;
  if (!cancelledBy.compare_exchange_strong(none, signal)) {
    // The second: the signal's own end, once this handler returns and unblocks it.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
}

}  // namespace

void catchCancelSignals() {
  struct sigaction action = {};
  action.sa_handler = onCancelSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // reads and writes go on; the pass looks at the flag
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction before = {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
      ::sigaction(signal, &action, nullptr);
    }
  }
}

int cancelSignal() { return cancelledBy.load(std::memory_order_relaxed); }

namespace {

bool convertWith(iconv_t converter, const char* text, std::string& converted) {
  std::size_t inLeft = std::strlen(text);
  // Code page 932 takes one or two bytes per character; no set the console uses takes more than
  // three bytes for one byte of it (UTF-8, for the one-byte katakana).
  std::string output(inLeft * 3 + 16, '\0');
  char* in = const_cast<char*>(text);
  char* out = output.data();
  std::size_t outLeft = output.size();
  ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (::iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      ::iconv(converter, nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  output.resize(output.size() - outLeft);
  converted = std::move(output);
  return true;
}

}  // namespace

bool convertConsoleText(const char* text, std::string& converted) {
  return consoleConverter != kNoConverter && convertWith(consoleConverter, text, converted);
}

bool codePage932ToUtf8(const char* text, std::string& converted) {
  iconv_t converter = ::iconv_open("UTF-8", "CP932");
  if (converter == kNoConverter) return false;
  bool done = convertWith(converter, text, converted);
  ::iconv_close(converter);
  return done;
}

}  // namespace corvane::platform
