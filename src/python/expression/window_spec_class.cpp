// Wrappers of WindowSpec; see window_spec_class.h.
#include "python/expression/window_spec_class.h"

#include <string>
#include <utility>

#include "python/binding/binding.h"

namespace vok::python {

namespace {

constexpr Signature kNew{"WindowSpec.__new__", {{"duration"}, {"unit"}}};

// A negative or too large duration is CPython's own OverflowError.
PyResult<WindowSpec> new_window_spec(Args& args) {
    VOK_ASSIGN(std::uint64_t duration, args.count(0));
    VOK_ASSIGN(std::string unit, args.owned_text(1));
    return WindowSpec{duration, std::move(unit)};
}

PyResult<std::uint64_t> duration(const WindowSpec& self) {
    return self.duration;
}

PyResult<std::string> unit(const WindowSpec& self) {
    return self.unit;
}

// The unit stands between single quotes as it is, without escaping.
PyResult<std::string> window_spec_repr(const WindowSpec& self) {
    return "WindowSpec(duration=" + std::to_string(self.duration) + ", unit='" + self.unit + "')";
}

const GetterRow kGetters[] = {
    property<duration>("duration"),
    property<unit>("unit"),
};

} // namespace

const ClassSpec kWindowSpecClass{.name = "WindowSpec",
                                 .layout = layout_of<WindowSpec>(),
                                 .constructor = constructor<kNew, new_window_spec>(),
                                 .getters = kGetters,
                                 .slots = {.repr = unary_slot<window_spec_repr>}};

} // namespace vok::python
