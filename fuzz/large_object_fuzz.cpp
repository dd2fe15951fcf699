// Fuzzes the sort of an object's entries by key at sizes no JSON text within the fuzzers' length
// limit reaches: the input does not hold the object, it describes it. Its bytes choose how many
// entries (most often around 32, past which objects are sorted by chunks of their keys, around
// 65,536, or 100,000 to 300,000), how their keys are made (a prefix read from the input,
// then decimal or zero-padded numbers, UUID-like hashes, random bytes, bytes at the ends of the
// byte range, keys that are prefixes of one another, keys ending in zero bytes near eight, sixteen
// and twenty-four bytes), in what order they are given, how many keys repeat, and whether the sort
// is stopped after a number of cancellation consultations.
//
// Each entry's value is its position in the input. The object made from the entries must hold
// each key once, in ascending byte order, with the value of the last entry given under it; the
// sort alone must order the entries as a stable sort does, equal keys in their order. A stopped
// sort must end by throwing OperationCancelled, leaving what it leaves safe to read and destroy,
// and the same entries sorted again without a stop must come out as they would have.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "fuzz_choices.h"
#include "json/key_sort.h"
#include "json/value.h"

namespace {

using vok::fuzzing::broken;
using vok::fuzzing::Choices;
using vok::json::Object;
using vok::json::Value;
using Entry = Object::Entry;

// Well past the sizes where the sort's work changes shape, and small enough that the largest
// inputs take a second or two in the sanitized build (more on a busy machine), half of it or more
// in the sorts under test.
constexpr size_t kMostEntries = 300'000;
// A prefix of up to 24 bytes, then up to 64.
constexpr size_t kLongestKey = 88;

enum class KeyShape { Decimal, Padded, Uuid, RandomBytes, Prefixes, TrailingZeros };
enum class Order { AsMade, Ascending, Descending, Shuffled, NearlySorted, Rotated, Dealt };
enum class StopIn { Nowhere, FromEntries, Sort };

struct Description {
    size_t count = 0;
    std::string prefix;
    KeyShape shape = KeyShape::Decimal;
    size_t width = 0;          // Padded: digits; RandomBytes: most bytes
    bool fixed_length = false; // RandomBytes: every key `width` bytes
    std::string_view alphabet; // RandomBytes, Prefixes: empty for any byte
    std::string chain;         // Prefixes: the text every key is a prefix of
    Order order = Order::AsMade;
    size_t disorder = 0; // NearlySorted: swaps; Rotated: the turn; Dealt: runs
    unsigned repeats_percent = 0;
    uint64_t seed = 0;
    StopIn stop_in = StopIn::Nowhere;
    uint32_t stop_at = 0; // the consultation whose check says stop, from 1
};

constexpr std::string_view kEdgeBytes{"a\x00\xff\x01\xfe\x7f\x80", 7};
constexpr std::string_view kZeroAndFF{"\x00\xff", 2};

uint64_t mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

char byte_of(std::string_view alphabet, uint64_t h) {
    return alphabet.empty() ? char(h & 0xff) : alphabet[h % alphabet.size()];
}

size_t choose_count(Choices& in) {
    switch (in.pick(8)) {
    case 0:
        return in.integer<size_t>(65'533, 65'540);
    case 1:
        return in.integer<size_t>(100'000, kMostEntries);
    case 2:
        return in.integer<size_t>(30, 36);
    case 3:
        return in.integer<size_t>(65'537, 70'000);
    case 4:
        return in.integer<size_t>(0, kMostEntries);
    case 5:
        return in.integer<size_t>(0, 2'000);
    case 6:
        return in.integer<size_t>(kMostEntries - 100, kMostEntries);
    default:
        return in.integer<size_t>(0, 40);
    }
}

Description describe(const uint8_t* data, size_t size) {
    Choices in(data, size);
    Description d;
    // Taken from the front of the input, the choices below from its back (FuzzedDataProvider).
    d.prefix = in.raw_text(kLongestKey - 64);
    d.count = choose_count(in);
    d.shape = static_cast<KeyShape>(in.pick(6));
    d.width = in.integer<size_t>(0, 64);
    d.fixed_length = in.chance(50);
    d.alphabet = in.pick_of<std::string_view>({{}, kEdgeBytes, kZeroAndFF, "ab"});
    d.order = static_cast<Order>(in.pick(7));
    d.disorder = in.integer<size_t>(0, 1'000);
    d.repeats_percent = in.pick_of<unsigned>({0, 1, 10, 50, 90, 100});
    d.seed = in.integer<uint64_t>(0, UINT64_MAX);
    for (size_t at = 0; at < 64; ++at)
        d.chain += byte_of(d.alphabet, mix(d.seed + at));
    d.stop_in = static_cast<StopIn>(in.pick(3));
    switch (in.pick(3)) {
    case 0:
        d.stop_at = in.integer<uint32_t>(1, 4);
        break;
    case 1:
        d.stop_at = in.integer<uint32_t>(1, 64);
        break;
    default:
        d.stop_at = in.integer<uint32_t>(1, 8'192);
        break;
    }
    return d;
}

// Writes the key of `id` to `key`, which has room for kLongestKey bytes; returns its size. Not
// traced for the fuzzer: its byte loops run tens of millions of times per input, and what keeps
// an input is what it reaches in the sort.
[[clang::no_sanitize("coverage")]] size_t make_key(const Description& d, uint64_t id, char* key) {
    std::memcpy(key, d.prefix.data(), d.prefix.size());
    size_t size = d.prefix.size();
    const uint64_t h = mix(d.seed ^ mix(id));
    switch (d.shape) {
    case KeyShape::Decimal:
        size = size_t(std::to_chars(key + size, key + kLongestKey, id).ptr - key);
        break;
    case KeyShape::Padded: {
        char digits[20];
        const size_t count = size_t(std::to_chars(digits, std::end(digits), id).ptr - digits);
        for (size_t width = d.width % 21; width > count; --width)
            key[size++] = '0';
        std::memcpy(key + size, digits, count);
        size += count;
        break;
    }
    case KeyShape::Uuid: {
        static constexpr char kHex[] = "0123456789abcdef";
        const uint64_t halves[2] = {h, mix(h)};
        for (int digit = 0; digit < 32; ++digit) {
            if (digit == 8 || digit == 12 || digit == 16 || digit == 20) key[size++] = '-';
            key[size++] = kHex[(halves[digit / 16] >> (4 * (digit % 16))) & 0xf];
        }
        break;
    }
    case KeyShape::RandomBytes: {
        const size_t length = d.fixed_length ? d.width : h % (d.width + 1);
        uint64_t bits = mix(h);
        for (size_t at = 0; at < length; ++at) {
            if (at % 8 == 0) bits = mix(bits + at);
            key[size++] = byte_of(d.alphabet, bits >> (8 * (at % 8)));
        }
        break;
    }
    case KeyShape::Prefixes: {
        const size_t length = h % (d.width + 1);
        std::memcpy(key + size, d.chain.data(), length);
        size += length;
        break;
    }
    case KeyShape::TrailingZeros: {
        // Keys ending where the sort's eight-byte chunks end, or a byte either side, and keys
        // that differ only in how many zero bytes they end with.
        static constexpr size_t kEnds[] = {7, 8, 9, 15, 16, 17, 23, 24, 25};
        const size_t end = kEnds[h % 9];
        if (size < end) {
            for (size_t text = (h >> 8) % (end - size + 1); text > 0; --text)
                key[size++] = "ab"[(h >> (16 + text % 40)) & 1];
            while (size < end)
                key[size++] = '\0';
        } else {
            for (size_t zeros = (h >> 12) % 3; zeros > 0; --zeros)
                key[size++] = '\0';
        }
        break;
    }
    }
    return size;
}

// The keys of the entries, in the order the entries are given. Their bytes lie in one block: a
// string each would be an allocation each, and allocations are most of the time of making
// hundreds of thousands of keys under ASan.
struct Keys {
    std::unique_ptr<char[]> text;
    std::vector<std::string_view> list;
};

Keys make_keys(const Description& d) {
    std::mt19937_64 random(d.seed);
    Keys keys;
    // Left uninitialised: filling tens of megabytes of which only a part is written is a good part
    // of the time of making the keys.
    keys.text.reset(new char[d.count * kLongestKey]);
    std::vector<size_t> ends;
    ends.reserve(d.count);
    uint64_t fresh = 0;
    for (size_t i = 0, end = 0; i < d.count; ++i) {
        const bool repeat = fresh > 0 && random() % 100 < d.repeats_percent;
        end += make_key(d, repeat ? random() % fresh : fresh++, keys.text.get() + end);
        ends.push_back(end);
    }
    std::vector<std::string_view>& list = keys.list;
    list.reserve(d.count);
    for (size_t i = 0, begin = 0; i < d.count; begin = ends[i++])
        list.emplace_back(keys.text.get() + begin, ends[i] - begin);
    if (d.order == Order::AsMade || list.size() < 2) return keys;
    if (d.order == Order::Shuffled) {
        std::shuffle(list.begin(), list.end(), random);
        return keys;
    }
    std::sort(list.begin(), list.end());
    switch (d.order) {
    case Order::Descending:
        std::reverse(list.begin(), list.end());
        break;
    case Order::NearlySorted:
        for (size_t swap = 0; swap < d.disorder; ++swap) {
            const size_t at = random() % list.size();
            const size_t to = std::min(list.size() - 1, at + 1 + random() % 8);
            std::swap(list[at], list[to]);
        }
        break;
    case Order::Rotated:
        // Two ascending runs, the second's keys below the first's.
        std::rotate(list.begin(), list.begin() + std::ptrdiff_t(d.disorder * list.size() / 1'001),
                    list.end());
        break;
    case Order::Dealt: {
        // Ascending runs over the whole range of keys, as many as a few merges take, one after
        // another: the keys dealt out to them in turn.
        const size_t runs = 1 + d.disorder % 160;
        std::vector<std::string_view> dealt;
        dealt.reserve(list.size());
        for (size_t run = 0; run < runs; ++run)
            for (size_t at = run; at < list.size(); at += runs)
                dealt.push_back(list[at]);
        list = std::move(dealt);
        break;
    }
    default:
        break;
    }
    return keys;
}

std::vector<Entry> make_entries(const std::vector<std::string_view>& keys) {
    std::vector<Entry> entries;
    entries.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        entries.emplace_back(std::string(keys[i]), Value::from_u64(i));
    return entries;
}

// Byte order, written out rather than left to std::string's comparison, which the code under
// test uses too.
bool bytes_less(std::string_view a, std::string_view b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    return c != 0 ? c < 0 : a.size() < b.size();
}

// Checks that `entries`, made by make_entries, are ordered as a stable sort by key orders them,
// without sorting them again: with each entry's value its position, that order is the only one in
// which every entry appears once, under its own key, and the entries ascend by (key, position).
// Returns the positions in that order.
std::vector<uint32_t> check_sorted(const std::vector<Entry>& entries,
                                   const std::vector<std::string_view>& keys) {
    if (entries.size() != keys.size()) broken("the sort keeps every entry");
    std::vector<bool> seen(keys.size());
    std::vector<uint32_t> order;
    order.reserve(keys.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Value& value = entries[i].second;
        if (!value.is_number() || !value.as_number().is_u64() ||
            value.as_number().as_u64() >= keys.size())
            broken("the sort keeps every value", entries[i].first);
        const auto position = uint32_t(value.as_number().as_u64());
        if (seen[position]) broken("the sort moves each entry once", entries[i].first);
        seen[position] = true;
        if (entries[i].first != keys[position])
            broken("the sort keeps each key with its value", entries[i].first, keys[position]);
        if (i > 0) {
            const std::string_view key_before = entries[i - 1].first;
            if (bytes_less(entries[i].first, key_before))
                broken("the sort orders keys by their bytes", key_before, entries[i].first);
            if (key_before == entries[i].first && order.back() > position)
                broken("the sort keeps entries of equal keys in their order", key_before);
        }
        order.push_back(position);
    }
    return order;
}

// The last position of each distinct key, found by hashing, for an object made with no sort
// beside it: in time linear in the object's size (a node per key, as a map makes, costs more than
// the sort itself under the sanitizers).
class LastPositions {
public:
    explicit LastPositions(const std::vector<std::string_view>& keys) : keys_(keys) {
        size_t capacity = 16;
        while (capacity < 2 * keys.size())
            capacity *= 2;
        slots_.assign(capacity, kEmpty);
        for (size_t i = 0; i < keys.size(); ++i) {
            uint32_t& slot = slot_of(keys[i]);
            distinct_ += slot == kEmpty;
            slot = uint32_t(i);
        }
    }
    size_t distinct() const { return distinct_; }
    // kEmpty for a key not given.
    uint32_t last(std::string_view key) { return slot_of(key); }

    static constexpr uint32_t kEmpty = UINT32_MAX;

private:
    uint32_t& slot_of(std::string_view key) {
        const size_t mask = slots_.size() - 1;
        const size_t hash = std::hash<std::string_view>{}(key);
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            if (slots_[at] == kEmpty || keys_[slots_[at]] == key) return slots_[at];
        }
    }

    const std::vector<std::string_view>& keys_;
    std::vector<uint32_t> slots_;
    size_t distinct_ = 0;
};

// Checks the object made from the entries of make_entries. The entry that must win for a key is
// the last of its run in `order`, the order check_sorted found right, when there is one (a walk in
// order, cheaper than hashing); otherwise the key's last position.
void check_object(const Object& object, const std::vector<std::string_view>& keys,
                  const std::vector<uint32_t>* order) {
    std::vector<uint32_t> winners;
    std::optional<LastPositions> given;
    if (order) {
        for (size_t i = 0; i < order->size(); ++i)
            if (i + 1 == order->size() || keys[(*order)[i + 1]] != keys[(*order)[i]])
                winners.push_back((*order)[i]);
    } else {
        given.emplace(keys);
    }
    const std::vector<Entry>& entries = object.entries();
    if (entries.size() != (order ? winners.size() : given->distinct()))
        broken("an object holds each key it is given once");
    for (size_t at = 0; at < entries.size(); ++at) {
        if (at > 0 && !bytes_less(entries[at - 1].first, entries[at].first))
            broken("an object's keys ascend strictly", entries[at - 1].first, entries[at].first);
        const uint32_t winner = order ? winners[at] : given->last(entries[at].first);
        if (winner == LastPositions::kEmpty || keys[winner] != entries[at].first)
            broken("an object holds the keys it is given", entries[at].first);
        const Value& value = entries[at].second;
        if (!value.is_number() || !value.as_number().is_u64() ||
            value.as_number().as_u64() != winner)
            broken("of a repeated key the entry given last wins", entries[at].first);
    }
}

struct Stopper {
    uint32_t stop_at;
    uint32_t consulted = 0;
    static bool check(void* context) {
        auto* self = static_cast<Stopper*>(context);
        return ++self->consulted == self->stop_at;
    }
};

volatile uint64_t sink;

// Reads every byte a stopped sort left in the entries: a key or value freed or shared under the
// sort's feet shows as a use after free (or, destroyed, as a double free).
void read_all(const std::vector<Entry>& entries) {
    uint64_t sum = 0;
    for (const Entry& entry : entries) {
        for (char c : entry.first)
            sum += uint8_t(c);
        if (entry.second.is_number()) sum += entry.second.as_number().as_u64();
    }
    sink = sum;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Description d = describe(data, size);
    const Keys made = make_keys(d);
    const std::vector<std::string_view>& keys = made.list;
    bool object_wanted = true;
    bool sort_wanted = true;
    std::optional<std::vector<uint32_t>> order;

    if (d.stop_in != StopIn::Nowhere) {
        std::vector<Entry> entries = make_entries(keys);
        Stopper stopper{d.stop_at};
        // Consulting with no check installed restarts the countdown, so the stop falls at the
        // same poll of this input however the inputs before it left the countdown.
        vok::poll_cancellation_now();
        bool thrown = false;
        std::optional<Object> object;
        {
            const vok::CancellationScope scope(Stopper::check, &stopper);
            try {
                if (d.stop_in == StopIn::FromEntries)
                    object = Object::from_entries(std::move(entries));
                else
                    vok::json::stable_sort_by_key(entries);
            } catch (const vok::OperationCancelled&) {
                thrown = true;
            }
        }
        if (thrown != (stopper.consulted >= d.stop_at))
            broken("a check that says stop stops the sort, and only it");
        if (thrown) {
            read_all(entries);
        } else if (object) {
            // Told to go on at every consultation: as though no check had been asked.
            check_object(*object, keys, nullptr);
        } else {
            check_sorted(entries, keys);
        }
        // After a stop only the call that was stopped runs again, to its end; a call that was not
        // stopped has been checked. Either way the largest inputs stay within about two sorts.
        sort_wanted = thrown && d.stop_in == StopIn::Sort;
        object_wanted = thrown && d.stop_in == StopIn::FromEntries;
    }

    if (sort_wanted) {
        std::vector<Entry> entries = make_entries(keys);
        vok::json::stable_sort_by_key(entries);
        order = check_sorted(entries, keys);
    }
    if (object_wanted)
        check_object(Object::from_entries(make_entries(keys)), keys, order ? &*order : nullptr);
    return 0;
}
