// The stable hash's byte stream; see normalized_expression.h.
#include "policy/normalized_expression.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "common/deep_recursion.h"
#include "policy/normalize.h"
#include "json/writer.h"

namespace vok {

namespace {

// Collects the stream in a small buffer so that the hash state is fed in blocks, not byte by
// byte.
class HashSink {
public:
    explicit HashSink(XXH64_state_t& state) : state_(state) {}
    HashSink(const HashSink&) = delete;
    HashSink& operator=(const HashSink&) = delete;
    ~HashSink() { flush(); }

    void bytes(const void* data, size_t size) {
        if (used_ + size > sizeof(buffer_)) {
            flush();
            if (size > sizeof(buffer_)) {
                XXH64_update(&state_, data, size);
                return;
            }
        }
        std::memcpy(buffer_ + used_, data, size);
        used_ += size;
    }
    void byte(uint8_t b) { bytes(&b, 1); }
    void u64(uint64_t v) {
        unsigned char le[8];
        for (int i = 0; i < 8; ++i)
            le[i] = static_cast<unsigned char>(v >> (8 * i));
        bytes(le, sizeof le);
    }
    void text(std::string_view s) {
        bytes(s.data(), s.size());
        byte(0xFF);
    }
    void flush() {
        if (used_ > 0) XXH64_update(&state_, buffer_, used_);
        used_ = 0;
    }

private:
    XXH64_state_t& state_;
    unsigned char buffer_[4096];
    size_t used_ = 0;
};

void write_node(HashSink& out, const Expression& e);

void node(HashSink& out, const Box& child) {
    with_stack_room([&] { write_node(out, *child); });
}

// An absent expression or window is one byte 0; a present one is 1 and its bytes.
void optional_node(HashSink& out, const OptBox& child) {
    out.byte(child ? 1 : 0);
    if (child) node(out, *child);
}

// An absent text is eight bytes 0; a present one is 1 as eight bytes and the text.
void optional_text(HashSink& out, const std::optional<std::string>& text) {
    out.u64(text ? 1 : 0);
    if (text) out.text(*text);
}

void write_node(HashSink& out, const Expression& e) {
    out.u64(e.node().index());
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                out.text(json::to_compact_string(n.value));
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                out.text(n.value.to_string());
                out.text(n.unit);
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                out.text(n.timestamp);
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                out.text(n.start);
                out.text(n.end);
            } else if constexpr (std::is_same_v<T, expr::Variable>) {
                out.text(n.name);
            } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                out.text(n.variable);
                node(out, n.collection);
                optional_node(out, n.filter);
                node(out, n.key);
                node(out, n.condition);
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                out.u64(static_cast<uint64_t>(n.op));
                node(out, n.left);
                node(out, n.right);
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                out.u64(static_cast<uint64_t>(n.op));
                node(out, n.operand);
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                node(out, n.operand);
                out.text(n.target_type);
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                out.u64(static_cast<uint64_t>(n.quantifier));
                out.text(n.variable);
                node(out, n.collection);
                node(out, n.condition);
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                out.text(n.object);
                out.text(n.member);
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                out.u64(static_cast<uint64_t>(n.function));
                node(out, n.collection);
                optional_text(out, n.field.optional());
                optional_node(out, n.filter);
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                out.u64(static_cast<uint64_t>(n.function));
                out.text(n.variable);
                node(out, n.collection);
                out.byte(n.window ? 1 : 0);
                if (n.window) {
                    out.u64(n.window->duration);
                    out.text(n.window->unit);
                }
                node(out, n.predicate);
                node(out, n.projection);
                optional_text(out, n.target_unit.optional());
            }
        },
        e.node());
}

struct StateDeleter {
    void operator()(XXH64_state_t* state) const { XXH64_freeState(state); }
};

uint64_t stable_hash_of(const Expression& e) {
    std::unique_ptr<XXH64_state_t, StateDeleter> state(XXH64_createState());
    if (!state) throw std::bad_alloc();
    XXH64_reset(state.get(), 0);
    hash_normalized_expression(e, *state);
    return XXH64_digest(state.get());
}

} // namespace

void hash_normalized_expression(const Expression& e, XXH64_state_t& state) {
    HashSink out(state);
    write_node(out, e);
}

NormalizedExpression::NormalizedExpression(const Expression& e)
    : expression_(normalize_expression(e)), stable_hash_(stable_hash_of(expression_)) {}

} // namespace vok
