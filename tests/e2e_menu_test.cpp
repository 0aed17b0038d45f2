// Menus, the command loop and the end of input, driven through standard input.
#include <gtest/gtest.h>

#include "session.h"

using namespace screen;

namespace {

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

const std::string kEmptyListing =
    "\nNedostatuchno elementi za sortirane!\n\nSchool list is empty!\n";
const std::string kAreaPrompt = "\nAbove what area taking schools to show?:\n";

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class MenuSession : public testing::TestWithParam<Case> {};

TEST_P(MenuSession, PrintsExactly) {
    const Case& c = GetParam();
    Folder folder;
    SessionResult r = runSession(folder, c.input);
    EXPECT_TRANSCRIPT(c.expected, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(folder.names().empty()) << "no command here writes a file";
}

INSTANTIATE_TEST_SUITE_P(
    Loop, MenuSession,
    testing::Values(
        Case{"EndsWithSeven", "7", mainMenu("7")},
        Case{"IgnoresKeysOutsideTheMenu", std::string("a09\n\r \x1b\x7f\xb1\xff-7", 13),
             mainMenu("7")},
        Case{"EightRedrawsAtOnce", "887", mainMenu("8") + mainMenu("8") + mainMenu("7")},
        Case{"SubmenusTakeOnlyTheirItems",
             "1390"
             "1"
             "83"
             "1"
             "no\n 7",
             mainMenu("1") + addMenus("1", "1") +
                 "Will you enter data for another school? - (yes/no)"
                 "\nAll schools have students!" +
                 kPause + mainMenu("7")},
        Case{"FreeTwiceWithoutAList", "6 6 7",
             mainMenu("6") + "\nNo memory used!" + kPause + mainMenu("6") + "\nNo memory used!" +
                 kPause + mainMenu("7")},
        Case{"FreeAfterAnAddThenAgain", "111no\n 6 6 7",
             mainMenu("1") + addMenus("1", "1") +
                 "Will you enter data for another school? - (yes/no)"
                 "\nAll schools have students!" +
                 kPause + mainMenu("6") + "\nMemory is empty!" + kPause + mainMenu("6") +
                 "\nNo memory used!" + kPause + mainMenu("7")},
        Case{"CommandsOnNoList", "4 5\n12\n 2 3X\n 7",
             mainMenu("4") + kEmptyListing + kPause + mainMenu("5") + kAreaPrompt +
                 "\nNo schools with bigger area!" + kPause + mainMenu("2") +
                 "\nSchool list is empty!\n" + kPause + mainMenu("3") +
                 "Enter School name to look for :\nNo School with that name!" + kPause +
                 mainMenu("7")},
        Case{"InputEndsAtAMenu", "", mainMenu("")},
        Case{"InputEndsAtASubmenu", "1", mainMenu("1") + sourceMenu("")},
        Case{"InputEndsAtAPause", "6", mainMenu("6") + "\nNo memory used!" + kPause},
        Case{"InputEndsAtALine", "111",
             mainMenu("1") + addMenus("1", "1") +
                 "Will you enter data for another school? - (yes/no)\n"},
        Case{"InputEndsAtANumber", "5\n  \n\t", mainMenu("5") + kAreaPrompt + "\n"},
        Case{"LastLineWithoutLineEnd", "111yes",
             mainMenu("1") + addMenus("1", "1") +
                 "Will you enter data for another school? - (yes/no)\nSCHOOL  NUMBER 1: "
                 "\nEnter name of School:\n"}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
