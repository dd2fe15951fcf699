// Dimension: what a unit measures (mass, length, ...), the thing that decides which units convert.
//
// Seven dimensions are built in; any other word a model declares becomes a custom dimension that
// carries its own (lower-cased) text. Dimensions are compared and hashed as values because the unit
// registry keys each dimension's base unit by them. Parsing never fails: an unknown word is simply
// a custom dimension, so declarations can introduce new dimensions without a schema change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vok {

// The built-in kinds (rows in dimension_kind.def), then Custom.
enum class DimensionKind : uint8_t {
#define VOK_BUILTIN_DIMENSION(Name, word) Name,
#include "units/dimension_kind.def"
    Custom
};

class Dimension {
public:
    // A built-in dimension; DimensionKind::Custom gives a custom dimension with an empty text.
    Dimension(DimensionKind kind) : kind_(kind) {} // NOLINT: a kind names a dimension
    static Dimension custom(std::string text);

    // ASCII letters are lower-cased (nothing else changes, nothing is trimmed); the seven built-in
    // words give their dimension, every other text a custom dimension holding the lowered text.
    static Dimension parse(std::string_view text);

    DimensionKind kind() const { return kind_; }
    bool is_custom() const { return kind_ == DimensionKind::Custom; }
    // The text of a custom dimension; empty for the built-in ones.
    const std::string& custom_text() const { return custom_; }

    // "Mass", "Length", ..., or a custom dimension's own text.
    std::string to_string() const;

    friend bool operator==(const Dimension&, const Dimension&) = default;

private:
    DimensionKind kind_;
    std::string custom_; // empty unless kind_ is Custom
};

} // namespace vok

template <> struct std::hash<vok::Dimension> {
    size_t operator()(const vok::Dimension& d) const noexcept {
        return std::hash<std::string>{}(d.custom_text()) ^
               (static_cast<size_t>(d.kind()) * 0x9E3779B97F4A7C15ull);
    }
};
