// Counting a value's values up to a limit: exact below it, and bounded by it however large or
// deep the value.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "json/value.h"

namespace vok::json {
namespace {

Value nested(int depth) {
    Value value = Value::from_u64(1);
    for (int i = 0; i < depth; ++i) {
        Array pair;
        pair.push_back(std::move(value));
        pair.push_back(Value("x"));
        std::vector<Object::Entry> members;
        members.emplace_back("a", Value(std::move(pair)));
        members.emplace_back("b", Value::from_u64(0));
        value = Value(Object::from_entries(std::move(members)));
    }
    return value;
}

TEST(ValueCount, CountsEveryValueAtAnyDepthBelowTheLimit) {
    EXPECT_EQ(count_values(Value(), 100), 1u);
    EXPECT_EQ(count_values(Value(Array()), 100), 1u);
    Array two;
    two.emplace_back(Array());
    two.emplace_back(Object());
    EXPECT_EQ(count_values(Value(std::move(two)), 100), 3u);
    // Each level: the object, its array and the array's string, and the number.
    EXPECT_EQ(count_values(nested(3), 1000), 1u + 3u * 4u);
    EXPECT_EQ(count_values(nested(20'000), 1'000'000), 1u + 20'000u * 4u);
}

TEST(ValueCount, StopsAtTheLimit) {
    Array wide(1'000'000, Value::from_u64(7));
    const Value flat{std::move(wide)};
    EXPECT_EQ(count_values(flat, 10), 10u);
    EXPECT_EQ(count_values(flat, 2'000'000), 1'000'001u);
    EXPECT_EQ(count_values(nested(20'000), 50), 50u);
    EXPECT_EQ(count_values(nested(2), 9), 9u);
    EXPECT_EQ(count_values(nested(2), 10), 9u);
}

} // namespace
} // namespace vok::json
