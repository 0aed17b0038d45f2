// Schools as an OpenDocument spreadsheet: its parts, the table written row by row.
#include <cstdio>
#include <cstring>
#include <vector>

#include "ods.h"
#include "text/codepage.h"
#include "text/numbers.h"
#include "workbook.h"
#include "xml_writer.h"
#include "zip.h"

namespace {

constexpr char kNamespaces[] =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\""
    " xmlns:loext=\"urn:org:documentfoundation:names:experimental:office:xmlns:loext:1.0\""
    " office:version=\"1.3\">";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

constexpr char kManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\""
    " manifest:version=\"1.3\">"
    "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.3\""
    " manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
    "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
    "<manifest:file-entry manifest:full-path=\"styles.xml\" manifest:media-type=\"text/xml\"/>"
    "<manifest:file-entry manifest:full-path=\"settings.xml\" manifest:media-type=\"text/xml\"/>"
    "</manifest:manifest>";

bool unfit(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

// A text of code page 1251 as paragraphs of UTF-8: a line feed starts the next,
// and a blank that a reader would fold (at a paragraph's ends, after another) is
// <text:s/>.
char* putParagraphs(const char* text, std::size_t size, char* out) {
    out = putMarkup("<text:p>", out);
    for (std::size_t i = 0; i < size; ++i) {
        char c = text[i];
        bool first = i == 0 || text[i - 1] == '\n';
        if (c == ' ' && (first || i + 1 == size || text[i + 1] == '\n' || text[i - 1] == ' ' ||
                         text[i - 1] == '\t' || text[i - 1] == '\r')) {
            out = putMarkup("<text:s/>", out);
        } else if (c == '\n') {
            out = putMarkup("</text:p><text:p>", out);
        } else if (c == '\t') {
            out = putMarkup("<text:tab/>", out);
        } else if (const char* entity = entityOf(c)) {
            out = putMarkup(entity, out);
        } else {
            out = encodeUtf8(&text[i], 1, out);
        }
    }
    return putMarkup("</text:p>", out);
}

char* putTextCell(const char* text, std::size_t size, const char* style, char* out) {
    out = putMarkup("<table:table-cell", out);
    out = putMarkup(style, out);
    out = putMarkup(" office:value-type=\"string\">", out);
    out = putParagraphs(text, size, out);
    return putMarkup("</table:table-cell>", out);
}

// The value alone: a reader shows it as its format says.
char* putNumberCell(std::int32_t value, char* out) {
    out = putMarkup("<table:table-cell office:value-type=\"float\" office:value=\"", out);
    out = putNumber(value, out);
    return putMarkup("\"/>", out);
}

// The most bytes a text takes: every byte a paragraph's end and start.
constexpr std::size_t kTextCellRoom = 80 + 17 * kTextSize;
constexpr std::size_t kOdsRowRoom = 2 * kTextCellRoom + 3 * 120 + 40;

char* putRow(const SCHOOL& school, char* out) {
    out = putMarkup("<table:table-row>", out);
    out = putTextCell(school.schoolname, strnlen(school.schoolname, kTextSize), "", out);
    out = putTextCell(school.director, strnlen(school.director, kTextSize), "", out);
    out = putNumberCell(school.schoolnumber, out);
    out = putNumberCell(school.schoolarea, out);
    out = putNumberCell(school.numberstudents, out);
    return putMarkup("</table:table-row>", out);
}

// "Schools.A1:Schools.E3": a range in OpenDocument's notation, the name quoted.
std::string range(const std::string& sheet, std::size_t count) {
    std::string quoted = quotedSheetName(sheet);
    return quoted + ".A1:" + quoted + ".E" + std::to_string(count + 1);
}

std::string contentHead(const SCHOOL* schools, std::size_t count, const SheetWords& words) {
    std::size_t widths[kSchoolColumns];
    sheetColumnWidths(schools, count, words, widths);
    std::string head = std::string(kDeclaration) + "<office:document-content" + kNamespaces +
                       "<office:automatic-styles>";
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        // As a workbook's width: characters of 7 pixels and 5 more, at 96 to the inch.
        double millimetres = ((widths[k] + 4) * 7.0 + 5) / 96 * 25.4;
        char width[64];
        std::snprintf(width, sizeof width, "%.2fmm", millimetres);
        head += "<style:style style:name=\"co" + std::to_string(k + 1) +
                "\" style:family=\"table-column\"><style:table-column-properties "
                "style:column-width=\"" +
                width + "\"/></style:style>";
    }
    head +=
        "<style:style style:name=\"ta1\" style:family=\"table\" style:master-page-name="
        "\"Register\"><style:table-properties table:display=\"true\"/></style:style>"
        "<style:style style:name=\"ce1\" style:family=\"table-cell\"><style:text-properties "
        "fo:font-weight=\"bold\"/></style:style></office:automatic-styles><office:body>"
        "<office:spreadsheet><table:table table:name=\"" +
        escapedXml(words.sheet.c_str()) + "\" table:style-name=\"ta1\">";
    for (std::size_t k = 0; k < kSchoolColumns; ++k) {
        head += "<table:table-column table:style-name=\"co" + std::to_string(k + 1) + "\"/>";
    }
    // The header rows are the print titles, repeated on every page.
    head += "<table:table-header-rows><table:table-row>";
    for (const std::string& column : words.columns) {
        const char* name = column.c_str();
        std::string shown = escapedXml(name);
        head +=
            "<table:table-cell table:style-name=\"ce1\" office:value-type=\"string\">"
            "<text:p>" +
            shown + "</text:p></table:table-cell>";
    }
    return head + "</table:table-row></table:table-header-rows>";
}

std::string contentTail(std::size_t count, const SheetWords& words) {
    return "</table:table><table:database-ranges><table:database-range table:name=\"Register\""
           " table:target-range-address=\"" +
           escapedXml(range(words.sheet, count).c_str()) +
           "\" table:display-filter-buttons=\"true\"/></table:database-ranges>"
           "</office:spreadsheet></office:body></office:document-content>";
}

// Landscape, one page wide and as many down as it takes, the page and the pages in
// the footer.
std::string styles(const SheetWords& words) {
    std::string footer = escapedXml(words.footer.c_str());
    for (auto field : {std::make_pair("&amp;P", "<text:page-number>1</text:page-number>"),
                       std::make_pair("&amp;N", "<text:page-count>1</text:page-count>")}) {
        std::size_t at = footer.find(field.first);
        if (at != std::string::npos) {
            footer.replace(at, std::strlen(field.first), field.second);
        }
    }
    return std::string(kDeclaration) + "<office:document-styles" + kNamespaces +
           "<office:automatic-styles><style:page-layout style:name=\"pm1\">"
           "<style:page-layout-properties fo:page-width=\"297mm\" fo:page-height=\"210mm\""
           " style:print-orientation=\"landscape\" fo:margin=\"10mm\""
           " style:scale-to-X=\"1\" loext:scale-to-X=\"1\""
           "/><style:footer-style><style:header-footer-properties"
           " fo:min-height=\"5mm\"/></style:footer-style></style:page-layout>"
           "</office:automatic-styles><office:master-styles><style:master-page"
           " style:name=\"Register\" style:page-layout-name=\"pm1\"><style:header"
           " style:display=\"false\"/><style:footer><text:p>" +
           footer +
           "</text:p></style:footer></style:master-page></office:master-styles>"
           "</office:document-styles>";
}

// The header row frozen: the view split below it.
std::string settings(const SheetWords& words) {
    auto item = [](const char* name, const char* type, const std::string& value) {
        return std::string("<config:config-item config:name=\"") + name + "\" config:type=\"" +
               type + "\">" + value + "</config:config-item>";
    };
    std::string sheet = escapedXml(words.sheet.c_str());
    return std::string(kDeclaration) + "<office:document-settings" + kNamespaces +
           "<office:settings><config:config-item-set config:name=\"ooo:view-settings\">"
           "<config:config-item-map-indexed config:name=\"Views\"><config:config-item-map-entry>" +
           item("ViewId", "string", "view1") +
           "<config:config-item-map-named config:name=\"Tables\">"
           "<config:config-item-map-entry config:name=\"" +
           sheet + "\">" + item("CursorPositionX", "int", "0") +
           item("CursorPositionY", "int", "1") + item("HorizontalSplitMode", "short", "2") +
           item("VerticalSplitMode", "short", "2") + item("HorizontalSplitPosition", "int", "0") +
           item("VerticalSplitPosition", "int", "1") + item("ActiveSplitRange", "short", "2") +
           item("PositionLeft", "int", "0") + item("PositionRight", "int", "0") +
           item("PositionTop", "int", "0") + item("PositionBottom", "int", "1") +
           "</config:config-item-map-entry></config:config-item-map-named>" +
           item("ActiveTable", "string", sheet) +
           "</config:config-item-map-entry></config:config-item-map-indexed>"
           "</config:config-item-set></office:settings></office:document-settings>";
}

}  // namespace

std::size_t firstUnfitForOds(const SCHOOL* schools, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const SCHOOL& s = schools[i];
        for (std::size_t k = 0; k < kTextSize; ++k) {
            if ((unfit(s.schoolname[k]) && k < strnlen(s.schoolname, kTextSize)) ||
                (unfit(s.director[k]) && k < strnlen(s.director, kTextSize))) {
                return i;
            }
        }
    }
    return count;
}

std::string odsContent(const SCHOOL* schools, std::size_t count, const SheetWords& words) {
    std::string content = contentHead(schools, count, words);
    content.reserve(content.size() + count * 400);  // a row of short texts, enough for most
    std::vector<char> rows(64 * kOdsRowRoom);       // pieces of rows, few appends
    for (std::size_t i = 0; i < count;) {
        char* end = rows.data();
        for (; i < count && end + kOdsRowRoom <= rows.data() + rows.size(); ++i) {
            end = putRow(schools[i], end);
        }
        content.append(rows.data(), end);
    }
    return content + contentTail(count, words);
}

bool putOds(const SCHOOL* schools, std::size_t count, const SheetWords& words, std::string* out) {
    std::string content = odsContent(schools, count, words);
    std::string style = styles(words), setting = settings(words);
    ZipPart parts[] = {
        {"mimetype", kOdsMimetype, sizeof kOdsMimetype - 1, true},
        {"META-INF/manifest.xml", kManifest, sizeof kManifest - 1},
        {"content.xml", content.data(), content.size()},
        {"styles.xml", style.data(), style.size()},
        {"settings.xml", setting.data(), setting.size()},
    };
    return putZip(parts, sizeof parts / sizeof parts[0], out);
}
