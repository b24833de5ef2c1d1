// The timeline's core: time bounds as users write them, the sorter and merger against a
// plain sort (in memory and through spilled runs, several sorters at once), and the
// written members of an event in both formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/timeline_fields.h"
#include "profiles/profile.h"
#include "timeline/collect.h"
#include "timeline/event.h"
#include "timeline/event_sort.h"

namespace quarrow::timeline {
namespace {

constexpr std::int64_t kSecond = 1000000;
// 2021-11-16T00:00:00Z
constexpr std::int64_t kDay = 1637020800LL * kSecond;

struct BoundCase {
  const char* text;
  bool end_of;
  std::int64_t expected;
};

class TimeBounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(TimeBounds, Parse) {
  const BoundCase& c = GetParam();
  const auto got = parse_time_bound(c.text, c.end_of);
  ASSERT_TRUE(got.has_value()) << c.text;
  EXPECT_EQ(*got, c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Timeline, TimeBounds,
    ::testing::Values(BoundCase{"2021-11-16", false, kDay}, BoundCase{"2021-11-16", true, kDay + 86400 * kSecond - 1},
                      BoundCase{"2021-11-16T19:18", false, kDay + (19 * 3600 + 18 * 60) * kSecond},
                      BoundCase{"2021-11-16T19:18", true, kDay + (19 * 3600 + 19 * 60) * kSecond - 1},
                      BoundCase{"2021-11-16 19:18:05", true, kDay + (19 * 3600 + 18 * 60 + 6) * kSecond - 1},
                      BoundCase{"2021-11-16T19:18:05.25Z", false, kDay + (19 * 3600 + 18 * 60 + 5) * kSecond + 250000},
                      // A fraction is exact: an upper bound includes that instant only.
                      BoundCase{"2021-11-16T19:18:05.000000Z", true, kDay + (19 * 3600 + 18 * 60 + 5) * kSecond},
                      BoundCase{"2021-11-16T19:18:05.1234567", false, kDay + (19 * 3600 + 18 * 60 + 5) * kSecond + 123456},
                      BoundCase{"2021-11-16T01:00+02:00", false, kDay - 3600 * kSecond},
                      BoundCase{"2021-11-16T00:00:00-0530", false, kDay + (5 * 3600 + 30 * 60) * kSecond},
                      BoundCase{"1969-12-31T23:59:59Z", false, -kSecond}, BoundCase{"2024-02-29", false, 1709164800LL * kSecond}));

TEST(Timeline, BoundsThatAreNoTime) {
  for (const char* text : {"", "2021", "2021-11", "2021-13-01", "2021-02-30", "2023-02-29", "2021-11-16T24:00",
                           "2021-11-16T19", "2021-11-16T19:60", "2021-11-16Z0", "2021-11-16T19:18:00.", "2021-11-16x",
                           "2021-11-16T19:18+2", "yesterday", "2021-11-16T19:18:00+24:00"}) {
    EXPECT_FALSE(parse_time_bound(text, false).has_value()) << text;
  }
}

TEST(Timeline, TimesAndDays) {
  std::string out;
  append_event_time(out, kDay + 250000);
  EXPECT_EQ(out, "2021-11-16T00:00:00.250000+00:00");
  out.clear();
  append_event_time(out, -1);
  EXPECT_EQ(out, "1969-12-31T23:59:59.999999+00:00");
  EXPECT_EQ(event_day(-1), -1);
  EXPECT_EQ(event_day(0), 0);
  EXPECT_EQ(event_day(kDay), 18947);
  for (std::size_t k = 0; k < static_cast<std::size_t>(EventKind::kCount); ++k) {
    const auto kind = static_cast<EventKind>(k);
    EXPECT_EQ(event_kind_from_name(event_kind_name(kind)), kind);
  }
  EXPECT_FALSE(event_kind_from_name("rows").has_value());
}

struct Owned {
  EventView e;
  std::string description, message, attributes;
};

std::vector<Owned> random_events(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Owned> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    Owned& o = out[k];
    // Few distinct times, inputs and tables, so that ties are common.
    o.e.time = static_cast<std::int64_t>(rng() % 50) - 10;
    o.e.input = rng() % 3;
    o.e.table = rng() % 3;
    o.e.kind = static_cast<EventKind>(rng() % 4);
    o.e.row = rng() % 5;
    o.e.item = rng() % 2;
    o.description = "d" + std::to_string(k);
    o.message = std::string(rng() % 300, 'm') + std::to_string(k);
    o.attributes = k % 7 == 0 ? "" : "\"n\":" + std::to_string(k);
  }
  return out;
}

// Sorts `events` through `sorters` sorters (event k into sorter k % sorters) and returns
// the descriptions in merged order.
std::vector<std::string> through_sorters(const std::vector<Owned>& events, std::size_t sorters, std::size_t bound,
                                         std::size_t& spilled) {
  std::vector<EventSorter> list;
  for (std::size_t s = 0; s < sorters; ++s) list.emplace_back(SortOptions{bound, ""});
  for (std::size_t k = 0; k < events.size(); ++k) {
    EventView e = events[k].e;
    e.description = events[k].description;
    e.message = events[k].message;
    e.attributes = events[k].attributes;
    EXPECT_TRUE(list[k % sorters].add(e).ok());
  }
  spilled = 0;
  for (const auto& s : list) spilled += s.spilled_runs();
  EventMerger merger(std::move(list));
  std::vector<std::string> order;
  EventView e;
  while (merger.next(e)) {
    const std::size_t k = std::stoul(std::string(e.description.substr(1)));
    // The texts come back whole, with the fixed members.
    EXPECT_EQ(e.message, events[k].message);
    EXPECT_EQ(e.attributes, events[k].attributes);
    EXPECT_EQ(e.time, events[k].e.time);
    EXPECT_EQ(e.row, events[k].e.row);
    order.emplace_back(e.description);
  }
  EXPECT_TRUE(merger.status().ok());
  return order;
}

struct SortCase {
  std::size_t events, sorters, bound;
  bool spills;
};

class SortAndMerge : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortAndMerge, SameAsAStableSort) {
  const SortCase& c = GetParam();
  const std::vector<Owned> events = random_events(c.events, static_cast<std::uint32_t>(c.events + c.sorters));
  // Expected: the events' order, equal events in the order each sorter got them; a
  // sorter's events keep their order among equals, and equal events of different
  // sorters come by sorter.
  std::vector<std::size_t> index(events.size());
  for (std::size_t k = 0; k < index.size(); ++k) index[k] = k;
  std::stable_sort(index.begin(), index.end(), [&](std::size_t a, std::size_t b) {
    if (event_before(events[a].e, events[b].e)) return true;
    if (event_before(events[b].e, events[a].e)) return false;
    return a % c.sorters < b % c.sorters;
  });
  std::vector<std::string> expected;
  for (std::size_t k : index) expected.push_back(events[k].description);
  std::size_t spilled = 0;
  EXPECT_EQ(through_sorters(events, c.sorters, c.bound, spilled), expected);
  EXPECT_EQ(spilled > 0, c.spills);
}

INSTANTIATE_TEST_SUITE_P(Timeline, SortAndMerge,
                         ::testing::Values(SortCase{0, 1, 1 << 20, false}, SortCase{1, 1, 1 << 20, false},
                                           SortCase{2000, 1, 1 << 20, false}, SortCase{2000, 3, 1 << 20, false},
                                           // A bound of a few events: many runs on disk, each read in pieces.
                                           SortCase{2000, 1, 4096, true}, SortCase{3000, 3, 16384, true},
                                           // One event larger than a run's read window.
                                           SortCase{50, 2, 1, true}));

TEST(Timeline, LargeEventThroughARun) {
  std::vector<Owned> events = random_events(3, 1);
  events[1].attributes.assign(600000, 'a');  // more than a run file's read size
  std::size_t spilled = 0;
  const auto order = through_sorters(events, 1, 1, spilled);
  EXPECT_EQ(order.size(), 3u);
  EXPECT_GE(spilled, 3u);
}

TEST(Timeline, SpillToAFolderThatIsNotThere) {
  EventSorter sorter(SortOptions{1, "/nonexistent/quarrow-timeline"});
  EventView e;
  e.description = "x";
  const Status s = sorter.add(e);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), ErrorKind::Io);
}

TEST(Timeline, EventsPerDay) {
  std::vector<std::int64_t> times = {-1, 0, 5, kDay, kDay + 1, kDay + 86400 * kSecond};
  std::size_t at = 0;
  const auto days = events_per_day([&](EventView& e) {
    if (at == times.size()) return false;
    e.time = times[at++];
    return true;
  });
  const std::vector<std::pair<std::int64_t, std::uint64_t>> expected = {{-1, 1}, {0, 2}, {18947, 2}, {18948, 1}};
  EXPECT_EQ(days, expected);
}

TEST(Timeline, WrittenMembers) {
  std::vector<InputNames> inputs(1);
  inputs[0].source = "C:\\evidence\\SRUDB.dat";
  inputs[0].tables = {"header", "app_resource_usage"};
  EventView e;
  e.time = kDay + 1;
  e.kind = EventKind::Recovered;
  e.table = 1;
  e.row = 7;
  e.description = "SRUM record written (deleted row)";
  e.message = "app.exe, \"quoted\"\nsecond line";
  e.attributes = "\"App\":\"app.exe\",\"Bytes\":5";
  std::string json;
  app::append_timeline_event(json, app::TimelineFormat::JsonLines, e, inputs);
  EXPECT_EQ(json,
            "{\"message\":\"app.exe, \\\"quoted\\\"\\nsecond line\",\"datetime\":\"2021-11-16T00:00:00.000001+00:00\","
            "\"timestamp_desc\":\"SRUM record written (deleted row)\",\"timestamp\":1637020800000001,"
            "\"source_file\":\"C:\\\\evidence\\\\SRUDB.dat\",\"kind\":\"recovered\",\"table\":\"app_resource_usage\","
            "\"row\":7,\"App\":\"app.exe\",\"Bytes\":5}\n");
  std::string csv;
  app::append_timeline_csv_header(csv);
  app::append_timeline_event(csv, app::TimelineFormat::Csv, e, inputs);
  EXPECT_EQ(csv,
            "message,datetime,timestamp_desc,timestamp,source_file,kind,table,row,attributes\r\n"
            "\"app.exe, \"\"quoted\"\"\nsecond line\",2021-11-16T00:00:00.000001+00:00,"
            "SRUM record written (deleted row),1637020800000001,C:\\evidence\\SRUDB.dat,recovered,"
            "app_resource_usage,7,\"{\"\"App\"\":\"\"app.exe\"\",\"\"Bytes\"\":5}\"\r\n");
}

}  // namespace
}  // namespace quarrow::timeline

namespace quarrow::profiles {
namespace {

constexpr const char* kView =
    "{\"profile\": \"x\", \"recognize\": [[\"T\"]], \"views\": [\n{\"name\": \"v\", \"table\": \"T\",\n"
    " \"columns\": [\"A\", \"B\"],\n";

TEST(TimelineProfile, EventsAndMessage) {
  auto parsed = parse_profile(std::string(kView) + " \"events\": {\"B\": \"seen\", \"A\": \"made\"}, \"message\": \"{A} at {B}\"}]}",
                              "f.json");
  ASSERT_TRUE(parsed) << parsed.error().to_string();
  const ViewSpec& v = parsed->views[0];
  EXPECT_TRUE(v.has_events);
  // File order is kept: it orders a row's events of the same time.
  const std::vector<std::pair<std::string, std::string>> expected = {{"B", "seen"}, {"A", "made"}};
  EXPECT_EQ(v.events, expected);
  EXPECT_EQ(v.message, "{A} at {B}");
  auto plain = parse_profile(std::string(kView) + " \"events\": {}}]}", "f.json");
  ASSERT_TRUE(plain);
  EXPECT_TRUE(plain->views[0].has_events);
  EXPECT_TRUE(plain->views[0].events.empty());
}

TEST(TimelineProfile, MistakesNameTheirLine) {
  const struct {
    const char* tail;
    const char* expected;
  } cases[] = {
      {" \"events\": [\"B\"]}]}", "line 4: \"events\" must be an object, not a list"},
      {" \"events\": {\"B\": 1}}]}", "line 4: an event's description must be a string"},
      {" \"events\": {\"B\": \"\"}}]}", "line 4: the event of \"B\" has no description"},
      {" \"message\": \"{A\"}]}", "\"message\": \"{\" without \"}\""},
      {" \"message\": \"A}\"}]}", "\"message\": \"}\" without a column name before it"},
      {" \"message\": \"{}\"}]}", "\"message\": \"}\" without a column name before it"},
      {" \"message\": \"{A{B}}\"}]}", "\"message\": \"{\" inside a column name"},
      {" \"message\": 5}]}", "\"message\" must be a string"},
      {" \"event\": {}}]}", "unknown key \"event\" in a view"},
  };
  for (const auto& c : cases) {
    auto parsed = parse_profile(std::string(kView) + c.tail, "f.json");
    ASSERT_FALSE(parsed) << c.tail;
    EXPECT_NE(parsed.error().to_string().find(c.expected), std::string::npos) << parsed.error().to_string();
  }
}

}  // namespace
}  // namespace quarrow::profiles
