// The CSV parser on arbitrary bytes: it never fails, and whatever it accepts formats
// and parses back to the same schools.
#include <cstring>

#include "csv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CsvSchools parsed, again;
    parseCsv(reinterpret_cast<const char*>(data), size, &parsed);
    std::string csv = kCsvHeader;
    char row[kCsvRowRoom];
    for (const SCHOOL& school : parsed.schools) {
        csv.append(row, putCsvRow(school, row));
    }
    parseCsv(csv.data(), csv.size(), &again);
    if (parsed.errorCount == 0 &&
        (again.errorCount != 0 || again.schools.size() != parsed.schools.size() ||
         (!parsed.schools.empty() && std::memcmp(again.schools.data(), parsed.schools.data(),
                                                 parsed.schools.size() * sizeof(SCHOOL)) != 0))) {
        std::abort();
    }
    return 0;
}
