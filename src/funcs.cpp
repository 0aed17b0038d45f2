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
// new school waits for its check. The table grows as needed: after changes have
// removed schools, z exceeds the count, so it can need about twice the list size.
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

/* ==== Removal walk ======================================================= */

// Visits the slots in order; a school with 0 students gets the last school moved
// into its slot, which is then visited again. `visit` sees each school first and
// may change it. Returns how many schools were removed.
template <typename Visit>
std::int16_t removeSchoolsWithoutStudents(SCHOOL* array, std::int16_t* n, Visit visit) {
    std::int16_t removed = 0;
    std::int16_t slot = 0;
    while (slot < *n) {
        visit(&array[slot]);
        if (array[slot].numberstudents == 0) {
            deleteElement(array, *n, slot);
            --*n;
            ++removed;
        } else {
            ++slot;
        }
    }
    return removed;
}

// Asks for a school's number until `accepted` takes it, each time on a fresh line.
void askSchoolNumber(const char* prompt, std::int32_t* number, bool (*accepted)(std::int32_t)) {
    do {
        print("%s", prompt);
        discardInput();
        readNumber(number);
    } while (!accepted(*number));
}

// Asks for every field of a school that the change command found by name.
void reenterSchool(SCHOOL* school) {
    printLine(_("\nENTER FOLLOWING INFORMATION:"));
    print(_("\nName of new school:"));
    discardInput();
    readText(school->schoolname, kTextSize);
    discardInput();
    print(_("\nName of director of new school:"));
    readText(school->director, kTextSize);
    print(_("\nArea of new school:"));
    readNumber(&school->schoolarea);
    discardInput();
    askSchoolNumber(_("\nNumber of new school:"), &school->schoolnumber, checkReplacementNum);
    print(_("\nNumber of students in the new school:"));
    readNumber(&school->numberstudents);
    discardInput();
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

bool checkReplacementNum(std::int32_t candidate) {
    return isUnknownNum(candidate);
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
                  std::int16_t submenu, std::int16_t submenu1, std::int16_t* lenghtArray) {
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
        array = addSchoolFromKey(array, numberElements, submenu1, lenghtArray);
    } else {
        array = addSchoolFromFile(array, numberElements, submenu1, lenghtArray);
    }
    scanOldNums(array, *numberElements);
    return array;
}

SCHOOL* addSchoolFromKey(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                         std::int16_t* lenghtArray) {
    if (submenu1 == 1) {
        *numberElements = 0;
        resetNums();
    }
    // Reused for every school of this add: a number that does not convert keeps the
    // previous school's value, and the first school's is 0.
    SCHOOL scratch{};
    std::string reply;
    for (;;) {
        print(_("Will you enter data for another school? - (yes/no)"));
        discardInput();
        readLine(&reply);
        if (reply != "yes" && reply != _("yes")) {
            return array;
        }
        if (!growArray(&array, *numberElements, lenghtArray)) {
            print(_("\nSchool list is full!"));
            return array;
        }
        print(_("\nSCHOOL  NUMBER %d: "), *numberElements + 1);
        inputSchool(&scratch);
        array[*numberElements] = scratch;
        ++*numberElements;
        discardInput();
    }
}

void inputSchool(SCHOOL* a) {
    print(_("\nEnter name of School:"));
    discardInput();
    readText(a->schoolname, kTextSize);
    print(_("\nEnter name of director:"));
    readText(a->director, kTextSize);
    askSchoolNumber(_("\nEnter School number:"), &a->schoolnumber, registerNum);
    print(_("\nEnter School Area(meter*meter):"));
    readNumber(&a->schoolarea);
    print(_("\nEnter number of students:"));
    readNumber(&a->numberstudents);
    discardInput();
}

/* ==== School file ======================================================== */

void writeStructFile(const SCHOOL* array, std::int16_t numberElements) {
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
    if (failed(reason = beginAtomicWrite(name, &file))) {
        reportFileError(_("Problem opening the file"), name, reason);
    } else {
        std::size_t count = static_cast<std::size_t>(numberElements);
        if (std::fwrite(array, sizeof(SCHOOL), count, file.stream) != count) {
            reportStreamError(_("Write error :"), Reason{lastError()});
            abandonAtomicWrite(&file);
        } else if (failed(reason = finishAtomicWrite(&file))) {
            reportStreamError(_("Write error :"), reason);
        }
    }
    pauseConsole();
}

SCHOOL* addSchoolFromFile(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                          std::int16_t* lenghtArray) {
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
    if (submenu1 == 1) {
        *numberElements = 0;
        resetNums();
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
    printLine(_("\nAbove what area taking schools to show?:"));
    std::int32_t threshold = 0;
    readNumber(&threshold);
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

/* ==== Pruning and editing ================================================ */

std::int16_t CheckStudents(SCHOOL* array, std::int16_t n) {
    std::int16_t removed = removeSchoolsWithoutStudents(array, &n, [](SCHOOL*) {});
    print(removed > 0 ? _("\nSchools that had no students were deleted!")
                      : _("\nAll schools have students!"));
    return n;
}

std::int16_t deleteElementByStudents(SCHOOL* array, std::int16_t n) {
    printLine(_("Enter School name to look for :"));
    discardInput();
    char wanted[kTextSize];
    readText(wanted, kTextSize);
    bool found = false;
    std::int16_t removed = removeSchoolsWithoutStudents(array, &n, [&](SCHOOL* school) {
        if (std::strncmp(school->schoolname, wanted, kTextSize) == 0) {
            found = true;
            reenterSchool(school);
        }
    });
    if (!found) {
        print(_("No School with that name!"));
    } else if (removed == 1) {
        print(_("\nSchool had no students so we deleted it!"));
    } else if (removed == 0) {
        print(_("\nSchool info changed!"));
    }
    return n;
}
