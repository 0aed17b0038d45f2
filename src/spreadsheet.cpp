// The files around the CSV conversions: a school file read and formatted piece by
// piece, a CSV read whole and its schools written as command 2 writes; every
// failure said on standard error, with status 1.
#include "spreadsheet.h"

#include <algorithm>
#include <cstring>

#include "console.h"
#include "csv.h"
#include "failures.h"
#include "files/school_files.h"
#include "funcs.h"
#include "last_error.h"
#include "translate.h"

namespace {

constexpr std::size_t kSchoolFileLimit = sizeof(SCHOOL) * kMaxSchools;
// Far beyond 20480 rows of the longest cells, short of what could exhaust memory.
constexpr std::size_t kCsvLimit = std::size_t{64} << 20;
constexpr std::size_t kChunk = 1 << 16;

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
    reportStreamError(("schools: " + name).c_str(), reason);
    endProgram(1);
}

[[noreturn]] void failWith(const char* what, const std::string& name) {
    printError("schools: %s: %s\n", name.c_str(), what);
    endProgram(1);
}

// A terminal shows the texts' control bytes as '?', as the listings do: a school
// file from elsewhere cannot drive it. Byte 0x98 is U+0098, a control too.
void maskControls(char* text, std::size_t size) {
    for (char* p = text; p < text + size; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        *p = byte != 0 && (byte < 0x20 || byte == 0x7F || byte == 0x98) ? '?' : *p;
    }
}

// The first errors or warnings, each as FILE:LINE:COLUMN: what, then how many more.
void printFindings(const std::string& file, const std::vector<CsvError>& shown, std::size_t count,
                   bool warnings) {
    for (const CsvError& error : shown) {
        printError(warnings ? _("%s:%lu:%lu: warning: %s\n") : "%s:%lu:%lu: %s\n", file.c_str(),
                   static_cast<unsigned long>(error.line), static_cast<unsigned long>(error.column),
                   error.what.c_str());
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

void exportSchools(const std::string& schoolFile) {
    setBinaryStreams();
    Reason reason;
    std::FILE* stream = openForReading(schoolFile, &reason);
    if (!stream) {
        failOn(schoolFile, reason);
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
                maskControls(records[i].schoolname, sizeof records[i].schoolname);
                maskControls(records[i].director, sizeof records[i].director);
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
    parseCsv(bytes.data(), bytes.size(), &parsed);
    printFindings(shown, parsed.errors, parsed.errorCount, false);
    if (parsed.errorCount > 0) {
        endProgram(1);
    }
    printFindings(shown, parsed.warnings, parsed.warningCount, true);
    AtomicWrite file;
    if (failed(reason = beginAtomicWrite(schoolFile, &file))) {
        failOn(schoolFile, reason);
    }
    std::size_t count = parsed.schools.size();
    if (std::fwrite(parsed.schools.data(), sizeof(SCHOOL), count, file.stream) != count ||
        std::ferror(file.stream)) {
        reason = Reason{lastError()};  // the write failed
        abandonAtomicWrite(&file);
        failOn(schoolFile, reason);
    }
    if (failed(reason = finishAtomicWrite(&file))) {
        failOn(schoolFile, reason);
    }
    endProgram(0);
}
