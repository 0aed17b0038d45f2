// The .mo format: a header of 32-bit words (magic, revision, count, offsets of the
// two tables), then per text a length and an offset; the originals come sorted
// byte-wise, each text ends in a NUL.
#include "text/mo_catalog.h"

#include <cstring>

namespace {

const std::uint32_t kMagic = 0x950412de;

std::uint32_t wordAt(const char* bytes, std::size_t at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes) + at;
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

bool openMoCatalog(const char* bytes, std::size_t size, MoCatalog* catalog) {
    if (size < 20 || wordAt(bytes, 0) != kMagic) {
        return false;
    }
    MoCatalog read{bytes, size, wordAt(bytes, 8), wordAt(bytes, 12), wordAt(bytes, 16)};
    std::size_t tableSize = std::size_t{8} * read.count;
    if (read.originals > size || size - read.originals < tableSize || read.translations > size ||
        size - read.translations < tableSize) {
        return false;
    }
    *catalog = read;
    return true;
}

const char* moText(const MoCatalog& catalog, bool translated, std::uint32_t index,
                   std::uint32_t* length) {
    if (index >= catalog.count) {
        return nullptr;
    }
    std::size_t entry = (translated ? catalog.translations : catalog.originals) + 8 * index;
    std::uint32_t size = wordAt(catalog.bytes, entry);
    std::uint32_t at = wordAt(catalog.bytes, entry + 4);
    if (at >= catalog.size || catalog.size - at <= size || catalog.bytes[at + size] != '\0') {
        return nullptr;
    }
    *length = size;
    return catalog.bytes + at;
}

const char* findInMo(const MoCatalog& catalog, const char* text) {
    std::uint32_t low = 0, high = catalog.count, length = 0;
    while (low < high) {
        std::uint32_t middle = low + (high - low) / 2;
        const char* original = moText(catalog, false, middle, &length);
        if (!original) {
            return nullptr;
        }
        int order = std::strcmp(text, original);
        if (order == 0) {
            const char* translation = moText(catalog, true, middle, &length);
            return translation && length > 0 ? translation : nullptr;
        }
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return nullptr;
}
