// Parameter descriptions of Python callables.
//
// Every method, static method, constructor and module function that takes arguments declares one
// constant Signature: its display name and its parameters in order, each with the default that its
// text signature shows (none for a required parameter). The same description drives argument
// binding (bind.h) and writes the text signature into the docstring, so the two cannot disagree.
// Display names are "Class.method" for methods and static methods, "Class.__new__" for
// constructors and the bare name for module functions; the Python-visible name is the part after
// the last dot.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vok::python {

inline constexpr std::size_t kMaxParams = 8;

struct Param {
    const char* name = nullptr;
    // The default as the text signature shows it ("None", "4", "False", "\"[]\""); null for a
    // required parameter.
    const char* default_text = nullptr;
};

struct Signature {
    const char* display_name;
    Param params[kMaxParams] = {};

    constexpr std::size_t size() const {
        std::size_t count = 0;
        while (count < kMaxParams && params[count].name != nullptr)
            ++count;
        return count;
    }
    // Required parameters are the leading ones without a default.
    constexpr std::size_t required() const {
        std::size_t count = 0;
        while (count < size() && params[count].default_text == nullptr)
            ++count;
        return count;
    }
    // No required parameter may follow one with a default.
    constexpr bool well_formed() const {
        for (std::size_t i = required(); i < size(); ++i) {
            if (params[i].default_text == nullptr) return false;
        }
        return true;
    }
    // The name Python sees: the part of the display name after the last dot.
    constexpr std::string_view python_name() const {
        std::string_view name(display_name);
        std::size_t dot = name.rfind('.');
        return dot == std::string_view::npos ? name : name.substr(dot + 1);
    }
};

// One bound call: for each parameter the argument object (borrowed from the caller for the
// duration of the call), or null when it was not given.
using BoundSlots = std::array<PyObject*, kMaxParams>;

enum class Receiver { None, Self };

// "name(a, b=None)" for a callable, with "$self, " first for instance methods; `name` overrides the
// signature's Python name (a class's constructor signature is written under the class name).
std::string text_signature(const Signature& signature, Receiver receiver,
                           std::string_view name = {});

// A docstring in CPython's internal form: the text signature, a line "--", an empty line and the
// documentation text (which may be empty).
std::string internal_doc(std::string_view text_signature, const char* doc);

} // namespace vok::python
