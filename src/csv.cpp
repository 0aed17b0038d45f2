// Schools as CSV: formatting rows from records, parsing and checking rows into
// records. No input or output here: the callers bring the bytes and take them.
#include "csv.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "school_cells.h"
#include "text/codepage.h"
#include "text/encodings.h"
#include "text/numbers.h"
#include "translate.h"

namespace {

constexpr std::size_t kColumnCount = kSchoolColumns;

/* ==== Formatting ========================================================== */

// A text in UTF-8, quoted when it holds a comma, a quote or a line end.
char* putCsvText(const char* text, char* out) {
    std::size_t length = strnlen(text, kTextSize);
    const char* end = text + length;
    if (std::find_if(text, end, [](char c) {
            return c == ',' || c == '"' || c == '\r' || c == '\n';
        }) == end) {
        return encodeUtf8(text, length, out);
    }
    *out++ = '"';
    for (const char* from = text; from < end;) {
        const char* to = std::find(from, end, '"');
        out = encodeUtf8(from, static_cast<std::size_t>(to - from), out);
        if (to < end) {
            *out++ = '"';  // doubled
            *out++ = '"';
            ++to;
        }
        from = to;
    }
    *out++ = '"';
    return out;
}

/* ==== Cells =============================================================== */

struct Cursor {
    const char* at;
    const char* end;
    char separator = ',';
    std::size_t line = 1;
    bool special[256] = {};  // the bytes that an unquoted cell looks at twice
};

bool atLineEnd(const Cursor& c) {
    return c.at < c.end &&
           (*c.at == '\n' || (*c.at == '\r' && c.at + 1 < c.end && c.at[1] == '\n'));
}

void skipLineEnd(Cursor* c) {
    c->at += *c->at == '\r' ? 2 : 1;
    ++c->line;
}

struct Cell {
    const char* text = nullptr;  // without its quotes: in the input, or in `unquoted`
    std::size_t size = 0;
    std::string unquoted;       // a quoted cell's text, its doubled quotes made single
    const char* raw = nullptr;  // the cell as the file has it, quotes and all
    std::size_t rawSize = 0;
    std::size_t line = 0;
    std::size_t column = 0;
    const char* fault = nullptr;  // in the CSV syntax, said after the raw cell
};

// Takes the next cell; returns whether another cell of the same row follows.
bool takeCell(Cursor* c, Cell* cell) {
    cell->line = c->line;
    cell->fault = nullptr;
    cell->raw = c->at;
    bool quoted = c->at < c->end && *c->at == '"';
    if (quoted) {
        cell->unquoted.clear();
        for (++c->at;; ++c->at) {
            if (c->at == c->end) {
                cell->fault = N_("%s has no closing quote");
                break;
            }
            if (*c->at == '"' && (c->at + 1 == c->end || c->at[1] != '"')) {
                ++c->at;
                break;
            }
            c->at += *c->at == '"';  // the first of a doubled quote
            c->line += *c->at == '\n';
            cell->unquoted.push_back(*c->at);
        }
        cell->text = cell->unquoted.data();
        cell->size = cell->unquoted.size();
    }
    const char* from = c->at;
    const char* fault = nullptr;
    for (;; ++c->at) {
        const char* at = c->at;  // in a register: this loop sees nearly every byte
        while (at < c->end && !c->special[static_cast<unsigned char>(*at)]) {
            ++at;
        }
        c->at = at;
        if (c->at == c->end || *c->at == c->separator || atLineEnd(*c)) {
            break;
        }
        fault = *c->at == '"' ? N_("%s holds a quote but does not begin with one")
                              : fault;  // a CR alone is text
    }
    cell->rawSize = static_cast<std::size_t>(c->at - cell->raw);
    if (quoted && c->at != from && !cell->fault) {
        cell->fault = N_("%s has text after its closing quote");
    } else if (!quoted) {
        cell->text = from;
        cell->size = static_cast<std::size_t>(c->at - from);
        cell->fault = fault;
    }
    if (c->at < c->end && *c->at == c->separator) {
        ++c->at;
        return true;
    }
    if (c->at < c->end) {
        skipLineEnd(c);
    }
    return false;
}

// The separator is the first of ',', ';' and tab on the header's line.
char separatorOf(const char* line, const char* end) {
    for (const char* p = line; p < end && *p != '\n'; ++p) {
        if (*p == ',' || *p == ';' || *p == '\t') {
            return *p;
        }
    }
    return ',';
}

/* ==== Checks ============================================================== */

struct Parser {
    Cursor cursor;
    CsvSchools* result;
    Encoding encoding;                      // kUnmarked: UTF-8 until a text is not
    bool gaveUp = false;                    // it was not
    std::size_t fieldOf[kColumnCount + 1];  // the school field of each header cell
    std::size_t columns = 0;                // cells in the header
    // The present row's first cells, never moved: a cell's text may point into it.
    Cell cells[kColumnCount + 1];
    NumberLines numberLines;
};

// Errors and warnings alike: the first kShownCsvErrors kept, all counted.
void note(std::vector<CsvError>* list, std::size_t* count, CsvError error) {
    if ((*count)++ < kShownCsvErrors) {
        list->push_back(std::move(error));
    }
}

void report(Parser* p, std::size_t line, std::size_t column, std::string what) {
    note(&p->result->errors, &p->result->errorCount, CsvError{line, column, std::move(what)});
}

void report(Parser* p, const Cell& cell, std::string what) {
    report(p, cell.line, cell.column, std::move(what));
}

void warn(Parser* p, const Cell& cell, std::string what) {
    note(&p->result->warnings, &p->result->warningCount,
         CsvError{cell.line, cell.column, std::move(what)});
}

void reportFault(Parser* p, const Cell& cell) {
    report(p, cell, formatted(_(cell.fault), showText(cell.raw, cell.rawSize).c_str()));
}

// Takes the cells of the next row, keeping at most `keep` (at most kColumnCount + 1); returns how
// many it had, 0 at the end of the file. Empty lines are skipped.
std::size_t takeRow(Parser* p, std::size_t keep) {
    Cursor* c = &p->cursor;
    while (atLineEnd(*c)) {
        skipLineEnd(c);
    }
    if (c->at == c->end) {
        return 0;
    }
    Cell beyond;
    std::size_t count = 0;
    for (bool more = true; more; ++count) {
        Cell* cell = count < keep ? &p->cells[count] : &beyond;
        more = takeCell(c, cell);
        cell->column = count + 1;
        if (cell == &beyond && cell->fault) {
            reportFault(p, *cell);  // the kept cells' faults come in their turn
        }
    }
    return count;
}

// Reads the header into fieldOf; false when it does not name each column once.
bool takeHeader(Parser* p) {
    CsvSchools* result = p->result;
    std::size_t errors = result->errorCount;
    std::size_t cells = takeRow(p, kColumnCount + 1);
    if (cells == 0) {
        report(p, 1, 1, _("no header row"));
        return false;
    }
    std::size_t cellOf[kColumnCount] = {};  // 0: not named yet
    for (std::size_t i = 0; i < std::min(cells, kColumnCount + 1); ++i) {
        const Cell& cell = p->cells[i];
        std::size_t field = columnNamed(cell.text, cell.size);
        if (cell.fault) {
            reportFault(p, cell);
        } else if (field == kColumnCount) {
            report(p, cell,
                   formatted(_("%s is not one of the columns name, director, number, area, "
                               "students"),
                             showText(cell.text, cell.size).c_str()));
        } else if (cellOf[field] != 0) {
            report(p, cell,
                   formatted(_("%s is column %lu already"), showText(cell.text, cell.size).c_str(),
                             static_cast<unsigned long>(cellOf[field])));
        } else {
            cellOf[field] = i + 1;
            p->fieldOf[i] = field;
        }
    }
    for (std::size_t field = 0; field < kColumnCount; ++field) {
        if (cellOf[field] == 0) {
            report(p, p->cells[0].line, cells + 1,
                   formatted(_("no column \"%s\""), kSchoolColumnNames[field]));
        }
    }
    p->columns = cells;
    return result->errorCount == errors;
}

// A UTF-8 file with a byte that is not UTF-8 is read as Windows-1251: its Cyrillic
// then comes as pairs of Р or С and a byte from 0x80 to 0xBF, which a word of real
// Windows-1251 text hardly ever holds twice in a row. Such a text is taken, as the
// bytes say, and shown as it would read in UTF-8.
void warnOfUtf8(Parser* p, const Cell& cell, const char* text) {
    auto pairAt = [](const unsigned char* at) {
        return (at[0] == 0xD0 || at[0] == 0xD1) && at[1] >= 0x80 && at[1] <= 0xBF;
    };
    std::size_t length = strnlen(text, kTextSize);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; i + 4 <= length; ++i) {
        if (pairAt(bytes + i) && pairAt(bytes + i + 2)) {
            warn(p, cell,
                 formatted(_("%s may be the UTF-8 %s: the file is not all UTF-8, so it was read "
                             "as Windows-1251"),
                           showText(cell.text, cell.size).c_str(), showText(text, length).c_str()));
            return;
        }
    }
}

// Checks a row of the header's cells and keeps its school.
void takeSchool(Parser* p) {
    SCHOOL school{};
    const Cell* numbered = nullptr;  // the school number's cell, when it holds one
    std::string what;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const Cell& cell = p->cells[i];
        std::size_t field = p->fieldOf[i];
        if (cell.fault) {
            reportFault(p, cell);
        } else if (p->encoding >= Encoding::kUtf16LittleEndian && field < 2 &&
                   !isUtf8(cell.text, cell.size)) {
            report(p, cell,
                   formatted(_("%s is not UTF-16"), showText(cell.text, cell.size).c_str()));
        } else if (!takeSchoolCell(cell.text, cell.size, field, &school, &what)) {
            p->gaveUp =
                p->encoding == Encoding::kUnmarked && field < 2 && !isUtf8(cell.text, cell.size);
            if (p->gaveUp) {
                return;
            }
            report(p, cell, std::move(what));
        } else if (field == 2) {
            numbered = &cell;
        } else if (field < 2 && !(what = lostLettersWarning(cell.text, cell.size)).empty()) {
            warn(p, cell, std::move(what));
        } else if (field < 2 && p->encoding == Encoding::kCp1251) {
            warnOfUtf8(p, cell, field == 0 ? school.schoolname : school.director);
        }
    }
    if (p->result->schools.size() == static_cast<std::size_t>(kMaxSchools)) {
        return;  // beyond the list's limit, which is reported
    }
    p->result->schools.push_back(school);
    // A file that the program wrote may hold a number twice (a file loaded twice).
    std::size_t first =
        numbered ? noteNumberLine(&p->numberLines, school.schoolnumber, numbered->line) : 0;
    if (first != 0) {
        warn(p, *numbered,
             formatted(_("school number %ld is also on line %lu"),
                       static_cast<long>(school.schoolnumber), static_cast<unsigned long>(first)));
    }
}

}  // namespace

char* putCsvRow(const SCHOOL& school, char* out) {
    out = putCsvText(school.schoolname, out);
    *out++ = ',';
    out = putCsvText(school.director, out);
    *out++ = ',';
    out = putNumber(school.schoolnumber, out);
    *out++ = ',';
    out = putNumber(school.schoolarea, out);
    *out++ = ',';
    out = putNumber(school.numberstudents, out);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

namespace {

// Parses UTF-8 text, converted from `encoding`. Where that is kUnmarked, a text cell
// that is not UTF-8 gives up at once, returning false: the file is then Windows-1251.
bool parseUtf8(const char* text, std::size_t size, Encoding encoding, CsvSchools* result) {
    *result = CsvSchools{};
    Parser p{Cursor{text, text + size}, result, encoding, false, {}, 0, {}, {}};
    Cursor* c = &p.cursor;
    while (atLineEnd(*c)) {
        skipLineEnd(c);
    }
    c->separator = separatorOf(c->at, c->end);
    for (char special : {c->separator, '\n', '\r', '"'}) {
        c->special[static_cast<unsigned char>(special)] = true;
    }
    // A row with a school number takes at least 6 bytes (",,0,,", a line end).
    result->schools.reserve(std::min(size / 6 + 1, static_cast<std::size_t>(kMaxSchools)));
    reserveNumberLines(&p.numberLines, result->schools.capacity());
    if (!takeHeader(&p)) {
        return true;
    }
    std::size_t rows = 0;
    for (;;) {
        std::size_t cells = takeRow(&p, p.columns);
        if (cells == 0 || p.gaveUp) {
            return !p.gaveUp;
        }
        if (++rows == static_cast<std::size_t>(kMaxSchools) + 1) {
            report(&p, p.cells[0].line, 1,
                   formatted(_("more than %d schools, more than a list holds"), kMaxSchools));
        }
        if (cells != p.columns) {
            // Cells out of place would only make errors of their own.
            for (std::size_t i = 0; i < std::min(cells, p.columns); ++i) {
                if (p.cells[i].fault) {
                    reportFault(&p, p.cells[i]);
                }
            }
            report(&p, p.cells[0].line, std::min(cells, p.columns) + 1,
                   formatted(cells == 1 ? _("%lu cell where the header has %lu")
                                        : _("%lu cells where the header has %lu"),
                             static_cast<unsigned long>(cells),
                             static_cast<unsigned long>(p.columns)));
        } else {
            takeSchool(&p);
        }
    }
}

}  // namespace

void parseCsv(const char* bytes, std::size_t size, CsvSchools* result) {
    std::size_t mark = 0;
    Encoding encoding = markedEncoding(bytes, size, &mark);
    std::string converted;
    if (encoding == Encoding::kUtf16LittleEndian || encoding == Encoding::kUtf16BigEndian) {
        utf16ToUtf8(bytes + mark, size - mark, encoding == Encoding::kUtf16BigEndian, &converted);
        parseUtf8(converted.data(), converted.size(), encoding, result);
        return;
    }
    // A file whose every cell is right is all UTF-8: the whole file is looked at only
    // when one is not. Without a mark, bytes that are not UTF-8 are Windows-1251.
    if (parseUtf8(bytes + mark, size - mark, encoding, result) &&
        (encoding == Encoding::kUtf8 || result->errorCount == 0 || isUtf8(bytes, size))) {
        return;
    }
    cp1251ToUtf8(bytes, size, &converted);
    parseUtf8(converted.data(), converted.size(), Encoding::kCp1251, result);
}
