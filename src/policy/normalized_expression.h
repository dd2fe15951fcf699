// NormalizedExpression: an expression in normal form paired with its stable hash.
//
// The hash is XXH64 (seed 0) over a byte stream that spells the normal form out node by node:
// every node starts with its variant index as eight little-endian bytes, texts end with the byte
// 0xFF, enumerations are written as eight-byte indices, and absent optional parts are marked (one
// byte for an absent filter or window, eight for an absent field or target unit). The stream
// depends on nothing but the tree, so the hash is the same in every process and on every run, and
// it can serve as a cache key and as a cheap first test of equivalence. Quantity values enter the
// stream as their text, scale included: 100 USD and 100.00 USD are structurally equal but hash
// apart.
//
// A NormalizedExpression owns its expression and never changes; the hash is computed once, when
// it is made.
#pragma once

#include <xxhash.h>

#include <cstdint>

#include "expression/expression.h"

namespace vok {

// Appends the byte stream of `e` to `state`.
void hash_normalized_expression(const Expression& e, XXH64_state_t& state);

class NormalizedExpression {
public:
    // Normalises `e` and hashes the result.
    explicit NormalizedExpression(const Expression& e);

    const Expression& expression() const { return expression_; }
    uint64_t stable_hash() const { return stable_hash_; }

    // Equal hashes, then structurally equal normal forms; the hash is compared first.
    friend bool operator==(const NormalizedExpression& a, const NormalizedExpression& b) {
        return a.stable_hash_ == b.stable_hash_ && a.expression_ == b.expression_;
    }

private:
    Expression expression_;
    uint64_t stable_hash_;
};

} // namespace vok
