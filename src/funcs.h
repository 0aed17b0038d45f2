// The school register: the school record, the growable list that holds the
// schools, the registry of known school numbers, and the work of every command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One school, exactly as a school file stores it: 112 bytes, no padding, numbers in
// the machine's (little-endian) order.
struct SCHOOL {
    char schoolname[50];  // NUL-terminated text in code page 1251
    char director[50];    // likewise
    std::int32_t schoolnumber;
    std::int32_t schoolarea;  // square metres
    std::int32_t numberstudents;
};
static_assert(sizeof(SCHOOL) == 112, "a school record is 112 bytes on disk");
// The room of each text field, its NUL included.
constexpr std::size_t kTextSize = sizeof(SCHOOL{}.schoolname);

// The list holds at most 5 doubled 12 times, so the 16-bit capacity never overflows.
constexpr std::int16_t kFirstCapacity = 5;
constexpr std::int16_t kMaxSchools = 20480;

// ---- List storage ---------------------------------------------------------

// Doubles the capacity when the list is full. Returns false, leaving the list as
// it was, when it holds the most schools; the storage may move on success. No
// memory for it ends the program.
bool growArray(SCHOOL** array, std::int16_t numberElements, std::int16_t* lenghtArray);
// Copies the last of the n schools over slot j; the caller lowers its count.
void deleteElement(SCHOOL* array, std::int16_t n, std::int16_t j);
// Releases the list (command 6) and resets the registry. Returns null.
SCHOOL* deleteArray(SCHOOL* array, std::int16_t* n);

// ---- School-number registry -----------------------------------------------

// Forgets every known number.
void resetNums();
// Registers a number typed for a new school: true when it was not known, and it is
// known from now on; false, with a message per equal number, when it was.
bool registerNum(std::int32_t candidate);
// Makes the numbers of the first n schools the known ones.
void scanOldNums(const SCHOOL* array, std::int16_t n);

// ---- Adding schools ---------------------------------------------------------
// Beside the list, the main loop owns `unsaved`, true while the list holds schools
// typed, changed, pruned or appended since it was last written, loaded into a new
// list or freed, and `listFile`, the name (as typed) of the school file that the
// list was last loaded from as a new list or written to, empty when none.

// Command 1: makes sure storage exists, then adds from the keyboard (submenu 1) or
// from a school file, into a new list (submenu1 1) or after the present schools.
SCHOOL* addSchool(SCHOOL* array, std::int16_t* memoryFlag, std::int16_t* numberElements,
                  std::int16_t submenu, std::int16_t submenu1, std::int16_t* lenghtArray,
                  bool* unsaved, std::string* listFile);
SCHOOL* addSchoolFromKey(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                         std::int16_t* lenghtArray, bool* unsaved, std::string* listFile);
void inputSchool(SCHOOL* a);

// ---- School file ------------------------------------------------------------

// Command 2: writes the list; pauses at the end. At a terminal it asks before it
// replaces the schools of a file other than `listFile`, and says what it wrote.
void writeStructFile(const SCHOOL* array, std::int16_t numberElements, bool* unsaved,
                     std::string* listFile);
// At a terminal it says how many schools it loaded.
SCHOOL* addSchoolFromFile(SCHOOL* array, std::int16_t* numberElements, std::int16_t submenu1,
                          std::int16_t* lenghtArray, bool* unsaved, std::string* listFile);

// ---- Reports ----------------------------------------------------------------

void printSchool(const SCHOOL* array, std::int16_t i);
void printArray(const SCHOOL* array, std::int16_t n);
// Most students first; the order among equal counts is free.
void sortArray(SCHOOL* array, std::int16_t n);
// 1 when pa has fewer students than pb, -1 when more, 0 when equal.
int sortByStudents(const SCHOOL* pa, const SCHOOL* pb);
// Command 5: the schools whose area exceeds a typed threshold.
void ShowArea(const SCHOOL* array, std::int16_t n);

// ---- Pruning and editing ----------------------------------------------------
// (editing.cpp)

// Removes every school with 0 students and says whether any went. Returns the count.
std::int16_t CheckStudents(SCHOOL* array, std::int16_t n);
// Command 3: retypes the schools with a typed name; a change makes the list unsaved.
// Returns the new count.
std::int16_t deleteElementByStudents(SCHOOL* array, std::int16_t n, bool* unsaved);
// Checks the number typed for the school in `slot` of the n in the list: true when
// it is its own or no other school's; otherwise says so, once.
bool checkReplacementNum(const SCHOOL* array, std::int16_t n, std::int16_t slot,
                         std::int32_t candidate);
