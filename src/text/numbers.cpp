// Numbers as the dialogue reads and prints them: signed decimal in the 32-bit range.
#include "text/numbers.h"

#include <cstdint>
#include <cstring>

char* putNumber(std::int32_t value, char* out) {
    char digits[10];
    char* first = digits + sizeof digits;
    std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *out++ = '-';
    }
    std::size_t count = static_cast<std::size_t>(digits + sizeof digits - first);
    std::memcpy(out, first, count);
    return out + count;
}

std::size_t parseNumber(const char* text, std::size_t size, std::int32_t* value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::size_t digitsAt = i;
    std::int64_t magnitude = 0;
    const std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit + 1;  // out of range whatever follows
        }
        ++i;
    }
    if (i == digitsAt || magnitude > (negative ? kLimit : kLimit - 1)) {
        return 0;
    }
    *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return i;
}
