#include "export/arrow_stream.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "export/arrow_batch.h"
#include "export/arrow_pipeline.h"
#include "export/arrow_schema.h"
#include "export/arrow_stream_state.h"
#include "record/leaf_ranges.h"

namespace quarrow {
namespace {

using arrow::BatchBuilder;

// The room the batches of a table needed so far, shared by the stretches of a
// threaded reading: a stretch's builder starts with it, so that the buffers of its
// first batch do not grow by copying (a stretch's last batch may be short, so only
// growth is kept).
class SharedSizes {
 public:
  BatchBuilder::Sizes get() {
    std::lock_guard lock(mutex_);
    return sizes_;
  }
  void learn(const BatchBuilder::Sizes& built) {
    std::lock_guard lock(mutex_);
    if (sizes_.size() < built.size()) sizes_.resize(built.size());
    for (std::size_t k = 0; k < built.size(); ++k) sizes_[k] = std::max(sizes_[k], built[k]);
  }

 private:
  std::mutex mutex_;
  BatchBuilder::Sizes sizes_;
};

// One stretch of a table's leaf pages, built into batches.
class TableSource final : public arrow::BatchSource {
 public:
  TableSource(const Database& db, TableRecordReader reader, std::int64_t batch_rows,
              std::shared_ptr<arrow::BufferPool> pool, SharedSizes& sizes, const BatchBuilder::Sizes& known)
      : sizes_(sizes), builder_(db, std::move(reader), batch_rows, std::move(pool), &known) {}
  Outcome next(ArrowArray* out) override {
    switch (builder_.next(out)) {
      case BatchBuilder::Outcome::Batch: sizes_.learn(builder_.sizes()); return Outcome::Batch;
      case BatchBuilder::Outcome::End: return Outcome::End;
      case BatchBuilder::Outcome::Error: break;
    }
    return Outcome::Error;
  }
  const std::string& error() const override { return builder_.error(); }

 private:
  SharedSizes& sizes_;
  BatchBuilder builder_;
};

// What the workers of a threaded reading share: the table's pages and plan.
struct Shared {
  std::shared_ptr<const Database> db;
  const TableInfo* table = nullptr;
  ColumnPlan plan;
  LeafPages leaves;
  std::vector<LeafRange> ranges;
  std::int64_t batch_rows = 0;
  std::shared_ptr<arrow::BufferPool> pool;
  SharedSizes sizes;
};

std::unique_ptr<arrow::BatchSource> make_table_source(Shared& w, std::size_t k) {
  const LeafRange& range = w.ranges[k];
  std::vector<std::uint32_t> pages(w.leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.begin),
                                   w.leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.end));
  // The failure that ended the listing belongs after the last stretch.
  std::optional<EseError> end_error = k + 1 == w.ranges.size() ? w.leaves.error : std::nullopt;
  const BatchBuilder::Sizes known = w.sizes.get();
  return std::make_unique<TableSource>(
      *w.db, open_range_reader(*w.db, *w.table, w.plan, std::move(pages), std::move(end_error)), w.batch_rows,
      w.pool, w.sizes, known);
}

struct StreamState {
  std::shared_ptr<const Database> db;  // keeps the mapping and the catalog alive
  const TableInfo* table = nullptr;
  std::vector<DecodedColumn> columns;
  ArrowStreamOptions options;
  ColumnPlan plan;
  std::shared_ptr<arrow::BufferPool> pool;
  std::optional<TableRecordReader> reader;  // until the first batch decides the way
  std::optional<BatchBuilder> single;       // one thread
  std::unique_ptr<Shared> shared;           // several: what the workers share
  std::unique_ptr<arrow::Pipeline> pipeline;  // (destroyed first: it joins the workers)
  std::string last_error;
};

StreamState* state_of(ArrowArrayStream* stream) { return arrow::stream_state<StreamState>(stream); }

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  StreamState* s = state_of(stream);
  try {
    arrow::fill_table_schema(s->columns, out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

// The first batch settles how the table is read: on several threads when asked for
// and the table has enough records to share out, otherwise along its leaf chain.
void choose_way(StreamState& s) {
  const unsigned threads = s.options.threads;
  const bool whole = s.options.part_count <= 1;
  if (threads > 1 || !whole) {
    LeafPages leaves = list_leaf_pages(*s.db, *s.table);
    if (!whole) keep_part(leaves, s.options.part_index, s.options.part_count);
    std::vector<LeafRange> ranges = arrow::threaded_stretches(leaves, threads, s.options.batch_rows, s.options.min_threaded_rows);
    if (ranges.size() > 1) {
      s.shared = std::make_unique<Shared>();
      Shared& w = *s.shared;
      w.db = s.db;
      w.table = s.table;
      w.plan = s.plan;
      w.leaves = std::move(leaves);
      w.ranges = std::move(ranges);
      w.batch_rows = s.options.batch_rows;
      w.pool = s.pool;
      const std::size_t stretches = w.ranges.size();
      s.pipeline = std::make_unique<arrow::Pipeline>(stretches, threads,
                                                     [&w](std::size_t k) { return make_table_source(w, k); });
      s.pipeline->start();
      s.reader.reset();
      return;
    }
    if (!whole) {
      s.reader.emplace(open_range_reader(*s.db, *s.table, s.plan, std::move(leaves.pages), std::move(leaves.error)));
    }
  }
  s.single.emplace(*s.db, std::move(*s.reader), s.options.batch_rows, s.pool);
  s.reader.reset();
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  StreamState* s = state_of(stream);
  try {
    if (!s->last_error.empty()) return EIO;
    if (!s->single && !s->pipeline) choose_way(*s);
    if (s->pipeline) return s->pipeline->next(out, s->last_error);
    switch (s->single->next(out)) {
      case BatchBuilder::Outcome::Batch: return 0;
      case BatchBuilder::Outcome::End: out->release = nullptr; return 0;
      case BatchBuilder::Outcome::Error: s->last_error = s->single->error(); return EIO;
    }
    return EIO;
  } catch (const std::bad_alloc&) {
    s->last_error = in_context(ErrorContext::ReadingRecord, "out of memory");
    return ENOMEM;
  } catch (const std::system_error&) {
    s->last_error = in_context(ErrorContext::ReadingRecord, "cannot start a worker thread");
    return EIO;
  }
}

}  // namespace

Status export_arrow_schema(const Database& db, std::string_view table_name, ArrowSchema* out,
                           const ColumnSelection* columns) {
  const TableInfo* table = db.catalog().find(table_name);
  if (table == nullptr) return EseError::table_not_found(std::string(table_name));
  const ColumnPlan plan = make_column_plan(db, *table, columns);
  arrow::fill_table_schema(decoded_columns(plan), out);
  return Status::success();
}

Status export_arrow_stream(std::shared_ptr<const Database> db, std::string_view table_name,
                           const ArrowStreamOptions& options, ArrowArrayStream* out) {
  auto reader = open_table_reader(*db, table_name, options.columns);
  if (!reader) return std::move(reader).error();
  auto state = std::make_unique<StreamState>();
  state->db = std::move(db);
  state->table = &reader->table();
  state->plan = reader->plan();
  state->columns = decoded_columns(state->plan);
  state->options = options;
  state->options.columns = nullptr;  // the plan holds the selection
  state->pool = options.pool ? options.pool : std::make_shared<arrow::BufferPool>();
  state->options.batch_rows = std::max<std::int64_t>(options.batch_rows, 1);
  state->options.threads = std::clamp(options.threads, 1u, kMaxArrowThreads);
  state->options.part_count = std::max<std::size_t>(options.part_count, 1);
  state->options.part_index = std::min(options.part_index, state->options.part_count - 1);
  state->reader.emplace(std::move(reader).value());
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = arrow::stream_last_error<StreamState>;
  out->release = arrow::stream_release<StreamState>;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow
