// Fuzzes the authority request reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "authority/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)vok::authority::AuthorityRequest::deserialize(text);
    return 0;
}
