// What every parser's fuzz target demands: a table it accepted, written out and
// read again, gives back the same schools.
#pragma once

#include <cstdlib>
#include <cstring>

#include "school_cells.h"

inline void requireSameSchools(const CheckedSchools& parsed, const CheckedSchools& again) {
    if (parsed.errorCount == 0 &&
        (again.errorCount != 0 || again.schools.size() != parsed.schools.size() ||
         (!parsed.schools.empty() && std::memcmp(again.schools.data(), parsed.schools.data(),
                                                 parsed.schools.size() * sizeof(SCHOOL)) != 0))) {
        std::abort();
    }
}
