// The module functions sign_pack and verify_pack_signature.
//
// Both take the pack document and a PEM key as text. `sign_pack` returns the signed document; an
// unreadable pack is a ValueError "Invalid pack JSON: ..." and a key it cannot decode a ValueError
// "Signing error: KeyParseError(...)". `verify_pack_signature` answers True or False; only an
// unreadable pack raises.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kSignPack;
extern const FunctionRow kVerifyPackSignature;

} // namespace vok::python
