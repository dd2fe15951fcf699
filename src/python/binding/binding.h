// The binding layer in one include: what a class, method or module function of vok_dsl needs.
//
// How to declare a class (see rows.h for the wrapper shapes):
//
//   constexpr Signature kNew{"Entity.__new__", {{"name"}, {"namespace", "None"}}};
//   constexpr Signature kGetAttribute{"Entity.get_attribute", {{"key"}}};
//   PyResult<Entity> construct(Args& args);
//   PyResult<Ref> get_attribute(const Entity& self, Args& args);
//   PyResult<std::string> id(const Entity& self);
//
//   const MethodRow kMethods[] = {method<kGetAttribute, get_attribute>()};
//   const GetterRow kGetters[] = {property<id>("id")};
//   const ClassSpec kEntityClass{.name = "Entity", .layout = layout_of<Entity>(),
//                                .constructor = constructor<kNew, construct>(),
//                                .methods = kMethods, .getters = kGetters,
//                                .slots = {.repr = unary_slot<entity_repr>}};
//   VOK_PY_CLASS(vok::Entity, vok::python::kEntityClass);   // in the header, global scope
#pragma once

#include "python/binding/args.h"
#include "python/binding/call_frame.h"
#include "python/binding/class_spec.h"
#include "python/binding/convert.h"
#include "python/binding/enumeration.h"
#include "python/binding/error.h"
#include "python/binding/function.h"
#include "python/binding/messages.h"
#include "python/binding/ref.h"
#include "python/binding/rows.h"
#include "python/binding/signature.h"
#include "python/binding/uuid_arg.h"
