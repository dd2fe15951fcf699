// Profiles: the named flavours of the language that a file may ask for in its header.
//
// The table is fixed and built in; a file naming a profile outside it is refused by the lowering,
// whose message lists the table's names. A profile carries a description and a set of feature
// names that nothing else reads yet: naming a known profile enables and disables nothing.
//
// The table is built once, on first use, and never changes afterwards; the references handed out
// stay valid for the life of the process.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vok {

struct Profile {
    std::string name;
    std::string description;
    std::set<std::string> features; // a set: duplicates collapse, no order is implied

    static Profile make(std::string name, std::string description,
                        const std::vector<std::string>& features);
};

// The built-in rows, in table order: default, cloud, data.
std::vector<Profile> build_default_profiles();

// The process-wide table, built on the first call (safe when several callers arrive together).
const std::vector<Profile>& profile_table();

// The first row whose name equals `name` byte for byte; nullptr when there is none.
const Profile* find_profile(std::string_view name);

// The table's names in table order, joined by ", ".
std::string available_profile_names();

} // namespace vok
