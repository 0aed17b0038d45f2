// Schools as a workbook: its parts, the sheet written row by row.
#include "workbook.h"

#include <algorithm>
#include <cstring>

#include "sheet_values.h"
#include "text/codepage.h"
#include "text/numbers.h"
#include "xml_writer.h"

namespace {

constexpr char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

char* putDecimal(std::size_t value, char* out) {
    char digits[24];
    char* p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::copy(p, digits + sizeof digits, out);
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
        } else if (const char* entity = entityOf(*p)) {
            out = putMarkup(entity, out);
        } else if ((byte < 0x20 && byte != '\t' && byte != '\n') ||
                   (byte == '_' && looksEscaped(p, end))) {
            out = putMarkup("_x00", out);
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
    out = putMarkup("<c r=\"", out);
    *out++ = static_cast<char>('A' + column);
    out = putDecimal(row, out);
    return putMarkup("\"", out);
}

char* putTextCell(const char* text, std::size_t column, std::size_t row, const char* style,
                  char* out) {
    out = putCellStart(column, row, out);
    out = putMarkup(style, out);
    out = putMarkup(" t=\"inlineStr\"><is>", out);
    out = putMarkup(needsPreserve(text) ? "<t xml:space=\"preserve\">" : "<t>", out);
    out = putXmlText(text, out);
    return putMarkup("</t></is></c>", out);
}

char* putNumberCell(std::int32_t value, std::size_t column, std::size_t row, char* out) {
    out = putCellStart(column, row, out);
    out = putMarkup("><v>", out);
    out = putNumber(value, out);
    return putMarkup("</v></c>", out);
}

std::string lastCell(std::size_t count) {
    return "E" + std::to_string(count + 1);
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

std::string quotedSheetName(const std::string& name) {
    std::string quoted = "'";
    for (char c : name) {
        quoted += c == '\'' ? "''" : std::string(1, c);
    }
    return quoted + "'";
}

std::string workbookXml(std::size_t count, const SheetWords& words) {
    std::string name = escapedXml(words.sheet.c_str()), sheet = quotedSheetName(name);
    // The filter's range, and the header row as the print titles of every page.
    return std::string(kXmlDeclaration) + "<workbook xmlns=\"" + kMainNamespace +
           "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
           "<sheets><sheet name=\"" +
           name +
           "\" sheetId=\"1\" r:id=\"rId1\"/></sheets><definedNames>"
           "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" hidden=\"1\">" +
           sheet + "!$A$1:$E$" + std::to_string(count + 1) +
           "</definedName><definedName name=\"_xlnm.Print_Titles\" localSheetId=\"0\">" + sheet +
           "!$1:$1</definedName></definedNames></workbook>";
}

void sheetColumnWidths(const SCHOOL* schools, std::size_t count, const SheetWords& words,
                       std::size_t widths[kSchoolColumns]) {
    char digits[16];
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        widths[k] = 0;  // the header's own, in characters
        for (const char* p = words.columns[k].c_str(); *p; ++p) {
            widths[k] += (*p & 0xC0) != 0x80;
        }
    }
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
}

std::string sheetHead(const SCHOOL* schools, std::size_t count, const SheetWords& words) {
    std::size_t widths[kSchoolColumns];
    sheetColumnWidths(schools, count, words, widths);
    // Printed one page wide, as many down as it takes.
    std::string head = std::string(kXmlDeclaration) + "<worksheet xmlns=\"" + kMainNamespace +
                       "\"><sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>"
                       "<dimension ref=\"A1:" +
                       lastCell(count) +
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
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        head += "<c r=\"" + std::string(1, static_cast<char>('A' + k)) +
                "1\" s=\"1\" t=\"inlineStr\"><is><t>" + escapedXml(words.columns[k].c_str()) +
                "</t></is></c>";
    }
    return head + "</row>";
}

char* putSheetRow(const SCHOOL& school, std::size_t row, char* out) {
    out = putMarkup("<row r=\"", out);
    out = putDecimal(row, out);
    out = putMarkup("\">", out);
    out = putTextCell(school.schoolname, 0, row, "", out);
    out = putTextCell(school.director, 1, row, "", out);
    out = putNumberCell(school.schoolnumber, 2, row, out);
    out = putNumberCell(school.schoolarea, 3, row, out);
    out = putNumberCell(school.numberstudents, 4, row, out);
    return putMarkup("</row>", out);
}

std::string sheetTail(std::size_t count, const SheetWords& words) {
    std::string footer = "&amp;C" + escapedXml(words.footer.c_str());  // centred
    return "</sheetData><autoFilter ref=\"A1:" + lastCell(count) +
           "\"/><pageMargins left=\"0.4\" right=\"0.4\" top=\"0.4\" bottom=\"0.6\" "
           "header=\"0.3\" footer=\"0.3\"/><pageSetup paperSize=\"9\" orientation=\"landscape\" "
           "fitToWidth=\"1\" "
           "fitToHeight=\"0\"/><headerFooter><oddFooter>" +
           footer + "</oddFooter></headerFooter></worksheet>";
}
