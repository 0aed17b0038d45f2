// The catalog reader on arbitrary bytes: a catalog is opened only when it lies
// within them, and then each of its texts is found; a translation is taken only
// with its original's directives. Nothing reads beyond the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/mo_catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> bytes(data, data + size);
    bytes.push_back('\0');  // for the directives of the bytes as two texts
    const char* second = bytes.data() + std::strlen(bytes.data());
    sameDirectives(bytes.data(), second < bytes.data() + size ? second + 1 : second);
    MoCatalog catalog;
    if (!openMoCatalog(bytes.data(), size, &catalog)) {
        return 0;
    }
    std::uint32_t length = 0;
    for (std::uint32_t i = 0; i < catalog.count; ++i) {
        const char* original = moText(catalog, false, i, &length);
        const char* translated = moText(catalog, true, i, &length);
        if (!original || !translated) {
            std::abort();  // an opened catalog holds every text whole
        }
        const char* found = findInMo(catalog, original);
        if (found && !sameDirectives(original, found)) {
            std::abort();
        }
    }
    return 0;
}
