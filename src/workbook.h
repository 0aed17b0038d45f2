// Schools as an Office Open XML workbook (.xlsx) of one sheet: its parts written
// from records, and the cells of a workbook's first sheet checked into records.
// Pure functions over bytes; the zip container around the parts is zip.*.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "funcs.h"
#include "school_cells.h"

// The parts whose contents never change, by member name.
struct WorkbookPart {
    const char* name;
    const char* xml;
};
extern const WorkbookPart kFixedWorkbookParts[4];
constexpr char kWorkbookMember[] = "xl/workbook.xml";
constexpr char kSheetMember[] = "xl/worksheets/sheet1.xml";

// xl/workbook.xml for a sheet of `count` schools, named as `words` say, its header
// row the print titles.
std::string workbookXml(std::size_t count, const SheetWords& words);
// The columns' widths in characters: the longest text of each, header included.
void sheetColumnWidths(const SCHOOL* schools, std::size_t count, const SheetWords& words,
                       std::size_t widths[kSchoolColumns]);
// The sheet up to its first school: columns as wide as the texts, the header row
// bold and frozen, printed one page wide.
std::string sheetHead(const SCHOOL* schools, std::size_t count, const SheetWords& words);
// The most bytes that one school's row takes.
constexpr std::size_t kSheetRowRoom = 2 * (80 + 7 * sizeof(SCHOOL{}.schoolname)) + 3 * 40 + 40;
// Puts the school as the sheet's row `row` at `out` and returns its end: the texts
// as inline strings (never formulas), the numbers as numbers.
char* putSheetRow(const SCHOOL& school, std::size_t row, char* out);
// The end of the sheet: the autofilter over the header, landscape pages with their
// number and count in the footer.
std::string sheetTail(std::size_t count, const SheetWords& words);

// Where the first sheet is, from xl/workbook.xml and its relationships.
struct SheetPlace {
    std::string name;           // as the workbook names it
    std::string member;         // its member in the archive
    std::string sharedStrings;  // the shared strings' member, or empty
};
// Returns null, or what is wrong.
const char* findFirstSheet(const std::string& workbook, const std::string& relationships,
                           SheetPlace* place);
// The texts of xl/sharedStrings.xml one after another, and where each ends: no
// larger than the part, however many strings it holds.
struct SharedStrings {
    std::string texts;
    std::vector<std::uint32_t> ends;
};
// The texts of the part, rich-text runs joined, phonetic runs left out.
void readSharedStrings(const std::string& xml, SharedStrings* strings);
// Checks every cell of the sheet into schools, as CSV's cells are checked: the
// errors' lines are the rows, their columns the sheet's (1 for A).
void parseSheet(const std::string& xml, const SharedStrings& shared, CheckedSchools* result);

// "C7": the sheet's name of a cell.
std::string cellName(std::size_t row, std::size_t column);
// "'Tom''s'": a sheet's name as a formula or a range quotes it, its quotes doubled.
std::string quotedSheetName(const std::string& name);
