// The files around the conversions: a school file formatted as CSV piece by piece
// on standard output, or whole as CSV or a workbook into a file; a CSV or a
// workbook read whole and its schools written as command 2 writes; every failure
// said on standard error, with status 1.
#include "spreadsheet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "console.h"
#include "csv.h"
#include "failures.h"
#include "files/school_files.h"
#include "funcs.h"
#include "system/last_error.h"
#include "text/ascii.h"
#include "text/codepage.h"
#include "text/utf8.h"
#include "translate.h"
#include "workbook.h"
#include "zip.h"

namespace {

constexpr std::size_t kSchoolFileLimit = sizeof(SCHOOL) * kMaxSchools;
// Far beyond 20480 rows of the longest cells, short of what could exhaust memory.
constexpr std::size_t kCsvLimit = std::size_t{64} << 20;
constexpr std::size_t kChunk = 1 << 16;
const char* const kTooLargeInAll =
    N_("parts that unpack to more than 64 MiB in all, more than any list of schools takes");

// Records on their way to CSV, and their rows: pieces large enough to take few
// system calls.
SCHOOL records[1024];
char rows[sizeof records / sizeof(SCHOOL) * kCsvRowRoom];

// The size of a stream that can be sought (a file), -1 for one that cannot (a pipe).
long sizeOf(std::FILE* stream) {
    if (std::fseek(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    long size = std::ftell(stream);
    return std::fseek(stream, 0, SEEK_SET) == 0 ? size : -1;
}

// Reads the stream to its end, or until it holds more than `limit` bytes. Returns
// 0, or the reason of a read error.
int readWhole(std::FILE* stream, std::size_t limit, std::string* bytes) {
    // A file in one piece of its size and a byte to see its end, a pipe in chunks.
    long size = sizeOf(stream);
    std::size_t chunk = size >= 0 ? std::min(static_cast<std::size_t>(size), limit) + 1 : kChunk;
    while (bytes->size() <= limit) {
        std::size_t at = bytes->size();
        bytes->resize(at + chunk);
        std::size_t got = std::fread(&(*bytes)[at], 1, chunk, stream);
        bytes->resize(at + got);
        if (got < chunk) {
            return std::ferror(stream) ? lastError() : 0;  // the read failed
        }
        chunk = kChunk;
    }
    return 0;
}

// "schools: NAME: reason", status 1.
[[noreturn]] void failOn(const std::string& name, Reason reason) {
    reportStreamError(("schools: " + shownName(name, reason)).c_str(), reason);
    endProgram(1);
}

[[noreturn]] void failWith(const char* what, const std::string& name) {
    printError("schools: %s: %s\n", name.c_str(), what);
    endProgram(1);
}

// Writes the bytes as command 2 writes a school file, and ends the program.
[[noreturn]] void writeAtomically(const std::string& name, const std::string& bytes) {
    AtomicWrite file;
    Reason reason = beginAtomicWrite(name, &file);
    if (failed(reason)) {
        failOn(name, reason);
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream) != bytes.size() ||
        std::ferror(file.stream)) {
        reason = Reason{lastError()};  // the write failed
        abandonAtomicWrite(&file);
        failOn(name, reason);
    }
    if (failed(reason = finishAtomicWrite(&file))) {
        failOn(name, reason);
    }
    endProgram(0);
}

bool endsWithXlsx(const std::string& name) {
    const char* suffix = ".xlsx";
    if (name.size() < 5) {
        return false;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        char c = name[name.size() - 5 + i];
        if (lowerAscii(c) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// Appends the rows that `put` formats (school i at `out`, returning the end), a
// buffer's worth at a time; `room` is the most one row takes.
template <typename Put>
void appendRows(std::size_t count, std::size_t room, Put put, std::string* out) {
    for (std::size_t i = 0; i < count;) {
        char* end = rows;
        for (; i < count && end + room <= rows + sizeof rows; ++i) {
            end = put(i, end);
        }
        out->append(rows, end);
    }
}

std::string workbookOf(const SCHOOL* schools, std::size_t count) {
    std::string sheet = sheetHead(schools, count);
    sheet.reserve(sheet.size() + count * 160);  // a row of short texts, enough for most
    appendRows(
        count, kSheetRowRoom,
        [&](std::size_t i, char* out) { return putSheetRow(schools[i], i + 2, out); }, &sheet);
    sheet += sheetTail(count);
    std::string workbook = workbookXml(count);
    ZipPart parts[6];
    std::size_t n = 0;
    for (const WorkbookPart& part : kFixedWorkbookParts) {
        parts[n++] = ZipPart{part.name, part.xml, std::strlen(part.xml)};
    }
    parts[n++] = ZipPart{kWorkbookMember, workbook.data(), workbook.size()};
    parts[n++] = ZipPart{kSheetMember, sheet.data(), sheet.size()};
    std::string zip;
    if (!putZip(parts, n, &zip)) {
        outOfMemory();
    }
    return zip;
}

// --export into a file: the whole school file read first, then the CSV or the
// workbook put in place as a school file is.
[[noreturn]] void exportInto(const std::string& schoolFile, std::FILE* stream,
                             const std::string& outFile) {
    if (namesFileOf(outFile, stream)) {
        failWith(_("input file is output file"), outFile);
    }
    std::string held;
    Reason reason{readWhole(stream, kSchoolFileLimit, &held)};
    std::fclose(stream);
    if (failed(reason)) {
        failOn(schoolFile, reason);
    }
    if (held.size() > kSchoolFileLimit) {
        failWith(_("more than 20480 schools, more than a list holds"), schoolFile);
    }
    std::size_t count = held.size() / sizeof(SCHOOL);
    std::vector<SCHOOL> schools(count);
    if (count > 0) {
        std::memcpy(schools.data(), held.data(), count * sizeof(SCHOOL));
    }
    if (held.size() % sizeof(SCHOOL) != 0) {
        printError(_("schools: %s: not a school file: its %lu bytes are no whole number of "
                     "%d-byte records\n"),
                   schoolFile.c_str(), static_cast<unsigned long>(held.size()),
                   static_cast<int>(sizeof(SCHOOL)));
        endProgram(1);
    }
    if (endsWithXlsx(outFile)) {
        writeAtomically(outFile, workbookOf(schools.data(), count));
    }
    std::string csv(kCsvHeader);
    appendRows(
        count, kCsvRowRoom, [&](std::size_t i, char* out) { return putCsvRow(schools[i], out); },
        &csv);
    writeAtomically(outFile, csv);
}

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
    std::string quoted = "'";
    for (char c : sheet) {
        quoted += c == '\'' ? "''" : std::string(1, c);
    }
    return (plain ? sheet : quoted + "'") + "!" + cellName(row, column);
}

// The first sheet of a workbook, its cells checked into schools; returns null, or
// what keeps the archive from being read.
const char* readWorkbook(const std::string& bytes, std::string* sheetName, CsvSchools* parsed) {
    // All parts together, the one bound: far beyond those of 20480 rows of the
    // longest cells; a bomb stops there.
    const std::size_t kPartsLimit = kCsvLimit;
    ZipArchive archive;
    const char* fault = openZip(bytes.data(), bytes.size(), kPartsLimit, &archive);
    auto unpack = [&](const std::string& name, std::string* out) {
        const ZipMember* member = fault ? nullptr : findZipMember(archive, name);
        fault = fault    ? fault
                : member ? unpackZipMember(&archive, *member, kPartsLimit, out)
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
        return fault == kNoSuchMember ? N_("a zip archive that is no workbook") : fault;
    }
    SharedStrings shared;
    readSharedStrings(strings, &shared);
    strings = std::string();
    parseSheet(sheet, shared, parsed);
    *sheetName = place.name;
    return nullptr;
}

// The first errors or warnings, each as FILE:PLACE: what, then how many more.
void printFindings(const std::string& file, const std::vector<CsvError>& shown, std::size_t count,
                   bool warnings, const std::string* sheet) {
    for (const CsvError& error : shown) {
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

}  // namespace

void exportSchools(const std::string& schoolFile, const std::string& outFile) {
    setBinaryStreams();
    Reason reason;
    std::FILE* stream = openForReading(schoolFile, &reason);
    if (!stream) {
        failOn(schoolFile, reason);
    }
    if (!outFile.empty() && outFile != "-") {
        exportInto(schoolFile, stream, outFile);
    }
    if (isStandardOutput(stream)) {
        failWith(_("input file is output file"), schoolFile);  // as `>>` onto it would be
    }
    bool terminal = printsToTerminal();
    // A file is formatted as it is read, its size checked first; a pipe, whose size
    // shows only at its end, is held whole.
    long size = sizeOf(stream);
    std::string held;
    if (size < 0 && (reason.error = readWhole(stream, kSchoolFileLimit, &held)) != 0) {
        failOn(schoolFile, reason);
    }
    std::size_t bytes = size < 0 ? held.size() : static_cast<std::size_t>(size);
    if (bytes > kSchoolFileLimit) {
        failWith(_("more than 20480 schools, more than a list holds"), schoolFile);
    }
    if (bytes % sizeof(SCHOOL) != 0) {
        printError(_("schools: %s: not a school file: its %lu bytes are no whole number of "
                     "%d-byte records\n"),
                   schoolFile.c_str(), static_cast<unsigned long>(bytes),
                   static_cast<int>(sizeof(SCHOOL)));
        endProgram(1);
    }
    for (std::size_t at = 0; at < bytes;) {
        std::size_t count = std::min(sizeof records, bytes - at) / sizeof(SCHOOL);
        if (size < 0) {
            std::memcpy(records, held.data() + at, count * sizeof(SCHOOL));
        } else if (std::fread(records, sizeof(SCHOOL), count, stream) != count) {
            if (std::ferror(stream)) {
                failOn(schoolFile, Reason{lastError()});  // the read failed
            }
            failWith(_("cut short as it was read"), schoolFile);
        }
        char* end = rows;
        if (at == 0) {
            end = std::copy(kCsvHeader, kCsvHeader + sizeof kCsvHeader - 1, end);
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (terminal) {
                maskCp1251Controls(records[i].schoolname, sizeof records[i].schoolname);
                maskCp1251Controls(records[i].director, sizeof records[i].director);
            }
            end = putCsvRow(records[i], end);
        }
        printBytes(rows, static_cast<std::size_t>(end - rows));
        if (std::ferror(stdout)) {
            endProgram(1);  // which says why
        }
        at += count * sizeof(SCHOOL);
    }
    // A device that reports no size (/dev/zero) is no school file either.
    if (size >= 0 && std::fgetc(stream) != EOF) {
        failWith(_("longer than its size said"), schoolFile);
    }
    std::fclose(stream);
    if (bytes == 0) {
        printBytes(kCsvHeader, sizeof kCsvHeader - 1);  // an empty list
    }
    endProgram(0);
}

void importSchools(const std::string& csvFile, const std::string& schoolFile) {
    setBinaryStreams();
    std::string shown = csvFile == "-" ? _("standard input") : csvFile;
    Reason reason;
    std::FILE* stream = csvFile == "-" ? stdin : openForReading(csvFile, &reason);
    std::string bytes;
    if (!stream || (reason.error = readWhole(stream, kCsvLimit, &bytes)) != 0) {
        failOn(shown, reason);
    }
    if (stream != stdin) {
        std::fclose(stream);
    }
    if (bytes.size() > kCsvLimit) {
        failWith(_("more than 64 MiB, more than any list of schools takes"), shown);
    }
    CsvSchools parsed;
    std::string sheet;
    bool workbook = looksLikeZip(bytes.data(), bytes.size());
    if (!workbook) {
        parseCsv(bytes.data(), bytes.size(), &parsed);
    } else if (const char* fault = readWorkbook(bytes, &sheet, &parsed)) {
        failWith(_(fault), shown);
    }
    const std::string* place = workbook ? &sheet : nullptr;
    printFindings(shown, parsed.errors, parsed.errorCount, false, place);
    if (parsed.errorCount > 0) {
        endProgram(1);
    }
    printFindings(shown, parsed.warnings, parsed.warningCount, true, place);
    std::size_t count = parsed.schools.size();
    const char* kept = reinterpret_cast<const char*>(parsed.schools.data());
    writeAtomically(schoolFile, count ? std::string(kept, count * sizeof(SCHOOL)) : "");
}
