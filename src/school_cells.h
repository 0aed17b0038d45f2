// The cells of a table of schools, whatever file brings them (CSV, a workbook's
// sheet): the header's column names, one cell's UTF-8 text checked into its school
// field, a text as messages show it, and the school numbers met so far. Pure
// functions over bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "funcs.h"

// The columns, in record order, as a header names them.
constexpr std::size_t kSchoolColumns = 5;
extern const char* const kSchoolColumnNames[kSchoolColumns];

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
