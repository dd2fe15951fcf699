// Cancellation of reading, writing and dropping: every way through the reader, the writers and
// drop_in_steps polls per value, so a check that asks to stop ends each of them on a long document,
// and the same work without a check runs to its end.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "json/text_deserializer.h"
#include "json/value_deserializer.h"
#include "json/writer.h"

namespace vok::json {
namespace {

// Far more elements than one poll interval, so the check is consulted whatever the countdown
// stood at when the work began.
constexpr size_t kElements = 4 * kCancellationPollInterval;

// The inputs are built on first use, which is each work's run without a check.
const std::string& long_array_text() {
    static const std::string text = [] {
        std::string t = "[";
        for (size_t i = 0; i < kElements; ++i)
            t += (i ? ",{\"k\":" : "{\"k\":") + std::to_string(i) + "}";
        return t + "]";
    }();
    return text;
}

const Value& long_value() {
    static const Value value = [] {
        Array items(kElements, Value(Object::from_entries({{"k", Value::from_f64(1.5)}})));
        return Value(std::move(items));
    }();
    return value;
}

Status skip_members(Deserializer& de) {
    return read_seq(de, "a sequence", [](Deserializer& element) { return element.skip_any(); });
}

Status read_members(Deserializer& de) {
    return read_seq(de, "a sequence", [](Deserializer& element) -> Status {
        VOK_TRY(element.begin_map("a map"));
        Status visited = [&]() -> Status {
            while (true) {
                VOK_ASSIGN(auto key, element.next_key());
                if (!key) return Ok();
                VOK_TRY(element.skip_any());
            }
        }();
        return element.end(Form::Map, std::move(visited));
    });
}

struct Work {
    const char* name;
    std::function<void()> run;
};

class JsonCancellation : public testing::TestWithParam<Work> {};

TEST_P(JsonCancellation, StopsWhenAskedAndRunsToTheEndOtherwise) {
    GetParam().run();
    const CancellationScope stop([](void*) { return true; }, nullptr);
    EXPECT_THROW(GetParam().run(), OperationCancelled);
}

INSTANTIATE_TEST_SUITE_P(
    ReadingAndWriting, JsonCancellation,
    testing::Values(Work{"parse", [] { EXPECT_TRUE(parse(long_array_text()).ok()); }},
                    Work{"sort_object_entries",
                         [] {
                             std::vector<Object::Entry> entries;
                             for (size_t i = kElements; i > 0; --i)
                                 entries.emplace_back(std::to_string(i), Value());
                             EXPECT_EQ(Object::from_entries(std::move(entries)).size(), kElements);
                         }},
                    Work{"skip",
                         [] {
                             TextDeserializer de(long_array_text());
                             EXPECT_TRUE(de.skip_any().ok());
                         }},
                    Work{"typed_text",
                         [] {
                             TextDeserializer de(long_array_text());
                             EXPECT_TRUE(read_members(de).ok());
                         }},
                    Work{"typed_value",
                         [] {
                             const Value value = long_value();
                             ValueDeserializer de(value);
                             EXPECT_TRUE(skip_members(de).ok());
                         }},
                    Work{"compact", [] { EXPECT_FALSE(to_compact_string(long_value()).empty()); }},
                    Work{"pretty", [] { EXPECT_FALSE(to_pretty_string(long_value()).empty()); }},
                    Work{"drop_in_steps",
                         [] {
                             Value value = long_value();
                             drop_in_steps(value);
                             EXPECT_TRUE(value.is_null());
                         }},
                    Work{"writer",
                         [] {
                             std::string out;
                             Writer w(out);
                             w.begin_array();
                             for (size_t i = 0; i < kElements; ++i)
                                 w.u64_value(i);
                             w.end_array();
                         }}),
    [](const testing::TestParamInfo<Work>& info) { return std::string(info.param.name); });

} // namespace
} // namespace vok::json
