// The console services on POSIX systems: a terminal in line mode but for the wait
// for one key, signals that give it back, and input by read(2).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "system/file_calls.h"
#include "system/last_error.h"
#include "system/output.h"
#include "system/platform.h"

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

// Only async-signal-safe calls: put the terminal back, remove the temporary file,
// then die of the signal.
void onFatalSignal(int sig) {
    if (rawActive || editorActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    }
    removeLiveTemporary();
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

int inputFd = STDIN_FILENO;

}  // namespace

void prepareConsole() {
    watchSignalsAndTerminal();
}

const char* localeName() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        value = std::getenv(name);
        if (value && *value) {
            break;
        }
    }
    return value ? value : "";
}

// Bytes pass untranslated anyway.
void prepareFileRun() {
    watchSignalsAndTerminal();
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

void enterKeyMode() {
    if (terminal.present && !rawActive) {
        rawActive = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.raw);
    }
}

void leaveKeyMode() {
    restoreConsole();
}

bool outputIsTerminal() {
    return isatty(STDOUT_FILENO);
}

bool takesC1Controls() {
    return true;
}

// A terminal that knows no escape sequences (TERM=dumb) draws below, as a pipe.
void clearScreen() {
    const char* term = std::getenv("TERM");
    if (isatty(STDOUT_FILENO) && !(term && std::strcmp(term, "dumb") == 0)) {
        const char kHomeAndClear[] = "\x1b[H\x1b[2J";
        writeDrawing(kHomeAndClear, sizeof kHomeAndClear - 1);
    }
}

// A terminal takes bytes, which the dialogue has converted where it speaks UTF-8.
bool takesConsoleText(int) {
    return false;
}

int writeConsoleText(int, const char*, std::size_t) {
    return ENOTTY;
}

/* ==== Input =============================================================== */

bool attachInput(int fd) {
    inputFd = fd;
    return isatty(fd);
}

Received readInput(char* bytes, std::size_t size) {
    for (;;) {
        if (resumed) {
            resumed = 0;
            return Received{Fill::kResumed, 0, 0};
        }
        // A wait in poll, unlike one in read, ends when a signal is handled.
        pollfd ready{inputFd, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 && lastError() == EINTR) {
            continue;
        }
        ssize_t n = read(inputFd, bytes, size);
        if (n >= 0) {
            return Received{n > 0 ? Fill::kData : Fill::kEnded, static_cast<std::size_t>(n), 0};
        }
        if (int error = lastError(); error != EINTR) {
            return Received{Fill::kFailed, 0, error};
        }
    }
}

bool inputArrivesWithin(int ms) {
    pollfd ready{inputFd, POLLIN, 0};
    return poll(&ready, 1, ms) > 0;
}

int screenRows() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_row : 0;
}

int screenColumns() {
    winsize size{};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}
