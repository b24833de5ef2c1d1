#include "export/arrow_batch.h"

#include <algorithm>

#include "format/catalog.h"

namespace quarrow::arrow {
namespace {

constexpr std::int64_t kReserveRows = 1 << 16;
constexpr std::uint64_t kReserveBytes = 16u << 20;

// Fixed-width buffers are sized for a full batch up front, within a bound on the
// bytes of all columns (a table may have tens of thousands of columns); later
// batches start with the sizes of the one before.
std::size_t expected_rows(const std::vector<DecodedColumn>& columns, std::int64_t batch_rows) {
  std::uint64_t row_bytes = 1;
  for (const DecodedColumn& column : columns) {
    row_bytes += value_width(column.type) + (variable_width(column.type) || column.list ? 4 : 0) + 1;
  }
  return static_cast<std::size_t>(std::clamp<std::int64_t>(static_cast<std::int64_t>(kReserveBytes / row_bytes), 1,
                                                           std::min<std::int64_t>(batch_rows, kReserveRows)));
}

}  // namespace

BatchBuilder::BatchBuilder(const Database& db, TableRecordReader reader, std::int64_t batch_rows,
                           std::shared_ptr<BufferPool> pool, const Sizes* sizes)
    : reader_(std::make_unique<TableRecordReader>(std::move(reader))),
      decoder_(db, reader_->table(), reader_->plan()),
      batch_rows_(std::max<std::int64_t>(batch_rows, 1)) {
  const std::vector<DecodedColumn>& columns = decoder_.columns();
  const std::size_t rows = expected_rows(columns, batch_rows_);
  builders_.reserve(columns.size());
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const DecodedColumn& c = columns[k];
    codepages_.push_back(c.info->codepage.value_or(kDefaultCodepage));
    // Absent columns read as the catalog's default when it has one the decoder can
    // apply; otherwise an absent or null single value is a plain null.
    absent_decoded_.push_back(c.list || applies_default(*c.info));
    if (c.list || variable_width(c.type)) sized_.push_back(k);
    builders_.emplace_back(c, pool, rows, sizes != nullptr && k < sizes->size() ? (*sizes)[k] : 0);
  }
  routes_.resize(columns.size());
  cells_.resize(columns.size());
}

BatchBuilder::Sizes BatchBuilder::sizes() const {
  Sizes out;
  out.reserve(builders_.size());
  for (const ColumnBuilder& builder : builders_) out.push_back(builder.last_data_size());
  return out;
}

// A record fits the batch unless it could take a binary or utf8 column past the
// 32-bit offsets. Stored text grows at most to decoded_text_bound as UTF-8.
bool BatchBuilder::fits() const {
  for (const std::size_t k : sized_) {
    std::uint64_t extra = 0;
    if (routes_[k] == kStored) {
      extra = decoded_text_bound(decoder_.stored(k).data.size());
    } else if (routes_[k] == kDecoded) {
      extra = ColumnBuilder::data_bytes(cells_[k]);
    }
    if (extra > 0 && builders_[k].data_size() + extra > kMaxBatchData) return false;
  }
  return true;
}

// Locates the next record and decodes the columns that need more than their bytes.
TableRecordReader::Step BatchBuilder::next_record() {
  Bytes data;
  const TableRecordReader::Step step = reader_->next_data(data);
  if (step != TableRecordReader::Step::Record) return step;
  decoder_.locate(data);
  const std::size_t n = routes_.size();
  char* const routes = routes_.data();
  for (std::size_t k = 0; k < n; ++k) {
    Route route = kStored;
    if (!decoder_.plain(k)) {
      // Whatever is stored and not plain, a list (also a null one), and an absent
      // value with a default take the decoder's way.
      const StoredCell::State state = decoder_.stored(k).state;
      const bool decoded = state == StoredCell::State::Present || columns()[k].list ||
                           (state == StoredCell::State::Absent && absent_decoded_[k]);
      route = decoded ? kDecoded : kNull;
    }
    routes[k] = route;
    if (route == kDecoded) decoder_.decode_column(k, cells_[k]);
  }
  return step;
}

void BatchBuilder::emit(std::int64_t rows, ArrowArray* out) {
  auto node = std::make_unique<ArrayNode>(nullptr, 0, 0, 0);
  node->children.reserve(builders_.size());
  for (ColumnBuilder& builder : builders_) {
    auto child = std::make_unique<ArrowArray>();
    builder.finish(child.get());
    node->children.push_back(child.release());
  }
  node->buffers = {nullptr};
  out->length = rows;
  out->null_count = 0;
  out->offset = 0;
  out->n_buffers = 1;
  out->n_children = static_cast<std::int64_t>(node->children.size());
  out->buffers = node->buffers.data();
  out->children = node->children.empty() ? nullptr : node->children.data();
  out->dictionary = nullptr;
  out->release = release_array;
  out->private_data = node.release();
}

BatchBuilder::Outcome BatchBuilder::next(ArrowArray* out) {
  if (!error_.empty()) return Outcome::Error;
  if (!failure_.empty()) {
    error_ = std::move(failure_);  // the rows before it went out last time
    return Outcome::Error;
  }
  std::int64_t rows = 0;
  while (rows < batch_rows_) {
    if (!pending_) {
      if (finished_) break;
      const TableRecordReader::Step step = next_record();
      if (step == TableRecordReader::Step::End) {
        finished_ = true;
        break;
      }
      if (step == TableRecordReader::Step::Error) {
        std::string message = in_context(ErrorContext::ReadingRecord, reader_->error());
        // The rows read before the failure still go out, as a last batch; the error
        // comes with the next call. Where batches end then does not change which
        // rows precede an error (stretches on several threads end batches early).
        if (rows == 0) {
          error_ = std::move(message);
          return Outcome::Error;
        }
        failure_ = std::move(message);
        break;
      }
      pending_ = true;
    }
    if (rows > 0 && !fits()) break;
    const std::size_t n = builders_.size();
    ColumnBuilder* const builders = builders_.data();
    const char* const routes = routes_.data();
    for (std::size_t k = 0; k < n; ++k) {
      switch (routes[k]) {
        case kStored: builders[k].append_stored(decoder_.stored(k).data, codepages_[k]); break;
        case kNull: builders[k].append_null(); break;
        default: builders[k].append(cells_[k]); break;
      }
    }
    pending_ = false;
    ++rows;
  }
  if (rows == 0 && finished_) return Outcome::End;
  emit(rows, out);
  return Outcome::Batch;
}

}  // namespace quarrow::arrow
