// The JSON reader, against texts our own writer makes and texts it refuses.

#include "lib/json_reader.hpp"

#include <gtest/gtest.h>

#include "lib/json.hpp"

namespace {
using brelo_host::JsonValue;
using brelo_host::parse_json;

TEST(JsonReader, ReadsBackWhatTheWriterWrote) {
  brelo_host::JsonObject inner;
  inner.raw("n", "-1.5e3").raw("list", "[1, [], {}, true, false, null]");
  brelo_host::JsonObject outer;
  outer.text("name", "tab\there \"quoted\" \\ \x01").raw("inner", inner.str());
  std::string why;
  auto value = parse_json(" " + outer.str() + "\n", why);
  ASSERT_TRUE(value) << why;
  EXPECT_EQ(value->find("name")->text, "tab\there \"quoted\" \\ \x01");
  const JsonValue& in = *value->find("inner");
  EXPECT_EQ(in.number_at("n"), -1500);
  const JsonValue& list = *in.find("list");
  ASSERT_EQ(list.items.size(), 6u);
  EXPECT_EQ(list.items[1].kind, JsonValue::Kind::array);
  EXPECT_EQ(list.items[2].kind, JsonValue::Kind::object);
  EXPECT_TRUE(list.items[3].boolean);
  EXPECT_EQ(list.items[5].kind, JsonValue::Kind::null);
  EXPECT_EQ(in.number_at("missing", 7), 7);
  EXPECT_EQ(value->find("missing"), nullptr);
}

TEST(JsonReader, RefusesWhatIsNotOneValue) {
  std::string why;
  for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "\"open", "tru", "1 2",
                          "{\"a\":-}", "[\"\x01\"]"}) {
    EXPECT_FALSE(parse_json(bad, why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
  // Nesting beyond what any of our files has is refused, not recursed into.
  EXPECT_FALSE(parse_json(std::string(10000, '['), why));
}
}  // namespace
