// Schools as CSV (RFC 4180), for spreadsheets and databases: rows formatted from
// records and records parsed from rows, pure functions over bytes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "funcs.h"
#include "text/codepage.h"

// The header row, the columns in record order, and the line end of every row.
constexpr char kCsvHeader[] = "name,director,number,area,students\r\n";
// The most bytes that one row takes: two quoted texts, three numbers.
constexpr std::size_t kCsvRowRoom = 2 * (2 + textRoom(kTextSize)) + 3 * 11 + 6;

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
    // What is taken all the same: a school number met before, a text holding "??".
    std::vector<CsvError> warnings;  // the first kShownCsvErrors, in file order
    std::size_t warningCount = 0;
};

// Reads a whole CSV file: a header row that names the five columns in any order
// and any case, separated by whichever of ',', ';' or tab it uses, then one row per
// school. The file is UTF-8 (with or without a byte-order mark), UTF-16 after its
// byte-order mark, or else Windows-1251. CR LF and LF end rows, and empty lines are
// skipped. Texts become code page 1251, NUL-filled; each cell is checked as
// takeSchoolCell checks it.
void parseCsv(const char* bytes, std::size_t size, CsvSchools* result);
