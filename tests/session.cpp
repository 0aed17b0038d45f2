#include "session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const char* programPath() {
    const char* fromEnv = std::getenv("SCHOOLS_PROGRAM");
    return fromEnv && *fromEnv ? fromEnv : SCHOOLS_BINARY;
}

// What starts the program, e.g. wine for the Windows build; none when empty.
const char* runnerPath() {
    const char* fromEnv = std::getenv("SCHOOLS_RUNNER");
    return fromEnv && *fromEnv ? fromEnv : nullptr;
}

void crLfToLf(std::string* text) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < text->size(); ++i) {
        if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n'))
            (*text)[kept++] = (*text)[i];
    }
    text->resize(kept);
}

std::string visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') {
            out += "\\n\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

// With SCHOOLS_SEED_DIR set, every session is also saved there as a seed for the
// session fuzzer: the length of a school file (two bytes, little-endian), the file,
// then the typed input with the file's name replaced by "f", the name it has there.
void saveSeed(const Folder& folder, const std::string& input) {
    const char* dir = std::getenv("SCHOOLS_SEED_DIR");
    if (!dir || !*dir)
        return;
    std::string file, typed = input;
    for (const std::string& name : folder.names()) {
        struct stat info;
        if (stat(folder.path(name).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_size > 0xFFFF)
            continue;
        file = folder.read(name);
        for (std::size_t at = 0; (at = typed.find(name + "\n", at)) != std::string::npos;)
            typed.replace(at, name.size(), "f");
        break;
    }
    static int count = 0;
    std::string seed = {static_cast<char>(file.size() & 0xFF), static_cast<char>(file.size() >> 8)};
    std::ofstream(std::string(dir) + "/" + std::to_string(getpid()) + "-" + std::to_string(++count),
                  std::ios::binary)
        << seed << file << typed;
}

}  // namespace

Folder::Folder() {
    char pattern[] = "/tmp/schools-test-XXXXXX";
    dir = mkdtemp(pattern);
}

Folder::~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

void Folder::write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
}

std::string Folder::read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool Folder::exists(const std::string& name) const {
    return access(path(name).c_str(), F_OK) == 0;
}

std::vector<std::string> Folder::names() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
}

namespace {

SessionResult runOnce(const Folder& folder, const std::string& input, const RunOptions& options) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        return {};
    pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        if (chdir(folder.dir.c_str()) != 0)
            _exit(126);
        unsetenv("LANG");
        unsetenv("LC_CTYPE");
        setenv("LC_ALL", "C", 1);
        for (const std::string& setting : options.env)
            putenv(strdup(setting.c_str()));
        if (options.fileSizeLimit >= 0) {
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.uid >= 0 && (setgid(static_cast<gid_t>(options.uid)) != 0 ||
                                 setuid(static_cast<uid_t>(options.uid)) != 0)) {
            _exit(125);
        }
        const char* program = programPath();
        if (const char* runner = runnerPath())
            execl(runner, runner, program, static_cast<char*>(nullptr));
        else
            execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);

    SessionResult result;
    std::size_t written = 0;
    int toChild = in[1];
    if (input.empty()) {
        close(toChild);
        toChild = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int open = 2;
    while (open > 0) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {toChild, POLLOUT, 0}};
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        poll(fds, toChild >= 0 ? 3 : 2, left);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                char chunk[65536];
                ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                if (n > 0) {
                    (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
                } else {
                    fds[i].fd = -1;
                    --open;
                    if (i == 0)
                        out[0] = -1;
                    else
                        err[0] = -1;
                }
            }
        }
        if (toChild >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = ::write(toChild, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN)
                written = input.size();
            if (written == input.size()) {
                close(toChild);
                toChild = -1;
            }
        }
        if (out[0] < 0 && err[0] < 0)
            break;
    }
    for (int fd : {toChild, out[0], err[0]}) {
        if (fd >= 0)
            close(fd);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (isWindowsBuild()) {
        crLfToLf(&result.out);
        crLfToLf(&result.err);
    }
    return result;
}

}  // namespace

SessionResult runSession(const Folder& folder, const std::string& input,
                         const RunOptions& options) {
    saveSeed(folder, input);
    SessionResult result = runOnce(folder, input, options);
    // The program always shows a menu first, so a failure without a byte of output
    // is the runner (wine) failing to start it, now and then: start it again.
    for (int retry = 0; runnerPath() && retry < 2 && result.out.empty() && result.status != 0;
         ++retry)
        result = runOnce(folder, input, options);
    return result;
}

bool isWindowsBuild() {
    std::string program = programPath();
    return program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

std::string describeDifference(const std::string& expected, const std::string& actual) {
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    std::size_t from = at > 200 ? at - 200 : 0;
    return "first difference at byte " + std::to_string(at) + "\n--- expected (from byte " +
           std::to_string(from) + ")\n" + visible(expected.substr(from, 400)) + "\n--- actual\n" +
           visible(actual.substr(from, 400)) + "\n";
}

namespace screen {

const std::string kPause = "Press any key to continue . . . \n";

namespace {
std::string drawn(const std::vector<std::string>& table, const std::string& key) {
    std::string out = "\n" + table[0] + "\n";
    for (std::size_t k = 1; k < table.size(); ++k) {
        out += "\n" + std::to_string(k) + "." + table[k];
    }
    return out + "\n\nIzberete rejims:" + key + "\n";
}
}  // namespace

std::string mainMenu(const std::string& key) {
    return drawn({"Program <School>\n--------------------------",
                  "Izbor na vhod za dobavyane na novo uchilishte", "Zapis v dvoichen fail",
                  "Promqna na dannite za izbrano uchilishte(pri 0 uchenici uchilishteto se "
                  "iztriva)",
                  "Pokazvane na danni za vsichki uchilishta podredeni v red po namalqvane na "
                  "uchenicite",
                  "Pokazvane na danni za vsichki uchilishta s plosht po golqma ot izbranata ot "
                  "potrebitelq",
                  "Osvobojdavane na pametta", "Krai"},
                 key);
}

std::string sourceMenu(const std::string& key) {
    return drawn({"---VHOD---", "Ot klaviaturata", "Ot fail sus uchilishta"}, key);
}

std::string placeMenu(const std::string& key) {
    return drawn({"IZBOR NA MQSTO ZA DOBAVQNE", "Nov nov spisuk s uchilishta",
                  "Kam sashtestvuvashtiya spisuk s uchilishta"},
                 key);
}

std::string addMenus(const std::string& source, const std::string& place) {
    return sourceMenu(source) + placeMenu(place);
}

std::string block(int position, const School& s) {
    return "\nSchool number in list: " + std::to_string(position) + "\nSchool name :" + s.name +
           "\nSchool number :" + std::to_string(s.number) + "\nName of director:" + s.director +
           "\nSchool area:" + std::to_string(s.area) +
           "\nNumber of students:" + std::to_string(s.students) + "\n";
}

std::string typedSchool(int position, int rejected) {
    std::string out = "Will you enter data for another school? - (yes/no)\nSCHOOL  NUMBER " +
                      std::to_string(position) +
                      ": \nEnter name of School:\nEnter name of director:";
    for (int i = 0; i < rejected; ++i) {
        out += "\nEnter School number:\nSchool number already exists!\n";
    }
    return out +
           "\nEnter School number:\nEnter School Area(meter*meter):\nEnter number of students:";
}

std::string typing(const School& s) {
    return "yes\n" + s.name + "\n" + s.director + "\n" + std::to_string(s.number) + "\n" +
           std::to_string(s.area) + "\n" + std::to_string(s.students) + "\n";
}

const std::string kNoMore = "Will you enter data for another school? - (yes/no)";
const std::string kKept = "\nAll schools have students!";
const std::string kPruned = "\nSchools that had no students were deleted!";

const std::string kListInput = "5-1000\n ";
std::string listing(const std::vector<School>& schools) {
    std::string out = mainMenu("5") + "\nAbove what area taking schools to show?:\n";
    for (std::size_t i = 0; i < schools.size(); ++i)
        out += block(static_cast<int>(i + 1), schools[i]);
    return out + kPause;
}

std::string loadInput(char place, const std::string& name) {
    return std::string("12") + place + name + "\n ";
}
std::string loadScreen(char place, const std::string& verdict) {
    return mainMenu("1") + addMenus("2", std::string(1, place)) +
           "Enter schools input file name:\n" + verdict + kPause;
}

std::string writeInput(const std::string& name) {
    return "2" + name + "\n ";
}
std::string writeScreen(const std::string& after) {
    return mainMenu("2") + "Enter name for the file for the schools list:\n" + after + kPause;
}

}  // namespace screen

std::string record(const screen::School& school) {
    std::string bytes(112, '\0');
    school.name.copy(&bytes[0], std::min<std::size_t>(school.name.size(), 50));
    school.director.copy(&bytes[50], std::min<std::size_t>(school.director.size(), 50));
    auto put = [&bytes](std::size_t at, std::int32_t value) {
        std::uint32_t bits = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    };
    put(100, school.number);
    put(104, school.area);
    put(108, school.students);
    return bytes;
}
