// A row of a sheet's cells as both spreadsheet readers gather it: its first cells
// kept, a filled one beyond them only noted, then the row checked as the header or
// as a school. Pure functions over the cells.
#pragma once

#include <cstddef>

#include "school_cells.h"

// A school's columns and one more, so that a cell beyond the header is seen.
constexpr std::size_t kKeptCells = kSchoolColumns + 1;

struct SheetRow {
    SchoolCell cells[kKeptCells];  // the present row's first cells
    std::size_t lastFilled = 0;    // its last column that is not empty
    std::size_t firstBeyond = 0;   // its first column beyond kKeptCells not empty
    bool headerTaken = false;      // whether a row before it was the header
};

// Empties the row's cells for the next row, each knowing its column.
void clearSheetRow(SheetRow* row);
// Whether no cell of the row holds anything.
inline bool isEmptySheetRow(const SheetRow& row) {
    return row.lastFilled == 0 && row.firstBeyond == 0;
}
// Checks the cells as row `number` (from 1): the first row not empty is the header,
// each later one a school, a filled cell beyond the header's columns reported.
// Returns false once the header is wrong, after which nothing is read.
bool checkSheetRow(SheetRow* row, SchoolChecks* checks, std::size_t number);
