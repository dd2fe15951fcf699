// The built-in profile table and its lookups; see profile.h.
#include "parser/profile.h"

#include <utility>

namespace vok {

Profile Profile::make(std::string name, std::string description,
                      const std::vector<std::string>& features) {
    return Profile{std::move(name), std::move(description),
                   std::set<std::string>(features.begin(), features.end())};
}

std::vector<Profile> build_default_profiles() {
    std::vector<Profile> profiles;
    profiles.push_back(Profile::make("default", "Standard VOK DSL profile with all core features",
                                     {"core", "cloud", "data"}));
    profiles.push_back(Profile::make("cloud", "Cloud infrastructure modeling", {"core", "cloud"}));
    profiles.push_back(Profile::make("data", "Data modeling and governance", {"core", "data"}));
    return profiles;
}

const std::vector<Profile>& profile_table() {
    // Never destroyed, so a lowering that runs during process shutdown still finds it.
    static const std::vector<Profile>* table = new std::vector<Profile>(build_default_profiles());
    return *table;
}

const Profile* find_profile(std::string_view name) {
    for (const Profile& profile : profile_table()) {
        if (profile.name == name) return &profile;
    }
    return nullptr;
}

std::string available_profile_names() {
    std::string names;
    for (const Profile& profile : profile_table()) {
        if (!names.empty()) names += ", ";
        names += profile.name;
    }
    return names;
}

} // namespace vok
