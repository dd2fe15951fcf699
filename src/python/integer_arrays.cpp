// Integers by the attribute rules; see integer_arrays.h.
#include "python/integer_arrays.h"

#include <cstdint>
#include <limits>
#include <new>
#include <optional>

#include "common/cancellation.h"
#include "common/dropping.h"
#include "python/binding/convert.h"
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

// Room for `count` more elements; MemoryError, as list() raises it, when there is none.
PyResult<void> reserve(json::Array& into, std::size_t count) {
    if (count <= into.max_size() - into.size()) {
        try {
            into.reserve(into.size() + count);
            return Ok();
        } catch (const std::bad_alloc&) {
        }
    }
    PyErr_NoMemory();
    return Err(Error::fetch());
}

} // namespace

PyResult<void> append_bytes(PyObject* bytes, json::Array& into) {
    // Stopped part-way through hundreds of millions of elements, the array goes to be freed
    // elsewhere: freeing it here would hold up the exception by a good part of a second.
    const HandOffOnUnwind<json::Array> hand_off(into);
    CancellationPoller poller;
    if (PyBytes_CheckExact(bytes)) {
        const auto* data = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(bytes));
        const Py_ssize_t size = PyBytes_GET_SIZE(bytes);
        VOK_TRY(reserve(into, std::size_t(size)));
        for (Py_ssize_t at = 0; at < size; ++at) {
            into.emplace_back(json::Number::from_u64(data[at]));
            poller.poll();
        }
        return Ok();
    }
    VOK_TRY(reserve(into, std::size_t(PyByteArray_GET_SIZE(bytes))));
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
    VOK_TRY(reserve(into, std::size_t(length)));
    const HandOffOnUnwind<json::Array> hand_off(into); // as append_bytes's
    CancellationPoller poller;
    VOK_ASSIGN(Ref start, detail::checked(PyObject_GetAttrString(range, "start")));
    VOK_ASSIGN(Ref step, detail::checked(PyObject_GetAttrString(range, "step")));
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
