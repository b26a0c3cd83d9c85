#include "extensions/readings.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace qu::plist {
namespace {

// A table row: a value (nothing for an absent key) and its expected reading.
template <typename T>
struct Reading {
  const char* name;
  std::optional<Value> value;
  T expected;
};

TEST(BoolReadingTest, FollowsTheSettingsRules) {
  const Reading<bool> cases[] = {
      {"absent", std::nullopt, false},
      {"true", Value(true), true},
      {"false", Value(false), false},
      {"integer 0", Value::integer(0), false},
      {"integer -3", Value::integer(-3), true},
      {"wide unsigned", Value(Integer::fromUnsigned(UINT64_MAX)), true},
      {"real 0.0", Value(0.0), false},
      {"real -0.0", Value(-0.0), false},
      {"real 2.5", Value(2.5), true},
      {"YES", Value("YES"), true},
      {"yes", Value("yes"), true},
      {"t", Value("t"), true},
      {"+0001", Value(" +0001"), true},
      {"-9", Value("-9"), true},
      {"2abc", Value("2abc"), true},
      {"leading newline and tab", Value("\n\tY"), true},
      {"zeros then y", Value("00y"), true},
      {"no", Value("no"), false},
      {"false text", Value("false"), false},
      {"0", Value("0"), false},
      {"000", Value("000"), false},
      {"-0", Value("-0"), false},
      {"empty", Value(""), false},
      {"two signs", Value("+-1"), false},
      {"sign after space", Value("+ 1"), false},
      {"on", Value("on"), false},
      {"data", Value(Data{"\x01"}), false},
      {"array", Value(Array{true}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(boolReading(c.value ? &*c.value : nullptr), c.expected);
  }
}

TEST(IntegerReadingTest, FollowsTheRemoteRules) {
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  const Reading<std::int64_t> cases[] = {
      {"absent", std::nullopt, 0},
      {"true", Value(true), 1},
      {"false", Value(false), 0},
      {"integer -7", Value::integer(-7), -7},
      {"INT64_MIN", Value::integer(min), min},
      {"wide unsigned saturates", Value(Integer::fromUnsigned(UINT64_MAX)), max},
      {"real 2.9", Value(2.9), 2},
      {"real -2.9", Value(-2.9), -2},
      {"huge real", Value(1e30), max},
      {"huge negative real", Value(-1e30), min},
      {"string 1", Value("1"), 1},
      {"leading space, trailing text", Value(" 42abc"), 42},
      {"negative string", Value("-7"), -7},
      {"leading zeros", Value("007"), 7},
      {"letters", Value("abc"), 0},
      {"sign only", Value("-"), 0},
      {"space after sign", Value("- 5"), 0},
      {"decimal point stops", Value("3.99"), 3},
      {"INT64_MAX text", Value("9223372036854775807"), max},
      {"one past INT64_MAX", Value("9223372036854775808"), max},
      {"INT64_MIN text", Value("-9223372036854775808"), min},
      {"huge negative string", Value("-99999999999999999999999"), min},
      {"data", Value(Data{"1"}), 0},
      {"array", Value(Array{Value::integer(1)}), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(integerReading(c.value ? &*c.value : nullptr), c.expected);
  }
}

}  // namespace
}  // namespace qu::plist
