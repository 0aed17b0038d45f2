// School files on disk: opened for reading, and written atomically, so that the
// old contents survive any failure. Each platform begins an atomic write its own
// way (console/platform_*.cpp); finishing or abandoning one is the same everywhere.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console.h"
#include "console/platform.h"

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

bool adoptTemporary(int fd, const std::string& name, AtomicWrite* file) {
    file->temporary = name;
    file->stream = streamOf(fd, "wb");
    if (!file->stream) {
        abandonAtomicWrite(file);
        return false;
    }
    return true;
}

std::FILE* openForReading(const std::string& name) {
    if (!usableName(name)) {
        return nullptr;
    }
    int fd = openWithoutWaiting(name, O_RDONLY);
    int reason = errno;
    struct stat info;
    // A folder opens on POSIX and is refused on Windows: either way it says so.
    bool folder = fd >= 0 ? fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)
                          : stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (fd >= 0 && folder) {
        close(fd);
    }
    if (folder || fd < 0) {
        errno = folder ? EISDIR : reason;
        return nullptr;
    }
    return streamOf(fd, "rb");
}

bool finishAtomicWrite(AtomicWrite* file) {
    bool ok = std::fflush(file->stream) == 0 && !std::ferror(file->stream);
    if (ok && !file->temporary.empty()) {
        ok = syncToDisk(file->stream);
    }
    int reason = errno;
    if (file->stream != stdout && std::fclose(file->stream) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    file->stream = nullptr;
    if (ok && !file->temporary.empty()) {
        ok = putInPlace(file->temporary, file->target);
        if (ok) {
            file->temporary.clear();
            file->createdTarget = false;
        } else {
            reason = errno;
        }
    }
    if (!ok) {
        abandonAtomicWrite(file);
    }
    errno = reason;
    return ok;
}

void abandonAtomicWrite(AtomicWrite* file) {
    int reason = errno;
    if (file->stream && file->stream != stdout) {
        std::fclose(file->stream);
    }
    file->stream = nullptr;
    if (!file->temporary.empty()) {
        removeTemporary(file->temporary);
        file->temporary.clear();
    }
    if (file->createdTarget) {
        std::remove(file->target.c_str());
        file->createdTarget = false;
    }
    errno = reason;
}
