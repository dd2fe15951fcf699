// ast_difference: the formatter's read-back tests compare the syntax trees of two sources.
//
// ast_difference(first, second, ignore_import_order=True) parses both texts and returns None when
// their trees are equal apart from declaration positions (and, if asked, import order), else a
// text naming the first difference. A text that does not parse raises ValueError.
#include <Python.h>

#include <optional>
#include <string>

#include "../cpp/formatter/ast_equality.h"
#include "hook_functions.h"
#include "parser/parse_source.h"
#include "python/binding/binding.h"

namespace hooks {

namespace {

using namespace vok::python;

constexpr Signature kAstDifference{"ast_difference",
                                   {{"first"}, {"second"}, {"ignore_import_order", "True"}}};

PyResult<std::optional<std::string>> ast_difference(Args& args) {
    VOK_ASSIGN(std::string_view first, args.text(0));
    VOK_ASSIGN(std::string_view second, args.text(1));
    VOK_ASSIGN(bool ignore_import_order, args.flag_or(2, true));
    auto a = vok::parse_source(first);
    if (!a.ok()) return vok::Err(value_error(messages::prefix::kParse, a.error().to_string()));
    auto b = vok::parse_source(second);
    if (!b.ok()) return vok::Err(value_error(messages::prefix::kParse, b.error().to_string()));
    return vok::testing::ast_difference(*a, *b, ignore_import_order);
}

const FunctionRow kAstDifferenceRow = function<kAstDifference, ast_difference>();

const HookFunctions kRegistered{&kAstDifferenceRow};

} // namespace

} // namespace hooks
