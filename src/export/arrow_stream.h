// A table's decoded records as Arrow record batches through the C stream interface.
// The schema is a struct of one field per column (reading order); field metadata
// names the ESE type ("ese.type") and the column id ("ese.column_id"); GUID fields
// carry the canonical extension type arrow.uuid. Multi-valued columns are lists.
//
// The producer is split by job: arrow_schema (the schema), arrow_buffer (memory),
// arrow_builders (one column's values), arrow_batch (records into batches) and this
// file (the stream, on one thread or on several).
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "database/database.h"
#include "error/ese_error.h"
#include "export/arrow_buffer.h"
#include "export/arrow_c.h"
#include "export/arrow_pipeline.h"
#include "record/parser.h"

namespace quarrow {

inline constexpr std::int64_t kDefaultBatchRows = 65536;
// Worker threads of a stream at most: past this, decoding outruns what consumers take.
inline constexpr unsigned kMaxArrowThreads = 8;

struct ArrowStreamOptions {
  std::int64_t batch_rows = kDefaultBatchRows;  // records per batch at most (at least 1)
  // Threads decoding batches. With more than one, the table's leaf pages (found
  // through its tree) are cut into stretches decoded side by side, several per thread
  // (a table of fewer than a few thousand records is read on one thread); batches end
  // with their stretch, so they may hold fewer than batch_rows records, and still come
  // in table order with the same values. At most threads + 1 batches are built or
  // waiting at any time besides those the consumer holds.
  unsigned threads = 1;
  // A table of fewer records is read on one thread whatever `threads` says.
  std::uint64_t min_threaded_rows = arrow::kMinThreadedRows;
  const ColumnSelection* columns = nullptr;  // only these columns (nullptr: all)
  // Only stretch part_index of part_count near-equal stretches of the table's leaf
  // pages: the streams of parts 0 .. part_count - 1 together give the whole table
  // (a failure of the reading belongs to the last part).
  std::size_t part_index = 0;
  std::size_t part_count = 1;
  // Where the buffers of released batches are kept for later batches and readings
  // (see arrow::BufferPool); null: a pool of the stream's own.
  std::shared_ptr<arrow::BufferPool> pool;
};

// Fills `out` with the table's schema; `out->release` frees it. Fails with
// TableNotFound.
Status export_arrow_schema(const Database& db, std::string_view table_name, ArrowSchema* out,
                           const ColumnSelection* columns = nullptr);

// Starts a reading of the table as a stream of batches. The stream shares ownership
// of the database, so it may outlive every other holder; its callbacks may run on any
// thread, one at a time per stream, and several streams may read one database at
// once. A failed reading gives EIO from get_next, with get_last_error "Error reading
// record: ...", after every batch before the failure.
Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                           const ArrowStreamOptions& options, ArrowArrayStream* out);

inline Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                                  std::int64_t batch_rows, ArrowArrayStream* out) {
  ArrowStreamOptions options;
  options.batch_rows = batch_rows;
  return export_arrow_stream(std::move(db), table_name, options, out);
}

}  // namespace quarrow
