// _vok_testhooks: a test-only extension that reaches the binding layer's paths which vok_dsl's
// public classes cannot reach on demand: broken invariants and other C++ exceptions inside a
// call, binding texts of small signatures, every argument converter, borrow conflicts caused by
// Python code running inside a call, a receiver of the wrong class, and results of every kind.
// It is built for the tests only and never registered in vok_dsl.
#include <Python.h>

#include <csignal>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "hook_functions.h"
#include "python/binding/binding.h"
#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/invariant.h"

namespace hooks {

using namespace vok::python;

// A mutable value class: `store` and `absorb` change it (exclusive borrow), the rest read it.
struct Cell {
    std::uint64_t value = 0;
    std::string label;
};

// A value class with a constructor taking a required and an optional text.
struct Pair {
    std::string first;
    std::optional<std::string> second;
};

} // namespace hooks

namespace hooks {
extern const vok::python::ClassSpec kCellClass;
extern const vok::python::ClassSpec kPairClass;
} // namespace hooks
VOK_PY_CLASS(hooks::Cell, hooks::kCellClass);
VOK_PY_CLASS(hooks::Pair, hooks::kPairClass);

namespace hooks {

namespace {

// --- Cell -----------------------------------------------------------------------------------

constexpr Signature kCellNew{"Cell.__new__"};
constexpr Signature kCellGet{"Cell.get"};
constexpr Signature kCellStore{"Cell.store", {{"value"}}};
constexpr Signature kCellProbe{"Cell.probe", {{"value"}}};
constexpr Signature kCellAbsorb{"Cell.absorb", {{"other"}}};
constexpr Signature kCellMake{"Cell.make", {{"value"}, {"label", "None"}}};

PyResult<Cell> cell_new(Args&) {
    return Cell{};
}

PyResult<std::uint64_t> cell_get(const Cell& self) {
    return self.value;
}

PyResult<void> cell_store(Cell& self, Args& args) {
    VOK_ASSIGN(std::uint64_t value, args.count(0));
    self.value = value;
    return vok::Ok();
}

PyResult<double> cell_probe(const Cell& self, Args& args) {
    VOK_ASSIGN(double value, args.number(0));
    return value + double(self.value);
}

PyResult<void> cell_absorb(Cell& self, Args& args) {
    VOK_ASSIGN(Cell other, args.object<Cell>(0));
    self.value += other.value;
    return vok::Ok();
}

PyResult<Cell> cell_make(Args& args) {
    VOK_ASSIGN(std::uint64_t value, args.count(0));
    VOK_ASSIGN(auto label, args.optional_text(1));
    return Cell{value, std::string(label.value_or(""))};
}

PyResult<std::string> cell_label(const Cell& self) {
    return self.label;
}

PyResult<std::string> cell_repr(const Cell& self) {
    return "Cell(value=" + std::to_string(self.value) + ")";
}

const MethodRow kCellMethods[] = {
    method<kCellGet, cell_get>("Read the value."),
    exclusive_method<kCellStore, cell_store>(),
    method<kCellProbe, cell_probe>(),
    exclusive_method<kCellAbsorb, cell_absorb>(),
    static_method<kCellMake, cell_make>(),
};

const GetterRow kCellGetters[] = {
    property<cell_get>("value", "The stored value"),
    property<cell_label>("label"),
};

// --- Pair -----------------------------------------------------------------------------------

constexpr Signature kPairNew{"Pair.__new__", {{"first"}, {"second", "None"}}};

PyResult<Pair> pair_new(Args& args) {
    VOK_ASSIGN(std::string first, args.owned_text(0));
    VOK_ASSIGN(auto second, args.optional_text(1));
    std::optional<std::string> kept;
    if (second) kept = std::string(*second);
    return Pair{std::move(first), std::move(kept)};
}

PyResult<std::string> pair_first(const Pair& self) {
    return self.first;
}
PyResult<std::optional<std::string>> pair_second(const Pair& self) {
    return self.second;
}

const GetterRow kPairGetters[] = {property<pair_first>("first"), property<pair_second>("second")};

// --- Colour: an enumeration made by the shared implementation ------------------------------

const char* const kColourMembers[] = {"Red", "Green", "Blue"};
const ClassSpec kColourClass = enumeration("Colour", kColourMembers);

// --- functions ------------------------------------------------------------------------------

constexpr Signature kRaiseCpp{"raise_cpp", {{"kind"}, {"message", "\"\""}}};
constexpr Signature kBind1{"bind1", {{"a"}}};
constexpr Signature kBind2{"bind2", {{"a"}, {"b", "1"}}};
constexpr Signature kBind3{"bind3", {{"a"}, {"b"}, {"c", "None"}}};
constexpr Signature kBindRequired{"bind_required", {{"a"}, {"b"}, {"c"}}};
constexpr Signature kTextArg{"text_arg", {{"value"}}};
constexpr Signature kOwnedTextArg{"owned_text_arg", {{"value"}}};
constexpr Signature kOptionalTextArg{"optional_text_arg", {{"value", "None"}}};
constexpr Signature kFlagArg{"flag_arg", {{"value"}}};
constexpr Signature kFlagOrArg{"flag_or_arg", {{"value", "True"}}};
constexpr Signature kOptionalFlagArg{"optional_flag_arg", {{"value"}}};
constexpr Signature kNumberArg{"number_arg", {{"value"}}};
constexpr Signature kCountArg{"count_arg", {{"value", "4"}}};
constexpr Signature kUuidArg{"uuid_arg", {{"id"}}};
constexpr Signature kFromIdArg{"from_id_arg", {{"from_id"}}};
constexpr Signature kTwoUuids{"two_uuids", {{"owner"}, {"owned"}}};
constexpr Signature kMakeColour{"make_colour", {{"index"}}};
constexpr Signature kColourIndex{"colour_index", {{"colour"}}};
constexpr Signature kCells{"cells", {{"count"}}};
constexpr Signature kLabels{"labels", {{"count"}}};
constexpr Signature kPairTexts{"pair_texts", {{"first"}, {"second"}}};
constexpr Signature kCallCellGet{"call_cell_get", {{"receiver"}}};
constexpr Signature kFetchNothing{"fetch_without_exception", {{"unused", "None"}}};
constexpr Signature kReadOptional{"read_optional_as_required", {{"value", "None"}}};
constexpr Signature kPollAtDepth{"poll_at_depth", {{"depth"}, {"signal_number"}}};

PyResult<Ref> raise_cpp(Args& args) {
    VOK_ASSIGN(std::string_view kind, args.text(0));
    VOK_ASSIGN(std::string_view text, args.text_or(1, ""));
    std::string message(text);
    if (kind == "invariant") VOK_INVARIANT(false, message);
    if (kind == "bad_alloc") throw std::bad_alloc();
    if (kind == "runtime_error") throw std::runtime_error(message);
    if (kind == "int") throw 42;
    return Ref::borrow(Py_None);
}

// Recurses `depth` levels of about a kilobyte each through the stack guard, then raises the signal
// and polls, so that the signal's Python handler runs that deep in the call.
std::size_t descend_and_poll(std::uint64_t depth, int signal_number) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth == 0) {
        std::raise(signal_number);
        vok::poll_cancellation_now();
        return std::size_t(pad[0]);
    }
    return std::size_t(pad[0]) +
           vok::with_stack_room([&] { return descend_and_poll(depth - 1, signal_number); });
}

PyResult<Ref> poll_at_depth(Args& args) {
    VOK_ASSIGN(std::uint64_t depth, args.count(0));
    VOK_ASSIGN(std::uint64_t signal_number, args.count(1));
    descend_and_poll(depth, static_cast<int>(signal_number));
    return Ref::borrow(Py_None);
}

Ref given_or_absent(const Args& args, std::size_t i) {
    if (!args.given(i)) return Ref::steal(PyUnicode_FromString("<absent>"));
    return Ref::borrow(args.raw(i));
}

PyResult<std::tuple<Ref>> bind1(Args& args) {
    return std::tuple<Ref>(given_or_absent(args, 0));
}

PyResult<std::tuple<Ref, Ref>> bind2(Args& args) {
    return std::tuple<Ref, Ref>(given_or_absent(args, 0), given_or_absent(args, 1));
}

PyResult<std::tuple<Ref, Ref, Ref>> bind3(Args& args) {
    return std::tuple<Ref, Ref, Ref>(given_or_absent(args, 0), given_or_absent(args, 1),
                                     given_or_absent(args, 2));
}

PyResult<std::tuple<Ref, Ref, Ref>> bind_required(Args& args) {
    return bind3(args);
}

PyResult<std::string_view> text_arg(Args& args) {
    return args.text(0);
}
PyResult<std::string> owned_text_arg(Args& args) {
    return args.owned_text(0);
}
PyResult<std::optional<std::string_view>> optional_text_arg(Args& args) {
    return args.optional_text(0);
}
PyResult<bool> flag_arg(Args& args) {
    return args.flag(0);
}
PyResult<bool> flag_or_arg(Args& args) {
    return args.flag_or(0, true);
}
PyResult<std::optional<bool>> optional_flag_arg(Args& args) {
    return args.optional_flag(0);
}
PyResult<double> number_arg(Args& args) {
    return args.number(0);
}
PyResult<std::uint64_t> count_arg(Args& args) {
    return args.count_or(0, 4);
}

PyResult<std::string> uuid_arg(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    VOK_ASSIGN(vok::Uuid id, parse_uuid(text));
    return id.to_string();
}

PyResult<std::string> from_id_arg(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    VOK_ASSIGN(vok::Uuid id, parse_uuid(text, "Invalid from_id UUID: "));
    return id.to_string();
}

// Every argument is converted before any is parsed as a UUID.
PyResult<std::pair<std::string, std::string>> two_uuids(Args& args) {
    VOK_ASSIGN(std::string_view owner_text, args.text(0));
    VOK_ASSIGN(std::string_view owned_text, args.text(1));
    VOK_ASSIGN(vok::Uuid owner, parse_uuid(owner_text));
    VOK_ASSIGN(vok::Uuid owned, parse_uuid(owned_text));
    return std::pair(owner.to_string(), owned.to_string());
}

PyResult<Member> make_colour(Args& args) {
    VOK_ASSIGN(std::uint64_t index, args.count(0));
    if (index >= std::size(kColourMembers)) return vok::Err(value_error("no such colour"));
    return Member{kColourClass, std::uint8_t(index)};
}

PyResult<std::uint64_t> colour_index(Args& args) {
    VOK_ASSIGN(std::uint8_t index, args.member(0, kColourClass));
    return std::uint64_t(index);
}

PyResult<std::vector<Cell>> cells(Args& args) {
    VOK_ASSIGN(std::uint64_t count, args.count(0));
    std::vector<Cell> made;
    for (std::uint64_t i = 0; i < count; ++i)
        made.push_back(Cell{i, "cell " + std::to_string(i)});
    return made;
}

PyResult<std::vector<std::string>> labels(Args& args) {
    VOK_ASSIGN(std::uint64_t count, args.count(0));
    std::vector<std::string> made;
    for (std::uint64_t i = 0; i < count; ++i)
        made.push_back("label " + std::to_string(i));
    return made;
}

PyResult<std::pair<std::string, std::string>> pair_texts(Args& args) {
    VOK_ASSIGN(std::string first, args.owned_text(0));
    VOK_ASSIGN(std::string second, args.owned_text(1));
    return std::pair(std::move(first), std::move(second));
}

// A C API call that reported failure without setting an exception.
PyResult<Ref> fetch_without_exception(Args&) {
    return vok::Err(Error::fetch());
}

// A wrapper bug: reading an absent optional argument as if it were required.
PyResult<std::string_view> read_optional_as_required(Args& args) {
    return args.text(0);
}

// Calls Cell.get's entry directly with any receiver, as a descriptor never would: CPython checks
// the receiver of a method taken from the class before the frame runs.
PyResult<Ref> call_cell_get(Args& args) {
    PyObject* result = kCellMethods[0].entry(args.raw(0), nullptr);
    if (result == nullptr) return vok::Err(Error::fetch());
    return Ref::steal(result);
}

const FunctionRow kFunctions[] = {
    function<kRaiseCpp, raise_cpp>("Throw a C++ exception of the given kind inside a call."),
    function<kPollAtDepth, poll_at_depth>(
        "Raise a signal and poll for it at the given depth of the call's recursion."),
    function<kBind1, bind1>(),
    function<kBind2, bind2>(),
    function<kBind3, bind3>(),
    function<kBindRequired, bind_required>(),
    function<kTextArg, text_arg>(),
    function<kOwnedTextArg, owned_text_arg>(),
    function<kOptionalTextArg, optional_text_arg>(),
    function<kFlagArg, flag_arg>(),
    function<kFlagOrArg, flag_or_arg>(),
    function<kOptionalFlagArg, optional_flag_arg>(),
    function<kNumberArg, number_arg>(),
    function<kCountArg, count_arg>(),
    function<kUuidArg, uuid_arg>(),
    function<kFromIdArg, from_id_arg>(),
    function<kTwoUuids, two_uuids>(),
    function<kMakeColour, make_colour>(),
    function<kColourIndex, colour_index>(),
    function<kCells, cells>(),
    function<kLabels, labels>(),
    function<kPairTexts, pair_texts>(),
    function<kCallCellGet, call_cell_get>(),
    function<kReadOptional, read_optional_as_required>(),
    function<kFetchNothing, fetch_without_exception>(),
};

PyModuleDef hooks_definition = {
    PyModuleDef_HEAD_INIT, "_vok_testhooks", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

PyResult<Ref> initialise() {
    Ref module = Ref::steal(PyModule_Create(&hooks_definition));
    if (!module) return vok::Err(Error::fetch());
    for (const ClassSpec* spec : {&kCellClass, &kPairClass, &kColourClass}) {
        VOK_ASSIGN(PyTypeObject * type, make_class(*spec));
        if (PyModule_AddObjectRef(module.get(), spec->name, reinterpret_cast<PyObject*>(type)) !=
            0) {
            return vok::Err(Error::fetch());
        }
    }
    std::vector<const FunctionRow*> rows;
    for (const FunctionRow& row : kFunctions)
        rows.push_back(&row);
    rows.insert(rows.end(), extra_functions().begin(), extra_functions().end());
    for (const FunctionRow* row : rows) {
        VOK_ASSIGN(Ref function, make_function(module.get(), *row));
        std::string name(row->signature->python_name());
        if (PyModule_AddObjectRef(module.get(), name.c_str(), function.get()) != 0) {
            return vok::Err(Error::fetch());
        }
    }
    return module;
}

} // namespace

const ClassSpec kCellClass{
    .name = "Cell",
    .doc = "A mutable test value",
    .layout = layout_of<Cell>(),
    .constructor = constructor<kCellNew, cell_new>(),
    .methods = kCellMethods,
    .getters = kCellGetters,
    .slots = {.repr = unary_slot<cell_repr>},
};

const ClassSpec kPairClass{
    .name = "Pair",
    .layout = layout_of<Pair>(),
    .constructor = constructor<kPairNew, pair_new>(),
    .getters = kPairGetters,
};

} // namespace hooks

PyMODINIT_FUNC PyInit__vok_testhooks() {
    return vok::python::call_frame([] { return hooks::initialise(); });
}
