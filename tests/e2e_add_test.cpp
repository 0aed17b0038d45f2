// Adding schools from the keyboard and from school files, and writing the list.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session.h"

using namespace screen;

namespace {

const School kA{"Alpha", "Ivanov", 1, 500, 30};
const School kB{"Beta", "Petrova", 2, 800, 20};
const School kC{"Gamma", "Georgiev", 3, 300, 10};

TEST(KeyboardAdd, NewListRejectsAKnownNumberAndTakesTwoNumbersOnALine) {
    Folder folder;
    std::string input =
        "111" + typing(kA) + "yes\nBeta\nPetrova\n1\n2\n800 20\n" + "no\n " + kListInput + "7";
    SessionResult r = runSession(folder, input);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + typedSchool(2, 1) +
                          kNoMore + kKept + kPause + listing({kA, kB}) + mainMenu("7"),
                      r.out);
    EXPECT_EQ(0, r.status);
}

TEST(KeyboardAdd, GrowsPastFiveAndTenAndAppendsToTheExistingList) {
    Folder folder;
    std::vector<School> schools;
    std::string input = "111", expected = mainMenu("1") + addMenus("1", "1");
    for (int i = 1; i <= 11; ++i) {
        schools.push_back({"S" + std::to_string(i), "D", i, i * 10, 100 - i});
        input += typing(schools.back());
        expected += typedSchool(i);
    }
    input += "no\n 112" + typing({"S12", "D", 12, 120, 88}) + "no\n " + kListInput + "7";
    schools.push_back({"S12", "D", 12, 120, 88});
    expected += kNoMore + kKept + kPause + mainMenu("1") + addMenus("1", "2") + typedSchool(12) +
                kNoMore + kKept + kPause + listing(schools) + mainMenu("7");
    SessionResult r = runSession(folder, input);
    EXPECT_TRANSCRIPT(expected, r.out);
}

TEST(KeyboardAdd, ExistingNumbersAreRefusedWhenAppendingAndFreeAgainInANewList) {
    Folder folder;
    std::string input = "111" + typing(kA) + "no\n " +
                        "112yes\nBeta\nPetrova\n1\n2\n800\n20\nno\n " + "111" + typing(kA) +
                        "no\n " + kListInput + "7";
    SessionResult r = runSession(folder, input);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept +
                          kPause + mainMenu("1") + addMenus("1", "2") + typedSchool(2, 1) +
                          kNoMore + kKept + kPause + mainMenu("1") + addMenus("1", "1") +
                          typedSchool(1) + kNoMore + kKept + kPause + listing({kA}) + mainMenu("7"),
                      r.out);
}

TEST(KeyboardAdd, LettersAfterANumberLeaveTheOtherNumbersAsTheyWere) {
    Folder folder;
    // The first school's area and students stay 0, so the pruning removes it; the
    // second keeps the first one's area and students.
    std::string input =
        "111yes\nA\nD\n7abc\nyes\nB\nD\n8\n90\n40\nyes\nC\nD\n9 x\nno\n " + kListInput + "7";
    SessionResult r = runSession(folder, input);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + typedSchool(2) +
                          typedSchool(3) + kNoMore +
                          "\nSchools that had no students were deleted!" + kPause +
                          listing({{"C", "D", 9, 90, 40}, {"B", "D", 8, 90, 40}}) + mainMenu("7"),
                      r.out);
}

TEST(KeyboardAdd, RepliesOtherThanYesAddNothing) {
    for (const char* reply : {"", "Yes", "y", "yes ", " yes", "yess"}) {
        Folder folder;
        SessionResult r = runSession(folder, "111" + std::string(reply) + "\n 4 7");
        EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + kNoMore + kKept + kPause +
                              mainMenu("4") +
                              "\nNedostatuchno elementi za sortirane!\n\nSchool list is empty!\n" +
                              kPause + mainMenu("7"),
                          r.out)
            << "reply '" << reply << "'";
    }
}

TEST(KeyboardAdd, LongTextsKeepTheirFirst49BytesAndCrLfLinesWork) {
    Folder folder;
    std::string longName(70, 'n');
    std::string input = "111yes\r\n" + longName + "\r\nDir\r\n5\r\n6\r\n7\r\nno\r\n 2out\r\n 7";
    SessionResult r = runSession(folder, input);
    EXPECT_EQ(record({longName.substr(0, 49), "Dir", 5, 6, 7}), folder.read("out"));
}

TEST(SchoolFile, WrittenListHoldsTheExactRecordsAndLoadsBack) {
    Folder folder;
    SessionResult r = runSession(
        folder, "111" + typing(kA) + typing(kB) + "no\n " + writeInput("list.dat") + "7");
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + typedSchool(2) +
                          kNoMore + kKept + kPause + writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(record(kA) + record(kB), folder.read("list.dat"));
    EXPECT_EQ(std::vector<std::string>{"list.dat"}, folder.names()) << "no temporary file stays";

    // Into a fresh session, then appended once more after the loaded schools.
    r = runSession(folder,
                   loadInput('1', "list.dat") + loadInput('2', "list.dat") + kListInput + "7");
    EXPECT_TRANSCRIPT(loadScreen('1') + loadScreen('2') + listing({kA, kB, kA, kB}) + mainMenu("7"),
                      r.out);
}

TEST(SchoolFile, PartialRecordsAndEmptyFilesAddNothing) {
    Folder folder;
    folder.write("partial.dat", record(kA) + record(kB) + record(kC).substr(0, 111));
    folder.write("empty.dat", "");
    SessionResult r = runSession(
        folder, loadInput('1', "partial.dat") + kListInput + loadInput('1', "empty.dat") + "4 7");
    EXPECT_TRANSCRIPT(loadScreen('1') + listing({kA, kB}) + loadScreen('1') + mainMenu("4") +
                          "\nNedostatuchno elementi za sortirane!\n\nSchool list is empty!\n" +
                          kPause + mainMenu("7"),
                      r.out);
}

TEST(SchoolFile, AFileThatCannotBeOpenedKeepsTheList) {
    Folder folder;
    folder.write("good.dat", record(kA));
    mkdir(folder.path("folder").c_str(), 0755);
    for (const std::string& name :
         std::vector<std::string>{"missing.dat", "folder", "", std::string("good.dat\0x", 10)}) {
        SessionResult r = runSession(
            folder, loadInput('1', "good.dat") + loadInput('1', name) + kListInput + "7");
        EXPECT_TRANSCRIPT(loadScreen('1') + loadScreen('1', "File could not be opened\n" + kKept) +
                              listing({kA}) + mainMenu("7"),
                          r.out)
            << "name '" << name << "'";
        EXPECT_EQ(0, r.status);
    }
}

TEST(SchoolFile, TextsWithoutNulArePrintedAsTheir50BytesAndWrittenBackUnchanged) {
    Folder folder;
    std::string raw = record(kA);
    for (int i = 0; i < 100; ++i)
        raw[i] = static_cast<char>('a' + i % 26);
    folder.write("raw.dat", raw);
    SessionResult r =
        runSession(folder, loadInput('1', "raw.dat") + kListInput + writeInput("copy.dat") + "7");
    EXPECT_TRANSCRIPT(loadScreen('1') +
                          listing({{raw.substr(0, 50), raw.substr(50, 50), 1, 500, 30}}) +
                          writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(raw, folder.read("copy.dat"));
}

TEST(SchoolFile, AFullListTakesNoMore) {
    Folder folder;
    std::string many;
    for (int i = 0; i < 20480; ++i)
        many += record({"S", "D", i, i, 1});
    folder.write("exact.dat", many + record(kA).substr(0, 50));
    folder.write("over.dat", many + record(kA));
    const std::string size = std::to_string(20480 * 112);
    SessionResult r =
        runSession(folder, loadInput('1', "exact.dat") + loadInput('2', "exact.dat") + "112yes\n " +
                               writeInput("out.dat") + loadInput('1', "over.dat") + "7");
    const std::string kFull = "\nSchool list is full!";
    EXPECT_TRANSCRIPT(loadScreen('1') + loadScreen('2', kFull + kKept) + mainMenu("1") +
                          addMenus("1", "2") + kNoMore + kFull + kKept + kPause + writeScreen() +
                          loadScreen('1', kFull + kKept) + mainMenu("7"),
                      r.out);
    EXPECT_EQ(many, folder.read("out.dat"));
}

TEST(SchoolFile, WriteErrorsAreReportedAndTheProgramGoesOn) {
    Folder folder;
    mkdir(folder.path("folder").c_str(), 0755);
    std::string typed = "111" + typing(kA) + "no\n ";
    std::string expected =
        mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept + kPause;
    // Windows has no full device: there only the files that can't be opened are tried.
    const bool full = !isWindowsBuild();
    if (full) {
        typed += writeInput("/dev/full");
        expected += writeScreen();
    }

    SessionResult r =
        runSession(folder, typed + writeInput("folder") + writeInput("nowhere/list.dat") +
                               writeInput("ok.dat") + "7");
    EXPECT_TRANSCRIPT(expected + writeScreen("Problem opening the file\n") +
                          writeScreen("Problem opening the file\n") + writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(full ? "Write error :: No space left on device\n" : "", r.err);
    EXPECT_EQ(record(kA), folder.read("ok.dat"));
    EXPECT_EQ((std::vector<std::string>{"folder", "ok.dat"}), folder.names());
}

TEST(SchoolFile, AFailedWriteLeavesTheOldFileAsItWas) {
    SKIP_UNLESS_POSIX("RLIMIT_FSIZE and permission bits");
    Folder folder;
    std::string old = record(kC);
    folder.write("list.dat", old);
    chmod(folder.path("list.dat").c_str(), 0640);
    std::string typed = "111" + typing(kA) + typing(kB) + "no\n ";
    RunOptions tiny;
    tiny.fileSizeLimit = 150;  // room for one record, not two
    SessionResult r = runSession(folder, typed + writeInput("list.dat") + "7", tiny);
    EXPECT_EQ("Write error :: File too large\n", r.err);
    EXPECT_EQ(old, folder.read("list.dat"));
    EXPECT_EQ(std::vector<std::string>{"list.dat"}, folder.names());

    r = runSession(folder, typed + writeInput("list.dat") + "7");
    EXPECT_EQ(record(kA) + record(kB), folder.read("list.dat"));
    struct stat info;
    stat(folder.path("list.dat").c_str(), &info);
    EXPECT_EQ(0640u, info.st_mode & 07777) << "a replaced file keeps its permissions";
}

TEST(SchoolFile, WritingOverAnExistingFileReplacesIt) {
    Folder folder;
    folder.write("list.dat", record(kC) + record(kC) + record(kC));
    std::string typed = "111" + typing(kA) + typing(kB) + "no\n ";
    SessionResult r = runSession(
        folder, typed + writeInput("list.dat") + loadInput('1', "list.dat") + kListInput + "7");
    EXPECT_EQ("", r.err);
    EXPECT_EQ(record(kA) + record(kB), folder.read("list.dat"));
    EXPECT_EQ(std::vector<std::string>{"list.dat"}, folder.names()) << "no temporary is left";
    EXPECT_NE(std::string::npos, r.out.find(listing({kA, kB})));
}

TEST(SchoolFile, WritingThroughALinkKeepsTheLink) {
    SKIP_UNLESS_POSIX("symbolic links");
    Folder folder;
    folder.write("real.dat", record(kC));
    symlink("real.dat", folder.path("link.dat").c_str());
    runSession(folder, "111" + typing(kA) + "no\n " + writeInput("link.dat") + "7");
    EXPECT_EQ(record(kA), folder.read("real.dat"));
    struct stat info;
    lstat(folder.path("link.dat").c_str(), &info);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(SchoolFile, AReadOnlyFileLoads) {
    Folder folder;
    folder.write("ro.dat", record(kA));
    chmod(folder.path("ro.dat").c_str(), 0444);
    RunOptions options;
    // Under wine the file shows as read-only whoever runs it, and wine can't change users.
    if (geteuid() == 0 && !isWindowsBuild()) {
        // root may write any file; only an ordinary user shows that reading is enough
        passwd* nobody = getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "no unprivileged user to run as";
        options.uid = static_cast<int>(nobody->pw_uid);
        chmod(folder.dir.c_str(), 0755);
    }
    SessionResult r = runSession(folder, loadInput('1', "ro.dat") + kListInput + "7", options);
    EXPECT_TRANSCRIPT(loadScreen('1') + listing({kA}) + mainMenu("7"), r.out);
}

TEST(CodePage, Utf8TextsAreStoredAsCodePage1251AndShownAsUtf8) {
    SKIP_UNLESS_POSIX("UTF-8 locales");
    Folder folder;
    const School typed{"Училище №1", "Иванов", 4, 10, 20};
    RunOptions utf8;
    utf8.env = {"LC_ALL=C.UTF-8"};
    SessionResult r = runSession(
        folder, "111" + typing(typed) + "no\n " + kListInput + writeInput("cyr.dat") + "7", utf8);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept +
                          kPause + listing({typed}) + writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(
        record({"\xD3\xF7\xE8\xEB\xE8\xF9\xE5 \xB9\x31", "\xC8\xE2\xE0\xED\xEE\xE2", 4, 10, 20}),
        folder.read("cyr.dat"));

    // In any other locale the bytes pass through as they are.
    r = runSession(folder, loadInput('1', "cyr.dat") + kListInput + "7");
    EXPECT_NE(std::string::npos,
              r.out.find("School name :\xD3\xF7\xE8\xEB\xE8\xF9\xE5 \xB9\x31\n"));
}

// What a Windows console in code page 1251 delivers, and a POSIX terminal outside UTF-8.
TEST(CodePage, TextsTypedInCodePage1251AreStoredAndShownAsTyped) {
    Folder folder;
    const School typed{"\xD3\xF7\xE8\xEB\xE8\xF9\xE5 \xB9\x31", "\xC8\xE2\xE0\xED\xEE\xE2", 4, 10,
                       20};
    SessionResult r = runSession(
        folder, "111" + typing(typed) + "no\n " + kListInput + writeInput("cyr.dat") + "7");
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept +
                          kPause + listing({typed}) + writeScreen() + mainMenu("7"),
                      r.out);
    EXPECT_EQ(record(typed), folder.read("cyr.dat"));
}

}  // namespace
