// The console's conversions that every listing goes through.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console.h"

namespace {

TEST(PutNumber, WritesWhatPercentDPrints) {
    for (std::int32_t value : {0, 7, -7, 10, -10, 1000000000, INT32_MAX, INT32_MIN}) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%d", value);
        char out[16];
        char* end = putNumber(value, out);
        EXPECT_EQ(expected, std::string(out, end)) << value;
    }
}

TEST(Cp1251ToUtf8, EveryByteComesBackExceptTheUnusedOne) {
    for (int byte = 1; byte < 256; ++byte) {
        const char text = static_cast<char>(byte);
        std::string utf8;
        cp1251ToUtf8(&text, 1, &utf8);
        if (byte == 0x98) {
            EXPECT_EQ("\xEF\xBF\xBD", utf8);
        } else {
            EXPECT_EQ(std::string(1, text), utf8ToCp1251(utf8)) << byte;
        }
    }
    std::string mixed;
    cp1251ToUtf8("a\xC0\xFF\xB9\x88z", 6, &mixed);
    EXPECT_EQ("a\xD0\x90\xD1\x8F\xE2\x84\x96\xE2\x82\xACz", mixed);
}

}  // namespace
