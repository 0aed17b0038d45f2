// ASCII's letter case and its control codes, alike in every room of the program.
#pragma once

#include <cstddef>
#include <cstdint>

// The letter in lower case; every other byte as it is.
constexpr char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the `size` bytes at `a` and `b` are the same but for the case of ASCII letters.
inline bool sameIgnoringCase(const char* a, const char* b, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Whether the character is a control code, which a terminal obeys instead of
// showing it: C0 and DEL, and with `c1` also U+0080..U+009F.
constexpr bool isControl(std::uint32_t code, bool c1) {
    return code < 0x20 || code == 0x7F || (c1 && code >= 0x80 && code < 0xA0);
}

// What a terminal is shown for a control in a text from elsewhere.
constexpr char kControlMask = '?';

// Shows each control byte of the text as kControlMask; with `c1` each byte
// 0x80..0x9F too, for a terminal that takes those as C1 controls.
inline void maskControls(char* text, std::size_t size, bool c1) {
    for (char* p = text; p < text + size; ++p) {
        if (isControl(static_cast<unsigned char>(*p), c1)) {
            *p = kControlMask;
        }
    }
}
