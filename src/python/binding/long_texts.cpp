// Long texts converted in pieces; see long_texts.h.
//
// Each way takes two passes over the text, both in pieces with a poll between them. Encoding first
// measures the UTF-8 form (and looks for surrogates, which have none), so that the output is
// allocated once at its size and nothing is written for a str that CPython must refuse; then it
// encodes. Decoding first counts the characters and finds the widest lead byte, which fixes the
// str's length and kind; then it decodes into the str, checking each sequence as CPython does. The
// loops are written per code unit width, so that each is a tight loop over one array type.
#include "python/binding/long_texts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "common/cancellation.h"
#include "common/utf8.h"

namespace vok::python {

namespace {

// A millisecond of work or less per piece, either way, next to which a poll costs nothing. An
// encoded piece takes at most a megabyte, so that the room it is written into, zeroed as the string
// grows by it, is still in the cache when it is written.
constexpr std::size_t kPieceCharacters = std::size_t{1} << 18;
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

// ---- str to UTF-8 ----

// The UTF-8 bytes that `count` code units take beyond one each. `surrogate` is set when one of
// them is a surrogate, which UTF-8 cannot carry. Summed in blocks small enough for a counter as
// narrow as the units (a unit adds at most one byte in UCS1, two in UCS2), so that the compiler
// keeps as many units per vector lane as it reads: widened to a size_t each, the count takes as
// long as the encoding.
template <class Unit>
std::size_t extra_utf8_bytes(const Unit* units, std::size_t count, bool& surrogate) {
    using Counter =
        std::conditional_t<sizeof(Unit) == 1, std::uint8_t,
                           std::conditional_t<sizeof(Unit) == 2, std::uint16_t, std::uint32_t>>;
    constexpr std::size_t kBlock = sizeof(Unit) == 1   ? 128
                                   : sizeof(Unit) == 2 ? 16384
                                                       : std::size_t{1} << 30;
    std::size_t extra = 0;
    Unit surrogates = 0;
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t end = std::min(count, start + kBlock);
        Counter block = 0;
        for (std::size_t i = start; i < end; ++i) {
            const Unit c = units[i];
            block += c >= 0x80;
            if constexpr (sizeof(Unit) > 1) {
                block += c >= 0x800;
                surrogates |= Unit(c - 0xD800) < 0x800;
            }
            if constexpr (sizeof(Unit) > 2) block += c >= 0x10000;
        }
        extra += block;
    }
    surrogate = surrogate || surrogates != 0;
    return extra;
}

// Writes the UTF-8 form of `count` code units, none a surrogate, at `out`; returns its end.
template <class Unit> char* encode_utf8(const Unit* units, std::size_t count, char* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t c = units[i];
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
        } else if (sizeof(Unit) == 1 || c < 0x800) {
            out[0] = static_cast<char>(0xC0 | (c >> 6));
            out[1] = static_cast<char>(0x80 | (c & 0x3F));
            out += 2;
        } else if (sizeof(Unit) == 2 || c < 0x10000) {
            out[0] = static_cast<char>(0xE0 | (c >> 12));
            out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[2] = static_cast<char>(0x80 | (c & 0x3F));
            out += 3;
        } else {
            out[0] = static_cast<char>(0xF0 | (c >> 18));
            out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[3] = static_cast<char>(0x80 | (c & 0x3F));
            out += 4;
        }
    }
    return out;
}

// CPython's own conversion, for the str it refuses: its UnicodeEncodeError is the one the caller
// would have met without the pieces.
PyResult<bool> append_as_cpython_does(PyObject* str, std::string& into) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) return Err(Error::fetch());
    into.append(data, std::size_t(size));
    return true;
}

template <class Unit>
PyResult<bool> append_units(PyObject* str, const Unit* units, std::size_t length,
                            std::string& into) {
    // The most bytes one code unit of this width can take: a UCS1 unit is below U+0100, a UCS2
    // unit within the BMP.
    constexpr std::size_t kMostBytes = sizeof(Unit) == 1 ? 2 : sizeof(Unit) == 2 ? 3 : 4;
    std::size_t bytes = length;
    bool surrogate = false;
    for (std::size_t at = 0; at < length; at += kPieceCharacters) {
        if (at > 0) poll_cancellation_now();
        bytes += extra_utf8_bytes(units + at, std::min(kPieceCharacters, length - at), surrogate);
        if (surrogate) return append_as_cpython_does(str, into);
    }
    const std::size_t end = into.size() + bytes;
    into.reserve(end);
    for (std::size_t at = 0; at < length; at += kPieceCharacters) {
        poll_cancellation_now();
        const std::size_t count = std::min(kPieceCharacters, length - at);
        // Grown by the most the piece can take (within the reserved size, so never moved), then
        // cut back to what it took.
        const std::size_t start = into.size();
        into.resize(std::min(end, start + count * kMostBytes));
        const char* written = encode_utf8(units + at, count, into.data() + start);
        into.resize(std::size_t(written - into.data()));
    }
    return true;
}

// ---- UTF-8 to str ----

// How many characters a piece of valid UTF-8 holds (one per byte that is not a continuation
// byte), and its greatest byte, which tells the widest character's width.
struct Survey {
    std::size_t characters = 0;
    unsigned char greatest = 0;
};

// Counted in blocks of 128 bytes, whose count fits a byte, for the reason extra_utf8_bytes gives.
void survey(const unsigned char* bytes, std::size_t count, Survey& survey) {
    constexpr std::size_t kBlock = 128;
    std::size_t characters = 0;
    unsigned char greatest = survey.greatest;
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t end = std::min(count, start + kBlock);
        std::uint8_t block = 0;
        for (std::size_t i = start; i < end; ++i) {
            block += (bytes[i] & 0xC0) != 0x80;
            greatest = std::max(greatest, bytes[i]);
        }
        characters += block;
    }
    survey.characters += characters;
    survey.greatest = greatest;
}

bool ascii_word(const unsigned char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return (word & 0x8080808080808080) == 0;
}

// Decodes the sequences that start before `piece_end` into `out`, advancing both. False at the
// first ill-formed sequence; the survey made sure that every character fits an Out.
template <class Out>
bool decode_piece(const unsigned char*& from, const unsigned char* piece_end,
                  const unsigned char* end, Out*& into) {
    const unsigned char* p = from;
    Out* out = into;
    while (p < piece_end) {
        if (*p < 0x80) {
            *out++ = *p++;
            // A run of ASCII, which most long texts are largely made of, goes a word at a time.
            while (piece_end - p >= 8 && ascii_word(p)) {
                for (int i = 0; i < 8; ++i)
                    out[i] = p[i];
                p += 8;
                out += 8;
            }
            continue;
        }
        const DecodedChar c = decode_utf8(p, end);
        if (c.code_point == kInvalidCodePoint) return false;
        *out++ = static_cast<Out>(c.code_point);
        p += c.length;
    }
    from = p;
    into = out;
    return true;
}

template <class Out> bool decode_into(std::string_view text, Out* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    while (p < end) {
        const unsigned char* piece_end = p + std::min(kPieceBytes, std::size_t(end - p));
        if (!decode_piece(p, piece_end, end, out)) return false;
        if (p < end) poll_cancellation_now();
    }
    return true;
}

PyResult<Ref> decoded_as_cpython_does(std::string_view text) {
    PyObject* made = PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
    if (made == nullptr) return Err(Error::fetch());
    return Ref::steal(made);
}

} // namespace

PyResult<bool> append_utf8_in_pieces(PyObject* str, std::string& into) {
    if (PyUnicode_READY(str) < 0) return Err(Error::fetch());
    const auto length = std::size_t(PyUnicode_GET_LENGTH(str));
    if (length < kUncachedCharacters || PyUnicode_IS_ASCII(str) ||
        reinterpret_cast<PyCompactUnicodeObject*>(str)->utf8 != nullptr)
        return false;
    const void* data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
        return append_units(str, static_cast<const Py_UCS1*>(data), length, into);
    case PyUnicode_2BYTE_KIND:
        return append_units(str, static_cast<const Py_UCS2*>(data), length, into);
    default:
        return append_units(str, static_cast<const Py_UCS4*>(data), length, into);
    }
}

PyResult<Ref> decode_utf8_in_pieces(std::string_view text, std::size_t ascii_prefix) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    Survey found{ascii_prefix, 0};
    for (std::size_t at = ascii_prefix; at < text.size(); at += kPieceBytes) {
        if (at > ascii_prefix) poll_cancellation_now();
        survey(bytes + at, std::min(kPieceBytes, text.size() - at), found);
    }
    // The greatest lead byte bounds the greatest character: C2 and C3 lead U+0080 to U+00FF, up to
    // EF U+FFFF, F0 to F4 the rest. A greatest byte outside those ranges (a continuation or a byte
    // that leads nothing) is ill-formed wherever it is.
    Py_UCS4 greatest;
    if (found.greatest < 0x80) {
        greatest = 0x7F;
    } else if (found.greatest < 0xC2 || found.greatest > 0xF4) {
        return decoded_as_cpython_does(text);
    } else if (found.greatest <= 0xC3) {
        greatest = 0xFF;
    } else if (found.greatest <= 0xEF) {
        greatest = 0xFFFF;
    } else {
        greatest = 0x10FFFF;
    }
    PyObject* made = PyUnicode_New(Py_ssize_t(found.characters), greatest);
    if (made == nullptr) return Err(Error::fetch());
    Ref str = Ref::steal(made);
    void* data = PyUnicode_DATA(made);
    bool decoded;
    switch (PyUnicode_KIND(made)) {
    case PyUnicode_1BYTE_KIND:
        decoded = decode_into(text, static_cast<Py_UCS1*>(data));
        break;
    case PyUnicode_2BYTE_KIND:
        decoded = decode_into(text, static_cast<Py_UCS2*>(data));
        break;
    default:
        decoded = decode_into(text, static_cast<Py_UCS4*>(data));
        break;
    }
    if (!decoded) {
        // Dropped before CPython's decoder runs, which makes the exception and needs no more room.
        str = Ref();
        return decoded_as_cpython_does(text);
    }
    return str;
}

} // namespace vok::python
