// The CSV parser on arbitrary bytes: it never fails, and whatever it accepts formats
// and parses back to the same schools.
#include "csv.h"
#include "same_schools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckedSchools parsed, again;
    parseCsv(reinterpret_cast<const char*>(data), size, &parsed);
    std::string csv = kCsvHeader;
    char row[kCsvRowRoom];
    for (const SCHOOL& school : parsed.schools) {
        csv.append(row, putCsvRow(school, row));
    }
    parseCsv(csv.data(), csv.size(), &again);
    requireSameSchools(parsed, again);
    return 0;
}
