#include "funcs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "failures.h"
#include "files/school_files.h"
#include "system/last_error.h"
#include "translate.h"

namespace {

// The labels of the school block, translated once: a listing shows thousands.
enum Label { kPosition, kName, kNumber, kDirector, kArea, kStudents, kLabels };
const char* const kLabelTexts[kLabels] = {
    N_("\nSchool number in list: "), N_("\nSchool name :"), N_("\nSchool number :"),
    N_("\nName of director:"),       N_("\nSchool area:"),  N_("\nNumber of students:")};
constexpr std::size_t kLabelRoom = 160;  // bytes of any one label in any language

// Copies a label of the school block, without its NUL; returns the end.
char* putLabel(Label label, char* out) {
    static std::string shown[kLabels];
    if (shown[label].empty()) {
        shown[label] = std::string(_(kLabelTexts[label])).substr(0, kLabelRoom);
    }
    return std::copy(shown[label].begin(), shown[label].end(), out);
}

/* ==== School-number registry ============================================ */

// Known numbers stand in slots 0 to z - 1; slot z is where a number typed for a
// new school waits for its check. The table grows as needed: within one add, z
// also counts the numbers of schools typed with 0 students, which pruning removes.
std::vector<std::int32_t> num;
std::int32_t z = 0;

void reserveNumSlot(std::size_t slot) {
    if (num.size() <= slot) {
        num.resize(std::max(slot + 1, num.size() * 2), 0);
    }
}

// Prints one line per known number equal to the candidate; true when none is.
bool isUnknownNum(std::int32_t candidate) {
    bool unknown = true;
    for (std::int32_t k = 0; k < z; ++k) {
        if (num[static_cast<std::size_t>(k)] == candidate) {
            printLine(_("\nSchool number already exists!"));
            unknown = false;
        }
    }
    return unknown;
}

// Asks for a school's number until `accepted` takes it, each time on a fresh line.
void askSchoolNumber(const char* prompt, std::int32_t* number, bool (*accepted)(std::int32_t)) {
    do {
        print("%s", prompt);
        discardInput();
        readNumber(prompt, number);
    } while (!accepted(*number));
}

// At a terminal, asks before a write replaces the schools of a file that the list
// was not loaded from or written to. True when the write may go on.
bool mayReplaceSchoolsOf(const std::string& name, const std::string& listFile) {
    long long held = inputIsTerminal() && name != listFile ? schoolsHeldBy(name) : 0;
    if (held == 1) {
        return readYes(_("%s already holds 1 school. Replace it? (yes/no)"), name.c_str());
    }
    return held <= 0 ||
           readYes(_("%s already holds %lld schools. Replace them? (yes/no)"), name.c_str(), held);
}

}  // namespace

/* ==== List storage and the school-number registry ======================== */

bool growArray(SCHOOL** array, std::int16_t numberElements, std::int16_t* lenghtArray) {
    if (numberElements < *lenghtArray) {
        return true;
    }
    if (*lenghtArray >= kMaxSchools) {
        return false;
    }
    std::int16_t capacity = static_cast<std::int16_t>(*lenghtArray * 2);
    void* grown = std::realloc(*array, sizeof(SCHOOL) * static_cast<std::size_t>(capacity));
    if (!grown) {
        outOfMemory();
    }
    *array = static_cast<SCHOOL*>(grown);
    *lenghtArray = capacity;
    return true;
}

void deleteElement(SCHOOL* array, std::int16_t n, std::int16_t j) {
    std::memmove(&array[j], &array[n - 1], sizeof(SCHOOL));
}

SCHOOL* deleteArray(SCHOOL* array, std::int16_t* n) {
    if (array) {
        std::free(array);
        *n = 0;
        print(_("\nMemory is empty!"));
    } else {
        print(_("\nNo memory used!"));
    }
    resetNums();
    return nullptr;
}

void resetNums() {
    z = 0;
}

bool registerNum(std::int32_t candidate) {
    reserveNumSlot(static_cast<std::size_t>(z));
    num[static_cast<std::size_t>(z)] = candidate;
    if (!isUnknownNum(candidate)) {
        return false;
    }
    ++z;
    return true;
}

void scanOldNums(const SCHOOL* array, std::int16_t n) {
    reserveNumSlot(static_cast<std::size_t>(n));
    for (std::int16_t k = 0; k < n; ++k) {
        num[static_cast<std::size_t>(k)] = array[k].schoolnumber;
    }
    z = n;
}

/* ==== Adding schools ===================================================== */

SCHOOL* addSchool(SCHOOL* array, std::int16_t* memoryFlag, std::int16_t* numberElements,
                  std::int16_t submenu, std::int16_t submenu1, std::int16_t* lenghtArray,
                  bool* unsaved, std::string* listFile) {
    if (*memoryFlag == 0) {
        array = static_cast<SCHOOL*>(std::malloc(sizeof(SCHOOL) * kFirstCapacity));
        if (!array) {
            print(_("\nNo allocated list!"));
            endProgram(1);
        }
        *lenghtArray = kFirstCapacity;
        *memoryFlag = 1;
    }
    if (submenu == 1) {
        array = addSchoolFromKey(array, numberElements, submenu1, lenghtArray, unsaved, listFile);
    } else {
        array = addSchoolFromFile(array, numberElements, submenu1, lenghtArray, unsaved, listFile);
    }
    scanOldNums(array, *numberElements);
    return array;
}

SCHOOL* addSchoolFromKey(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                         std::int16_t* lenghtArray, bool* unsaved, std::string* listFile) {
    if (submenu1 == 1) {
        *numberElements = 0;
        resetNums();
        *unsaved = false;
        listFile->clear();  // the new list is no file's
    }
    // Reused for every school of this add; each field is typed anew for each school.
    SCHOOL scratch{};
    while (readYes(_("Will you enter data for another school? - (yes/no)"))) {
        if (!growArray(&array, *numberElements, lenghtArray)) {
            print(_("\nSchool list is full!"));
            return array;
        }
        print(_("\nSCHOOL  NUMBER %d: "), *numberElements + 1);
        inputSchool(&scratch);
        array[*numberElements] = scratch;
        ++*numberElements;
        *unsaved = true;
        discardInput();
    }
    return array;
}

void inputSchool(SCHOOL* a) {
    print(_("\nEnter name of School:"));
    discardInput();
    readText(a->schoolname, kTextSize);
    print(_("\nEnter name of director:"));
    readText(a->director, kTextSize);
    askSchoolNumber(_("\nEnter School number:"), &a->schoolnumber, registerNum);
    const char* area = _("\nEnter School Area(meter*meter):");
    print("%s", area);
    readNumber(area, &a->schoolarea);
    const char* students = _("\nEnter number of students:");
    print("%s", students);
    readNumber(students, &a->numberstudents);
    discardInput();
}

/* ==== School file ======================================================== */

void writeStructFile(const SCHOOL* array, std::int16_t numberElements, bool* unsaved,
                     std::string* listFile) {
    if (numberElements <= 0) {
        printLine(_("\nSchool list is empty!"));
        pauseConsole();
        return;
    }
    printLine(_("Enter name for the file for the schools list:"));
    discardInput();
    std::string name;
    AtomicWrite file;
    Reason reason;
    readLine(&name);
    if (!mayReplaceSchoolsOf(name, *listFile)) {
        pauseConsole();
        return;
    }
    if (failed(reason = beginAtomicWrite(name, &file))) {
        reportFileError(_("Problem opening the file"), name, reason);
    } else {
        std::size_t count = static_cast<std::size_t>(numberElements);
        if (std::fwrite(array, sizeof(SCHOOL), count, file.stream) != count) {
            reportStreamError(_("Write error :"), Reason{lastError()});
            abandonAtomicWrite(&file);
        } else if (failed(reason = finishAtomicWrite(&file))) {
            reportStreamError(_("Write error :"), reason);
        } else {
            *unsaved = false;
            *listFile = name;
            if (inputIsTerminal() && numberElements == 1) {
                print(_("1 school written to %s\n"), name.c_str());
            } else if (inputIsTerminal()) {
                print(_("%d schools written to %s\n"), numberElements, name.c_str());
            }
        }
    }
    pauseConsole();
}

SCHOOL* addSchoolFromFile(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                          std::int16_t* lenghtArray, bool* unsaved, std::string* listFile) {
    discardInput();
    printLine(_("Enter schools input file name:"));
    discardInput();
    std::string name;
    readLine(&name);
    Reason reason;
    std::FILE* file = openForReading(name, &reason);
    if (!file) {
        reportFileError(_("File could not be opened"), name, reason);
        return array;
    }
    // Only now that the file is open may the present list go.
    std::int16_t before = 0;
    if (submenu1 == 1) {
        *numberElements = 0;
        resetNums();
        *unsaved = false;
        *listFile = name;
    } else {
        before = *numberElements;
    }
    std::size_t got = 0;  // by the last read: a piece at the end too few for a school
    for (;;) {
        if (!growArray(&array, *numberElements, lenghtArray)) {
            SCHOOL beyond;
            got = std::fread(&beyond, 1, sizeof beyond, file);
            if (got == sizeof beyond) {
                print(_("\nSchool list is full!"));  // the rest of the file is not looked at
            }
            break;
        }
        std::size_t room = static_cast<std::size_t>(*lenghtArray - *numberElements);
        got = std::fread(array + *numberElements, 1, room * sizeof(SCHOOL), file);
        *numberElements = static_cast<std::int16_t>(*numberElements + got / sizeof(SCHOOL));
        if (got < room * sizeof(SCHOOL)) {
            break;
        }
    }
    if (std::ferror(file)) {
        reportStreamError(_("Read error :"), Reason{lastError()});  // the last read failed
    } else if (got % sizeof(SCHOOL) > 0) {
        reportTornEnd(name, got % sizeof(SCHOOL));
    }
    std::fclose(file);
    std::int16_t loaded = static_cast<std::int16_t>(*numberElements - before);
    *unsaved = *unsaved || (submenu1 != 1 && loaded > 0);
    if (inputIsTerminal() && loaded == 1) {
        print(_("1 school loaded from %s\n"), name.c_str());
    } else if (inputIsTerminal()) {
        print(_("%d schools loaded from %s\n"), loaded, name.c_str());
    }
    return array;
}

/* ==== Reports ============================================================ */

void printSchool(const SCHOOL* array, std::int16_t i) {
    const SCHOOL& school = array[i];
    // Put together whole: a listing prints thousands of these, one output call each.
    char block[kLabels * kLabelRoom + 4 * 11 + 2 * textRoom(kTextSize)];
    char* end = putLabel(kPosition, block);
    end = putNumber(i + 1, end);
    end = putLabel(kName, end);
    end = putText(school.schoolname, kTextSize, end);
    end = putLabel(kNumber, end);
    end = putNumber(school.schoolnumber, end);
    end = putLabel(kDirector, end);
    end = putText(school.director, kTextSize, end);
    end = putLabel(kArea, end);
    end = putNumber(school.schoolarea, end);
    end = putLabel(kStudents, end);
    end = putNumber(school.numberstudents, end);
    printBytes(block, static_cast<std::size_t>(end - block));
}

void printArray(const SCHOOL* array, std::int16_t n) {
    if (n <= 0) {
        printLine(_("\nSchool list is empty!"));
        return;
    }
    beginPages();
    for (std::int16_t i = 0; i < n && pagesGoOn(); ++i) {
        printSchool(array, i);
        print("\n");
    }
    endPages();
}

int sortByStudents(const SCHOOL* pa, const SCHOOL* pb) {
    return (pa->numberstudents < pb->numberstudents) - (pa->numberstudents > pb->numberstudents);
}

void sortArray(SCHOOL* array, std::int16_t n) {
    std::sort(array, array + n,
              [](const SCHOOL& a, const SCHOOL& b) { return sortByStudents(&a, &b) < 0; });
}

void ShowArea(const SCHOOL* array, std::int16_t n) {
    std::string prompt = std::string(_("\nAbove what area taking schools to show?:")) + "\n";
    print("%s", prompt.c_str());
    std::int32_t threshold = 0;
    readNumber(prompt.c_str(), &threshold);
    bool shown = false;
    beginPages();
    for (std::int16_t i = 0; i < n && pagesGoOn(); ++i) {
        if (array[i].schoolarea > threshold) {
            printSchool(array, i);
            print("\n");
            shown = true;
        }
    }
    endPages();
    if (!shown) {
        print(_("\nNo schools with bigger area!"));
    }
}
