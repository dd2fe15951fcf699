// Lookup keys: how a pack compares the names it governs.
//
// A concept's canonical name, an alias and a mapping rule's source term are matched through their
// lookup key: the text in Unicode Normalization Form C (canonical composition only: a ligature or
// a full-width letter stays as it is), its runs of White_Space characters collapsed to one U+0020
// with none left at either end, then fully lower-cased (final sigma and U+0130 included; see
// common/unicode_case.h). The lower-cased text is not normalised again.
#pragma once

#include <string>
#include <string_view>

namespace vok::semantic_pack {

// The lookup key of any text. Bytes that are not valid UTF-8 are kept as they are (such text is
// not normalised).
std::string normalize_key(std::string_view text);

} // namespace vok::semantic_pack
