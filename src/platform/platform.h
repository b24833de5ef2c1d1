// The few operating-system services the reader uses, behind one interface: mapping a
// file read-only, releasing mapped pages, creating directories and output files,
// telling whether two names reach the same file, and the system's error texts.
// posix.cpp implements it for Linux, macOS and the BSDs, windows.cpp for Windows;
// nothing else in the reader includes a system header.
//
// Paths are UTF-8 everywhere (Windows converts them to UTF-16 at the call). Failures
// come back as the system's own error code: an errno value on POSIX systems, a
// GetLastError value on Windows. 0 means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quarrow::platform {

using ErrorCode = int;

// The system's description of `code` ("No such file or directory", "The system cannot
// find the file specified."), without a trailing line break.
std::string error_description(ErrorCode code);

// The code the system gives a name it cannot use (EINVAL; ERROR_INVALID_NAME).
ErrorCode invalid_name_error();

// The nearest errno value of `code` (itself on POSIX systems), so that callers can
// classify a failure the same way on every system (ENOENT, EACCES, EISDIR, ...).
int errno_equivalent(ErrorCode code);

// Where a file lives: the device and inode numbers, or on Windows the volume serial
// number and the file index. Two names reach the same file when these agree.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at `path` (symbolic links followed), if it can be queried.
std::optional<FileIdentity> file_identity(const std::string& path);

// Whether the system can query `path` (symbolic links followed); a directory counts.
bool path_exists(const std::string& path);

// A whole file mapped read-only: nothing can be written through it, and changes
// others make to the file are not promised to show. Unmapped on destruction.
class ReadOnlyMapping {
 public:
  ReadOnlyMapping() = default;
  ~ReadOnlyMapping();
  ReadOnlyMapping(ReadOnlyMapping&& other) noexcept { swap(other); }
  ReadOnlyMapping& operator=(ReadOnlyMapping&& other) noexcept {
    swap(other);
    return *this;
  }
  ReadOnlyMapping(const ReadOnlyMapping&) = delete;
  ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(base_); }
  std::size_t size() const { return size_; }

  // Drops the mapped pages from the process's resident set (working set). They stay
  // in the system's file cache and come back on the next access, unchanged.
  void release_resident_pages() const;

 private:
  friend ErrorCode map_file_read_only(const std::string& path, ReadOnlyMapping& out);
  void swap(ReadOnlyMapping& other) noexcept {
    std::swap(base_, other.base_);
    std::swap(size_, other.size_);
  }
  void* base_ = nullptr;
  std::size_t size_ = 0;
};

// Returned by map_file_read_only when the file is larger than the address space.
constexpr ErrorCode kFileTooLargeToMap = -1;

// Opens the file at `path` for reading, maps all of it and closes the file again (the
// mapping keeps what it needs). A directory fails with the system's "is a directory"
// error (EISDIR; ERROR_DIRECTORY_NOT_SUPPORTED on Windows), an empty file gives an
// empty mapping.
ErrorCode map_file_read_only(const std::string& path, ReadOnlyMapping& out);

// Creates `dir` with every missing parent; an existing directory is fine, "" stands
// for the current directory and creates nothing.
ErrorCode create_directories(const std::string& dir);

// A file written from the start, for one export. Closed on destruction if the caller
// has not closed it.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing, creating it if needed but leaving its contents alone,
  // so that the caller can look at what it opened before anything is lost.
  ErrorCode open(const std::string& path);
  // The identity of the opened file.
  ErrorCode identity(FileIdentity& out) const;
  // Cuts the opened file to length 0.
  ErrorCode truncate();
  // Writes all of `data` at the current position, through partial and interrupted
  // writes. Bytes go out unchanged: no line-ending translation on any system.
  ErrorCode write_all(const char* data, std::size_t size);
  // Closes the file; the result can carry a delayed write error (network file systems).
  ErrorCode close();

 private:
  std::intptr_t handle_ = -1;
};

// A scratch file for data too large to keep in memory (the timeline's sorted runs). It
// has no name anyone else can reach: on POSIX systems it is unlinked as soon as it is
// made, on Windows it is deleted when its handle closes, so nothing is left behind
// however the process ends.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file in `dir`, or in the system's temporary folder when `dir` is empty
  // (TMPDIR, else /tmp; GetTempPath on Windows).
  ErrorCode create(const std::string& dir);
  // Appends all of `data`.
  ErrorCode write_all(const char* data, std::size_t size);
  // Reads up to `size` bytes at `offset` into `data`; `got` is 0 at the end.
  ErrorCode read_at(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const;

 private:
  std::intptr_t handle_ = -1;
};

// The program's arguments (without the program name) as UTF-8. On Windows they come
// from the UTF-16 command line, since the narrow argv holds them in the ANSI code page,
// which cannot represent every file name; elsewhere argv is taken as it is.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace quarrow::platform
