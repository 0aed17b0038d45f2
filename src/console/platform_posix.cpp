// The console services on POSIX systems: a terminal in line mode but for the wait
// for one key, signals that give it back, input by read(2), and school files
// replaced with rename(2).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/platform.h"

namespace {

/* ==== Terminal modes and signals ========================================== */

// The terminal leaves canonical, echoing mode only for the wait for one key, and
// every way out (return, exit, a fatal signal) puts the saved settings back.
struct Terminal {
    termios saved{};
    termios raw{};
    bool present = false;
};
Terminal terminal;
volatile sig_atomic_t rawActive = 0;
volatile sig_atomic_t editorActive = 0;  // the line editor has the terminal in its mode

void enterRawMode() {
    if (terminal.present && !rawActive) {
        std::fflush(stdout);  // a broken pipe ends the program while the terminal is as found
        rawActive = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.raw);
    }
}

// The temporary file of a write in progress, removed if a signal ends the program.
char liveTemporary[PATH_MAX];
volatile sig_atomic_t temporaryLive = 0;

// Only async-signal-safe calls: put the terminal back, remove the temporary file,
// then die of the signal.
void onFatalSignal(int sig) {
    if (rawActive || editorActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    }
    if (temporaryLive) {
        unlink(liveTemporary);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Set when the program goes on after a stop; the next wait for input reports it.
volatile sig_atomic_t resumed = 0;

// Ctrl-Z: the shell gets its terminal back while we are stopped; the key wait or
// the line editor gets its mode back when we continue.
void onStopSignal(int sig) {
    int reason = errno;
    termios mode;
    bool changed = (rawActive || editorActive) && tcgetattr(STDIN_FILENO, &mode) == 0;
    if (changed) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    }
    signal(sig, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, sig);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(sig);
    signal(sig, onStopSignal);
    if (changed) {
        tcsetattr(STDIN_FILENO, TCSANOW, &mode);
    }
    resumed = 1;
    errno = reason;
}

// Whether the default action of the signal ends the process.
bool endsProcess(int sig) {
    for (int harmless : {SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU,
                         SIGKILL, SIGXFSZ}) {
        if (sig == harmless) {
            return false;
        }
    }
    return true;
}

void watchSignalsAndTerminal() {
    // A file-size limit then fails the write (EFBIG) instead of killing the session.
    signal(SIGXFSZ, SIG_IGN);
    // Signals the shell ignored stay ignored; sanitizers keep their own handlers.
    struct sigaction action {};
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction current {};
        if (endsProcess(sig) && sigaction(sig, nullptr, &current) == 0 &&
            current.sa_handler == SIG_DFL) {
            action.sa_handler = onFatalSignal;
            sigaction(sig, &action, nullptr);
        }
    }
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal.saved) != 0) {
        return;
    }
    terminal.present = true;
    terminal.raw = terminal.saved;
    // Signals (Ctrl-C) and output processing ("\n" as a line end) stay on.
    terminal.raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    terminal.raw.c_cc[VMIN] = 1;
    terminal.raw.c_cc[VTIME] = 0;
    std::atexit(restoreConsole);
    action.sa_handler = onStopSignal;
    sigaction(SIGTSTP, &action, nullptr);
}

// Holds back every signal while a temporary file is created or renamed, so that
// the handler always knows whether one exists.
void holdSignals(sigset_t* before) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, before);
}

void releaseSignals(const sigset_t* before) {
    sigprocmask(SIG_SETMASK, before, nullptr);
}

/* ==== Input =============================================================== */

int inputFd = STDIN_FILENO;

// The next byte, or -1 when none arrives within `ms` milliseconds.
int nextByteWithin(int ms) {
    pollfd ready{inputFd, POLLIN, 0};
    if (!bytesWaiting() && poll(&ready, 1, ms) <= 0) {
        return -1;
    }
    return takeByte();
}

// A cursor or function key sends ESC '[' parameters final, or ESC 'O' key; Alt and
// a key sends ESC and that key. The bytes of one key press come together.
void skipEscapeSequence() {
    const int kWaitMs = 50;
    int c = nextByteWithin(kWaitMs);
    if (c == '[') {
        for (int i = 0; i < 32; ++i) {
            c = nextByteWithin(kWaitMs);
            if (c < 0 || (c >= 0x40 && c <= 0x7E)) {
                return;
            }
        }
    } else if (c == 'O') {
        nextByteWithin(kWaitMs);
    }
}

/* ==== School files ======================================================== */

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isStream(int fd, const struct stat& info) {
    struct stat stream;
    return fstat(fd, &stream) == 0 && sameFile(stream, info);
}

// Creates the temporary file beside `target`, its name within the system's limit
// for one name part, known to the signal handler from the first moment on.
int createTemporary(const std::string& target, std::string* name) {
    std::size_t slash = target.rfind('/');
    std::size_t baseAt = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t kRoomForBase = NAME_MAX - std::strlen("..XXXXXX");
    *name = target.substr(0, baseAt) + "." + target.substr(baseAt, kRoomForBase) + ".XXXXXX";
    if (name->size() >= sizeof liveTemporary) {
        errno = ENAMETOOLONG;
        return -1;
    }
    sigset_t before;
    holdSignals(&before);
    int fd = mkostemp(&(*name)[0], O_CLOEXEC);
    if (fd >= 0) {
        std::memcpy(liveTemporary, name->c_str(), name->size() + 1);
        temporaryLive = 1;
    }
    int reason = errno;
    releaseSignals(&before);
    errno = reason;
    return fd;
}

// The old file's owner and group where the system allows; its set-id and sticky
// bits only when both were kept, so that nobody gains another's rights.
void takeOverOwnership(int fd, const struct stat& old) {
    bool ownerKept = fchown(fd, old.st_uid, old.st_gid) == 0;
    if (!ownerKept && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        errno = 0;  // the group stays the writer's: nothing more can be done
    }
    fchmod(fd, old.st_mode & (ownerKept ? 07777 : 0777));
}

// Whether the locale variables name a UTF-8 character set.
bool localeIsUtf8() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) {
            break;
        }
    }
    if (!value) {
        return false;
    }
    std::string lower;
    for (const char* p = value; *p; ++p) {
        lower.push_back(static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p));
    }
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

}  // namespace

bool prepareConsole() {
    watchSignalsAndTerminal();
    return localeIsUtf8();
}

void restoreConsole() {
    if (rawActive || editorActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
        rawActive = 0;
    }
}

void markLineEditing(bool active) {
    editorActive = active;
}

bool attachInput(int fd) {
    inputFd = fd;
    return isatty(fd);
}

Fill readInput(char* bytes, std::size_t size, std::size_t* got) {
    for (;;) {
        if (resumed) {
            resumed = 0;
            return Fill::kResumed;
        }
        // A wait in poll, unlike one in read, ends when a signal is handled.
        pollfd ready{inputFd, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 && errno == EINTR) {
            continue;
        }
        ssize_t n = read(inputFd, bytes, size);
        if (n > 0) {
            *got = static_cast<std::size_t>(n);
            return Fill::kData;
        }
        if (n == 0) {
            return Fill::kEnded;
        }
        if (errno != EINTR) {
            return Fill::kFailed;
        }
    }
}

int readKeyPress() {
    bool waited = !bytesWaiting();
    if (waited) {
        enterRawMode();
    }
    int key = takeByte();
    if (key == KEY_ESCAPE) {
        skipEscapeSequence();
    }
    restoreConsole();
    return key;  // the end-of-input key too: it ends input only at a line prompt
}

bool outputIsTerminal() {
    return isatty(STDOUT_FILENO);
}

bool takesC1Controls() {
    return true;
}

// A terminal that knows no escape sequences (TERM=dumb) draws below, as a pipe.
void clearConsole() {
    const char* term = std::getenv("TERM");
    if (isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0)) {
        std::fputs("\x1b[H\x1b[2J", stdout);
    }
}

// Opens without waiting for a partner: a named pipe that nobody reads fails to open
// for writing, and one that nobody writes reads as empty. Reads and writes wait
// as usual afterwards.
int openWithoutWaiting(const std::string& name, int flags) {
    int fd = open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

bool syncToDisk(std::FILE* stream) {
    return fsync(fileno(stream)) == 0;
}

bool putInPlace(const std::string& temporary, const std::string& target) {
    sigset_t before;
    holdSignals(&before);
    bool ok = std::rename(temporary.c_str(), target.c_str()) == 0;
    int reason = errno;
    if (ok) {
        temporaryLive = 0;
    }
    releaseSignals(&before);
    errno = reason;
    return ok;
}

void removeTemporary(const std::string& temporary) {
    unlink(temporary.c_str());
    temporaryLive = 0;
}

bool beginAtomicWrite(const std::string& name, AtomicWrite* file) {
    *file = AtomicWrite{};
    file->target = name;
    if (!usableName(name)) {
        return false;
    }
    // The kernel's own rules decide whether a link may be followed here.
    int fd = openWithoutWaiting(name, O_WRONLY | O_NOCTTY);
    int reason = errno;
    struct stat link;
    bool isLink = lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (fd < 0 && reason == ENOENT && isLink) {
        fd = openWithoutWaiting(name, O_WRONLY | O_NOCTTY | O_CREAT);
        reason = errno;
        file->createdTarget = fd >= 0;
    }
    struct stat info;
    bool exists = fd >= 0;
    if (fd < 0 && reason != ENOENT) {
        errno = reason;
        return false;
    }
    if (exists && fstat(fd, &info) != 0) {
        reason = errno;
        close(fd);
        errno = reason;
        return false;
    }
    if (exists && isStream(STDOUT_FILENO, info)) {
        close(fd);
        std::fflush(stdout);
        file->stream = stdout;  // after what was printed before, not over it
        return true;
    }
    if (exists && isStream(STDIN_FILENO, info) && !S_ISCHR(info.st_mode)) {
        close(fd);
        errno = EBUSY;  // the records would come back as input, or fill the pipe for ever
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        file->stream = streamOf(fd, "wb");
        return file->stream != nullptr;
    }
    if (exists) {
        close(fd);
        // Replace exactly the file that was opened, wherever a link leads.
        char resolved[PATH_MAX];
        struct stat now;
        if (isLink && realpath(name.c_str(), resolved)) {
            file->target = resolved;
        }
        if (stat(file->target.c_str(), &now) != 0 || !sameFile(now, info)) {
            errno = EBUSY;  // moved meanwhile: whatever is there now is not ours
            return false;
        }
    }
    std::string temporary;
    int temporaryFd = createTemporary(file->target, &temporary);
    if (temporaryFd < 0) {
        abandonAtomicWrite(file);
        return false;
    }
    if (exists) {
        takeOverOwnership(temporaryFd, info);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(temporaryFd, 0666 & ~mask);
    }
    return adoptTemporary(temporaryFd, temporary, file);
}
