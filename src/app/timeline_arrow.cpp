#include "app/timeline_arrow.h"

#include <cerrno>
#include <new>
#include <string>

#include "app/timeline_fields.h"
#include "export/arrow_buffer.h"
#include "export/arrow_schema.h"
#include "export/arrow_stream_state.h"
#include "profiles/column_builder.h"

namespace quarrow::app {

namespace {

using profiles::Cell;
using profiles::ColumnBuilder;
using profiles::OutType;

// Text columns use 32-bit offsets: a batch ends early once a column's data would pass this.
constexpr std::uint64_t kMaxBatchData = 1u << 30;

OutType field_type(TimelineField f) {
  switch (f) {
    case TimelineField::Datetime: return OutType::Timestamp;
    case TimelineField::Timestamp: return OutType::Int64;
    case TimelineField::Row: return OutType::UInt64;
    default: return OutType::Text;
  }
}

const char* field_format(OutType t) {
  return t == OutType::Timestamp ? "tsu:UTC" : t == OutType::Int64 ? "l" : t == OutType::UInt64 ? "L" : "u";
}

constexpr std::size_t kColumns = std::size(kTimelineFields) + 1;  // and "attributes"

struct StreamState {
  std::unique_ptr<TimelineEvents> events;
  std::int64_t batch_rows = 65536;
  std::shared_ptr<arrow::BufferPool> pool = std::make_shared<arrow::BufferPool>();
  std::vector<ColumnBuilder> columns;
  bool done = false;
  std::string last_error;
};

void put_text(ColumnBuilder& column, Cell& cell, std::string_view text) {
  cell.valid = true;
  cell.ref = nullptr;
  cell.s.assign(text);
  column.append(cell);
}

void append_event(StreamState& s, const timeline::EventView& e, Cell& cell) {
  const timeline::InputNames* input = e.input < s.events->names.size() ? &s.events->names[e.input] : nullptr;
  for (std::size_t k = 0; k < std::size(kTimelineFields); ++k) {
    ColumnBuilder& column = s.columns[k];
    switch (kTimelineFields[k]) {
      case TimelineField::Message: put_text(column, cell, e.message); break;
      case TimelineField::Datetime:
      case TimelineField::Timestamp: column.put_int(e.time); break;
      case TimelineField::TimestampDesc: put_text(column, cell, e.description); break;
      case TimelineField::SourceFile: put_text(column, cell, input != nullptr ? input->source : "?"); break;
      case TimelineField::Kind: put_text(column, cell, timeline::event_kind_name(e.kind)); break;
      case TimelineField::Table:
        put_text(column, cell, input != nullptr && e.table < input->tables.size() ? input->tables[e.table] : "?");
        break;
      case TimelineField::Row: column.put_int(static_cast<std::int64_t>(e.row)); break;
    }
  }
  cell.valid = true;
  cell.ref = nullptr;
  cell.s.assign("{");
  cell.s.append(e.attributes);
  cell.s += '}';
  s.columns[kColumns - 1].append(cell);
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  return arrow::without_exceptions<StreamState>(stream, [&] { timeline_arrow_schema(out); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* s = arrow::stream_state<StreamState>(stream);
  try {
    if (s->done) {
      out->release = nullptr;
      return 0;
    }
    if (s->columns.empty()) {
      const auto rows = static_cast<std::size_t>(std::min<std::int64_t>(s->batch_rows, 4096));
      for (std::size_t k = 0; k < kColumns; ++k) {
        const OutType t = k < std::size(kTimelineFields) ? field_type(kTimelineFields[k]) : OutType::Text;
        s->columns.emplace_back(t, profiles::storage_type(t), false, s->pool, rows);
      }
    }
    std::int64_t rows = 0;
    Cell cell;
    timeline::EventView e;
    while (rows < s->batch_rows) {
      if (!s->events->merger->next(e)) {
        if (!s->events->merger->status().ok()) {
          s->last_error = user_message(s->events->merger->status().error());
          return EIO;
        }
        s->done = true;
        break;
      }
      append_event(*s, e, cell);
      ++rows;
      bool full = false;
      for (const ColumnBuilder& c : s->columns) full = full || (c.variable() && c.data_size() > kMaxBatchData);
      if (full) break;
    }
    if (rows == 0 && s->done) {
      out->release = nullptr;
      return 0;
    }
    auto node = std::make_unique<arrow::ArrayNode>(nullptr, 0, 0, 0);
    node->children.reserve(s->columns.size());
    for (ColumnBuilder& column : s->columns) {
      auto child = std::make_unique<ArrowArray>();
      column.finish(child.get(), s->done);
      node->children.push_back(child.release());
    }
    arrow::fill_struct_array(std::move(node), rows, out);
    return 0;
  } catch (const std::bad_alloc&) {
    s->last_error = "out of memory";
    return ENOMEM;
  }
}

}  // namespace

void timeline_arrow_schema(ArrowSchema* out) {
  std::vector<arrow::SchemaField> fields;
  for (TimelineField f : kTimelineFields) {
    fields.push_back({field_format(field_type(f)), std::string(timeline_field_name(f))});
  }
  fields.push_back({"u", std::string(kAttributesColumn)});
  arrow::fill_struct_schema(fields, out);
}

void timeline_arrow_stream(std::unique_ptr<TimelineEvents> events, std::int64_t batch_rows, ArrowArrayStream* out) {
  auto state = std::make_unique<StreamState>();
  state->events = std::move(events);
  state->batch_rows = batch_rows < 1 ? 1 : batch_rows;
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = arrow::stream_last_error<StreamState>;
  out->release = arrow::stream_release<StreamState>;
  out->private_data = state.release();
}

}  // namespace quarrow::app
