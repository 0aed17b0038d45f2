// The rows of a sheet's cells, checked as every table's rows are.
#include "sheet_rows.h"

#include <algorithm>

#include "translate.h"

void clearSheetRow(SheetRow* row) {
    for (std::size_t i = 0; i < kKeptCells; ++i) {
        SchoolCell& cell = row->cells[i];
        cell.held.clear();
        cell.text = cell.held.data();
        cell.size = 0;
        cell.fault = nullptr;
        cell.column = i + 1;
    }
    row->lastFilled = row->firstBeyond = 0;
}

bool checkSheetRow(SheetRow* row, SchoolChecks* checks, std::size_t number) {
    for (SchoolCell& cell : row->cells) {
        cell.line = number;
    }
    std::size_t last = std::max(row->lastFilled, row->firstBeyond);
    if (!row->headerTaken) {
        row->headerTaken = true;
        return checkHeader(checks, row->cells, last);
    }
    countRow(checks, number);
    checkSchool(checks, row->cells);
    if (last > checks->columns) {
        // The first cell beyond the header: a kept one, or else the first beyond them.
        std::size_t first = std::max(row->firstBeyond, checks->columns + 1);
        for (std::size_t i = checks->columns; i < kKeptCells; ++i) {
            if (row->cells[i].size > 0 || row->cells[i].fault) {
                first = i + 1;
                break;
            }
        }
        reportCell(checks, number, first,
                   formatted(_("a cell beyond the header's %lu columns"),
                             static_cast<unsigned long>(checks->columns)));
    }
    return true;
}
