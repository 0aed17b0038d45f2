// What every written sheet's XML is made of: markup put as it stands, the
// characters that XML reads otherwise as entities, a translated word escaped.
#pragma once

#include <cstring>
#include <string>

// Puts the markup, up to its NUL, at `out` and returns its end.
inline char* putMarkup(const char* markup, char* out) {
    std::size_t size = std::strlen(markup);
    std::memcpy(out, markup, size);
    return out + size;
}

// The entity that character data writes for the byte: the markup characters, and
// a CR as a character reference (a bare one would be read as LF); null for any
// other byte.
inline const char* entityOf(char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '\r':
            return "&#13;";
        default:
            return nullptr;
    }
}

// A UTF-8 text, a translated word, as XML's character data or an attribute's value.
inline std::string escapedXml(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        out += *p == '&' ? "&amp;" : *p == '<' ? "&lt;" : *p == '"' ? "&quot;" : std::string(1, *p);
    }
    return out;
}
