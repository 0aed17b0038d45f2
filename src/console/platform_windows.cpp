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

// Without CR LF translation; the console's code pages stay as they were found.
void prepareFileRun() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
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

/* ==== Files =============================================================== */

// No named pipes among plain file names: an ordinary binary open never waits.
int openFile(const std::string& name, Access access, int* fd) {
    int flags = access == Access::kRead    ? _O_RDONLY
                : access == Access::kWrite ? _O_WRONLY
                                           : _O_WRONLY | _O_CREAT;
    *fd = _open(name.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return *fd < 0 ? errno : 0;
}

void closeFile(int fd) {
    _close(fd);
}

namespace {

FileFacts::Kind kindOf(unsigned mode) {
    switch (mode & _S_IFMT) {
        case _S_IFREG:
            return FileFacts::kRegular;
        case _S_IFDIR:
            return FileFacts::kFolder;
        case _S_IFCHR:
            return FileFacts::kCharacterDevice;
        default:
            return FileFacts::kOther;
    }
}

// A file on a disk is told apart by its volume and its index there, as an inode.
void identify(HANDLE handle, FileFacts* facts) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(handle, &info)) {
        facts->identified = true;
        facts->device = info.dwVolumeSerialNumber;
        facts->inode = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
}

}  // namespace

// No owners or permission bits to keep.
int describeFile(int fd, FileFacts* facts) {
    struct _stat64 info;
    if (_fstat64(fd, &info) != 0) {
        return errno;
    }
    facts->kind = kindOf(info.st_mode);
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    facts->terminal = isConsole(handle);
    identify(handle, facts);
    return 0;
}

int describeName(const std::string& name, FileFacts* facts) {
    struct _stat64 info;
    if (_stat64(name.c_str(), &info) != 0) {
        return errno;
    }
    facts->kind = kindOf(info.st_mode);
    // Opened for no access at all, which any file and folder allows.
    HANDLE handle =
        CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    identify(handle, facts);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return 0;
}

bool isSymbolicLink(const std::string&) {
    return false;
}

int resolveName(const std::string& name, std::string* resolved) {
    *resolved = name;
    return 0;
}

unsigned holdClosedStandardStreams() {
    return 0;
}

int createTemporaryFile(const std::string& name, bool, int* fd) {
    *fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
    return *fd < 0 ? errno : 0;
}

bool copyOwner(int, const FileFacts&) {
    return false;
}

int setPermissions(int, unsigned) {
    return 0;
}

int copyExtendedAttributes(int, int) {
    return 0;
}

int syncToDisk(int fd) {
    return _commit(fd) == 0 ? 0 : errno;
}

// std::rename does not replace an existing file on Windows.
int putInPlace(const std::string& temporary, const std::string& target) {
    return MoveFileExA(temporary.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : errnoOf(GetLastError());
}

void removeFile(const std::string& name) {
    _unlink(name.c_str());
}

int screenRows() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return 0;
    }
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}
