#include "database/mapping.h"

#include "platform/platform.h"

namespace quarrow {
namespace {

class FileMapping final : public Mapping {
 public:
  explicit FileMapping(platform::ReadOnlyMapping mapping) : mapping_(std::move(mapping)) {}
  Bytes bytes() const override { return Bytes(mapping_.data(), mapping_.size()); }
  void release_resident_pages() const override { mapping_.release_resident_pages(); }

 private:
  platform::ReadOnlyMapping mapping_;
};

class BufferMapping final : public Mapping {
 public:
  explicit BufferMapping(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  Bytes bytes() const override { return Bytes(bytes_.data(), bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

Result<std::unique_ptr<Mapping>> map_file_read_only(const std::string& path) {
  platform::ReadOnlyMapping mapping;
  if (Status st = platform::map_file_read_only(path, mapping); !st) return std::move(st).error();
  return std::unique_ptr<Mapping>(new FileMapping(std::move(mapping)));
}

std::unique_ptr<Mapping> wrap_buffer(std::vector<std::uint8_t> bytes) {
  return std::make_unique<BufferMapping>(std::move(bytes));
}

}  // namespace quarrow
