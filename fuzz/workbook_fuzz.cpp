// The workbook and spreadsheet readers on arbitrary bytes: as a zip archive, its
// members are found in its directory, read once, and unpacked within one bound;
// otherwise the bytes before and after the first NUL are shared strings and a sheet
// (and a workbook and its relationships, and a spreadsheet's content). Nothing
// fails, and the schools of a table without errors write and read back the same.
#include <cstring>

#include "ods.h"
#include "same_schools.h"
#include "workbook.h"
#include "zip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string strings, sheet, content;
    ZipArchive archive;
    if (looksLikeZip(bytes, size) && !openZip(bytes, size, 1 << 20, &archive)) {
        // Within one bound, as an import reads them.
        if (const ZipMember* member = findZipMember(archive, "xl/sharedStrings.xml")) {
            unpackZipMember(&archive, *member, 1 << 19, &strings);
        }
        if (const ZipMember* member = findZipMember(archive, kSheetMember)) {
            unpackZipMember(&archive, *member, 1 << 20, &sheet);
        }
        if (const ZipMember* member = findZipMember(archive, "content.xml")) {
            unpackZipMember(&archive, *member, 1 << 20, &content);
        }
    } else if (!looksLikeZip(bytes, size)) {
        const char* cut = static_cast<const char*>(std::memchr(bytes, '\0', size));
        strings.assign(bytes, cut ? cut : bytes);
        sheet.assign(cut ? cut + 1 : bytes, bytes + size);
    }
    SheetPlace place;
    findFirstSheet(strings, sheet, &place);
    SharedStrings shared;
    readSharedStrings(strings, &shared);
    CheckedSchools parsed, again;
    parseSheet(sheet, shared, &parsed);
    SheetWords words = sheetWords();
    std::string written = sheetHead(parsed.schools.data(), parsed.schools.size(), words);
    char row[kSheetRowRoom];
    for (std::size_t i = 0; i < parsed.schools.size(); ++i) {
        written.append(row, putSheetRow(parsed.schools[i], i + 2, row));
    }
    parseSheet(written + sheetTail(parsed.schools.size(), words), {}, &again);
    requireSameSchools(parsed, again);
    std::string table;
    parseOdsContent(looksLikeZip(bytes, size) ? content : sheet, &table, &parsed);
    const SCHOOL* schools = parsed.schools.data();
    if (firstUnfitForOds(schools, parsed.schools.size()) == parsed.schools.size()) {
        parseOdsContent(odsContent(schools, parsed.schools.size(), words), &table, &again);
        requireSameSchools(parsed, again);
    }
    return 0;
}
