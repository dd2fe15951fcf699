// Reading the pack and options texts that the pack functions take, with the prefixes their errors
// carry; the definitions behind pack_arguments.h.
#include "python/semantic_pack/pack_arguments.h"

#include "python/binding/binding.h"

namespace vok::python {

PyResult<semantic_pack::SemanticPack> read_pack(std::string_view text) {
    auto pack = semantic_pack::parse_semantic_pack(text);
    if (!pack.ok()) return vok::Err(value_error("Invalid pack JSON: ", pack.error().to_string()));
    return std::move(*pack);
}

PyResult<semantic_pack::ValidationOptions> read_options(std::string_view text) {
    auto options = semantic_pack::ValidationOptions::deserialize(text);
    if (!options.ok())
        return vok::Err(value_error("Invalid options JSON: ", options.error().to_string()));
    return *options;
}

PyResult<semantic_pack::SemanticPack> pack_argument(Args& args, std::size_t i) {
    VOK_ASSIGN(std::string_view text, args.text(i));
    return read_pack(text);
}

} // namespace vok::python
