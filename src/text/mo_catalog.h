// Catalogs in the binary form that msgfmt writes (.mo), read in place: for a
// program that carries its catalog inside, where the system has no gettext, and
// checked whole before the system's gettext is given one.
#pragma once

#include <cstddef>
#include <cstdint>

struct MoCatalog {
    const char* bytes = nullptr;
    std::size_t size = 0;
    bool swapped = false;            // written on a machine of the other byte order
    std::uint32_t count = 0;         // of texts, the header among them
    std::uint32_t originals = 0;     // where the table of the originals starts
    std::uint32_t translations = 0;  // and that of their translations
};

// Checks the catalog whole: its header, and that every text and the hash table
// lie within its bytes, each text ending in a NUL. False for anything else, which
// is then not to be used at all.
bool openMoCatalog(const char* bytes, std::size_t size, MoCatalog* catalog);
// The original (false) or translated (true) text number `index`, NUL-terminated,
// with its length; null where the catalog does not hold it whole.
const char* moText(const MoCatalog& catalog, bool translated, std::uint32_t index,
                   std::uint32_t* length);
// The translation of `text`, found by binary search among the sorted originals;
// null when there is none, or when it is no format of the original's directives.
const char* findInMo(const MoCatalog& catalog, const char* text);

// Whether the translation takes the arguments that the printf format `original`
// does: the same directives (without their flags, widths and precisions) in the
// same order, each '*' among them. A translation that does not would read
// arguments of other types, or more of them, than the program passes.
bool sameDirectives(const char* original, const char* translation);
