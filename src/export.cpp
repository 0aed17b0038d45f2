// --export on one road: the school file read and checked whole, then formatted (CSV,
// a workbook, a spreadsheet), then put into its sink (standard output, or a file
// put in place as a school file is).
#include <algorithm>
#include <cstring>
#include <vector>

#include "console.h"
#include "conversion_files.h"
#include "csv.h"
#include "files/school_files.h"
#include "funcs.h"
#include "ods.h"
#include "spreadsheet.h"
#include "text/ascii.h"
#include "text/codepage.h"
#include "translate.h"
#include "workbook.h"
#include "zip.h"

namespace {

constexpr std::size_t kSchoolFileLimit = sizeof(SCHOOL) * kMaxSchools;

enum class Format { kCsv, kWorkbook, kSpreadsheet };

// The name's extension from its last dot, in lower case; empty without one.
std::string extensionOf(const std::string& name) {
    std::size_t dot = name.find_last_of("./\\");
    if (dot == std::string::npos || name[dot] != '.') {
        return std::string();
    }
    std::string extension = name.substr(dot);
    for (char& c : extension) {
        c = lowerAscii(c);
    }
    return extension;
}

// The format a name asks for; a spreadsheet's format that is not written here is
// refused before anything is read or made.
Format formatNamed(const std::string& name) {
    static const char* const kUnwritten[] = {
        ".xls",  ".xlsb", ".xlsm",    ".xlt",      ".xltx", ".xltm", ".xlam", ".xla", ".ots",
        ".fods", ".sxc",  ".numbers", ".gnumeric", ".et",   ".wks",  ".wk1",  ".123", ".qpw"};
    std::string extension = extensionOf(name);
    if (extension == ".xlsx") {
        return Format::kWorkbook;
    }
    if (extension == ".ods") {
        return Format::kSpreadsheet;
    }
    for (const char* unwritten : kUnwritten) {
        if (extension == unwritten) {
            printError(_("schools: %s: cannot write %s; export to .xlsx or .ods for a "
                         "spreadsheet (any other name gets CSV)\n"),
                       name.c_str(), name.substr(name.size() - extension.size()).c_str());
            endProgram(1);
        }
    }
    return Format::kCsv;
}

// The school file read whole and checked, for either way out: into `outFile`, or
// on standard output when it is empty. Returns its bytes, whole records.
std::string readSchoolFile(const std::string& schoolFile, const std::string& outFile) {
    Reason reason;
    std::FILE* stream = openForReading(schoolFile, &reason);
    if (!stream) {
        failOn(schoolFile, reason);
    }
    if (outFile.empty() ? isStandardOutput(stream) : namesFileOf(outFile, stream)) {
        // As `>>` onto it would be.
        failWith(_("input file is output file"), outFile.empty() ? schoolFile : outFile);
    }
    long size = sizeOf(stream);
    std::string held;
    reason = Reason{readWhole(stream, kSchoolFileLimit, &held)};
    std::fclose(stream);
    if (failed(reason)) {
        failOn(schoolFile, reason);
    }
    // A device that reports no size (/dev/zero) is no school file either.
    if (size >= 0 && held.size() != static_cast<std::size_t>(size)) {
        failWith(held.size() > static_cast<std::size_t>(size) ? _("longer than its size said")
                                                              : _("cut short as it was read"),
                 schoolFile);
    }
    if (held.size() > kSchoolFileLimit) {
        failWith(_("more than 20480 schools, more than a list holds"), schoolFile);
    }
    if (held.size() % sizeof(SCHOOL) != 0) {
        printError(_("schools: %s: not a school file: its %lu bytes are no whole number of "
                     "%d-byte records\n"),
                   schoolFile.c_str(), static_cast<unsigned long>(held.size()),
                   static_cast<int>(sizeof(SCHOOL)));
        endProgram(1);
    }
    return held;
}

std::vector<SCHOOL> schoolsOf(const std::string& held) {
    std::vector<SCHOOL> schools(held.size() / sizeof(SCHOOL));
    if (!schools.empty()) {
        std::memcpy(schools.data(), held.data(), held.size());
    }
    return schools;
}

// The CSV into the sink, a piece of rows at a time; for a terminal, the texts'
// controls masked.
void putCsv(const std::string& held, bool masked, Sink* sink) {
    std::size_t count = held.size() / sizeof(SCHOOL);
    std::vector<char> rows(128 * kCsvRowRoom);
    char* end = std::copy(kCsvHeader, kCsvHeader + sizeof kCsvHeader - 1, rows.data());
    for (std::size_t i = 0; i < count || end != rows.data();) {
        for (; i < count && end + kCsvRowRoom <= rows.data() + rows.size(); ++i) {
            SCHOOL school;
            std::memcpy(&school, held.data() + i * sizeof(SCHOOL), sizeof school);
            if (masked) {
                maskCp1251Controls(school.schoolname, sizeof school.schoolname);
                maskCp1251Controls(school.director, sizeof school.director);
            }
            end = putCsvRow(school, end);
        }
        putIntoSink(sink, rows.data(), static_cast<std::size_t>(end - rows.data()));
        end = rows.data();
    }
}

std::string workbookOf(const std::vector<SCHOOL>& schools, const SheetWords& words) {
    std::size_t count = schools.size();
    std::string sheet = sheetHead(schools.data(), count, words);
    sheet.reserve(sheet.size() + count * 160);  // a row of short texts, enough for most
    std::vector<char> rows(256 * kSheetRowRoom);
    for (std::size_t i = 0; i < count;) {
        char* end = rows.data();
        for (; i < count && end + kSheetRowRoom <= rows.data() + rows.size(); ++i) {
            end = putSheetRow(schools[i], i + 2, end);
        }
        sheet.append(rows.data(), end);
    }
    sheet += sheetTail(count, words);
    std::string workbook = workbookXml(count, words);
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

std::string spreadsheetOf(const std::vector<SCHOOL>& schools, const SheetWords& words,
                          const std::string& schoolFile) {
    std::size_t unfit = firstUnfitForOds(schools.data(), schools.size());
    if (unfit < schools.size()) {
        printError(_("schools: %s: school %lu holds a control character, which an .ods cannot "
                     "hold; export to .xlsx or CSV\n"),
                   schoolFile.c_str(), static_cast<unsigned long>(unfit + 1));
        endProgram(1);
    }
    std::string zip;
    if (!putOds(schools.data(), schools.size(), words, &zip)) {
        outOfMemory();
    }
    return zip;
}

}  // namespace

void exportSchools(const std::string& schoolFile, const std::string& outFile) {
    setBinaryStreams();
    std::string into = outFile == "-" ? std::string() : outFile;
    Format format = into.empty() ? Format::kCsv : formatNamed(into);
    std::string held = readSchoolFile(schoolFile, into);
    // An archive is made whole, and refused before anything is made.
    std::string archive = format == Format::kWorkbook ? workbookOf(schoolsOf(held), sheetWords())
                          : format == Format::kSpreadsheet
                              ? spreadsheetOf(schoolsOf(held), sheetWords(), schoolFile)
                              : std::string();
    Sink sink;
    openSink(into, &sink);
    if (format == Format::kCsv) {
        putCsv(held, into.empty() && printsToTerminal(), &sink);
    } else {
        putIntoSink(&sink, archive.data(), archive.size());
    }
    closeSink(&sink);
}
