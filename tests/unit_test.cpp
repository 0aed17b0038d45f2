// The pure pieces: numbers parsed and printed, typed UTF-8 turned into code page 1251, catalogs.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "console.h"
#include "console/mo_catalog.h"

// The bytes that the number takes, and the value it leaves, printed back (7 when untouched).
std::string parsed(const char* text, std::size_t size = std::string::npos) {
    std::int32_t value = 7;
    std::size_t used = parseNumber(text, std::min(size, std::strlen(text)), &value);
    char printed[16];
    return std::to_string(used) + " " + std::string(printed, putNumber(value, printed));
}

TEST(Numbers, ParsedWithinThe32BitRangeAndPrintedAsPercentD) {
    EXPECT_EQ("2 42", parsed("42 rest"));
    EXPECT_EQ("3 -17", parsed("-17"));
    EXPECT_EQ("2 5", parsed("+5x"));
    EXPECT_EQ("1 4", parsed("45", 1));
    EXPECT_EQ("10 2147483647", parsed("2147483647"));
    EXPECT_EQ("11 -2147483648", parsed("-2147483648"));
    EXPECT_EQ("0 7", parsed("2147483648"));
    EXPECT_EQ("0 7", parsed("-2147483649"));
    EXPECT_EQ("0 7", parsed("99999999999999999999"));
    EXPECT_EQ("0 7", parsed("- 5"));
}

TEST(CodePage, TypedUtf8BecomesCodePage1251OrQuestionMarks) {
    // Cyrillic and the upper half; then what the code page lacks, from U+0080 to U+40000.
    EXPECT_EQ("\xc0\xff\x82\x80\xb9",
              utf8ToCp1251("\xd0\x90\xd1\x8f\xe2\x80\x9a\xd0\x82\xe2\x84\x96"));
    EXPECT_EQ("???????", utf8ToCp1251("\xc2\x80\xd0\x80\xe0\xa0\x80\xed\x9f\xbf\xe4\xb8\xad"
                                      "\xf1\x80\x80\x80\xf0\x9f\x98\x80"));
    // Not UTF-8: a lead byte without its follower, a follower alone, a sequence cut short,
    // overlong, a surrogate, beyond U+10FFFF, a byte that leads nothing.
    EXPECT_EQ("?(??", utf8ToCp1251("\xc3(\xa0\xd0"));
    EXPECT_EQ("??????????????",
              utf8ToCp1251("\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80\xf5\x80\x80\x80"));
}

TEST(Texts, PutUpToTheirNulAndUnchangedWhereOutputIsNoTerminal) {
    char out[textRoom(6)];
    EXPECT_EQ("A\x1b\x7f\xe0", std::string(out, putText("A\x1b\x7f\xe0\0x", 6, out)));
}

// Every text of the catalog built from po/bg.po is found; a catalog cut anywhere is read
// only within its bytes (the sanitizers watch), and what it still holds is found.
TEST(Catalog, EveryTextFoundAndNothingReadBeyondTheEnd) {
    std::ifstream file(SCHOOLS_CATALOG, std::ios::binary);
    std::vector<char> mo((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    MoCatalog whole;
    ASSERT_TRUE(openMoCatalog(mo.data(), mo.size(), &whole));
    EXPECT_EQ(nullptr, findInMo(whole, "Kra"));
    std::uint32_t length = 0;
    for (std::size_t size = 0; size <= mo.size(); size += size < 64 ? 1 : 7) {
        std::vector<char> cut(mo.begin(), mo.begin() + static_cast<long>(size));
        MoCatalog catalog;
        bool opened = openMoCatalog(cut.data(), cut.size(), &catalog);
        for (std::uint32_t i = 1; i < whole.count; ++i) {
            const char* found =
                opened ? findInMo(catalog, moText(whole, false, i, &length)) : nullptr;
            EXPECT_TRUE(!found || std::strcmp(found, moText(whole, true, i, &length)) == 0);
            EXPECT_TRUE(size < mo.size() || found);
        }
    }
}
