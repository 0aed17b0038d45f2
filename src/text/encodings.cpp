// Text files in the encodings that spreadsheets write, read into UTF-8.
#include "text/encodings.h"

#include <cstdint>
#include <cstring>

#include "text/codepage.h"
#include "text/utf8.h"

void utf16ToUtf8(const char* bytes, std::size_t size, bool bigEndian, std::string* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    int high = bigEndian ? 0 : 1;  // the place of each unit's high byte
    // A unit of 2 bytes takes at most 3 in UTF-8, a pair of 4 bytes takes 4.
    out->resize(size / 2 * 3 + 1);
    char* to = &(*out)[0];
    const unsigned char* end = p + size / 2 * 2;
    auto unitAt = [high](const unsigned char* at) {
        return static_cast<std::uint32_t>(at[high] << 8 | at[1 - high]);
    };
    while (p < end) {
        std::uint32_t unit = unitAt(p);
        p += 2;
        if (unit >= 0xD800 && unit < 0xDC00 && p < end && unitAt(p) >= 0xDC00 &&
            unitAt(p) < 0xE000) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (unitAt(p) - 0xDC00);
            p += 2;
        }
        to = putUtf8(unit, to);  // a lone surrogate too: three bytes that are no UTF-8
    }
    if (size % 2 != 0) {
        *to++ = '\xFF';
    }
    out->resize(static_cast<std::size_t>(to - out->data()));
}

void cp1251ToUtf8(const char* bytes, std::size_t size, std::string* out) {
    out->resize(textRoom(size));
    char* end = encodeUtf8(bytes, size, &(*out)[0]);
    out->resize(static_cast<std::size_t>(end - out->data()));
}

Encoding markedEncoding(const char* bytes, std::size_t size, std::size_t* markSize) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(bytes);
    *markSize = size >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF)) ? 2
                : size >= 3 && u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF                     ? 3
                                                                                                : 0;
    return *markSize == 3   ? Encoding::kUtf8
           : *markSize == 0 ? Encoding::kUnmarked
           : u[0] == 0xFE   ? Encoding::kUtf16BigEndian
                            : Encoding::kUtf16LittleEndian;
}

void findUtf8Breaks(const char* bytes, std::size_t size, Utf8Breaks* breaks) {
    *breaks = Utf8Breaks{};
    std::size_t line = 1, column = 1;
    bool beyondAscii = false, broken = false;  // the present line's
    for (std::size_t at = 0; at <= size;) {
        if (at == size || bytes[at] == '\n') {
            breaks->brokenLines += broken;
            breaks->utf8Lines += beyondAscii && !broken;
            beyondAscii = broken = false;
            ++line;
            column = 1;
            ++at;
            continue;
        }
        std::uint32_t code = 0;
        std::size_t used = utf8SequenceAt(bytes + at, size - at, &code);
        if (used == 0 && breaks->line == 0) {
            breaks->line = line;
            breaks->column = column;
            breaks->byte = static_cast<unsigned char>(bytes[at]);
        }
        broken = broken || used == 0;
        beyondAscii = beyondAscii || used > 1;
        at += used ? used : 1;
        ++column;
    }
}

namespace {

// Windows-1252's characters for the bytes 0x80 to 0x9F (0: none), as a program
// that takes UTF-8 for Windows-1252 shows them.
constexpr std::uint16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

bool looksLikeMisreadUtf8(const char* text, std::size_t size) {
    std::string bytes;  // the bytes that the characters were read from
    std::uint32_t code = 0;
    for (std::size_t used = 0; size > 0; text += used, size -= used) {
        used = utf8SequenceAt(text, size, &code);
        std::uint32_t byte = code < 0x100 ? code : 0x100;
        for (std::uint32_t k = 0; k < 32 && byte == 0x100; ++k) {
            byte = kWindows1252[k] == code ? 0x80 + k : byte;
        }
        if (used == 0 || byte == 0x100) {
            return false;
        }
        bytes.push_back(static_cast<char>(byte));
    }
    bool cyrillic = false;
    for (std::size_t at = 0, used = 0; at < bytes.size(); at += used) {
        if ((used = utf8SequenceAt(&bytes[at], bytes.size() - at, &code)) == 0) {
            return false;
        }
        cyrillic = cyrillic || (code >= 0x400 && code < 0x530);
    }
    return cyrillic;
}
