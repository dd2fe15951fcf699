// Argument accessors; see args.h.
#include "python/binding/args.h"

#include "common/invariant.h"
#include "python/binding/long_texts.h"

namespace vok::python {

PyObject* Args::present(std::size_t i) const {
    VOK_INVARIANT(i < signature_.size(), "argument index beyond the signature");
    VOK_INVARIANT(slots_[i] != nullptr, "optional argument read as if it were required");
    return slots_[i];
}

namespace {

// Characters from which a text argument that is not ASCII is encoded in pieces: CPython's one
// call writes at most 4 MB below it.
constexpr Py_ssize_t kPolledTextCharacters = Py_ssize_t{1} << 20;

} // namespace

PyResult<std::string_view> Args::text(std::size_t i) const {
    PyObject* object = present(i);
    // A str not yet ready (made by the legacy API) is left to CPython, which readies it.
    if (PyUnicode_Check(object) && PyUnicode_IS_READY(object) &&
        PyUnicode_GET_LENGTH(object) >= kPolledTextCharacters) {
        std::string& encoded = encoded_texts_.emplace_front();
        auto in_pieces = append_utf8_in_pieces(object, encoded);
        if (!in_pieces.ok()) {
            encoded_texts_.pop_front();
            return named(i, PyResult<std::string_view>(Err(std::move(in_pieces).error())));
        }
        if (*in_pieces) return std::string_view(encoded);
        // ASCII, or with its UTF-8 form attached already: CPython's conversion copies nothing.
        encoded_texts_.pop_front();
    }
    return named(i, text_from(object));
}

PyResult<std::string> Args::owned_text(std::size_t i) const {
    VOK_ASSIGN(std::string_view view, text(i));
    return std::string(view);
}

PyResult<std::optional<std::string_view>> Args::optional_text(std::size_t i) const {
    if (!given_not_none(i)) return std::optional<std::string_view>();
    VOK_ASSIGN(std::string_view view, text(i));
    return std::optional<std::string_view>(view);
}

PyResult<std::string_view> Args::text_or(std::size_t i, std::string_view absent) const {
    if (!given(i)) return absent;
    return text(i);
}

PyResult<bool> Args::flag(std::size_t i) const {
    return named(i, flag_from(present(i)));
}

PyResult<bool> Args::flag_or(std::size_t i, bool absent) const {
    if (!given(i)) return absent;
    return flag(i);
}

PyResult<std::optional<bool>> Args::optional_flag(std::size_t i) const {
    if (!given_not_none(i)) return std::optional<bool>();
    VOK_ASSIGN(bool value, flag(i));
    return std::optional<bool>(value);
}

PyResult<double> Args::number(std::size_t i) const {
    return named(i, number_from(present(i)));
}

PyResult<std::uint64_t> Args::count(std::size_t i) const {
    return named(i, count_from(present(i)));
}

PyResult<std::uint64_t> Args::count_or(std::size_t i, std::uint64_t absent) const {
    if (!given(i)) return absent;
    return count(i);
}

PyResult<std::uint8_t> Args::member(std::size_t i, const ClassSpec& enumeration) const {
    return named(i, member_index(present(i), enumeration));
}

} // namespace vok::python
