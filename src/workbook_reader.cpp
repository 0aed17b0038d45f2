// Schools from a workbook: its first sheet found, and read cell by cell with the
// checks that CSV's cells meet.
#include <algorithm>
#include <cstring>

#include "sheet_rows.h"
#include "sheet_values.h"
#include "translate.h"
#include "workbook.h"
#include "xml.h"

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
    const SharedStrings* shared;
    SchoolChecks checks;
    std::size_t row = 0, column = 0;  // the present cell's, counted from 1
    SheetRow cells;                   // the present row's
    std::size_t rows = 0;             // rows met so far, empty ones among them
};

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
        const std::vector<std::uint32_t>& ends = r->shared->ends;
        if (!number || index >= ends.size()) {
            into->fault = N_("no such shared string");
        } else {  // referred to where it is, however many cells name it
            std::size_t start = index == 0 ? 0 : ends[index - 1];
            into->text = r->shared->texts.data() + start;
            into->size = ends[index] - start;
            return;
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

// Returns false once the header is wrong, after which nothing is read.
bool finishRow(SheetReader* r) {
    // An empty row is passed over, as CSV's empty lines are.
    return isEmptySheetRow(r->cells) || checkSheetRow(&r->cells, &r->checks, r->row);
}

void finishCell(SheetReader* r, SheetCell* cell) {
    SchoolCell beyond;
    SchoolCell* into = r->column <= kKeptCells ? &r->cells.cells[r->column - 1] : &beyond;
    settle(r, cell, into);
    if (into->size == 0 && !into->fault) {
        return;
    }
    if (into == &beyond) {
        r->cells.firstBeyond = r->cells.firstBeyond ? r->cells.firstBeyond : r->column;
    } else {
        r->cells.lastFilled = std::max(r->cells.lastFilled, r->column);
    }
}

// The sheet's last column, XFD, as a number.
constexpr std::size_t kLastColumn = 16384;

// "C7" into its column, kLastColumn + 1 for one beyond the sheet's last, or 0 when
// it is no cell's name.
std::size_t columnOf(const std::string& reference) {
    std::size_t column = 0, i = 0;
    for (; i < reference.size() && reference[i] >= 'A' && reference[i] <= 'Z'; ++i) {
        column = std::min(column * 26 + static_cast<std::size_t>(reference[i] - 'A' + 1),
                          kLastColumn + 1);
    }
    return i > 0 && i < reference.size() && reference[i] >= '0' && reference[i] <= '9' ? column : 0;
}

// A row's number, which must go up from 1; a row without one follows the last.
void startNumberedRow(SheetReader* r, const XmlItem& item, std::string* attribute) {
    std::size_t next = r->row + 1, last = r->row;
    bool numbered = xmlAttribute(item, "r", attribute) && attribute->size() < 8 &&
                    !attribute->empty() &&
                    attribute->find_first_not_of("0123456789") == std::string::npos;
    r->row = numbered ? std::stoul(*attribute) : next;
    clearSheetRow(&r->cells);
    r->column = 0;
    if (numbered && r->row == 0) {
        reportCell(&r->checks, 0, 1, _("a row numbered 0, where rows are numbered from 1"));
    } else if (numbered && r->row == last && r->rows > 0) {
        reportCell(&r->checks, r->row, 1,
                   formatted(_("a second row %lu"), static_cast<unsigned long>(r->row)));
    } else if (numbered && r->row < last) {
        reportCell(&r->checks, r->row, 1,
                   formatted(_("row %lu comes after row %lu"), static_cast<unsigned long>(r->row),
                             static_cast<unsigned long>(last)));
    }
    ++r->rows;
}

// A cell's place in its row, which its name gives; named cells must go from left
// to right, each name once, within the sheet's columns.
void placeCell(SheetReader* r, const XmlItem& item, std::string* attribute) {
    std::size_t last = r->column;
    if (!xmlAttribute(item, "r", attribute)) {
        r->column = last + 1;
        return;
    }
    std::size_t column = columnOf(*attribute);
    r->column = column && column <= kLastColumn ? column : last + 1;
    if (column > kLastColumn) {
        reportCell(&r->checks, r->row, r->column,
                   formatted(_("%s is beyond the sheet's last column, XFD"),
                             showText(attribute->data(), attribute->size()).c_str()));
    } else if (column != 0 && column == last) {
        reportCell(&r->checks, r->row, column, _("a second cell of that name in its row"));
    } else if (column != 0 && column < last) {
        reportCell(&r->checks, r->row, column,
                   formatted(_("a cell after %s, out of its row's order"),
                             cellName(r->row, last).c_str()));
    }
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

void readSharedStrings(const std::string& xml, SharedStrings* strings) {
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
            strings->texts += text;
            strings->ends.push_back(static_cast<std::uint32_t>(strings->texts.size()));
            text.clear();
        }
    }
}

void parseSheet(const std::string& xml, const SharedStrings& shared, CheckedSchools* result) {
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
                startNumberedRow(&r, item, &attribute);
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
                placeCell(&r, item, &attribute);
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
    if (!r.cells.headerTaken) {
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
