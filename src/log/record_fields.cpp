#include "log/record_fields.h"

#include <algorithm>

#include "format/log_records.h"
#include "log/record_types.h"

namespace quarrow::logs {

using namespace logfmt;

namespace {

std::uint64_t read_unsigned(Bytes b, std::size_t at, FieldRead read) {
  switch (read) {
    case FieldRead::U8: return in_bounds(b, at, 1) ? b[at] : 0;
    case FieldRead::U16: case FieldRead::I16: return in_bounds(b, at, 2) ? load_u16le(b, at) : 0;
    case FieldRead::U32: case FieldRead::I32: return in_bounds(b, at, 4) ? load_u32le(b, at) : 0;
    case FieldRead::U64: case FieldRead::I64: return in_bounds(b, at, 8) ? load_u64le(b, at) : 0;
    case FieldRead::NibbleLow: return in_bounds(b, at, 1) ? (b[at] & kLowNibble) : 0;
    case FieldRead::NibbleHigh: return in_bounds(b, at, 1) ? (b[at] >> kNibbleBits) : 0;
    default: return 0;
  }
}

bool is_integer(FieldRead read) {
  switch (read) {
    case FieldRead::U8: case FieldRead::U16: case FieldRead::U32: case FieldRead::U64: case FieldRead::I16:
    case FieldRead::I32: case FieldRead::I64: case FieldRead::NibbleLow: case FieldRead::NibbleHigh:
      return true;
    default:
      return false;
  }
}

}  // namespace

RecordSummary summarize(const LogRecord& r) {
  RecordSummary s;
  const Bytes b = r.bytes;
  if (is_page_record(r.type) && b.size() >= kPagePartSize) {
    s.page_record = true;
    s.procid = load_u16le(b, kPageProcid);
    s.dbid = b[kPageDbid];
    s.page = load_u32le(b, kPagePgno);
    s.dbtime_after = load_u64le(b, kPageDbtimeAfter);
    s.dbtime_before = load_u64le(b, kPageDbtimeBefore);
    s.trx = load_u32le(b, kPageTrxBegin0);
    s.level = b[kPageLevel];
    s.iline = load_u16le(b, kPageIline);
    s.flags = b[kPageFlags];
    if (is_node_record(r.type) && b.size() >= kNodePartSize) {
      s.node_record = true;
      s.rceid = load_u32le(b, kNodeRceid);
      s.root_page = load_u32le(b, kNodeRootPage);
      s.objid = load_u32le(b, kNodeObjid);
    }
  }
  for (const FieldSpec& f : record_layout(r.type).fields) {
    if (f.role == FieldRole::None || !is_integer(f.read)) continue;
    const std::uint64_t v = read_unsigned(b, f.offset, f.read);
    switch (f.role) {
      case FieldRole::Procid: s.procid = static_cast<std::uint16_t>(v); break;
      case FieldRole::Dbid: s.dbid = static_cast<std::uint8_t>(v); break;
      case FieldRole::Page: s.page = static_cast<std::uint32_t>(v); break;
      case FieldRole::Objid: s.objid = static_cast<std::uint32_t>(v); break;
      case FieldRole::RootPage: s.root_page = static_cast<std::uint32_t>(v); break;
      case FieldRole::Dbtime: if (!s.page_record) s.dbtime_after = v; break;
      case FieldRole::None: break;
    }
  }
  if (s.procid && *s.procid == kProcidNil) s.procid.reset();
  return s;
}

void decode_fields(const LogRecord& r, std::vector<LogField>& out) {
  out.clear();
  const Bytes b = r.bytes;
  const RecordLayout layout = record_layout(r.type);
  std::size_t cursor = layout.fixed;  // next variable part
  for (const FieldSpec& f : layout.fields) {
    // The summary carries the session and the database of every record.
    if (f.role == FieldRole::Procid || f.role == FieldRole::Dbid) continue;
    LogField field;
    field.name = f.name;
    const auto take = [&](std::uint64_t n) {
      const std::size_t start = std::min(cursor, b.size());
      const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(n, b.size() - start));
      cursor = start + len;
      return b.subspan(start, len);
    };
    switch (f.read) {
      case FieldRead::U8: case FieldRead::U16: case FieldRead::U32: case FieldRead::U64:
      case FieldRead::NibbleLow: case FieldRead::NibbleHigh:
        if (!in_bounds(b, f.offset, 1)) continue;
        field.kind = LogField::Kind::Unsigned;
        field.u = read_unsigned(b, f.offset, f.read);
        break;
      case FieldRead::I16:
        field.kind = LogField::Kind::Signed;
        field.i = static_cast<std::int16_t>(read_unsigned(b, f.offset, f.read));
        break;
      case FieldRead::I32:
        field.kind = LogField::Kind::Signed;
        field.i = static_cast<std::int32_t>(read_unsigned(b, f.offset, f.read));
        break;
      case FieldRead::I64:
        field.kind = LogField::Kind::Signed;
        field.i = static_cast<std::int64_t>(read_unsigned(b, f.offset, f.read));
        break;
      case FieldRead::Position:
        field.kind = LogField::Kind::Position;
        field.position = read_position(b, f.offset);
        break;
      case FieldRead::Time:
        if (!in_bounds(b, f.offset, kLogTimeSize)) continue;
        field.kind = LogField::Kind::Time;
        field.time = parse_log_time(b.subspan(f.offset, kLogTimeSize));
        break;
      case FieldRead::Signature:
        if (!in_bounds(b, f.offset, kSignatureSize)) continue;
        field.kind = LogField::Kind::Signature;
        field.bytes = b.subspan(f.offset, kSignatureSize);
        break;
      case FieldRead::AnsiFixed:
        if (!in_bounds(b, f.offset, f.arg)) continue;
        field.kind = LogField::Kind::Text;
        field.text = ansi_name(b.subspan(f.offset, f.arg));
        break;
      case FieldRead::Fixed:
        if (!in_bounds(b, f.offset, f.arg)) continue;
        field.kind = LogField::Kind::Bytes;
        field.bytes = b.subspan(f.offset, f.arg);
        break;
      case FieldRead::Var16:
        field.kind = LogField::Kind::Bytes;
        field.bytes = take(read_u16le(b, f.arg));
        break;
      case FieldRead::Var15:
        field.kind = LogField::Kind::Bytes;
        field.bytes = take(read_u16le(b, f.arg) & kReplaceLengthMask);
        break;
      case FieldRead::Var32:
        field.kind = LogField::Kind::Bytes;
        field.bytes = take(read_u32le(b, f.arg));
        break;
      case FieldRead::VarFlag:
        if (!in_bounds(b, f.flag_at, 1) || (b[f.flag_at] & f.flag) == 0) continue;
        field.kind = LogField::Kind::Bytes;
        field.bytes = take(f.arg);
        break;
      case FieldRead::Text16:
        field.kind = LogField::Kind::Text;
        field.text = ansi_name(take(read_u16le(b, f.arg)));
        break;
      case FieldRead::Path: {
        const bool unicode = in_bounds(b, f.flag_at, 1) && (b[f.flag_at] & f.flag) != 0;
        const Bytes path = take(read_u16le(b, f.arg));
        field.kind = LogField::Kind::Text;
        field.text = unicode ? utf16_name(path) : ansi_name(path);
        break;
      }
      case FieldRead::Rest:
        field.kind = LogField::Kind::Bytes;
        field.bytes = f.offset <= b.size() ? b.subspan(f.offset) : Bytes();
        break;
    }
    out.push_back(std::move(field));
  }
}

NodeParts node_parts(const LogRecord& r) {
  NodeParts p;
  const Bytes b = r.bytes;
  const RecordLayout layout = record_layout(r.type);
  std::size_t cursor = layout.fixed;
  for (const FieldSpec& f : layout.fields) {
    std::uint64_t n = 0;
    if (f.read == FieldRead::Var16) {
      n = read_u16le(b, f.arg);
    } else if (f.read == FieldRead::Var15) {
      n = read_u16le(b, f.arg) & kReplaceLengthMask;
    } else {
      continue;
    }
    const std::size_t start = std::min(cursor, b.size());
    const Bytes part = b.subspan(start, static_cast<std::size_t>(std::min<std::uint64_t>(n, b.size() - start)));
    cursor = start + part.size();
    const std::string_view name = f.name;
    if (name == "key_prefix") p.key_prefix = part;
    else if (name == "key_suffix" || name == "key") p.key_suffix = part;
    else if (name == "data") p.data = part;
  }
  if (r.type == kUndoInfo || r.type == kUndo) p.operation = read_u16le(b, kNodeLength3);
  return p;
}

}  // namespace quarrow::logs
