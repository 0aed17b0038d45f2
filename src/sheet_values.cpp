// The values of a sheet's cells: escapes undone, numbers written in any of the ways
// a spreadsheet writes them made plain digits, error values named.
#include "sheet_values.h"

#include <algorithm>

#include "text/ascii.h"
#include "text/utf8.h"
#include "translate.h"

void unescapeText(std::string* text) {
    std::size_t at = text->find("_x");
    if (at == std::string::npos) {
        return;
    }
    std::string out(*text, 0, at);
    for (std::size_t i = at; i < text->size(); ++i) {
        const char* p = text->data() + i;
        if (*p != '_' || !looksEscaped(p, text->data() + text->size())) {
            out.push_back(*p);
            continue;
        }
        unsigned code = 0;
        for (int k = 2; k < 6; ++k) {
            char c = p[k];
            code = code * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : lowerAscii(c) - 'a' + 10);
        }
        appendUtf8(code, &out);  // in UTF-8, as XML would have carried it
        i += 6;
    }
    text->swap(out);
}

bool wholeNumber(const std::string& value, std::string* digits) {
    const char* p = value.c_str();
    std::size_t first = *p == '-';
    if (value.size() > first && value.size() < first + 12 && p[first] >= '1' && p[first] <= '9' &&
        value.find_first_not_of("0123456789", first) == std::string::npos) {
        *digits = value;  // already plain digits, as most are
        return true;
    }
    bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    std::string mantissa;
    std::size_t integral = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++integral) {
        mantissa.push_back(*p);
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p) {
            mantissa.push_back(*p);
        }
    }
    long exponent = 0;
    if (!mantissa.empty() && (*p == 'e' || *p == 'E')) {
        bool down = p[1] == '-';
        p += 1 + (p[1] == '-' || p[1] == '+');
        for (; *p >= '0' && *p <= '9'; ++p) {
            exponent = std::min(exponent * 10 + (*p - '0'), 1000L);
        }
        exponent = down ? -exponent : exponent;
    }
    long point = static_cast<long>(integral) + exponent;
    if (mantissa.empty() || *p != '\0' || point > 30) {
        return false;
    }
    std::size_t whole = static_cast<std::size_t>(std::max(point, 0L));
    if (mantissa.find_first_not_of('0', std::min(whole, mantissa.size())) != std::string::npos) {
        return false;
    }
    mantissa.resize(whole, '0');
    mantissa.erase(0, std::min(mantissa.find_first_not_of('0'), mantissa.size()));
    *digits = mantissa.empty() ? "0" : (negative ? "-" : "") + mantissa;
    return true;
}

const char* errorValue(const std::string& value) {
    static const char* const kErrors[][2] = {
        {"#N/A", N_("the error value #N/A")},       {"#DIV/0!", N_("the error value #DIV/0!")},
        {"#VALUE!", N_("the error value #VALUE!")}, {"#REF!", N_("the error value #REF!")},
        {"#NAME?", N_("the error value #NAME?")},   {"#NUM!", N_("the error value #NUM!")},
        {"#NULL!", N_("the error value #NULL!")}};
    for (const auto& known : kErrors) {
        if (value == known[0]) {
            return known[1];
        }
    }
    return N_("an error value");
}
