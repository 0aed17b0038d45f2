// School files on disk: opened for reading, and written so that the old contents
// survive any failure. Which names may be written, how the program's own streams
// and files that are not regular are treated, what a replaced file keeps: the
// rules live here, the same on every system, over the services of platform.h.
#include <cerrno>
#include <chrono>

#include "console.h"
#include "console/platform.h"

namespace {

// The program's own streams as they were at start: standard input, output, error.
struct StandardStreams {
    FileFacts facts[3];
    bool open[3] = {false, false, false};
};
StandardStreams standardStreams;

// The system takes no NUL inside a name, and an empty name names nothing.
int nameProblem(const std::string& name) {
    if (name.empty()) {
        return ENOENT;
    }
    return name.find('\0') != std::string::npos ? EINVAL : 0;
}

bool sameFile(const FileFacts& a, const FileFacts& b) {
    return a.identified && b.identified && a.device == b.device && a.inode == b.inode;
}

// Which of the program's streams the file is (0, 1 or 2), or -1.
int standardStreamOf(const FileFacts& facts) {
    for (int k = 0; k < 3; ++k) {
        if (standardStreams.open[k] && sameFile(standardStreams.facts[k], facts)) {
            return k;
        }
    }
    return -1;
}

// A name that fails to open says "Is a directory" for a folder on every system.
int openProblem(const std::string& name, int error) {
    FileFacts facts;
    return describeName(name, &facts) == 0 && facts.kind == FileFacts::kFolder ? EISDIR : error;
}

// A stream over the descriptor, which is closed when none can be made.
std::FILE* streamOver(int fd, const char* mode, int* reason) {
    std::FILE* stream = fdopen(fd, mode);
    if (!stream) {
        *reason = errno != 0 ? errno : EMFILE;
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

// A regular file is replaced by a temporary one beside it that takes over what
// the old one had: owner and group where the system allows, the permissions, and
// every extended attribute (the access control list among them) or nothing is
// written. The set-id and sticky bits come back only once the records are
// written, since a write clears them, and only when owner and group were kept.
int beginReplacement(int oldFd, const FileFacts* old, AtomicWrite* file) {
    int fd = -1;
    int error = createTemporary(file->target, old == nullptr, &file->temporary, &fd);
    if (error != 0) {
        file->temporary.clear();
        return error;
    }
    if (old) {
        bool ownerKept = copyOwner(fd, *old);
        error = setPermissions(fd, old->mode & 0777);
        file->finalMode = ownerKept ? old->mode & 07777 : 0;
        if (error == 0) {
            error = copyExtendedAttributes(oldFd, fd);
        }
    }
    if (error != 0) {
        closeFile(fd);
        return error;
    }
    file->stream = streamOver(fd, "wb", &error);
    return error;
}

enum class Way { kInPlace, kThroughOutput, kThroughError, kReplace };

// How the records reach an existing file. Nothing that comes back to the
// program's own streams is replaced: output and error take the records after what
// they hold, input refuses them. A terminal is no place for binary records;
// devices and pipes take them in place.
int chooseWay(const FileFacts& facts, Way* way) {
    if (facts.terminal) {
        return kReasonTerminal;
    }
    int stream = standardStreamOf(facts);
    if (stream == 0 && facts.kind != FileFacts::kCharacterDevice) {
        return EBUSY;  // the records would come back as input, or fill the pipe for ever
    }
    *way = stream == 1                         ? Way::kThroughOutput
           : stream == 2                       ? Way::kThroughError
           : facts.kind == FileFacts::kRegular ? Way::kReplace
                                               : Way::kInPlace;
    return 0;
}

// An existing file, open as `fd`, which this closes unless the records go to it.
int beginOnExisting(int fd, bool link, AtomicWrite* file) {
    FileFacts facts;
    Way way = Way::kInPlace;
    int error = describeFile(fd, &facts);
    if (error == 0) {
        error = chooseWay(facts, &way);
    }
    if (error == 0 && way == Way::kInPlace) {
        file->stream = streamOver(fd, "wb", &error);
        return error;
    }
    if (error == 0 && way != Way::kReplace) {
        std::fflush(stdout);
        file->stream = way == Way::kThroughOutput ? stdout : stderr;
    }
    // Replace exactly the file that was opened, wherever a link leads; a link
    // whose file cannot be named is refused rather than replaced by a file.
    if (error == 0 && way == Way::kReplace && link) {
        error = resolveName(file->target, &file->target);
    }
    FileFacts now;
    if (error == 0 && way == Way::kReplace &&
        (describeName(file->target, &now) != 0 || (facts.identified && !sameFile(now, facts)))) {
        error = EBUSY;  // moved meanwhile: whatever is there now is not ours
    }
    if (error == 0 && way == Way::kReplace) {
        error = beginReplacement(fd, &facts, file);
    }
    closeFile(fd);
    return error;
}

}  // namespace

void noteStandardStreams() {
    unsigned closed = holdClosedStandardStreams();
    for (int k = 0; k < 3; ++k) {
        standardStreams.open[k] =
            (closed & (1u << k)) == 0 && describeFile(k, &standardStreams.facts[k]) == 0;
    }
}

std::FILE* openForReading(const std::string& name, int* reason) {
    int fd = -1;
    FileFacts facts;
    *reason = nameProblem(name);
    if (*reason == 0 && (*reason = openFile(name, Access::kRead, &fd)) != 0) {
        *reason = openProblem(name, *reason);
    }
    // A folder opens on POSIX and is refused on Windows: either way it says so.
    if (*reason == 0 && describeFile(fd, &facts) == 0 && facts.kind == FileFacts::kFolder) {
        closeFile(fd);
        *reason = EISDIR;
    }
    return *reason == 0 ? streamOver(fd, "rb", reason) : nullptr;
}

bool namesFileOf(const std::string& name, std::FILE* stream) {
    FileFacts named, open;
    return nameProblem(name) == 0 && describeName(name, &named) == 0 &&
           describeFile(fileno(stream), &open) == 0 && sameFile(named, open);
}

int beginAtomicWrite(const std::string& name, AtomicWrite* file) {
    *file = AtomicWrite{};
    file->target = name;
    if (int problem = nameProblem(name)) {
        return problem;
    }
    // The kernel's own rules decide whether a link may be followed here.
    bool link = isSymbolicLink(name);
    int fd = -1;
    int error = openFile(name, Access::kWrite, &fd);
    if (error == ENOENT && link) {
        // A dangling link: the file it names is created, or the write is refused.
        error = openFile(name, Access::kWriteOrCreate, &fd);
        file->createdTarget = error == 0;
    }
    if (error == ENOENT && !link) {
        error = beginReplacement(-1, nullptr, file);  // a new file
    } else if (error != 0) {
        return openProblem(name, error);
    } else {
        error = beginOnExisting(fd, link, file);
    }
    if (error != 0) {
        abandonAtomicWrite(file);
    }
    return error;
}

int finishAtomicWrite(AtomicWrite* file) {
    int error = std::fflush(file->stream) != 0 ? errno : std::ferror(file->stream) ? EIO : 0;
    bool replacing = !file->temporary.empty();
    if (error == 0 && replacing && (file->finalMode & 07000) != 0) {
        error = setPermissions(fileno(file->stream), file->finalMode);
    }
    if (error == 0 && replacing) {
        error = syncToDisk(fileno(file->stream));
    }
    if (file->stream != stdout && file->stream != stderr && std::fclose(file->stream) != 0 &&
        error == 0) {
        error = errno;
    }
    file->stream = nullptr;
    if (error == 0 && replacing) {
        error = putInPlace(file->temporary, file->target);
    }
    if (error == 0) {
        file->temporary.clear();
        file->createdTarget = false;
    } else {
        abandonAtomicWrite(file);
    }
    return error;
}

void abandonAtomicWrite(AtomicWrite* file) {
    if (file->stream && file->stream != stdout && file->stream != stderr) {
        std::fclose(file->stream);
    }
    file->stream = nullptr;
    if (!file->temporary.empty()) {
        removeFile(file->temporary);
        file->temporary.clear();
    }
    if (file->createdTarget) {
        removeFile(file->target);
        file->createdTarget = false;
    }
}

// A torn end is the surest sign of a file that holds no schools at all.
void reportTornEnd(const std::string& name, std::size_t bytes) {
    if (bytes == 1) {
        printError("%s: The last byte is not a whole school record and was not loaded\n",
                   name.c_str());
    } else {
        printError("%s: The last %d bytes are not a whole school record and were not loaded\n",
                   name.c_str(), static_cast<int>(bytes));
    }
}
