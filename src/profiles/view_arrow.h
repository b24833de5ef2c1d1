// A view's rows as Arrow record batches through the C stream interface, as
// export_arrow_stream gives a table's. Timestamps are timestamp[us, UTC], durations
// duration[us], text utf8, bytes binary, integers int64 (raw 64-bit patterns uint64),
// with two exceptions that keep a batch near the size of the table's own: a stored 8-
// to 32-bit integer shown as it is keeps its width (as arrow_table gives it), and text
// resolved through another table (a join: a few of the joined table's values on every
// row) is dictionary-encoded, int32 indices into the batch's own dictionary of its
// distinct values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/database.h"
#include "error/ese_error.h"
#include "export/arrow_buffer.h"
#include "export/arrow_c.h"
#include "export/arrow_pipeline.h"
#include "profiles/profile.h"

namespace quarrow::profiles {

struct ViewRequest {
  std::shared_ptr<const Database> db;
  std::shared_ptr<const Profile> profile;
  std::string view;
  std::optional<std::vector<std::string>> columns;
  std::int64_t batch_rows = 65536;
  // As for a table (ArrowStreamOptions): threads decoding batches, each on stretches
  // of the view's table (the joined tables' rows are read once and shared), the
  // batches in table order with the values of one thread; only part `part_index` of
  // `part_count` near-equal stretches of the table; where released batches' buffers
  // are kept (null: a pool of the stream's own).
  unsigned threads = 1;
  std::uint64_t min_threaded_rows = arrow::kMinThreadedRows;
  std::size_t part_index = 0;
  std::size_t part_count = 1;
  std::shared_ptr<arrow::BufferPool> pool;
};

// The view's schema. Fails with TableNotFound (no such view on this database) or
// ColumnNotFound (a requested column the view lacks).
Status export_view_schema(const ViewRequest& request, ArrowSchema* out);

// Starts a reading of the view. The stream owns what it needs (database, profile), so
// it may outlive every other holder; its callbacks run one at a time.
Status export_view_stream(const ViewRequest& request, ArrowArrayStream* out);

}  // namespace quarrow::profiles
