// Code page 1251 (Windows Cyrillic) and its conversions to and from UTF-8.
#include "codepage.h"

#include <array>
#include <cstring>

#include "system/cp1251.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace {

// The UTF-8 of bytes 0x80..0xFF, looked up rather than encoded, since listings
// convert every byte of every name.
struct Utf8Sequence {
    char bytes[3];
    unsigned char size;
};

constexpr std::array<Utf8Sequence, 128> utf8OfUpperHalf() {
    std::array<Utf8Sequence, 128> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::uint32_t code = i >= 0x40 ? 0x410u + (i - 0x40) : kUpperHalf[i];
        Utf8Sequence& sequence = table[i];
        sequence.size = static_cast<unsigned char>(putUtf8(code, sequence.bytes) - sequence.bytes);
    }
    return table;
}
constexpr std::array<Utf8Sequence, 128> kUtf8OfUpperHalf = utf8OfUpperHalf();

// The well-formed UTF-8 sequences by their lead byte: the length, the bits the
// lead byte gives, and the range of the second byte, which rules out overlong
// forms, surrogates and what lies beyond U+10FFFF.
struct Utf8Lead {
    unsigned char first, last, length, bits, low, high;
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 2, 0x1F, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0x0F, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x0F, 0x80, 0xBF}, {0xED, 0xED, 3, 0x0F, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x0F, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x07, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x07, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x07, 0x80, 0x8F},
};

// Decodes one UTF-8 sequence at `p`; returns its length, 0 when the lead byte does
// not start a valid sequence.
std::size_t decodeUtf8(const unsigned char* p, std::size_t left, std::uint32_t* code) {
    for (const Utf8Lead& lead : kUtf8Leads) {
        if (p[0] < lead.first || p[0] > lead.last) {
            continue;
        }
        if (left < lead.length || p[1] < lead.low || p[1] > lead.high) {
            return 0;
        }
        *code = p[0] & lead.bits;
        for (std::size_t i = 1; i < lead.length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return 0;
            }
            *code = (*code << 6) | (p[i] & 0x3F);
        }
        return lead.length;
    }
    return 0;
}

}  // namespace

char* encodeUtf8(const char* text, std::size_t length, char* out) {
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            *out++ = static_cast<char>(byte);
        } else {
            // All three bytes are copied: what the sequence does not use is written over.
            const Utf8Sequence& sequence = kUtf8OfUpperHalf[byte - 0x80];
            std::memcpy(out, sequence.bytes, sizeof sequence.bytes);
            out += sequence.size;
        }
    }
    return out;
}

std::string utf8ToCp1251(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        std::uint32_t code = p[0];
        std::size_t used = code < 0x80 ? 1 : decodeUtf8(p, left, &code);
        char byte = '?';
        if (used == 0) {
            used = 1;
        } else {
            toCp1251(code, &byte);
        }
        out.push_back(byte);
        p += used;
        left -= used;
    }
    return out;
}

char* utf8ToCp1251Exactly(const char* text, std::size_t size, char* out, std::uint32_t* lacking) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + size;
    while (p < end) {
        std::uint64_t eight;  // eight bytes of ASCII at a time, as they come
        if (end - p >= 8 && (std::memcpy(&eight, p, 8), (eight & 0x8080808080808080u) == 0)) {
            std::memcpy(out, p, 8);
            out += 8;
            p += 8;
            continue;
        }
        std::uint32_t code = *p;
        std::size_t used = 1;
        if (code >= 0xD0 && code <= 0xD1 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            code = ((code & 0x1F) << 6) | (p[1] & 0x3F);  // Cyrillic, the common case
            used = 2;
        } else if (code >= 0x80) {
            used = decodeUtf8(p, static_cast<std::size_t>(end - p), &code);
        }
        if (used == 0 || !toCp1251(code, out)) {
            *lacking = used == 0 ? kNotUtf8 : code;
            return nullptr;
        }
        ++out;
        p += used;
    }
    return out;
}

std::size_t utf8SequenceAt(const char* p, std::size_t left, std::uint32_t* code) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(p);
    *code = bytes[0];
    return bytes[0] < 0x80 ? 1 : decodeUtf8(bytes, left, code);
}

bool isUtf8(const char* text, std::size_t size) {
    const char* end = text + size;
    while (text < end) {
        // Eight bytes of ASCII at a time, the common case.
        std::uint64_t eight;
        if (end - text >= 8 && (std::memcpy(&eight, text, 8), (eight & 0x8080808080808080u) == 0)) {
            text += 8;
            continue;
        }
        const unsigned char* u = reinterpret_cast<const unsigned char*>(text);
        if (u[0] >= 0xC2 && u[0] <= 0xDF && end - text >= 2 && (u[1] & 0xC0) == 0x80) {
            text += 2;  // two bytes, as Cyrillic takes
            continue;
        }
        std::uint32_t code;
        std::size_t used = utf8SequenceAt(text, static_cast<std::size_t>(end - text), &code);
        if (used == 0) {
            return false;
        }
        text += used;
    }
    return true;
}

void maskCp1251Controls(char* text, std::size_t size) {
    for (char* p = text; p < text + size; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte != 0 && (isControl(byte, false) || byte == 0x98)) {
            *p = kControlMask;
        }
    }
}
