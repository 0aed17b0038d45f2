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

// Takes the next cell; returns whether another cell of the same row follows.
bool takeCell(Cursor* c, SchoolCell* cell) {
    cell->line = c->line;
    cell->fault = nullptr;
    cell->raw = c->at;
    bool quoted = c->at < c->end && *c->at == '"';
    if (quoted) {
        cell->held.clear();
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

/* ==== Rows ================================================================ */

struct Parser {
    Cursor cursor;
    SchoolChecks checks;
    // The present row's first cells, never moved: a cell's text may point into it.
    SchoolCell cells[kColumnCount + 1];
};

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
            reportFault(&p->checks, *cell);  // the kept cells' faults come in their turn
        }
    }
    return count;
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
bool parseUtf8(const char* text, std::size_t size, Encoding encoding, CheckedSchools* result) {
    Parser p{Cursor{text, text + size}, {}, {}};
    p.checks.encoding = encoding;
    // A row with a school number takes at least 6 bytes (",,0,,", a line end).
    startSchoolChecks(&p.checks, result, size / 6 + 1);
    Cursor* c = &p.cursor;
    while (atLineEnd(*c)) {
        skipLineEnd(c);
    }
    c->separator = separatorOf(c->at, c->end);
    for (char special : {c->separator, '\n', '\r', '"'}) {
        c->special[static_cast<unsigned char>(special)] = true;
    }
    std::size_t header = takeRow(&p, kColumnCount + 1);
    if (header == 0) {
        reportCell(&p.checks, 1, 1, _("no header row"));
        return true;
    }
    if (!checkHeader(&p.checks, p.cells, header)) {
        return true;
    }
    for (;;) {
        std::size_t cells = takeRow(&p, p.checks.columns);
        if (cells == 0 || p.checks.gaveUp) {
            return !p.checks.gaveUp;
        }
        countRow(&p.checks, p.cells[0].line);
        if (cells != p.checks.columns) {
            // Cells out of place would only make errors of their own.
            for (std::size_t i = 0; i < std::min(cells, p.checks.columns); ++i) {
                if (p.cells[i].fault) {
                    reportFault(&p.checks, p.cells[i]);
                }
            }
            reportCell(&p.checks, p.cells[0].line, std::min(cells, p.checks.columns) + 1,
                       formatted(cells == 1 ? _("%lu cell where the header has %lu")
                                            : _("%lu cells where the header has %lu"),
                                 static_cast<unsigned long>(cells),
                                 static_cast<unsigned long>(p.checks.columns)));
        } else {
            checkSchool(&p.checks, p.cells);
        }
    }
}

}  // namespace

void parseCsv(const char* bytes, std::size_t size, CheckedSchools* result) {
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
    // A file mostly UTF-8 has a byte gone wrong, which reading it all as
    // Windows-1251 would only hide in its other lines.
    Utf8Breaks breaks;
    findUtf8Breaks(bytes, size, &breaks);
    if (breaks.utf8Lines > 0 && breaks.utf8Lines >= breaks.brokenLines) {
        *result = CheckedSchools{};
        result->errors.push_back(CellFinding{
            breaks.line, breaks.column,
            formatted(_("byte 0x%02X is not UTF-8, though most of the file is: mend it, or save "
                        "the file as UTF-8"),
                      breaks.byte)});
        result->errorCount = 1;
        return;
    }
    cp1251ToUtf8(bytes, size, &converted);
    parseUtf8(converted.data(), converted.size(), Encoding::kCp1251, result);
    // Said first, since it explains the warnings of texts that follow.
    result->warnings.insert(
        result->warnings.begin(),
        CellFinding{breaks.line, breaks.column,
                    formatted(_("byte 0x%02X is not UTF-8, so the file was read as Windows-1251"),
                              breaks.byte)});
    if (++result->warningCount > kShownFindings) {
        result->warnings.pop_back();
    }
}
