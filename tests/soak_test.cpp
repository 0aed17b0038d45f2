// Random whole sessions: menu keys and stray keys, both submenus, replies, names
// with duplicates, Cyrillic and overlong texts, numbers with duplicates, extreme,
// malformed and out-of-range values, area thresholds, writes and loads among a few
// file names, frees, and an end through item 7 or through the end of the input.
// Every session must end with status 0 and nothing on standard error but the file
// errors; every file it leaves must hold whole records, be what the sorted listing
// just before its write showed, and load back to that listing.
//
// SCHOOLS_SOAK_SESSIONS sets how many sessions run (300 in the sanitizer build);
// SCHOOLS_SOAK_SEED=N replays the one session of seed N.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>

#include "console.h"
#include "session.h"

using namespace screen;

namespace {

const char* const kNames[] = {
    "Alpha",
    "Beta",
    "Alpha",
    "",
    " padded ",
    "Училище",
    "СОУ Христо Ботев",
    "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn",
    "ЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯ",
    "tab\there",
    "Gamma\r",
};
// Numbers that a read takes whole, and single lines that it cannot take.
const char* const kNumbers[] = {"0",   "1",    "-1",  "7",   "30",         "+5",         "-0",
                                "007", "5000", "-40", "100", "2147483647", "-2147483648"};
const char* const kMalformed[] = {"abc", "2147483648", "-2147483649", "99999999999", "-", "x5"};
const char* const kReplies[] = {"no", "", "Yes", "y", "yes ", " yes", "yesyes"};
const char* const kLoadNames[] = {"a.dat", "b.dat", "c.dat",    "missing.dat",
                                  "dir",   "pipe",  "/dev/null"};
const char* const kWriteNames[] = {"a.dat",          "b.dat", "c.dat",    "dir",
                                   "nofolder/x.dat", "pipe",  "/dev/full"};
// Keys that no menu takes.
const char kStray[] = "a09\n\r xZ\x1b\x7f\xb1\xff-";

// How many schools of each stored name a list may hold at most.
using Counts = std::map<std::string, int>;

struct Generator {
    std::mt19937 rng;
    bool utf8 = false;
    std::string in;
    Counts list;
    std::map<std::string, Counts> files;
    int fresh = 0;

    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) {
        return items[rng() % N];
    }
    bool chance(int percent) { return static_cast<int>(rng() % 100) < percent; }
    char stray() { return kStray[rng() % (sizeof kStray - 1)]; }
    std::string strays(int most) {
        std::string keys;
        for (int n = static_cast<int>(rng() % (most + 1)); n > 0; --n)
            keys += stray();
        return keys;
    }
    // The text a name is stored as, which the change command compares.
    std::string stored(const std::string& typed) const {
        std::string text = utf8 ? utf8ToCp1251(typed) : typed;
        text = text.substr(0, 49);
        return text.substr(0, text.find('\0'));
    }
    std::string name() {
        std::string text = pick(kNames);
        if (chance(5))
            text += std::string("\0nul", 4);
        return text;
    }
    std::string number() { return pick(kNumbers); }
    std::string freshNumber() { return std::to_string(1000000 + ++fresh); }
    // A number of the digits 0 and 9 alone: read as keys, no menu takes it.
    std::string harmlessNumber() {
        std::string digits = "99";
        for (int bits = ++fresh; bits > 0; bits /= 2)
            digits += bits % 2 ? '9' : '0';
        return digits;
    }
    void pause() { in += stray(); }

    // One school typed at the keyboard. Each form takes the same lines whether or
    // not a number is refused, so the script stays in step with the program.
    void typedSchool() {
        in += "yes\n" + name() + "\n" + name() + "\n";
        std::string typed = in.substr(in.rfind("yes\n") + 4);
        list[stored(typed.substr(0, typed.find('\n')))]++;
        switch (rng() % 5) {
            case 0:  // a number that may be known, then a fresh one
                in += number() + "\n" + freshNumber() + "\n" + number() + " " + number() + "\n";
                break;
            case 1:  // letters after the number: area and students keep their values
                in += freshNumber() + "abc\n";
                break;
            case 2:  // area as letters: students too
                in += freshNumber() + "\n" + pick(kMalformed) + "\n";
                break;
            default:
                in += freshNumber() + "\n" + number() + (chance(50) ? " " : "\n") + number() + "\n";
        }
    }

    void keyboardAdd() {
        char place = chance(50) ? '1' : '2';
        in += "1" + strays(2) + "1" + strays(2) + place;
        if (place == '1')
            list.clear();
        for (int n = static_cast<int>(rng() % (chance(10) ? 14 : 5)); n > 0; --n)
            typedSchool();
        in += std::string(pick(kReplies)) + "\n";
        pause();
    }

    void load() {
        char place = chance(50) ? '1' : '2';
        std::string file = pick(kLoadNames);
        in += "1" + strays(1) + "2" + strays(1) + place + file + "\n";
        auto known = files.find(file);
        if (known != files.end()) {
            for (const auto& [name, count] : known->second)
                list[name] = place == '1' ? std::max(list[name], count) : list[name] + count;
        }
        pause();
    }

    // The sorted listing, then the write: a file must hold what the listing showed.
    void write() {
        in += "4";
        pause();
        std::string file = pick(kWriteNames);
        in += "2" + file + "\n";  // with an empty list no name is asked: its keys do nothing
        for (const auto& [name, count] : list)
            files[file][name] = std::max(files[file][name], count);
        pause();
    }

    // The change command, with one re-entry for each school that may bear the name.
    // Re-entries left over are read as keys, which no menu takes.
    void change() {
        std::string wanted = name();
        int most = list[stored(wanted)];
        if (most > 30)
            return;
        in += "3" + wanted + "\n";
        for (int i = 0; i < most; ++i) {
            std::string renamed = chance(50) ? wanted : pick(kNames);
            if (renamed.find_first_of("12345678") != std::string::npos)
                renamed = "Beta";
            list[stored(renamed)]++;
            const char* students[] = {"99", "0", "-9", "abc"};
            in += renamed + "\nDirector\n" + (chance(20) ? "abc" : "909") + "\n" +
                  harmlessNumber() + "\n" + pick(students) + "\n";
        }
        pause();
    }

    void areaReport() {
        std::string line = chance(60)   ? number()
                           : chance(50) ? number() + " " + number()
                                        : std::string(pick(kMalformed));
        in += "5" + line + "\n";
        pause();
        std::int32_t threshold = 0;
        if (parseNumber(line.data(), line.size(), &threshold) != line.size()) {
            in += "3nobody\n";  // a discard, so that no later read meets the rest
            pause();
        }
    }

    std::string session(int steps) {
        for (int i = 0; i < steps; ++i) {
            switch (rng() % 12) {
                case 0:
                case 1:
                case 2:
                    keyboardAdd();
                    break;
                case 3:
                case 4:
                    load();
                    break;
                case 5:
                case 6:
                    write();
                    break;
                case 7:
                    change();
                    break;
                case 8:
                    areaReport();
                    break;
                case 9:
                    in += "6";
                    list.clear();
                    pause();
                    break;
                case 10:
                    in += "8";
                    break;
                default:
                    in += strays(4);
            }
        }
        return in;
    }
};

std::int32_t field(const std::string& bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits << 8 | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(bits);
}

// The schools of a file as a listing shows them.
std::vector<School> schoolsOf(const std::string& bytes, bool utf8) {
    std::vector<School> schools;
    auto text = [&](std::size_t at) {
        std::size_t length = strnlen(bytes.data() + at, 50);
        std::string shown;
        if (utf8)
            cp1251ToUtf8(bytes.data() + at, length, &shown);
        else
            shown.assign(bytes, at, length);
        return shown;
    };
    for (std::size_t at = 0; at + 112 <= bytes.size(); at += 112)
        schools.push_back({text(at), text(at + 50), field(bytes, at + 100), field(bytes, at + 104),
                           field(bytes, at + 108)});
    return schools;
}

std::string blocks(const std::vector<School>& schools) {
    std::string out;
    for (std::size_t i = 0; i < schools.size(); ++i)
        out += block(static_cast<int>(i + 1), schools[i]);
    return out;
}

bool onlyFileErrors(const std::string& err) {
    std::size_t at = 0;
    while (at < err.size()) {
        std::size_t end = err.find('\n', at);
        std::string line = err.substr(at, end == std::string::npos ? end : end - at);
        if (line.rfind("Write error :: ", 0) != 0 && line.rfind("Read error :: ", 0) != 0)
            return false;
        at = end == std::string::npos ? err.size() : end + 1;
    }
    return true;
}

int filesChecked = 0, sessionsCut = 0;

// Runs the session of one seed; returns what is wrong with it, empty when nothing.
std::string soak(std::uint32_t seed, std::string* typed) {
    Generator g;
    g.rng.seed(seed);
    g.utf8 = seed % 4 == 0;
    std::string input = g.session(10 + static_cast<int>(g.rng() % 40));
    bool cut = g.chance(30);
    input = cut ? input.substr(0, g.rng() % (input.size() + 1)) : input + "7";
    *typed = input;
    sessionsCut += cut;
    RunOptions options;
    if (g.utf8)
        options.env = {"LC_ALL=C.UTF-8"};

    Folder folder;
    mkdir(folder.path("dir").c_str(), 0755);
    mkfifo(folder.path("pipe").c_str(), 0644);
    SessionResult r = runSession(folder, input, options);
    if (r.timedOut)
        return "the session did not end";
    if (r.status != 0)
        return "exit status " + std::to_string(r.status) + "\n" + r.err;
    if (!onlyFileErrors(r.err))
        return "standard error:\n" + r.err;
    if (r.out.empty() || r.out.back() != '\n')
        return "the output does not end with a line end";

    for (const std::string& name : folder.names()) {
        if (name == "dir" || name == "pipe")
            continue;
        // A last line without its line end is still a line: a name may be cut short.
        bool named = g.files.find(name) != g.files.end();
        for (const char* full : kWriteNames)
            named = named || (cut && std::string(full).rfind(name, 0) == 0);
        if (!named)
            return "an unexpected file: " + name;
        std::string bytes = folder.read(name);
        if (bytes.empty() || bytes.size() % 112 != 0)
            return name + " holds " + std::to_string(bytes.size()) + " bytes";
        std::vector<School> schools = schoolsOf(bytes, g.utf8);
        std::string written =
            "rejims:4\n" +
            std::string(schools.size() < 2 ? "\nNedostatuchno elementi za sortirane!\n" : "") +
            blocks(schools) + kPause + mainMenu("2") +
            "Enter name for the file for the schools list:\n";
        if (r.out.find(written) == std::string::npos)
            return name + " is not the list that was written";

        // Loaded into a new list, it lists the same and is written back the same.
        Folder again;
        again.write("in.dat", bytes);
        SessionResult back = runSession(
            again, loadInput('1', "in.dat") + "5-2147483648\n " + writeInput("out.dat") + "7",
            options);
        std::string shown;
        for (std::size_t i = 0; i < schools.size(); ++i) {
            if (schools[i].area > INT32_MIN)
                shown += block(static_cast<int>(i + 1), schools[i]);
        }
        std::string expected = loadScreen('1') + mainMenu("5") +
                               "\nAbove what area taking schools to show?:\n" +
                               (shown.empty() ? "\nNo schools with bigger area!" : shown) + kPause +
                               writeScreen() + mainMenu("7");
        if (back.out != expected)
            return name + " does not load back to its listing\n" +
                   describeDifference(expected, back.out);
        if (again.read("out.dat") != bytes)
            return name + " is not written back as it was";
        ++filesChecked;
    }
    return "";
}

TEST(Soak, RandomSessionsEndWellAndLeaveWholeFiles) {
    const char* replay = std::getenv("SCHOOLS_SOAK_SEED");
    const char* count = std::getenv("SCHOOLS_SOAK_SESSIONS");
    std::uint32_t first = replay && *replay
                              ? static_cast<std::uint32_t>(std::strtoul(replay, nullptr, 10))
                              : std::random_device{}();
    int sessions = replay && *replay ? 1 : count && *count ? std::atoi(count) : SOAK_SESSIONS;
    int failed = 0;
    for (int i = 0; i < sessions && failed < 3; ++i) {
        std::uint32_t seed = first + static_cast<std::uint32_t>(i);
        std::string input;
        std::string fault = soak(seed, &input);
        if (!fault.empty()) {
            ++failed;
            std::string saved = "soak-" + std::to_string(seed) + ".in";
            std::ofstream(saved, std::ios::binary) << input;
            ADD_FAILURE() << "seed " << seed << " (replay with SCHOOLS_SOAK_SEED=" << seed
                          << "; its input is in " << saved << "): " << fault;
        }
    }
    std::printf("%d sessions from seed %u (%d cut short), %d files checked, %d failed\n", sessions,
                first, sessionsCut, filesChecked, failed);
}

}  // namespace
