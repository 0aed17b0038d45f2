// Line editing at the prompts of a terminal, through libedit: the cursor keys,
// Home and End, Delete, the Emacs keys, and the lines typed earlier in the session.
// The editor only delivers lines; what the program does with them is as ever.
// It takes its keys from the filter below, which passes on only what it binds, and
// it neither reads a configuration file nor handles signals: the program does.
#include "console/line_editor.h"

// A window larger than the editor should keep a screen of is shown to it through a
// terminal of its own (see the stand-in below).
#include <fcntl.h>
#include <histedit.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "console/keys.h"
#include "system/output.h"
#include "system/platform.h"
#include "text/ascii.h"

namespace {

struct Editor {
    EditLine* line = nullptr;
    History* history = nullptr;
    std::string prompt;        // shown again by the editor when it redraws the line
    std::string above;         // the line above, shown again after a stop
    std::string typed;         // read and not yet taken: typed before the line was asked for,
    std::size_t typedAt = 0;   // or read from the terminal in one go
    Fill ended = Fill::kData;  // the input ended or failed while the line was read
    int error = 0;
    std::string held;   // read past an invalid character, to be taken anew
    std::wstring keys;  // decoded and not yet handed to the editor
    std::size_t keyAt = 0;
    std::ptrdiff_t most = 0;        // printable characters that the line takes
    int fd = -1;                    // the terminal
    std::FILE* terminal = nullptr;  // over it, for the editor
};
Editor editor;

/* ---- The stand-in: the window's size, clamped ------------------------------- */

// The editor keeps a screen of the window's size, which it allocates and clears
// whole each time it reads the size of its terminal (65535 x 65535 would take
// 17 GB). A larger window is told to it as this large each way; paging goes by
// the real size.
constexpr unsigned short kMostEditorSize = 1000;

// A terminal of the editor's own (a pseudo-terminal) that reports the clamped
// size, with the real terminal's modes; the modes the editor sets on it are
// mirrored onto the real terminal while a line is read, and taken back after.
struct StandIn {
    int master = -1, slave = -1;
    std::FILE* file = nullptr;
    bool used = false;      // for the line being read
    bool mirrored = false;  // the editor's modes are on the real terminal
    termios before{};       // the real terminal's, before the line
};
StandIn standIn;

bool windowOf(int fd, winsize* size) {
    return ioctl(fd, TIOCGWINSZ, size) == 0 && size->ws_row > 0 && size->ws_col > 0;
}

bool tooLarge(const winsize& size) {
    return size.ws_row > kMostEditorSize || size.ws_col > kMostEditorSize;
}

bool openStandIn() {
    if (standIn.file) {
        return true;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char* name =
        master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    int slave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    std::FILE* file = slave >= 0 ? fdopen(slave, "r") : nullptr;
    if (!file) {
        if (slave >= 0) {
            close(slave);
        }
        if (master >= 0) {
            close(master);
        }
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    standIn = StandIn{master, slave, file};
    return true;
}

// The real window's size, clamped, onto the stand-in.
void sizeStandIn() {
    winsize size{};
    if (windowOf(editor.fd, &size)) {
        size.ws_row = std::min(size.ws_row, kMostEditorSize);
        size.ws_col = std::min(size.ws_col, kMostEditorSize);
        ioctl(standIn.slave, TIOCSWINSZ, &size);
    }
}

// Before a line: the stand-in, where the window is too large and one can be had,
// takes the real terminal's modes and becomes the editor's terminal.
bool chooseTerminal() {
    winsize size{};
    standIn.used = windowOf(editor.fd, &size) && tooLarge(size) && openStandIn() &&
                   tcgetattr(editor.fd, &standIn.before) == 0 &&
                   tcsetattr(standIn.slave, TCSANOW, &standIn.before) == 0;
    standIn.mirrored = false;
    if (standIn.used) {
        sizeStandIn();
    }
    return standIn.used;
}

// The window may have changed since the last key: the editor is told, within the
// bound (a window grown too large while the real terminal is its own keeps the
// size it had).
void resizeEditor() {
    winsize size{};
    if (standIn.used) {
        sizeStandIn();
        el_resize(editor.line);
    } else if (!windowOf(editor.fd, &size) || !tooLarge(size)) {
        el_resize(editor.line);
    }
}

// The modes that the editor set on the stand-in, onto the real terminal.
void mirrorModes() {
    termios mode;
    if (standIn.used && !standIn.mirrored && tcgetattr(standIn.slave, &mode) == 0) {
        tcsetattr(editor.fd, TCSANOW, &mode);
        standIn.mirrored = true;
    }
}

/* ---- Keys ---------------------------------------------------------------------- */

// The cursor and editing keys, each in the one form that the filter passes on.
const char* const kBindings[][2] = {
    {"\033[A", "ed-prev-history"},     {"\033[B", "ed-next-history"}, {"\033[C", "ed-next-char"},
    {"\033[D", "ed-prev-char"},        {"\033[H", "ed-move-to-beg"},  {"\033[F", "ed-move-to-end"},
    {"\033[3~", "ed-delete-next-char"}};

// What terminals send for those keys after the ESC, and the form bound.
const char* const kKeySequences[][2] = {
    {"[A", "\033[A"},  {"OA", "\033[A"},  {"[B", "\033[B"}, {"OB", "\033[B"}, {"[C", "\033[C"},
    {"OC", "\033[C"},  {"[D", "\033[D"},  {"OD", "\033[D"}, {"[H", "\033[H"}, {"OH", "\033[H"},
    {"[1~", "\033[H"}, {"[7~", "\033[H"}, {"[F", "\033[F"}, {"OF", "\033[F"}, {"[4~", "\033[F"},
    {"[8~", "\033[F"}, {"[3~", "\033[3~"}};

char* currentPrompt(EditLine*) {
    return &editor.prompt[0];
}

// Whether every byte typed can be part of a character of the locale: where not,
// as beyond ASCII in the C locale, the editor would take bytes typed as '?'.
bool localeTakesEveryByte() {
    std::mbstate_t state{};
    wchar_t character;
    return MB_CUR_MAX > 1 || std::mbrtowc(&character, "\xe0", 1, &state) == 1;
}

// The next byte typed, or -1 when the input ended or failed. Back after a stop,
// the prompt line is drawn again.
int nextByte() {
    if (!editor.held.empty()) {
        int byte = static_cast<unsigned char>(editor.held[0]);
        editor.held.erase(0, 1);
        return byte;
    }
    while (editor.ended == Fill::kData && editor.typedAt == editor.typed.size()) {
        mirrorModes();
        resizeEditor();
        char bytes[4096];
        Received received = readInput(bytes, sizeof bytes);
        if (received.fill == Fill::kResumed) {
            if (!editor.above.empty()) {
                std::string again = "\r" + editor.above + "\r\n";
                writeDrawing(again.data(), again.size());
            }
            el_set(editor.line, EL_REFRESH);
            continue;
        }
        if (received.fill != Fill::kData) {
            editor.ended = received.fill;
            editor.error = received.error;
            return -1;
        }
        editor.typed.assign(bytes, received.size);
        editor.typedAt = 0;
    }
    if (editor.typedAt == editor.typed.size()) {
        return -1;
    }
    return static_cast<unsigned char>(editor.typed[editor.typedAt++]);
}

// The next byte of the same key press, or -1 when none follows at once.
int nextByteOfEditedKey(void*) {
    bool waiting = !editor.held.empty() || editor.typedAt < editor.typed.size() ||
                   inputArrivesWithin(kKeyWaitMs);
    return waiting ? nextByte() : -1;
}

// What follows an ESC: a cursor or editing key goes on in its bound form, Alt and
// a key as ESC and that key; every other sequence, and a lone ESC, goes whole.
void takeEscape() {
    EscapeKey key = decodeEscape(nextByteOfEditedKey, nullptr);
    if (key.unused >= 0) {
        editor.held.push_back(static_cast<char>(key.unused));
    }
    if (key.kind == EscapeKey::kAlt) {
        editor.keys = {L'\033', static_cast<wchar_t>(static_cast<unsigned char>(key.body[0]))};
    }
    for (const auto& bound : kKeySequences) {
        if (key.kind == EscapeKey::kSequence && key.body == bound[0]) {
            editor.keys.assign(bound[1], bound[1] + std::strlen(bound[1]));
        }
    }
}

// Whether the code is a Unicode character: the C library takes the long forms
// that UTF-8 once had, whose codes the editor cannot write back (and aborts).
bool isCharacter(wchar_t code) {
    return code >= 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

// The character that starts with `byte`. As in a school text, each byte that
// belongs to no valid character is taken as '?', and so is each C1 control.
wchar_t decode(int byte) {
    char bytes[MB_LEN_MAX];
    std::size_t count = 0;
    for (;;) {
        bytes[count++] = static_cast<char>(byte);
        std::mbstate_t state{};
        wchar_t character = 0;
        std::size_t used = std::mbrtowc(&character, bytes, count, &state);
        if (used == static_cast<std::size_t>(-2) && count < sizeof bytes) {
            if ((byte = nextByte()) >= 0) {
                continue;
            }
        } else if (used <= count && isCharacter(character)) {
            return character >= 0x80 && isControl(static_cast<std::uint32_t>(character), true)
                       ? static_cast<wchar_t>(kControlMask)
                       : character;
        }
        editor.held.insert(0, bytes + 1, count - 1);  // each may start a character
        return L'?';
    }
}

// The editor's read of one key (EL_GETCFN). A line that holds the most it may
// takes no more printable characters: each one rings the bell instead.
int takeKey(EditLine*, wchar_t* key) {
    for (;;) {
        if (editor.keyAt < editor.keys.size()) {
            *key = editor.keys[editor.keyAt++];
            return 1;
        }
        editor.keys.clear();
        editor.keyAt = 0;
        int byte = nextByte();
        if (byte < 0) {
            errno = editor.error;
            return editor.ended == Fill::kEnded ? 0 : -1;
        }
        if (byte == KEY_ESCAPE) {
            takeEscape();
            continue;
        }
        *key = decode(byte);
        const LineInfoW* line = el_wline(editor.line);
        if (*key < 0x20 || *key == 0x7F || line->lastchar - line->buffer < editor.most) {
            return 1;
        }
        std::fputs("\a", stdout);
        std::fflush(stdout);
    }
}

}  // namespace

bool startLineEditor(int fd) {
    // A character of the locale (UTF-8) is then one editing step.
    std::setlocale(LC_CTYPE, "");
    if (!localeTakesEveryByte()) {
        std::setlocale(LC_CTYPE, "C");
        return false;
    }
    editor.fd = fd;
    int own = fd == STDIN_FILENO ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
    editor.terminal = own >= 0 ? fdopen(own, "r") : stdin;
    bool large = chooseTerminal();
    editor.line = el_init_fd("schools", stdin, stdout, stderr, large ? standIn.slave : fd,
                             fileno(stdout), fileno(stderr));
    editor.history = history_init();
    if (!editor.line || !editor.history) {
        return false;
    }
    HistEvent event;
    history(editor.history, &event, H_SETSIZE, 500);
    el_set(editor.line, EL_EDITOR, "emacs");
    el_set(editor.line, EL_HIST, history, editor.history);
    el_set(editor.line, EL_PROMPT, currentPrompt);
    el_set(editor.line, EL_GETCFN, takeKey);
    for (const auto& binding : kBindings) {
        el_set(editor.line, EL_BIND, binding[0], binding[1], nullptr);
    }
    // Alt-x opens the editor's own command line, whose parser can crash.
    el_set(editor.line, EL_BIND, "-r", "\033x", nullptr);
    el_set(editor.line, EL_BIND, "-r", "\033X", nullptr);
    return true;
}

Received readEditedLine(const std::string& prompt, const std::string& above, std::size_t most,
                        std::string* typed, std::string* line) {
    editor.prompt = prompt;
    editor.most = static_cast<std::ptrdiff_t>(most);
    editor.above = above;
    editor.typed.swap(*typed);
    editor.typedAt = 0;
    editor.ended = Fill::kData;
    // The editor draws the prompt from the start of the line, over the one shown.
    writeDrawing("\r", 1);
    flushOutput();
    int count = 0;
    bool large = chooseTerminal();
    el_set(editor.line, EL_SETFP, 0, large ? standIn.file : editor.terminal);
    markLineEditing(true);
    const char* text = el_gets(editor.line, &count);
    if (standIn.mirrored) {
        tcsetattr(editor.fd, TCSANOW, &standIn.before);
    }
    markLineEditing(false);
    *typed = editor.held + editor.typed.substr(editor.typedAt);  // beyond the line's end
    editor.held.clear();
    editor.typed.clear();
    editor.typedAt = 0;
    if (!text || count <= 0) {
        return count < 0 ? Received{Fill::kFailed, 0, editor.error != 0 ? editor.error : EIO}
                         : Received{Fill::kEnded, 0, 0};
    }
    line->assign(text, static_cast<std::size_t>(count));
    if (line->back() != '\n') {
        line->push_back('\n');
    }
    if (line->size() > 1) {
        HistEvent event;
        history(editor.history, &event, H_ENTER, line->substr(0, line->size() - 1).c_str());
    }
    return Received{Fill::kData, line->size(), 0};
}
