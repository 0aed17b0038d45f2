// School files on disk: opened for reading, and written so that the old contents
// survive any failure. Which names may be written, how the program's own streams
// and files that are not regular are treated, what a replaced file keeps: the
// rules live here, the same on every system, over the services of platform.h.
#include "files/school_files.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "failures.h"
#include "files/write_through.h"
#include "files/write_way.h"
#include "system/file_calls.h"
#include "system/last_error.h"
#include "system/platform.h"
#include "translate.h"

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

// The folder of the name, as it gives it: "ro/", or "./" for a bare name.
std::string folderOf(const std::string& name) {
    std::size_t separator = name.find_last_of("/\\:");
    return separator == std::string::npos ? "./" : name.substr(0, separator + 1);
}

// The replacement takes over all that the old file had: owner and group, its
// extended attributes exactly (the access control list among them), then the
// permissions; a set-id or sticky bit comes back only once the records are
// written, since a write clears it.
bool takeOver(int oldFd, const FileFacts& old, int fd) {
    return copyOwner(fd, old) && copyExtendedAttributes(oldFd, fd) == 0 &&
           setPermissions(fd, old.mode & 0777) == 0;
}

// A regular file is replaced by a temporary one beside it that takes over what
// the old one had. Where it cannot, `kept` turns false and nothing is left.
int beginReplacement(int oldFd, const FileFacts* old, AtomicWrite* file, bool* kept) {
    int fd = -1;
    int error = createTemporary(file->target, old == nullptr, &file->temporary, &fd);
    if (error != 0) {
        file->temporary.clear();
        noteFolderFault(error, Reason::kTemporary, file);
        return error;
    }
    if (old && !takeOver(oldFd, *old, fd)) {
        closeFile(fd);
        removeFile(file->temporary);
        file->temporary.clear();
        *kept = false;
        return 0;
    }
    file->finalMode = old ? old->mode & 07777 : 0;
    file->stream = streamOver(fd, "wb", &error);
    return error;
}

// An existing file, open as `fd`, which this closes unless the records go to it.
// Replace exactly the file that was opened, wherever a link leads; a link whose
// file cannot be named is refused rather than replaced by a file.
int beginReplacingOpened(int fd, bool link, const FileFacts& facts, AtomicWrite* file) {
    int error = link ? resolveName(file->target, &file->target) : 0;
    FileFacts now;
    if (error == 0 &&
        (describeName(file->target, &now) != 0 || (facts.identified && !sameFile(now, facts)))) {
        error = EBUSY;  // moved meanwhile: whatever is there now is not ours
    }
    bool kept = true;
    if (error == 0) {
        error = beginReplacement(fd, &facts, file, &kept);
    }
    if (error == 0 && !kept) {
        error = beginWriteThrough(fd, facts, file);
    }
    return error;
}

Reason beginOnExisting(int fd, bool link, AtomicWrite* file) {
    FileFacts facts;
    Reason refusal;
    int error = describeFile(fd, &facts);
    Way way = error == 0 ? chooseWay(facts, standardStreamOf(facts), &refusal) : Way::kRefused;
    switch (way) {
        case Way::kInPlace:
            file->stream = streamOver(fd, "wb", &error);
            return Reason{error};
        case Way::kThroughOutput:
            std::fflush(stdout);
            file->stream = stdout;
            break;
        case Way::kThroughError:
            std::fflush(stdout);
            file->stream = stderr;
            break;
        case Way::kReplace:
            error = beginReplacingOpened(fd, link, facts, file);
            break;
        case Way::kRefused:
            closeFile(fd);
            return error == 0 ? refusal : Reason{error};
    }
    closeFile(fd);
    return Reason{error};
}

}  // namespace

// Nothing that comes back to the program's own streams is replaced: output and
// error take the records after what they hold, input refuses them. Devices and
// pipes take them in place.
Way chooseWay(const FileFacts& facts, int stream, Reason* refusal) {
    if (facts.terminal) {
        *refusal = Reason{0, Reason::kTerminal};  // no place for binary records
        return Way::kRefused;
    }
    if (stream == 0 && facts.kind != FileFacts::kCharacterDevice) {
        *refusal =
            Reason{EBUSY};  // the records would come back as input, or fill the pipe for ever
        return Way::kRefused;
    }
    return stream == 1                         ? Way::kThroughOutput
           : stream == 2                       ? Way::kThroughError
           : facts.kind == FileFacts::kRegular ? Way::kReplace
                                               : Way::kInPlace;
}

void noteStandardStreams() {
    unsigned closed = holdClosedStandardStreams();
    for (int k = 0; k < 3; ++k) {
        standardStreams.open[k] =
            (closed & (1u << k)) == 0 && describeFile(k, &standardStreams.facts[k]) == 0;
    }
}

void setBinaryStreams() {
    watchMemory();
    prepareFileRun();
    noteStandardStreams();
}

std::FILE* openForReading(const std::string& name, Reason* reason) {
    int fd = -1;
    FileFacts facts;
    int error = nameProblem(name);
    if (error == 0 && (error = openFile(name, Access::kRead, &fd)) != 0) {
        error = openProblem(name, error);
    }
    // A folder opens on POSIX and is refused on Windows: either way it says so.
    if (error == 0 && describeFile(fd, &facts) == 0 && facts.kind == FileFacts::kFolder) {
        closeFile(fd);
        error = EISDIR;
    }
    std::FILE* stream = error == 0 ? streamOver(fd, "rb", &error) : nullptr;
    *reason = Reason{error};
    return stream;
}

long long schoolsHeldBy(const std::string& name) {
    Reason reason;
    std::FILE* stream = openForReading(name, &reason);
    if (!stream) {
        return 0;
    }
    FileFacts facts;
    long long held = 0;
    if (describeFile(fileno(stream), &facts) == 0 && facts.kind == FileFacts::kRegular &&
        std::fseek(stream, 0, SEEK_END) == 0) {
        held = std::ftell(stream) / 112;  // the bytes of one school record
    }
    std::fclose(stream);
    return held;
}

bool isStandardOutput(std::FILE* stream) {
    FileFacts facts;
    return describeFile(fileno(stream), &facts) == 0 && facts.kind == FileFacts::kRegular &&
           standardStreamOf(facts) == 1;
}

bool namesFileOf(const std::string& name, std::FILE* stream) {
    FileFacts named, open;
    return nameProblem(name) == 0 && describeName(name, &named) == 0 &&
           describeFile(fileno(stream), &open) == 0 && sameFile(named, open);
}

Reason beginAtomicWrite(const std::string& name, AtomicWrite* file) {
    *file = AtomicWrite{};
    file->target = name;
    if (int problem = nameProblem(name)) {
        return Reason{problem};
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
    Reason reason;
    if (error == ENOENT && !link) {
        bool kept = true;
        reason.error = beginReplacement(-1, nullptr, file, &kept);  // a new file
    } else if (error != 0) {
        return Reason{openProblem(name, error)};
    } else {
        reason = beginOnExisting(fd, link, file);
    }
    if (reason.error != 0 && file->folderFault != Reason::kNone) {
        reason.own = file->folderFault;
        reason.folder = folderOf(file->target);
    }
    if (failed(reason)) {
        abandonAtomicWrite(file);
    }
    return reason;
}

Reason finishAtomicWrite(AtomicWrite* file) {
    errno = 0;
    int error = std::fflush(file->stream) != 0 ? lastError() : std::ferror(file->stream) ? EIO : 0;
    bool replacing = !file->temporary.empty(), through = file->targetFd >= 0;
    if (error == 0 && replacing && (file->finalMode & 07000) != 0) {
        error = setPermissions(fileno(file->stream), file->finalMode);
    }
    if (error == 0 && through) {
        error = endFileHere(fileno(file->stream));
    }
    if (error == 0 && (replacing || through)) {
        error = syncToDisk(fileno(file->stream));
    }
    errno = 0;
    if (file->stream != stdout && file->stream != stderr && std::fclose(file->stream) != 0 &&
        error == 0) {
        error = lastError();
    }
    file->stream = nullptr;
    if (error == 0 && replacing) {
        error = putInPlace(file->temporary, file->target);
    }
    if (error == 0 && through) {
        guardWriteThrough(-1, -1);  // the new contents are on the disk: the copy goes
        closeFile(file->targetFd);
        file->targetFd = -1;
        dropCopy(file);
    }
    if (error == 0) {
        file->temporary.clear();
        file->createdTarget = false;
    } else {
        abandonAtomicWrite(file);
    }
    return Reason{error};
}

void abandonAtomicWrite(AtomicWrite* file) {
    if (file->stream && file->stream != stdout && file->stream != stderr) {
        std::fclose(file->stream);
    }
    file->stream = nullptr;
    putBackOldContents(file);
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
        printError(_("%s: The last byte is not a whole school record and was not loaded\n"),
                   name.c_str());
    } else {
        printError(_("%s: The last %d bytes are not a whole school record and were not loaded\n"),
                   name.c_str(), static_cast<int>(bytes));
    }
}
