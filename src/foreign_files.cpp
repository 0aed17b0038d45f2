// Foreign files recognised by content, never by their names.
#include "foreign_files.h"

#include <cstring>

#include "funcs.h"
#include "text/ascii.h"
#include "translate.h"
#include "zip.h"

const char kLockedWorkbook[] =
    N_("a workbook locked with a password: save it without the password and import that");

namespace {

constexpr unsigned char kCompoundMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
// A compound file's header, after which its directory entries are looked for.
constexpr std::size_t kCompoundHeaderSize = 512;
// The fields of a directory entry, by their offset from its start: the name in
// UTF-16 first, its size in bytes (its NUL counted), the entry's type.
namespace entry_field {
constexpr std::size_t kName = 0, kNameSize = 64, kType = 66, kSize = 128;
}
constexpr unsigned char kStreamEntry = 2;

// Whether a compound file holds a stream of that name (in any case). Its directory
// entries lie at multiples of an entry's size after the header.
bool holdsStream(const std::string& bytes, const char* name) {
    std::size_t length = std::strlen(name);
    for (std::size_t at = kCompoundHeaderSize; at + entry_field::kSize <= bytes.size();
         at += entry_field::kSize) {
        const unsigned char* entry = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const unsigned char* size = entry + entry_field::kNameSize;
        if (entry[entry_field::kType] != kStreamEntry ||
            static_cast<std::size_t>(size[0] | size[1] << 8) != 2 * (length + 1)) {
            continue;
        }
        std::size_t i = 0;
        for (; i < length; ++i) {
            const unsigned char* unit = entry + entry_field::kName + 2 * i;  // little-endian
            if (unit[1] != 0 || lowerAscii(static_cast<char>(unit[0])) != lowerAscii(name[i])) {
                break;
            }
        }
        if (i == length) {
            return true;
        }
    }
    return false;
}

// A school file: whole records, and NUL bytes (a text's filling, a number's high
// bytes), which no text file of a spreadsheet holds without a byte-order mark.
bool looksLikeSchoolFile(const std::string& bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    bool marked =
        bytes.size() >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF));
    return !bytes.empty() && bytes.size() % sizeof(SCHOOL) == 0 && !marked &&
           std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
}

}  // namespace

const char* foreignFile(const std::string& bytes) {
    if (bytes.size() >= kCompoundHeaderSize &&
        std::memcmp(bytes.data(), kCompoundMagic, sizeof kCompoundMagic) == 0) {
        if (holdsStream(bytes, "EncryptedPackage")) {
            return kLockedWorkbook;
        }
        if (holdsStream(bytes, "Workbook") || holdsStream(bytes, "Book")) {
            return N_(
                "an Excel 97-2003 workbook (.xls), which is not read here: save it as "
                ".xlsx and import that");
        }
        return N_(
            "a compound file of an old Office program, no workbook: save the table as "
            ".xlsx or .ods and import that");
    }
    if (looksLikeSchoolFile(bytes)) {
        return N_("a school file, no table of schools: --export writes a school file out");
    }
    return nullptr;
}

const char* foreignZip(const std::string& bytes) {
    std::string probe;
    const char* fault = readZipMember(bytes.data(), bytes.size(), "xl/workbook.bin", 0, &probe);
    if (fault != kNoSuchMember) {
        return N_("an Excel binary workbook (.xlsb): save it as .xlsx and import that");
    }
    return N_(
        "a zip archive that is no workbook (.xlsx) or spreadsheet (.ods): save the table "
        "as one of them and import that");
}

bool isEncryptedOds(const std::string& bytes) {
    std::string manifest;
    readZipMember(bytes.data(), bytes.size(), "META-INF/manifest.xml", 1 << 20, &manifest);
    return manifest.find("encryption-data") != std::string::npos;
}
