// The console services on Windows: the console's code pages, input by ReadFile
// for consoles, files and pipes alike, keys from _getch, and school files
// replaced with MoveFileEx.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "console/platform.h"

namespace {

/* ==== Code pages ========================================================== */

// The console's code pages are 1251 for the whole run; the ones found at start
// come back on every way out (return, exit, Ctrl-C, Ctrl-Break, closing the window).
struct CodePages {
    UINT input = 0;  // 0: no console, nothing was changed
    UINT output = 0;
};
CodePages savedCodePages;

// Called on a thread of its own; the default handler then ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    restoreConsole();
    return FALSE;
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

/* ==== Input =============================================================== */

HANDLE inputHandle = GetStdHandle(STD_INPUT_HANDLE);
bool inputIsConsole = false;

bool isConsole(HANDLE handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

// The console shows code page 1251 itself: texts pass through unconverted.
bool prepareConsole() {
    setCodePages();
    return false;
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

// One reading mechanism for consoles, files and pipes alike: ReadFile on the handle.
Fill readInput(char* bytes, std::size_t size, std::size_t* got) {
    for (;;) {
        DWORD n = 0;
        if (ReadFile(inputHandle, bytes, static_cast<DWORD>(size), &n, nullptr)) {
            // Ctrl-Z at the start of a console line is the console's end of input.
            if (n == 0 || (inputIsConsole && bytes[0] == '\x1a')) {
                return Fill::kEnded;
            }
            *got = n;
            return Fill::kData;
        }
        DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
            return Fill::kEnded;
        }
        if (error != ERROR_OPERATION_ABORTED) {  // Ctrl-C at a console line
            errno = errnoOf(error);
            return Fill::kFailed;
        }
    }
}
int readKeyPress() {
    if (bytesWaiting()) {
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
        restoreConsole();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return key;
}
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
/* ==== School files ======================================================== */

// No named pipes among plain file names: an ordinary binary open never waits.
int openWithoutWaiting(const std::string& name, int flags) {
    return _open(name.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool syncToDisk(std::FILE* stream) {
    return _commit(_fileno(stream)) == 0;
}

// std::rename does not replace an existing file on Windows.
bool putInPlace(const std::string& temporary, const std::string& target) {
    if (MoveFileExA(temporary.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    errno = errnoOf(GetLastError());
    return false;
}

void removeTemporary(const std::string& temporary) {
    _unlink(temporary.c_str());
}

// No symbolic links and no permission bits to carry over: a read-only file is refused.
bool beginAtomicWrite(const std::string& name, AtomicWrite* file) {
    *file = AtomicWrite{};
    file->target = name;
    if (!usableName(name)) {
        return false;
    }
    struct stat info;
    bool exists = stat(name.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (exists && _access(name.c_str(), 2) != 0) {
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
