// Helpers shared by the formatter tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "formatter/ast_equality.h"
#include "formatter/format_program.h"
#include "parser/parse_source.h"

namespace vok::testing {

// The formatted text; a failure is reported and gives "<error: ...>".
inline std::string formatted(std::string_view source, const FormatConfig& config = {}) {
    auto result = format_program(source, config);
    EXPECT_TRUE(result.ok()) << result.error().to_string() << "\nsource:\n" << source;
    return result.ok() ? *result : "<error: " + result.error().to_string() + ">";
}

// The laws every formatted text obeys: it parses to the tree of its source (positions, comments
// and, when sorted, import order aside), formatting it again changes nothing, and it passes the
// format check.
inline void expect_reads_back(std::string_view source, const FormatConfig& config = {}) {
    SCOPED_TRACE(std::string("source:\n") + std::string(source));
    auto original = parse_source(source);
    ASSERT_TRUE(original.ok()) << original.error().to_string();
    std::string once = formatted(source, config);
    SCOPED_TRACE("formatted:\n" + once);
    auto reread = parse_source(once);
    ASSERT_TRUE(reread.ok()) << reread.error().to_string();
    auto difference = ast_difference(*original, *reread, config.sort_imports);
    EXPECT_FALSE(difference.has_value()) << *difference;
    EXPECT_EQ(formatted(once, config), once);
    if (config.preserve_comments && config.sort_imports) {
        auto check = is_formatted(once, config.indent_width, config.use_tabs);
        ASSERT_TRUE(check.ok());
        EXPECT_TRUE(*check);
    }
}

} // namespace vok::testing
