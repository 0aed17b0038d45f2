// The file calls on Windows that opening school files and replacing one with
// MoveFileEx need.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "system/file_calls.h"
#include "system/last_error.h"
#include "system/windows_calls.h"

// The errno that perror explains for a failed Windows call.
int errnoOf(unsigned long error) {
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

bool isConsole(void* handle) {
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

// No named pipes among plain file names: an ordinary binary open never waits.
int openFile(const std::string& name, Access access, int* fd) {
    int flags = access == Access::kRead    ? _O_RDONLY
                : access == Access::kWrite ? _O_WRONLY
                                           : _O_WRONLY | _O_CREAT;
    *fd = _open(name.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return *fd < 0 ? lastError() : 0;
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
        return lastError();
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
        return lastError();
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

namespace {

// The temporary file of a write in progress, removed when the program ends first.
// The lock is held by the one who removes it, and then for good: the write cannot
// put the file in place meanwhile. A slim lock needs no setting up.
char liveTemporary[MAX_PATH * 4];
bool temporaryLive = false;
SRWLOCK temporaryLock = SRWLOCK_INIT;

}  // namespace

// Open for deleting and shared for it, so that the console's handler can remove it.
int createTemporaryFile(const std::string& name, bool, int* fd) {
    if (name.size() >= sizeof liveTemporary) {
        return ENAMETOOLONG;
    }
    AcquireSRWLockExclusive(&temporaryLock);
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
    ReleaseSRWLockExclusive(&temporaryLock);
    return error;
}

void removeLiveTemporary() {
    AcquireSRWLockExclusive(&temporaryLock);  // kept: the program is ending
    if (temporaryLive) {
        DeleteFileA(liveTemporary);  // gone once the last handle is closed
    }
}

// There is no owner, group or permission bit to keep.
bool copyOwner(int, const FileFacts&) {
    return true;
}

int setPermissions(int, unsigned) {
    return 0;
}

int syncToDisk(int fd) {
    return _commit(fd) == 0 ? 0 : lastError();
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
    return *copy < 0 ? lastError() : 0;
}

int endFileHere(int fd) {
    return _chsize_s(fd, _telli64(fd)) == 0 ? 0 : lastError();
}

// std::rename does not replace an existing file on Windows.
int putInPlace(const std::string& temporary, const std::string& target) {
    AcquireSRWLockExclusive(&temporaryLock);
    int error = MoveFileExA(temporary.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                    ? 0
                    : errnoOf(GetLastError());
    temporaryLive = temporaryLive && error != 0;
    ReleaseSRWLockExclusive(&temporaryLock);
    return error;
}

int removeFile(const std::string& name) {
    AcquireSRWLockExclusive(&temporaryLock);
    int error = _unlink(name.c_str()) == 0 ? 0 : errno;
    if (temporaryLive && name == liveTemporary) {
        temporaryLive = false;
    }
    ReleaseSRWLockExclusive(&temporaryLock);
    return error;
}
