// Catalogs in the binary form that msgfmt writes (.mo), read in place: for a
// program that carries its catalog inside, where the system has no gettext.
#pragma once

#include <cstddef>
#include <cstdint>

struct MoCatalog {
    const char* bytes = nullptr;
    std::size_t size = 0;
    std::uint32_t count = 0;         // of texts, the header among them
    std::uint32_t originals = 0;     // where the table of the originals starts
    std::uint32_t translations = 0;  // and that of their translations
};

// Checks the header of a little-endian catalog; false for anything else.
bool openMoCatalog(const char* bytes, std::size_t size, MoCatalog* catalog);
// The original (false) or translated (true) text number `index`, NUL-terminated,
// with its length; null where the catalog does not hold it whole.
const char* moText(const MoCatalog& catalog, bool translated, std::uint32_t index,
                   std::uint32_t* length);
// The translation of `text`, found by binary search among the sorted originals;
// null when there is none.
const char* findInMo(const MoCatalog& catalog, const char* text);
