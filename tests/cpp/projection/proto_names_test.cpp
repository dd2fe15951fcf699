// Type and field names from graph names.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "projection/proto_names.h"

namespace vok::projection {
namespace {

using Case = std::pair<std::string, std::string>;

class TypeName : public ::testing::TestWithParam<Case> {};

TEST_P(TypeName, Converts) {
    EXPECT_EQ(to_proto_type_name(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypeName,
    ::testing::Values(Case{"order item", "OrderItem"}, Case{"order_item", "OrderItem"},
                      Case{"XMLParser", "XMLParser"}, Case{"3d-model", "Vok3dModel"},
                      Case{"message", "VokMessage"}, Case{"Int32", "VokInt32"},
                      Case{"RPC", "VokRPC"}, Case{"über", "Vokber"}, Case{"Straße", "Strae"},
                      Case{"", "VokUnnamed"}, Case{"---", "VokUnnamed"}, Case{"ünïcödé", "Vokncd"},
                      // The full upper-case mapping may give several characters.
                      Case{"ßa", "SSa"}, Case{"x ﬁle", "XFIle"}, Case{"ǰob", "Job"},
                      // Non-ASCII letters join pieces but disappear afterwards.
                      Case{"日本 order", "VokOrder"},
                      Case{"a\xE0\xA4\xBE"
                           "b",
                           "Ab"},
                      // Bytes that are not UTF-8 separate pieces like punctuation.
                      Case{"a\xFF"
                           "b",
                           "AB"},
                      Case{"int64 ", "VokInt64"}, Case{"false", "VokFalse"},
                      Case{"falsey", "Falsey"}));

class FieldName : public ::testing::TestWithParam<Case> {};

TEST_P(FieldName, Converts) {
    EXPECT_EQ(to_proto_field_name(GetParam().first), GetParam().second) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldName,
    ::testing::Values(Case{"unitPrice", "unit_price"}, Case{"OrderID", "order_id"},
                      Case{"XMLParser", "xmlparser"}, Case{"order-item", "order_item"},
                      Case{"Unit Price", "unit__price"}, Case{"__x__", "x"}, Case{"!!!", ""},
                      Case{"", ""}, Case{"3d", "3d"}, Case{"Active", "active"},
                      Case{"naïve Ürün", "naïve__ürün"}, Case{"İstanbul", "istanbul"},
                      // Roman numerals and circled capitals are upper-case without being Lu.
                      Case{"aⅣ", "a_ⅳ"}, Case{"Ⓐb", "ⓐb"},
                      // "×" (U+00D7) is a symbol, not a capital; "µ" is a lower-case letter.
                      Case{"a×b", "a_b"}, Case{"aµB", "aµ_b"},
                      Case{"a\xFF"
                           "b",
                           "a_b"}));

} // namespace
} // namespace vok::projection
