// Destroying values of any depth and width needs no memory: it must work where memory has run out
// (a destructor that throws there ends the process).
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "failing_allocations.h"
#include "json/value.h"

namespace vok::json {
namespace {

Value deep_arrays(int depth) {
    Value value = Value::from_u64(1);
    for (int i = 0; i < depth; ++i) {
        Array wrapper;
        wrapper.push_back(std::move(value));
        wrapper.push_back(Value("leaf " + std::to_string(i) + std::string(40, 'x')));
        value = Value(std::move(wrapper));
    }
    return value;
}

// An object of `width` members, each an object holding arrays and objects of its own, in the
// shape of a model's attributes.
Value wide_object(int width) {
    std::vector<Object::Entry> members;
    for (int i = 0; i < width; ++i) {
        std::vector<Object::Entry> inner;
        inner.emplace_back("a", Value(Array{Value::from_u64(1), Value(Array{}), Value(Object{})}));
        inner.emplace_back("b", deep_arrays(i % 7));
        inner.emplace_back("c", Value(std::string(30, 'c')));
        members.emplace_back("k" + std::to_string(i),
                             Value(Object::from_entries(std::move(inner))));
    }
    return Value(Object::from_entries(std::move(members)));
}

TEST(ValueDestruction, NeedsNoMemoryAtAnyDepthOrWidth) {
    for (Value* value : {new Value(deep_arrays(200'000)), new Value(wide_object(50'000)),
                         new Value(Array{deep_arrays(3), wide_object(3), Value("s")})}) {
        const AllocationsFail failing;
        delete value;
    }
    // Under AddressSanitizer, whatever was not freed is reported as a leak when the program ends.
}

TEST(ValueDestruction, LeavesValuesMovedFromOrDroppedInStepsUsable) {
    Value value = wide_object(100);
    Value moved = std::move(value);
    value = deep_arrays(10);
    EXPECT_EQ(value, deep_arrays(10));
    drop_in_steps(moved);
    EXPECT_TRUE(moved.is_null());
}

} // namespace
} // namespace vok::json
