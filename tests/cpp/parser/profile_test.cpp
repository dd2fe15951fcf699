// Profiles: the built-in table and exact-name lookup.
#include <gtest/gtest.h>

#include "parser/profile.h"

namespace vok {
namespace {

TEST(Profile, TableRowsInOrder) {
    const auto& table = profile_table();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].name, "default");
    EXPECT_EQ(table[0].description, "Standard VOK DSL profile with all core features");
    EXPECT_EQ(table[0].features, (std::set<std::string>{"core", "cloud", "data"}));
    EXPECT_EQ(table[1].name, "cloud");
    EXPECT_EQ(table[1].description, "Cloud infrastructure modeling");
    EXPECT_EQ(table[1].features, (std::set<std::string>{"core", "cloud"}));
    EXPECT_EQ(table[2].name, "data");
    EXPECT_EQ(table[2].description, "Data modeling and governance");
    EXPECT_EQ(table[2].features, (std::set<std::string>{"core", "data"}));
    // Built once: every call sees the same rows.
    EXPECT_EQ(&profile_table(), &table);
    EXPECT_EQ(available_profile_names(), "default, cloud, data");
}

TEST(Profile, LookupIsExact) {
    for (const char* name : {"default", "cloud", "data"}) {
        const Profile* found = find_profile(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(found->name, name);
    }
    for (const char* name : {"Default", "CLOUD", "data ", " data", "", "cloudy"}) {
        EXPECT_EQ(find_profile(name), nullptr) << "'" << name << "'";
    }
}

TEST(Profile, FeaturesCollapseDuplicates) {
    Profile profile = Profile::make("p", "d", {"b", "a", "b"});
    EXPECT_EQ(profile.features, (std::set<std::string>{"a", "b"}));
}

} // namespace
} // namespace vok
