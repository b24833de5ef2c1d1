// The platform services on Windows. Paths arrive as UTF-8 and go to the wide-character
// (UTF-16) functions; error codes are GetLastError values.
#include "platform/platform.h"
#include "platform/system_codes.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <limits>
#include <string>

// "An operation is not supported on a directory." Missing from older SDK headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif

namespace quarrow::platform {
namespace {

// Converts a UTF-8 path to UTF-16. Paths too long for the classic limit (MAX_PATH,
// 260 characters, and 248 for directories) are made absolute and given the "\\?\"
// prefix, which lifts the limit to about 32,767 characters whatever the system's
// long-path setting. Returns 0 or the error code (ERROR_NO_UNICODE_TRANSLATION for
// bytes that are not UTF-8).
ErrorCode wide_path(const std::string& utf8, std::wstring& out) {
  out.clear();
  if (utf8.empty()) return 0;
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return ERROR_FILENAME_EXCED_RANGE;
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return static_cast<ErrorCode>(GetLastError());
  out.resize(static_cast<std::size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), n);

  constexpr std::size_t kClassicLimit = 248;
  if (out.size() < kClassicLimit || out.rfind(L"\\\\?\\", 0) == 0) return 0;
  const DWORD full_size = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
  if (full_size == 0) return static_cast<ErrorCode>(GetLastError());
  std::wstring full(full_size, L'\0');
  const DWORD written = GetFullPathNameW(out.c_str(), full_size, full.data(), nullptr);
  if (written == 0 || written >= full_size) return static_cast<ErrorCode>(GetLastError());
  full.resize(written);
  if (full.rfind(L"\\\\", 0) == 0) {
    out = L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\... -> \\?\UNC\server\share\...
  } else {
    out = L"\\\\?\\" + full;
  }
  return 0;
}

ErrorCode last_error() { return static_cast<ErrorCode>(GetLastError()); }

// Closes a handle on every path out of a function.
struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
  }
};

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

// Attributes of `path` (links followed by the file system), or INVALID_FILE_ATTRIBUTES.
DWORD attributes_of(const std::string& path, ErrorCode& err) {
  std::wstring wide;
  if ((err = wide_path(path, wide)) != 0) return INVALID_FILE_ATTRIBUTES;
  if (wide.empty()) {
    err = ERROR_PATH_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) err = last_error();
  return attributes;
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

// The parent of `path` ("a\b//c/" -> "a\b"), or "" when it has none to create.
std::string parent_path(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && is_separator(path[end - 1])) --end;
  while (end > 0 && !is_separator(path[end - 1])) --end;
  while (end > 1 && is_separator(path[end - 1])) --end;
  std::string parent = path.substr(0, end);
  // "C:" alone is a drive, not a directory to create.
  if (parent.size() == 2 && parent[1] == ':') return std::string();
  return parent;
}

}  // namespace

std::string error_description(ErrorCode code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (size > 0) {
      text.resize(static_cast<std::size_t>(size));
      WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text.data(), size, nullptr, nullptr);
    }
  }
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  return text;
}

ErrorCode invalid_name_code() { return ERROR_INVALID_NAME; }

int errno_equivalent(ErrorCode code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DIRECTORY_NOT_SUPPORTED:
      return EISDIR;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_INVALID_NAME:
    case ERROR_NO_UNICODE_TRANSLATION:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

std::optional<FileIdentity> file_identity(const std::string& path) {
  std::wstring wide;
  if (wide_path(path, wide) != 0 || wide.empty()) return std::nullopt;
  // No access rights are needed to ask for the identity; backup semantics let the
  // same call open a directory.
  Handle file;
  file.h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.h, &info)) return std::nullopt;
  return identity_of(info);
}

bool path_exists(const std::string& path) {
  ErrorCode err = 0;
  return attributes_of(path, err) != INVALID_FILE_ATTRIBUTES;
}

ReadOnlyMapping::~ReadOnlyMapping() {
  if (base_ != nullptr) UnmapViewOfFile(base_);
}

// VirtualUnlock on pages that were never locked takes them out of the process's
// working set, which is what is wanted here (the call then reports ERROR_NOT_LOCKED,
// which is expected and ignored). The view is read-only, so nothing is lost; the pages
// stay in the system's file cache.
void ReadOnlyMapping::release_resident_pages() const {
  if (base_ != nullptr) VirtualUnlock(base_, size_);
}

ErrorCode map_file_code(const std::string& path, ReadOnlyMapping& out) {
  std::wstring wide;
  if (const ErrorCode err = wide_path(path, wide); err != 0) return err;
  if (wide.empty()) return ERROR_PATH_NOT_FOUND;
  // Others may go on reading, writing, renaming or deleting the file; this process
  // only reads it.
  Handle file;
  file.h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) {
    const ErrorCode err = last_error();
    // CreateFileW refuses a directory with "access denied"; say what it is instead.
    if (err == ERROR_ACCESS_DENIED) {
      const DWORD attributes = GetFileAttributesW(wide.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ERROR_DIRECTORY_NOT_SUPPORTED;
      }
    }
    return err;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.h, &size)) return last_error();
  if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > std::numeric_limits<std::size_t>::max()) {
    return kFileTooLargeToMap;
  }
  ReadOnlyMapping mapping;
  if (size.QuadPart > 0) {  // an empty file cannot be mapped, and needs no mapping
    Handle section;
    section.h = CreateFileMappingW(file.h, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (section.h == nullptr) return last_error();
    void* base = MapViewOfFile(section.h, FILE_MAP_READ, 0, 0, 0);
    if (base == nullptr) return last_error();
    // The view keeps the section and the file open by itself.
    mapping.base_ = base;
    mapping.size_ = static_cast<std::size_t>(size.QuadPart);
  }
  out = std::move(mapping);
  return 0;
}

ErrorCode create_directories_code(const std::string& dir) {
  if (dir.empty()) return 0;
  std::wstring wide;
  if (const ErrorCode err = wide_path(dir, wide); err != 0) return err;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
  ErrorCode err = last_error();
  if (err == ERROR_PATH_NOT_FOUND) {
    const std::string parent = parent_path(dir);
    if (!parent.empty() && parent != dir) {
      if (const ErrorCode parent_err = create_directories_code(parent); parent_err != 0) return parent_err;
      if (CreateDirectoryW(wide.c_str(), nullptr)) return 0;
      err = last_error();
    }
  }
  // Already there (or made by someone else meanwhile): fine if it is a directory.
  ErrorCode ignored = 0;
  const DWORD attributes = attributes_of(dir, ignored);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  return err;
}

OutputFile::~OutputFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

ErrorCode OutputFile::open_code(const std::string& path) {
  std::wstring wide;
  if (const ErrorCode err = wide_path(path, wide); err != 0) return err;
  if (wide.empty()) return ERROR_PATH_NOT_FOUND;
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return last_error();
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

ErrorCode OutputFile::identity_code(FileIdentity& out) const {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info)) return last_error();
  out = identity_of(info);
  return 0;
}

// Only a disk file has a length to cut: NUL, a pipe or a console is written as it is.
ErrorCode OutputFile::truncate_code() {
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (GetFileType(h) != FILE_TYPE_DISK) return 0;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) return last_error();
  return 0;
}

namespace {

// Writes all of `size` bytes at the file pointer of `h`.
ErrorCode write_all_to(HANDLE h, const char* data, std::size_t size) {
  while (size > 0) {
    // WriteFile takes at most 4 GiB - 1 per call; 1 GiB steps keep it simple.
    const DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) return last_error();
    if (written == 0) return ERROR_WRITE_FAULT;  // no progress and no error: do not spin
    data += written;
    size -= written;
  }
  return 0;
}

}  // namespace

ErrorCode OutputFile::write_all_code(const char* data, std::size_t size) {
  return write_all_to(reinterpret_cast<HANDLE>(handle_), data, size);
}

ErrorCode OutputFile::close_code() {
  const HANDLE h = reinterpret_cast<HANDLE>(std::exchange(handle_, -1));
  if (h != reinterpret_cast<HANDLE>(-1) && !CloseHandle(h)) return last_error();
  return 0;
}

TemporaryFile::~TemporaryFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

ErrorCode TemporaryFile::create_code(const std::string& dir) {
  std::wstring folder;
  if (dir.empty()) {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return last_error();
    folder.assign(buffer, n);
  } else if (const ErrorCode err = wide_path(dir, folder); err != 0) {
    return err;
  }
  wchar_t name[MAX_PATH + 1];
  // GetTempFileNameW makes the name unique (and an empty file of that name); the
  // handle opened over it deletes it when it closes.
  if (GetTempFileNameW(folder.c_str(), L"qrw", 0, name) == 0) return last_error();
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const ErrorCode err = last_error();
    DeleteFileW(name);
    return err;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

ErrorCode TemporaryFile::write_all_code(const char* data, std::size_t size) {
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  // Appends: reads go through explicit offsets and leave the file pointer alone.
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(h, zero, nullptr, FILE_END)) return last_error();
  return write_all_to(h, data, size);
}

ErrorCode TemporaryFile::read_at_code(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const {
  got = 0;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD chunk = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
  DWORD read = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &read, &at)) {
    const ErrorCode err = last_error();
    if (err == ERROR_HANDLE_EOF) return 0;
    return err;
  }
  got = read;
  return 0;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide == nullptr) {  // not expected; the narrow arguments are better than none
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
  }
  for (int i = 1; i < count; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(n > 0 ? static_cast<std::size_t>(n - 1) : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}

}  // namespace quarrow::platform
