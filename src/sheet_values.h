// The values of a sheet's cells as a workbook or an OpenDocument sheet writes them,
// turned into the texts a school takes. Pure functions over bytes.
#pragma once

#include <string>

// "_x0041_": a character escaped in a workbook's text, or a text that must be.
inline bool looksEscaped(const char* at, const char* end) {
    auto hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    return end - at >= 7 && at[1] == 'x' && hex(at[2]) && hex(at[3]) && hex(at[4]) && hex(at[5]) &&
           at[6] == '_';
}

// "_xHHHH_" back to its character, in place.
void unescapeText(std::string* text);
// A numeric cell's value as plain decimal digits when it is a whole number
// ("2024", "2.024E3", "-0"); false for any other value.
bool wholeNumber(const std::string& value, std::string* digits);
// What an error cell ("#DIV/0!") says, as the spreadsheet shows it, to translate.
const char* errorValue(const std::string& value);
