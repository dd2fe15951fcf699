// Text signatures; see signature.h.
#include "python/binding/signature.h"

namespace vok::python {

std::string text_signature(const Signature& signature, Receiver receiver, std::string_view name) {
    std::string text(name.empty() ? signature.python_name() : name);
    text += '(';
    bool first = true;
    auto separate = [&] {
        if (!first) text += ", ";
        first = false;
    };
    if (receiver == Receiver::Self) {
        separate();
        text += "$self";
    }
    for (std::size_t i = 0; i < signature.size(); ++i) {
        separate();
        text += signature.params[i].name;
        if (signature.params[i].default_text != nullptr) {
            text += '=';
            text += signature.params[i].default_text;
        }
    }
    text += ')';
    return text;
}

std::string internal_doc(std::string_view text_signature, const char* doc) {
    std::string text(text_signature);
    text += "\n--\n\n";
    if (doc != nullptr) text += doc;
    return text;
}

} // namespace vok::python
