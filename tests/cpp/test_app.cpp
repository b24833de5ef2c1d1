// Opening a database for a user: each way of failing gives the message both front
// ends show and the kind they act on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/carve_request.h"
#include "app/forensic_fields.h"
#include "app/open.h"
#include "temp_folder.h"

namespace quarrow::app {
namespace {

namespace fs = std::filesystem;

TEST(OpenForUser, EachFailureHasItsKindAndMessage) {
  test::TempFolder folder;
  const std::string missing = folder.path("absent.edb");
  const std::string text = folder.file("notes.txt", std::string(8192, 'x'));
  struct Case {
    std::string path;
    OpenFailure::Kind kind;
    std::string message_start;
  };
  const Case cases[] = {
      {missing, OpenFailure::Kind::NotFound, "Database file not found: " + missing},
      {std::string("a\0b", 3), OpenFailure::Kind::NotFound, "Database file not found: "},
      {folder.root(), OpenFailure::Kind::System, "Failed to open database: "},
      {text, OpenFailure::Kind::Format, "Failed to open database: "},
  };
  for (const Case& c : cases) {
    const Opened opened = open_for_user(c.path);
    ASSERT_FALSE(opened) << c.path;
    EXPECT_EQ(opened.failure.kind, c.kind) << c.path;
    EXPECT_EQ(opened.failure.message.rfind(c.message_start, 0), 0u) << opened.failure.message;
    EXPECT_EQ(opened.failure.os_code != 0, c.kind == OpenFailure::Kind::System) << c.path;
  }
}

// Every field order both front ends write: each enumerator names its own entry, every
// name is distinct and non-empty, and the order lists each field once.
template <class Field, std::size_t N>
void expect_complete_order(const std::array<Field, N>& order, const std::array<std::string_view, N>& names) {
  std::set<std::string_view> seen_names;
  std::set<std::size_t> seen_fields;
  for (const Field f : order) {
    EXPECT_LT(static_cast<std::size_t>(f), N);
    EXPECT_TRUE(seen_fields.insert(static_cast<std::size_t>(f)).second);
  }
  for (const std::string_view name : names) {
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(seen_names.insert(name).second) << name;
  }
  EXPECT_EQ(seen_fields.size(), N);
}

TEST(FieldOrders, EachListsEveryFieldOnceUnderDistinctNames) {
  expect_complete_order(kProblemFields, kProblemFieldNames);
  expect_complete_order(kRecoveredFields, kRecoveredFieldNames);
  expect_complete_order(kRecoveredFieldsByName, kRecoveredFieldNames);
}

// The orders readers already depend on: the module's dicts (and verify's JSON objects)
// and the member order of recover's JSON Lines, which its help text lists.
TEST(FieldOrders, PublishedOrdersStayAsReadersKnowThem) {
  const auto names = [](const auto& order, const auto& name_of) {
    std::vector<std::string> out;
    for (const auto f : order) out.emplace_back(name_of(f));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(kProblemFields, problem_field_name),
            (V{"page", "problem", "stored", "computed", "bit", "bytes_present"}));
  EXPECT_EQ(names(kRecoveredFields, recovered_field_name),
            (V{"page", "offset", "source", "record", "live", "missing_long_values"}));
  EXPECT_EQ(names(kRecoveredFieldsByName, recovered_field_name),
            (V{"live", "missing_long_values", "offset", "page", "record", "source"}));
}

// by_name orders by the names' bytes, not by the fields' places: also for names that
// share a prefix or differ only past their first byte, and for bytes above 0x7F.
TEST(FieldOrders, ByNameSortsByNameBytes) {
  enum class F : std::uint8_t { A, B, C, D };
  constexpr std::array<F, 4> fields = {F::A, F::B, F::C, F::D};
  constexpr std::array<std::string_view, 4> names = {"page_type", "\xc3\xa9", "page", "offset"};
  constexpr auto sorted = by_name(fields, names);
  EXPECT_EQ(sorted, (std::array<F, 4>{F::D, F::C, F::A, F::B}));
}

}  // namespace
}  // namespace quarrow::app
