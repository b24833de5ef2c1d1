// The batch half of the Arrow producer: reads records from one table reader and
// builds them into Arrow record batches (struct arrays of one child per column).
// One BatchBuilder per reader; builders of different readers share nothing but the
// buffer pool, so each may run on a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export/arrow_buffer.h"
#include "export/arrow_builders.h"
#include "record/decoded.h"
#include "record/reader.h"

namespace quarrow::arrow {

class BatchBuilder {
 public:
  enum class Outcome : std::uint8_t { Batch, End, Error };

  // Bytes of each column's values to reserve for a batch (see sizes()).
  using Sizes = std::vector<std::size_t>;

  // `reader` is taken over; the database must outlive the builder. `sizes`: what
  // another builder of the same table needed for a batch (several builders read
  // stretches of one table side by side), reserved up front so that the buffers of a
  // stretch's first batch do not grow by copying.
  BatchBuilder(const Database& db, TableRecordReader reader, std::int64_t batch_rows,
               std::shared_ptr<BufferPool> pool, const Sizes* sizes = nullptr);

  // The sizes of each column's values in the last batch built (0 before the first).
  Sizes sizes() const;

  const std::vector<DecodedColumn>& columns() const { return decoder_.columns(); }

  // Fills `out` with the next batch of at most batch_rows records (fewer when a
  // binary or utf8 column would pass its 32-bit offsets, or before a failure). End:
  // the reader has no more records and `out` is untouched. Error: error() has the
  // message, "Error reading record: ..."; every record before the failure was in an
  // earlier batch. Throws std::bad_alloc.
  Outcome next(ArrowArray* out);
  const std::string& error() const { return error_; }

 private:
  // How a column of the record being added goes into its builder.
  enum Route : char {
    kStored,   // a present single value: its stored bytes, decoded into the buffers
    kNull,     // a single value, null or absent without a default
    kDecoded,  // anything else (lists, defaults, long values, compression): cells_[k]
  };

  TableRecordReader::Step next_record();
  bool fits() const;
  void emit(std::int64_t rows, ArrowArray* out);

  std::unique_ptr<TableRecordReader> reader_;  // the decoder refers to its plan
  RecordDecoder decoder_;
  std::int64_t batch_rows_;
  std::vector<std::uint32_t> codepages_;
  std::vector<ColumnBuilder> builders_;
  std::vector<char> absent_decoded_;  // column k, absent or null, goes through the decoder
  std::vector<std::size_t> sized_;    // columns whose data can pass the 32-bit offsets
  // The record being added: how each column goes in, with cells_[k] holding the
  // decoded value of the columns routed through the decoder.
  std::vector<char> routes_;
  std::vector<DecodedCell> cells_;
  bool pending_ = false;  // a record located but not yet in a batch
  bool finished_ = false;
  std::string failure_;  // met while filling the last batch: reported by the next call
  std::string error_;
};

}  // namespace quarrow::arrow
