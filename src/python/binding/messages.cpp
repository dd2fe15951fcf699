// Assembly of the binding layer's messages; see messages.h.
#include "python/binding/messages.h"

namespace vok::python::messages {

std::string out_of_memory(std::string_view operation) {
    if (operation.empty()) return "Out of memory";
    return "Out of memory in " + std::string(operation);
}

std::string method_of(std::string_view class_name) {
    return "a method of " + std::string(class_name);
}

namespace {

std::string join(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts)
        text += part;
    return text;
}

} // namespace

std::string downcast(std::string_view type_name, std::string_view target) {
    return join({"'", type_name, "' object cannot be converted to '", target, "'"});
}

std::string argument_error(std::string_view parameter, std::string_view message) {
    return join({"argument '", parameter, "': ", message});
}

std::string too_many_positional(std::string_view display, std::size_t required, std::size_t total,
                                std::size_t given) {
    // "positional arguments" stays plural whatever the count.
    std::string takes =
        required == total
            ? std::to_string(total)
            : join({"from ", std::to_string(required), " to ", std::to_string(total)});
    return join({display, "() takes ", takes, " positional arguments but ", std::to_string(given),
                 given == 1 ? " was" : " were", " given"});
}

std::string unexpected_keyword(std::string_view display, std::string_view keyword) {
    return join({display, "() got an unexpected keyword argument '", keyword, "'"});
}

std::string multiple_values(std::string_view display, std::string_view keyword) {
    return join({display, "() got multiple values for argument '", keyword, "'"});
}

std::string missing_required(std::string_view display, std::span<const std::string_view> names) {
    std::string text =
        join({display, "() missing ", std::to_string(names.size()), " required positional ",
              names.size() == 1 ? "argument" : "arguments", ": "});
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) text += ',';
            text += i + 1 == names.size() ? " and " : " ";
        }
        text += join({"'", names[i], "'"});
    }
    return text;
}

std::string bool_without_conversion(std::string_view type_text) {
    return join({"object of type '", type_text, "' does not define a '__bool__' conversion"});
}

std::string no_constructor(std::string_view class_name) {
    return join({"No constructor defined for ", class_name});
}

std::string class_init_failed(std::string_view class_name) {
    return join({"An error occurred while initializing class ", class_name});
}

std::string attribute_not_found(std::string_view key) {
    return join({"Attribute '", key, "' not found"});
}

std::string field_not_found(std::string_view key) {
    return join({"Field '", key, "' not found"});
}

std::string unsupported_json_type(std::string_view type_name) {
    return join({"'", type_name,
                 "' object cannot be converted to JSON (expected None, bool, int, float, str, a "
                 "sequence, a set, a frozenset or a mapping with str keys)"});
}

std::string json_key_not_text(std::string_view type_name) {
    return join({"dict keys must be str to be converted to JSON, not '", type_name, "'"});
}

std::string json_item_not_pair(std::string_view type_name) {
    return join({"mapping items must be (key, value) pairs to be converted to JSON, not '",
                 type_name, "'"});
}

std::string json_item_not_pair_tuple(std::size_t size) {
    const std::string count = std::to_string(size);
    return join(
        {"mapping items must be (key, value) pairs to be converted to JSON, not a tuple of ", count,
         size == 1 ? " item" : " items"});
}

std::string unprintable(std::string_view type_name) {
    return join({"<unprintable ", type_name, " object>"});
}

} // namespace vok::python::messages
