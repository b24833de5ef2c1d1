// A table's decoded records as Arrow record batches through the C stream interface.
// The schema is a struct of one field per column (reading order); field metadata
// names the ESE type ("ese.type") and the column id ("ese.column_id"); GUID fields
// carry the canonical extension type arrow.uuid. Multi-valued columns are lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "database/database.h"
#include "error/ese_error.h"
#include "export/arrow_c.h"

namespace quarrow {

inline constexpr std::int64_t kDefaultBatchRows = 65536;

// Fills `out` with the table's schema; `out->release` frees it. Fails with
// TableNotFound.
Status export_arrow_schema(const Database& db, std::string_view table_name, ArrowSchema* out);

// Starts a reading of the table as a stream of batches of at most `batch_rows`
// records (at least 1). The stream shares ownership of the database, so it may
// outlive every other holder; its callbacks may run on any thread, one at a time per
// stream, and several streams may read one database at once. A failed reading gives
// EIO from get_next, with get_last_error "Error reading record: ...".
Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                           std::int64_t batch_rows, ArrowArrayStream* out);

}  // namespace quarrow
