// Faults from outside: folders that cannot be written, school files of every shape,
// huge lines and NUL bytes at every prompt, and the input ending at every prompt.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "session.h"

using namespace screen;

namespace {

const School kA{"Alpha", "Ivanov", 1, 500, 30};
const School kB{"Beta", "Petrova", 2, 800, 20};

TEST(WriteFault, AFolderThatCannotBeWrittenKeepsTheListAndALaterWriteWorks) {
    SKIP_UNLESS_POSIX("permission bits and another user");
    passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root to run as an unprivileged user";
    Folder folder;
    mkdir(folder.path("locked").c_str(), 0555);
    chmod(folder.dir.c_str(), 0777);
    RunOptions options;
    options.uid = static_cast<int>(nobody->pw_uid);
    SessionResult r = runSession(folder,
                                 "111" + typing(kA) + "no\n " + writeInput("locked/list.dat") +
                                     writeInput("ok.dat") + kListInput + "7",
                                 options);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept +
                          kPause + writeScreen("Problem opening the file\n") + writeScreen() +
                          listing({kA}) + mainMenu("7"),
                      r.out);
    EXPECT_EQ(record(kA), folder.read("ok.dat"));
    EXPECT_EQ((std::vector<std::string>{"locked", "ok.dat"}), folder.names());
}

// A named pipe with nobody at its other end is neither waited for nor kept open.
TEST(PipeFault, LoadingAndWritingAPipeWithoutAPartnerGoOn) {
    SKIP_UNLESS_POSIX("named pipes");
    Folder folder;
    mkfifo(folder.path("pipe").c_str(), 0644);
    SessionResult r = runSession(folder, "111" + typing(kA) + "no\n " + loadInput('2', "pipe") +
                                             writeInput("pipe") + kListInput + "7");
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRANSCRIPT(mainMenu("1") + addMenus("1", "1") + typedSchool(1) + kNoMore + kKept +
                          kPause + loadScreen('2') + writeScreen("Problem opening the file\n") +
                          listing({kA}) + mainMenu("7"),
                      r.out);
}

// Cut records are not schools; numbers at both ends of their range are kept as
// they are, sorted by their value and written back unchanged.
TEST(LoadFault, CutRecordsAndExtremeNumbers) {
    Folder folder;
    const School low{"Low", "Min", INT_MIN, INT_MAX, INT_MIN};
    const School high{"High", "Max", INT_MAX, INT_MIN, INT_MAX};
    for (std::size_t cut : {1, 56, 111}) {
        folder.write("in.dat", record(low) + record(high) + record(kA).substr(0, cut));
        SessionResult r = runSession(
            folder, loadInput('1', "in.dat") + "4 5-2147483648\n " + writeInput("out.dat") + "7");
        EXPECT_TRANSCRIPT(loadScreen('1') + mainMenu("4") + block(1, high) + block(2, low) +
                              kPause + mainMenu("5") +
                              "\nAbove what area taking schools to show?:\n" + block(2, low) +
                              kPause + writeScreen() + mainMenu("7"),
                          r.out)
            << cut << " bytes left over";
        EXPECT_EQ(record(high) + record(low), folder.read("out.dat"));
    }
}

// ---- Every prompt: a 1 MiB line, NUL bytes, and the end of the input ---------------

struct Prompt {
    const char* label;
    std::string before;  // the input that leads to the prompt
    std::string prompt;  // the last text printed before the wait
    std::string after;   // what ends the session well, however the line was taken
};

void PrintTo(const Prompt& p, std::ostream* os) {
    *os << p.label;
}

class EveryPrompt : public testing::TestWithParam<Prompt> {};

SessionResult runAt(const Prompt& p, const std::string& line) {
    Folder folder;
    folder.write("in.dat", record(kA) + record(kB));
    return runSession(folder, p.before + line + p.after);
}

TEST_P(EveryPrompt, TakesAHugeLine) {
    SessionResult r = runAt(GetParam(), std::string(1 << 20, 'x') + "\n");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_TRUE(
        r.out.size() >= mainMenu("7").size() &&
        r.out.compare(r.out.size() - mainMenu("7").size(), std::string::npos, mainMenu("7")) == 0)
        << describeDifference(mainMenu("7"), r.out.substr(r.out.size() - mainMenu("7").size()));
}

TEST_P(EveryPrompt, TakesNulBytes) {
    SessionResult r = runAt(GetParam(), std::string("\0x\0", 3) + "\n");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(mainMenu("7"),
              r.out.substr(r.out.size() - std::min(r.out.size(), mainMenu("7").size())));
}

TEST_P(EveryPrompt, EndsWithOneLineEndWhenTheInputEnds) {
    const Prompt& p = GetParam();
    Folder folder;
    folder.write("in.dat", record(kA) + record(kB));
    SessionResult r = runSession(folder, p.before);
    EXPECT_EQ(0, r.status);
    std::string ending = p.prompt + "\n";
    EXPECT_EQ(ending, r.out.substr(r.out.size() - std::min(r.out.size(), ending.size())));
}

const std::string kLoad = loadInput('1', "in.dat");
const std::string kSchool = "111yes\nN\nD\n";

INSTANTIATE_TEST_SUITE_P(
    Faults, EveryPrompt,
    testing::Values(
        Prompt{"MainMenu", "", "Izberete rejims:", "7"},
        Prompt{"Submenu", "1", "Izberete rejims:", "11no\n 7"},
        Prompt{"Pause", "6", kPause.substr(0, kPause.size() - 1), "7"},
        Prompt{"Reply", "111", kNoMore, " 7"},
        Prompt{"SchoolName", "111yes\n", "\nEnter name of School:", "D\n5\n6\n7\nno\n 7"},
        Prompt{"Director", "111yes\nN\n", "\nEnter name of director:", "5\n6\n7\nno\n 7"},
        Prompt{"SchoolNumber", kSchool, "\nEnter School number:", "no\n 7"},
        Prompt{"Area", kSchool + "5\n", "\nEnter School Area(meter*meter):", "no\n 7"},
        Prompt{"Students", kSchool + "5\n6\n", "\nEnter number of students:", "no\n 7"},
        Prompt{"WriteName", kLoad + "2", "Enter name for the file for the schools list:\n", " 7"},
        Prompt{"LoadName", "121", "Enter schools input file name:\n", " 7"},
        Prompt{"ChangeName", kLoad + "3", "Enter School name to look for :\n", " 7"},
        Prompt{"NewName", kLoad + "3Alpha\n", "\nName of new school:", "D\n100\n9\n5\n 7"},
        Prompt{"NewDirector", kLoad + "3Alpha\nN\n",
               "\nName of director of new school:", "100\n9\n5\n 7"},
        Prompt{"NewArea", kLoad + "3Alpha\nN\nD\n", "\nArea of new school:", "9\n5\n 7"},
        // Letters leave the known old number, which is refused and asked for again.
        Prompt{"NewNumber", kLoad + "3Alpha\nN\nD\n100\n", "\nNumber of new school:", "9\n5\n 7"},
        Prompt{"NewStudents", kLoad + "3Alpha\nN\nD\n100\n9\n",
               "\nNumber of students in the new school:", " 7"},
        Prompt{"AreaThreshold", "5", "\nAbove what area taking schools to show?:\n", " 7"}),
    [](const testing::TestParamInfo<Prompt>& p) { return std::string(p.param.label); });

}  // namespace
