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
#include "profiles/view_text.h"
#include "timeline/attributes.h"
#include "timeline/collect.h"
#include "timeline/event.h"
#include "timeline/event_sort.h"
#include "timeline/line_coder.h"

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
                                         std::size_t& spilled, bool as_lines = false) {
  std::vector<EventSorter> list;
  for (std::size_t s = 0; s < sorters; ++s) list.emplace_back(SortOptions{bound, ""});
  for (std::size_t k = 0; k < events.size(); ++k) {
    EventView e = events[k].e;
    e.description = events[k].description;
    e.message = events[k].message;
    e.attributes = events[k].attributes;
    if (as_lines) {
      // Written lines: the texts travel inside one coded line.
      e.line = {};
      std::string line = "{\"d\":\"" + events[k].description + "\",\"m\":\"" + events[k].message + "\"";
      if (!events[k].attributes.empty()) line += "," + events[k].attributes;
      line += "}\n";
      EventView bare = e;
      bare.description = bare.message = bare.attributes = {};
      EXPECT_TRUE(list[k % sorters].add_line(bare, line).ok());
    } else {
      EXPECT_TRUE(list[k % sorters].add(e).ok());
    }
  }
  spilled = 0;
  for (const auto& s : list) spilled += s.spilled_runs();
  EventMerger merger(std::move(list));
  std::vector<std::string> order;
  EventView e;
  while (merger.next(e)) {
    std::string line_texts;
    if (as_lines) {
      // {"d":"d<k>","m":"<message>"[,attributes]}
      const std::string_view l = e.line;
      EXPECT_TRUE(e.description.empty() && e.message.empty() && e.attributes.empty());
      const std::size_t m = l.find("\",\"m\":\"");
      const std::size_t m_end = l.find('"', m + 7);
      e.description = l.substr(6, m - 6);
      e.message = l.substr(m + 7, m_end - m - 7);
      e.attributes = l.substr(m_end + 1, l.size() - m_end - 3);
      if (!e.attributes.empty()) e.attributes.remove_prefix(1);
    }
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
  bool lines = false;   // written lines (add_line) rather than texts
  bool ordered = false;  // the events come in their order (no sort needed)
};

class SortAndMerge : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortAndMerge, SameAsAStableSort) {
  const SortCase& c = GetParam();
  std::vector<Owned> events = random_events(c.events, static_cast<std::uint32_t>(c.events + c.sorters));
  if (c.ordered) {
    // In order for each sorter (event k goes to sorter k % sorters), equal keys included.
    std::vector<std::int64_t> times;
    for (const Owned& o : events) times.push_back(o.e.time);
    std::sort(times.begin(), times.end());
    for (std::size_t k = 0; k < events.size(); ++k) {
      events[k].e.time = times[k];
      events[k].e.input = events[k].e.table = 0;
      events[k].e.row = k / 3;
    }
  }
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
  EXPECT_EQ(through_sorters(events, c.sorters, c.bound, spilled, c.lines), expected);
  EXPECT_EQ(spilled > 0, c.spills);
}

INSTANTIATE_TEST_SUITE_P(Timeline, SortAndMerge,
                         ::testing::Values(SortCase{0, 1, 1 << 20, false}, SortCase{1, 1, 1 << 20, false},
                                           SortCase{2000, 1, 1 << 20, false}, SortCase{2000, 3, 1 << 20, false},
                                           // A bound of a few events: many runs on disk, each read in pieces.
                                           SortCase{2000, 1, 4096, true}, SortCase{3000, 3, 16384, true},
                                           // One event larger than a run's read window.
                                           SortCase{50, 2, 1, true},
                                           // Written lines, kept coded, in memory and through runs.
                                           SortCase{2000, 1, 1 << 20, false, true}, SortCase{3000, 3, 16384, true, true},
                                           SortCase{50, 2, 1, true, true},
                                           // Events already in order: buffers go out as they are.
                                           SortCase{3000, 1, 16384, true, false, true},
                                           SortCase{3000, 2, 16384, true, true, true},
                                           SortCase{3000, 2, 1 << 20, false, true, true}));

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

// ---- coded lines --------------------------------------------------------------------

std::string round_trip(LineCoder& coder, std::uint64_t group, const std::string& line, bool& shaped) {
  std::string coded, back;
  coder.encode(coded, group, line);
  shaped = !coded.empty() && coded[0] != 0;
  EXPECT_TRUE(coder.decode(back, coded)) << line;
  return back;
}

struct CodedCase {
  const char* name;
  std::vector<std::string> lines;  // one group, coded in this order
  std::vector<bool> shaped;         // whether each was taken apart
};

class CodedLines : public ::testing::TestWithParam<CodedCase> {};

TEST_P(CodedLines, ComeBackByteForByte) {
  const CodedCase& c = GetParam();
  LineCoder coder;
  for (std::size_t k = 0; k < c.lines.size(); ++k) {
    bool shaped = false;
    EXPECT_EQ(round_trip(coder, 1, c.lines[k], shaped), c.lines[k]);
    EXPECT_EQ(shaped, c.shaped[k]) << c.lines[k];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Timeline, CodedLines,
    ::testing::Values(
        CodedCase{"SameShapeOtherValues",
                  {R"({"a":1,"b":"x","c":null})" "\n", R"({"a":22,"b":"x","c":true})" "\n",
                   R"({"a":1,"b":"","c":-1.5e+300})" "\n"},
                  {true, true, true}},
        CodedCase{"StringsHoldingSeparatorsAndEscapes",
                  {R"({"m":"a,b}c","p":"C:\\x\\","q":"say \"hi\"","r":"\\\"}"})" "\n",
                   R"({"m":"}","p":"\\","q":"\"","r":"\\\\"})" "\n"},
                  {true, true}},
        CodedCase{"MembersChange",
                  {R"({"a":1,"b":2})" "\n", R"({"a":1})" "\n", R"({"a":1,"b":2,"c":3})" "\n", R"({"b":1,"a":2})" "\n",
                   R"({"a":1,"b":2})" "\n"},
                  {true, true, true, true, true}},
        CodedCase{"EmptyObject", {"{}\n", "{}\n", R"({"a":1})" "\n", "{}\n"}, {true, true, true, true}},
        // Not one flat JSON object line: kept as they are.
        CodedCase{"KeptAsTheyAre",
                  {R"({"a":[1,2]})" "\n", R"({"a":{"b":1}})" "\n", "a,b,c\r\n", R"({"a":1})", R"({"a":"open})" "\n",
                   R"({"a":})" "\n", R"({"a"1})" "\n", "", "{\n", R"({"a":1}x)" "\n"},
                  {false, false, false, false, false, false, false, false, false, false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Timeline, CodedLinesOfManyGroupsAndDamage) {
  LineCoder coder;
  std::mt19937 rng(11);
  std::vector<std::string> lines, coded;
  for (int k = 0; k < 3000; ++k) {
    const std::uint64_t group = rng() % 5;
    // Each group has its own member names; some values repeat, some not.
    std::string line = "{\"g" + std::to_string(group) + "\":" + std::to_string(rng() % 3) + ",\"s\":\"" +
                       std::string(rng() % 4, '\\') + std::string(rng() % 3, 'x') + "\"";
    if (group == 4 && rng() % 2 == 0) line += ",\"extra\":null";
    line += "}\n";
    lines.push_back(line);
    coded.emplace_back();
    // Backslashes doubled so the string stays well formed.
    std::string& l = lines.back();
    std::string fixed;
    for (char ch : l) {
      fixed += ch;
      if (ch == '\\') fixed += '\\';
    }
    l = fixed;
    coder.encode(coded.back(), group, l);
  }
  for (std::size_t k = 0; k < lines.size(); ++k) {
    std::string back;
    ASSERT_TRUE(coder.decode(back, coded[k]));
    ASSERT_EQ(back, lines[k]);
    EXPECT_LT(coded[k].size(), lines[k].size() + 2);
  }
  // A damaged form is refused, never read past its end.
  std::string back;
  EXPECT_FALSE(coder.decode(back, ""));
  EXPECT_FALSE(coder.decode(back, std::string("\x01\xff\xff\xff\x7f", 5)));  // no such shape
  EXPECT_FALSE(coder.decode(back, std::string("\x07x", 2)));
  const std::string& shaped = coded[0];
  for (std::size_t cut = 1; cut < shaped.size(); ++cut) EXPECT_FALSE(coder.decode(back, shaped.substr(0, cut)));
  EXPECT_FALSE(coder.decode(back, shaped + "x"));
}

// Lines of a new shape each (recovered records' members differ from row to row): the
// shapes stay within their share of the bound, so runs stay long and lines whole.
TEST(Timeline, ShapesDoNotCrowdOutTheLines) {
  EventSorter sorter(SortOptions{64 << 10, ""});
  std::vector<std::string> lines;
  for (int k = 0; k < 4000; ++k) {
    lines.push_back("{\"member" + std::to_string(k) + "\":" + std::to_string(k) + ",\"text\":\"" +
                    std::string(k % 50, 'x') + "\"}\n");
    EventView e;
    e.time = 4000 - k;  // out of order: sorted
    e.table = static_cast<std::uint32_t>(k % 3);
    ASSERT_TRUE(sorter.add_line(e, lines.back()).ok());
  }
  // About 520 KiB of blocks and keys in runs of nearly 64 KiB each.
  EXPECT_LE(sorter.spilled_runs(), 12u);
  std::vector<EventSorter> list;
  list.push_back(std::move(sorter));
  EventMerger merger(std::move(list));
  EventView e;
  std::size_t k = lines.size();
  while (merger.next(e)) ASSERT_EQ(e.line, lines[--k]);
  EXPECT_EQ(k, 0u);
  EXPECT_TRUE(merger.status().ok());
}

// An event given with both its texts and a line keeps both, in memory and through runs.
TEST(Timeline, TextsAndLineTogether) {
  for (const std::size_t bound : {std::size_t{1}, std::size_t{1} << 20}) {
    EventSorter sorter(SortOptions{bound, ""});
    const std::string line = "{\"a\":1,\"b\":\"x\"}\n";
    for (int k = 0; k < 3; ++k) {
      EventView e;
      e.time = 3 - k;
      e.description = "d";
      e.message = "m";
      e.attributes = "\"a\":1";
      e.line = line;
      ASSERT_TRUE(sorter.add(e).ok());
    }
    std::vector<EventSorter> list;
    list.push_back(std::move(sorter));
    EventMerger merger(std::move(list));
    EventView e;
    int n = 0;
    for (; merger.next(e); ++n) {
      EXPECT_EQ(e.time, n + 1);
      EXPECT_EQ(e.description, "d");
      EXPECT_EQ(e.message, "m");
      EXPECT_EQ(e.attributes, "\"a\":1");
      EXPECT_EQ(e.line, line);
    }
    EXPECT_EQ(n, 3);
  }
}

// ---- the fast writers against the plain ones -----------------------------------------

TEST(Timeline, StreamWriterMatchesEventByEvent) {
  std::vector<InputNames> inputs(2);
  inputs[0].source = "C:\\evidence\\SRUDB.dat";
  inputs[0].tables = {"header", "app_resource_usage", "network \"usage\""};
  inputs[1].source = "logs";
  inputs[1].tables = {"transactions"};
  std::mt19937 rng(5);
  for (const app::TimelineFormat format : {app::TimelineFormat::JsonLines, app::TimelineFormat::Csv}) {
    app::TimelineWriter writer(format, inputs);
    std::int64_t t = -3 * kSecond;
    for (int k = 0; k < 2000; ++k) {
      EventView e;
      t += static_cast<std::int64_t>(rng() % 1500000);
      e.time = k % 97 == 0 ? kDay * (rng() % 5000) : t;
      e.input = rng() % 20 == 0 ? 1 : 0;
      e.table = e.input == 1 ? 0 : rng() % 4;  // 3: a table it does not name
      e.kind = static_cast<EventKind>(rng() % 5);
      e.row = rng() % 3 == 0 ? UINT64_MAX - k : k;
      e.description = k % 2 == 0 ? "SRUM record written" : "last \"access\"";
      const std::string message = "app" + std::to_string(k) + (k % 3 == 0 ? "\n\\x" : "");
      e.message = message;
      e.attributes = k % 5 == 0 ? "" : "\"App\":\"x\",\"N\":5";
      std::string fast, plain;
      writer.append(fast, e);
      app::append_timeline_event(plain, format, e, inputs);
      ASSERT_EQ(fast, plain) << k;
    }
  }
}

// A row's members as the view's JSON object writes them, for every type and for nulls.
TEST(Timeline, AttributesMatchTheViewObject) {
  using profiles::Cell;
  using profiles::OutType;
  std::vector<profiles::ViewColumn> columns;
  auto column = [&](std::string name, OutType type, bool local = false) {
    profiles::ViewColumn c;
    c.name = std::move(name);
    c.type = type;
    c.local = local;
    columns.push_back(c);
  };
  column("B", OutType::Bool);
  column("I", OutType::Int64);
  column("U", OutType::UInt64);
  column("F", OutType::Float64);
  column("T \"quoted\"\n", OutType::Text);
  column("X", OutType::Binary);
  column("When", OutType::Timestamp);
  column("Local", OutType::Timestamp, true);
  column("D", OutType::Duration);
  std::mt19937_64 rng(9);
  AttributeWriter writer(columns);
  std::string ours;
  for (int k = 0; k < 500; ++k) {
    std::vector<Cell> row(columns.size());
    for (Cell& c : row) {
      c.valid = rng() % 6 != 0;
      c.i = k % 3 == 0 ? static_cast<std::int64_t>(rng()) : static_cast<std::int64_t>(rng() % 5000000) - 2500000;
      c.f = k % 2 == 0 ? static_cast<double>(c.i) / 7 : -0.0;
      c.s = std::string("a\"\\\x01\xc3\xa9b", 7).substr(0, rng() % 8);
    }
    std::string object;
    profiles::append_view_json(object, columns, row);
    writer.write(ours, row);
    ASSERT_EQ("{" + ours + "}\n", object);
  }
  const std::vector<profiles::ViewColumn> no_columns;
  AttributeWriter none(no_columns);
  none.write(ours, {});
  EXPECT_EQ(ours, "");
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
