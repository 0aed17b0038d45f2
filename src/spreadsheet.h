// Schools to and from spreadsheets: the command-line options that turn a school
// file into CSV and CSV into a school file.
#pragma once

#include <string>

// --export: the school file as CSV on standard output; ends the program.
[[noreturn]] void exportSchools(const std::string& schoolFile);
// --import: the schools of a CSV file ("-": standard input) written to the school
// file, as command 2 writes, when every cell is right; ends the program.
[[noreturn]] void importSchools(const std::string& csvFile, const std::string& schoolFile);
