// Number conversion and the code page 1251 <-> UTF-8 conversion of the console.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"

namespace {

TEST(ParseNumber, TakesAnOptionalSignAndDigitsWithinThe32BitRange) {
    struct Case {
        const char* text;
        std::size_t used;
        std::int32_t value;  // 7 where the target must stay untouched
    } cases[] = {
        {"42 rest", 2, 42},
        {"-17", 3, -17},
        {"+5x", 2, 5},
        {"2147483647", 10, INT32_MAX},
        {"-2147483648", 11, INT32_MIN},
        {"2147483648", 0, 7},
        {"-2147483649", 0, 7},
        {"99999999999999999999", 0, 7},
        {"abc", 0, 7},
        {"-", 0, 7},
        {"- 5", 0, 7},
        {"", 0, 7},
    };
    for (const Case& c : cases) {
        std::int32_t value = 7;
        EXPECT_EQ(c.used, parseNumber(c.text, std::strlen(c.text), &value)) << c.text;
        EXPECT_EQ(c.value, value) << c.text;
    }
}

TEST(PutNumber, WritesWhatPercentDPrints) {
    for (std::int32_t value : {0, 7, -7, 10, -10, 1000000000, INT32_MAX, INT32_MIN}) {
        char expected[16], out[16];
        std::snprintf(expected, sizeof expected, "%d", value);
        EXPECT_EQ(expected, std::string(out, putNumber(value, out))) << value;
    }
}

std::string systemConversion(const std::string& from, const char* code, const char* to) {
    iconv_t cd = iconv_open(to, code);
    std::string in = from, out(16, '\0');
    char* src = &in[0];
    char* dst = &out[0];
    std::size_t srcLeft = in.size(), dstLeft = out.size();
    std::size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    return done == static_cast<std::size_t>(-1) ? "" : out.substr(0, out.size() - dstLeft);
}

TEST(CodePage, EveryByteOfCodePage1251RoundTripsThroughUtf8AsTheSystemConvertsIt) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        std::string cp(1, static_cast<char>(byte)), utf8;
        cp1251ToUtf8(cp.data(), 1, &utf8);
        std::string expected = systemConversion(cp, "CP1251", "UTF-8");
        if (expected.empty()) {  // the one unassigned byte shows as U+FFFD
            EXPECT_EQ("\xef\xbf\xbd", utf8) << byte;
            continue;
        }
        EXPECT_EQ(expected, utf8) << byte;
        EXPECT_EQ(cp, utf8ToCp1251(utf8)) << byte;
    }
}

TEST(CodePage, TextThatCodePage1251CannotHoldBecomesQuestionMarks) {
    EXPECT_EQ("a?b", utf8ToCp1251("a\xe4\xb8\xad"
                                  "b"));                      // a CJK character
    EXPECT_EQ("?(", utf8ToCp1251("\xc3\x28"));                // a lead byte without its follower
    EXPECT_EQ("?", utf8ToCp1251("\xd0"));                     // cut short
    EXPECT_EQ("?", utf8ToCp1251("\xf0\x9f\x98\x80"));         // outside the basic plane
    EXPECT_EQ("\xc0\xff", utf8ToCp1251("\xd0\x90\xd1\x8f"));  // Cyrillic A and ya
}

}  // namespace
