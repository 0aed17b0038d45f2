// The pure pieces: numbers, code page 1251, the key decoder, CSV cells, the way a
// write takes, and catalogs.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "console.h"
#include "console/keys.h"
#include "csv.h"
#include "files/write_way.h"
#include "text/encodings.h"
#include "text/mo_catalog.h"
#include "workbook.h"
#include "zip.h"

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
    EXPECT_EQ("0 7", parsed("-"));
    EXPECT_EQ("0 7", parsed("+-5"));
    EXPECT_EQ("0 7", parsed(""));
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
    EXPECT_EQ("?A?B", utf8ToCp1251("\xf1\x80\x80\x80"
                                   "A\xf4\x80\x80\x80"
                                   "B"));
    // Through the UTF-16 of a Windows console: every byte there and back, a character lacking.
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(static_cast<char>(byte), cp1251OfUnicode(unicodeOfCp1251(byte))) << byte;
    }
    EXPECT_EQ(0x2116, unicodeOfCp1251(0xB9));
    EXPECT_EQ('?', cp1251OfUnicode(0x4E2D));
    // Exactly: a lead byte without its follower is no UTF-8, whatever follows.
    char out[4];
    std::uint32_t lacking = 0;
    EXPECT_EQ(nullptr, utf8ToCp1251Exactly("\xd0"
                                           "A",
                                           2, out, &lacking));
    EXPECT_EQ(kNotUtf8, lacking);
    // UTF-16's last character of one unit and first of two, then a high surrogate
    // before U+E000, which is no pair.
    std::string utf8;
    utf16ToUtf8("\xff\xff\x00\xd8\x00\xdc\x00\xd8\x00\xe0", 10, false, &utf8);
    EXPECT_EQ("\xef\xbf\xbf\xf0\x90\x80\x80\xed\xa0\x80\xee\x80\x80", utf8);
    // Eight bytes of ASCII at a time, and the byte after them still judged.
    EXPECT_FALSE(isUtf8("abcdefgh\xff", 9));
}

TEST(Texts, PutUpToTheirNulAndUnchangedWhereOutputIsNoTerminal) {
    char out[textRoom(6)];
    EXPECT_EQ("A\x1b\x7f\xe0", std::string(out, putText("A\x1b\x7f\xe0\0x", 6, out)));
}

// What follows an ESC: the kind (L lone, A Alt, S sequence, C the console's two codes), the
// body, then the byte left over.
std::string keys;
std::size_t keyAt = 0;
std::string decoded(const std::string& bytes) {
    keys = bytes, keyAt = 0;
    auto next = [](void*) { return keyAt < keys.size() ? keys[keyAt++] & 0xFF : -1; };
    EscapeKey key = decodeEscape(next, nullptr);
    return std::string(1, "LASC"[key.kind]) + key.body + (key.unused < 0 ? "" : "|") +
           std::string(key.unused < 0 ? 0 : 1, static_cast<char>(key.unused));
}

TEST(Keys, EveryReaderDecodesTheBytesAfterAnEscapeAlike) {
    using namespace std::string_literals;
    // The last five: the console's Up, then a key of its own; F1; a second code that is a
    // digit; a first code alone; '@' ending a sequence before the next key.
    const std::string cases[][2] = {
        {"", "L"},           {"[A", "S[A"},           {"OP", "SOP"},
        {"[1;5D", "S[1;5D"}, {"[15~x", "S[15~"},      {"[2@", "S[2@"},
        {"b7", "Ab"},        {"\x7f", "A\x7f"},       {"\x1b[A", "L|\x1b"},
        {"\r", "L|\r"},      {"\xd0\x96", "L|\xd0"},  {"[1\x01", "S[1|\x01"},
        {"O", "SO"},         {"[1\xff", "S[1|\xff"},  {"\xe0H7", "C\xe0H"},
        {"\0;"s, "C\0;"s},   {"\0\x31"s, "C\0\x31"s}, {"\xe0", "C\xe0"},
        {"[2@x", "S[2@"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c[1], decoded(c[0])) << c[0];
    }
    // A sequence that never ends stops at the cap; the rest is typed as it comes.
    EXPECT_EQ("S[" + std::string(kEscapeSequenceCap - 1, '1'), decoded("[" + std::string(99, '1')));
}

// The first error of a CSV text as "line:column: what", or the count of its schools.
std::string csvVerdict(const std::string& text) {
    CheckedSchools parsed;
    parseCsv(text.data(), text.size(), &parsed);
    if (parsed.errors.empty()) {
        return std::to_string(parsed.schools.size());
    }
    const CellFinding& e = parsed.errors[0];
    return std::to_string(e.line) + ":" + std::to_string(e.column) + ": " + e.what;
}

std::string repeated(const std::string& piece, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += piece;
    }
    return all;
}

TEST(Csv, EachFaultNamedAtItsCell) {
    const std::string head = kCsvHeader;
    std::string full = head;
    for (int n = 0; n <= kMaxSchools; ++n) {
        full += "S,D," + std::to_string(n) + ",1,1\n";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"", "1:1: no header row"},
        {"name,director,number,area", "1:5: no column \"students\""},
        {"x," + head,
         "1:1: \"x\" is not one of the columns name, director, number, area, students"},
        {head.substr(0, head.size() - 2) + ",NAME", "1:6: \"NAME\" is column 1 already"},
        {head.substr(0, head.size() - 1) + "\r\n",  // a stray CR
         "1:5: \"students\\r\" is not one of the columns name, director, number, area, students"},
        {head + "A,D,1,1,\"1", "2:5: \"\\\"1\" has no closing quote"},
        {head + "A,\"D\"x,1,1,1", "2:2: \"\\\"D\\\"x\" has text after its closing quote"},
        {head + "A,D\"x,1,1,1", "2:2: \"D\\\"x\" holds a quote but does not begin with one"},
        {head + "\xe4\xb8\xad,D,1,1,1",
         "2:1: \"\xe4\xb8\xad\" holds U+4E2D, which code page 1251 lacks"},
        {"\xef\xbb\xbf" + head + "\"A\n\",\x80\x01,1,1,1", "3:2: \"\\x80\\x01\" is not UTF-8"},
        {head + std::string("A,D\0,1,1,1", 11), "2:2: \"D\\0\" holds a NUL character"},
        {head + std::string(61, 'n') + ",D,1,1,1",
         "2:1: \"" + std::string(60, 'n') + "\"... is 61 characters, more than 50"},
        {head + "A,D,1,1", "2:5: 4 cells where the header has 5"},
        {head + "A,D,1,1,1,1", "2:6: 6 cells where the header has 5"},
        {full, "20482:1: more than 20480 schools, more than a list holds"},
        {full.substr(0, full.rfind("S,")), std::to_string(kMaxSchools)},  // as many as a list holds
        {head + repeated("\xd0\x96", 50) + "," + std::string(50, 'n') + ",1,1,1", "1"},  // 50 each
        {head + std::string(51, 'n') + ",D,1,1,1",
         "2:1: \"" + std::string(51, 'n') + "\" is 51 characters, more than 50"},
        {head + "A,D,1,1,1\n\n\r\n,,,,\n",  // blank lines counted, and skipped
         "5:3: \"\" is not a whole number from -2147483648 to 2147483647"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, csvVerdict(c.first)) << c.first.substr(0, 80);
    }
    for (const char* n : {"", " 5", "12a", "2147483648", "-2147483649"}) {
        EXPECT_EQ(
            "2:4: \"" + std::string(n) + "\" is not a whole number from -2147483648 to 2147483647",
            csvVerdict(head + "A,D,1," + n + ",1"));
    }
}

// The way (0 refused, 1 in place, 2 through output, 3 through error, 4 replaced) and the
// refusal's reason: its error number, or T for a terminal.
std::string way(FileFacts::Kind kind, int stream, bool terminal) {
    FileFacts facts;
    facts.kind = kind;
    facts.terminal = terminal;
    Reason refusal;
    Way chosen = chooseWay(facts, stream, &refusal);
    return std::to_string(static_cast<int>(chosen)) + " " +
           (refusal.own == Reason::kTerminal ? "T" : std::to_string(refusal.error));
}

TEST(WriteWay, NoRecordsComeBackAsInputNorReachATerminal) {
    const std::string busy = "0 " + std::to_string(EBUSY);
    EXPECT_EQ("0 T", way(FileFacts::kCharacterDevice, 1, true));
    EXPECT_EQ(busy, way(FileFacts::kRegular, 0, false));
    EXPECT_EQ(busy, way(FileFacts::kOther, 0, false));             // a pipe
    EXPECT_EQ("1 0", way(FileFacts::kCharacterDevice, 0, false));  // /dev/null
    EXPECT_EQ("1 0", way(FileFacts::kOther, -1, false));
    EXPECT_EQ("4 0", way(FileFacts::kRegular, -1, false));
    EXPECT_EQ("2 0", way(FileFacts::kRegular, 1, false));
    EXPECT_EQ("3 0", way(FileFacts::kOther, 2, false));
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

// A translation is a format of the original only with its directives, in order and kind.
TEST(Catalog, TranslationsTakeTheOriginalsArguments) {
    EXPECT_TRUE(sameDirectives("%s is %lu, 100%% of %lu", "%s: %lu, 100%% %-3lu"));
    EXPECT_FALSE(sameDirectives("%s: %lu", "%lu: %s"));
    EXPECT_FALSE(sameDirectives("%d", "%d %d"));
    EXPECT_FALSE(sameDirectives("%ld", "%d"));
    EXPECT_FALSE(sameDirectives("%.*s", "%s"));
}

// A sheet's cell read as a school's name: its text, or "column: error". Around it,
// the sheet may have more before its rows, and the header or the row more cells.
std::string nameCell(const std::string& cell, const std::string& before = "",
                     const std::string& header = "", const std::string& after = "") {
    std::string head = "<row>";  // unnumbered, as some writers leave rows
    for (const char* name : kSchoolColumnNames) {
        head += std::string("<c t=\"inlineStr\"><is><t>") + name + "</t></is></c>";
    }
    CheckedSchools parsed;
    parseSheet(before + head + header + "</row><row r=\"2\"><c r=\"A2\"" + cell +
                   "</c><c><v>7</v></c><c><v>1</v></c><c><v>1</v></c><c><v>1</v></c>" + after +
                   "</row>",
               SharedStrings{"shared", {6}}, &parsed);
    return parsed.errors.empty()
               ? std::string(parsed.schools.at(0).schoolname)
               : std::to_string(parsed.errors[0].column) + ": " + parsed.errors[0].what;
}

TEST(Workbook, EachKindOfCellReadAsItsText) {
    const char* const cases[][2] = {
        {"><v>2024</v>", "2024"},
        {"><v>9.9E1</v>", "99"},
        {"><v>1.5</v>", "1.5"},
        {" t=\"\"><v>5</v>", "5"},
        {" t=\"b\"><v>1</v>", "TRUE"},
        {" t=\"s\"><v>0</v>", "shared"},
        {" t=\"s\"><v>1</v>", "1: no such shared string"},
        {" t=\"str\"><f>B2</f><v>x</v>", "x"},
        {"><f>1/0</f><v></v>", "1: a formula without a value"},
        {" t=\"e\"><v>#N/A</v>", "1: the error value #N/A"},
        {"><!-- <t/><v>9</v> --><v>5</v>", "5"},
        {" t=\"inlineStr\"><is><r><t>a</t></r><rPh><t>p</t></rPh><r><t>b</t></r></is>", "ab"},
        {" t=\"inlineStr\"><is><t>_x0041_&amp;</t></is>", "A&"},
        {" t=\"inlineStr\"><is><t>&#x6f;&#79;&nbsp;</t></is>", "oO&nbsp;"},
        {" t=\"inlineStr\"><is><t>a<?p 1>2?>b</t></is>", "ab"},
        {" t=\"inlineStr\"><is><t><![CDATA[&amp;<]]>&#x100000041;</t></is>", "&amp;<&#x100000041;"},
        {"><v></v>", ""},
        {"><v/>x", ""},
        {" t=\"inlineStr\"><is><t>&#9;</t></is>", "\t"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c[1], nameCell(c[0])) << c[0];
    }
    // A declaration's internal subset is skipped whole, markup and all.
    EXPECT_EQ("5",
              nameCell("><v>5</v>", "<!DOCTYPE s [<!ENTITY e \"x\"> <row><c><v>9</v></c></row>]>"));
    EXPECT_EQ("6: \"x\" is not one of the columns name, director, number, area, students",
              nameCell("><v>5</v>", "", "<c t=\"inlineStr\"><is><t>x</t></is></c>"));
    EXPECT_EQ("27: a cell beyond the header's 5 columns",
              nameCell("><v>5</v>", "", "", "<c t=\"\" r=\"AA2\"><v>1</v></c>"));
    EXPECT_EQ("6: a cell beyond the header's 5 columns",
              nameCell("><v>5</v>", "", "", "<c><v>1</v></c><c r=\"H2\"><v>1</v></c>"));
}

TEST(Zip, MembersFoundByTheirWholeName) {
    std::string zip;
    const ZipPart part{"yl/a.xml", "<a/>", 4};
    ASSERT_TRUE(putZip(&part, 1, &zip));
    std::string out;
    EXPECT_EQ(nullptr, readZipMember(zip.data(), zip.size(), "YL/A.xml", 100, &out));
    EXPECT_EQ("<a/>", out);
    EXPECT_EQ(kNoSuchMember, readZipMember(zip.data(), zip.size(), "xl/a.xml", 100, &out));
    EXPECT_EQ(kNoSuchMember, readZipMember(zip.data(), zip.size(), "yl/a.xm", 100, &out));
    EXPECT_EQ(kNoSuchMember, readZipMember(zip.data(), zip.size(), "yl/a.xmlx", 100, &out));
    // One byte more than the bound takes is refused; the bound itself is taken.
    EXPECT_EQ(kTooLargeMember, readZipMember(zip.data(), zip.size(), "yl/a.xml", 3, &out));
    EXPECT_EQ(nullptr, readZipMember(zip.data(), zip.size(), "yl/a.xml", 4, &out));
    // The packed size stands in the member's own header too, for readers that stream.
    EXPECT_EQ(zip.substr(zip.find("PK\1\2") + 20, 4), zip.substr(18, 4));
    // A member's own header that runs beyond the archive is refused, stored or packed.
    const ZipPart plain{"yl/a.xml", "<a/>", 4, true};
    std::string torn[2] = {zip};
    ASSERT_TRUE(putZip(&plain, 1, &torn[1]));
    for (std::string& t : torn) {
        t[28] = t[29] = '\xff';  // its extra field's length
        EXPECT_STREQ("a damaged part", readZipMember(t.data(), t.size(), "yl/a.xml", 100, &out));
    }
    // A member whose bytes do not give the directory's CRC-32 is refused.
    zip[zip.find("PK\1\2") + 16] ^= 1;
    EXPECT_STREQ("a damaged part (its CRC-32 does not match)",
                 readZipMember(zip.data(), zip.size(), "yl/a.xml", 100, &out));
    EXPECT_EQ("", out);
}
