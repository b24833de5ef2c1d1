#include "database/mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace quarrow {
namespace {

class FileMapping final : public Mapping {
 public:
  FileMapping(void* base, std::size_t length) : base_(base), length_(length) {}
  ~FileMapping() override {
    if (base_ != nullptr) munmap(base_, length_);
  }
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  Bytes bytes() const override { return Bytes(static_cast<const std::uint8_t*>(base_), length_); }
  // The mapping is read-only and private, so it holds no modified pages: dropping the
  // page-table entries loses nothing.
  void release_resident_pages() const override {
    if (base_ != nullptr) ::madvise(base_, length_, MADV_DONTNEED);
  }

 private:
  void* base_;
  std::size_t length_;
};

class BufferMapping final : public Mapping {
 public:
  explicit BufferMapping(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  Bytes bytes() const override { return Bytes(bytes_.data(), bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Result<std::unique_ptr<Mapping>> map_file_read_only(const std::string& path) {
  Fd file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) return EseError::io(errno);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return EseError::io(errno);
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) >
                            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return EseError::io_fixed("memory map length overflows isize");
  }
  const std::size_t length = static_cast<std::size_t>(st.st_size);
  if (length == 0) return std::unique_ptr<Mapping>(new FileMapping(nullptr, 0));
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.fd, 0);
  if (base == MAP_FAILED) return EseError::io(errno);
  return std::unique_ptr<Mapping>(new FileMapping(base, length));
}

std::unique_ptr<Mapping> wrap_buffer(std::vector<std::uint8_t> bytes) {
  return std::make_unique<BufferMapping>(std::move(bytes));
}

}  // namespace quarrow
