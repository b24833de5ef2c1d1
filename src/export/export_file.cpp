#include "export/export_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "export/json_lines.h"
#include "record/reader.h"

namespace quarrow {
namespace {

constexpr char kCreateFilePrefix[] = "Failed to create output file: ";

ExportFailure failure(ExportFailure::Kind kind, std::string message) {
  return ExportFailure{kind, std::nullopt, std::move(message)};
}

// Hands all of `data` to the kernel, retrying partial and interrupted writes.
// Returns 0 or the errno value of the failure.
// Bytes of output between two releases of the database pages read so far.
constexpr std::uint64_t kReleaseInterval = 16u << 20;

int write_all(int fd, const char* data, std::size_t size) {
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

// Closes the descriptor once, whatever happens to the export.
class OutputFile {
 public:
  explicit OutputFile(int fd) : fd_(fd) {}
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  // 0 or the errno value; a failing close can report a delayed write error (NFS).
  // On Linux the descriptor is gone even when close is interrupted, so EINTR is not
  // a failure and is never retried.
  int close() {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
  }

 private:
  int fd_;
};

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// The parent of `path` ("a/b//c/" -> "a/b"), or "" when it has none to create.
std::string parent_path(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && is_separator(path[end - 1])) --end;
  while (end > 0 && !is_separator(path[end - 1])) --end;
  while (end > 1 && is_separator(path[end - 1])) --end;
  return path.substr(0, end);
}

// mkdir -p: returns 0 or the errno value of the failure.
int create_directories(const std::string& dir) {
  if (dir.empty()) return 0;
  if (::mkdir(dir.c_str(), 0777) == 0) return 0;
  int err = errno;
  if (err == ENOENT) {
    const std::string parent = parent_path(dir);
    if (!parent.empty() && parent != dir) {
      if (const int parent_err = create_directories(parent); parent_err != 0) return parent_err;
      if (::mkdir(dir.c_str(), 0777) == 0) return 0;
      err = errno;
    }
  }
  // Already there (or made by someone else meanwhile): fine if it is a directory.
  if (is_directory(dir)) return 0;
  return err;
}

}  // namespace

std::optional<FileIdentity> file_identity(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

std::optional<ExportFailure> export_table_file(const Database& db, std::string_view table_name_utf8,
                                               const std::string& output_path,
                                               std::optional<FileIdentity> database_file) {
  auto reader = open_table_reader(db, table_name_utf8);
  if (!reader) return ExportFailure{ExportFailure::Kind::Lookup, std::move(reader).error(), {}};

  if (database_file) {
    const std::optional<FileIdentity> target = file_identity(output_path);
    if (target && target->device == database_file->device && target->inode == database_file->inode) {
      return failure(ExportFailure::Kind::CreateFile,
                     std::string(kCreateFilePrefix) + "the output path is the database file itself: " +
                         output_path);
    }
  }

  int fd;
  do {
    fd = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return failure(ExportFailure::Kind::CreateFile, kCreateFilePrefix + os_error_text(errno));
  OutputFile file(fd);

  JsonLineWriter writer;
  Record record;
  std::string line;
  std::uint64_t written_since_release = 0;
  for (;;) {
    switch (reader->next_record(record)) {
      case TableRecordReader::Step::Record:
        writer.render(record, line);
        line.push_back('\n');
        if (const int err = write_all(file.fd(), line.data(), line.size()); err != 0) {
          return failure(ExportFailure::Kind::Write, "Write error: " + os_error_text(err));
        }
        // Pages of the database already exported are not needed again soon: keep the
        // resident set independent of the table's size.
        written_since_release += line.size();
        if (written_since_release >= kReleaseInterval) {
          db.release_resident_pages();
          written_since_release = 0;
        }
        break;
      case TableRecordReader::Step::Error:
        return ExportFailure{ExportFailure::Kind::ReadRecord, reader->error(),
                             "Error reading record: " + reader->error().to_string()};
      case TableRecordReader::Step::End:
        if (const int err = file.close(); err != 0) {
          return failure(ExportFailure::Kind::Write, "Write error: " + os_error_text(err));
        }
        return std::nullopt;
    }
  }
}

std::optional<std::string> create_output_directory(const std::string& dir) {
  if (const int err = create_directories(dir); err != 0) {
    return "Failed to create output directory: " + os_error_text(err);
  }
  return std::nullopt;
}

std::optional<std::string> export_file_name(std::string_view table_name_text) {
  for (const char c : table_name_text) {
    if (c == '\0' || is_separator(c)) return std::nullopt;
  }
#ifdef _WIN32
  if (table_name_text.size() >= 2 && table_name_text[1] == ':') return std::nullopt;
#endif
  std::string name(table_name_text);
  name.append(".jsonl");
  return name;
}

std::string unsafe_table_name_message(std::string_view table_name_text) {
  std::string message(kCreateFilePrefix);
  message.append("unsafe table name for a file name: ");
  message.append(table_name_text);
  return message;
}

std::string output_file_path(const std::string& dir, std::string_view file_name) {
  std::string path = dir;
  if (!path.empty() && !is_separator(path.back())) path.push_back('/');
  path.append(file_name);
  return path;
}

}  // namespace quarrow
