// A view's row as the members of a timeline event (`"App":"x","Bytes":5`): the bytes of
// the view's JSON Lines object (append_view_json) without its braces and line end.
//
// A timeline writes one such text per row of every view it reads, so this writer does
// the work that repeats once: each member's name is written with its quotes and colon
// when the view is opened, and the text of the last second of a time is kept.
#pragma once

#include <string>
#include <vector>

#include "export/decoded_text.h"
#include "profiles/view_reader.h"

namespace quarrow::timeline {

class AttributeWriter {
 public:
  // `columns` must outlive the writer.
  explicit AttributeWriter(const std::vector<profiles::ViewColumn>& columns);
  // Replaces `out` with the row's members.
  void write(std::string& out, const std::vector<profiles::Cell>& row);

 private:
  const std::vector<profiles::ViewColumn>* columns_;
  std::vector<std::string> prefixes_;  // `"name":`, then `,"name":`
  Iso8601Writer time_;
};

}  // namespace quarrow::timeline
