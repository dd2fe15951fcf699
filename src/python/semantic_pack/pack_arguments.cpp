// Reading the pack and options texts that the pack functions take, with the prefixes their errors
// carry; the definitions behind pack_arguments.h.
#include "python/semantic_pack/pack_arguments.h"

#include "python/binding/binding.h"
#include "python/core_errors.h"

namespace vok::python {

PyResult<semantic_pack::SemanticPack> read_pack(std::string_view text) {
    return core_result(semantic_pack::parse_semantic_pack(text),
                       messages::prefix::kInvalidPackJson);
}

PyResult<semantic_pack::ValidationOptions> read_options(std::string_view text) {
    return core_result(semantic_pack::ValidationOptions::deserialize(text),
                       messages::prefix::kInvalidOptionsJson);
}

PyResult<semantic_pack::SemanticPack> pack_argument(Args& args, std::size_t i) {
    VOK_ASSIGN(std::string_view text, args.text(i));
    return read_pack(text);
}

} // namespace vok::python
