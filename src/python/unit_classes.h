// The Python classes Unit and Dimension.
//
// Two small value classes that show Python code the units of measure and dimensions of the
// semantic model. Each object owns its own core value and never changes. They are standalone:
// making a Unit does not register it anywhere (the process-wide unit registry grows only from its
// default table and from lowering), and no other method takes or returns one; resources name
// their unit by symbol.
#pragma once

#include "python/binding/class_spec.h"
#include "units/dimension.h"
#include "units/unit.h"

namespace vok::python {

extern const ClassSpec kDimensionClass;
extern const ClassSpec kUnitClass;

} // namespace vok::python

VOK_PY_CLASS(vok::Dimension, vok::python::kDimensionClass);
VOK_PY_CLASS(vok::Unit, vok::python::kUnitClass);
