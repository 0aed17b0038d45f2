// The main command loop: owns the list for the whole run and hands it to the
// register's operations, one menu choice at a time.
#include <cstdint>
#include <cstring>
#include <string>

#include "console.h"
#include "failures.h"
#include "files/school_files.h"
#include "funcs.h"
#include "menu.h"
#include "spreadsheet.h"
#include "translate.h"

namespace {

MenuTable menu_main = {
    N_("Program <School>\n--------------------------"),
    N_("Izbor na vhod za dobavyane na novo uchilishte"),
    N_("Zapis v dvoichen fail"),
    N_("Promqna na dannite za izbrano uchilishte(pri 0 uchenici uchilishteto se iztriva)"),
    N_("Pokazvane na danni za vsichki uchilishta podredeni v red po namalqvane na uchenicite"),
    N_("Pokazvane na danni za vsichki uchilishta s plosht po golqma ot izbranata ot potrebitelq"),
    N_("Osvobojdavane na pametta"),
    N_("Krai"),
    nullptr,
};

MenuTable menu_1 = {N_("---VHOD---"), N_("Ot klaviaturata"), N_("Ot fail sus uchilishta"), nullptr};

MenuTable menu_1_1 = {
    N_("IZBOR NA MQSTO ZA DOBAVQNE"),
    N_("Nov nov spisuk s uchilishta"),
    N_("Kam sashtestvuvashtiya spisuk s uchilishta"),
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

// The options: the two that answer the one who meets the program first, and the
// two that take schools to and from spreadsheets.
[[noreturn]] void answerArguments(int argc, char** argv) {
    const char* first = argv[1];
    bool help = std::strcmp(first, "--help") == 0;
    bool version = std::strcmp(first, "--version") == 0;
    bool exporting = std::strcmp(first, "--export") == 0;
    bool importing = std::strcmp(first, "--import") == 0;
    int operands = importing || exporting ? 2 : help || version ? 0 : -1;
    if (version && argc == 2) {
        print("schools %s\n", SCHOOLS_VERSION);
        endProgram(0);
    }
    if (help && argc == 2) {
        print(
            _("Usage: schools\n"
              "   or: schools --export SCHOOLFILE [OUTFILE]\n"
              "   or: schools --import INFILE SCHOOLFILE\n"
              "A register of schools kept in memory at one console: every command is one key\n"
              "of the main menu.\n\n"
              "  1  add schools, typed at the keyboard or loaded from a school file\n"
              "  2  write the list to a school file\n"
              "  3  retype the schools of a given name (0 students removes a school)\n"
              "  4  list every school, most students first\n"
              "  5  list the schools above a given area\n"
              "  6  free the list\n"
              "  7  end\n\n"
              "  --export SCHOOLFILE [OUTFILE]  write the school file as a workbook when\n"
              "                                 OUTFILE ends in .xlsx, as a spreadsheet when\n"
              "                                 in .ods, else as CSV (on standard output\n"
              "                                 without OUTFILE or with -); other spreadsheet\n"
              "                                 formats (.xls, .xlsb, .fods...) are refused\n"
              "  --import INFILE SCHOOLFILE     write the schools of the workbook, spreadsheet\n"
              "                                 or CSV file (- for standard input) to the\n"
              "                                 school file, if every cell is right\n"
              "  --help                         this text\n"
              "  --version                      the program's version\n\n"
              "For a spreadsheet, export to .xlsx or .ods: its cells keep every text as it\n"
              "is, its header is in the language of the messages, and it prints landscape,\n"
              "one page wide, the header on every page.\n"
              "CSV is for programs and databases, exact and unguarded: UTF-8, its header\n"
              "name,director,number,area,students, its line ends CR LF; an imported one may\n"
              "order the columns freely, separate its cells with ',', ';' or tab, and be\n"
              "UTF-8, UTF-16 with a byte-order mark, or Windows-1251.\n"));
        print(_("\nThe manual: man schools\n"));
        endProgram(0);
    }
    if (exporting && (argc == 3 || argc == 4)) {
        exportSchools(argv[2], argc == 4 ? argv[3] : "");
    }
    if (importing && argc == 4) {
        importSchools(argv[2], argv[3]);
    }
    if (operands < 0) {
        printError(_("schools: unknown argument '%s'\n"), first);
    } else if (argc < 2 + operands) {
        printError(_("schools: %s needs %s\n"), first,
                   exporting ? _("SCHOOLFILE") : _("INFILE SCHOOLFILE"));
    } else {
        printError(_("schools: unknown argument '%s'\n"), argv[2 + operands]);
    }
    printError(_("Try 'schools --help'.\n"));
    endProgram(2);
}

// What is about to empty the list, as a question.
enum Loss { kEnding, kFreeing, kStartingNew };

// At a terminal, asks before a list with unsaved changes goes; true when it may.
bool mayLoseList(std::int16_t numberElements, bool unsaved, Loss loss) {
    if (!unsaved || numberElements <= 0 || !inputIsTerminal()) {
        return true;
    }
    if (numberElements == 1) {
        return readYes("%s", loss == kEnding    ? _("The list holds 1 school that is not saved. "
                                                       "End anyway? (yes/no)")
                             : loss == kFreeing ? _("The list holds 1 school that is not saved. "
                                                    "Free it anyway? (yes/no)")
                                                : _("The list holds 1 school that is not saved. "
                                                    "Start a new list anyway? (yes/no)"));
    }
    if (loss == kEnding) {
        return readYes(_("The list holds %d schools that are not saved. End anyway? (yes/no)"),
                       numberElements);
    }
    if (loss == kFreeing) {
        return readYes(_("The list holds %d schools that are not saved. Free it anyway? (yes/no)"),
                       numberElements);
    }
    return readYes(_("The list holds %d schools that are not saved. Start a new list anyway? "
                     "(yes/no)"),
                   numberElements);
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
    bool unsaved = false;  // see funcs.h
    std::string listFile;

    startTranslations();
    if (argc > 1) {
        answerArguments(argc, argv);
    }
    // The program's own set-up, in order: the memory watch, the standard streams,
    // the console.
    watchMemory();
    noteStandardStreams();
    setCodePage();
    while (mode != kEnd) {
        mode = menu(menu_main);
        switch (mode) {
            case kAdd:
                submenu = menu(menu_1);
                submenu1 = menu(menu_1_1);
                if (submenu1 == 1 && !mayLoseList(numberElements, unsaved, kStartingNew)) {
                    break;
                }
                array = addSchool(array, &memoryFlag, &numberElements, submenu, submenu1,
                                  &lenghtArray, &unsaved, &listFile);
                {
                    std::int16_t added = numberElements;
                    numberElements = CheckStudents(array, numberElements);
                    unsaved = unsaved || numberElements < added;
                }
                scanOldNums(array, numberElements);
                pauseConsole();
                break;
            case kWriteFile:
                writeStructFile(array, numberElements, &unsaved, &listFile);
                break;
            case kChange:
                numberElements = deleteElementByStudents(array, numberElements, &unsaved);
                scanOldNums(array, numberElements);
                pauseConsole();
                break;
            case kSortedListing:
                if (numberElements < 2) {
                    printLine(_("\nNedostatuchno elementi za sortirane!"));
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
                if (!mayLoseList(numberElements, unsaved, kFreeing)) {
                    break;
                }
                array = deleteArray(array, &numberElements);
                memoryFlag = 0;
                unsaved = false;
                listFile.clear();
                pauseConsole();
                break;
            case kEnd:
                if (!mayLoseList(numberElements, unsaved, kEnding)) {
                    mode = 0;  // the loop goes on
                }
                break;
            default:  // 8 draws the menu again at once
                break;
        }
    }
    endProgram(0);
}
