// Written event lines, kept small while they are sorted.
//
// A timeline's JSON lines repeat themselves: every event of one view has the same member
// names in the same order (`"message":`, ..., `"ForegroundBytesRead":`), and many of
// its values are the same from line to line (the source file, the kind, the table, what
// happened). Most of a line's bytes are that repetition, and every byte kept costs twice:
// in the sorting memory (fewer events fit, more runs) and written to and read back from
// a temporary file. The coder keeps one line of each shape (its member names in order)
// as a reference, and a line of that shape as its values alone, each either the
// reference's own (one byte) or its text. A line it cannot take apart (not one flat JSON
// object, as CSV lines) is kept as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarrow::timeline {

class LineCoder {
 public:
  // `max_bytes`: the most the shapes may hold (beyond it, lines of new shapes are kept
  // as they are), so that they never crowd out the lines themselves.
  explicit LineCoder(std::size_t max_bytes = std::size_t{16} << 20) : max_bytes_(max_bytes) {}
  // Appends the coded form of `line` to `out`. Lines of one `group` (the caller's
  // input, table and kind) usually share a shape: the last shape of the group is
  // tried first.
  void encode(std::string& out, std::uint64_t group, std::string_view line);
  // Appends the line of a coded form to `out`; false when the form is damaged (a
  // temporary file changed under the sort).
  bool decode(std::string& out, std::string_view coded) const;
  // Bytes the shapes hold.
  std::size_t memory() const { return memory_; }

 private:
  struct Member {
    std::uint32_t key_at, key_size;      // `{"name":` / `,"name":` in the reference
    std::uint32_t value_at, value_size;  // the value in the reference
  };
  struct Shape {
    std::string reference;  // the line the shape was learnt from
    std::vector<Member> members;
  };
  // The shape of `line`; false when it is no flat JSON object line.
  static bool take_apart(std::string_view line, std::vector<Member>& members);
  // Codes `line` against `shape`; false (nothing appended) when its members differ.
  static bool encode_with(std::string& out, std::uint32_t id, const Shape& shape, std::string_view line);

  std::vector<Shape> shapes_;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> last_;  // group -> its last shape
  std::size_t last_slot_ = 0;  // in last_, of the line before
  std::size_t max_bytes_;
  std::size_t memory_ = 0;
};

}  // namespace quarrow::timeline
