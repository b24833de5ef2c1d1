#include "cli/split_table.h"

#include <algorithm>

#include "cli/pool.h"
#include "cli/row_renderer.h"

namespace quarrow::cli {
namespace {

// Rendered rows handed from a worker to the writer.
constexpr std::size_t kBlockBytes = 1u << 20;
// Stretches per thread at the least: a few, so that slow stretches even out.
constexpr std::size_t kPartsPerJob = 4;
// Page bytes per stretch at the most. Blocks go out in stretch order and only a few per
// job may be in flight (OrderedParts), so a worker gets only that far ahead of the
// stretch the writer waits for: stretches that render to about a block let the workers
// run side by side (long ones would make them take turns).
constexpr std::size_t kPartPageBytes = kBlockBytes / 2;

struct Block {
  std::string bytes;
  std::uint64_t pages = 0;            // leaf pages finished since the part's last block
  std::uint64_t records = 0;          // records rendered into `bytes`
  std::optional<EseError> failure;  // the reading ended here with this error
};

}  // namespace

std::optional<LeafPages> pages_to_split(const Database& db, const TableInfo& table, unsigned jobs,
                                        const StreamOptions& options) {
  // The grid is drawn from one reader: it measures its columns over the rows it shows.
  if (jobs < 2 || options.limit || options.format == Format::Table) return std::nullopt;
  LeafPages leaves = list_leaf_pages(db, table);
  if (leaves.pages.size() < kSplitMinPages) return std::nullopt;
  return leaves;
}

Status stream_table_split(const Database& db, const TableRecordReader& reader, const LeafPages& leaves,
                          const StreamOptions& options, Output& out, Progress& progress, unsigned jobs,
                          StreamCounts* counts) {
  const std::size_t count = leaves.pages.size();
  const std::size_t part_pages = std::max<std::size_t>(kPartPageBytes / db.page_size(), 1);
  const std::vector<LeafRange> ranges =
      split_leaf_pages(count, std::max(std::size_t{jobs} * kPartsPerJob, count / part_pages), 1);
  const TableInfo& table = reader.table();
  const ColumnPlan& plan = reader.plan();

  const auto part = [&](std::size_t p, const OrderedParts<Block>::Emit& emit) {
    const LeafRange& range = ranges[p];
    std::vector<std::uint32_t> pages(leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.begin),
                                     leaves.pages.begin() + static_cast<std::ptrdiff_t>(range.end));
    std::optional<EseError> end_error = p + 1 == ranges.size() ? leaves.error : std::nullopt;
    TableRecordReader part_reader = open_range_reader(db, table, plan, std::move(pages), std::move(end_error));
    RowRenderer renderer(db, part_reader, options);
    // A block's room is taken once: grown by doubling, each block's bytes were
    // copied about once more.
    Block block;
    block.bytes.reserve(kBlockBytes + kBlockBytes / 4);
    std::uint64_t pages_counted = 0;
    const auto pages_done = [&] {
      const std::uint64_t now = part_reader.pages_read();
      const std::uint64_t delta = now - pages_counted;
      pages_counted = now;
      return delta;
    };
    for (;;) {
      const TableRecordReader::Step step = renderer.next(block.bytes);
      if (step == TableRecordReader::Step::Record) {
        ++block.records;
        if (block.bytes.size() < kBlockBytes) continue;
        block.pages = pages_done();
        if (!emit(std::move(block))) return;
        block = Block();
        block.bytes.reserve(kBlockBytes + kBlockBytes / 4);
        continue;
      }
      if (step == TableRecordReader::Step::Error) {
        block.failure = part_reader.error().in(ErrorContext::ReadingRecord);
      }
      block.pages = pages_done();
      emit(std::move(block));
      return;
    }
  };

  // Pages already read are dropped from the resident set by the readers as they go.
  if (options.format == Format::Csv) append_csv_header(out.buffer(), plan);
  if (counts != nullptr) counts->bytes = out.buffer().size();
  OrderedParts<Block> parts(jobs, ranges.size(), part);
  Status failure;
  Block block;
  while (parts.next(block)) {
    if (counts != nullptr) {
      counts->records += block.records;
      counts->bytes += block.bytes.size();
    }
    // Blocks are taken over rather than copied when nothing waits before them.
    if (out.buffer().empty()) {
      out.buffer().swap(block.bytes);
    } else {
      out.buffer().append(block.bytes);
    }
    progress.add_done(block.pages, block.pages * db.page_size());
    if (block.failure) {
      failure = std::move(*block.failure);
      break;
    }
    if (!out.commit().ok()) break;
  }
  parts.stop();
  // Rows before a read error are written before the error is reported.
  if (Status finished = out.finish(); !finished) return finished;
  return failure;
}

}  // namespace quarrow::cli
