// Schools as a workbook: the sheet written row by row, and read cell by cell with
// the checks that CSV's cells meet.
#include "workbook.h"

#include <algorithm>
#include <cstring>

#include "console.h"
#include "xml.h"

namespace {

constexpr std::size_t kTextSize = sizeof(SCHOOL{}.schoolname);
constexpr std::size_t kKeptCells = kSchoolColumns + 1;
const char* const kHeader[kSchoolColumns] = {"name", "director", "number", "area", "students"};
constexpr char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

/* ==== Writing ============================================================= */

char* putText(const char* text, char* out) {
    std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    return out + size;
}

char* putDecimal(std::size_t value, char* out) {
    char digits[24];
    char* p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::copy(p, digits + sizeof digits, out);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "_x0041_" as a text, which a reader would take for an escaped character.
bool looksEscaped(const char* at, const char* end) {
    return end - at >= 7 && at[1] == 'x' && isHex(at[2]) && isHex(at[3]) && isHex(at[4]) &&
           isHex(at[5]) && at[6] == '_';
}

// A record text as the character data of an inline string: UTF-8, the markup
// characters as entities, a CR as a character reference (a bare one would be read
// as LF), and the controls that XML cannot hold as "_xHHHH_".
char* putXmlText(const char* text, char* out) {
    const char* end = text + strnlen(text, kTextSize);
    for (const char* p = text; p < end; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte >= 0x80) {
            out = encodeUtf8(p, 1, out);
        } else if (byte == '&') {
            out = putText("&amp;", out);
        } else if (byte == '<') {
            out = putText("&lt;", out);
        } else if (byte == '>') {
            out = putText("&gt;", out);
        } else if (byte == '\r') {
            out = putText("&#13;", out);
        } else if ((byte < 0x20 && byte != '\t' && byte != '\n') ||
                   (byte == '_' && looksEscaped(p, end))) {
            out = putText("_x00", out);
            *out++ = "0123456789ABCDEF"[byte >> 4];
            *out++ = "0123456789ABCDEF"[byte & 0xF];
            *out++ = '_';
        } else {
            *out++ = static_cast<char>(byte);
        }
    }
    return out;
}

// Whether a reader might fold the text's blanks: at its ends, doubled, or other
// than spaces.
bool needsPreserve(const char* text) {
    std::size_t size = strnlen(text, kTextSize);
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (c == '\t' || c == '\n' || c == '\r' ||
            (c == ' ' && (i == 0 || i + 1 == size || text[i + 1] == ' '))) {
            return true;
        }
    }
    return false;
}

// Each cell names itself, as some readers need.
char* putCellStart(std::size_t column, std::size_t row, char* out) {
    out = putText("<c r=\"", out);
    *out++ = static_cast<char>('A' + column);
    out = putDecimal(row, out);
    return putText("\"", out);
}

char* putTextCell(const char* text, std::size_t column, std::size_t row, const char* style,
                  char* out) {
    out = putCellStart(column, row, out);
    out = putText(style, out);
    out = putText(" t=\"inlineStr\"><is>", out);
    out = putText(needsPreserve(text) ? "<t xml:space=\"preserve\">" : "<t>", out);
    out = putXmlText(text, out);
    return putText("</t></is></c>", out);
}

char* putNumberCell(std::int32_t value, std::size_t column, std::size_t row, char* out) {
    out = putCellStart(column, row, out);
    out = putText("><v>", out);
    out = putNumber(value, out);
    return putText("</v></c>", out);
}

std::string lastCell(std::size_t count) {
    return "E" + std::to_string(count + 1);
}

/* ==== Reading ============================================================= */

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
        if (code < 0x80) {  // beyond ASCII: as XML would have carried it
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

// A numeric cell's value as plain decimal digits when it is a whole number
// ("2024", "2.024E3", "-0"); false for any other value.
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

// Gives the cell its text, as its type says.
void settle(SheetReader* r, SheetCell* cell, SchoolCell* into) {
    into->fault = nullptr;
    std::string& text = into->held;
    if (cell->formula && cell->value.empty()) {
        into->fault = "a formula without a value";
    } else if (cell->type == 's') {
        std::size_t index = 0;
        bool number = !cell->value.empty() && cell->value.size() < 10 &&
                      cell->value.find_first_not_of("0123456789") == std::string::npos;
        index = number ? std::stoul(cell->value) : 0;
        if (!number || index >= r->shared->size()) {
            into->fault = "no such shared string";
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
        into->fault = "an error value";
    } else {
        if (!wholeNumber(cell->value, &text)) {
            text.swap(cell->value);
        }
    }
    if (text.find('\0') != std::string::npos) {
        into->fault = "a NUL character";
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
                   "a cell beyond the header's " + std::to_string(r->checks.columns) + " columns");
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

const WorkbookPart kFixedWorkbookParts[4] = {
    {"[Content_Types].xml",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
     "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
     "<Default Extension=\"rels\" "
     "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
     "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
     "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
     "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
     "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
     "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
     "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
     "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/></Types>"},
    {"_rels/.rels",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
     "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
     "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
    {"xl/_rels/workbook.xml.rels",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
     "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
     "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
     "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
     "relationships/styles\" Target=\"styles.xml\"/></Relationships>"},
    {"xl/styles.xml",
     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
     "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
     "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
     "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
     "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
     "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
     "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
     "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
     "</cellStyleXfs><cellXfs count=\"2\">"
     "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
     "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
     "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
     "</cellStyles></styleSheet>"},
};

std::string workbookXml(std::size_t count) {
    return std::string(kXmlDeclaration) + "<workbook xmlns=\"" + kMainNamespace +
           "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<sheets><sheet name=\"Schools\" sheetId=\"1\" r:id=\"rId1\"/></sheets><definedNames>"
           "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" hidden=\"1\">"
           "Schools!$A$1:$E$" +
           std::to_string(count + 1) + "</definedName></definedNames></workbook>";
}

std::string sheetHead(const SCHOOL* schools, std::size_t count) {
    std::size_t widths[kSchoolColumns] = {4, 8, 6, 4, 8};  // the header's own
    char digits[16];
    for (std::size_t i = 0; i < count; ++i) {
        const SCHOOL& s = schools[i];
        const std::int32_t numbers[] = {s.schoolnumber, s.schoolarea, s.numberstudents};
        widths[0] = std::max(widths[0], strnlen(s.schoolname, kTextSize));
        widths[1] = std::max(widths[1], strnlen(s.director, kTextSize));
        for (std::size_t k = 0; k < 3; ++k) {
            widths[2 + k] = std::max(
                widths[2 + k], static_cast<std::size_t>(putNumber(numbers[k], digits) - digits));
        }
    }
    std::string head = std::string(kXmlDeclaration) + "<worksheet xmlns=\"" + kMainNamespace +
                       "\"><dimension ref=\"A1:" + lastCell(count) +
                       "\"/><sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\">"
                       "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" "
                       "state=\"frozen\"/><selection pane=\"bottomLeft\"/></sheetView>"
                       "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/><cols>";
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        // A character's width each, and room for the filter's button.
        head += "<col min=\"" + std::to_string(k + 1) + "\" max=\"" + std::to_string(k + 1) +
                "\" width=\"" + std::to_string(widths[k] + 4) + "\" customWidth=\"1\"/>";
    }
    head += "</cols><sheetData><row r=\"1\">";
    char cell[128];
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        head.append(cell, putTextCell(kHeader[k], k, 1, " s=\"1\"", cell));
    }
    return head + "</row>";
}

char* putSheetRow(const SCHOOL& school, std::size_t row, char* out) {
    out = putText("<row r=\"", out);
    out = putDecimal(row, out);
    out = putText("\">", out);
    out = putTextCell(school.schoolname, 0, row, "", out);
    out = putTextCell(school.director, 1, row, "", out);
    out = putNumberCell(school.schoolnumber, 2, row, out);
    out = putNumberCell(school.schoolarea, 3, row, out);
    out = putNumberCell(school.numberstudents, 4, row, out);
    return putText("</row>", out);
}

std::string sheetTail(std::size_t count) {
    return "</sheetData><autoFilter ref=\"A1:" + lastCell(count) + "\"/></worksheet>";
}

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
        return "a workbook without a sheet";
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
    return place->member.empty() ? "a workbook whose first sheet is missing" : nullptr;
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
        reportCell(&r.checks, 1, 1, "no header row");
    }
}

std::string cellName(std::size_t row, std::size_t column) {
    std::string letters;
    for (; column > 0; column = (column - 1) / 26) {
        letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
    }
    return letters + std::to_string(row);
}
