#include "profiles/view_arrow.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "export/arrow_buffer.h"
#include "export/arrow_schema.h"
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

// ---- The stream ---------------------------------------------------------------------

struct StreamState {
  ViewRequest request;
  std::unique_ptr<ViewReader> reader;
  // One builder per column, kept from batch to batch; the buffers of released batches
  // come back through the pool.
  std::shared_ptr<arrow::BufferPool> pool = std::make_shared<arrow::BufferPool>();
  std::vector<ColumnBuilder> columns;
  std::vector<std::size_t> variable;  // the text and binary columns
  std::int64_t batch_reserve = 0;     // rows of a whole batch
  std::int64_t room = 0;              // rows the first batch has room for (0 after it)
  std::vector<Cell> row;
  bool done = false;
  std::string last_error;
};

Result<std::unique_ptr<ViewReader>> open_reader(const ViewRequest& r) {
  const ViewSpec* view = find_view(*r.db, *r.profile, r.view);
  if (view == nullptr) return EseError::table_not_found(r.view);
  return ViewReader::open(*r.db, *r.profile, *view, r.columns ? &*r.columns : nullptr);
}

void start_columns(StreamState& s) {
  const auto& columns = s.reader->columns();
  std::uint64_t row_bytes = 1;
  for (const ViewColumn& c : columns) {
    const DecodedType t = layout(c);
    row_bytes += arrow::value_width(t) + (arrow::variable_width(t) ? 4 : 0) + 1;
  }
  s.batch_reserve = std::clamp<std::int64_t>(static_cast<std::int64_t>(kReserveBytes / row_bytes), 1,
                                             std::min(s.request.batch_rows, kReserveRows));
  s.room = std::min(s.batch_reserve, kFirstRows);
  const auto rows = static_cast<std::size_t>(s.room);
  s.columns.reserve(columns.size());
  for (std::size_t k = 0; k < columns.size(); ++k) {
    s.columns.emplace_back(columns[k].type, layout(columns[k]), columns[k].dictionary, s.pool, rows);
    if (s.columns.back().variable()) s.variable.push_back(k);
  }
}

// The batch's columns into `out`, a struct array of one child per column.
// After the last batch (`s.done`) the builders start no other.
void emit(StreamState& s, std::int64_t rows, ArrowArray* out) {
  auto node = std::make_unique<arrow::ArrayNode>(nullptr, 0, 0, 0);
  node->children.reserve(s.columns.size());
  for (ColumnBuilder& column : s.columns) {
    auto child = std::make_unique<ArrowArray>();
    column.finish(child.get(), s.done);
    node->children.push_back(child.release());
  }
  arrow::fill_struct_array(std::move(node), rows, out);
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* s = static_cast<StreamState*>(stream->private_data);
  try {
    make_schema(s->reader->columns(), out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* s = static_cast<StreamState*>(stream->private_data);
  try {
    if (s->done) {
      out->release = nullptr;  // the end of the stream
      return 0;
    }
    if (s->columns.empty() && !s->reader->columns().empty()) start_columns(*s);
    std::int64_t rows = 0;
    while (rows < s->request.batch_rows) {
      const ViewReader::Step step = s->reader->next_into(s->columns, s->row);
      if (step == ViewReader::Step::Error) {
        s->last_error = "Error reading record: " + s->reader->error().to_string();
        return EIO;
      }
      if (step == ViewReader::Step::End) {
        s->done = true;
        break;
      }
      ++rows;
      if (rows == s->room && s->room < s->batch_reserve) {
        s->room = std::min(s->batch_reserve, s->room * kFirstGrowth);
        for (ColumnBuilder& c : s->columns) c.reserve(static_cast<std::size_t>(s->room));
      }
      bool full = false;
      for (const std::size_t k : s->variable) full = full || s->columns[k].data_size() > kMaxBatchData;
      if (full) break;
    }
    if (rows == 0 && s->done) {
      out->release = nullptr;
      return 0;
    }
    s->room = 0;
    emit(*s, rows, out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

const char* stream_last_error(ArrowArrayStream* stream) {
  auto* s = static_cast<StreamState*>(stream->private_data);
  return s->last_error.empty() ? nullptr : s->last_error.c_str();
}

void stream_release(ArrowArrayStream* stream) {
  delete static_cast<StreamState*>(stream->private_data);
  stream->release = nullptr;
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
  if (state->request.batch_rows < 1) state->request.batch_rows = 1;
  state->reader = std::move(reader).value();
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_last_error;
  out->release = stream_release;
  out->private_data = state.release();
  return Status::success();
}

}  // namespace quarrow::profiles
