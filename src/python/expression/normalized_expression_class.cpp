// Wrappers of NormalizedExpression; see normalized_expression_class.h.
#include "python/expression/normalized_expression_class.h"

#include <cstdio>
#include <string>

#include "expression/expression_text.h"
#include "python/binding/binding.h"
#include "python/expression/expression_class.h"
#include "python/expression/value_equality.h"

namespace vok::python {

namespace {

constexpr Signature kStableHash{"NormalizedExpression.stable_hash"};
constexpr Signature kInnerExpression{"NormalizedExpression.inner_expression"};

PyResult<std::uint64_t> stable_hash(const NormalizedExpression& self) {
    return self.stable_hash();
}

PyResult<Expression> inner_expression(const NormalizedExpression& self) {
    return self.expression();
}

PyResult<std::string> normalized_str(const NormalizedExpression& self) {
    return expression_text(self.expression());
}

PyResult<std::string> normalized_repr(const NormalizedExpression& self) {
    char hash[19];
    std::snprintf(hash, sizeof hash, "0x%016llx",
                  static_cast<unsigned long long>(self.stable_hash()));
    return "NormalizedExpression(" + expression_text(self.expression()) + ", hash=" + hash + ")";
}

const MethodRow kMethods[] = {
    method<kStableHash, stable_hash>("Get the stable hash value for this normalized expression."),
    method<kInnerExpression, inner_expression>("Get the inner expression."),
};

} // namespace

const ClassSpec kNormalizedExpressionClass{
    .name = "NormalizedExpression",
    .doc = "A normalized expression with a stable hash for caching and equivalence checks.",
    .layout = layout_of<NormalizedExpression>(),
    .methods = kMethods,
    .slots = {.repr = unary_slot<normalized_repr>,
              .str = unary_slot<normalized_str>,
              .richcompare = &value_equality<NormalizedExpression>,
              .hash = hash_slot<stable_hash>}};

} // namespace vok::python
