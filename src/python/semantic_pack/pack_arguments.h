// Reading the pack and options texts that the pack functions take, with the prefixes their
// errors carry: "Invalid pack JSON: " and "Invalid options JSON: ", followed by the reader's
// message and position.
#pragma once

#include <string_view>

#include "python/binding/args.h"
#include "semantic_pack/semantic_pack.h"
#include "semantic_pack/validation_options.h"

namespace vok::python {

PyResult<semantic_pack::SemanticPack> read_pack(std::string_view text);
PyResult<semantic_pack::ValidationOptions> read_options(std::string_view text);

// The pack given as argument `i`.
PyResult<semantic_pack::SemanticPack> pack_argument(Args& args, std::size_t i);

} // namespace vok::python
