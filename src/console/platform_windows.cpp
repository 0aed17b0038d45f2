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
#include <cstring>

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

// The temporary file of a write in progress, removed when the console ends the
// program. The lock is held by the console's own thread while it removes it, and
// then for good: the write cannot put a file in place meanwhile.
char liveTemporary[MAX_PATH * 4];
bool temporaryLive = false;
CRITICAL_SECTION temporaryLock;

// Called on a thread of its own (Ctrl-C, Ctrl-Break, the window closed); the
// default handler then ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    restoreConsole();
    EnterCriticalSection(&temporaryLock);
    if (temporaryLive) {
        DeleteFileA(liveTemporary);  // gone once the last handle is closed
    }
    return FALSE;
}

void watchConsoleEvents() {
    static bool watching = false;
    if (!watching) {
        watching = true;
        InitializeCriticalSection(&temporaryLock);
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
    watchConsoleEvents();
    return false;
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

}  // namespace

// No inode numbers to tell files apart, and no owners or permission bits to keep.
int describeFile(int fd, FileFacts* facts) {
    struct _stat64 info;
    if (_fstat64(fd, &info) != 0) {
        return errno;
    }
    facts->kind = kindOf(info.st_mode);
    facts->terminal = isConsole(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    return 0;
}

int describeName(const std::string& name, FileFacts* facts) {
    struct _stat64 info;
    if (_stat64(name.c_str(), &info) != 0) {
        return errno;
    }
    facts->kind = kindOf(info.st_mode);
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

// Open for deleting and shared for it, so that the console's handler can remove it.
int createTemporaryFile(const std::string& name, bool, int* fd) {
    if (name.size() >= sizeof liveTemporary) {
        return ENAMETOOLONG;
    }
    EnterCriticalSection(&temporaryLock);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    int error = file == INVALID_HANDLE_VALUE
                    ? (GetLastError() == ERROR_FILE_EXISTS ? EEXIST : errnoOf(GetLastError()))
                    : 0;
    *fd = error == 0 ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY) : -1;
    if (error == 0 && *fd < 0) {
        CloseHandle(file);
        error = EMFILE;
    }
    if (error == 0) {
        std::memcpy(liveTemporary, name.c_str(), name.size() + 1);
        temporaryLive = true;
    }
    LeaveCriticalSection(&temporaryLock);
    return error;
}

// There is no owner, group or permission bit to keep.
bool copyOwner(int, const FileFacts&) {
    return true;
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

// A file is always replaced here (copyOwner keeps all): these serve no write.
int copyContents(int, int) {
    return ENOSYS;
}

int syncFolderOf(const std::string&) {
    return 0;
}

void guardWriteThrough(int, int) {}

int duplicateFile(int fd, int* copy) {
    *copy = _dup(fd);
    return *copy < 0 ? errno : 0;
}

int endFileHere(int fd) {
    return _chsize_s(fd, _telli64(fd)) == 0 ? 0 : errno;
}

// std::rename does not replace an existing file on Windows.
int putInPlace(const std::string& temporary, const std::string& target) {
    EnterCriticalSection(&temporaryLock);
    int error = MoveFileExA(temporary.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                    ? 0
                    : errnoOf(GetLastError());
    temporaryLive = temporaryLive && error != 0;
    LeaveCriticalSection(&temporaryLock);
    return error;
}

void removeFile(const std::string& name) {
    EnterCriticalSection(&temporaryLock);
    _unlink(name.c_str());
    if (temporaryLive && name == liveTemporary) {
        temporaryLive = false;
    }
    LeaveCriticalSection(&temporaryLock);
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
