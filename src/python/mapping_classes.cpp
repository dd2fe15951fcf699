// Wrappers of Mapping and Projection; see mapping_classes.h.
#include "python/mapping_classes.h"

#include <string>
#include <string_view>

#include "primitives/target_format.h"
#include "python/record_members.h"

namespace vok::python {

namespace {

using namespace records;

template <class T> PyResult<std::string> target_repr(const T& self, std::string_view class_name) {
    return std::string(class_name) + "(name='" + self.name + "', target_format='" +
           std::string(display_name_of(self.target_format)) + "')";
}

PyResult<std::string> mapping_repr(const Mapping& self) {
    return target_repr(self, "Mapping");
}

PyResult<std::string> projection_repr(const Projection& self) {
    return target_repr(self, "Projection");
}

const GetterRow kMappingGetters[] = {
    property<text<Mapping, &Mapping::name>>("name"),
    property<target_format<Mapping>>("target_format"),
};
const GetterRow kProjectionGetters[] = {
    property<text<Projection, &Projection::name>>("name"),
    property<target_format<Projection>>("target_format"),
};

} // namespace

const ClassSpec kMappingClass{.name = "Mapping",
                              .layout = layout_of<Mapping>(),
                              .getters = kMappingGetters,
                              .slots = {.repr = unary_slot<mapping_repr>}};

const ClassSpec kProjectionClass{.name = "Projection",
                                 .layout = layout_of<Projection>(),
                                 .getters = kProjectionGetters,
                                 .slots = {.repr = unary_slot<projection_repr>}};
} // namespace vok::python
