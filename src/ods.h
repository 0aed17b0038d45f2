// Schools as an OpenDocument spreadsheet (.ods) of one table: its parts written
// from records, and the cells of a spreadsheet's first table checked into records.
// Pure functions over bytes; the zip container around the parts is zip.*.
#pragma once

#include <cstddef>
#include <string>

#include "funcs.h"
#include "school_cells.h"

// What a spreadsheet's `mimetype` member holds (a template's adds "-template").
constexpr char kOdsMimetype[] = "application/vnd.oasis.opendocument.spreadsheet";
bool isOdsMimetype(const std::string& mimetype);

// ---- Written ---------------------------------------------------------------------

// Whether every text of the schools fits a spreadsheet's XML: a control character
// other than tab, line feed and carriage return fits none. Returns the first school
// that does not fit, or `count`.
std::size_t firstUnfitForOds(const SCHOOL* schools, std::size_t count);
// The whole archive: the mimetype first and stored, the manifest, the table with its
// header row bold, frozen and repeated on every printed page, texts as strings and
// numbers as floats, no formula; false when zlib finds no memory.
bool putOds(const SCHOOL* schools, std::size_t count, const SheetWords& words, std::string* out);
// content.xml alone, as putOds writes it.
std::string odsContent(const SCHOOL* schools, std::size_t count, const SheetWords& words);

// ---- Read ------------------------------------------------------------------------

// Checks every cell of content.xml's first table into schools, as a workbook's are
// checked; `table` takes the table's name. Repeated empty rows and cells cost
// nothing; repeated cells that hold something are so many cells.
void parseOdsContent(const std::string& xml, std::string* table, CheckedSchools* result);
// The first table of the archive; returns null, or what keeps it from being read.
const char* readOds(const std::string& zip, std::size_t memberLimit, std::string* table,
                    CheckedSchools* result);
