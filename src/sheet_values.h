// The values of a workbook's cells as their XML writes them, turned into the texts
// a school takes. Pure functions over bytes.
#pragma once

#include <string>

// "_xHHHH_" back to its character, in place.
void unescapeText(std::string* text);
// A numeric cell's value as plain decimal digits when it is a whole number
// ("2024", "2.024E3", "-0"); false for any other value.
bool wholeNumber(const std::string& value, std::string* digits);
