// The cells of a table of schools, whatever file brings them (CSV, a workbook's
// sheet): the header's column names, one cell's UTF-8 text checked into its school
// field, a text as messages show it, the school numbers met so far, and the checks
// of a whole table's rows on their way into schools. Pure functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "funcs.h"
#include "text/encodings.h"

// The columns, in record order, as a header names them.
constexpr std::size_t kSchoolColumns = 5;
extern const char* const kSchoolColumnNames[kSchoolColumns];

// The words that a written sheet shows, in the reader's language and in UTF-8: the
// sheet's name, the header's names, and the printed pages' footer ("Page &P of &N").
struct SheetWords {
    std::string sheet;
    std::string columns[kSchoolColumns];
    std::string footer;
};
SheetWords sheetWords();

// The column that a header cell names, in any case of its letters; kSchoolColumns
// when it names none.
std::size_t columnNamed(const char* text, std::size_t size);

// Puts one cell's UTF-8 text into the school's field of that column: a text of at
// most 50 characters of code page 1251 (50 with no NUL after them, as a school
// file may hold), or a whole number within 32 bits. Returns false, with what is
// wrong in `error` and the text shown as showText shows it, e.g.
// "12a" is not a whole number from -2147483648 to 2147483647.
bool takeSchoolCell(const char* text, std::size_t size, std::size_t column, SCHOOL* school,
                    std::string* error);

// A warning for a text taken whole that holds "??", which is how a save in an
// encoding without Cyrillic leaves the letters it lost; empty for any other text.
std::string lostLettersWarning(const char* text, std::size_t size);

// A text as a message shows it: in double quotes, a quote and a backslash escaped,
// controls made visible (\r, \n, \t, \0, \xHH, and \u0080 to \u009F), a byte that is
// not UTF-8 as \xHH, a lone UTF-16 surrogate as \uD800; cut after 60 characters,
// "..." after the closing quote saying so.
std::string showText(const char* text, std::size_t size);

// A message with texts and numbers in it, as the translated format puts them.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The school numbers met so far and the line (or row) of each first one: open
// addressing over a power of two of slots, at most two thirds full.
struct NumberLines {
    std::vector<std::pair<std::int32_t, std::size_t>> slots;  // line 0: a free slot
    std::size_t count = 0;
};
// Makes room for the numbers of that many schools at once; the table grows anyway.
void reserveNumberLines(NumberLines* lines, std::size_t schools);
// Notes the number as met on `line` (from 1); returns the line where it was met
// first, or 0 when it is new.
std::size_t noteNumberLine(NumberLines* lines, std::int32_t number, std::size_t line);

// ---- A whole table: its header, then one school per row ----------------------------

// An error or a warning, at the cell it is about.
struct CellFinding {
    std::size_t line;    // where the cell begins, counted from 1 (a sheet's row)
    std::size_t column;  // the cell's place in its row, counted from 1
    std::string what;
};

// The errors shown; the rest are only counted.
constexpr std::size_t kShownFindings = 20;

struct CheckedSchools {
    std::vector<SCHOOL> schools;      // complete only when there is no error
    std::vector<CellFinding> errors;  // the first kShownFindings, in file order
    std::size_t errorCount = 0;
    // What is taken all the same: a school number met before, a text holding "??".
    std::vector<CellFinding> warnings;  // the first kShownFindings, in file order
    std::size_t warningCount = 0;
    // The texts that code page 1251 cannot hold, and how many of them look like
    // UTF-8 Cyrillic read as Latin-1 ("\u00D0\u00A1" for "\u0421") and saved so.
    std::size_t lackingTexts = 0, misreadTexts = 0;
};

// A cell as its file gives it, its text in UTF-8.
struct SchoolCell {
    const char* text = nullptr;  // in the file, or in `held`
    std::size_t size = 0;
    std::string held;           // a text that the file's syntax changed (unquoted, unescaped)
    const char* raw = nullptr;  // the cell as the file writes it; null: as `text`
    std::size_t rawSize = 0;
    std::size_t line = 0;         // its row, as errors name it
    std::size_t column = 0;       // its place in its row, counted from 1
    const char* fault = nullptr;  // in the file's own syntax: a format for the cell shown
};

struct SchoolChecks {
    CheckedSchools* result = nullptr;
    // kUnmarked: a text that is not UTF-8 gives up (gaveUp), the file being
    // Windows-1251; kCp1251: texts that read as UTF-8 are warned of; UTF-16: a text
    // that is not UTF-8 held a lone surrogate.
    Encoding encoding = Encoding::kUtf8;
    bool gaveUp = false;
    std::size_t fieldOf[kSchoolColumns + 1] = {};  // the school field of each header cell
    std::size_t columns = 0;                       // cells in the header
    std::size_t rows = 0;                          // rows after the header
    bool sheet = false;                            // whose messages say rows, not lines
    NumberLines numberLines;
};

// Empties `result` for a table of at most `mostSchools` rows.
void startSchoolChecks(SchoolChecks* checks, CheckedSchools* result, std::size_t mostSchools);
void reportCell(SchoolChecks* checks, std::size_t line, std::size_t column, std::string what);
// The cell's fault in its file's syntax, the cell shown in it.
void reportFault(SchoolChecks* checks, const SchoolCell& cell);
// The header, of `count` cells of which the first kSchoolColumns + 1 are given:
// false when it does not name each column once.
bool checkHeader(SchoolChecks* checks, const SchoolCell* cells, std::size_t count);
// Counts a row beyond the header, refusing one beyond the list's limit.
void countRow(SchoolChecks* checks, std::size_t line);
// Checks a row of as many cells as the header and keeps its school; a number met
// before and a text that seems damaged are taken with a warning.
void checkSchool(SchoolChecks* checks, const SchoolCell* cells);
