#include "profiles/view_arrow.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <optional>
#include <system_error>

#include "export/arrow_buffer.h"
#include "export/arrow_pipeline.h"
#include "export/arrow_stream.h"
#include "export/arrow_schema.h"
#include "export/arrow_stream_state.h"
#include "profiles/column_builder.h"
#include "profiles/view_reader.h"

namespace quarrow::profiles {

namespace {

// Text and binary columns use 32-bit offsets: a batch ends early once a column's data
// would pass this.
constexpr std::uint64_t kMaxBatchData = 1u << 30;
// The first batch's buffers start with room for kFirstRows rows and, each time it
// fills them, get room for kFirstGrowth times as many, up to a whole batch (at most
// kReserveRows, within a bound on the bytes of all columns); later batches start with
// the sizes of the one before. Not a full batch up front: views are often read from
// small tables (SRUM's, a few hundred records), where megabytes of fresh buffers per
// reading (pages the allocator hands back to the system when the stream ends) cost
// more than the reading.
constexpr std::int64_t kFirstRows = 1 << 8;
constexpr std::int64_t kFirstGrowth = 16;
constexpr std::int64_t kReserveRows = 1 << 16;
constexpr std::uint64_t kReserveBytes = std::uint64_t{1} << 24;  // 16 MiB

const char* format_of(OutType t) {
  switch (t) {
    case OutType::Bool: return "b";
    case OutType::Int64: return "l";
    case OutType::UInt64: return "L";
    case OutType::Float64: return "g";
    case OutType::Text: return "u";
    case OutType::Binary: return "z";
    case OutType::Timestamp: return "tsu:UTC";
    case OutType::Duration: return "tDu";
  }
  return "n";
}

// The buffer layout of a view column: its type's, or the stored integer width.
DecodedType layout(const ViewColumn& c) {
  if (c.dictionary) return DecodedType::Int32;  // the indices
  return c.width != DecodedType::Null ? c.width : storage_type(c.type);
}

void make_schema(const std::vector<ViewColumn>& columns, ArrowSchema* out) {
  std::vector<arrow::SchemaField> fields;
  fields.reserve(columns.size());
  for (const ViewColumn& c : columns) {
    if (c.dictionary) {
      fields.push_back({"i", c.name, format_of(c.type)});
    } else {
      // A local time is a timestamp without a time zone.
      const char* format = c.width != DecodedType::Null                  ? arrow::format_of(c.width)
                           : c.local && c.type == OutType::Timestamp ? "tsu:"
                                                                     : format_of(c.type);
      fields.push_back({format, c.name});
    }
  }
  arrow::fill_struct_schema(fields, out);
}

// ---- Batches -----------------------------------------------------------------------

// Builds one reader's rows into batches: one builder per column, kept from batch to
// batch; the buffers of released batches come back through the pool.
class ViewBatches final : public arrow::BatchSource {
 public:
  ViewBatches(ViewReader& reader, std::int64_t batch_rows, std::shared_ptr<arrow::BufferPool> pool)
      : reader_(reader), batch_rows_(batch_rows), pool_(std::move(pool)) {}
  Outcome next(ArrowArray* out) override;
  const std::string& error() const override { return error_; }

 private:
  void start_columns();
  void emit(std::int64_t rows, ArrowArray* out);

  ViewReader& reader_;
  std::int64_t batch_rows_;
  std::shared_ptr<arrow::BufferPool> pool_;
  std::vector<ColumnBuilder> columns_;
  std::vector<std::size_t> variable_;  // the text and binary columns
  std::int64_t batch_reserve_ = 0;     // rows of a whole batch
  std::int64_t room_ = 0;              // rows the first batch has room for (0 after it)
  std::vector<Cell> row_;
  bool done_ = false;
  std::string error_;
};

void ViewBatches::start_columns() {
  const auto& columns = reader_.columns();
  std::uint64_t row_bytes = 1;
  for (const ViewColumn& c : columns) {
    const DecodedType t = layout(c);
    row_bytes += arrow::value_width(t) + (arrow::variable_width(t) ? 4 : 0) + 1;
  }
  batch_reserve_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(kReserveBytes / row_bytes), 1,
                                            std::min(batch_rows_, kReserveRows));
  room_ = std::min(batch_reserve_, kFirstRows);
  const auto rows = static_cast<std::size_t>(room_);
  columns_.reserve(columns.size());
  for (std::size_t k = 0; k < columns.size(); ++k) {
    columns_.emplace_back(columns[k].type, layout(columns[k]), columns[k].dictionary, pool_, rows);
    if (columns_.back().variable()) variable_.push_back(k);
  }
}

// The batch's columns into `out`, a struct array of one child per column.
// After the last batch (`done_`) the builders start no other.
void ViewBatches::emit(std::int64_t rows, ArrowArray* out) {
  auto node = std::make_unique<arrow::ArrayNode>(nullptr, 0, 0, 0);
  node->children.reserve(columns_.size());
  for (ColumnBuilder& column : columns_) {
    auto child = std::make_unique<ArrowArray>();
    column.finish(child.get(), done_);
    node->children.push_back(child.release());
  }
  arrow::fill_struct_array(std::move(node), rows, out);
}

ViewBatches::Outcome ViewBatches::next(ArrowArray* out) {
  if (done_) return Outcome::End;
  if (columns_.empty() && !reader_.columns().empty()) start_columns();
  std::int64_t rows = 0;
  while (rows < batch_rows_) {
    const ViewReader::Step step = reader_.next_into(columns_, row_);
    if (step == ViewReader::Step::Error) {
      error_ = "Error reading record: " + reader_.error().to_string();
      return Outcome::Error;
    }
    if (step == ViewReader::Step::End) {
      done_ = true;
      break;
    }
    ++rows;
    if (rows == room_ && room_ < batch_reserve_) {
      room_ = std::min(batch_reserve_, room_ * kFirstGrowth);
      for (ColumnBuilder& c : columns_) c.reserve(static_cast<std::size_t>(room_));
    }
    bool full = false;
    for (const std::size_t k : variable_) full = full || columns_[k].data_size() > kMaxBatchData;
    if (full) break;
  }
  if (rows == 0 && done_) return Outcome::End;
  room_ = 0;
  emit(rows, out);
  return Outcome::Batch;
}

// A stretch of the view's table, read by a reader of its own.
class RangeSource final : public arrow::BatchSource {
 public:
  RangeSource(std::unique_ptr<ViewReader> reader, std::int64_t batch_rows, std::shared_ptr<arrow::BufferPool> pool)
      : reader_(std::move(reader)), batches_(*reader_, batch_rows, std::move(pool)) {}
  Outcome next(ArrowArray* out) override { return batches_.next(out); }
  const std::string& error() const override { return batches_.error(); }

 private:
  std::unique_ptr<ViewReader> reader_;
  ViewBatches batches_;
};

// ---- The stream ---------------------------------------------------------------------

struct StreamState {
  ViewRequest request;
  std::unique_ptr<ViewReader> reader;  // the whole view, or the plan the stretches copy
  std::unique_ptr<ViewReader> part;    // one thread over a part of the table
  std::shared_ptr<arrow::BufferPool> pool;
  std::optional<ViewBatches> single;
  LeafPages leaves;                           // several threads: the table's pages
  std::vector<LeafRange> ranges;              // and their stretches
  std::unique_ptr<arrow::Pipeline> pipeline;  // (destroyed first: it joins the workers)
  std::string last_error;
};

Result<std::unique_ptr<ViewReader>> open_reader(const ViewRequest& r) {
  const ViewSpec* view = find_view(*r.db, *r.profile, r.view);
  if (view == nullptr) return EseError::table_not_found(r.view);
  return ViewReader::open(*r.db, *r.profile, *view, r.columns ? &*r.columns : nullptr);
}

std::unique_ptr<arrow::BatchSource> make_range_source(StreamState& s, std::size_t k) {
  const LeafRange& range = s.ranges[k];
  std::vector<std::uint32_t> pages(s.leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.begin),
                                   s.leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.end));
  // The failure that ended the listing belongs after the last stretch.
  std::optional<EseError> end_error = k + 1 == s.ranges.size() ? s.leaves.error : std::nullopt;
  return std::make_unique<RangeSource>(s.reader->open_range(std::move(pages), std::move(end_error)),
                                       s.request.batch_rows, s.pool);
}

// The first batch settles how the view is read: on several threads when asked for and
// its table has enough records to share out, otherwise by the reader of the whole
// table (or of the part asked for).
void choose_way(StreamState& s) {
  const ViewRequest& r = s.request;
  ViewReader* reader = s.reader.get();
  if (r.threads > 1 || r.part_count > 1) {
    s.leaves = list_leaf_pages(*r.db, s.reader->table());
    if (r.part_count > 1) keep_part(s.leaves, r.part_index, r.part_count);
    s.ranges = arrow::threaded_stretches(s.leaves, r.threads, r.batch_rows, r.min_threaded_rows);
    if (s.ranges.size() > 1) {
      s.pipeline = std::make_unique<arrow::Pipeline>(s.ranges.size(), r.threads,
                                                     [&s](std::size_t k) { return make_range_source(s, k); });
      s.pipeline->start();
      return;
    }
    if (r.part_count > 1) {
      s.part = s.reader->open_range(std::move(s.leaves.pages), std::move(s.leaves.error));
      reader = s.part.get();
    }
  }
  s.single.emplace(*reader, r.batch_rows, s.pool);
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* s = arrow::stream_state<StreamState>(stream);
  return arrow::without_exceptions<StreamState>(stream, [&] { make_schema(s->reader->columns(), out); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* s = arrow::stream_state<StreamState>(stream);
  try {
    if (!s->last_error.empty()) return EIO;
    if (!s->single && !s->pipeline) choose_way(*s);
    if (s->pipeline) return s->pipeline->next(out, s->last_error);
    switch (s->single->next(out)) {
      case arrow::BatchSource::Outcome::Batch: return 0;
      case arrow::BatchSource::Outcome::End: out->release = nullptr; return 0;
      case arrow::BatchSource::Outcome::Error: s->last_error = s->single->error(); return EIO;
    }
    return EIO;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  } catch (const std::system_error&) {
    s->last_error = "Error reading record: cannot start a worker thread";
    return EIO;
  }
}

}  // namespace

Status export_view_schema(const ViewRequest& request, ArrowSchema* out) {
  const ViewSpec* view = find_view(*request.db, *request.profile, request.view);
  if (view == nullptr) return EseError::table_not_found(request.view);
  auto columns = ViewReader::describe(*request.db, *request.profile, *view,
                                      request.columns ? &*request.columns : nullptr);
  if (!columns) return std::move(columns).error();
  make_schema(*columns, out);
  return Status::success();
}

Status export_view_stream(const ViewRequest& request, ArrowArrayStream* out) {
  auto reader = open_reader(request);
  if (!reader) return std::move(reader).error();
  auto state = std::make_unique<StreamState>();
  state->request = request;
  ViewRequest& r = state->request;
  r.batch_rows = std::max<std::int64_t>(r.batch_rows, 1);
  r.threads = std::clamp(r.threads, 1u, kMaxArrowThreads);
  r.part_count = std::max<std::size_t>(r.part_count, 1);
  r.part_index = std::min(r.part_index, r.part_count - 1);
  state->pool = r.pool ? r.pool : std::make_shared<arrow::BufferPool>();
  state->reader = std::move(reader).value();
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = arrow::stream_last_error<StreamState>;
  out->release = arrow::stream_release<StreamState>;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow::profiles
