// Making policies and reading policy JSON; see policy.h. Relies on concept ids for `make` and on
// the typed JSON reader and expression_json for the document form.
#include "expression/policy.h"

#include "concept_id/concept_id.h"
#include "expression/expression_json.h"
#include "json/text_deserializer.h"

namespace vok {

Policy Policy::make(std::string name, std::string namespace_name, Expression expression) {
    Uuid id = concept_id_for(namespace_name, name);
    return Policy{id,
                  std::move(name),
                  std::move(namespace_name),
                  SemanticVersion{1, 0, 0},
                  std::move(expression),
                  DeonticModality::Obligation,
                  PolicyKind::Constraint,
                  0,
                  std::nullopt,
                  {}};
}

Result<Uuid, json::Error> read_uuid(json::Deserializer& de) {
    VOK_ASSIGN(std::string text, de.read_string("a UUID string"));
    auto id = Uuid::parse(text);
    if (!id.ok())
        return Err(de.positioned(json::custom_error("UUID parsing failed: " + id.error())));
    return *id;
}

Result<Policy, json::Error> read_policy(json::Deserializer& de) {
    Uuid id;
    std::string name, namespace_name;
    SemanticVersion version;
    std::optional<Expression> expression;
    DeonticModality modality = DeonticModality::Obligation;
    PolicyKind kind = PolicyKind::Constraint;
    int32_t priority = 0;
    std::optional<std::string> rationale;
    std::vector<std::string> tags;

    using json::Deserializer;
    using json::Status;
    json::Field fields[] = {
        {"id", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(id, read_uuid(d));
             return Ok();
         }},
        {"name", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(name, json::read_string(d));
             return Ok();
         }},
        {"namespace", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(namespace_name, json::read_string(d));
             return Ok();
         }},
        {"version", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(version, read_semantic_version(d));
             return Ok();
         }},
        {"expression", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(Expression e, read_expression(d));
             expression.emplace(std::move(e));
             return Ok();
         }},
        {"modality", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(size_t i, json::read_unit_enum(d, kDeonticModalityNames));
             modality = static_cast<DeonticModality>(i);
             return Ok();
         }},
        {"kind", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(size_t i, json::read_unit_enum(d, kPolicyKindNames));
             kind = static_cast<PolicyKind>(i);
             return Ok();
         }},
        {"priority", false,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(priority, json::read_i32(d));
             return Ok();
         }},
        {"rationale", true,
         [&](Deserializer& d) -> Status {
             VOK_ASSIGN(std::string r, json::read_string(d));
             rationale = std::move(r);
             return Ok();
         }},
        {"tags", false,
         [&](Deserializer& d) -> Status {
             tags.clear();
             return json::read_seq(d, "a sequence", [&](Deserializer& e) -> Status {
                 VOK_ASSIGN(std::string t, json::read_string(e));
                 tags.push_back(std::move(t));
                 return Ok();
             });
         }},
    };
    VOK_TRY(json::read_struct(de, "struct Policy", fields));
    return Policy{id,
                  std::move(name),
                  std::move(namespace_name),
                  version,
                  std::move(*expression),
                  modality,
                  kind,
                  priority,
                  std::move(rationale),
                  std::move(tags)};
}

Result<Policy, json::Error> Policy::deserialize(std::string_view json_text) {
    return json::read_document(json_text, &read_policy);
}

} // namespace vok
