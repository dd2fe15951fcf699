// Argument accessors; see args.h.
#include "python/binding/args.h"

#include "common/invariant.h"

namespace vok::python {

PyObject* Args::present(std::size_t i) const {
    VOK_INVARIANT(i < signature_.size(), "argument index beyond the signature");
    VOK_INVARIANT(slots_[i] != nullptr, "optional argument read as if it were required");
    return slots_[i];
}

PyResult<std::string_view> Args::text(std::size_t i) const {
    return named(i, text_from(present(i)));
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
