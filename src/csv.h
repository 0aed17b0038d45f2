// Schools as CSV (RFC 4180), for programs and databases: rows formatted from
// records and records parsed from rows, pure functions over bytes.
#pragma once

#include <cstddef>

#include "funcs.h"
#include "school_cells.h"
#include "text/codepage.h"

// The header row, the columns in record order, and the line end of every row.
constexpr char kCsvHeader[] = "name,director,number,area,students\r\n";
// The most bytes that one row takes: two quoted texts, three numbers.
constexpr std::size_t kCsvRowRoom = 2 * (2 + textRoom(kTextSize)) + 3 * 11 + 6;

// Puts one school as a row at `out` and returns its end: the texts up to their NUL
// in UTF-8, quoted where they hold a comma, a quote or a line end, the numbers in
// decimal.
char* putCsvRow(const SCHOOL& school, char* out);

// Reads a whole CSV file: a header row that names the five columns in any order
// and any case, separated by whichever of ',', ';' or tab it uses, then one row per
// school. The file is UTF-8 (with or without a byte-order mark), UTF-16 after its
// byte-order mark, or else Windows-1251. CR LF and LF end rows, and empty lines are
// skipped. Texts become code page 1251, NUL-filled; each row is checked as
// checkSchool checks it.
void parseCsv(const char* bytes, std::size_t size, CheckedSchools* result);
