#include "profiles/view_arrow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "profiles/column_builder.h"
#include "profiles/view_reader.h"

namespace quarrow::profiles {

namespace {

// Text and binary columns use 32-bit offsets: a batch ends early once a column's data
// would pass this.
constexpr std::size_t kMaxBatchData = 1u << 30;

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

struct SchemaNode {
  std::string format;
  std::string name;
  std::vector<ArrowSchema*> children;
};

void release_schema(ArrowSchema* schema) {
  auto* node = static_cast<SchemaNode*>(schema->private_data);
  for (ArrowSchema* child : node->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete node;
  schema->release = nullptr;
}

void fill_schema(ArrowSchema* out, SchemaNode* node, std::int64_t flags) {
  out->format = node->format.c_str();
  out->name = node->name.c_str();
  out->metadata = nullptr;
  out->flags = flags;
  out->n_children = static_cast<std::int64_t>(node->children.size());
  out->children = node->children.empty() ? nullptr : node->children.data();
  out->dictionary = nullptr;
  out->release = release_schema;
  out->private_data = node;
}

void make_schema(const std::vector<ViewColumn>& columns, ArrowSchema* out) {
  auto* root = new SchemaNode{"+s", "", {}};
  for (const ViewColumn& c : columns) {
    auto* node = new SchemaNode{format_of(c.type), c.name, {}};
    auto* child = new ArrowSchema{};
    fill_schema(child, node, ARROW_FLAG_NULLABLE);
    root->children.push_back(child);
  }
  fill_schema(out, root, 0);
}

// ---- Arrays -------------------------------------------------------------------------

struct ArrayHolder {
  std::vector<ColumnBuilder> columns;
  std::vector<ArrowArray*> children;
  std::vector<std::vector<const void*>> buffers;
  const void* root_buffers[1] = {nullptr};
};

void release_child(ArrowArray* array) { array->release = nullptr; }

void release_array(ArrowArray* array) {
  auto* holder = static_cast<ArrayHolder*>(array->private_data);
  for (ArrowArray* child : holder->children) delete child;
  delete holder;
  array->release = nullptr;
}

void finish_array(ArrayHolder* holder, std::int64_t rows, ArrowArray* out) {
  holder->buffers.resize(holder->columns.size());
  for (std::size_t k = 0; k < holder->columns.size(); ++k) {
    ColumnBuilder& b = holder->columns[k];
    std::vector<const void*>& bufs = holder->buffers[k];
    bufs.push_back(b.nulls == 0 ? nullptr : b.validity.data());
    switch (b.type) {
      case OutType::Bool: bufs.push_back(b.bits.data()); break;
      case OutType::Text:
      case OutType::Binary:
        bufs.push_back(b.offsets.data());
        bufs.push_back(b.data.data());
        break;
      default: bufs.push_back(b.ints.data()); break;
    }
    auto* child = new ArrowArray{};
    child->length = rows;
    child->null_count = b.nulls;
    child->offset = 0;
    child->n_buffers = static_cast<std::int64_t>(bufs.size());
    child->buffers = bufs.data();
    child->n_children = 0;
    child->children = nullptr;
    child->dictionary = nullptr;
    child->release = release_child;
    child->private_data = nullptr;
    holder->children.push_back(child);
  }
  out->length = rows;
  out->null_count = 0;
  out->offset = 0;
  out->n_buffers = 1;
  out->buffers = holder->root_buffers;
  out->n_children = static_cast<std::int64_t>(holder->children.size());
  out->children = holder->children.empty() ? nullptr : holder->children.data();
  out->dictionary = nullptr;
  out->release = release_array;
  out->private_data = holder;
}

// ---- The stream ---------------------------------------------------------------------

struct StreamState {
  ViewRequest request;
  std::unique_ptr<ViewReader> reader;
  std::vector<Cell> row;
  bool done = false;
  std::string last_error;
};

Result<std::unique_ptr<ViewReader>> open_reader(const ViewRequest& r) {
  const ViewSpec* view = find_view(*r.db, *r.profile, r.view);
  if (view == nullptr) return EseError::table_not_found(r.view);
  return ViewReader::open(*r.db, *r.profile, *view, r.columns ? &*r.columns : nullptr);
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
    const auto& columns = s->reader->columns();
    auto holder = std::make_unique<ArrayHolder>();
    holder->columns.resize(columns.size());
    const std::size_t expect = static_cast<std::size_t>(std::min<std::int64_t>(s->request.batch_rows, 65536));
    for (std::size_t k = 0; k < columns.size(); ++k) {
      ColumnBuilder& b = holder->columns[k];
      b.type = columns[k].type;
      b.validity.reserve(expect / 8 + 1);
      if (b.type == OutType::Text || b.type == OutType::Binary) b.offsets.reserve(expect + 1);
      else if (b.type == OutType::Bool) b.bits.reserve(expect / 8 + 1);
      else b.ints.reserve(expect);
    }
    std::int64_t rows = 0;
    while (rows < s->request.batch_rows) {
      const ViewReader::Step step = s->reader->next_into(holder->columns, rows, s->row);
      if (step == ViewReader::Step::Error) {
        s->last_error = "Error reading record: " + s->reader->error().to_string();
        return EIO;
      }
      if (step == ViewReader::Step::End) {
        s->done = true;
        break;
      }
      bool full = false;
      for (std::size_t k = 0; k < columns.size(); ++k) full = full || holder->columns[k].data.size() > kMaxBatchData;
      ++rows;
      if (full) break;
    }
    if (rows == 0 && s->done) {
      out->release = nullptr;
      return 0;
    }
    finish_array(holder.release(), rows, out);
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
  auto reader = open_reader(request);
  if (!reader) return std::move(reader).error();
  make_schema((*reader)->columns(), out);
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
