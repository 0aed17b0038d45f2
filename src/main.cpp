// The main command loop: owns the list for the whole run and hands it to the
// register's operations, one menu choice at a time.
#include <cstdint>
#include <cstring>

#include "console.h"
#include "funcs.h"
#include "menu.h"

namespace {

MenuTable menu_main = {
    "Program <School>\n--------------------------",
    "Izbor na vhod za dobavyane na novo uchilishte",
    "Zapis v dvoichen fail",
    "Promqna na dannite za izbrano uchilishte(pri 0 uchenici uchilishteto se iztriva)",
    "Pokazvane na danni za vsichki uchilishta podredeni v red po namalqvane na uchenicite",
    "Pokazvane na danni za vsichki uchilishta s plosht po golqma ot izbranata ot potrebitelq",
    "Osvobojdavane na pametta",
    "Krai",
    nullptr,
};

MenuTable menu_1 = {"---VHOD---", "Ot klaviaturata", "Ot fail sus uchilishta", nullptr};

MenuTable menu_1_1 = {
    "IZBOR NA MQSTO ZA DOBAVQNE",
    "Nov nov spisuk s uchilishta",
    "Kam sashtestvuvashtiya spisuk s uchilishta",
    nullptr,
};

enum Command : std::int16_t {
    kAdd = 1,
    kWriteFile = 2,
    kChange = 3,
    kSortedListing = 4,
    kAreaReport = 5,
    kFreeMemory = 6,
    kEnd = 7,
};

// The program takes no arguments but these two, for the one who meets it first.
[[noreturn]] void answerArguments(int argc, char** argv) {
    const char* first = argv[1];
    if (argc == 2 && std::strcmp(first, "--version") == 0) {
        print("schools %s\n", SCHOOLS_VERSION);
        endProgram(0);
    }
    if (argc == 2 && std::strcmp(first, "--help") == 0) {
        print(
            "Usage: schools\n"
            "A register of schools kept in memory at one console. It takes no arguments\n"
            "(but --help and --version): every command is one key of the main menu.\n\n"
            "  1  add schools, typed at the keyboard or loaded from a school file\n"
            "  2  write the list to a school file\n"
            "  3  retype the schools of a given name (0 students removes a school)\n"
            "  4  list every school, most students first\n"
            "  5  list the schools above a given area\n"
            "  6  free the list\n"
            "  7  end\n");
        print("\nThe manual: man schools\n");
        endProgram(0);
    }
    bool understood = std::strcmp(first, "--help") == 0 || std::strcmp(first, "--version") == 0;
    printError("schools: unknown argument '%s'\nTry 'schools --help'.\n",
               understood ? argv[2] : first);
    endProgram(2);
}

}  // namespace

int main(int argc, char** argv) {
    SCHOOL* array = nullptr;
    std::int16_t numberElements = 0;
    std::int16_t lenghtArray = 0;
    std::int16_t memoryFlag = 0;
    std::int16_t mode = 0;
    std::int16_t submenu = 0;
    std::int16_t submenu1 = 0;

    if (argc > 1) {
        answerArguments(argc, argv);
    }
    setCodePage();
    while (mode != kEnd) {
        mode = menu(menu_main);
        switch (mode) {
            case kAdd:
                submenu = menu(menu_1);
                submenu1 = menu(menu_1_1);
                array =
                    addSchool(array, &memoryFlag, &numberElements, submenu, submenu1, &lenghtArray);
                numberElements = CheckStudents(array, numberElements);
                scanOldNums(array, numberElements);
                pauseConsole();
                break;
            case kWriteFile:
                writeStructFile(array, numberElements);
                break;
            case kChange:
                numberElements = deleteElementByStudents(array, numberElements);
                pauseConsole();
                break;
            case kSortedListing:
                if (numberElements < 2) {
                    printLine("\nNedostatuchno elementi za sortirane!");
                } else {
                    sortArray(array, numberElements);
                }
                printArray(array, numberElements);
                pauseConsole();
                break;
            case kAreaReport:
                ShowArea(array, numberElements);
                pauseConsole();
                break;
            case kFreeMemory:
                array = deleteArray(array, &numberElements);
                memoryFlag = 0;
                pauseConsole();
                break;
            default:  // kEnd leaves the loop; 8 draws the menu again at once
                break;
        }
    }
    endProgram(0);
}
