// The JSON writer: layout, escapes, numbers that read back, and misuse.
#include "analysis/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace btcfit::stats {
namespace {

TEST(JsonWriter, NestedDocument) {
  JsonWriter j;
  j.begin_object();
  j.key("name").value("D \"x\"\\\n\t\x01");
  j.key("n").value(18);
  j.key("ok").value(true);
  j.key("none").null();
  j.key("values").numbers({0.1, -2.5e-300, std::nan(""), std::numeric_limits<double>::infinity()});
  j.key("rows").begin_array();
  j.begin_object().key("a").value(1.5).end_object();
  j.strings({"x", "y"});
  j.end_array();
  j.key("empty").begin_object().end_object();
  j.end_object();
  EXPECT_EQ(j.text(),
            "{\n"
            "  \"name\": \"D \\\"x\\\"\\\\\\n\\t\\u0001\",\n"
            "  \"n\": 18,\n"
            "  \"ok\": true,\n"
            "  \"none\": null,\n"
            "  \"values\": [0.10000000000000001, -2.5e-300, null, null],\n"
            "  \"rows\": [\n"
            "    {\n"
            "      \"a\": 1.5\n"
            "    },\n"
            "    [\"x\", \"y\"]\n"
            "  ],\n"
            "  \"empty\": {}\n"
            "}\n");
}

TEST(JsonWriter, NumbersReadBackExactly) {
  for (double v : {0.1, 1.0 / 3.0, 6.02214076e23, -1.2345678901234567e-7}) {
    JsonWriter j;
    j.value(v);
    EXPECT_EQ(std::strtod(j.text().c_str(), nullptr), v);
  }
}

TEST(JsonWriter, MisuseIsRefused) {
  JsonWriter a;
  a.begin_object();
  EXPECT_THROW(a.value(1), std::logic_error);  // a member without a key
  EXPECT_THROW(a.text(), std::logic_error);    // still open
  EXPECT_THROW(a.end_array(), std::logic_error);
  JsonWriter b;
  b.begin_array();
  EXPECT_THROW(b.key("x"), std::logic_error);
}

}  // namespace
}  // namespace btcfit::stats
