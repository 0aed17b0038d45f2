// Runs the real program on a scripted standard input and builds the screens it is
// expected to print, so that end-to-end cases compare whole transcripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SessionResult {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = -1;  // exit status, or 128 + signal
    bool timedOut = false;
};

// A fresh temporary folder for one test; removed with everything in it at the end.
struct Folder {
    Folder();
    ~Folder();
    std::string path(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    std::vector<std::string> names() const;  // what the folder holds, sorted
    std::string dir;
};

struct RunOptions {
    std::vector<std::string> env;  // extra "NAME=value"; the locale is C unless set here
    int uid = -1;                  // run as this user (needs root)
    long fileSizeLimit = -1;       // bytes a file written may hold (RLIMIT_FSIZE)
};

// Runs the program in `folder` with `input` as its whole standard input. The
// program is SCHOOLS_PROGRAM (the native build by default), started through
// SCHOOLS_RUNNER when that is set. A Windows build's CR LF line ends come back as LF.
SessionResult runSession(const Folder& folder, const std::string& input,
                         const RunOptions& options = {});

// Whether SCHOOLS_PROGRAM is a Windows build (a .exe).
bool isWindowsBuild();
// Skips a case that needs what only the POSIX build has, saying what that is.
#define SKIP_UNLESS_POSIX(what)                           \
    do {                                                  \
        if (isWindowsBuild())                             \
            GTEST_SKIP() << "POSIX build only: " << what; \
    } while (0)

// Prints both transcripts with the first difference marked, for a failed comparison.
std::string describeDifference(const std::string& expected, const std::string& actual);

#define EXPECT_TRANSCRIPT(expected, actual) \
    EXPECT_TRUE((expected) == (actual)) << describeDifference((expected), (actual))

// ---- Screens the program prints --------------------------------------------

namespace screen {

extern const std::string kPause;  // the pause prompt and the line end after the key

// Each menu as drawn and answered with `key` ("" where the input ended instead).
std::string mainMenu(const std::string& key);
std::string sourceMenu(const std::string& key);  // keyboard or file
std::string placeMenu(const std::string& key);   // new list or existing list
std::string addMenus(const std::string& source, const std::string& place);

struct School {
    std::string name;
    std::string director;
    std::int32_t number;
    std::int32_t area;
    std::int32_t students;
};

// The block one school prints in a listing, with the line end after it.
std::string block(int position, const School& school);
// What keyboard entry of one school prints; `rejected` numbers typed first.
std::string typedSchool(int position, int rejected = 0);
// The lines a keyboard entry of one school is typed as.
std::string typing(const School& school);

extern const std::string kNoMore;  // the add question answered with anything but "yes"
extern const std::string kKept;    // the pruning verdict when no school had 0 students
extern const std::string kPruned;  // the pruning verdict when some were removed

// Command 5 with a threshold below every school: lists them all in list order.
extern const std::string kListInput;
std::string listing(const std::vector<School>& schools);

// Command 1 loading the school file `name` into a new ('1') or the existing ('2') list.
std::string loadInput(char place, const std::string& name);
std::string loadScreen(char place, const std::string& verdict = kKept);

// Command 2 writing the list to `name`; `after` is what follows the prompt.
std::string writeInput(const std::string& name);
std::string writeScreen(const std::string& after = "");

}  // namespace screen

// One 112-byte record as a school file stores it.
std::string record(const screen::School& school);
