// Long values: column values kept in the table's long-value tree. A record holds a
// reference (LID); the tree's keys are the LID big-endian, then for chunks the
// big-endian byte offset of the chunk.
#pragma once

#include "database/catalog.h"
#include "database/database.h"
#include "record/value.h"

namespace quarrow {

// Replaces every LongValue field of `record` by the bytes found in the long-value
// tree (decoded as text for text columns). Never fails.
void resolve_long_values(const Database& db, const TableInfo& table, Record& record);

}  // namespace quarrow
