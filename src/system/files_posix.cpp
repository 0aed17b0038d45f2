// The file calls on POSIX systems that opening school files and replacing one
// with rename(2) or writing through it need, and the temporary file that a fatal
// signal must not leave (or, for a file written through, must put back).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "system/file_calls.h"
#include "system/last_error.h"

namespace {

// The temporary file of a write in progress, removed if a signal ends the program.
char liveTemporary[PATH_MAX];
volatile sig_atomic_t temporaryLive = 0;
// A file written through, and the copy of its old contents (the live temporary)
// that a signal puts back into it; -1 when none.
volatile sig_atomic_t liveTarget = -1;
volatile sig_atomic_t liveCopy = -1;

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

void takeFacts(const struct stat& info, FileFacts* facts) {
    facts->kind = S_ISREG(info.st_mode)   ? FileFacts::kRegular
                  : S_ISDIR(info.st_mode) ? FileFacts::kFolder
                  : S_ISCHR(info.st_mode) ? FileFacts::kCharacterDevice
                                          : FileFacts::kOther;
    facts->identified = true;
    facts->device = info.st_dev;
    facts->inode = info.st_ino;
    facts->owner = info.st_uid;
    facts->group = info.st_gid;
    facts->mode = info.st_mode & 07777;
}

}  // namespace

// A copy that cannot be put back stays: it holds the only old contents.
void removeLiveTemporary() {
    if (liveTarget >= 0 && (copyContents(liveCopy, liveTarget) != 0 || fsync(liveTarget) != 0)) {
        return;
    }
    if (temporaryLive) {
        unlink(liveTemporary);
    }
}

/* ==== Files =============================================================== */

// Opens without waiting for a partner: a named pipe that nobody reads fails to open
// for writing, and one that nobody writes reads as empty. Reads and writes wait
// as usual afterwards.
int openFile(const std::string& name, Access access, int* fd) {
    int flags = access == Access::kRead    ? O_RDONLY
                : access == Access::kWrite ? O_WRONLY | O_NOCTTY
                                           : O_WRONLY | O_NOCTTY | O_CREAT;
    *fd = open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (*fd < 0) {
        return lastError();
    }
    fcntl(*fd, F_SETFL, fcntl(*fd, F_GETFL) & ~O_NONBLOCK);
    return 0;
}

void closeFile(int fd) {
    close(fd);
}

int describeFile(int fd, FileFacts* facts) {
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return lastError();
    }
    takeFacts(info, facts);
    facts->terminal = isatty(fd);
    return 0;
}

int describeName(const std::string& name, FileFacts* facts) {
    struct stat info;
    if (stat(name.c_str(), &info) != 0) {
        return lastError();
    }
    takeFacts(info, facts);
    return 0;
}

bool isSymbolicLink(const std::string& name) {
    struct stat link;
    return lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
}

int resolveName(const std::string& name, std::string* resolved) {
    char path[PATH_MAX];
    if (!realpath(name.c_str(), path)) {
        return lastError();
    }
    *resolved = path;
    return 0;
}

unsigned holdClosedStandardStreams() {
    unsigned closed = 0;
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && lastError() == EBADF) {
            // Open the other way round, so that a read or write fails as on a closed one.
            int standIn = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
            if (standIn >= 0 && standIn != fd) {
                dup2(standIn, fd);
                close(standIn);
            }
            closed |= 1u << fd;
        }
    }
    return closed;
}

int createTemporaryFile(const std::string& name, bool fresh, int* fd) {
    if (name.size() >= sizeof liveTemporary) {
        return ENAMETOOLONG;
    }
    sigset_t before;
    holdSignals(&before);
    *fd =
        open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fresh ? 0666 : 0600);
    int error = *fd < 0 ? lastError() : 0;
    if (*fd >= 0) {
        std::memcpy(liveTemporary, name.c_str(), name.size() + 1);
        temporaryLive = 1;
    }
    releaseSignals(&before);
    return error;
}

bool copyOwner(int fd, const FileFacts& old) {
    return fchown(fd, old.owner, old.group) == 0;
}

int setPermissions(int fd, unsigned mode) {
    return fchmod(fd, mode) == 0 ? 0 : lastError();
}

int syncToDisk(int fd) {
    return fsync(fd) == 0 ? 0 : lastError();
}

// Only async-signal-safe calls: a signal handler puts a file back with it.
int copyContents(int from, int to) {
    char buffer[4096];
    off_t at = 0;
    for (;;) {
        ssize_t got = pread(from, buffer, sizeof buffer, at);
        if (got < 0 && lastError() == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got < 0 ? lastError() : ftruncate(to, at) == 0 ? 0 : lastError();
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put =
                pwrite(to, buffer + done, static_cast<std::size_t>(got - done), at + done);
            if (put < 0 && lastError() == EINTR) {
                continue;
            }
            if (put <= 0) {
                return put < 0 ? lastError() : EIO;
            }
            done += put;
        }
        at += got;
    }
}

int syncFolderOf(const std::string& name) {
    std::size_t separator = name.find_last_of('/');
    std::string folder = separator == std::string::npos ? "." : name.substr(0, separator + 1);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return lastError();
    }
    int error = fsync(fd) == 0 ? 0 : lastError();
    close(fd);
    return error == EINVAL ? 0 : error;  // a file system that syncs no folders
}

void guardWriteThrough(int target, int copy) {
    sigset_t before;
    holdSignals(&before);
    liveCopy = copy;
    liveTarget = target;
    temporaryLive = target >= 0;
    releaseSignals(&before);
}

int duplicateFile(int fd, int* copy) {
    *copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return *copy < 0 ? lastError() : 0;
}

int endFileHere(int fd) {
    off_t at = lseek(fd, 0, SEEK_CUR);
    return at >= 0 && ftruncate(fd, at) == 0 ? 0 : lastError();
}

int putInPlace(const std::string& temporary, const std::string& target) {
    sigset_t before;
    holdSignals(&before);
    int error = std::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : lastError();
    if (error == 0) {
        temporaryLive = 0;
    }
    releaseSignals(&before);
    return error;
}

int removeFile(const std::string& name) {
    int error = unlink(name.c_str()) == 0 ? 0 : lastError();
    if (temporaryLive && name == liveTemporary) {
        temporaryLive = 0;
    }
    return error;
}
