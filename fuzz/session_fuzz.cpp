// Coverage-guided fuzzing of whole sessions: each input is a school file and the
// bytes typed at the console. The first two bytes give the school file's length
// (little-endian); the file's bytes follow, then the typed bytes. The file is laid
// in an empty folder as "f", beside an empty folder "d", a named pipe "p" and a
// read-only empty file "r", and the command loop runs
// until the input ends or the user ends it.
//
// The program ends by calling exit. Here every session runs on a thread of its own
// and the end handler leaves that thread, which unwinds its frames; the list
// storage that the command loop still holds is freed by the harness afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "funcs.h"

int schoolsMain(int argc, char** argv);  // the program's main, renamed for this build

namespace {

/* ---- Blocks allocated with malloc during a session (the list storage) ---- */

thread_local bool inSession = false;
void* liveBlocks[64];
std::size_t liveCount = 0;

void track(void* block) {
    if (block && liveCount < sizeof liveBlocks / sizeof liveBlocks[0]) {
        liveBlocks[liveCount++] = block;
    }
}

void untrack(void* block) {
    for (std::size_t i = 0; i < liveCount; ++i) {
        if (liveBlocks[i] == block) {
            liveBlocks[i] = liveBlocks[--liveCount];
            return;
        }
    }
}

}  // namespace

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void __real_free(void* block);

void* __wrap_malloc(std::size_t size) {
    void* block = __real_malloc(size);
    if (inSession) {
        track(block);
    }
    return block;
}

void* __wrap_realloc(void* block, std::size_t size) {
    void* moved = __real_realloc(block, size);
    if (inSession && moved) {
        untrack(block);
        track(moved);
    }
    return moved;
}

void __wrap_free(void* block) {
    if (inSession) {
        untrack(block);
    }
    __real_free(block);
}
}

namespace {

/* ---- The session's folder ------------------------------------------------ */

std::string folder;

void removeTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                    removeTree(path + "/" + e->d_name);
                }
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void layFolder(const std::uint8_t* file, std::size_t size) {
    if (DIR* d = opendir(".")) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                removeTree(e->d_name);
            }
        }
        closedir(d);
    }
    int fd = open("f", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, file, size) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    close(fd);
    mkdir("d", 0755);
    mkfifo("p", 0644);
    close(open("r", O_WRONLY | O_CREAT, 0444));
}

// Whether a descriptor of this process still refers to something in the folder.
bool holdsFileInFolder() {
    bool holds = false;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            char target[4096];
            std::string link = std::string("/proc/self/fd/") + e->d_name;
            ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<std::size_t>(n)).rfind(folder, 0) == 0) {
                holds = true;
            }
        }
        closedir(d);
    }
    return holds;
}

/* ---- One session ---------------------------------------------------------- */

int endStatus = -1;

void leaveSession(int status) {
    endStatus = status;
    pthread_exit(nullptr);
}

void* runSession(void*) {
    inSession = true;
    char name[] = "schools";
    char* argv[] = {name, nullptr};
    schoolsMain(1, argv);
    return nullptr;  // not reached: the program always ends through endProgram
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Typed names may point anywhere: a session works in a folder of its own, and
    // as root it runs as nobody, so that it can write nowhere else that matters.
    const char* base = std::getenv("SCHOOLS_FUZZ_DIR");
    folder = std::string(base && *base ? base : ".") + "/sessions";
    mkdir(folder.c_str(), 0755);
    char resolved[4096];
    if (!realpath(folder.c_str(), resolved)) {
        std::abort();
    }
    folder = resolved;
    if (geteuid() == 0) {
        passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0 ||
            setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
            std::abort();
        }
    }
    if (chdir(folder.c_str()) != 0) {
        std::abort();
    }
    onProgramEnd(leaveSession);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t fileSize = size >= 2 ? data[0] | static_cast<std::size_t>(data[1]) << 8 : 0;
    std::size_t skip = size >= 2 ? 2 : size;
    if (fileSize > size - skip) {
        fileSize = size - skip;
    }
    layFolder(data + skip, fileSize);

    int typed = memfd_create("typed", 0);
    std::size_t inputSize = size - skip - fileSize;
    if (typed < 0 ||
        write(typed, data + skip + fileSize, inputSize) != static_cast<ssize_t>(inputSize)) {
        std::abort();
    }
    lseek(typed, 0, SEEK_SET);
    useInput(typed);
    resetNums();

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 8 << 20);
    pthread_t session;
    endStatus = -1;
    if (pthread_create(&session, &attr, runSession, nullptr) != 0) {
        std::abort();
    }
    pthread_join(session, nullptr);
    pthread_attr_destroy(&attr);
    std::fflush(stdout);
    close(typed);

    // A session ends with status 0 (the input ended, or item 7) unless the input
    // could not be read; it leaves no file open and no storage but the list's.
    if (endStatus != 0) {
        std::abort();
    }
    if (holdsFileInFolder()) {
        std::abort();
    }
    while (liveCount > 0) {
        __real_free(liveBlocks[--liveCount]);
    }
    return 0;
}
