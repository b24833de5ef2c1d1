// The platform services on POSIX systems (Linux, macOS, the BSDs).
#include "platform/platform.h"
#include "platform/system_codes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quarrow::platform {
namespace {

// What the reader needs to know about a file.
struct Status {
  bool is_directory = false;
  bool is_regular = false;
  std::uint64_t size = 0;
  FileIdentity identity;
};

// Linux asks statx, not stat: glibc 2.33 gave stat and fstat new symbol versions, so
// a module built on a current system that calls them cannot load on an older one,
// while statx has been in glibc since 2.28 (the oldest system the wheels target).
#if defined(__linux__) && defined(STATX_BASIC_STATS)
ErrorCode status_at(int dir_fd, const char* path, int flags, Status& out) {
  struct statx sx {};
  if (::statx(dir_fd, path, flags, STATX_TYPE | STATX_SIZE | STATX_INO, &sx) != 0) return errno;
  out.is_directory = S_ISDIR(sx.stx_mode);
  out.is_regular = S_ISREG(sx.stx_mode);
  out.size = sx.stx_size;
  out.identity.volume = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  out.identity.index = sx.stx_ino;
  return 0;
}
ErrorCode status_of_path(const std::string& path, Status& out) {
  return status_at(AT_FDCWD, path.c_str(), 0, out);
}
ErrorCode status_of_fd(int fd, Status& out) { return status_at(fd, "", AT_EMPTY_PATH, out); }
#else
void fill(const struct stat& st, Status& out) {
  out.is_directory = S_ISDIR(st.st_mode);
  out.is_regular = S_ISREG(st.st_mode);
  out.size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  out.identity.volume = static_cast<std::uint64_t>(st.st_dev);
  out.identity.index = static_cast<std::uint64_t>(st.st_ino);
}
ErrorCode status_of_path(const std::string& path, Status& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  fill(st, out);
  return 0;
}
ErrorCode status_of_fd(int fd, Status& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  fill(st, out);
  return 0;
}
#endif

// Closes a descriptor on every path out of a function.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// The parent of `path` ("a/b//c/" -> "a/b"), or "" when it has none to create.
std::string parent_path(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  while (end > 0 && path[end - 1] != '/') --end;
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

bool is_directory(const std::string& path) {
  Status st;
  return status_of_path(path, st) == 0 && st.is_directory;
}

}  // namespace

std::string error_description(ErrorCode code) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return strerror_r(code, buf, sizeof buf);
#else
  if (strerror_r(code, buf, sizeof buf) != 0) std::snprintf(buf, sizeof buf, "Unknown error %d", code);
  return buf;
#endif
}

ErrorCode invalid_name_code() { return EINVAL; }

int errno_equivalent(ErrorCode code) { return code; }

std::optional<FileIdentity> file_identity(const std::string& path) {
  Status st;
  if (status_of_path(path, st) != 0) return std::nullopt;
  return st.identity;
}

bool path_exists(const std::string& path) {
  Status st;
  return status_of_path(path, st) == 0;
}

ReadOnlyMapping::~ReadOnlyMapping() {
  if (base_ != nullptr) ::munmap(base_, size_);
}

// The mapping is read-only and private, so it holds no modified pages: dropping the
// page-table entries loses nothing.
void ReadOnlyMapping::release_resident_pages() const {
  if (base_ != nullptr) ::madvise(base_, size_, MADV_DONTNEED);
}

ErrorCode map_file_code(const std::string& path, ReadOnlyMapping& out) {
  Descriptor file;
  // O_NONBLOCK: a FIFO named as the database must not block the open waiting for a
  // writer; it fails at the mapping instead. Regular files ignore the flag.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return errno;
  Status st;
  if (const ErrorCode err = status_of_fd(file.fd, st); err != 0) return err;
  if (st.is_directory) return EISDIR;
  if (st.size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
      st.size > std::numeric_limits<std::size_t>::max()) {
    return kFileTooLargeToMap;
  }
  ReadOnlyMapping mapping;
  if (st.size > 0) {
    void* base = ::mmap(nullptr, static_cast<std::size_t>(st.size), PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (base == MAP_FAILED) return errno;
    mapping.base_ = base;
    mapping.size_ = static_cast<std::size_t>(st.size);
  }
  out = std::move(mapping);
  return 0;
}

ErrorCode create_directories_code(const std::string& dir) {
  if (dir.empty()) return 0;
  if (::mkdir(dir.c_str(), 0777) == 0) return 0;
  ErrorCode err = errno;
  if (err == ENOENT) {
    const std::string parent = parent_path(dir);
    if (!parent.empty() && parent != dir) {
      if (const ErrorCode parent_err = create_directories_code(parent); parent_err != 0) return parent_err;
      if (::mkdir(dir.c_str(), 0777) == 0) return 0;
      err = errno;
    }
  }
  // Already there (or made by someone else meanwhile): fine if it is a directory.
  if (is_directory(dir)) return 0;
  return err;
}

OutputFile::~OutputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

ErrorCode OutputFile::open_code(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  handle_ = fd;
  return 0;
}

ErrorCode OutputFile::identity_code(FileIdentity& out) const {
  Status st;
  if (const ErrorCode err = status_of_fd(static_cast<int>(handle_), st); err != 0) return err;
  out = st.identity;
  return 0;
}

// Only a regular file has a length to cut: a character device (/dev/null), a pipe or a
// terminal given as the output is written as it is, as open(2) ignores O_TRUNC there.
ErrorCode OutputFile::truncate_code() {
  Status st;
  if (const ErrorCode err = status_of_fd(static_cast<int>(handle_), st); err != 0) return err;
  if (!st.is_regular) return 0;
  int rc;
  do {
    rc = ::ftruncate(static_cast<int>(handle_), 0);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

namespace {

// Writes all of `size` bytes to `fd`, again after an interruption or a short write.
ErrorCode write_all_to(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no error: do not spin
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

ErrorCode OutputFile::write_all_code(const char* data, std::size_t size) {
  return write_all_to(static_cast<int>(handle_), data, size);
}

// On Linux the descriptor is gone even when close is interrupted, so EINTR is not a
// failure and is never retried.
ErrorCode OutputFile::close_code() {
  const int fd = static_cast<int>(std::exchange(handle_, -1));
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

TemporaryFile::~TemporaryFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

ErrorCode TemporaryFile::create_code(const std::string& dir) {
  std::string base = dir;
  if (base.empty()) {
    const char* env = std::getenv("TMPDIR");
    base = env != nullptr && *env != '\0' ? env : "/tmp";
  }
  std::string name = base + "/quarrow-XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return errno;
  // Unlinked at once: the data lives as long as the descriptor, and a crash leaves nothing.
  ::unlink(name.c_str());
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  handle_ = fd;
  return 0;
}

ErrorCode TemporaryFile::write_all_code(const char* data, std::size_t size) {
  return write_all_to(static_cast<int>(handle_), data, size);
}

ErrorCode TemporaryFile::read_at_code(std::uint64_t offset, char* data, std::size_t size, std::size_t& got) const {
  got = 0;
  ssize_t n;
  do {
    n = ::pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  got = static_cast<std::size_t>(n);
  return 0;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace quarrow::platform
