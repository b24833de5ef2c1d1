// Finding a profile's tables and views in a database's catalog.
#include "profiles/view_names.h"
#include "profiles/view_reader.h"

namespace quarrow::profiles {

const char* view_type_name(const ViewColumn& c) {
  switch (c.width) {
    case DecodedType::UInt8: return "uint8";
    case DecodedType::Int16: return "int16";
    case DecodedType::UInt16: return "uint16";
    case DecodedType::Int32: return "int32";
    case DecodedType::UInt32: return "uint32";
    default: return c.local ? "timestamp (local)" : out_type_name(c.type);
  }
}


const TableInfo* find_table(const Database& db, std::string_view name) {
  if (const TableInfo* t = db.catalog().find(name)) return t;
  for (const auto& [key, t] : db.catalog()) {
    if (equal_ignoring_case(t.name, name)) return &t;
  }
  return nullptr;
}

bool recognizes(const Database& db, const Profile& profile) {
  for (const auto& tables : profile.recognize) {
    bool all = true;
    for (const std::string& t : tables) all = all && find_table(db, t) != nullptr;
    if (all) return true;
  }
  return false;
}

const Profile* recognize(const Database& db, const std::vector<Profile>& profiles) {
  for (const Profile& p : profiles) {
    if (recognizes(db, p)) return &p;
  }
  return nullptr;
}

std::vector<const ViewSpec*> available_views(const Database& db, const Profile& profile) {
  std::vector<const ViewSpec*> out;
  for (const ViewSpec& v : profile.views) {
    if (find_table(db, v.table) != nullptr) out.push_back(&v);
  }
  return out;
}

const ViewSpec* find_view(const Database& db, const Profile& profile, std::string_view name) {
  for (const ViewSpec& v : profile.views) {
    if (v.name == name) return find_table(db, v.table) != nullptr ? &v : nullptr;
  }
  return nullptr;
}

}  // namespace quarrow::profiles
