// SharedText: an immutable text that copies share, for the namespace of graph records.
//
// A file of a million declarations names a handful of namespaces, and every record holds one.
// As a std::string each record would carry 32 bytes (and its own heap copy once the text is longer
// than the small-string buffer); a SharedText is one pointer to a reference-counted text that the
// lowering makes once per namespace. Copies share the text and never change it: assigning gives
// the record a new text, it does not edit the shared one, so records stay plain values.
//
// It reads like a const std::string (it converts to one, compares with texts of every kind and
// joins with `+`), so code written against string fields keeps working. The count is atomic:
// copies of one record may live in different threads.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace vok {

class SharedText {
public:
    SharedText() noexcept = default; // the empty text
    // Explicit, so that a record built from a plain string in a loop is visible as one new text
    // per record rather than silently so; assigning a string is allowed.
    explicit SharedText(std::string text) {
        if (!text.empty()) body_ = new Body{{1}, std::move(text)};
    }
    explicit SharedText(std::string_view text) : SharedText(std::string(text)) {}
    explicit SharedText(const char* text) : SharedText(std::string(text)) {}
    SharedText& operator=(std::string text) { return *this = SharedText(std::move(text)); }
    SharedText& operator=(std::string_view text) { return *this = SharedText(text); }
    SharedText& operator=(const char* text) { return *this = SharedText(text); }
    SharedText(const SharedText& other) noexcept : body_(other.body_) {
        if (body_ != nullptr) body_->references.fetch_add(1, std::memory_order_relaxed);
    }
    SharedText(SharedText&& other) noexcept : body_(std::exchange(other.body_, nullptr)) {}
    SharedText& operator=(const SharedText& other) noexcept {
        SharedText copy(other);
        std::swap(body_, copy.body_);
        return *this;
    }
    SharedText& operator=(SharedText&& other) noexcept {
        std::swap(body_, other.body_);
        return *this;
    }
    ~SharedText() {
        if (body_ != nullptr && body_->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete body_;
        }
    }

    const std::string& str() const noexcept {
        return body_ == nullptr ? empty_text() : body_->text;
    }
    operator const std::string&() const noexcept { return str(); } // NOLINT
    std::string_view view() const noexcept { return str(); }

    size_t size() const noexcept { return str().size(); }
    bool empty() const noexcept { return body_ == nullptr; }
    const char* data() const noexcept { return str().data(); }
    const char* c_str() const noexcept { return str().c_str(); }

    friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
        return a.body_ == b.body_ || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, const std::string& b) noexcept {
        return a.str() == b;
    }
    friend bool operator==(const SharedText& a, std::string_view b) noexcept {
        return a.str() == b;
    }
    friend bool operator==(const SharedText& a, const char* b) noexcept { return a.str() == b; }
    friend std::strong_ordering operator<=>(const SharedText& a, const SharedText& b) noexcept {
        return a.str() <=> b.str();
    }

    friend std::string operator+(const SharedText& a, std::string_view b) {
        std::string joined = a.str();
        return joined.append(b);
    }
    friend std::string operator+(const SharedText& a, const char* b) {
        return a + std::string_view(b);
    }
    friend std::string operator+(const SharedText& a, const std::string& b) {
        return a + std::string_view(b);
    }
    friend std::string operator+(std::string a, const SharedText& b) { return a.append(b.str()); }
    friend std::string operator+(const char* a, const SharedText& b) {
        return std::string(a).append(b.str());
    }

    friend std::ostream& operator<<(std::ostream& out, const SharedText& text) {
        return out << text.str();
    }

private:
    struct Body {
        std::atomic<size_t> references;
        const std::string text;
    };
    static const std::string& empty_text() noexcept {
        static const std::string empty;
        return empty;
    }

    Body* body_ = nullptr;
};

} // namespace vok

template <> struct std::hash<vok::SharedText> {
    size_t operator()(const vok::SharedText& text) const noexcept {
        return std::hash<std::string_view>{}(text.view());
    }
};
