// Canonical key texts, produced lazily; see normalize_key.h.
//
// Each node's text is a short list of items: fixed words, texts of the node, values written on
// demand (JSON, decimals, counts, quoted texts) and child nodes. The cursor keeps one frame per
// open node (the node and the index of its next item) and rebuilds the node's item list when it
// resumes it: a frame stays two words, so a million-level tree needs a small stack of its own.
#include "policy/normalize_key.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/debug_quote.h"
#include "common/thread_preparation.h"
#include "json/writer.h"

namespace vok {

namespace {

struct Item {
    enum class Kind : uint8_t { Text, Quoted, Json, Decimal, Count, Child };
    Kind kind = Kind::Text;
    std::string_view text;
    const void* pointer = nullptr;
    uint64_t count = 0;
};

// The longest list is an aggregation comprehension's with a window: 19 items.
constexpr size_t kMaxItems = 20;

class Items {
public:
    Items& text(std::string_view t) { return add({Item::Kind::Text, t}); }
    Items& quoted(std::string_view t) { return add({Item::Kind::Quoted, t}); }
    Items& json(const json::Value& v) { return add({Item::Kind::Json, {}, &v}); }
    Items& decimal(const Decimal& d) { return add({Item::Kind::Decimal, {}, &d}); }
    Items& count(uint64_t n) { return add({Item::Kind::Count, {}, nullptr, n}); }
    Items& child(const Box& b) { return add({Item::Kind::Child, {}, b.get()}); }
    Items& child_or_none(const OptBox& b) { return b ? child(*b) : text("None"); }
    Items& text_or_none(const std::optional<std::string>& t) { return t ? text(*t) : text("None"); }
    Items& sep() { return text(", "); }

    size_t size() const { return size_; }
    const Item& operator[](size_t i) const { return items_[i]; }

private:
    Items& add(Item item) {
        items_[size_++] = item;
        return *this;
    }
    std::array<Item, kMaxItems> items_;
    size_t size_ = 0;
};

void items_of(const Expression& e, Items& out) {
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, expr::Literal>) {
                out.text("Lit(").json(n.value).text(")");
            } else if constexpr (std::is_same_v<T, expr::QuantityLiteral>) {
                out.text("Quant(").decimal(n.value).sep().quoted(n.unit).text(")");
            } else if constexpr (std::is_same_v<T, expr::TimeLiteral>) {
                out.text("Time(").text(n.timestamp).text(")");
            } else if constexpr (std::is_same_v<T, expr::IntervalLiteral>) {
                out.text("Int(").text(n.start).sep().text(n.end).text(")");
            } else if constexpr (std::is_same_v<T, expr::Variable>) {
                out.text("Var(").text(n.name).text(")");
            } else if constexpr (std::is_same_v<T, expr::GroupBy>) {
                out.text("Group(").text(n.variable).sep().child(n.collection).sep();
                out.child_or_none(n.filter).sep().child(n.key).sep().child(n.condition).text(")");
            } else if constexpr (std::is_same_v<T, expr::Binary>) {
                out.text("Bin(").text(name_of(n.op)).sep().child(n.left).sep().child(n.right);
                out.text(")");
            } else if constexpr (std::is_same_v<T, expr::Unary>) {
                out.text("Un(").text(name_of(n.op)).sep().child(n.operand).text(")");
            } else if constexpr (std::is_same_v<T, expr::Cast>) {
                out.text("Cast(").child(n.operand).sep().quoted(n.target_type).text(")");
            } else if constexpr (std::is_same_v<T, expr::Quantifier>) {
                out.text("Quant(").text(name_of(n.quantifier)).sep().text(n.variable).sep();
                out.child(n.collection).sep().child(n.condition).text(")");
            } else if constexpr (std::is_same_v<T, expr::MemberAccess>) {
                out.text("Mem(").text(n.object).sep().text(n.member).text(")");
            } else if constexpr (std::is_same_v<T, expr::Aggregation>) {
                out.text("Agg(").text(name_of(n.function)).sep().child(n.collection).sep();
                out.text_or_none(n.field.optional()).sep().child_or_none(n.filter).text(")");
            } else if constexpr (std::is_same_v<T, expr::AggregationComprehension>) {
                out.text("AggComp(").text(name_of(n.function)).sep().text(n.variable).sep();
                out.child(n.collection).sep();
                if (n.window) {
                    out.text("WindowSpec { duration: ").count(n.window->duration);
                    out.text(", unit: ").quoted(n.window->unit).text(" }");
                } else {
                    out.text("None");
                }
                out.sep().child(n.predicate).sep().child(n.projection).sep();
                out.text_or_none(n.target_unit.optional()).text(")");
            }
        },
        e.node());
}

struct Frame {
    const Expression* node;
    size_t step;
};

// Yields the key text of one tree as a sequence of non-empty pieces. The frame stack and the
// scratch text are lent by the caller, so that the many comparisons of a sort reuse their memory.
class KeyCursor {
public:
    KeyCursor(const Expression& e, std::vector<Frame>& stack, std::string& scratch)
        : stack_(stack), scratch_(scratch) {
        stack_.clear();
        stack_.push_back({&e, 0});
    }

    // The next piece, valid until the following call; empty once the text is complete.
    std::string_view next() {
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.node != items_node_) {
                items_ = Items();
                items_of(*top.node, items_);
                items_node_ = top.node;
            }
            const Items& items = items_;
            if (top.step == items.size()) {
                stack_.pop_back();
                continue;
            }
            const Item& item = items[top.step++];
            switch (item.kind) {
            case Item::Kind::Child:
                stack_.push_back({static_cast<const Expression*>(item.pointer), 0});
                continue;
            case Item::Kind::Text:
                if (item.text.empty()) continue;
                return item.text;
            case Item::Kind::Quoted:
                scratch_.clear();
                append_debug_quoted(scratch_, item.text);
                return scratch_;
            case Item::Kind::Json:
                scratch_.clear();
                json::write_compact(scratch_, *static_cast<const json::Value*>(item.pointer));
                return scratch_;
            case Item::Kind::Decimal:
                scratch_ = static_cast<const Decimal*>(item.pointer)->to_string();
                return scratch_;
            case Item::Kind::Count:
                scratch_ = std::to_string(item.count);
                return scratch_;
            }
        }
        return {};
    }

private:
    std::vector<Frame>& stack_;
    std::string& scratch_;
    // The item list of the node on top of the stack, kept while the cursor stays in that node.
    Items items_;
    const Expression* items_node_ = nullptr;
};

// Memory of the cursors of one thread; no cursor outlives the call that made it and none of those
// calls nests inside another.
struct CursorMemory {
    std::vector<Frame> stack;
    std::string scratch;
};
thread_local CursorMemory t_memory[2];
// Their destructors are registered when the thread is prepared (see common/thread_preparation.h).
const ThreadLocalToucher touch_memory([] { static_cast<void>(t_memory[0].stack.size()); });

} // namespace

std::string render_normalized_expression(const Expression& e) {
    std::string out;
    KeyCursor cursor(e, t_memory[0].stack, t_memory[0].scratch);
    for (std::string_view piece = cursor.next(); !piece.empty(); piece = cursor.next()) {
        out += piece;
    }
    return out;
}

int compare_normalized_keys(const Expression& a, const Expression& b) {
    KeyCursor left(a, t_memory[0].stack, t_memory[0].scratch);
    KeyCursor right(b, t_memory[1].stack, t_memory[1].scratch);
    std::string_view l;
    std::string_view r;
    for (;;) {
        if (l.empty()) l = left.next();
        if (r.empty()) r = right.next();
        if (l.empty() || r.empty()) return int(!l.empty()) - int(!r.empty());
        size_t n = std::min(l.size(), r.size());
        if (int c = std::memcmp(l.data(), r.data(), n); c != 0) return c < 0 ? -1 : 1;
        l.remove_prefix(n);
        r.remove_prefix(n);
    }
}

} // namespace vok
