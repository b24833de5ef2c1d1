#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "export/csv.h"

namespace quarrow {
namespace {

using K = Value::Kind;

Field field(Value v) {
  Field f;
  f.value = std::move(v);
  return f;
}

TEST(Csv, RowQuotesOnlyWhatNeedsIt) {
  Record r;
  for (const char* s : {"plain", "a,b", "say \"hi\"", "two\r\nlines", "", "  spaced  "}) {
    r.fields.push_back(field(Value::of_bytes(K::Text, std::string(s))));
  }
  r.fields.push_back(field(Value::null()));
  r.fields.push_back(field(Value::of_bytes(K::Binary, std::string("\x00\xff", 2))));
  r.fields.push_back(field(Value::boolean(true)));
  r.fields.push_back(field(Value::signed_int(K::I32, -7)));
  r.fields.push_back(field(Value::dbl(std::nan(""))));
  r.fields.push_back(field(Value::single(0.1f)));
  std::string out;
  append_csv_row(out, r);
  EXPECT_EQ(out,
            "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",\"\",  spaced  ,,00ff,true,-7,0,"
            "0.10000000149011612\r\n");
}

TEST(Csv, HeaderNamesAreLossyTextInPlanOrder) {
  ColumnInfo a, b;
  a.name = "Id";
  b.name = std::string("N\xff,x");
  ColumnPlan plan;
  plan.columns.push_back({&a, 0});
  plan.columns.push_back({&b, 0});
  std::string out;
  append_csv_header(out, plan);
  EXPECT_EQ(out, "Id,\"N\xef\xbf\xbd,x\"\r\n");
}

}  // namespace
}  // namespace quarrow
