// Source references; the definitions behind source_ref.h.
#include "semantic_pack/source_ref.h"

#include <tuple>

namespace vok::semantic_pack {

namespace {

constexpr Member<SourceRef> kMembers[] = {
    member<&SourceRef::uri>("uri"),
    member<&SourceRef::start_byte>("start_byte"),
    member<&SourceRef::end_byte>("end_byte"),
    member<&SourceRef::start_line>("start_line"),
    member<&SourceRef::start_col>("start_col"),
    member<&SourceRef::end_line>("end_line"),
    member<&SourceRef::end_col>("end_col"),
};
constexpr auto kLayout = record_layout("struct SourceRef", kMembers);

} // namespace

SourceRef SourceRef::from_uri(std::string_view uri) {
    SourceRef ref;
    ref.uri = std::string(uri);
    return ref;
}

VOK_RECORD_JSON(SourceRef, kLayout)

std::string SourceRef::serialize() const {
    return record_text(*this, kLayout);
}

SourceRef pack_source_ref(std::string_view pack_id) {
    return SourceRef::from_uri("brisvandole://semantic-pack/" + std::string(pack_id));
}

bool source_ref_less(const SourceRef& a, const SourceRef& b) {
    return std::tie(a.uri, a.start_byte, a.end_byte) < std::tie(b.uri, b.start_byte, b.end_byte);
}

void write_value_source_refs_entry(json::Object& object, const std::vector<SourceRef>& refs) {
    json::Array items;
    items.reserve(refs.size());
    for (const SourceRef& ref : refs) {
        json::Object item;
        item.insert_or_assign("uri", json::Value(ref.uri));
        item.insert_or_assign("start_byte", json::Value::from_u64(ref.start_byte));
        item.insert_or_assign("end_byte", json::Value::from_u64(ref.end_byte));
        item.insert_or_assign("start_line", json::Value::from_u64(ref.start_line));
        item.insert_or_assign("start_col", json::Value::from_u64(ref.start_col));
        item.insert_or_assign("end_line", json::Value::from_u64(ref.end_line));
        item.insert_or_assign("end_col", json::Value::from_u64(ref.end_col));
        items.emplace_back(std::move(item));
    }
    object.insert_or_assign("source_refs", json::Value(std::move(items)));
}

} // namespace vok::semantic_pack
