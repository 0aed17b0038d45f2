// Translations on Windows, which has no gettext: the catalog compiled from
// po/bg.po is built into the program, chosen by the user's interface language,
// and its texts turned once into code page 1251, which the console shows.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <vector>

#include "text/codepage.h"
#include "text/mo_catalog.h"
#include "translate.h"

// Made at build time from the catalog's bytes (cmake/embed-catalog.cmake).
extern const char kBulgarianCatalog[];
extern const std::size_t kBulgarianCatalogSize;

namespace {

std::vector<char> converted;  // the catalog with its translations in code page 1251
MoCatalog catalog;

}  // namespace

void startTranslations() {
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) != LANG_BULGARIAN) {
        return;
    }
    converted.assign(kBulgarianCatalog, kBulgarianCatalog + kBulgarianCatalogSize);
    if (!openMoCatalog(converted.data(), converted.size(), &catalog)) {
        catalog = MoCatalog{};
        return;
    }
    // Never longer than the UTF-8: each is converted where it stands.
    std::uint32_t length = 0;
    for (std::uint32_t i = 0; i < catalog.count; ++i) {
        if (const char* text = moText(catalog, true, i, &length)) {
            std::string cp1251 = utf8ToCp1251(std::string(text, length));
            std::memcpy(const_cast<char*>(text), cp1251.c_str(), cp1251.size() + 1);
        }
    }
}

const char* translate(const char* text) {
    const char* translation = catalog.count > 0 ? findInMo(catalog, text) : nullptr;
    return translation ? translation : text;
}
