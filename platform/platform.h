// The operating system as the tool sees it: files, the executable's own path, the settings
// reader, local time and path names. This header and the files beside it are the only code that
// knows which system it runs on; everything else speaks through these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace corvane::platform {

#ifdef _WIN32
using PathChar = wchar_t;
#define CORVANE_PATH(text) L##text
#else
using PathChar = char;
#define CORVANE_PATH(text) text
#endif

// A file name or an argument as the system hands it over: wide on Windows, bytes on POSIX.
using Path = std::basic_string<PathChar>;

// An open file; kNoFile when none.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// The outcome of a read, write, cut or close, carried up to the one who reports it.
struct IoStatus {
  bool failed = false;
  int code = 0;  // the system's error code of a failed call
};

// Opens an existing file for sequential reading; others may read it but not write it.
// kNoFile on failure, with the reason in lastErrorCode().
FileHandle openSourceFile(const Path& path);

// Creates the destination, replacing an existing file. Refuses (kNoFile, lastErrorCode() set)
// when the name leads to the open source file or to the open time log (kNoFile when none), before
// anything is truncated.
FileHandle createDestinationFile(const Path& path, FileHandle source, FileHandle timeLog);

// "-", which names standard input as the source and standard output as the destination.
inline bool namesStandardStream(const Path& name) { return name == CORVANE_PATH("-"); }

// The standard input and output as the source and destination "-", as handles of their own, so
// that closing them leaves the streams open. Standard output is refused (kNoFile, lastErrorCode()
// set) as createDestinationFile refuses a name, when it is the open source or time log. Nothing
// is cut: the stream is written from where it stands.
FileHandle openStandardInput();
FileHandle openStandardOutput(FileHandle source, FileHandle timeLog);

// True when standard output is a terminal (a console on Windows).
bool standardOutputIsTerminal();

// True for a regular file: one whose size is known and that can be cut. False for pipes,
// terminals and devices.
bool isRegularFile(FileHandle file);

// True for an empty file positioned at its start that can be cut: standard output redirected to
// a new file. On Windows a handle that the system will not cut (one its creator opened without
// the right to) is not, whatever it holds.
bool isEmptyFile(FileHandle file);

// True when both open handles are the same file.
bool isSameOpenFile(FileHandle first, FileHandle second);

// Opens a file for writing, creating it when missing, without cutting it: whether it may be cut
// is decided once it is open. Others may read it meanwhile.
FileHandle openForWriting(const Path& path);

// Creates a file only when no file of that name exists; kNoFile when one does or it cannot be made.
FileHandle createNewFile(const Path& path);

// True when `path` names the file that is open as `file`: the same device and inode, or on
// Windows the same volume serial number and file index. False when `path` names nothing.
bool isSameFile(FileHandle file, const Path& path);

// Reads until `size` bytes are in or the file ends. Returns the count, or -1 on error.
std::int64_t readFull(FileHandle file, std::uint8_t* data, std::int64_t size);

// Writes all `size` bytes. False on error.
bool writeAll(FileHandle file, const std::uint8_t* data, std::int64_t size);

// Cuts a file open for writing to `size` bytes. False on error.
bool truncateFile(FileHandle file, std::int64_t size);

// Cuts a file open for writing to nothing. A file that is empty already is left alone: truncating
// is not free on every file system (ext4 then writes the whole new content back at close).
bool emptyFile(FileHandle file);

// Size of an open file in bytes. False when it cannot be had.
bool fileSize(FileHandle file, std::int64_t* size);

// False when the system reports an error, which for a file written to can be a write that it had
// deferred (network shares, quotas).
bool closeFile(FileHandle file);

// The system's error code of the last failed call above.
int lastErrorCode();

// Full path of the running executable. False when it cannot be had.
bool executablePath(Path* path);

// The settings file of an installed program, which cannot write beside its executable:
// corvane/corvane.ini in the user's configuration folder, $XDG_CONFIG_HOME or else ~/.config
// (each only when it is an absolute path). Folders on the way that are missing are made, for the
// user alone; whether they could be is found out when the file is created. False when neither
// variable names a folder. Builds for Windows keep the file beside the executable, and there it
// is always false.
bool userSettingsPath(Path* path);

// Reads `key` of `section` from a settings file the way the system's profile reader does:
// section and key match without regard to case, blanks around the value are removed, one pair of
// enclosing quotes is removed, and at most 255 characters are returned. A missing file, section
// or key gives `fallback`.
Path readProfileString(const Path& file, const Path& section, const Path& key,
                       const Path& fallback);

// A binary stream over an open file, which then belongs to the stream: fclose closes it. Null on
// failure, and the file is closed.
std::FILE* streamOver(FileHandle file);

// The system's error code of the last failed stream operation.
int lastStreamErrorCode();

// Memory aligned to a 4 KiB page, for the packet buffer: the system copies between it and its
// file cache a page at a time, which is measurably faster when the buffer's pages line up.
// Null when none can be had. `size` is a multiple of 4,096.
void* allocatePageAligned(std::size_t size);
void freePageAligned(void* memory);

// The processors this process may run on (its affinity, as `taskset` sets it), at least 1.
int usableProcessors();

struct LocalTime {
  int hour;
  int minute;
  int second;
};
LocalTime localTime();

// Position of a path's extension: its last '.', provided no separator and no blank follows it;
// otherwise the path's length (an empty extension at its end).
std::size_t findExtension(const Path& path);

// Whole-string comparison that ignores case as the system's file names do.
bool equalsIgnoreCase(const Path& a, const Path& b);

// A path as bytes for the console.
std::string pathForConsole(const Path& path);

// A path in UTF-8, for the report: on POSIX its bytes as they are, which the report's writer
// checks; on Windows converted from UTF-16.
std::string pathInUtf8(const Path& path);

// Gives `from` the name `to`, replacing a file that has it, in one step: a reader of `to` sees
// the old file or the new one, never a part. False on error, with the reason in lastErrorCode().
bool renameFile(const Path& from, const Path& to);

// Removes the file's name. False on error.
bool removeFile(const Path& path);

// Makes the standard streams carry the console texts' bytes unchanged, without newline
// translation, so that they are the same bytes on every system. On POSIX it also opens /dev/null
// on a standard descriptor that is closed, so that no file the tool opens later takes its place,
// ignores SIGPIPE, so that a console reader that goes away cannot end the run, and takes the
// character set of the user's locale (LC_CTYPE) for the console texts.
void prepareConsole();

// After this, SIGINT and SIGTERM (on Windows the console's Ctrl-C, and its Ctrl-Break and
// close) ask the run to end instead of ending the process; a second one ends the process at once,
// as the first would have. A signal the process was started ignoring stays ignored.
void catchCancelSignals();

// The signal that asked the run to end: 2 (SIGINT, Ctrl-C) or 15 (SIGTERM, Ctrl-Break, the
// console's close); 0 while none has.
int cancelSignal();

// A console text, held as code page 932 bytes, in the console's character set. Returns false,
// leaving `converted` alone, when the text goes out as its own bytes: always on Windows, and on
// POSIX when the locale's set is code page 932 itself, cannot hold the text (the C locale's
// ASCII), or cannot be converted into.
bool convertConsoleText(const char* text, std::string& converted);

// A text held as code page 932 bytes in UTF-8, whatever the console's set. False, leaving
// `converted` alone, when the system cannot convert it.
bool codePage932ToUtf8(const char* text, std::string& converted);

}  // namespace corvane::platform

namespace corvane {
using platform::IoStatus;
}  // namespace corvane
