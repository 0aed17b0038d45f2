// The pieces that both roads of a write share (a stream over a descriptor, a
// temporary file beside the target, a folder that refuses it), and the road
// through the file itself, after a copy of its old contents.
#include "files/write_through.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "system/last_error.h"
#include "system/platform.h"
#include "translate.h"

bool sameFile(const FileFacts& a, const FileFacts& b) {
    return a.identified && b.identified && a.device == b.device && a.inode == b.inode;
}

// A stream over the descriptor, which is closed when none can be made.
std::FILE* streamOver(int fd, const char* mode, int* reason) {
    errno = 0;
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        *reason = lastError();
        closeFile(fd);
    }
    return stream;
}

// ".NAME.XXXXXX" beside the target, the name within the system's limit for one
// name part (255 bytes), the X's a different draw for each attempt.
int createTemporary(const std::string& target, bool fresh, std::string* name, int* fd) {
    std::size_t separator = target.find_last_of("/\\:");
    std::size_t baseAt = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t kRoomForBase = 255 - sizeof "..XXXXXX" + 1;
    std::string stem = target.substr(0, baseAt) + "." + target.substr(baseAt, kRoomForBase) + ".";
    static std::uint64_t draw =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        draw = draw * 6364136223846793005u + 1442695040888963407u;
        *name = stem;
        for (int k = 0; k < 6; ++k) {
            name->push_back("abcdefghijklmnopqrstuvwxyz0123456789"[(draw >> (20 + 5 * k)) % 36]);
        }
        error = createTemporaryFile(*name, fresh, fd);
    }
    return error;
}

// A folder that refuses a file to be created in it is the obstacle, not the file.
void noteFolderFault(int error, Reason::Own what, AtomicWrite* file) {
    if (error == EACCES || error == EPERM) {
        file->folderFault = what;
    }
}

// The records go through the file itself, which keeps its inode and all it has.
// Its old contents first go to a copy beside it, on the disk before the file is
// touched, which a failure or a fatal signal puts back.
int beginWriteThrough(int fd, const FileFacts& facts, AtomicWrite* file) {
    int readFd = -1, copyFd = -1, streamFd = -1;
    FileFacts read;
    int error = openFile(file->target, Access::kRead, &readFd);
    if (error != 0) {
        return error;  // unread, the old contents could not be kept
    }
    if (describeFile(readFd, &read) != 0 || (facts.identified && !sameFile(read, facts))) {
        error = EBUSY;
    }
    if (error == 0 && (error = createTemporary(file->target, false, &file->copy, &copyFd)) != 0) {
        file->copy.clear();
        noteFolderFault(error, Reason::kCopy, file);
    }
    if (error == 0) {
        file->copyFd = copyFd;
        error = copyExtendedAttributes(-1, copyFd);  // nothing from the folder's default
    }
    if (error == 0 && (error = copyContents(readFd, copyFd)) == 0 &&
        (error = syncToDisk(copyFd)) == 0) {
        error = syncFolderOf(file->copy);
    }
    closeFile(readFd);
    if (error == 0 && (error = duplicateFile(fd, &streamFd)) == 0 &&
        (error = duplicateFile(fd, &file->targetFd)) != 0) {
        closeFile(streamFd);
    }
    if (error == 0) {
        guardWriteThrough(file->targetFd, copyFd);
        file->stream = streamOver(streamFd, "wb", &error);
    }
    return error;
}

// The copy goes once it is needed no more; one that stays is named, since it
// holds the old contents, and the program's status says so.
void dropCopy(AtomicWrite* file) {
    if (!file->copy.empty()) {
        if (int error = removeFile(file->copy)) {
            printError(_("%s: warning: %s holds its old contents, and could not be removed: %s\n"),
                       file->target.c_str(), file->copy.c_str(), std::strerror(error));
            noteStaleCopy();
        }
        file->copy.clear();
    }
    if (file->copyFd >= 0) {
        closeFile(file->copyFd);
        file->copyFd = -1;
    }
}

// Gives up a write through the file: its old contents go back, and the copy
// stays, named, only where they could not.
void putBackOldContents(AtomicWrite* file) {
    if (file->targetFd >= 0) {
        bool back =
            copyContents(file->copyFd, file->targetFd) == 0 && syncToDisk(file->targetFd) == 0;
        guardWriteThrough(-1, -1);
        if (!back) {
            printError(_("%s: its old contents are kept in %s\n"), file->target.c_str(),
                       file->copy.c_str());
            file->copy.clear();
        }
        closeFile(file->targetFd);
        file->targetFd = -1;
    }
    dropCopy(file);
}
