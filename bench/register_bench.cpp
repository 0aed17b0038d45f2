// Benchmarks of the register's own operations, from 1280 up to the largest list of
// 20480 schools, with the growth of each cost fitted against the list size.
// Everything the operations print goes to /dev/null; the report goes to the
// standard output the benchmark was started with.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <ostream>
#include <string>
#include <vector>

#include "console.h"
#include "failures.h"
#include "files/school_files.h"
#include "funcs.h"

namespace {

// ---- Data -------------------------------------------------------------------

// A fixed pseudo-random sequence, so that every run sorts and filters the same list.
std::uint32_t nextRandom(std::uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

// Distinct numbers, areas 100..9999, 1..2000 students; Cyrillic in the names so
// that a listing converts them, as on a UTF-8 terminal.
std::vector<SCHOOL> makeSchools(std::int16_t n) {
    std::vector<SCHOOL> schools(static_cast<std::size_t>(n));
    std::uint32_t seed = 20480;
    for (std::int16_t i = 0; i < n; ++i) {
        SCHOOL& s = schools[static_cast<std::size_t>(i)];
        std::memset(&s, 0, sizeof s);
        std::snprintf(s.schoolname, sizeof s.schoolname, "School %d \xD3\xF7\xE8\xEB\xE8\xF9\xE5",
                      i + 1);
        std::snprintf(s.director, sizeof s.director, "Director %d \xC8\xE2\xE0\xED\xEE\xE2", i + 1);
        s.schoolnumber = i + 1;
        s.schoolarea = static_cast<std::int32_t>(100 + nextRandom(&seed) % 9900);
        s.numberstudents = static_cast<std::int32_t>(1 + nextRandom(&seed) % 2000);
    }
    return schools;
}

// The list state as the command loop keeps it, with storage grown to hold n schools.
struct List {
    SCHOOL* array = nullptr;
    std::int16_t numberElements = 0;
    std::int16_t lenghtArray = 0;
    std::int16_t memoryFlag = 0;
    bool unsaved = false;
    std::string file;  // the school file the list was last loaded from or written to

    explicit List(const std::vector<SCHOOL>& schools) {
        std::size_t bytes = schools.size() * sizeof(SCHOOL);
        array = static_cast<SCHOOL*>(std::malloc(bytes));
        std::memcpy(array, schools.data(), bytes);
        numberElements = lenghtArray = static_cast<std::int16_t>(schools.size());
        memoryFlag = 1;
    }
    List() = default;
    List(const List&) = delete;
    List& operator=(const List&) = delete;
    ~List() { release(); }
    // Back to no storage, as command 6 leaves it.
    void release() {
        std::free(array);
        array = nullptr;
        numberElements = lenghtArray = memoryFlag = 0;
    }
};

// ---- Files and typed input ----------------------------------------------------

std::string folder;  // temporary, removed at exit with what it holds
std::vector<std::string> made;

std::string fileInFolder(const std::string& name) {
    if (folder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/schools-bench-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        folder = pattern;
    }
    made.push_back(folder + "/" + name);
    return made.back();
}

void removeFolder() {
    for (const std::string& path : made)
        unlink(path.c_str());
    if (!folder.empty())
        rmdir(folder.c_str());
}

std::string writeSchoolFile(const std::vector<SCHOOL>& schools) {
    std::string path = fileInFolder("schools-" + std::to_string(schools.size()) + ".dat");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(schools.data(), sizeof(SCHOOL), schools.size(), file);
    std::fclose(file);
    return path;
}

// What the user types for one operation, replayed from the start before each run.
struct Typing {
    int fd = -1;
    explicit Typing(const std::string& text) {
        std::string path = fileInFolder("typing-" + std::to_string(made.size()));
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            std::perror("typing");
            std::exit(1);
        }
    }
    Typing(const Typing&) = delete;
    Typing& operator=(const Typing&) = delete;
    ~Typing() { close(fd); }
    void replay() const {
        lseek(fd, 0, SEEK_SET);
        useInput(fd);
    }
};

std::int16_t schoolsOf(const benchmark::State& state) {
    return static_cast<std::int16_t>(state.range(0));
}

void countSchools(benchmark::State& state) {
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// ---- Operations -----------------------------------------------------------------

// Command 1, from a file into a new list, starting from no storage: allocation,
// growth by doubling while reading, and the registry rebuild.
void BM_LoadSchoolFile(benchmark::State& state) {
    std::string path = writeSchoolFile(makeSchools(schoolsOf(state)));
    Typing typing(path + "\n");
    List list;
    for (auto _ : state) {
        typing.replay();
        list.array = addSchool(list.array, &list.memoryFlag, &list.numberElements, 2, 1,
                               &list.lenghtArray, &list.unsaved, &list.file);
        benchmark::DoNotOptimize(list.array);
        state.PauseTiming();  // the release is command 6's cost, not this one's
        list.release();
        state.ResumeTiming();
    }
    countSchools(state);
}

// Command 2 into a file of the folder, replacing it each time, synced to disk.
void BM_WriteSchoolFile(benchmark::State& state) {
    List list(makeSchools(schoolsOf(state)));
    Typing typing(fileInFolder("written-" + std::to_string(list.numberElements) + ".dat") + "\n ");
    for (auto _ : state) {
        typing.replay();
        writeStructFile(list.array, list.numberElements, &list.unsaved, &list.file);
    }
    countSchools(state);
}

// Command 4's sort, each run on the same unsorted list.
void BM_Sort(benchmark::State& state) {
    std::vector<SCHOOL> unsorted = makeSchools(schoolsOf(state));
    List list(unsorted);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(list.array, unsorted.data(), unsorted.size() * sizeof(SCHOOL));
        state.ResumeTiming();
        sortArray(list.array, list.numberElements);
        benchmark::ClobberMemory();
    }
    countSchools(state);
}

// Command 4's listing of every school, into the sink.
void BM_FullListing(benchmark::State& state) {
    List list(makeSchools(schoolsOf(state)));
    for (auto _ : state) {
        printArray(list.array, list.numberElements);
    }
    std::fflush(stdout);
    countSchools(state);
}

// Command 5 with a threshold that about half of the schools exceed.
void BM_AreaReport(benchmark::State& state) {
    List list(makeSchools(schoolsOf(state)));
    Typing typing("5000\n");
    for (auto _ : state) {
        typing.replay();
        ShowArea(list.array, list.numberElements);
    }
    std::fflush(stdout);
    countSchools(state);
}

// The pruning after an add, on a list whose every other school has 0 students.
void BM_PruneHalf(benchmark::State& state) {
    std::vector<SCHOOL> schools = makeSchools(schoolsOf(state));
    for (std::size_t i = 0; i < schools.size(); i += 2)
        schools[i].numberstudents = 0;
    List list(schools);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(list.array, schools.data(), schools.size() * sizeof(SCHOOL));
        state.ResumeTiming();
        std::int16_t left = CheckStudents(list.array, list.numberElements);
        benchmark::DoNotOptimize(left);
    }
    countSchools(state);
}

// Keyboard entry's number check for `count` schools typed into a new list: each
// number is compared with all those before it, so the whole costs count²/2.
void BM_RegisterTypedNumbers(benchmark::State& state) {
    std::int32_t count = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        resetNums();
        for (std::int32_t k = 1; k <= count; ++k) {
            benchmark::DoNotOptimize(registerNum(k));
        }
    }
    state.SetComplexityN(count);
    state.SetItemsProcessed(state.iterations() * count);
}

// One typed number checked against the numbers of a whole list, what a user waits
// for after typing a school number: here one already known, which leaves the
// registry as it was for the next run.
void BM_RegisterOneNumber(benchmark::State& state) {
    List list(makeSchools(schoolsOf(state)));
    scanOldNums(list.array, list.numberElements);
    for (auto _ : state) {
        benchmark::DoNotOptimize(registerNum(list.numberElements));
    }
    countSchools(state);
}

// The storage growing from 5 records to n as schools are stored one after another.
void BM_GrowFrom5(benchmark::State& state) {
    std::int16_t n = schoolsOf(state);
    SCHOOL school = makeSchools(1)[0];
    List list;
    for (auto _ : state) {
        list.array = static_cast<SCHOOL*>(std::malloc(sizeof(SCHOOL) * kFirstCapacity));
        list.lenghtArray = kFirstCapacity;
        for (std::int16_t k = 0; k < n; ++k) {
            growArray(&list.array, k, &list.lenghtArray);
            list.array[k] = school;
        }
        benchmark::DoNotOptimize(list.array);
        state.PauseTiming();
        list.release();
        state.ResumeTiming();
    }
    countSchools(state);
}

void atSizes(benchmark::internal::Benchmark* b) {
    b->RangeMultiplier(2)->Range(1280, kMaxSchools)->Complexity()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_LoadSchoolFile)->Apply(atSizes);
BENCHMARK(BM_WriteSchoolFile)->Apply(atSizes);
BENCHMARK(BM_Sort)->Apply(atSizes);
BENCHMARK(BM_FullListing)->Apply(atSizes);
BENCHMARK(BM_AreaReport)->Apply(atSizes);
BENCHMARK(BM_PruneHalf)->Apply(atSizes);
BENCHMARK(BM_RegisterTypedNumbers)
    ->Arg(1250)
    ->Arg(2500)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(kMaxSchools)
    ->Complexity()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RegisterOneNumber)->Apply(atSizes);
BENCHMARK(BM_GrowFrom5)->Apply(atSizes);

}  // namespace

int main(int argc, char** argv) {
    // Texts are converted as for a UTF-8 terminal, the heavier of the two paths.
    setenv("LC_ALL", "C.UTF-8", 1);
    watchMemory();
    noteStandardStreams();
    setCodePage();
    int report = dup(STDOUT_FILENO);
    int sink = open("/dev/null", O_WRONLY);
    if (report < 0 || sink < 0 || dup2(sink, STDOUT_FILENO) < 0) {
        std::perror("/dev/null");
        return 1;
    }
    close(sink);
    std::atexit(removeFolder);

    __gnu_cxx::stdio_filebuf<char> reportBuffer(report, std::ios::out);
    std::ostream reportStream(&reportBuffer);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::ConsoleReporter reporter(isatty(report) ? benchmark::ConsoleReporter::OO_Defaults
                                                       : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&reportStream);
    reporter.SetErrorStream(&reportStream);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
