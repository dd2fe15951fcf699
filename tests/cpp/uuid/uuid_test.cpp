// Uuid: name-based and random generation, the text form, and the parser's accepted forms and
// error descriptions. Expected v5 ids were computed with Python's uuid.uuid5(NAMESPACE_DNS, ...).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

#include "uuid/uuid.h"

namespace vok {
namespace {

TEST(Uuid, V5MatchesRfc4122) {
    const struct {
        const char* name;
        const char* id;
    } cases[] = {{"default::Warehouse", "07342664-9f2f-5afc-8222-ce5de9c154bf"},
                 {"default::warehouse", "b0daca68-003a-550e-9957-3cadb8eabace"},
                 {"Default::Warehouse", "1f6ad161-2a23-5330-b84a-bfc80485c526"},
                 {"shop::Order:n1", "9de77dca-8713-5cd5-84a8-c49e8a0d0e7c"},
                 {"", "4ebd0208-8328-5d69-8c44-ec50939c0967"},
                 {"\xC3\xBCn\xC3\xAF"
                  "code::\xE5\x90\x8D\xE5\x89\x8D",
                  "ee4a4f67-f3c8-5397-8b54-268effba4f95"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Uuid::new_v5(Uuid::namespace_dns(), c.name).to_string(), c.id) << c.name;
    }
    Uuid url_namespace = *Uuid::parse("6ba7b811-9dad-11d1-80b4-00c04fd430c8");
    EXPECT_EQ(Uuid::new_v5(url_namespace, "https://example.com").to_string(),
              "4fd35a71-71ef-5a55-a9d9-aa75c889a6d0");
    EXPECT_EQ(Uuid::nil().to_string(), "00000000-0000-0000-0000-000000000000");
}

TEST(Uuid, V4IsRandomWithVersionAndVariantBits) {
    std::set<Uuid> seen;
    for (int i = 0; i < 64; ++i) {
        Uuid id = Uuid::new_v4();
        EXPECT_EQ(id.bytes[6] >> 4, 4);
        EXPECT_EQ(id.bytes[8] >> 6, 2);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 64u);
}

// Random ids are drawn from a per-thread pool of random bytes: ids stay distinct across refills
// of the pool, across threads, and between a forked child and its parent, which must not share
// the rest of a pool.
TEST(Uuid, V4StaysUniqueAcrossPoolRefillsThreadsAndForks) {
    std::vector<std::vector<Uuid>> drawn(4);
    std::vector<std::thread> threads;
    for (auto& ids : drawn) {
        threads.emplace_back([&ids] {
            for (int i = 0; i < 1000; ++i) // about four pools per thread
                ids.push_back(Uuid::new_v4());
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::set<Uuid> seen;
    for (const auto& ids : drawn) {
        for (const Uuid& id : ids) {
            EXPECT_EQ(id.bytes[6] >> 4, 4);
            EXPECT_EQ(id.bytes[8] >> 6, 2);
            seen.insert(id);
        }
    }
    EXPECT_EQ(seen.size(), 4000u);

    (void)Uuid::new_v4(); // this thread's pool now holds unused ids
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const Uuid id = Uuid::new_v4();
        _exit(write(pipe_ends[1], id.bytes.data(), id.bytes.size()) == 16 ? 0 : 1);
    }
    Uuid from_child;
    ASSERT_EQ(read(pipe_ends[0], from_child.bytes.data(), 16), 16);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    EXPECT_NE(from_child, Uuid::new_v4());
}

TEST(Uuid, ParsesEveryAcceptedForm) {
    for (const char* text :
         {"67e55044-10b1-426f-9247-bb680e5fe0c8", "67E55044-10B1-426F-9247-BB680E5FE0C8",
          "67e5504410b1426f9247bb680e5fe0c8", "{67e55044-10b1-426f-9247-bb680e5fe0c8}",
          "urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0c8"}) {
        auto parsed = Uuid::parse(text);
        ASSERT_TRUE(parsed.ok()) << text << ": " << parsed.error();
        EXPECT_EQ(parsed->to_string(), "67e55044-10b1-426f-9247-bb680e5fe0c8") << text;
    }
}

#define BAD_CHAR(c, at)                                                                            \
    "invalid character: expected an optional prefix of `urn:uuid:` followed by [0-9a-fA-F-], "     \
    "found `" c "` at " at
#define GROUP(g, expected, found)                                                                  \
    "invalid group length in group " g ": expected " expected ", found " found

TEST(Uuid, ParseErrorsDescribeTheFirstProblem) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"1234", "invalid length: expected length 32 for simple format, found 4"},
        {"67e5504410b1426f9247bb680e5fe0c88",
         "invalid length: expected length 32 for simple format, found 33"},
        {"67e55044-10b1-426f-9247-bb680e5fe0cg", BAD_CHAR("g", "36")},
        {"{67e55044-10b1-426f-9247-bb680e5fe0cX}", BAD_CHAR("X", "37")},
        {"urn:uuid:67e55044-10b1-426f-9247-bb680e5fe0cZ", BAD_CHAR("Z", "45")},
        {"URN:UUID:67e55044-10b1-426f-9247-bb680e5fe0c8", BAD_CHAR("U", "1")},
        {"67e55044-10b1-426f-9247-bb680e5fe0\xC3\xA9", BAD_CHAR("\xC3\xA9", "35")},
        {"67e55044-10b1-426f-9247", "invalid group count: expected 5, found 4"},
        {"67e55044-10b1-426f-9247-bb68-0e5fe0c8", "invalid group count: expected 5, found 6"},
        {"{67e5504410b1426f9247bb680e5fe0c8}", "invalid group count: expected 5, found 1"},
        {"urn:uuid:67e5504410b1426f9247bb680e5fe0c8", "invalid group count: expected 5, found 1"},
        {"67e5504-410b1-426f-9247-bb680e5fe0c8", GROUP("0", "8", "7")},
        {"67e55044-10b-1426f-9247-bb680e5fe0c8", GROUP("1", "4", "3")},
        {"67e55044-10b1-426f-9247-bb680e5fe0c", GROUP("4", "12", "11")},
        // The last group is measured from the whole input, braces included.
        {"{67e55044-10b1-426f-9247-bb680e5fe0c}", GROUP("4", "12", "13")},
        {"67e55044-10b1-426f-9247-bb680e5fe0\xFF", "non-UTF8 input"},
        {"\xED\xA0\x80", "non-UTF8 input"},
    };
    for (const auto& c : cases) {
        auto parsed = Uuid::parse(c.text);
        EXPECT_EQ(parsed.ok() ? "parsed" : parsed.error(), c.message) << c.text;
    }
}

TEST(Uuid, OrdersByBytesAndHashes) {
    Uuid low = *Uuid::parse("00000000-0000-0000-0000-000000000001");
    Uuid high = *Uuid::parse("01000000-0000-0000-0000-000000000000");
    EXPECT_LT(low, high);
    std::unordered_set<Uuid> ids{low, high, low};
    EXPECT_EQ(ids.size(), 2u);
}

} // namespace
} // namespace vok
