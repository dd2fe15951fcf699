// The error shape every core error type shares: kinds follow the alternatives' order (as a
// position, or as the alternatives' own enumeration), and asking for an alternative that is not
// held is refused rather than answered with another one's data.
#include "common/error_variant.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

namespace vok {
namespace {

struct PlainAlternatives {
    struct Missing {
        std::string name;
        bool operator==(const Missing&) const = default;
    };
    struct Empty {
        bool operator==(const Empty&) const = default;
    };
    using Variant = std::variant<Missing, Empty>;
};
struct PlainError : ErrorVariant<PlainAlternatives> {
    using ErrorVariant::ErrorVariant;
    std::string to_string() const {
        return is<Missing>() ? "missing " + as<Missing>().name : "empty";
    }
};

// The enumeration and the variant expanded from the same rows, as the .def lists of the
// subsystems expand them.
#define VOK_TEST_KINDED_ROWS(ROW) ROW(First) ROW(Second)
struct KindedAlternatives {
#define VOK_TEST_KIND(Name) Name,
    enum class Kind { VOK_TEST_KINDED_ROWS(VOK_TEST_KIND) };
#undef VOK_TEST_KIND
    struct First {
        std::string message;
    };
    struct Second {
        std::string message;
    };
#define VOK_TEST_ALTERNATIVE(Name) , Name
    using Variant = VariantOfRows<void VOK_TEST_KINDED_ROWS(VOK_TEST_ALTERNATIVE)>::type;
#undef VOK_TEST_ALTERNATIVE
};
static_assert(std::is_same_v<KindedAlternatives::Variant,
                             std::variant<KindedAlternatives::First, KindedAlternatives::Second>>);
struct KindedError : ErrorVariant<KindedAlternatives> {
    using ErrorVariant::ErrorVariant;
    std::string to_string() const { return "kinded"; }
};

static_assert(CoreError<PlainError> && CoreError<KindedError>);
static_assert(std::is_same_v<decltype(PlainError(PlainError::Empty{}).kind()), std::size_t>);
static_assert(PlainError::kKindCount == 2);

TEST(ErrorVariant, KindIsThePositionOrTheDeclaredEnumeration) {
    EXPECT_EQ(PlainError(PlainError::Missing{"x"}).kind(), 0u);
    EXPECT_EQ(PlainError(PlainError::Empty{}).kind(), 1u);
    EXPECT_EQ(KindedError(KindedError::First{"a"}).kind(), KindedError::Kind::First);
    EXPECT_EQ(KindedError(KindedError::Second{"b"}).kind(), KindedError::Kind::Second);
}

TEST(ErrorVariant, AskingForTheHeldAlternativeOnly) {
    const PlainError error = PlainError::Missing{"unit"};
    EXPECT_TRUE(error.is<PlainError::Missing>());
    EXPECT_FALSE(error.is<PlainError::Empty>());
    EXPECT_EQ(error.as<PlainError::Missing>().name, "unit");
    ASSERT_NE(error.get_if<PlainError::Missing>(), nullptr);
    EXPECT_EQ(error.get_if<PlainError::Empty>(), nullptr);
    EXPECT_THROW((void)error.as<PlainError::Empty>(), std::bad_variant_access);
    EXPECT_EQ(error.visit([](const auto& a) { return sizeof(a) > 1; }), true);
    EXPECT_EQ(error.to_string(), "missing unit");
}

TEST(ErrorVariant, EqualityComparesAlternativeAndData) {
    EXPECT_EQ(PlainError(PlainError::Missing{"a"}), PlainError(PlainError::Missing{"a"}));
    EXPECT_NE(PlainError(PlainError::Missing{"a"}), PlainError(PlainError::Missing{"b"}));
    EXPECT_NE(PlainError(PlainError::Missing{""}), PlainError(PlainError::Empty{}));
}

// An error with one alternative stores it without a variant's index: no bigger than its text.
struct WordedAlternatives {
    struct Failure {
        std::string message;
        bool operator==(const Failure&) const = default;
    };
    using Variant = std::variant<Failure>;
};
struct WordedError : ErrorVariant<WordedAlternatives> {
    using ErrorVariant::ErrorVariant;
    std::string to_string() const { return as<Failure>().message; }
};
static_assert(CoreError<WordedError> && WordedError::kKindCount == 1);
static_assert(sizeof(WordedError) == sizeof(std::string));

TEST(ErrorVariant, OneAlternativeIsAlwaysTheOneHeld) {
    const WordedError error = WordedError::Failure{"no"};
    EXPECT_EQ(error.kind(), 0u);
    EXPECT_TRUE(error.is<WordedError::Failure>());
    ASSERT_NE(error.get_if<WordedError::Failure>(), nullptr);
    EXPECT_EQ(error.get_if<WordedError::Failure>()->message, "no");
    EXPECT_EQ(error.visit([](const WordedError::Failure& f) { return f.message.size(); }), 2u);
    EXPECT_EQ(error.to_string(), "no");
    EXPECT_EQ(error, WordedError(WordedError::Failure{"no"}));
    EXPECT_NE(error, WordedError(WordedError::Failure{"yes"}));
}

} // namespace
} // namespace vok
