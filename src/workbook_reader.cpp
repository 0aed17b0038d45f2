// Schools from a workbook: its first sheet found, and read cell by cell with the
// checks that CSV's cells meet.
#include <algorithm>
#include <cstring>

#include "translate.h"
#include "workbook.h"
#include "xml.h"

namespace {

constexpr std::size_t kKeptCells = kSchoolColumns + 1;

// "_xHHHH_" back to its character, in place.
void unescapeText(std::string* text) {
    std::size_t at = text->find("_x");
    if (at == std::string::npos) {
        return;
    }
    std::string out(*text, 0, at);
    for (std::size_t i = at; i < text->size(); ++i) {
        const char* p = text->data() + i;
        if (*p != '_' || !looksEscaped(p, text->data() + text->size())) {
            out.push_back(*p);
            continue;
        }
        unsigned code = 0;
        for (int k = 2; k < 6; ++k) {
            char c = p[k];
            code = code * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        if (code < 0x80) {  // in UTF-8, as XML would have carried it
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | code >> 6));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | code >> 12));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        i += 6;
    }
    text->swap(out);
}

}  // namespace

bool wholeNumber(const std::string& value, std::string* digits) {
    const char* p = value.c_str();
    std::size_t first = *p == '-';
    if (value.size() > first && value.size() < first + 12 && p[first] >= '1' && p[first] <= '9' &&
        value.find_first_not_of("0123456789", first) == std::string::npos) {
        *digits = value;  // already plain digits, as most are
        return true;
    }
    bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    std::string mantissa;
    std::size_t integral = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++integral) {
        mantissa.push_back(*p);
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p) {
            mantissa.push_back(*p);
        }
    }
    long exponent = 0;
    if (!mantissa.empty() && (*p == 'e' || *p == 'E')) {
        bool down = p[1] == '-';
        p += 1 + (p[1] == '-' || p[1] == '+');
        for (; *p >= '0' && *p <= '9'; ++p) {
            exponent = std::min(exponent * 10 + (*p - '0'), 1000L);
        }
        exponent = down ? -exponent : exponent;
    }
    long point = static_cast<long>(integral) + exponent;
    if (mantissa.empty() || *p != '\0' || point > 30) {
        return false;
    }
    std::size_t whole = static_cast<std::size_t>(std::max(point, 0L));
    if (mantissa.find_first_not_of('0', std::min(whole, mantissa.size())) != std::string::npos) {
        return false;
    }
    mantissa.resize(whole, '0');
    mantissa.erase(0, std::min(mantissa.find_first_not_of('0'), mantissa.size()));
    *digits = mantissa.empty() ? "0" : (negative ? "-" : "") + mantissa;
    return true;
}

namespace {

struct SheetCell {
    // Its type: 's' shared string, 'i' inline string, 'f' a formula's text,
    // 'd' date, 'b' truth value, 'e' error, 'n' number.
    char type = 'n';
    std::string value;
    bool formula = false;
};

char typeOf(const std::string& type) {
    static const char* const kTypes[][2] = {{"s", "s"}, {"inlineStr", "i"}, {"str", "f"},
                                            {"d", "d"}, {"b", "b"},         {"e", "e"}};
    for (const auto& known : kTypes) {
        if (type == known[0]) {
            return known[1][0];
        }
    }
    return 'n';
}

struct SheetReader {
    const std::vector<std::string>* shared;
    SchoolChecks checks;
    bool headerTaken = false;
    std::size_t row = 0, column = 0;  // the present cell's, counted from 1
    SchoolCell cells[kKeptCells];     // the present row's first cells
    std::size_t lastFilled = 0;       // its last column that is not empty
    std::size_t firstBeyond = 0;      // its first column beyond kKeptCells not empty
};

}  // namespace

const char* errorValue(const std::string& value) {
    static const char* const kErrors[][2] = {
        {"#N/A", N_("the error value #N/A")},       {"#DIV/0!", N_("the error value #DIV/0!")},
        {"#VALUE!", N_("the error value #VALUE!")}, {"#REF!", N_("the error value #REF!")},
        {"#NAME?", N_("the error value #NAME?")},   {"#NUM!", N_("the error value #NUM!")},
        {"#NULL!", N_("the error value #NULL!")}};
    for (const auto& known : kErrors) {
        if (value == known[0]) {
            return known[1];
        }
    }
    return N_("an error value");
}

namespace {

// Gives the cell its text, as its type says.
void settle(SheetReader* r, SheetCell* cell, SchoolCell* into) {
    into->fault = nullptr;
    std::string& text = into->held;
    if (cell->formula && cell->value.empty()) {
        into->fault = N_("a formula without a value");
    } else if (cell->type == 's') {
        std::size_t index = 0;
        bool number = !cell->value.empty() && cell->value.size() < 10 &&
                      cell->value.find_first_not_of("0123456789") == std::string::npos;
        index = number ? std::stoul(cell->value) : 0;
        if (!number || index >= r->shared->size()) {
            into->fault = N_("no such shared string");
        } else {
            text = (*r->shared)[index];
        }
    } else if (cell->type == 'i' || cell->type == 'f' || cell->type == 'd') {
        text.swap(cell->value);
        if (cell->type != 'f') {
            unescapeText(&text);
        }
    } else if (cell->type == 'b') {
        text = cell->value == "1" ? "TRUE" : "FALSE";
    } else if (cell->type == 'e') {
        into->fault = errorValue(cell->value);
    } else {
        if (!wholeNumber(cell->value, &text)) {
            text.swap(cell->value);
        }
    }
    into->text = text.data();
    into->size = text.size();
}

void startRow(SheetReader* r) {
    for (std::size_t i = 0; i < kKeptCells; ++i) {
        SchoolCell& cell = r->cells[i];
        cell.held.clear();
        cell.text = cell.held.data();
        cell.size = 0;
        cell.fault = nullptr;
        cell.line = r->row;
        cell.column = i + 1;
    }
    r->column = 0;
    r->lastFilled = 0;
    r->firstBeyond = 0;
}

// Returns false once the header is wrong, after which nothing is read.
bool finishRow(SheetReader* r) {
    if (r->lastFilled == 0 && r->firstBeyond == 0) {
        return true;  // an empty row, as CSV's empty lines
    }
    std::size_t last = std::max(r->lastFilled, r->firstBeyond);
    if (!r->headerTaken) {
        r->headerTaken = true;
        return checkHeader(&r->checks, r->cells, last);
    }
    countRow(&r->checks, r->row);
    checkSchool(&r->checks, r->cells);
    if (last > r->checks.columns) {
        reportCell(&r->checks, r->row, std::max(r->firstBeyond, r->checks.columns + 1),
                   formatted(_("a cell beyond the header's %lu columns"),
                             static_cast<unsigned long>(r->checks.columns)));
    }
    return true;
}

void finishCell(SheetReader* r, SheetCell* cell) {
    SchoolCell beyond;
    SchoolCell* into = r->column <= kKeptCells ? &r->cells[r->column - 1] : &beyond;
    settle(r, cell, into);
    if (into->size == 0 && !into->fault) {
        return;
    }
    if (into == &beyond) {
        r->firstBeyond = r->firstBeyond ? r->firstBeyond : r->column;
    } else {
        r->lastFilled = std::max(r->lastFilled, r->column);
    }
}

// "C7" into its column, or 0 when it is none.
std::size_t columnOf(const std::string& reference) {
    std::size_t column = 0, i = 0;
    for (; i < reference.size() && i < 3 && reference[i] >= 'A' && reference[i] <= 'Z'; ++i) {
        column = column * 26 + static_cast<std::size_t>(reference[i] - 'A' + 1);
    }
    return i < reference.size() && reference[i] >= '0' && reference[i] <= '9' ? column : 0;
}

}  // namespace

const char* findFirstSheet(const std::string& workbook, const std::string& relationships,
                           SheetPlace* place) {
    XmlCursor c{workbook.data(), workbook.data() + workbook.size()};
    XmlItem item;
    std::string id;
    for (nextXmlItem(&c, &item); item.kind != XmlItem::kEnd; nextXmlItem(&c, &item)) {
        if (item.kind != XmlItem::kClose && isXmlName(item, "sheet") &&
            xmlAttribute(item, "name", &place->name) && xmlAttribute(item, "id", &id)) {
            break;
        }
    }
    if (item.kind == XmlItem::kEnd) {
        return N_("a workbook without a sheet");
    }
    c = XmlCursor{relationships.data(), relationships.data() + relationships.size()};
    std::string relation, type, target;
    for (nextXmlItem(&c, &item); item.kind != XmlItem::kEnd; nextXmlItem(&c, &item)) {
        if (item.kind == XmlItem::kClose || !isXmlName(item, "Relationship") ||
            !xmlAttribute(item, "Id", &relation) || !xmlAttribute(item, "Target", &target)) {
            continue;
        }
        // Targets are relative to xl/, or absolute from the archive's root.
        target = target[0] == '/' ? target.substr(1) : "xl/" + target;
        if (relation == id) {
            place->member = target;
        } else if (xmlAttribute(item, "Type", &type) && type.size() >= 14 &&
                   type.compare(type.size() - 14, 14, "/sharedStrings") == 0) {
            place->sharedStrings = target;
        }
    }
    return place->member.empty() ? N_("a workbook whose first sheet is missing") : nullptr;
}

void readSharedStrings(const std::string& xml, std::vector<std::string>* strings) {
    XmlCursor c{xml.data(), xml.data() + xml.size()};
    XmlItem item;
    std::size_t phonetic = 0;  // inside <rPh>, whose texts are readings, not the string
    bool inText = false;
    std::string text;
    for (nextXmlItem(&c, &item); item.kind != XmlItem::kEnd; nextXmlItem(&c, &item)) {
        bool open = item.kind == XmlItem::kOpen, close = item.kind == XmlItem::kClose;
        if (item.kind == XmlItem::kText) {
            if (inText && phonetic == 0) {
                appendItemText(item, &text);
            }
        } else if (isXmlName(item, "rPh")) {
            phonetic = open ? phonetic + 1 : close && phonetic > 0 ? phonetic - 1 : phonetic;
        } else if (isXmlName(item, "t")) {
            inText = open;
        } else if (isXmlName(item, "si") && !open) {
            unescapeText(&text);
            strings->push_back(text);
            text.clear();
        }
    }
}

void parseSheet(const std::string& xml, const std::vector<std::string>& shared,
                CsvSchools* result) {
    SheetReader r;
    r.shared = &shared;
    // A row of a school takes at least 20 bytes ("<row><c><v>0</v></c>").
    startSchoolChecks(&r.checks, result, xml.size() / 20 + 1);
    r.checks.sheet = true;
    XmlCursor c{xml.data(), xml.data() + xml.size()};
    XmlItem item;
    SheetCell cell;
    std::string* capture = nullptr;  // the text being read: a value, or an inline string's
    std::size_t phonetic = 0;
    bool inCell = false, inRow = false;
    std::string attribute;
    for (nextXmlItem(&c, &item); item.kind != XmlItem::kEnd; nextXmlItem(&c, &item)) {
        bool open = item.kind == XmlItem::kOpen || item.kind == XmlItem::kOpenClose;
        bool close = item.kind == XmlItem::kClose || item.kind == XmlItem::kOpenClose;
        if (item.kind == XmlItem::kText) {
            if (capture && phonetic == 0) {
                appendItemText(item, capture);
            }
        } else if (isXmlName(item, "row")) {
            if (open) {
                std::size_t next = r.row + 1;
                if (xmlAttribute(item, "r", &attribute) && attribute.size() < 8 &&
                    !attribute.empty() &&
                    attribute.find_first_not_of("0123456789") == std::string::npos) {
                    next = std::stoul(attribute);
                }
                r.row = next;
                startRow(&r);
                inRow = true;
                inCell = false;  // a cell left open ends with its row
                capture = nullptr;
            }
            if (close && inRow) {
                inRow = false;
                if (!finishRow(&r)) {
                    return;
                }
            }
        } else if (isXmlName(item, "c") && inRow) {
            if (open) {
                cell.value.clear();
                cell.formula = false;
                cell.type = xmlAttribute(item, "t", &attribute) ? typeOf(attribute) : 'n';
                std::size_t column = xmlAttribute(item, "r", &attribute) ? columnOf(attribute) : 0;
                r.column = column ? column : r.column + 1;
                inCell = true;
            }
            if (close && inCell) {
                inCell = false;
                capture = nullptr;
                finishCell(&r, &cell);
            }
        } else if (!inCell) {
            continue;
        } else if (isXmlName(item, "f")) {
            cell.formula = true;
        } else if (isXmlName(item, "v")) {
            capture = open && !close ? &cell.value : nullptr;
        } else if (isXmlName(item, "t")) {
            capture = open && !close ? &cell.value : nullptr;
        } else if (isXmlName(item, "rPh")) {
            phonetic = open && !close ? phonetic + 1 : close && phonetic > 0 ? phonetic - 1 : 0;
        }
    }
    if (inRow && !finishRow(&r)) {
        return;
    }
    if (!r.headerTaken) {
        reportCell(&r.checks, 1, 1, _("no header row"));
    }
}

std::string cellName(std::size_t row, std::size_t column) {
    std::string letters;
    for (; column > 0; column = (column - 1) / 26) {
        letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
    }
    return letters + std::to_string(row);
}
