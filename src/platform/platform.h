// The few operating-system services the reader uses, behind one interface: mapping a
// file read-only, releasing mapped pages, creating directories and output files,
// telling whether two names reach the same file, and the system's error texts.
// posix.cpp implements it for Linux, macOS and the BSDs, windows.cpp for Windows;
// nothing else in the reader includes a system header.
//
// Paths are UTF-8 everywhere (Windows converts them to UTF-16 at the call). Failures
// come back as the core's Status or Result: an I/O EseError carrying the system's own
// error code (an errno value on POSIX systems, a GetLastError value on Windows) and the
// system's description of it, made here at the boundary (system_error).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error/ese_error.h"

namespace quarrow::platform {

using ErrorCode = int;

// The system's description of `code` ("No such file or directory", "The system cannot
// find the file specified."), without a trailing line break.
std::string error_description(ErrorCode code);

// The I/O error of the system's `code`, with the system's description.
EseError system_error(ErrorCode code);

// The error the system gives a name it cannot use (EINVAL; ERROR_INVALID_NAME).
EseError invalid_name_error();

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
  friend ErrorCode map_file_code(const std::string& path, ReadOnlyMapping& out);
  void swap(ReadOnlyMapping& other) noexcept {
    std::swap(base_, other.base_);
    std::swap(size_, other.size_);
  }
  void* base_ = nullptr;
  std::size_t size_ = 0;
};

// Opens the file at `path` for reading, maps all of it and closes the file again (the
// mapping keeps what it needs). A directory fails with the system's "is a directory"
// error (EISDIR; ERROR_DIRECTORY_NOT_SUPPORTED on Windows), an empty file gives an
// empty mapping. A file larger than the address space fails with a fixed message.
Status map_file_read_only(const std::string& path, ReadOnlyMapping& out);

// Creates `dir` with every missing parent; an existing directory is fine, "" stands
// for the current directory and creates nothing.
Status create_directories(const std::string& dir);

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
  Status open(const std::string& path);
  // The identity of the opened file.
  Result<FileIdentity> identity() const;
  // Cuts the opened file to length 0.
  Status truncate();
  // Writes all of `data` at the current position, through partial and interrupted
  // writes. Bytes go out unchanged: no line-ending translation on any system.
  Status write_all(const char* data, std::size_t size);
  // Closes the file; the result can carry a delayed write error (network file systems).
  Status close();

 private:
  // Each system's calls behind the above (system_calls.cpp wraps them): 0 is success.
  ErrorCode open_code(const std::string& path);
  ErrorCode identity_code(FileIdentity& out) const;
  ErrorCode truncate_code();
  ErrorCode write_all_code(const char* data, std::size_t size);
  ErrorCode close_code();

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
  Status create(const std::string& dir);
  // Appends all of `data`.
  Status write_all(const char* data, std::size_t size);
  // Reads up to `size` bytes at `offset` into `data`; `got` is 0 at the end.
  Status read_at(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const;

 private:
  // Each system's calls behind the above (system_calls.cpp wraps them): 0 is success.
  ErrorCode create_code(const std::string& dir);
  ErrorCode write_all_code(const char* data, std::size_t size);
  ErrorCode read_at_code(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const;

  std::intptr_t handle_ = -1;
};

// The program's arguments (without the program name) as UTF-8. On Windows they come
// from the UTF-16 command line, since the narrow argv holds them in the ANSI code page,
// which cannot represent every file name; elsewhere argv is taken as it is.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace quarrow::platform
