// Sequences read straight into an array by the attribute rules; see buffer_arrays.h.
#include "python/buffer_arrays.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

#include "common/cancellation.h"
#include "python/binding/convert.h"
#include "python/binding/messages.h"
#include "python/binding/ref.h"

namespace vok::python {

namespace {

// Wide enough for every element of a range whose start and step fit 64 bits, and for the sums
// that step from one to the next.
__extension__ using Wide = __int128;

constexpr Wide kLowest = std::numeric_limits<std::int64_t>::min();
constexpr Wide kHighest = std::numeric_limits<std::uint64_t>::max();

bool fits(Wide value) {
    return value >= kLowest && value <= kHighest;
}

json::Number number_of(Wide value) {
    return value < 0 ? json::Number::from_i64(std::int64_t(value))
                     : json::Number::from_u64(std::uint64_t(value));
}

// The value of an int within 64 bits, signed or unsigned (`unsigned_too`); empty beyond them, or
// with an exception set when reading it failed otherwise.
std::optional<Wide> wide_value(PyObject* integer, bool unsigned_too) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(integer, &overflow);
    if (overflow == 0) {
        if (value == -1 && PyErr_Occurred()) return std::nullopt;
        return Wide(value);
    }
    if (overflow < 0 || !unsigned_too) return std::nullopt;
    const unsigned long long large = PyLong_AsUnsignedLongLong(integer);
    if (large == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return std::nullopt;
        PyErr_Clear();
        return std::nullopt;
    }
    return Wide(large);
}

// Room for `count` more elements; std::bad_alloc, the MemoryError that names the call as every
// other conversion's does, when there is none.
void reserve(json::Array& into, std::size_t count) {
    if (count > into.max_size() - into.size()) throw std::bad_alloc();
    into.reserve(into.size() + count);
}

// The value of one of a range's attributes, looked up by a name made once: a range of a few
// elements is read in about the time list() takes.
PyResult<Ref> range_attribute(PyObject* range, const char* name, PyObject*& interned) {
    if (interned == nullptr) {
        interned = PyUnicode_InternFromString(name);
        if (interned == nullptr) return Err(Error::fetch());
    }
    return detail::checked(PyObject_GetAttr(range, interned));
}

// Appends the items [from, to) of a buffer of native `T`s, `stride` bytes apart (negative for a
// view that runs backwards), as the conversion of list()'s elements gives them. Returns `to`, or
// the first item it refused: a float that is not finite.
template <class T>
std::size_t append_items(const char* data, Py_ssize_t stride, std::size_t from, std::size_t to,
                         json::Array& into) {
    for (; from < to; ++from) {
        const char* const at = data + Py_ssize_t(from) * stride;
        if constexpr (std::is_same_v<T, bool>) {
            // Read as the byte it is: memoryview gives True for any byte but zero, and a bool
            // holding another value than 0 or 1 is undefined.
            static_assert(sizeof(bool) == 1);
            into.emplace_back(*reinterpret_cast<const unsigned char*>(at) != 0);
        } else {
            T item;
            std::memcpy(&item, at, sizeof(T));
            if constexpr (std::is_floating_point_v<T>) {
                if (!std::isfinite(item)) return from;
                into.emplace_back(json::Number::from_f64(double(item)));
            } else if constexpr (std::is_signed_v<T>) {
                into.emplace_back(json::Number::from_i64(item));
            } else {
                into.emplace_back(json::Number::from_u64(item));
            }
        }
    }
    return to;
}

// How the items of a buffer of one of the native formats read here are read, and their size; no
// reader for any other format (chars, structs, foreign byte orders, and 'e', which CPython 3.11's
// memoryview cannot list), whose list() is not numbers, or fails, or is made by the struct module.
struct BufferItems {
    std::size_t (*append)(const char*, Py_ssize_t, std::size_t, std::size_t,
                          json::Array&) = nullptr;
    std::size_t size = 0;
};

template <class T> BufferItems items_of() {
    return {&append_items<T>, sizeof(T)};
}

BufferItems buffer_items(const char* format) {
    if (format == nullptr) return items_of<unsigned char>(); // plain bytes
    if (*format == '@') ++format;
    if (format[0] == '\0' || format[1] != '\0') return {};
    switch (format[0]) {
    case 'b':
        return items_of<signed char>();
    case 'B':
        return items_of<unsigned char>();
    case 'h':
        return items_of<short>();
    case 'H':
        return items_of<unsigned short>();
    case 'i':
        return items_of<int>();
    case 'I':
        return items_of<unsigned int>();
    case 'l':
        return items_of<long>();
    case 'L':
        return items_of<unsigned long>();
    case 'q':
        return items_of<long long>();
    case 'Q':
        return items_of<unsigned long long>();
    case 'n':
        return items_of<Py_ssize_t>();
    case 'N':
        return items_of<std::size_t>();
    case 'f':
        return items_of<float>();
    case 'd':
        return items_of<double>();
    case '?':
        return items_of<bool>();
    default:
        return {};
    }
}

// A buffer held while it is read, released when it goes.
class HeldBuffer {
public:
    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() { release(); }

    // Asks `object` for a view with its format, shape and strides (any, but no suboffsets, which
    // list() follows instead); false with the exception set when it refuses.
    bool get(PyObject* object) {
        release();
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_FORMAT | PyBUF_STRIDES) == 0;
        return held_;
    }
    void release() {
        if (held_) PyBuffer_Release(&view_);
        held_ = false;
    }
    const Py_buffer& view() const { return view_; }
    // The number of items of a one-dimensional view, and the bytes from one to the next.
    std::size_t count() const {
        return std::size_t(view_.shape != nullptr ? view_.shape[0] : view_.len / view_.itemsize);
    }
    Py_ssize_t stride() const {
        return view_.strides != nullptr ? view_.strides[0] : view_.itemsize;
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

} // namespace

bool is_exact_array_type(PyTypeObject* type) {
    // Found once, by its module, which an array exists only once it is imported; never re-read:
    // an exact type that is compared is held for the life of the process.
    static PyTypeObject* array_type = nullptr;
    if (type == array_type) return true;
    if (array_type != nullptr || std::strcmp(type->tp_name, "array.array") != 0) return false;
    PyObject* module = PyDict_GetItemString(PyImport_GetModuleDict(), "array");
    if (module == nullptr || !PyModule_Check(module)) return false;
    PyObject* found = PyDict_GetItemString(PyModule_GetDict(module), "array");
    if (found != reinterpret_cast<PyObject*>(type)) return false;
    array_type = reinterpret_cast<PyTypeObject*>(Py_NewRef(found));
    return true;
}

PyResult<bool> append_buffer_items(PyObject* object, json::Value& slot) {
    HeldBuffer buffer;
    if (!buffer.get(object)) {
        // list() raises the same error of a released view, and reads one with suboffsets as it is.
        PyErr_Clear();
        return false;
    }
    const BufferItems items = buffer_items(buffer.view().format);
    if (buffer.view().ndim != 1 || items.append == nullptr ||
        Py_ssize_t(items.size) != buffer.view().itemsize) {
        return false;
    }
    json::Array& into = slot.emplace_array();
    reserve(into, buffer.count());
    // Read a piece at a time with the buffer held, and let go of it for each poll: Python code run
    // there (a signal handler) may resize an array, or release a view, as it may while list()
    // iterates them, and the items then end where the buffer does. The format, and a view's
    // stride, stay what they were: an array keeps its type, a view its layout. A piece of items
    // is a few megabytes of the array's fresh memory.
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    for (std::size_t at = 0;;) {
        const std::size_t count = buffer.count();
        const std::size_t end = std::min(count, at + kPiece);
        if (items.append(static_cast<const char*>(buffer.view().buf), buffer.stride(), at, end,
                         into) != end) {
            return Err(value_error(messages::kNonFiniteFloat));
        }
        at = end;
        if (at >= count) return true;
        buffer.release();
        poll_cancellation_now();
        if (!buffer.get(object)) return Err(Error::fetch());
    }
}

PyResult<void> append_bytes(PyObject* bytes, json::Array& into) {
    CancellationPoller poller;
    if (PyBytes_CheckExact(bytes)) {
        const auto* data = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(bytes));
        const Py_ssize_t size = PyBytes_GET_SIZE(bytes);
        reserve(into, std::size_t(size));
        for (Py_ssize_t at = 0; at < size; ++at) {
            into.emplace_back(json::Number::from_u64(data[at]));
            poller.poll();
        }
        return Ok();
    }
    reserve(into, std::size_t(PyByteArray_GET_SIZE(bytes)));
    for (Py_ssize_t at = 0; at < PyByteArray_GET_SIZE(bytes); ++at) {
        const auto byte = static_cast<unsigned char>(PyByteArray_AS_STRING(bytes)[at]);
        into.emplace_back(json::Number::from_u64(byte));
        poller.poll();
    }
    return Ok();
}

PyResult<void> append_range(PyObject* range, json::Array& into) {
    // The length first, as list() asks for it: a range too long for a Py_ssize_t raises its
    // OverflowError here.
    const Py_ssize_t length = PyObject_Size(range);
    if (length < 0) return Err(Error::fetch());
    if (length == 0) return Ok();
    // Room for all of them first, as list() makes it, whether or not they all fit 64 bits: a
    // range too long for memory is refused before any element is made.
    reserve(into, std::size_t(length));
    CancellationPoller poller;
    static PyObject* start_name = nullptr;
    static PyObject* step_name = nullptr;
    VOK_ASSIGN(Ref start, range_attribute(range, "start", start_name));
    VOK_ASSIGN(Ref step, range_attribute(range, "step", step_name));
    const std::optional<Wide> first = wide_value(start.get(), true);
    if (!first && PyErr_Occurred()) return Err(Error::fetch());
    const std::optional<Wide> stride = wide_value(step.get(), false);
    if (!stride && PyErr_Occurred()) return Err(Error::fetch());
    // A range is monotonic: when its ends fit, every element does.
    if (first && stride && fits(*first) && fits(*first + Wide(length - 1) * *stride)) {
        Wide value = *first;
        for (Py_ssize_t at = 0; at < length; ++at, value += *stride) {
            into.emplace_back(number_of(value));
            poller.poll();
        }
        return Ok();
    }
    // Some element is beyond 64 bits: the elements are made as list() makes them, up to the first
    // of those, which raises the error of its conversion.
    for (Py_ssize_t at = 0; at < length; ++at) {
        const Ref element = Ref::steal(PySequence_GetItem(range, at));
        if (!element) return Err(Error::fetch());
        VOK_ASSIGN(json::Number number, attribute_integer(element.get()));
        into.emplace_back(number);
        poller.poll();
    }
    return Ok();
}

} // namespace vok::python
