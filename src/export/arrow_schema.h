// The schema half of the Arrow producer: a table's decoded columns as an Arrow
// schema (a struct of one field per column; multi-valued columns are lists; GUIDs
// carry the canonical extension type arrow.uuid).
#pragma once

#include <vector>

#include "export/arrow_c.h"
#include "record/decoded.h"

namespace quarrow::arrow {

// Fills `out` with the struct schema of `columns`; `out->release` frees it. Throws
// std::bad_alloc only.
void fill_table_schema(const std::vector<DecodedColumn>& columns, ArrowSchema* out);

}  // namespace quarrow::arrow
