// The module functions format_source and check_format; see formatter_functions.h. Each binds its
// arguments through the binding layer's tables, runs the formatter core and maps a FormatError
// through core_errors.h.
#include "python/formatter_functions.h"

#include "formatter/format_program.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"

namespace vok::python {

namespace {

constexpr Signature kFormatSourceSignature{"format_source",
                                           {{"source"},
                                            {"indent_width", "4"},
                                            {"use_tabs", "False"},
                                            {"preserve_comments", "True"},
                                            {"sort_imports", "True"}}};
constexpr Signature kCheckFormatSignature{
    "check_format", {{"source"}, {"indent_width", "4"}, {"use_tabs", "False"}}};

PyResult<std::string> format_source(Args& args) {
    VOK_ASSIGN(std::string_view source, args.text(0));
    VOK_ASSIGN(std::uint64_t indent_width, args.count_or(1, 4));
    VOK_ASSIGN(bool use_tabs, args.flag_or(2, false));
    VOK_ASSIGN(bool preserve_comments, args.flag_or(3, true));
    VOK_ASSIGN(bool sort_imports, args.flag_or(4, true));
    return core_result(format_program(
        source, FormatConfig{indent_width, use_tabs, preserve_comments, sort_imports}));
}

PyResult<bool> check_format(Args& args) {
    VOK_ASSIGN(std::string_view source, args.text(0));
    VOK_ASSIGN(std::uint64_t indent_width, args.count_or(1, 4));
    VOK_ASSIGN(bool use_tabs, args.flag_or(2, false));
    return core_result(is_formatted(source, indent_width, use_tabs));
}

constexpr const char* kFormatSourceDoc =
    "Format VOK-DSL source code.\n"
    "\n"
    "Args:\n"
    "    source: The VOK-DSL source code to format\n"
    "    indent_width: Number of spaces per indent level (default: 4)\n"
    "    use_tabs: Use tabs instead of spaces for indentation (default: false)\n"
    "    preserve_comments: Preserve comments in output (default: true)\n"
    "    sort_imports: Sort imports alphabetically (default: true)\n"
    "\n"
    "Returns:\n"
    "    The formatted source code\n"
    "\n"
    "Raises:\n"
    "    ValueError: If the source code cannot be parsed\n"
    "\n"
    "Example:\n"
    "    >>> from vok_dsl import format_source\n"
    "    >>> source = 'Entity   \"Customer\"   in   sales'\n"
    "    >>> print(format_source(source))\n"
    "    Entity \"Customer\" in sales\n"
    "    <BLANKLINE>\n";

constexpr const char* kCheckFormatDoc =
    "Check if VOK-DSL source code is already formatted.\n"
    "\n"
    "Args:\n"
    "    source: The VOK-DSL source code to check\n"
    "    indent_width: Number of spaces per indent level (default: 4)\n"
    "    use_tabs: Use tabs instead of spaces for indentation (default: false)\n"
    "\n"
    "Returns:\n"
    "    True if the source is already formatted, False otherwise\n"
    "\n"
    "Raises:\n"
    "    ValueError: If the source code cannot be parsed\n"
    "\n"
    "Example:\n"
    "    >>> from vok_dsl import check_format\n"
    "    >>> check_format('Entity \"Customer\"\\n')\n"
    "    True\n"
    "    >>> check_format('Entity   \"Customer\"\\n')\n"
    "    False\n";

} // namespace

const FunctionRow kFormatSource = function<kFormatSourceSignature, format_source>(kFormatSourceDoc);
const FunctionRow kCheckFormat = function<kCheckFormatSignature, check_format>(kCheckFormatDoc);

} // namespace vok::python
