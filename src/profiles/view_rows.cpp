// A view's rows: record by record into cells or straight into Arrow column builders,
// and the unpivoted views that spread one record over several rows.
#include <algorithm>
#include <bit>
#include <cstring>

#include "format/calendar.h"
#include "format/record.h"
#include "profiles/column_builder.h"
#include "profiles/view_reader.h"
#include "record/value.h"

namespace quarrow::profiles {

namespace {

// load_u64le / load_u32le / load_u16le inlined for the hot loop (GCC leaves the shared
// helpers out of line there); a plain copy on little-endian hosts.
template <class T>
QUARROW_INLINE T load_le(Bytes d) {
  if constexpr (std::endian::native == std::endian::little) {
    T v;
    std::memcpy(&v, d.data(), sizeof v);
    return v;
  } else if constexpr (sizeof(T) == 8) {
    return load_u64le(d, 0);
  } else if constexpr (sizeof(T) == 4) {
    return load_u32le(d, 0);
  } else {
    return load_u16le(d, 0);
  }
}

}  // namespace

ViewReader::Step ViewReader::next_into(std::vector<ColumnBuilder>& columns, std::vector<Cell>& scratch) {
  if (view_.unpivot.active) {
    const Step step = next(scratch);
    if (step == Step::Row) {
      for (std::size_t s = 0; s < slots_.size(); ++s) columns[s].append(scratch[s]);
    }
    return step;
  }
  if (const Step step = read_record(); step != Step::Row) return step;
  scratch.resize(slots_.size());
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    const Slot& slot = slots_[s];
    ColumnBuilder& out = columns[s];
    if (slot.fast != Fast::None) {
      if (put_fast(slot, s, out)) continue;
    } else if (slot.join && slot.join_key_i32) {
      if (put_join(slot, s, out, scratch[s])) continue;
    }
    fill(s, scratch[s]);
    out.append(scratch[s]);
  }
  return Step::Row;
}

// The common case inline: a plain fixed-size integer written straight into the
// column (what fill_fast does through a Cell). False: the value takes the general
// route.
QUARROW_INLINE bool ViewReader::put_fast(const Slot& slot, std::size_t s, ColumnBuilder& out) {
  const StoredCell& stored = decoder_->stored(static_cast<std::size_t>(slot.source));
  if (stored.state == StoredCell::State::Null) {
    out.put_null();
    return true;
  }
  if (stored.state != StoredCell::State::Present || slot.multi || stored.flags != 0) return false;
  const Bytes d = stored.data;
  switch (slot.fast) {
    case Fast::U8: if (d.size() != 1) return false; out.put_int(d[0]); return true;
    case Fast::I16: if (d.size() < 2) return false; out.put_int(static_cast<std::int16_t>(load_le<std::uint16_t>(d))); return true;
    case Fast::U16: if (d.size() < 2) return false; out.put_int(load_le<std::uint16_t>(d)); return true;
    case Fast::I32: if (d.size() < 4) return false; out.put_int(static_cast<std::int32_t>(load_le<std::uint32_t>(d))); return true;
    case Fast::U32: if (d.size() < 4) return false; out.put_int(load_le<std::uint32_t>(d)); return true;
    case Fast::Raw64: if (d.size() < 8) return false; out.put_int(static_cast<std::int64_t>(load_le<std::uint64_t>(d))); return true;
    case Fast::Count64: {
      if (d.size() < 8) return false;
      const std::uint64_t v = load_le<std::uint64_t>(d);
      if (v > static_cast<std::uint64_t>(INT64_MAX)) {
        ++failures_[s];
        out.put_null();
      } else {
        out.put_int(static_cast<std::int64_t>(v));
      }
      return true;
    }
    case Fast::Ole: {
      if (d.size() < 8) return false;
      std::int64_t us = 0;
      if (!ole_date_to_microseconds(std::bit_cast<double>(load_le<std::uint64_t>(d)), us) ||
          (slot.def->has_range && (us < slot.def->range_min || us > slot.def->range_max))) {
        ++failures_[s];
        out.put_null();
      } else {
        out.put_int(us);
      }
      return true;
    }
    default: return false;
  }
}

// A join on a plain 32-bit id (SRUM AppId, UserId): the joined row's text goes
// straight into the column. False: the value takes the general route.
QUARROW_INLINE bool ViewReader::put_join(const Slot& slot, std::size_t s, ColumnBuilder& out, Cell& c) {
  const StoredCell& stored = decoder_->stored(static_cast<std::size_t>(slot.source));
  if (stored.state == StoredCell::State::Null) {
    out.put_null();
    return true;
  }
  if (stored.state != StoredCell::State::Present || stored.flags != 0 || stored.data.size() < 4) return false;
  const JoinSpec& j = slot.def->join;
  const JoinEntry* e = slot.join->find(std::int64_t{static_cast<std::int32_t>(load_le<std::uint32_t>(stored.data))});
  if (e == nullptr || !j.fallback.empty()) return false;
  const bool wrong_type = !j.expect_types.empty() &&
                          (!e->has_type || std::find(j.expect_types.begin(), j.expect_types.end(), e->type) ==
                                               j.expect_types.end());
  if (e->value.valid && out.dictionary() && !wrong_type && !e->failed) {
    out.put_text(e->dictionary, e->value.bytes());
    return true;
  }
  c.valid = false;
  c.ref = nullptr;
  if (wrong_type) {
    // No match by design (see fill_join): null, not counted.
  } else if (e->failed) {
    ++failures_[s];
  } else if (e->value.valid) {
    c.valid = true;
    c.i = e->value.i;
    c.f = e->value.f;
    c.ref = &e->value.s;
  } else if (j.has_null_text) {
    c.valid = true;
    c.ref = &j.null_text;
  }
  out.append(c);
  return true;
}

ViewReader::Step ViewReader::next(std::vector<Cell>& row) {
  row.resize(slots_.size());
  if (!view_.unpivot.active) {
    if (const Step step = read_record(); step != Step::Row) return step;
    for (std::size_t s = 0; s < slots_.size(); ++s) fill(s, row[s]);
    return Step::Row;
  }
  for (;;) {
    if (in_record_) {
      while (next_day_ < days_.size()) {
        const auto [k, day] = days_[next_day_++];
        Source count;
        source_of(k, count);
        if (count.kind != Source::Kind::Int && count.kind != Source::Kind::UInt) continue;
        for (std::size_t s = 0; s < slots_.size(); ++s) {
          Cell& c = row[s];
          switch (slots_[s].kind) {
            case SlotKind::UnpivotDate:
              c.valid = year_known_;
              c.i = (year_start_days_ + day - 1) * 86400LL * 1000000LL;
              break;
            case SlotKind::UnpivotCount:
              c.set_int(count.kind == Source::Kind::Int ? count.i : static_cast<std::int64_t>(count.u));
              break;
            default:
              c = carried_[s];
              break;
          }
        }
        return Step::Row;
      }
      in_record_ = false;
    }
    if (const Step step = read_record(); step != Step::Row) return step;
    carried_.resize(slots_.size());
    for (std::size_t s = 0; s < slots_.size(); ++s) {
      if (slots_[s].kind == SlotKind::Column || slots_[s].kind == SlotKind::Raw) fill(s, carried_[s]);
    }
    // The year of the record's data: its first access (UTC) is in it.
    year_known_ = false;
    if (year_source_ >= 0) {
      Source y;
      source_of(year_source_, y);
      Cell when;
      const UnpivotSpec& u = view_.unpivot;
      if (convert(u.year_convert, nullptr, y, when) == Converted::Value &&
          !(u.has_range && (when.i < u.range_min || when.i > u.range_max))) {
        std::int64_t days = when.i / (86400LL * 1000000LL);
        if (when.i < 0 && when.i % (86400LL * 1000000LL) != 0) --days;
        year_start_days_ = days_from_civil(civil_from_days(days).year, 1, 1);
        year_known_ = true;
      }
    }
    in_record_ = true;
    next_day_ = 0;
  }
}

}  // namespace quarrow::profiles
