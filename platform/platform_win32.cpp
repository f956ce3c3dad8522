// Win32 implementation of the platform layer. Paths and arguments are wide strings; comparisons
// that ignore case do so as the system's file names do.
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/platform.h"

namespace corvane::platform {

namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle fileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(handle);
}

// Reads and writes go in pieces a DWORD can count.
constexpr std::int64_t kLargestTransfer = 1 << 30;

}  // namespace

FileHandle openSourceFile(const Path& path) {
  return fileOf(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

FileHandle createDestinationFile(const Path& path, FileHandle /*source*/, FileHandle /*timeLog*/) {
  // The source is open without write sharing, and the time log is open for writing while this
  // open shares reading only, so a name that leads to either fails here with a sharing violation
  // before anything is truncated.
  return fileOf(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

FileHandle duplicateStandard(DWORD which) {
  HANDLE own = INVALID_HANDLE_VALUE;
  HANDLE process = ::GetCurrentProcess();
  HANDLE standard = ::GetStdHandle(which);
  if (standard == nullptr || standard == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(process, standard, process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return kNoFile;
  }
  return fileOf(own);
}

bool sameFileInformation(HANDLE first, HANDLE second) {
  BY_HANDLE_FILE_INFORMATION one;
  BY_HANDLE_FILE_INFORMATION other;
  return ::GetFileInformationByHandle(first, &one) &&
         ::GetFileInformationByHandle(second, &other) &&
         one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

}  // namespace

FileHandle openStandardInput() { return duplicateStandard(STD_INPUT_HANDLE); }

FileHandle openStandardOutput(FileHandle source, FileHandle timeLog) {
  FileHandle output = duplicateStandard(STD_OUTPUT_HANDLE);
  if (output != kNoFile && (isSameOpenFile(output, source) || isSameOpenFile(output, timeLog))) {
    closeFile(output);
    ::SetLastError(ERROR_SHARING_VIOLATION);  // what a name that leads to either gets
    return kNoFile;
  }
  return output;
}

bool standardOutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool isRegularFile(FileHandle file) { return ::GetFileType(handleOf(file)) == FILE_TYPE_DISK; }

bool isEmptyFile(FileHandle file) {
  LARGE_INTEGER size;
  LARGE_INTEGER position;
  LARGE_INTEGER none;
  none.QuadPart = 0;
  // Cut where it ends, which changes nothing, to learn whether it can be cut at all.
  return ::GetFileSizeEx(handleOf(file), &size) && size.QuadPart == 0 &&
         ::SetFilePointerEx(handleOf(file), none, &position, FILE_CURRENT) &&
         position.QuadPart == 0 && ::SetEndOfFile(handleOf(file));
}

bool isSameOpenFile(FileHandle first, FileHandle second) {
  return first != kNoFile && second != kNoFile &&
         sameFileInformation(handleOf(first), handleOf(second));
}

FileHandle openForWriting(const Path& path) {
  return fileOf(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle createNewFile(const Path& path) {
  return fileOf(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool isSameFile(FileHandle file, const Path& path) {
  // Opened for no access at all, which no share mode refuses, only to learn its identity.
  HANDLE named =
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  bool same = sameFileInformation(handleOf(file), named);
  ::CloseHandle(named);
  return same;
}

std::int64_t readFull(FileHandle file, std::uint8_t* data, std::int64_t size) {
  std::int64_t done = 0;
  while (done < size) {
    DWORD wanted =
        static_cast<DWORD>(size - done < kLargestTransfer ? size - done : kLargestTransfer);
    DWORD got = 0;
    if (!::ReadFile(handleOf(file), data + done, wanted, &got, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // a pipe's writer has closed: its end
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
    DWORD wanted =
        static_cast<DWORD>(size - done < kLargestTransfer ? size - done : kLargestTransfer);
    DWORD put = 0;
    if (!::WriteFile(handleOf(file), data + done, wanted, &put, nullptr)) return false;
    done += put;
  }
  return true;
}

bool truncateFile(FileHandle file, std::int64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = size;
  return ::SetFilePointerEx(handleOf(file), position, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(handleOf(file));
}

bool emptyFile(FileHandle file) { return truncateFile(file, 0); }

bool fileSize(FileHandle file, std::int64_t* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(handleOf(file), &value)) return false;
  *size = value.QuadPart;
  return true;
}

bool closeFile(FileHandle file) { return file == kNoFile || ::CloseHandle(handleOf(file)); }

int lastErrorCode() { return static_cast<int>(::GetLastError()); }

bool executablePath(Path* path) {
  // No fixed limit: the buffer grows until the whole name fits.
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    DWORD got = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (got == 0) return false;
    if (got < name.size()) {
      path->assign(name.data(), got);
      return true;
    }
    name.resize(name.size() * 2);
  }
}

bool userSettingsPath(Path*) { return false; }

Path readProfileString(const Path& file, const Path& section, const Path& key,
                       const Path& fallback) {
  wchar_t value[256];
  DWORD got = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(), value, 256,
                                         file.c_str());
  return Path(value, got);
}

std::FILE* streamOver(FileHandle file) {
  int fd = ::_open_osfhandle(file, _O_BINARY);
  if (fd == -1) {
    closeFile(file);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(fd, "wb");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

// The runtime keeps the system's own code of its last failed call beside errno.
int lastStreamErrorCode() { return static_cast<int>(_doserrno); }

void* allocatePageAligned(std::size_t size) { return ::_aligned_malloc(size, 4096); }

void freePageAligned(void* memory) { ::_aligned_free(memory); }

int usableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

LocalTime localTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wHour, now.wMinute, now.wSecond};
}

std::size_t findExtension(const Path& path) {
  std::size_t dot = path.size();
  for (std::size_t i = 0; i < path.size(); ++i) {
    wchar_t c = path[i];
    if (c == L'.') {
      dot = i;
    } else if (c == L'\\' || c == L'/' || c == L' ') {
      dot = path.size();
    }
  }
  return dot;
}

bool equalsIgnoreCase(const Path& a, const Path& b) {
  return ::_wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::string pathForConsole(const Path& path) {
  int size = ::WideCharToMultiByte(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()), nullptr,
                                   0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()), text.data(), size,
                        nullptr, nullptr);
  return text;
}

void prepareConsole() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

namespace {

std::atomic<int> cancelledBy{0};

BOOL WINAPI onConsoleControl(DWORD type) {
  int signal = type == CTRL_C_EVENT                                   ? 2
               : type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT ? 15
                                                                      : 0;
  int none = 0;
  // Not ours, or the second: the system's own handling ends the process.
  if (signal == 0 || !cancelledBy.compare_exchange_strong(none, signal)) return FALSE;
  // After a close the system ends the process as soon as this returns: it waits here for the run
  // to end, which ends the process, or for the system's time-out.
  if (type == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void catchCancelSignals() { ::SetConsoleCtrlHandler(onConsoleControl, TRUE); }

int cancelSignal() { return cancelledBy.load(std::memory_order_relaxed); }

bool convertConsoleText(const char*, std::string&) { return false; }

namespace {

std::string wideToUtf8(const wchar_t* text, int length) {
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, converted.data(), size, nullptr, nullptr);
  }
  return converted;
}

}  // namespace

std::string pathInUtf8(const Path& path) {
  return wideToUtf8(path.c_str(), static_cast<int>(path.size()));
}

bool renameFile(const Path& from, const Path& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool removeFile(const Path& path) { return ::DeleteFileW(path.c_str()) != 0; }

bool codePage932ToUtf8(const char* text, std::string& converted) {
  int length = static_cast<int>(std::strlen(text));
  int size = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
  if (size <= 0 && length > 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(size) + 1);
  ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, length, wide.data(), size);
  converted = wideToUtf8(wide.data(), size);
  return true;
}

}  // namespace corvane::platform
