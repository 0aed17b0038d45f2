// Pruning after adds, the sorted listing, the area report and the change command.
#include <gtest/gtest.h>

#include "session.h"

using namespace screen;

namespace {

School school(const std::string& name, std::int32_t number, std::int32_t students,
              std::int32_t area = 100) {
    return {name, "Dir " + name, number, area, students};
}

std::string file(const std::vector<School>& schools) {
    std::string bytes;
    for (const School& s : schools)
        bytes += record(s);
    return bytes;
}

// ---- Pruning: the last school moves into a freed slot, which is looked at again ----

struct PruneCase {
    const char* label;
    std::vector<School> loaded, kept;
    bool pruned;
};

void PrintTo(const PruneCase& c, std::ostream* os) {
    *os << c.label;
}

class Pruning : public testing::TestWithParam<PruneCase> {};

TEST_P(Pruning, KeepsTheSchoolsWithStudentsInWalkOrder) {
    const PruneCase& c = GetParam();
    Folder folder;
    folder.write("in.dat", file(c.loaded));
    SessionResult r = runSession(folder, loadInput('1', "in.dat") + kListInput + "7");
    EXPECT_TRANSCRIPT(
        loadScreen('1', c.pruned ? kPruned : kKept) +
            (c.kept.empty() ? mainMenu("5") + "\nAbove what area taking schools to show?:\n" +
                                  "\nNo schools with bigger area!" + kPause
                            : listing(c.kept)) +
            mainMenu("7"),
        r.out);
}

const School kA0 = school("A", 1, 0), kB5 = school("B", 2, 5), kC7 = school("C", 3, 7);
const School kB0 = school("B", 2, 0), kC5 = school("C", 3, 5), kD7 = school("D", 4, 7);
const School kC0 = school("C", 3, 0);

INSTANTIATE_TEST_SUITE_P(
    Walk, Pruning,
    testing::Values(PruneCase{"FirstEmpty", {kA0, kB5, kC7}, {kC7, kB5}, true},
                    PruneCase{"TwoEmptyFirst", {kA0, kB0, kC5, kD7}, {kD7, kC5}, true},
                    PruneCase{"MovedSchoolTestedAgain", {kA0, kB5, kC0}, {kB5}, true},
                    PruneCase{"AllEmpty", {kA0, kB0}, {}, true},
                    PruneCase{"NoneEmpty", {kB5, kC7}, {kB5, kC7}, false},
                    PruneCase{"EmptyFile", {}, {}, false}),
    [](const testing::TestParamInfo<PruneCase>& c) { return std::string(c.param.label); });

// ---- Sorted listing ----------------------------------------------------------------

const std::string kTooFew = "\nNedostatuchno elementi za sortirane!\n";

TEST(SortedListing, MostStudentsFirstWithNegativeCountsLastAndTheFileKeepsTheOrder) {
    Folder folder;
    School low = school("Low", 1, -5), high = school("High", 2, 40), mid = school("Mid", 3, 7);
    folder.write("in.dat", file({low, high, mid}));
    SessionResult r =
        runSession(folder, loadInput('1', "in.dat") + "4 " + writeInput("out.dat") + "7");
    EXPECT_TRANSCRIPT(loadScreen('1') + mainMenu("4") + block(1, high) + block(2, mid) +
                          block(3, low) + kPause + writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(file({high, mid, low}), folder.read("out.dat"));
}

TEST(SortedListing, FewerThanTwoSchoolsAreListedWithoutSorting) {
    Folder folder;
    School only = school("Only", 1, 3);
    folder.write("in.dat", file({only}));
    SessionResult r = runSession(folder, "4 " + loadInput('1', "in.dat") + "4 7");
    EXPECT_TRANSCRIPT(mainMenu("4") + kTooFew + "\nSchool list is empty!\n" + kPause +
                          loadScreen('1') + mainMenu("4") + kTooFew + block(1, only) + kPause +
                          mainMenu("7"),
                      r.out);
}

// ---- Area report -------------------------------------------------------------------

const std::string kAreaPrompt = "\nAbove what area taking schools to show?:\n";
const std::string kNoBigger = "\nNo schools with bigger area!";

TEST(AreaReport, ShowsOnlyAreasAboveTheThreshold) {
    Folder folder;
    School small = school("Small", 1, 5, 0), equal = school("Equal", 2, 5, 300),
           big = school("Big", 3, 5, 301);
    folder.write("in.dat", file({small, equal, big}));
    // Letters leave the threshold at 0; two numbers on one line feed two reports.
    SessionResult r =
        runSession(folder, "5abc\n " + loadInput('1', "in.dat") + "5300 400\n 5 5abc\n 7");
    EXPECT_TRANSCRIPT(mainMenu("5") + kAreaPrompt + kNoBigger + kPause + loadScreen('1') +
                          mainMenu("5") + kAreaPrompt + block(3, big) + kPause + mainMenu("5") +
                          kAreaPrompt + kNoBigger + kPause + mainMenu("5") + kAreaPrompt +
                          block(2, equal) + block(3, big) + kPause + mainMenu("7"),
                      r.out);
}

// ---- Change command ------------------------------------------------------------------

const std::string kLookFor = "Enter School name to look for :\n";
const std::string kChanged = "\nSchool info changed!";
const std::string kDeleted = "\nSchool had no students so we deleted it!";
const std::string kNotFound = "No School with that name!";

// What the re-entry of one school prints; `rejected` numbers typed first.
std::string reentered(int rejected = 0) {
    std::string out =
        "\nENTER FOLLOWING INFORMATION:\n\nName of new school:\nName of director of new "
        "school:\nArea of new school:";
    for (int i = 0; i < rejected; ++i)
        out += "\nNumber of new school:\nSchool number already exists!\n";
    return out + "\nNumber of new school:\nNumber of students in the new school:";
}
std::string retyping(const School& s) {
    return s.name + "\n" + s.director + "\n" + std::to_string(s.area) + "\n" +
           std::to_string(s.number) + "\n" + std::to_string(s.students) + "\n";
}

struct ChangeCase {
    const char* label;
    std::vector<School> loaded;
    std::string input;    // after the command key
    std::string printed;  // after the main menu
    std::vector<School> after;
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
    *os << c.label;
}

class Change : public testing::TestWithParam<ChangeCase> {};

TEST_P(Change, RetypesEverySchoolOfThatName) {
    const ChangeCase& c = GetParam();
    Folder folder;
    folder.write("in.dat", file(c.loaded));
    SessionResult r =
        runSession(folder, loadInput('1', "in.dat") + "3" + c.input + " " + kListInput + "7");
    EXPECT_TRANSCRIPT(
        loadScreen('1') + mainMenu("3") + c.printed + kPause + listing(c.after) + mainMenu("7"),
        r.out);
}

const School kX1 = school("X", 1, 10), kY2 = school("Y", 2, 20), kX3 = school("X", 3, 30);
const School kZ4 = school("Z", 4, 40);

INSTANTIATE_TEST_SUITE_P(
    Cases, Change,
    testing::Values(
        ChangeCase{"NobodyHasTheName", {kX1, kY2}, "Nobody\n", kLookFor + kNotFound, {kX1, kY2}},
        ChangeCase{"BothOfOneNameInWalkOrder",
                   {kX1, kY2, kX3},
                   "X\n" + retyping(school("P", 7, 1)) + retyping(school("Q", 8, 2)),
                   kLookFor + reentered() + reentered() + kChanged,
                   {school("P", 7, 1), kY2, school("Q", 8, 2)}},
        ChangeCase{"ZeroStudentsMovesTheLastIntoTheSlot",
                   {kX1, kY2, kZ4},
                   "X\n" + retyping(school("X", 9, 0)),
                   kLookFor + reentered() + kDeleted,
                   {kZ4, kY2}},
        ChangeCase{"TwoRemovedSayNothing",
                   {kX1, kY2, kX3},
                   "X\n" + retyping(school("X", 8, 0)) + retyping(school("X", 9, 0)),
                   kLookFor + reentered() + reentered(),
                   {kY2}},
        // Letters keep the area and students; the old number is known, so it is asked again.
        ChangeCase{"LettersKeepTheOldValues",
                   {kX1, kY2},
                   "X\nX2\nBoss\nabc\nabc\n2\n5\nabc\n",
                   kLookFor + reentered(2) + kChanged,
                   {{"X2", "Boss", 5, 100, 10}, kY2}}),
    [](const testing::TestParamInfo<ChangeCase>& c) { return std::string(c.param.label); });

TEST(Change, CyrillicNameTypedOnAUtf8TerminalFindsTheStoredSchool) {
    SKIP_UNLESS_POSIX("UTF-8 locales");
    Folder folder;
    folder.write("in.dat", file({{"\xd1\xee\xf4\xe8\xff", "D", 1, 100, 10}}));
    SessionResult r =
        runSession(folder,
                   loadInput('1', "in.dat") + "3\xd0\xa1\xd0\xbe\xd1\x84\xd0\xb8\xd1\x8f\n" +
                       retyping(school("N", 2, 5)) + " 7",
                   {{"LC_ALL=C.UTF-8"}});
    EXPECT_TRANSCRIPT(loadScreen('1') + mainMenu("3") + kLookFor + reentered() + kChanged + kPause +
                          mainMenu("7"),
                      r.out);
}

// The bytes that a Windows console in code page 1251 delivers match the stored name as they are.
TEST(Change, CyrillicNameTypedInCodePage1251FindsTheStoredSchool) {
    Folder folder;
    folder.write("in.dat", file({{"\xd1\xee\xf4\xe8\xff", "D", 1, 100, 10}}));
    SessionResult r = runSession(folder, loadInput('1', "in.dat") + "3\xd1\xee\xf4\xe8\xff\n" +
                                             retyping(school("N", 2, 5)) + " 4 7");
    EXPECT_TRANSCRIPT(loadScreen('1') + mainMenu("3") + kLookFor + reentered() + kChanged + kPause +
                          mainMenu("4") + kTooFew + block(1, school("N", 2, 5)) + kPause +
                          mainMenu("7"),
                      r.out);
}

// A change adds no number and does not rebuild the registry, but checks against every
// number known since the last add.
TEST(Change, NumbersAreCheckedAgainstTheRegistryOfTheLastAdd) {
    Folder folder;
    School a = school("A", 1, 5), b = school("B", 2, 5), c = school("C", 3, 5),
           d = school("D", 4, 5);
    folder.write("in.dat", file({a, b, c, d}));
    std::string input =
        loadInput('2', "in.dat") + "3A\n" + retyping(school("A", 9, 0)) + " " + "3B\n" +
        retyping(school("B", 9, 0)) + " " + "3C\nC\nDir C\n100\n4\n5\n5\n " +
        "112yes\nE\nDir E\n4\n5\n100\n5\nyes\nF\nDir F\n0\n100\n5\nno\n " + kListInput + "7";
    SessionResult r = runSession(folder, input);
    School c5 = school("C", 5, 5), e5 = school("E", 5, 5), f0 = {"F", "Dir F", 0, 100, 5};
    EXPECT_TRANSCRIPT(loadScreen('2') + mainMenu("3") + kLookFor + reentered() + kDeleted + kPause +
                          mainMenu("3") + kLookFor + reentered() + kDeleted + kPause +
                          mainMenu("3") + kLookFor + reentered(1) + kChanged + kPause +
                          mainMenu("1") + addMenus("1", "2") + typedSchool(3, 1) + typedSchool(4) +
                          kNoMore + kKept + kPause + listing({d, c5, e5, f0}) + mainMenu("7"),
                      r.out);
}

TEST(WholeSession, AddsChangesListsFiltersWritesAndFrees) {
    Folder folder;
    School a = school("A", 1, 30, 500), b = school("B", 2, 10, 200), c = school("C", 3, 20, 900);
    School b2 = school("B", 7, 40, 250);
    folder.write("in.dat", file({a, b}));
    std::string input = loadInput('1', "in.dat") + "112" + typing(c) + "no\n " + "3B\n" +
                        retyping(b2) + " 4 5300\n " + writeInput("out.dat") + "6 4 7";
    SessionResult r = runSession(folder, input);
    EXPECT_TRANSCRIPT(loadScreen('1') + mainMenu("1") + addMenus("1", "2") + typedSchool(3) +
                          kNoMore + kKept + kPause + mainMenu("3") + kLookFor + reentered() +
                          kChanged + kPause + mainMenu("4") + block(1, b2) + block(2, a) +
                          block(3, c) + kPause + mainMenu("5") + kAreaPrompt + block(2, a) +
                          block(3, c) + kPause + writeScreen() + mainMenu("6") +
                          "\nMemory is empty!" + kPause + mainMenu("4") + kTooFew +
                          "\nSchool list is empty!\n" + kPause + mainMenu("7"),
                      r.out);
    EXPECT_EQ(file({b2, a, c}), folder.read("out.dat"));
    EXPECT_EQ(0, r.status);
}

}  // namespace
