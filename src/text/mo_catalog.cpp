// The .mo format: a header of 32-bit words (magic, revision, count, offsets of the
// two tables, size and offset of a hash table), then per text a length and an
// offset; the originals come sorted byte-wise, each text ends in a NUL.
#include "text/mo_catalog.h"

#include <cstring>
#include <string>

namespace {

const std::uint32_t kMagic = 0x950412de, kSwappedMagic = 0xde120495;
// The header's words, by their offset.
constexpr std::size_t kRevision = 4, kCount = 8, kOriginals = 12, kTranslations = 16;
constexpr std::size_t kHashSize = 20, kHashTable = 24, kHeaderSize = 28;
// Revision 1 adds texts that depend on the system, after these words; none is read.
constexpr std::size_t kSystemTexts = 36, kRevisionOneHeader = 48;

std::uint32_t wordAt(const char* bytes, std::size_t at, bool swapped) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes) + at;
    return swapped ? static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]
                   : p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool within(std::size_t at, std::size_t bytes, std::size_t size) {
    return at <= size && size - at >= bytes;
}

// What a directive takes, from just after its '%': its argument's position, a '*'
// for each star, the length and the conversion. Moves past it.
std::string directiveAt(const char** p) {
    std::string kind;
    const char* at = *p;
    auto digits = [&] {
        while (*at >= '0' && *at <= '9') {
            kind.push_back(*at++);
        }
    };
    digits();
    if (*at == '$') {
        kind.push_back(*at++);
    } else {
        kind.clear();  // a width, not a position
    }
    while (*at && std::strchr("-+ #0'I", *at)) {
        ++at;
    }
    for (int part = 0; part < 2; ++part) {  // the width, then the precision
        if (part == 1 && *at != '.') {
            break;
        }
        at += part;
        if (*at == '*') {
            kind.push_back(*at++);
            std::size_t before = kind.size();
            digits();
            if (*at != '$') {
                kind.resize(before);
            } else {
                kind.push_back(*at++);
            }
        }
        while (*at >= '0' && *at <= '9') {
            ++at;
        }
    }
    while (*at && std::strchr("hlLqjzt", *at)) {
        kind.push_back(*at++);
    }
    if (*at) {
        kind.push_back(*at++);
    }
    *p = at;
    return kind;
}

}  // namespace

bool openMoCatalog(const char* bytes, std::size_t size, MoCatalog* catalog) {
    if (size < kHeaderSize) {
        return false;
    }
    std::uint32_t magic = wordAt(bytes, 0, false);
    bool swapped = magic == kSwappedMagic;
    if (magic != kMagic && !swapped) {
        return false;
    }
    auto word = [&](std::size_t at) { return wordAt(bytes, at, swapped); };
    std::uint32_t revision = word(kRevision);
    if (revision > 1 && !(revision == 1 && size >= kRevisionOneHeader && word(kSystemTexts) == 0)) {
        return false;
    }
    MoCatalog read{bytes, size, swapped, word(kCount), word(kOriginals), word(kTranslations)};
    std::size_t tableSize = std::size_t{8} * read.count;
    if (!within(read.originals, tableSize, size) || !within(read.translations, tableSize, size) ||
        !within(word(kHashTable), std::size_t{4} * word(kHashSize), size)) {
        return false;
    }
    std::uint32_t length = 0;
    for (std::uint32_t i = 0; i < read.count; ++i) {
        if (!moText(read, false, i, &length) || !moText(read, true, i, &length)) {
            return false;
        }
    }
    for (std::uint32_t i = 0; i < word(kHashSize); ++i) {
        if (word(word(kHashTable) + 4 * std::size_t{i}) > read.count) {
            return false;  // an entry is a text's index + 1, or 0
        }
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
    std::uint32_t size = wordAt(catalog.bytes, entry, catalog.swapped);
    std::uint32_t at = wordAt(catalog.bytes, entry + 4, catalog.swapped);
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
            return translation && length > 0 && sameDirectives(text, translation) ? translation
                                                                                  : nullptr;
        }
        if (order < 0) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return nullptr;
}

bool sameDirectives(const char* original, const char* translation) {
    const char* a = original;
    const char* b = translation;
    for (;;) {
        a = std::strchr(a, '%');
        b = std::strchr(b, '%');
        while (a && a[1] == '%') {
            a = std::strchr(a + 2, '%');
        }
        while (b && b[1] == '%') {
            b = std::strchr(b + 2, '%');
        }
        if (!a || !b) {
            return !a && !b;
        }
        ++a;
        ++b;
        if (directiveAt(&a) != directiveAt(&b)) {
            return false;
        }
    }
}
