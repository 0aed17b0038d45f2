// Schools as CSV: formatting rows from records, parsing and checking rows into
// records. No input or output here: the callers bring the bytes and take them.
#include "csv.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console.h"

namespace {

constexpr std::size_t kColumnCount = kSchoolColumns;
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

// Takes the next cell; returns whether another cell of the same row follows.
// A quoted cell's text is held without its quotes, its doubled quotes made single.
bool takeCell(Cursor* c, SchoolCell* cell) {
    cell->line = c->line;
    cell->fault = nullptr;
    bool quoted = c->at < c->end && *c->at == '"';
    if (quoted) {
        cell->held.clear();
        for (++c->at;; ++c->at) {
            if (c->at == c->end) {
                cell->fault = "a quoted cell without its closing quote";
                break;
            }
            if (*c->at == '"' && (c->at + 1 == c->end || c->at[1] != '"')) {
                ++c->at;
                break;
            }
            c->at += *c->at == '"';  // the first of a doubled quote
            c->line += *c->at == '\n';
            cell->fault = *c->at == '\0' ? "a NUL character" : cell->fault;
            cell->held.push_back(*c->at);
        }
        cell->text = cell->held.data();
        cell->size = cell->held.size();
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
        fault = *c->at == '"'    ? "a quote in a cell that does not begin with one"
                : *c->at == '\0' ? "a NUL character"
                                 : fault;  // a CR alone is text
    }
    if (quoted && c->at != from && !cell->fault) {
        cell->fault = "text after the closing quote";
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
    SchoolChecks checks;
    // The present row's first cells, never moved: a cell's text may point into it.
    SchoolCell cells[kColumnCount + 1];
};

void report(SchoolChecks* p, const SchoolCell& cell, std::string what) {
    reportCell(p, cell.line, cell.column, std::move(what));
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
    SchoolCell beyond;
    std::size_t count = 0;
    for (bool more = true; more; ++count) {
        SchoolCell* cell = count < keep ? &p->cells[count] : &beyond;
        more = takeCell(c, cell);
        cell->column = count + 1;
        if (cell == &beyond && cell->fault) {
            report(&p->checks, *cell, cell->fault);  // the kept cells' faults come in their turn
        }
    }
    return count;
}

}  // namespace

bool checkHeader(SchoolChecks* p, const SchoolCell* row, std::size_t cells) {
    CsvSchools* result = p->result;
    std::size_t errors = result->errorCount;
    std::size_t cellOf[kColumnCount] = {};  // 0: not named yet
    for (std::size_t i = 0; i < std::min(cells, kColumnCount + 1); ++i) {
        const SchoolCell& cell = row[i];
        if (cell.fault) {
            report(p, cell, cell.fault);
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
            report(p, cell, "not one of the columns name, director, number, area, students");
        } else if (cellOf[field] != 0) {
            report(p, cell,
                   "\"" + name + "\" is column " + std::to_string(cellOf[field]) + " already");
        } else {
            cellOf[field] = i + 1;
            p->fieldOf[i] = field;
        }
    }
    for (std::size_t field = 0; field < kColumnCount; ++field) {
        if (cellOf[field] == 0) {
            reportCell(p, row[0].line, cells + 1,
                       std::string("no column \"") + kColumns[field] + "\"");
        }
    }
    p->columns = cells;
    return result->errorCount == errors;
}

namespace {

void takeText(SchoolChecks* p, const SchoolCell& cell, char* field) {
    p->converted.resize(cell.size);  // code page 1251 is never longer than UTF-8
    char* converted = &p->converted[0];
    std::uint32_t lacking = 0;
    char* end = utf8ToCp1251Exactly(cell.text, cell.size, converted, &lacking);
    std::size_t length = end ? static_cast<std::size_t>(end - converted) : 0;
    if (!end) {
        char what[48];
        std::snprintf(what, sizeof what, "U+%04X is not in code page 1251",
                      static_cast<unsigned>(lacking));
        report(p, cell, lacking == kNotUtf8 ? "not UTF-8" : what);
    } else if (length >= kTextSize) {
        report(p, cell,
               std::to_string(length) + " characters, more than " + std::to_string(kTextSize - 1));
    } else {
        std::memcpy(field, converted, length);
    }
}

bool takeNumber(SchoolChecks* p, const SchoolCell& cell, std::int32_t* field) {
    if (cell.size == 0 || parseNumber(cell.text, cell.size, field) != cell.size) {
        report(p, cell, "not a whole number from -2147483648 to 2147483647");
        return false;
    }
    return true;
}

}  // namespace

void checkSchool(SchoolChecks* p, const SchoolCell* cells) {
    SCHOOL school{};
    std::int32_t* numbers[] = {&school.schoolnumber, &school.schoolarea, &school.numberstudents};
    const SchoolCell* numbered = nullptr;  // the school number's cell, when it holds one
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        const SchoolCell& cell = cells[i];
        std::size_t field = p->fieldOf[i];
        if (cell.fault) {
            report(p, cell, cell.fault);
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
                   "school number " + std::to_string(known.first) + " is also on line " +
                       std::to_string(known.second));
        } else {
            known = {school.schoolnumber, numbered->line};
        }
    }
}

void startSchoolChecks(SchoolChecks* p, CsvSchools* result, std::size_t mostSchools) {
    *result = CsvSchools{};
    p->result = result;
    result->schools.reserve(std::min(mostSchools, static_cast<std::size_t>(kMaxSchools)));
    std::size_t slots = 2;
    while (slots < result->schools.capacity() * 3 / 2) {
        slots *= 2;
    }
    p->numberLines.assign(slots, {0, 0});
}

void reportCell(SchoolChecks* p, std::size_t line, std::size_t column, std::string what) {
    if (p->result->errorCount++ < kShownCsvErrors) {
        p->result->errors.push_back(CsvError{line, column, std::move(what)});
    }
}

void countRow(SchoolChecks* p, std::size_t line) {
    if (++p->rows == static_cast<std::size_t>(kMaxSchools) + 1) {
        reportCell(p, line, 1,
                   "more than " + std::to_string(kMaxSchools) + " schools, more than a list holds");
    }
}

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
    Parser p{Cursor{bytes, bytes + size}, {}, {}};
    // A row with a school number takes at least 6 bytes (",,0,,", a line end).
    startSchoolChecks(&p.checks, result, size / 6 + 1);
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
    std::size_t header = takeRow(&p, kColumnCount + 1);
    if (header == 0) {
        reportCell(&p.checks, 1, 1, "no header row");
        return;
    }
    if (!checkHeader(&p.checks, p.cells, header)) {
        return;
    }
    std::size_t columns = p.checks.columns;
    for (;;) {
        std::size_t cells = takeRow(&p, columns);
        if (cells == 0) {
            break;
        }
        countRow(&p.checks, p.cells[0].line);
        if (cells != columns) {
            // Cells out of place would only make errors of their own.
            for (std::size_t i = 0; i < std::min(cells, columns); ++i) {
                if (p.cells[i].fault) {
                    report(&p.checks, p.cells[i], p.cells[i].fault);
                }
            }
            reportCell(&p.checks, p.cells[0].line, std::min(cells, columns) + 1,
                       std::to_string(cells) + (cells == 1 ? " cell" : " cells") +
                           " where the header has " + std::to_string(columns));
        } else {
            checkSchool(&p.checks, p.cells);
        }
    }
}
