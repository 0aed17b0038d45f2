// The console services on Windows: the console's code pages, its text as UTF-16
// both ways, converted from and to code page 1251 with the program's own table,
// bytes by ReadFile for files and pipes, and keys from the console's input events.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "system/cp1251.h"
#include "system/file_calls.h"
#include "system/platform.h"
#include "system/windows_calls.h"

namespace {

/* ==== Code pages ========================================================== */

// The console's code pages are 1251 for the whole run; the ones found at start
// come back on every way out (return, exit, Ctrl-C, Ctrl-Break, closing the window).
struct CodePages {
    UINT input = 0;  // 0: no console, nothing was changed
    UINT output = 0;
};
CodePages savedCodePages;

// Ctrl-C and Ctrl-Break end a console program with the status that says so, as
// the system's own handler does (wine's ends it with 0). The process is ended at
// once: the thread that was interrupted may hold the runtime's locks.
[[noreturn]] void endInterrupted() {
    restoreConsole();
    removeLiveTemporary();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

// Called on a thread of its own (Ctrl-C, Ctrl-Break, the window closed); for the
// others the default handler then ends the process. A write in progress leaves no
// temporary.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        endInterrupted();
    }
    restoreConsole();
    removeLiveTemporary();
    return FALSE;
}

void watchConsoleEvents() {
    static bool watching = false;
    if (!watching) {
        watching = true;
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }
}

// Without a console (all streams redirected) the calls fail and nothing changes.
void setCodePages() {
    UINT input = GetConsoleCP(), output = GetConsoleOutputCP();
    if (input == 0 || output == 0 || !SetConsoleCP(1251)) {
        return;
    }
    SetConsoleOutputCP(1251);
    savedCodePages = CodePages{input, output};
    std::atexit(restoreConsole);
}

/* ==== Input =============================================================== */

HANDLE inputHandle = GetStdHandle(STD_INPUT_HANDLE);
bool inputIsConsole = false;

}  // namespace

void prepareConsole() {
    setCodePages();
    watchConsoleEvents();
}

// The console shows code page 1251 itself: texts pass through unconverted.
const char* localeName() {
    return "";
}

// Without CR LF translation; the console's code pages stay as they were found.
void prepareFileRun() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    watchConsoleEvents();
}

void restoreConsole() {
    if (savedCodePages.input != 0) {
        SetConsoleCP(savedCodePages.input);
        SetConsoleOutputCP(savedCodePages.output);
    }
}

bool outputIsTerminal() {
    return isConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

// The console shows them as the letters and marks of code page 1251.
bool takesC1Controls() {
    return false;
}

bool attachInput(int fd) {
    inputHandle =
        fd == 0 ? GetStdHandle(STD_INPUT_HANDLE) : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    inputIsConsole = isConsole(inputHandle);
    return inputIsConsole;
}

// Keys come from the console's own reader, one press at a time.
bool keyMode = false;

void enterKeyMode() {
    keyMode = true;
}

void leaveKeyMode() {
    keyMode = false;
}

// What "cls" does: blanks every cell of the screen buffer and homes the cursor.
void clearScreen() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out, &info)) {
        return;
    }
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home{0, 0};
    DWORD done;
    FillConsoleOutputCharacterA(out, ' ', cells, home, &done);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, home, &done);
    SetConsoleCursorPosition(out, home);
}

/* ==== Console text ======================================================== */

namespace {

HANDLE streamHandle(int fd) {
    return GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

// A character of UTF-16 in code page 1251: a pair of surrogates is one '?', its
// low half (kLowHalf) nothing.
constexpr int kLowHalf = -1;
int cp1251OfUnit(wchar_t unit) {
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return kLowHalf;
    }
    return static_cast<unsigned char>(unit >= 0xD800 && unit <= 0xDBFF ? '?'
                                                                       : cp1251OfUnicode(unit));
}

}  // namespace

bool takesConsoleText(int fd) {
    return isConsole(streamHandle(fd));
}

// Line ends become CR LF, as the runtime's text mode makes them.
int writeConsoleText(int fd, const char* bytes, std::size_t size) {
    HANDLE console = streamHandle(fd);
    wchar_t units[4096];
    std::size_t at = 0;
    while (at < size) {
        DWORD count = 0;
        for (; at < size && count < sizeof units / sizeof units[0] - 1; ++at) {
            unsigned char byte = static_cast<unsigned char>(bytes[at]);
            if (byte == '\n') {
                units[count++] = L'\r';
            }
            // U+0098, the table's one C1 control, would drive a terminal behind the console.
            units[count++] = byte == 0x98 ? L'?' : static_cast<wchar_t>(unicodeOfCp1251(byte));
        }
        for (DWORD written = 0, done = 0; done < count; done += written) {
            if (!WriteConsoleW(console, units + done, count - done, &written, nullptr)) {
                return errnoOf(GetLastError());
            }
        }
    }
    return 0;
}

/* ==== Input =============================================================== */

namespace {

bool isModifier(WORD key) {
    for (WORD modifier : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_CAPITAL, VK_NUMLOCK, VK_SCROLL,
                          VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU}) {
        if (key == modifier) {
            return true;
        }
    }
    return false;
}

// One key press from the console's input events. A character comes in code page
// 1251, with Alt as ESC and the character, as a terminal sends it; a cursor or
// function key as ESC and the console's two codes for it (0 or 0xE0, then its scan
// code), which the key decoder takes whole; a modifier alone is no key.
Received readKeyPress(char* bytes) {
    for (;;) {
        INPUT_RECORD event;
        DWORD n = 0;
        if (!ReadConsoleInputW(inputHandle, &event, 1, &n)) {
            return Received{Fill::kFailed, 0, errnoOf(GetLastError())};
        }
        if (n == 0 || event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) {
            continue;
        }
        const KEY_EVENT_RECORD& key = event.Event.KeyEvent;
        DWORD state = key.dwControlKeyState;
        bool alt = (state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0 &&
                   (state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) == 0;  // not AltGr
        if (key.uChar.UnicodeChar != 0) {
            int byte = cp1251OfUnit(key.uChar.UnicodeChar);
            if (byte == 3) {  // Ctrl-C, where the console passes it on as a key
                endInterrupted();
            }
            if (byte == kLowHalf) {
                continue;
            }
            std::size_t size = 0;
            if (alt) {
                bytes[size++] = kKeyEscape;
            }
            bytes[size++] = static_cast<char>(byte);
            return Received{Fill::kData, size, 0};
        }
        if (isModifier(key.wVirtualKeyCode)) {
            continue;
        }
        bytes[0] = kKeyEscape;
        bytes[1] = static_cast<char>((state & ENHANCED_KEY) ? kConsoleKeyPrefix : 0);
        bytes[2] = static_cast<char>(key.wVirtualScanCode);
        return Received{Fill::kData, 3, 0};
    }
}

// One read: a console's line, as the console edits it, by ReadConsoleW in UTF-16,
// turned into code page 1251; the bytes of a file or pipe by ReadFile. False with
// GetLastError's reason.
bool readSome(char* bytes, std::size_t size, DWORD* n) {
    if (!inputIsConsole) {
        return ReadFile(inputHandle, bytes, static_cast<DWORD>(size), n, nullptr);
    }
    wchar_t units[4096];
    DWORD count = 0;
    DWORD room = static_cast<DWORD>(std::min(size, sizeof units / sizeof units[0]));
    if (!ReadConsoleW(inputHandle, units, room, &count, nullptr)) {
        return false;
    }
    *n = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (int byte = cp1251OfUnit(units[i]); byte != kLowHalf) {
            bytes[(*n)++] = static_cast<char>(byte);
        }
    }
    return true;
}

}  // namespace

// Files and pipes by ReadFile on the handle; a console's lines by ReadConsoleW.
Received readInput(char* bytes, std::size_t size) {
    if (keyMode && inputIsConsole) {
        return readKeyPress(bytes);
    }
    for (;;) {
        DWORD n = 0;
        if (readSome(bytes, size, &n)) {
            // Ctrl-Z at the start of a console line is the console's end of input.
            if (n == 0 || (inputIsConsole && bytes[0] == '\x1a')) {
                return Received{Fill::kEnded, 0, 0};
            }
            return Received{Fill::kData, n, 0};
        }
        DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
            return Received{Fill::kEnded, 0, 0};
        }
        if (error != ERROR_OPERATION_ABORTED) {  // Ctrl-C at a console line
            return Received{Fill::kFailed, 0, errnoOf(error)};
        }
    }
}

// A key press never comes as several bytes to wait for.
bool inputArrivesWithin(int) {
    return false;
}

int screenRows() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

int screenColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}
