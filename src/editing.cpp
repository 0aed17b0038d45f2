// Pruning and editing: schools with no students leave the list, after every add
// and whenever a change gives a school 0 students; the change command retypes the
// schools of a given name.
#include <cstring>

#include "console.h"
#include "funcs.h"
#include "translate.h"

namespace {

// Visits the slots in order; a school with 0 students gets the last school moved
// into its slot, which is then visited again. `visit` sees each slot first, with
// the count at that moment, and may change its school. Returns how many schools
// were removed.
template <typename Visit>
std::int16_t removeSchoolsWithoutStudents(SCHOOL* array, std::int16_t* n, Visit visit) {
    std::int16_t removed = 0;
    std::int16_t slot = 0;
    while (slot < *n) {
        visit(slot, *n);
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

// Reads a number for the prompt just printed, into the field.
void askNumber(const char* prompt, std::int32_t* field) {
    print("%s", prompt);
    readNumber(prompt, field);
    discardInput();
}

// Asks for every field of the school in `slot` of the n in the list, which the
// change command found by name.
void reenterSchool(SCHOOL* array, std::int16_t n, std::int16_t slot) {
    SCHOOL* school = &array[slot];
    printLine(_("\nENTER FOLLOWING INFORMATION:"));
    print(_("\nName of new school:"));
    discardInput();
    readText(school->schoolname, kTextSize);
    discardInput();
    print(_("\nName of director of new school:"));
    readText(school->director, kTextSize);
    askNumber(_("\nArea of new school:"), &school->schoolarea);
    const char* prompt = _("\nNumber of new school:");
    do {
        print("%s", prompt);
        discardInput();
        readNumber(prompt, &school->schoolnumber);
    } while (!checkReplacementNum(array, n, slot, school->schoolnumber));
    askNumber(_("\nNumber of students in the new school:"), &school->numberstudents);
}

}  // namespace

bool checkReplacementNum(const SCHOOL* array, std::int16_t n, std::int16_t slot,
                         std::int32_t candidate) {
    for (std::int16_t k = 0; k < n; ++k) {
        if (k != slot && array[k].schoolnumber == candidate) {
            printLine(_("\nSchool number already exists!"));
            return false;
        }
    }
    return true;
}

std::int16_t CheckStudents(SCHOOL* array, std::int16_t n) {
    std::int16_t removed =
        removeSchoolsWithoutStudents(array, &n, [](std::int16_t, std::int16_t) {});
    print(removed > 0 ? _("\nSchools that had no students were deleted!")
                      : _("\nAll schools have students!"));
    return n;
}

std::int16_t deleteElementByStudents(SCHOOL* array, std::int16_t n, bool* unsaved) {
    printLine(_("Enter School name to look for :"));
    discardInput();
    char wanted[kTextSize];
    readText(wanted, kTextSize);
    bool found = false;
    std::int16_t removed =
        removeSchoolsWithoutStudents(array, &n, [&](std::int16_t slot, std::int16_t count) {
            if (std::strncmp(array[slot].schoolname, wanted, kTextSize) == 0) {
                found = true;
                reenterSchool(array, count, slot);
            }
        });
    if (!found) {
        print(_("No School with that name!"));
    } else if (removed == 1) {
        print(_("\nSchool had no students so we deleted it!"));
    } else if (removed == 0) {
        print(_("\nSchool info changed!"));
    }
    *unsaved = *unsaved || found;
    return n;
}
