// The console services on Windows: the console's code pages, input by ReadFile
// for consoles, files and pipes alike, and keys from _getch.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

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

// Called on a thread of its own (Ctrl-C, Ctrl-Break, the window closed); the
// default handler then ends the process. A write in progress leaves no temporary.
BOOL WINAPI onConsoleEvent(DWORD) {
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
    std::fflush(stdout);
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home{0, 0};
    DWORD done;
    FillConsoleOutputCharacterA(out, ' ', cells, home, &done);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, home, &done);
    SetConsoleCursorPosition(out, home);
}

/* ==== Input =============================================================== */

namespace {

// One key press: a cursor, function or Alt key delivers a second code, dropped here.
Received readKeyPress(char* bytes) {
    int key = _getch();
    if ((key == 0 || key == 0xE0) && _kbhit()) {
        _getch();
    }
    if (key == 3) {  // Ctrl-C, which _getch delivers as a key
        restoreConsole();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    bytes[0] = static_cast<char>(key);
    return Received{Fill::kData, 1, 0};
}

}  // namespace

// One reading mechanism for consoles, files and pipes alike: ReadFile on the handle.
Received readInput(char* bytes, std::size_t size) {
    if (keyMode && inputIsConsole) {
        return readKeyPress(bytes);
    }
    for (;;) {
        DWORD n = 0;
        if (ReadFile(inputHandle, bytes, static_cast<DWORD>(size), &n, nullptr)) {
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
