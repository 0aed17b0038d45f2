// Schools to and from spreadsheets: the command-line options that turn a school
// file into CSV, a workbook or a spreadsheet, and any of them into a school file.
#pragma once

#include <string>

// --export: the school file as CSV on standard output (`outFile` empty or "-"), or
// into `outFile`: a workbook when its name ends in ".xlsx", a spreadsheet when in
// ".ods", refused in another spreadsheet's extension, else CSV. Ends the program.
[[noreturn]] void exportSchools(const std::string& schoolFile, const std::string& outFile);
// --import: the schools of a CSV file, a workbook or a spreadsheet ("-": standard
// input), told apart by their content, written to the school file as command 2
// writes, when every cell is right; ends the program.
[[noreturn]] void importSchools(const std::string& csvFile, const std::string& schoolFile);
