// Whole sessions over a school file and typed bytes. An input is the file's length (two bytes,
// little-endian), the file, then the typed bytes. The file is "f" in an empty folder beside a
// folder "d", a named pipe "p" and a read-only file "r". Each session runs on a thread that the
// program's end leaves; it must end with status 0, hold no file of the folder open and keep no
// storage but its list's, which is freed here. Nothing is synced to disk: a session waits on
// nothing but its own work, so the time limit catches hangs and never a busy disk.
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "console.h"
#include "failures.h"
#include "funcs.h"

int schoolsMain(int argc, char** argv);  // the program's main, renamed for this build
namespace fs = std::filesystem;
thread_local bool inSession = false;
void* list = nullptr;  // the last block that the session allocated
int endStatus = -1;

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void __real_free(void* block);
void* __wrap_malloc(std::size_t size) {
    return inSession ? list = __real_malloc(size) : __real_malloc(size);
}
void* __wrap_realloc(void* block, std::size_t size) {
    void* moved = __real_realloc(block, size);
    return inSession && moved ? list = moved : moved;
}
void __wrap_free(void* block) {
    if (inSession && block == list) {  // only the session's thread touches `list`
        list = nullptr;
    }
    __real_free(block);
}
// A write's fsync waits for the disk, which another process may keep busy for seconds.
int __wrap_fsync(int) {
    return 0;
}
}

void require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Typed names may point anywhere: sessions run in a folder of their own, as nobody if root.
    const char* base = std::getenv("SCHOOLS_FUZZ_DIR");
    fs::create_directories(fs::path(base && *base ? base : ".") / "sessions");
    fs::current_path(fs::path(base && *base ? base : ".") / "sessions");
    passwd* nobody = getpwnam("nobody");
    require(geteuid() != 0 || (nobody && chown(".", nobody->pw_uid, nobody->pw_gid) == 0 &&
                               setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0));
    onProgramEnd([](int status) {
        endStatus = status;
        pthread_exit(nullptr);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t skip = std::min<std::size_t>(size, 2);
    std::size_t fileSize = std::min<std::size_t>(skip < 2 ? 0 : data[0] | data[1] << 8, size - 2);
    for (const auto& entry : fs::directory_iterator(".")) {
        fs::remove_all(entry.path());
    }
    std::ofstream("f").write(reinterpret_cast<const char*>(data + skip), fileSize);
    std::ofstream("r");
    fs::permissions("r", fs::perms::owner_read);
    fs::create_directory("d");
    mkfifo("p", 0644);
    int typed = memfd_create("typed", 0);
    require(pwrite(typed, data + skip + fileSize, size - skip - fileSize, 0) >= 0);
    useInput(typed);
    resetNums();
    pthread_t session;
    int started = pthread_create(
        &session, nullptr,
        [](void*) -> void* {
            inSession = true;
            char name[] = "schools", *argv[] = {name, nullptr};
            schoolsMain(1, argv);  // ends through endProgram
            return nullptr;
        },
        nullptr);
    require(started == 0);
    pthread_join(session, nullptr);
    close(typed);
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;
        require(fs::read_symlink(fd.path(), gone).string().rfind(fs::current_path(), 0) != 0);
    }
    require(endStatus == 0);
    __real_free(list);
    list = nullptr;
    return 0;
}
