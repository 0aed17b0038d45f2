#include "console.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

/* ==== Code page 1251 ===================================================== */

// Unicode code points of bytes 0x80..0xBF; 0 marks the unused byte 0x98.
// Bytes 0xC0..0xFF are U+0410..U+044F in order.
constexpr std::uint16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char toCp1251(std::uint32_t code) {
    if (code < 0x80) {
        return static_cast<char>(code);
    }
    if (code >= 0x410 && code <= 0x44F) {
        return static_cast<char>(0xC0 + (code - 0x410));
    }
    for (int i = 0; i < 64; ++i) {
        if (kUpperHalf[i] != 0 && kUpperHalf[i] == code) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

// The UTF-8 of bytes 0x80..0xFF, looked up rather than encoded, since listings
// convert every byte of every name.
struct Utf8Sequence {
    char bytes[3];
    unsigned char size;
};

constexpr std::array<Utf8Sequence, 128> utf8OfUpperHalf() {
    std::array<Utf8Sequence, 128> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::uint32_t code = i >= 0x40 ? 0x410u + (i - 0x40) : kUpperHalf[i];
        if (code == 0) {
            code = 0xFFFD;  // the unused byte 0x98
        }
        Utf8Sequence& sequence = table[i];
        if (code < 0x800) {
            sequence.bytes[0] = static_cast<char>(0xC0 | (code >> 6));
            sequence.bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
            sequence.size = 2;
        } else {
            sequence.bytes[0] = static_cast<char>(0xE0 | (code >> 12));
            sequence.bytes[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            sequence.bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
            sequence.size = 3;
        }
    }
    return table;
}
constexpr std::array<Utf8Sequence, 128> kUtf8OfUpperHalf = utf8OfUpperHalf();

// Writes code page 1251 text as UTF-8, at most three bytes for each; returns the end.
char* encodeUtf8(const char* text, std::size_t length, char* out) {
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            *out++ = static_cast<char>(byte);
        } else {
            // All three bytes are copied: what the sequence does not use is written over.
            const Utf8Sequence& sequence = kUtf8OfUpperHalf[byte - 0x80];
            std::memcpy(out, sequence.bytes, sizeof sequence.bytes);
            out += sequence.size;
        }
    }
    return out;
}

// Decodes one UTF-8 sequence at `p`; returns its length, 0 when the lead byte does
// not start a valid sequence (overlong forms and surrogates included).
std::size_t decodeUtf8(const unsigned char* p, std::size_t left, std::uint32_t* code) {
    unsigned char lead = p[0];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        *code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        *code = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        *code = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        *code = (*code << 6) | (p[i] & 0x3F);
    }
    return length;
}

bool convertTexts = false;  // the terminal speaks UTF-8, records hold code page 1251

#ifndef _WIN32
/* ==== Terminal modes ===================================================== */

// The terminal leaves canonical, echoing mode only for the wait for one key, and
// every way out (return, exit, a fatal signal) puts the saved settings back.
struct Terminal {
    termios saved{};
    termios raw{};
    bool present = false;
};
Terminal terminal;
volatile sig_atomic_t rawActive = 0;

void restoreTerminal() {
    if (rawActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
        rawActive = 0;
    }
}

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
    if (rawActive) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    }
    if (temporaryLive) {
        unlink(liveTemporary);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

// Ctrl-Z: the shell gets its terminal back while we are stopped, the key wait
// gets its mode back when we continue.
void onStopSignal(int sig) {
    int wasRaw = rawActive;
    if (wasRaw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.saved);
    }
    signal(sig, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, sig);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(sig);
    signal(sig, onStopSignal);
    if (wasRaw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &terminal.raw);
    }
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

void watchTerminal() {
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
    std::atexit(restoreTerminal);
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

#else
/* ==== The Windows console ================================================ */

// The console's code pages are 1251 for the whole run; the ones found at start
// come back on every way out (return, exit, Ctrl-C, Ctrl-Break, closing the window).
struct CodePages {
    UINT input = 0;  // 0: no console, nothing was changed
    UINT output = 0;
};
CodePages savedCodePages;

void restoreTerminal() {
    if (savedCodePages.input != 0) {
        SetConsoleCP(savedCodePages.input);
        SetConsoleOutputCP(savedCodePages.output);
    }
}

// Called on a thread of its own; the default handler then ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    restoreTerminal();
    return FALSE;
}

// Without a console (all streams redirected) the calls fail and nothing changes.
void watchTerminal() {
    UINT input = GetConsoleCP(), output = GetConsoleOutputCP();
    if (input == 0 || output == 0 || !SetConsoleCP(1251)) {
        return;
    }
    SetConsoleOutputCP(1251);
    savedCodePages = CodePages{input, output};
    std::atexit(restoreTerminal);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// The errno that perror explains for a failed Windows call.
int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        default:
            return EIO;
    }
}
#endif

/* ==== The input stream =================================================== */

enum class Fill { kData, kEnded, kFailed };

struct Input {
#ifdef _WIN32
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
#else
    int fd = STDIN_FILENO;
#endif
    bool terminal = false;  // a terminal, or on Windows a console
    char bytes[1 << 16];    // read from the descriptor, not yet taken
    std::size_t start = 0;
    std::size_t end = 0;
    std::string pending;  // the line that line and number reads work on
    std::size_t pendingPos = 0;
};
Input input;

// Waits for more bytes. Output is shown before every wait.
#ifdef _WIN32
// One reading mechanism for consoles, files and pipes alike: ReadFile on the handle.
Fill refill() {
    std::fflush(stdout);
    for (;;) {
        DWORD n = 0;
        if (ReadFile(input.handle, input.bytes, sizeof input.bytes, &n, nullptr)) {
            // Ctrl-Z at the start of a console line is the console's end of input.
            if (n == 0 || (input.terminal && input.bytes[0] == '\x1a')) {
                return Fill::kEnded;
            }
            input.start = 0;
            input.end = n;
            return Fill::kData;
        }
        DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
            return Fill::kEnded;
        }
        if (error != ERROR_OPERATION_ABORTED) {  // Ctrl-C at a console line
            return Fill::kFailed;
        }
    }
}
#else
Fill refill() {
    std::fflush(stdout);
    for (;;) {
        ssize_t n = read(input.fd, input.bytes, sizeof input.bytes);
        if (n > 0) {
            input.start = 0;
            input.end = static_cast<std::size_t>(n);
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
#endif

[[noreturn]] void endOfInput() {
    std::fputs("\n", stdout);
    endProgram(0);
}

[[noreturn]] void unreadableInput() {
    std::fputs("\n", stdout);
    endProgram(1);
}

// The next byte of the stream; -1 when none arrives within `waitMs`
// (only asked for on a terminal, while it is in key mode).
int takeByte(int waitMs = -1) {
    if (input.start == input.end) {
#ifndef _WIN32
        if (waitMs >= 0) {
            pollfd ready{input.fd, POLLIN, 0};
            if (poll(&ready, 1, waitMs) <= 0) {
                return -1;
            }
        }
#else
        (void)waitMs;  // console keys come from _getch
#endif
        Fill fill = refill();
        if (fill == Fill::kEnded)
            endOfInput();
        if (fill == Fill::kFailed)
            unreadableInput();
    }
    return static_cast<unsigned char>(input.bytes[input.start++]);
}

// The most of one line that any read uses (a file name, two numbers): the rest of
// a longer line is thrown away as it arrives, so no line can exhaust memory.
const std::size_t kLineLimit = 1 << 16;

// Takes the next whole line of the stream as the pending line, with its line end.
Fill takeLine() {
    input.pending.clear();
    input.pendingPos = 0;
    std::size_t length = 0;  // of the whole line as typed
    for (;;) {
        if (input.start == input.end) {
            Fill fill = refill();
            if (fill != Fill::kData) {
                // A last line without a line end is still a line.
                return length == 0 ? fill : Fill::kData;
            }
        }
        const char* from = input.bytes + input.start;
        std::size_t size = input.end - input.start;
        const void* newline = std::memchr(from, '\n', size);
        std::size_t take =
            newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - from) + 1 : size;
        std::size_t room = kLineLimit - input.pending.size();
        input.pending.append(from, take < room ? take : room);
        input.start += take;
        length += take;
        if (newline) {
            if (length > kLineLimit) {
                input.pending.back() = '\n';
            } else if (length >= 2 && input.pending[length - 2] == '\r') {
                input.pending.erase(length - 2, 1);
            }
            return Fill::kData;
        }
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

#ifndef _WIN32
// A cursor or function key sends ESC '[' parameters final, or ESC 'O' key; Alt and
// a key sends ESC and that key. The bytes of one key press come together.
void skipEscapeSequence() {
    const int kWaitMs = 50;
    int c = takeByte(kWaitMs);
    if (c == '[') {
        for (int i = 0; i < 32; ++i) {
            c = takeByte(kWaitMs);
            if (c < 0 || (c >= 0x40 && c <= 0x7E)) {
                return;
            }
        }
    } else if (c == 'O') {
        takeByte(kWaitMs);
    }
}
#endif

std::string scratchText;  // reused so that printing a long list allocates nothing

// Standard output's buffer: one write per 64 KiB of output and per wait for input.
char outputBuffer[1 << 16];

void (*endHandler)(int status) = nullptr;

}  // namespace

/* ==== Start-up =========================================================== */

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

#ifdef _WIN32
namespace {
bool isConsole(HANDLE handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}
}  // namespace

// The console shows code page 1251 itself: texts pass through unconverted.
void setCodePage() {
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    input.terminal = isConsole(input.handle);
    watchTerminal();
}

void useInput(int fd) {
    input.handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    input.terminal = isConsole(input.handle);
    input.start = input.end = 0;
    input.pending.clear();
    input.pendingPos = 0;
}
#else
void setCodePage() {
    convertTexts = localeIsUtf8();
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    input.terminal = isatty(input.fd);
    watchTerminal();
}

void useInput(int fd) {
    input.fd = fd;
    input.terminal = isatty(fd);
    input.start = input.end = 0;
    input.pending.clear();
    input.pendingPos = 0;
}
#endif

void onProgramEnd(void (*handler)(int status)) {
    endHandler = handler;
}

/* ==== Output ============================================================= */

void print(const char* format, ...) {
    if (!std::strchr(format, '%')) {
        std::fputs(format, stdout);  // much cheaper than formatting
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

void printText(const char* text, std::size_t size) {
    scratchText.resize(textRoom(size));
    char* end = putText(text, size, &scratchText[0]);
    printBytes(scratchText.data(), static_cast<std::size_t>(end - scratchText.data()));
}

char* putNumber(std::int32_t value, char* out) {
    char digits[10];
    char* first = digits + sizeof digits;
    std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *out++ = '-';
    }
    std::size_t count = static_cast<std::size_t>(digits + sizeof digits - first);
    std::memcpy(out, first, count);
    return out + count;
}

char* putText(const char* text, std::size_t size, char* out) {
    std::size_t length = strnlen(text, size);
    if (!convertTexts) {
        std::memcpy(out, text, length);
        return out + length;
    }
    return encodeUtf8(text, length, out);
}

void printBytes(const char* bytes, std::size_t size) {
    std::fwrite(bytes, 1, size, stdout);
}

/* ==== Input ============================================================== */

bool readLine(std::string* line) {
    if (input.pendingPos >= input.pending.size()) {
        Fill fill = takeLine();
        if (fill == Fill::kEnded)
            endOfInput();
        if (fill == Fill::kFailed)
            return false;
    }
    line->assign(input.pending, input.pendingPos, std::string::npos);
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
    }
    input.pending.clear();
    input.pendingPos = 0;
    return true;
}

bool readText(char* field, std::size_t size) {
    std::string line;
    if (!readLine(&line)) {
        return false;
    }
    if (convertTexts) {
        line = utf8ToCp1251(line);
    }
    std::size_t kept = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(field, line.data(), kept);
    std::memset(field + kept, 0, size - kept);
    return true;
}

void readNumber(std::int32_t* target) {
    for (;;) {
        while (input.pendingPos < input.pending.size() &&
               isBlank(input.pending[input.pendingPos])) {
            ++input.pendingPos;
        }
        if (input.pendingPos < input.pending.size()) {
            break;
        }
        Fill fill = takeLine();
        if (fill == Fill::kEnded)
            endOfInput();
        if (fill == Fill::kFailed)
            unreadableInput();
    }
    input.pendingPos += parseNumber(input.pending.data() + input.pendingPos,
                                    input.pending.size() - input.pendingPos, target);
}

void discardInput() {
    input.pending.clear();
    input.pendingPos = 0;
}

#ifdef _WIN32
int readKey() {
    if (!input.terminal || input.start < input.end) {
        return takeByte();
    }
    std::fflush(stdout);
    int key = _getch();
    // A cursor, function or Alt key delivers a second code, kept back for the next call.
    if ((key == 0 || key == 0xE0) && _kbhit()) {
        _getch();
        return key;
    }
    if (key == 3) {  // Ctrl-C, which _getch delivers as a key
        restoreTerminal();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    if (key == 0x1A) {  // Ctrl-Z, the console's end of input
        endOfInput();
    }
    return key;
}
#else
int readKey() {
    if (!input.terminal) {
        return takeByte();
    }
    bool waited = input.start == input.end;
    if (waited) {
        enterRawMode();
    }
    int key = takeByte();
    if (key == KEY_ESCAPE) {
        skipEscapeSequence();
    }
    restoreTerminal();
    // Without line mode the terminal's end-of-input key arrives as a byte.
    if (waited && terminal.present && key == terminal.saved.c_cc[VEOF]) {
        endOfInput();
    }
    return key;
}
#endif

/* ==== Screen ============================================================= */

#ifdef _WIN32
// What "cls" does: blanks every cell of the screen buffer and homes the cursor.
void clearConsole() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out, &info)) {
        return;
    }
    std::fflush(stdout);
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home{0, 0};
    DWORD done;
    FillConsoleOutputCharacterA(out, ' ', cells, home, &done);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, home, &done);
    SetConsoleCursorPosition(out, home);
}
#else
void clearConsole() {
    if (isatty(STDOUT_FILENO)) {
        std::fputs("\x1b[H\x1b[2J", stdout);
    }
}
#endif

void pauseConsole() {
    std::fputs("Press any key to continue . . . ", stdout);
    readKey();
    std::fputs("\n", stdout);
}

/* ==== Failures =========================================================== */

void reportStreamError(const char* prefix) {
    int reason = errno;
    std::fflush(stdout);
    errno = reason;
    std::perror(prefix);
}

void endProgram(int status) {
    restoreTerminal();
    if (endHandler) {
        endHandler(status);
    }
    std::exit(status);
}

/* ==== School files on disk =============================================== */

namespace {

#ifdef _WIN32
// No named pipes among plain file names: an ordinary binary open never waits.
int openWithoutWaiting(const std::string& name, int flags) {
    return _open(name.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE);
}
#else
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
#endif

// The system takes no NUL inside a name, and an empty name names nothing.
bool usableName(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        errno = name.empty() ? ENOENT : EINVAL;
        return false;
    }
    return true;
}

std::FILE* streamOf(int fd, const char* mode) {
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        int reason = errno;
        close(fd);
        errno = reason;
    }
    return stream;
}

// Takes a temporary file just created as the stream of the replacement, or removes it.
bool adoptTemporary(int fd, const std::string& name, Replacement* file) {
    file->temporary = name;
    file->stream = streamOf(fd, "wb");
    if (!file->stream) {
        abandonReplacement(file);
        return false;
    }
    return true;
}

}  // namespace

std::FILE* openForReading(const std::string& name) {
    if (!usableName(name)) {
        return nullptr;
    }
    int fd = openWithoutWaiting(name, O_RDONLY);
    struct stat info;
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(fd);
        errno = EISDIR;
        return nullptr;
    }
    return streamOf(fd, "rb");
}

#ifdef _WIN32
// No symbolic links and no permission bits to carry over: a read-only file is refused.
bool beginReplacement(const std::string& name, Replacement* file) {
    *file = Replacement{};
    file->target = name;
    if (!usableName(name)) {
        return false;
    }
    struct stat info;
    bool exists = stat(name.c_str(), &info) == 0;
    if ((exists && S_ISDIR(info.st_mode)) || (exists && _access(name.c_str(), 2) != 0)) {
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        file->stream = streamOf(openWithoutWaiting(name, O_WRONLY | O_TRUNC), "wb");
        return file->stream != nullptr;
    }
    std::size_t separator = name.find_last_of("/\\:");
    std::size_t baseAt = separator == std::string::npos ? 0 : separator + 1;
    std::string stem = name.substr(0, baseAt) + "." + name.substr(baseAt) + ".";
    unsigned seed = static_cast<unsigned>(GetCurrentProcessId()) ^ GetTickCount();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", (seed + attempt * 7919u) & 0xFFFFFFu);
        std::string candidate = stem + suffix;
        int fd = _open(candidate.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        return adoptTemporary(fd, candidate, file);
    }
    return false;
}
#else
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

bool beginReplacement(const std::string& name, Replacement* file) {
    *file = Replacement{};
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
        abandonReplacement(file);
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
#endif

bool finishReplacement(Replacement* file) {
    bool ok = std::fflush(file->stream) == 0 && !std::ferror(file->stream);
    if (ok && !file->temporary.empty()) {
#ifdef _WIN32
        ok = _commit(_fileno(file->stream)) == 0;
#else
        ok = fsync(fileno(file->stream)) == 0;
#endif
    }
    int reason = errno;
    if (file->stream != stdout && std::fclose(file->stream) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    file->stream = nullptr;
    if (ok && !file->temporary.empty()) {
#ifdef _WIN32
        // std::rename does not replace an existing file on Windows.
        if (!MoveFileExA(file->temporary.c_str(), file->target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ok = false;
            reason = errnoOf(GetLastError());
        }
#else
        sigset_t before;
        holdSignals(&before);
        ok = std::rename(file->temporary.c_str(), file->target.c_str()) == 0;
        reason = ok ? reason : errno;
        temporaryLive = ok ? 0 : temporaryLive;
        releaseSignals(&before);
#endif
        if (ok) {
            file->temporary.clear();
            file->createdTarget = false;
        }
    }
    if (!ok) {
        abandonReplacement(file);
    }
    errno = reason;
    return ok;
}

void abandonReplacement(Replacement* file) {
    int reason = errno;
    if (file->stream && file->stream != stdout) {
        std::fclose(file->stream);
    }
    file->stream = nullptr;
    if (!file->temporary.empty()) {
        unlink(file->temporary.c_str());
#ifndef _WIN32
        temporaryLive = 0;
#endif
        file->temporary.clear();
    }
    if (file->createdTarget) {
        unlink(file->target.c_str());
        file->createdTarget = false;
    }
    errno = reason;
}

/* ==== Conversions and numbers ============================================ */

std::string utf8ToCp1251(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        std::uint32_t code = p[0];
        std::size_t used = code < 0x80 ? 1 : decodeUtf8(p, left, &code);
        if (used == 0) {
            out.push_back('?');
            used = 1;
        } else {
            out.push_back(toCp1251(code));
        }
        p += used;
        left -= used;
    }
    return out;
}

void cp1251ToUtf8(const char* text, std::size_t size, std::string* out) {
    std::size_t at = out->size();
    out->resize(at + textRoom(size));
    char* end = encodeUtf8(text, size, &(*out)[at]);
    out->resize(static_cast<std::size_t>(end - out->data()));
}

std::size_t parseNumber(const char* text, std::size_t size, std::int32_t* value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::size_t digitsAt = i;
    std::int64_t magnitude = 0;
    const std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit + 1;  // out of range whatever follows
        }
        ++i;
    }
    if (i == digitsAt || magnitude > (negative ? kLimit : kLimit - 1)) {
        return 0;
    }
    *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return i;
}
