// Schools as CSV: formatting rows from records, parsing and checking rows into
// records. No input or output here: the callers bring the bytes and take them.
#include "csv.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "translate.h"

namespace {

constexpr std::size_t kColumnCount = 5;
const char* const kColumns[kColumnCount] = {"name", "director", "number", "area", "students"};
constexpr std::size_t kTextSize = sizeof(SCHOOL{}.schoolname);

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
    std::string unquoted;  // a quoted cell's text, its doubled quotes made single
    std::size_t line = 0;
    std::size_t column = 0;
    const char* fault = nullptr;  // in the CSV syntax
};

// Takes the next cell; returns whether another cell of the same row follows.
bool takeCell(Cursor* c, Cell* cell) {
    cell->line = c->line;
    cell->fault = nullptr;
    bool quoted = c->at < c->end && *c->at == '"';
    if (quoted) {
        cell->unquoted.clear();
        for (++c->at;; ++c->at) {
            if (c->at == c->end) {
                cell->fault = N_("a quoted cell without its closing quote");
                break;
            }
            if (*c->at == '"' && (c->at + 1 == c->end || c->at[1] != '"')) {
                ++c->at;
                break;
            }
            c->at += *c->at == '"';  // the first of a doubled quote
            c->line += *c->at == '\n';
            cell->fault = *c->at == '\0' ? N_("a NUL character") : cell->fault;
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
        fault = *c->at == '"'    ? N_("a quote in a cell that does not begin with one")
                : *c->at == '\0' ? N_("a NUL character")
                                 : fault;  // a CR alone is text
    }
    if (quoted && c->at != from && !cell->fault) {
        cell->fault = N_("text after the closing quote");
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
    std::size_t fieldOf[kColumnCount + 1];  // the school field of each header cell
    std::size_t columns = 0;                // cells in the header
    // The present row's first cells, never moved: a cell's text may point into it.
    Cell cells[kColumnCount + 1];
    // Each school number kept and its line, by open addressing: a power of two of
    // slots, at most two thirds full; line 0 marks a free slot.
    std::vector<std::pair<std::int32_t, std::size_t>> numberLines;
    std::string converted;
};

// A message with numbers in it, as the translated format puts them.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatted(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    int size = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, size > 0 ? std::min<std::size_t>(size, sizeof text - 1) : 0);
}

void report(Parser* p, std::size_t line, std::size_t column, std::string what) {
    if (p->result->errorCount++ < kShownCsvErrors) {
        p->result->errors.push_back(CsvError{line, column, std::move(what)});
    }
}

void report(Parser* p, const Cell& cell, std::string what) {
    report(p, cell.line, cell.column, std::move(what));
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
            report(p, *cell, _(cell->fault));  // the kept cells' faults come in their turn
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
        if (cell.fault) {
            report(p, cell, _(cell.fault));
            continue;
        }
        std::string name(cell.text, cell.size);
        for (char& ch : name) {
            ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        }
        std::size_t field = 0;
        while (field < kColumnCount && name != kColumns[field]) {
            ++field;
        }
        if (field == kColumnCount) {
            report(p, cell, _("not one of the columns name, director, number, area, students"));
        } else if (cellOf[field] != 0) {
            report(p, cell,
                   formatted(_("\"%s\" is column %lu already"), name.c_str(),
                             static_cast<unsigned long>(cellOf[field])));
        } else {
            cellOf[field] = i + 1;
            p->fieldOf[i] = field;
        }
    }
    for (std::size_t field = 0; field < kColumnCount; ++field) {
        if (cellOf[field] == 0) {
            report(p, p->cells[0].line, cells + 1,
                   formatted(_("no column \"%s\""), kColumns[field]));
        }
    }
    p->columns = cells;
    return result->errorCount == errors;
}

void takeText(Parser* p, const Cell& cell, char* field) {
    p->converted.resize(cell.size);  // code page 1251 is never longer than UTF-8
    char* converted = &p->converted[0];
    std::uint32_t lacking = 0;
    char* end = utf8ToCp1251Exactly(cell.text, cell.size, converted, &lacking);
    std::size_t length = end ? static_cast<std::size_t>(end - converted) : 0;
    if (!end) {
        char what[128];
        std::snprintf(what, sizeof what, _("U+%04X is not in code page 1251"),
                      static_cast<unsigned>(lacking));
        report(p, cell, lacking == kNotUtf8 ? _("not UTF-8") : what);
    } else if (length >= kTextSize) {
        report(p, cell,
               formatted(_("%lu characters, more than %lu"), static_cast<unsigned long>(length),
                         static_cast<unsigned long>(kTextSize - 1)));
    } else {
        std::memcpy(field, converted, length);
    }
}

bool takeNumber(Parser* p, const Cell& cell, std::int32_t* field) {
    if (cell.size == 0 || parseNumber(cell.text, cell.size, field) != cell.size) {
        report(p, cell, _("not a whole number from -2147483648 to 2147483647"));
        return false;
    }
    return true;
}

// Checks a row of the header's cells and keeps its school.
void takeSchool(Parser* p) {
    SCHOOL school{};
    std::int32_t* numbers[] = {&school.schoolnumber, &school.schoolarea, &school.numberstudents};
    const Cell* numbered = nullptr;  // the school number's cell, when it holds one
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const Cell& cell = p->cells[i];
        std::size_t field = p->fieldOf[i];
        if (cell.fault) {
            report(p, cell, _(cell.fault));
        } else if (field < 2) {
            takeText(p, cell, field == 0 ? school.schoolname : school.director);
        } else if (takeNumber(p, cell, numbers[field - 2]) && field == 2) {
            numbered = &cell;
        }
    }
    if (p->result->schools.size() == static_cast<std::size_t>(kMaxSchools)) {
        return;  // beyond the list's limit, which is reported
    }
    p->result->schools.push_back(school);
    if (numbered) {
        std::size_t mask = p->numberLines.size() - 1;
        std::size_t slot = static_cast<std::uint32_t>(school.schoolnumber) * 2654435761u & mask;
        while (p->numberLines[slot].second != 0 &&
               p->numberLines[slot].first != school.schoolnumber) {
            slot = (slot + 1) & mask;
        }
        std::pair<std::int32_t, std::size_t>& known = p->numberLines[slot];
        if (known.second != 0) {
            report(p, *numbered,
                   formatted(_("school number %ld is also on line %lu"),
                             static_cast<long>(known.first),
                             static_cast<unsigned long>(known.second)));
        } else {
            known = {school.schoolnumber, numbered->line};
        }
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

void parseCsv(const char* bytes, std::size_t size, CsvSchools* result) {
    *result = CsvSchools{};
    Parser p{Cursor{bytes, bytes + size}, result, {}, 0, {}, {}, {}};
    if (size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
        p.cursor.at += 3;
    }
    Cursor* c = &p.cursor;
    while (atLineEnd(*c)) {
        skipLineEnd(c);
    }
    c->separator = separatorOf(c->at, c->end);
    for (char special : {c->separator, '\n', '\r', '"', '\0'}) {
        c->special[static_cast<unsigned char>(special)] = true;
    }
    // A row with a school number takes at least 6 bytes (",,0,,", a line end).
    result->schools.reserve(std::min(size / 6 + 1, static_cast<std::size_t>(kMaxSchools)));
    std::size_t slots = 2;
    while (slots < result->schools.capacity() * 3 / 2) {
        slots *= 2;
    }
    p.numberLines.resize(slots);
    if (!takeHeader(&p)) {
        return;
    }
    std::size_t rows = 0;
    for (;;) {
        std::size_t cells = takeRow(&p, p.columns);
        if (cells == 0) {
            break;
        }
        if (++rows == static_cast<std::size_t>(kMaxSchools) + 1) {
            report(&p, p.cells[0].line, 1,
                   formatted(_("more than %d schools, more than a list holds"), kMaxSchools));
        }
        if (cells != p.columns) {
            // Cells out of place would only make errors of their own.
            for (std::size_t i = 0; i < std::min(cells, p.columns); ++i) {
                if (p.cells[i].fault) {
                    report(&p, p.cells[i], _(p.cells[i].fault));
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
