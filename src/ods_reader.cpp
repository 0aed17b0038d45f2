// Schools from an OpenDocument spreadsheet: the first table of content.xml read
// cell by cell, repeated rows and cells counted rather than made, with the checks
// that every table's cells meet.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "ods.h"
#include "sheet_rows.h"
#include "sheet_values.h"
#include "translate.h"
#include "workbook.h"
#include "xml.h"
#include "zip.h"

namespace {

// A repetition beyond the list's limit adds nothing that is not reported already.
constexpr std::size_t kMostRepeats = static_cast<std::size_t>(kMaxSchools) + 2;

struct OdsCell {
    std::string type;   // office:value-type, empty for an empty cell
    std::string value;  // the value its type takes from an attribute
    std::string text;   // its paragraphs, joined by LF
    bool formula = false, error = false, valued = false;
    std::size_t paragraphs = 0;
    std::size_t repeats = 1;
};

struct OdsReader {
    SchoolChecks checks;
    std::size_t row = 0;      // the rows before the present one
    std::size_t column = 0;   // the cells before the present one in its row
    std::size_t repeats = 1;  // the present row's
    SheetRow cells;           // the present row's
};

// A count of repetitions from its digits: at least 1, and at most what a sheet holds.
std::size_t repeatsFrom(std::string_view digits) {
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return 1;
    }
    std::size_t count = 0;
    for (char c : digits) {
        count = count * 10 + static_cast<std::size_t>(c - '0');
    }
    return std::max<std::size_t>(count, 1);
}

void startRow(OdsReader* r, const XmlItem& item) {
    clearSheetRow(&r->cells);
    r->column = 0;
    std::string repeats;
    r->repeats = xmlAttribute(item, "number-rows-repeated", &repeats) ? repeatsFrom(repeats) : 1;
}

// Returns false once the header is wrong, after which nothing is read.
bool finishRow(OdsReader* r) {
    if (isEmptySheetRow(r->cells)) {
        r->row += r->repeats;  // empty rows, as CSV's empty lines
        return true;
    }
    std::size_t times = std::min(r->repeats, kMostRepeats);
    for (std::size_t k = 0; k < times; ++k) {
        if (!checkSheetRow(&r->cells, &r->checks, ++r->row)) {
            return false;
        }
    }
    r->row += r->repeats - times;
    return true;
}

// Calls `take` with each attribute's qualified name and its value as it stands, in
// one pass over the tag (a cell's many attributes are each looked for once).
template <typename Take>
void eachAttribute(const XmlItem& item, Take take) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const char* p = item.attributes;
    const char* end = p + item.attributesSize;
    while (p < end) {
        p = std::find_if_not(p, end, blank);
        const char* name = p;
        p = std::find_if(p, end, [&](char c) { return c == '=' || blank(c); });
        std::string_view qualified(name, static_cast<std::size_t>(p - name));
        p = std::find_if_not(p, end, [&](char c) { return c == '=' || blank(c); });
        if (p == end || (*p != '"' && *p != '\'')) {
            return;  // not an attribute
        }
        const char* close = std::find(p + 1, end, *p);
        if (close == end) {
            return;
        }
        take(qualified, std::string_view(p + 1, static_cast<std::size_t>(close - p - 1)));
        p = close + 1;
    }
}

void startCell(OdsCell* cell, const XmlItem& item) {
    std::string_view type, values[5], repeats;  // value, boolean, date, time, string
    static const std::string_view kValues[5] = {"value", "boolean-value", "date-value",
                                                "time-value", "string-value"};
    cell->formula = cell->error = cell->valued = false;
    eachAttribute(item, [&](std::string_view name, std::string_view value) {
        std::size_t colon = name.find(':');
        std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
        if (local == "value-type") {
            // calcext:value-type says "error" where office:value-type says "string".
            bool extension = name.substr(0, colon) == "calcext";
            cell->error = cell->error || (extension && value == "error");
            type = extension ? type : value;
        } else if (local == "formula") {
            cell->formula = true;
        } else if (local == "number-columns-repeated") {
            repeats = value;
        }
        for (std::size_t k = 0; k < 5; ++k) {
            values[k] = local == kValues[k] ? value : values[k];
        }
    });
    cell->type.assign(type.data(), type.size());
    std::size_t source = type == "boolean"  ? 1
                         : type == "date"   ? 2
                         : type == "time"   ? 3
                         : type == "string" ? 4
                                            : 0;
    cell->value.clear();
    cell->valued = values[source].data() != nullptr;
    if (cell->valued) {
        appendXmlText(values[source].data(), values[source].size(), &cell->value);
    }
    cell->text.clear();
    cell->paragraphs = 0;
    cell->repeats = repeatsFrom(repeats);
}

// The cell's text as its type says, or its fault.
void settle(OdsCell* cell, SchoolCell* into) {
    std::string& text = into->held;
    into->fault = nullptr;
    const std::string& type = cell->type;
    bool numeric = type == "float" || type == "percentage" || type == "currency";
    if (cell->error) {
        into->fault = errorValue(cell->text);
    } else if (cell->formula && type.empty()) {
        into->fault = N_("a formula without a value");
    } else if (numeric && cell->valued) {
        if (!wholeNumber(cell->value, &text)) {
            text = cell->value;
        }
    } else if (type == "boolean" && cell->valued) {
        text = cell->value == "true" ? "TRUE" : "FALSE";
    } else if ((type == "date" || type == "time" || type == "string") && cell->valued) {
        text = cell->value;
    } else {
        text = cell->text;
    }
    into->text = text.data();
    into->size = text.size();
}

void finishCell(OdsReader* r, OdsCell* cell) {
    SchoolCell probe;
    settle(cell, &probe);
    std::size_t times = cell->repeats;
    if (probe.size == 0 && !probe.fault) {
        r->column += times;  // empty cells, as many as they are
        return;
    }
    for (; times > 0 && r->column < kKeptCells; --times) {
        SchoolCell& into = r->cells.cells[r->column++];
        into.held = probe.held;
        into.text = into.held.data();
        into.size = into.held.size();
        into.fault = probe.fault;
        r->cells.lastFilled = r->column;
    }
    if (times > 0) {
        r->cells.firstBeyond = r->cells.firstBeyond ? r->cells.firstBeyond : r->column + 1;
        r->column += times;
    }
}

// A paragraph's character data: a run of blanks is one blank, as OpenDocument
// reads it (and LibreOffice writes a blank at either end as it is); entities and
// <text:s/> give blanks that stay.
void appendParagraphText(const XmlItem& item, OdsCell* cell) {
    if (item.raw) {
        cell->text.append(item.text, item.textSize);
        return;
    }
    const char* p = item.text;
    const char* end = p + item.textSize;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (p < end) {
        const char* run = std::find_if(p, end, blank);
        appendXmlText(p, static_cast<std::size_t>(run - p), &cell->text);
        p = std::find_if_not(run, end, blank);
        if (run < p) {
            cell->text.push_back(' ');
        }
    }
}

}  // namespace

bool isOdsMimetype(const std::string& mimetype) {
    std::string kind = mimetype.substr(0, mimetype.find_last_not_of(" \t\r\n") + 1);
    return kind == kOdsMimetype || kind == std::string(kOdsMimetype) + "-template";
}

void parseOdsContent(const std::string& xml, std::string* table, CheckedSchools* result) {
    OdsReader r;
    // A row of a school takes at least 40 bytes ("<table:table-row><table:table-cell/>").
    startSchoolChecks(&r.checks, result, xml.size() / 40 + 1);
    r.checks.sheet = true;
    XmlCursor c{xml.data(), xml.data() + xml.size()};
    XmlItem item;
    OdsCell cell;
    std::size_t tables = 0, annotation = 0;
    bool inRow = false, inCell = false, inParagraph = false;
    for (nextXmlItem(&c, &item); item.kind != XmlItem::kEnd; nextXmlItem(&c, &item)) {
        bool open = item.kind == XmlItem::kOpen || item.kind == XmlItem::kOpenClose;
        bool close = item.kind == XmlItem::kClose || item.kind == XmlItem::kOpenClose;
        if (item.kind == XmlItem::kText) {
            if (inParagraph && annotation == 0) {
                appendParagraphText(item, &cell);
            }
        } else if (isXmlName(item, "table")) {
            if (open && tables++ == 0) {
                xmlAttribute(item, "name", table);
            }
            if (close && tables > 0 && --tables == 0) {
                break;  // the first table only
            }
        } else if (tables != 1) {
            continue;  // outside the first table, or in a table within a cell
        } else if (isXmlName(item, "table-row")) {
            if (open) {
                startRow(&r, item);
                inRow = true;
                inCell = false;
            }
            if (close && inRow) {
                inRow = false;
                if (!finishRow(&r)) {
                    return;
                }
            }
        } else if (!inRow) {
            continue;
        } else if (isXmlName(item, "table-cell") || isXmlName(item, "covered-table-cell")) {
            if (open) {
                startCell(&cell, item);
                inCell = true;
                inParagraph = false;
                annotation = 0;
            }
            if (close && inCell) {
                inCell = false;
                finishCell(&r, &cell);
            }
        } else if (!inCell) {
            continue;
        } else if (isXmlName(item, "annotation")) {
            annotation = open && !close ? annotation + 1 : close && annotation ? annotation - 1 : 0;
        } else if (annotation > 0) {
            continue;  // a comment's own paragraphs
        } else if (isXmlName(item, "p")) {
            if (open) {
                cell.text += cell.paragraphs++ > 0 ? "\n" : "";
            }
            inParagraph = open && !close;
        } else if (!inParagraph) {
            continue;
        } else if (isXmlName(item, "s") && open) {
            std::string count;
            std::size_t n = xmlAttribute(item, "c", &count) && !count.empty() && count.size() < 4 &&
                                    count.find_first_not_of("0123456789") == std::string::npos
                                ? std::stoul(count)
                                : 1;
            cell.text.append(std::max<std::size_t>(n, 1), ' ');
        } else if (isXmlName(item, "tab") && open) {
            cell.text.push_back('\t');
        } else if (isXmlName(item, "line-break") && open) {
            cell.text.push_back('\n');
        }
    }
    if (inRow && !finishRow(&r)) {
        return;
    }
    if (!r.cells.headerTaken) {
        reportCell(&r.checks, 1, 1, _("no header row"));
    }
}

const char* readOds(const std::string& zip, std::size_t memberLimit, std::string* table,
                    CheckedSchools* result) {
    std::string content;
    const char* fault = readZipMember(zip.data(), zip.size(), "content.xml", memberLimit, &content);
    if (fault) {
        return fault == kNoSuchMember ? N_("a spreadsheet without its content.xml") : fault;
    }
    parseOdsContent(content, table, result);
    return nullptr;
}
