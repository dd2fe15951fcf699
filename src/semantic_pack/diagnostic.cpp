// Semantic diagnostics; the definitions behind diagnostic.h.
#include "semantic_pack/diagnostic.h"

#include <exception>
#include <tuple>

#include "json/writer.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<Suggestion> kSuggestionMembers[] = {
    member<&Suggestion::label>("label"),
    member<&Suggestion::rank>("rank"),
};
constexpr auto kSuggestionLayout = record_layout("struct Suggestion", kSuggestionMembers);

constexpr Member<SemanticDiagnostic> kDiagnosticMembers[] = {
    member<&SemanticDiagnostic::code>("code"),
    member<&SemanticDiagnostic::severity>("severity"),
    member<&SemanticDiagnostic::semantic_truth>("semantic_truth"),
    member<&SemanticDiagnostic::message>("message"),
    member<&SemanticDiagnostic::source_ref>("source_ref"),
    member<&SemanticDiagnostic::pack_ref>("pack_ref"),
    defaulted_member<&SemanticDiagnostic::suggestions>("suggestions"),
    member<&SemanticDiagnostic::recoverability_hint>("recoverability_hint"),
};
constexpr auto kDiagnosticLayout = record_layout("struct SemanticDiagnostic", kDiagnosticMembers);

} // namespace

VOK_RECORD_JSON(Suggestion, kSuggestionLayout)

VOK_RECORD_JSON(SemanticDiagnostic, kDiagnosticLayout)

std::string diagnostic_to_json_string(const SemanticDiagnostic& diagnostic) {
    try {
        return record_text(diagnostic, kDiagnosticLayout);
    } catch (const std::bad_alloc&) {
        std::string fallback = "{\"message\":";
        json::append_quoted(fallback, diagnostic.message);
        fallback += '}';
        return fallback;
    }
}

bool diagnostic_less(const SemanticDiagnostic& a, const SemanticDiagnostic& b) {
    return std::forward_as_tuple(a.source_ref.uri, a.source_ref.start_byte, json_name(a.code),
                                 a.message) < std::forward_as_tuple(b.source_ref.uri,
                                                                    b.source_ref.start_byte,
                                                                    json_name(b.code), b.message);
}

bool suggestion_less(const Suggestion& a, const Suggestion& b) {
    if (a.rank != b.rank) return a.rank > b.rank;
    return a.label < b.label;
}

} // namespace vok::semantic_pack
