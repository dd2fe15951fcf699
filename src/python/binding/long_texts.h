// Texts of many megabytes crossing the Python boundary, converted in pieces.
//
// CPython turns a str into UTF-8, and UTF-8 into a str, in one call that no signal interrupts: a
// str of a few hundred million non-ASCII characters keeps Ctrl-C waiting for a second or more. So
// a long text goes both ways through loops of our own, over pieces of a megabyte or less with a
// cancellation poll between them, and gives exactly what CPython's conversion gives: the
// same bytes, or a str of the same kind and contents. Where CPython would raise (a lone surrogate
// in the str, ill-formed UTF-8 in the text), CPython's own conversion runs instead, so that its
// exception, position and all, is what the caller sees. Short texts stay with CPython, whose one
// call is then a few hundredths of a second at most.
//
// The polls may run Python code (a signal handler), so the object or text being converted must
// not change meanwhile: the str is immutable, and the text is read under the caller's borrow.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "python/binding/error.h"
#include "python/binding/ref.h"

namespace vok::python {

// Characters beyond which a str is encoded in pieces. CPython encodes this many non-ASCII
// characters in 30 ms at most (four bytes each), well within the fifth of a second that Ctrl-C may
// wait; it is also the byte length beyond which str_to_python converts in pieces (convert.cpp).
inline constexpr std::size_t kLongTextCharacters = std::size_t{1} << 23;

// Non-ASCII strs of at least this many characters are encoded here rather than by CPython, whose
// encoding stays attached to the str for its lifetime: a long str set as an attribute would keep a
// second copy of itself, of up to four times its size, after the call.
inline constexpr std::size_t kUncachedCharacters = 1024;

// Appends the UTF-8 form of `str` (a str or subclass) to `into` and returns true when the str has
// at least kUncachedCharacters characters, not all ASCII, and no UTF-8 form attached already; the
// pieces are polled between beyond kLongTextCharacters. Returns false, having touched nothing, for
// any other str, which the caller converts the ordinary way (CPython's ASCII str is its UTF-8
// already).
// On failure (a lone surrogate's UnicodeEncodeError, or cancellation or std::bad_alloc thrown)
// `into` may hold part of the text: the caller drops it.
PyResult<bool> append_utf8_in_pieces(PyObject* str, std::string& into);

// The str of a long UTF-8 text, as PyUnicode_FromStringAndSize makes it (its UnicodeDecodeError
// too, for a text that is not valid UTF-8). The first `ascii_prefix` bytes are known to be ASCII
// (the caller has copied them as such before meeting a byte that is not) and are not scanned again.
PyResult<Ref> decode_utf8_in_pieces(std::string_view text, std::size_t ascii_prefix = 0);

} // namespace vok::python
