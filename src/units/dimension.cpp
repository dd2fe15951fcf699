#include "units/dimension.h"

#include <array>
#include <utility>

namespace vok {

namespace {

// Built-in dimensions in kind order; the parse words are the lower-cased names.
constexpr std::array<std::string_view, 7> kBuiltinNames = {
    "Mass", "Length", "Volume", "Currency", "Time", "Temperature", "Count"};
constexpr std::array<std::string_view, 7> kBuiltinWords = {
    "mass", "length", "volume", "currency", "time", "temperature", "count"};

} // namespace

Dimension Dimension::custom(std::string text) {
    Dimension d(DimensionKind::Custom);
    d.custom_ = std::move(text);
    return d;
}

Dimension Dimension::parse(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (size_t i = 0; i < kBuiltinWords.size(); ++i) {
        if (lowered == kBuiltinWords[i]) return Dimension(static_cast<DimensionKind>(i));
    }
    return custom(std::move(lowered));
}

std::string Dimension::to_string() const {
    if (kind_ == DimensionKind::Custom) return custom_;
    return std::string(kBuiltinNames[static_cast<size_t>(kind_)]);
}

} // namespace vok
