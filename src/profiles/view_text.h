// View rows as text for the tool: JSON Lines (members in view column order) and CSV.
// Timestamps are ISO 8601 in UTC ("2021-11-16T19:18:00Z"), durations a number of
// seconds, binary data lower-case hexadecimal, null null (JSON) or an empty field (CSV).
#pragma once

#include <string>
#include <vector>

#include "profiles/conversions.h"
#include "profiles/view_reader.h"

namespace quarrow::profiles {

void append_view_json(std::string& out, const std::vector<ViewColumn>& columns, const std::vector<Cell>& row);
void append_view_csv_header(std::string& out, const std::vector<ViewColumn>& columns);
void append_view_csv_row(std::string& out, const std::vector<ViewColumn>& columns, const std::vector<Cell>& row);
// One cell as CSV writes it (no quoting); false for null.
bool append_view_text(std::string& out, const ViewColumn& column, const Cell& cell);

}  // namespace quarrow::profiles
