// Cells checked into school fields, the same for every kind of table, and texts
// shown in messages so that nothing in them is hidden or drives a terminal.
#include "school_cells.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text/ascii.h"
#include "text/codepage.h"
#include "text/numbers.h"
#include "translate.h"

const char* const kSchoolColumnNames[kSchoolColumns] = {"name", "director", "number", "area",
                                                        "students"};

// A translation in UTF-8: where the catalog's texts come in code page 1251 (as on
// Windows, for its console), they are turned back.
std::string inUtf8(const char* text) {
    std::size_t size = std::strlen(text);
    std::string utf8;
    if (isUtf8(text, size)) {
        return text;
    }
    cp1251ToUtf8(text, size, &utf8);
    return utf8;
}

SheetWords sheetWords() {
    // TRANSLATORS: the name of the sheet of an exported workbook
    return SheetWords{inUtf8(_("Schools")),
                      // TRANSLATORS: the header of an exported sheet, one column each
                      {inUtf8(_("name")), inUtf8(_("director")), inUtf8(_("number")),
                       inUtf8(_("area")), inUtf8(_("students"))},
                      // TRANSLATORS: a printed sheet's footer; &P is the page, &N the pages
                      inUtf8(_("Page &P of &N"))};
}

namespace {

constexpr std::size_t kShownCharacters = 60;

std::string withCode(const char* format, std::uint32_t code) {
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
    return text;
}

// Code page 1251 is never longer than UTF-8, and 50 characters are at most 200
// bytes: a longer text is refused on its length alone, unconverted, and so is a
// number's text of that length.
constexpr std::size_t kMostTextBytes = 4 * kTextSize;

// What keeps the UTF-8 text from being a record's text.
std::string whyNotText(const char* text, std::size_t size) {
    std::string shown = showText(text, size);
    if (size > kMostTextBytes) {
        return formatted(_("%s is %lu bytes, more than any %lu characters take"), shown.c_str(),
                         static_cast<unsigned long>(size), static_cast<unsigned long>(kTextSize));
    }
    std::string converted(size, '\0');
    std::uint32_t lacking = 0;
    char* end = utf8ToCp1251Exactly(text, size, &converted[0], &lacking);
    if (!end) {
        return lacking == kNotUtf8 ? formatted(_("%s is not UTF-8"), shown.c_str())
                                   : formatted(_("%s holds U+%04X, which code page 1251 lacks"),
                                               shown.c_str(), static_cast<unsigned>(lacking));
    }
    converted.resize(static_cast<std::size_t>(end - converted.data()));
    if (converted.find('\0') != std::string::npos) {
        return formatted(_("%s holds a NUL character"), shown.c_str());
    }
    return formatted(_("%s is %lu characters, more than %lu"), shown.c_str(),
                     static_cast<unsigned long>(converted.size()),
                     static_cast<unsigned long>(kTextSize));
}

}  // namespace

std::size_t columnNamed(const char* text, std::size_t size) {
    // The Bulgarian names too, whatever the locale: a sheet keeps the header it got.
    static const char* const kBulgarian[kSchoolColumns] = {
        "\u0438\u043c\u0435", "\u0434\u0438\u0440\u0435\u043a\u0442\u043e\u0440",
        "\u043d\u043e\u043c\u0435\u0440", "\u043f\u043b\u043e\u0449",
        "\u0443\u0447\u0435\u043d\u0438\u0446\u0438"};
    std::string lower(text, size);
    for (std::size_t i = 0; i < lower.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(lower[i]);
        unsigned char next = i + 1 < lower.size() ? static_cast<unsigned char>(lower[i + 1]) : 0;
        lower[i] = lowerAscii(lower[i]);
        if (c == 0xD0 && next >= 0x90 && next <= 0xAF) {  // U+0410 to U+042F: А to Я
            lower[i] = static_cast<char>(next < 0xA0 ? 0xD0 : 0xD1);
            lower[i + 1] = static_cast<char>(next < 0xA0 ? next + 0x20 : next - 0x20);
        }
    }
    for (std::size_t column = 0; column < kSchoolColumns; ++column) {
        if (lower == kSchoolColumnNames[column] || lower == kBulgarian[column]) {
            return column;
        }
    }
    return kSchoolColumns;
}

bool takeSchoolCell(const char* text, std::size_t size, std::size_t column, SCHOOL* school,
                    std::string* error) {
    if (column >= 2) {
        std::int32_t* numbers[] = {&school->schoolnumber, &school->schoolarea,
                                   &school->numberstudents};
        if (size == 0 || size > kMostTextBytes ||
            parseNumber(text, size, numbers[column - 2]) != size) {
            *error = formatted(_("%s is not a whole number from -2147483648 to 2147483647"),
                               showText(text, size).c_str());
            return false;
        }
        return true;
    }
    char converted[kMostTextBytes];
    if (size <= sizeof converted) {
        std::uint32_t lacking = 0;
        char* end = utf8ToCp1251Exactly(text, size, converted, &lacking);
        std::size_t length = end ? static_cast<std::size_t>(end - converted) : 0;
        if (end && length <= kTextSize && !std::memchr(converted, '\0', length)) {
            char* field = column == 0 ? school->schoolname : school->director;
            std::memcpy(field, converted, length);
            std::memset(field + length, 0, kTextSize - length);
            return true;
        }
    }
    *error = whyNotText(text, size);
    return false;
}

std::string lostLettersWarning(const char* text, std::size_t size) {
    const char* end = text + size;
    for (const char* p = text; p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '?', static_cast<std::size_t>(end - p)));
        if (!p || p + 1 == end) {
            break;
        }
        if (p[1] == '?') {
            return formatted(_("%s holds \"??\", as a save leaves letters its encoding lacks"),
                             showText(text, size).c_str());
        }
    }
    return std::string();
}

std::string showText(const char* text, std::size_t size) {
    std::string shown = "\"";
    const char* end = text + size;
    const char* p = text;
    for (std::size_t characters = 0; p < end && characters < kShownCharacters; ++characters) {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
        std::uint32_t code = 0;
        std::size_t used = utf8SequenceAt(p, static_cast<std::size_t>(end - p), &code);
        if (used == 0 && u[0] == 0xED && end - p >= 3 && (u[1] & 0xE0) == 0xA0 &&
            (u[2] & 0xC0) == 0x80) {
            // A surrogate without its pair, as the reading of UTF-16 passes it on.
            code = 0xD000 | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
            shown += withCode("\\u%04X", code);
            used = 3;
        } else if (used == 0) {
            shown += withCode("\\x%02X", u[0]);
            used = 1;
        } else if (code == '"' || code == '\\') {
            shown += '\\';
            shown += static_cast<char>(code);
        } else if (code == '\r' || code == '\n' || code == '\t' || code == 0) {
            shown += code == '\r' ? "\\r" : code == '\n' ? "\\n" : code == '\t' ? "\\t" : "\\0";
        } else if (code < 0x20 || code == 0x7F) {
            shown += withCode("\\x%02X", code);
        } else if (code >= 0x80 && code < 0xA0) {
            shown += withCode("\\u%04X", code);
        } else {
            shown.append(p, used);
        }
        p += used;
    }
    shown += '"';
    return p < end ? shown + "..." : shown;
}

void reserveNumberLines(NumberLines* lines, std::size_t schools) {
    std::size_t slots = 2;
    while (slots < schools * 3 / 2 + 1) {
        slots *= 2;
    }
    if (slots > lines->slots.size()) {
        std::vector<std::pair<std::int32_t, std::size_t>> old;
        old.swap(lines->slots);
        lines->slots.resize(slots);
        lines->count = 0;
        for (const auto& known : old) {
            if (known.second != 0) {
                noteNumberLine(lines, known.first, known.second);
            }
        }
    }
}

std::size_t noteNumberLine(NumberLines* lines, std::int32_t number, std::size_t line) {
    if ((lines->count + 1) * 3 > lines->slots.size() * 2) {
        reserveNumberLines(lines, lines->count * 2 + 2);
    }
    std::size_t mask = lines->slots.size() - 1;
    std::size_t slot = static_cast<std::uint32_t>(number) * 2654435761u & mask;
    while (lines->slots[slot].second != 0 && lines->slots[slot].first != number) {
        slot = (slot + 1) & mask;
    }
    std::pair<std::int32_t, std::size_t>& known = lines->slots[slot];
    if (known.second != 0) {
        return known.second;
    }
    known = {number, line};
    ++lines->count;
    return 0;
}

std::string formatted(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int size = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return std::string(text, size > 0 ? std::min<std::size_t>(size, sizeof text - 1) : 0);
}

/* ==== A whole table ========================================================= */

namespace {

// Errors and warnings alike: the first kShownFindings kept, all counted.
void note(std::vector<CellFinding>* list, std::size_t* count, CellFinding error) {
    if ((*count)++ < kShownFindings) {
        list->push_back(std::move(error));
    }
}

void report(SchoolChecks* p, const SchoolCell& cell, std::string what) {
    reportCell(p, cell.line, cell.column, std::move(what));
}

void warn(SchoolChecks* p, const SchoolCell& cell, std::string what) {
    note(&p->result->warnings, &p->result->warningCount,
         CellFinding{cell.line, cell.column, std::move(what)});
}

// A UTF-8 file with a byte that is not UTF-8 is read as Windows-1251: its Cyrillic
// then comes as pairs of Р or С and a byte from 0x80 to 0xBF, which a word of real
// Windows-1251 text hardly ever holds twice in a row. Such a text is taken, as the
// bytes say, and shown as it would read in UTF-8.
void warnOfUtf8(SchoolChecks* p, const SchoolCell& cell, const char* text) {
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

// Counts a text that the code page lacks characters of, and whether it seems misread.
void noteLacking(CheckedSchools* result, const SchoolCell& cell, std::size_t field) {
    std::string converted(cell.size, '\0');
    std::uint32_t lacking = 0;
    if (field < 2 && cell.size <= 4 * kTextSize &&
        !utf8ToCp1251Exactly(cell.text, cell.size, &converted[0], &lacking) &&
        lacking != kNotUtf8) {
        ++result->lackingTexts;
        result->misreadTexts += looksLikeMisreadUtf8(cell.text, cell.size);
    }
}

}  // namespace

void startSchoolChecks(SchoolChecks* p, CheckedSchools* result, std::size_t mostSchools) {
    *result = CheckedSchools{};
    p->result = result;
    result->schools.reserve(std::min(mostSchools, static_cast<std::size_t>(kMaxSchools)));
    reserveNumberLines(&p->numberLines, result->schools.capacity());
}

void reportCell(SchoolChecks* p, std::size_t line, std::size_t column, std::string what) {
    note(&p->result->errors, &p->result->errorCount, CellFinding{line, column, std::move(what)});
}

void reportFault(SchoolChecks* p, const SchoolCell& cell) {
    std::string shown =
        cell.raw ? showText(cell.raw, cell.rawSize) : showText(cell.text, cell.size);
    report(p, cell, formatted(_(cell.fault), shown.c_str()));
}

bool checkHeader(SchoolChecks* p, const SchoolCell* row, std::size_t cells) {
    std::size_t errors = p->result->errorCount;
    std::size_t cellOf[kSchoolColumns] = {};  // 0: not named yet
    for (std::size_t i = 0; i < std::min(cells, kSchoolColumns + 1); ++i) {
        const SchoolCell& cell = row[i];
        std::size_t field = columnNamed(cell.text, cell.size);
        if (cell.fault) {
            reportFault(p, cell);
        } else if (field == kSchoolColumns) {
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
    for (std::size_t field = 0; field < kSchoolColumns; ++field) {
        if (cellOf[field] == 0) {
            reportCell(p, row[0].line, cells + 1,
                       formatted(_("no column \"%s\""), kSchoolColumnNames[field]));
        }
    }
    p->columns = cells;
    return p->result->errorCount == errors;
}

void countRow(SchoolChecks* p, std::size_t line) {
    if (++p->rows == static_cast<std::size_t>(kMaxSchools) + 1) {
        reportCell(p, line, 1,
                   formatted(_("more than %d schools, more than a list holds"), kMaxSchools));
    }
}

void checkSchool(SchoolChecks* p, const SchoolCell* cells) {
    SCHOOL school{};
    const SchoolCell* numbered = nullptr;  // the school number's cell, when it holds one
    std::string what;
    for (std::size_t i = 0; i < kSchoolColumns; ++i) {
        const SchoolCell& cell = cells[i];
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
            noteLacking(p->result, cell, field);
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
             formatted(p->sheet ? _("school number %ld is also on row %lu")
                                : _("school number %ld is also on line %lu"),
                       static_cast<long>(school.schoolnumber), static_cast<unsigned long>(first)));
    }
}
