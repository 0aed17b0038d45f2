// --import: a CSV file, a workbook or a spreadsheet read whole, recognised by its
// content, its schools written as command 2 writes when every cell is right; every
// failure said on standard error, with status 1.
#include "spreadsheet.h"

#include <vector>

#include "console.h"
#include "conversion_files.h"
#include "csv.h"
#include "files/school_files.h"
#include "foreign_files.h"
#include "funcs.h"
#include "ods.h"
#include "text/ascii.h"
#include "text/codepage.h"
#include "text/utf8.h"
#include "translate.h"
#include "workbook.h"
#include "zip.h"

namespace {

// Far beyond 20480 rows of the longest cells, short of what could exhaust memory.
constexpr std::size_t kImportLimit = std::size_t{64} << 20;
// All parts of an archive together, the one bound: far beyond those of 20480 rows
// of the longest cells; a bomb stops there.
constexpr std::size_t kMemberLimit = kImportLimit;
const char* const kTooLargeInAll =
    N_("parts that unpack to more than 64 MiB in all, more than any list of schools takes");

// "Sheet1!C7", the sheet's name quoted where a formula would quote it (letters of
// any script need no quotes), its control characters, which no spreadsheet puts
// there, shown as '?'.
std::string cellPlace(std::string sheet, std::size_t row, std::size_t column) {
    bool plain = !sheet.empty() && !(sheet[0] >= '0' && sheet[0] <= '9');
    maskUtf8Controls(&sheet);
    for (char c : sheet) {
        plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c < 0 ||
                          (c >= '0' && c <= '9') || c == '_' || c == '.');  // c < 0: not ASCII
    }
    return (plain ? sheet : quotedSheetName(sheet)) + "!" + cellName(row, column);
}

// The first sheet of a workbook, its cells checked into schools; returns null, or
// what keeps the archive from being read (kNoSuchMember: it is no workbook).
const char* readWorkbook(const std::string& bytes, std::string* sheetName, CheckedSchools* parsed) {
    ZipArchive archive;
    const char* fault = openZip(bytes.data(), bytes.size(), kMemberLimit, &archive);
    auto unpack = [&](const std::string& name, std::string* out) {
        const ZipMember* member = fault ? nullptr : findZipMember(archive, name);
        fault = fault    ? fault
                : member ? unpackZipMember(&archive, *member, kMemberLimit, out)
                         : kNoSuchMember;
        fault = fault == kTooLargeMember ? kTooLargeInAll : fault;
    };
    std::string workbook, relationships, sheet, strings;
    unpack(kWorkbookMember, &workbook);
    unpack("xl/_rels/workbook.xml.rels", &relationships);
    SheetPlace place;
    if (!fault) {
        fault = findFirstSheet(workbook, relationships, &place);
    }
    workbook = relationships = std::string();
    if (!place.sharedStrings.empty()) {
        unpack(place.sharedStrings, &strings);
    }
    unpack(place.member, &sheet);
    if (fault) {
        return fault;
    }
    SharedStrings shared;
    readSharedStrings(strings, &shared);
    strings = std::string();
    parseSheet(sheet, shared, parsed);
    *sheetName = place.name;
    return nullptr;
}

// The first errors or warnings, each as FILE:PLACE: what, then how many more.
void printFindings(const std::string& file, const std::vector<CellFinding>& shown,
                   std::size_t count, bool warnings, const std::string* sheet) {
    for (const CellFinding& error : shown) {
        std::string place = sheet ? cellPlace(*sheet, error.line, error.column)
                                  : std::to_string(error.line) + ":" + std::to_string(error.column);
        printError(warnings ? _("%s:%s: warning: %s\n") : "%s:%s: %s\n", file.c_str(),
                   place.c_str(), error.what.c_str());
    }
    if (count > shown.size()) {
        std::size_t more = count - shown.size();
        const char* format =
            warnings ? (more == 1 ? _("%s: %lu more warning\n") : _("%s: %lu more warnings\n"))
                     : (more == 1 ? _("%s: %lu more error\n") : _("%s: %lu more errors\n"));
        printError(format, file.c_str(), static_cast<unsigned long>(more));
    }
}

// A zip archive: a spreadsheet by its mimetype, else a workbook, else named for
// what it is. Returns null, or what keeps its table from being read.
const char* readArchive(const std::string& bytes, std::string* sheet, CheckedSchools* parsed) {
    std::string mimetype;
    readZipMember(bytes.data(), bytes.size(), "mimetype", 256, &mimetype);
    if (isOdsMimetype(mimetype)) {
        return isEncryptedOds(bytes) ? kLockedWorkbook
                                     : readOds(bytes, kMemberLimit, sheet, parsed);
    }
    const char* fault = readWorkbook(bytes, sheet, parsed);
    return fault == kNoSuchMember ? foreignZip(bytes) : fault;
}

}  // namespace

void importSchools(const std::string& csvFile, const std::string& schoolFile) {
    setBinaryStreams();
    std::string shown = csvFile == "-" ? _("standard input") : csvFile;
    Reason reason;
    std::FILE* stream = csvFile == "-" ? stdin : openForReading(csvFile, &reason);
    std::string bytes;
    if (!stream || (reason.error = readWhole(stream, kImportLimit, &bytes)) != 0) {
        failOn(shown, reason);
    }
    if (stream != stdin) {
        std::fclose(stream);
    }
    if (bytes.size() > kImportLimit) {
        failWith(_("more than 64 MiB, more than any list of schools takes"), shown);
    }
    CheckedSchools parsed;
    std::string sheet;
    bool workbook = looksLikeZip(bytes.data(), bytes.size());
    if (const char* foreign = workbook ? nullptr : foreignFile(bytes)) {
        failWith(_(foreign), shown);
    }
    if (!workbook) {
        parseCsv(bytes.data(), bytes.size(), &parsed);
    } else if (const char* fault = readArchive(bytes, &sheet, &parsed)) {
        failWith(_(fault), shown);
    }
    const std::string* place = workbook ? &sheet : nullptr;
    if (parsed.lackingTexts > 0 && parsed.misreadTexts == parsed.lackingTexts) {
        printError(_("schools: %s: its Cyrillic is UTF-8 that was read as Latin-1 and saved so: "
                     "open the CSV file as UTF-8 (Unicode), and save it as UTF-8\n"),
                   shown.c_str());
    }
    printFindings(shown, parsed.errors, parsed.errorCount, false, place);
    if (parsed.errorCount > 0) {
        endProgram(1);
    }
    printFindings(shown, parsed.warnings, parsed.warningCount, true, place);
    std::size_t count = parsed.schools.size();
    const char* kept = reinterpret_cast<const char*>(parsed.schools.data());
    writeAtomically(schoolFile, count ? std::string(kept, count * sizeof(SCHOOL)) : "");
}
