// An object made from entries in any order: its keys in byte order, the last of equal keys kept,
// whatever the keys share (their first eight bytes, a zero byte, bytes past 0x7F).
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "json/key_sort.h"
#include "json/value.h"

namespace vok::json {
namespace {

std::vector<std::string> awkward_keys() {
    using namespace std::string_literals;
    return {"",
            "a",
            "ab",
            "ab\0"s,
            "ab\0\0"s,
            "ab\x01",
            "abcdefgh",
            "abcdefgh\0"s,
            "abcdefghi",
            "abcdefghj",
            "abcdefgh\xff",
            "\xc3\xa9",
            "\xff",
            "key 10",
            "key 2",
            "key 1234567",
            "key 1234568",
            "prefix__alpha",
            "prefix__beta",
            "prefix__alpha2"};
}

TEST(ObjectOrder, EntriesInAnyOrderGiveByteOrderWithTheLastOfEqualKeysKept) {
    std::mt19937 random(7);
    const std::vector<std::string> keys = awkward_keys();
    for (size_t count : {size_t{5}, size_t{33}, size_t{1000}}) {
        std::vector<Object::Entry> entries;
        std::map<std::string, uint64_t> expected;
        for (size_t i = 0; i < count; ++i) {
            std::string key = keys[random() % keys.size()];
            if (random() % 2) key += std::to_string(random() % (count / 4 + 1));
            entries.emplace_back(key, Value::from_u64(i));
            expected[key] = i;
        }
        const Object object = Object::from_entries(std::move(entries));
        ASSERT_EQ(object.size(), expected.size()) << count;
        auto want = expected.begin();
        for (const Object::Entry& entry : object) {
            EXPECT_EQ(entry.first, want->first) << count;
            EXPECT_EQ(entry.second, Value::from_u64(want->second)) << count << " " << entry.first;
            ++want;
        }
    }
}

// Keys that share their first bytes (prefixed ids, URLs, words of one alphabet), that share
// nothing (UUIDs, digests, keys of any length), or that repeat; given in random order, in counting
// order, in reverse order of the keys, in their order and in their order turned, at sizes around
// the small objects' sort and around the run counts at which chunks are merged rather than
// sorted: the entries come out as the library's stable sort orders them, equal keys in the order
// they were given.
TEST(ObjectOrder, LargeObjectsSortAsTheLibrarysStableSort) {
    const auto hex = [](uint64_t bits, size_t digits) {
        std::string text;
        for (size_t i = 0; i < digits;
             ++i, bits = bits * 6364136223846793005u + 1442695040888963407u)
            text += "0123456789abcdef"[bits >> 60];
        return text;
    };
    const std::vector<std::pair<const char*, std::function<std::string(uint32_t)>>> shapes = {
        {"prefixed", [](uint32_t n) { return "customer_id_" + std::to_string(n); }},
        {"url", [](uint32_t n) { return "https://example.com/items/" + std::to_string(n); }},
        {"cyrillic", [](uint32_t n) { return "\u043a\u043b\u044e\u0447 " + std::to_string(n); }},
        {"digits", [](uint32_t n) { return std::to_string(n); }},
        {"zero-padded",
         [](uint32_t n) {
             return std::string(12 - std::to_string(n).size(), '0') + std::to_string(n);
         }},
        {"uuid",
         [&hex](uint32_t n) {
             const std::string h = hex(n * 0x9E3779B97F4A7C15u + 1, 32);
             return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" +
                    h.substr(16, 4) + "-" + h.substr(20);
         }},
        {"digest", [&hex](uint32_t n) { return hex(n * 0xD1B54A32D192ED03u + 7, 40); }},
        {"any length", [&hex](uint32_t n) { return hex(n * 0x9E3779B97F4A7C15u, 1 + n % 64); }},
        {"one key", [](uint32_t) { return std::string("same"); }},
        // Equal runs of bytes that end, or go on with zero bytes, at and around eight and
        // sixteen bytes.
        {"zero bytes",
         [](uint32_t n) {
             std::string key(8 * (n % 3) + n % 2, 'a');
             key.append(n % 5, '\0');
             return key + std::to_string(n % 4);
         }},
    };
    // Counting order and their order turned by a third give a few runs in order, the longer
    // run first or last.
    enum class Order { Random, Counting, Reverse, Sorted, Turned };
    std::mt19937 random(11);
    for (const auto& [shape, key_of] : shapes) {
        for (Order order :
             {Order::Random, Order::Counting, Order::Reverse, Order::Sorted, Order::Turned}) {
            for (size_t count :
                 {33, 34, 35, 64, 65, 127, 128, 129, 1000, 4095, 4097, 10007, 65537, 150001}) {
                // Random order repeats keys; the others give each key twice in a row or apart.
                std::vector<std::string> keys;
                for (size_t i = 0; i < count; ++i) {
                    keys.push_back(order == Order::Random
                                       ? key_of(uint32_t(random() % (count / 2 + 1)))
                                       : key_of(uint32_t(i % 3 == 2 ? i - 1 : i)));
                }
                if (order == Order::Sorted || order == Order::Reverse || order == Order::Turned) {
                    std::stable_sort(keys.begin(), keys.end());
                    if (order == Order::Reverse) std::reverse(keys.begin(), keys.end());
                    if (order == Order::Turned)
                        std::rotate(keys.begin(), keys.begin() + std::ptrdiff_t(count / 3),
                                    keys.end());
                }
                std::vector<Object::Entry> entries;
                std::vector<std::pair<std::string, uint64_t>> expected;
                for (size_t i = 0; i < count; ++i) {
                    entries.emplace_back(keys[i], Value::from_u64(i));
                    expected.emplace_back(keys[i], i);
                }
                std::stable_sort(expected.begin(), expected.end(),
                                 [](const auto& a, const auto& b) { return a.first < b.first; });
                stable_sort_by_key(entries);
                ASSERT_EQ(entries.size(), count);
                for (size_t i = 0; i < count; ++i) {
                    ASSERT_EQ(entries[i].first, expected[i].first)
                        << shape << " " << int(order) << " " << count << " " << i;
                    ASSERT_EQ(entries[i].second, Value::from_u64(expected[i].second))
                        << shape << " " << int(order) << " " << count << " " << i;
                }
            }
        }
    }
}

// The sanitizer marks a freed block in its shadow memory in one step, an eighth of the block.
#if !defined(__SANITIZE_ADDRESS__)
long thread_minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

bool note_faults(void* context) {
    static_cast<std::vector<long>*>(context)->push_back(thread_minor_faults());
    return false;
}

TEST(ObjectOrder, ALargeObjectIsSortedWritingLittleFreshMemoryBetweenConsultations) {
    constexpr size_t kCount = 600'000;
    std::vector<Object::Entry> entries;
    entries.reserve(kCount);
    for (size_t i = kCount; i-- > 0;)
        entries.emplace_back("key " + std::to_string(1'000'000 + i), Value::from_u64(i));
    std::vector<long> faults{thread_minor_faults()};
    Object object;
    {
        CancellationScope scope(note_faults, &faults);
        object = Object::from_entries(std::move(entries));
    }
    faults.push_back(thread_minor_faults());
    long most = 0;
    for (size_t i = 1; i < faults.size(); ++i)
        most = std::max(most, faults[i] - faults[i - 1]);
    // 2 MB; the sort's buffer alone fills 21.6 MB.
    EXPECT_LE(most, 512);
    ASSERT_EQ(object.size(), kCount);
    EXPECT_EQ(object.begin()->first, "key 1000000");
    EXPECT_EQ(object.begin()->second, Value::from_u64(0));
}
#endif

} // namespace
} // namespace vok::json
