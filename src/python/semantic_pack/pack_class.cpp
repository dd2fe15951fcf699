// Wrappers of SemanticPack; see pack_class.h.
#include "python/semantic_pack/pack_class.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "python/binding/binding.h"
#include "python/enumerations.h"
#include "python/semantic_pack/pack_arguments.h"

namespace vok::python {

namespace {

using semantic_pack::SemanticPack;

constexpr Signature kFromJson{"SemanticPack.from_json", {{"json"}}};
constexpr Signature kToJson{"SemanticPack.to_json"};
constexpr Signature kPackId{"SemanticPack.pack_id"};
constexpr Signature kSchemaVersion{"SemanticPack.schema_version"};
constexpr Signature kMeaningVersion{"SemanticPack.meaning_version"};
constexpr Signature kMeaningFingerprint{"SemanticPack.meaning_fingerprint"};
constexpr Signature kApprovalState{"SemanticPack.approval_state"};
constexpr Signature kSignatureState{"SemanticPack.signature_state"};
constexpr Signature kConceptCount{"SemanticPack.concept_count"};
constexpr Signature kAliasCount{"SemanticPack.alias_count"};
constexpr Signature kPackContentHash{"SemanticPack.pack_content_hash"};

PyResult<SemanticPack> from_json(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    return read_pack(text);
}

// Writing into memory cannot fail, so there is no "Serialization error: " path to take.
PyResult<std::string> to_json(const SemanticPack& self) {
    return self.serialize();
}

template <std::string SemanticPack::*Field>
PyResult<std::string_view> text_field(const SemanticPack& self) {
    return std::string_view(self.*Field);
}

PyResult<Member> approval_state(const SemanticPack& self) {
    return member(enums::kApprovalState, self.trust.approval_state);
}

PyResult<Member> signature_state(const SemanticPack& self) {
    return member(enums::kSignatureState, self.trust.signature_state);
}

PyResult<std::uint64_t> concept_count(const SemanticPack& self) {
    return std::uint64_t(self.concepts.size());
}

PyResult<std::uint64_t> alias_count(const SemanticPack& self) {
    return std::uint64_t(self.aliases.size());
}

PyResult<std::string> pack_content_hash(const SemanticPack& self) {
    return self.content_hash();
}

// The id stands between the quotes as it is, without escaping.
PyResult<std::string> pack_repr(const SemanticPack& self) {
    return "<SemanticPack('" + self.pack_id + "')>";
}

const MethodRow kMethods[] = {
    static_method<kFromJson, from_json>(),
    method<kToJson, to_json>(),
    method<kPackId, text_field<&SemanticPack::pack_id>>(),
    method<kSchemaVersion, text_field<&SemanticPack::schema_version>>(),
    method<kMeaningVersion, text_field<&SemanticPack::meaning_version>>(),
    method<kMeaningFingerprint, text_field<&SemanticPack::meaning_fingerprint>>(),
    method<kApprovalState, approval_state>(),
    method<kSignatureState, signature_state>(),
    method<kConceptCount, concept_count>(),
    method<kAliasCount, alias_count>(),
    method<kPackContentHash, pack_content_hash>(),
};

} // namespace

const ClassSpec kSemanticPackClass{.name = "SemanticPack",
                                   .layout = layout_of<SemanticPack>(),
                                   .methods = kMethods,
                                   .slots = {.repr = unary_slot<pack_repr>}};

} // namespace vok::python
