// Schools as CSV (RFC 4180), for spreadsheets and databases: rows formatted from
// records and records parsed from rows, pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "console/codepage.h"
#include "funcs.h"

// The header row, the columns in record order, and the line end of every row.
constexpr char kCsvHeader[] = "name,director,number,area,students\r\n";
// The most bytes that one row takes: two quoted texts, three numbers.
constexpr std::size_t kCsvRowRoom = 2 * (2 + textRoom(sizeof(SCHOOL{}.schoolname))) + 3 * 11 + 6;

// Puts one school as a row at `out` and returns its end: the texts up to their NUL
// in UTF-8, quoted where they hold a comma, a quote or a line end, the numbers in
// decimal.
char* putCsvRow(const SCHOOL& school, char* out);

struct CsvError {
    std::size_t line;    // where the cell begins, counted from 1
    std::size_t column;  // the cell's place in its row, counted from 1
    std::string what;
};

// The errors shown; the rest are only counted.
constexpr std::size_t kShownCsvErrors = 20;

struct CsvSchools {
    std::vector<SCHOOL> schools;   // complete only when there is no error
    std::vector<CsvError> errors;  // the first kShownCsvErrors, in file order
    std::size_t errorCount = 0;
};

// Reads a whole CSV file: a header row that names the five columns in any order
// and any case, separated by whichever of ',', ';' or tab it uses, then one row per
// school. A UTF-8 byte-order mark is skipped; CR LF and LF end rows, and empty
// lines are skipped. Texts become code page 1251, NUL-filled.
void parseCsv(const char* bytes, std::size_t size, CsvSchools* result);

// ---- The rules every cell meets on its way into a school, whatever file brings it ----

constexpr std::size_t kSchoolColumns = 5;

// A cell as its file gives it.
struct SchoolCell {
    const char* text = nullptr;  // in the file, or in `held`
    std::size_t size = 0;
    std::string held;             // a text that the file's syntax changed (unquoted, unescaped)
    std::size_t line = 0;         // its row, as errors name it
    std::size_t column = 0;       // its place in its row, counted from 1
    const char* fault = nullptr;  // in the file's own syntax
};

struct SchoolChecks {
    CsvSchools* result = nullptr;
    std::size_t fieldOf[kSchoolColumns + 1] = {};  // the school field of each header cell
    std::size_t columns = 0;                       // cells in the header
    std::size_t rows = 0;                          // rows after the header
    // Each school number kept and its line, by open addressing: a power of two of
    // slots, at most two thirds full; line 0 marks a free slot.
    std::vector<std::pair<std::int32_t, std::size_t>> numberLines;
    std::string converted;
};

// Empties `result` for a file of at most `mostSchools` rows.
void startSchoolChecks(SchoolChecks* checks, CsvSchools* result, std::size_t mostSchools);
void reportCell(SchoolChecks* checks, std::size_t line, std::size_t column, std::string what);
// The header, of `count` cells of which the first kSchoolColumns + 1 are given:
// false when it does not name each column once.
bool checkHeader(SchoolChecks* checks, const SchoolCell* cells, std::size_t count);
// Counts a row beyond the header, refusing one beyond the list's limit.
void countRow(SchoolChecks* checks, std::size_t line);
// Checks a row of as many cells as the header and keeps its school.
void checkSchool(SchoolChecks* checks, const SchoolCell* cells);
