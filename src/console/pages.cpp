// The one road of everything the dialogue prints, and the pages of a listing on
// it: where a person reads the screen and types the keys, a long listing stops
// each time the screen is full and waits for a key.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "console.h"
#include "console/dialogue.h"
#include "console/output.h"
#include "console/platform.h"

namespace {

const char kMorePrompt[] = "-- more (any key; q stops) --";

struct Pages {
    bool on = false;
    bool stopped = false;  // q: the rest of the listing is dropped
    int room = 0;          // line ends the page holds above the prompt's row
};
Pages pages;

// The height is read anew for each page, so that a resized window pages by its
// new size. Without one, or with one too small for a line and the prompt: no pages.
int linesOnPage() {
    int rows = screenRows();
    return rows >= 3 ? rows - 1 : INT_MAX;
}

// Blanks wipe the prompt alike on every terminal and console; the listing, or
// the pause after it, goes on on that line.
void askForPage() {
    writeOutput(kMorePrompt, sizeof kMorePrompt - 1);
    int key;
    while ((key = readKey()) == KEY_RESUMED) {
        writeOutput("\r", 1);  // back after a stop: the prompt again
        writeOutput(kMorePrompt, sizeof kMorePrompt - 1);
    }
    std::string wipe = "\r" + std::string(sizeof kMorePrompt - 1, ' ') + "\r";
    writeOutput(wipe.data(), wipe.size());
    pages.stopped = key == 'q' || key == 'Q';
    pages.room = linesOnPage();
}

// Shows the text a screenful at a time while a listing is paged.
void showPaged(const char* text, std::size_t size) {
    // A page ends at a line end; the prompt comes only when more is to be shown.
    while (size > 0 && !pages.stopped) {
        if (pages.room == 0) {
            askForPage();
            continue;
        }
        std::size_t part = 0;
        while (part < size && pages.room > 0) {
            if (text[part++] == '\n') {
                --pages.room;
            }
        }
        writeOutput(text, part);
        text += part;
        size -= part;
    }
}

void show(const char* text, std::size_t size) {
    if (pages.on) {
        showPaged(text, size);
    } else {
        writeOutput(text, size);
    }
}

}  // namespace

void print(const char* format, ...) {
    if (!std::strchr(format, '%')) {
        show(format, std::strlen(format));  // much cheaper than formatting
        return;
    }
    char text[512];  // the program's own texts and numbers, one line at most
    va_list args;
    va_start(args, format);
    int size = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::size_t length = static_cast<std::size_t>(std::max(size, 0));
    if (length < sizeof text) {
        show(text, length);
        return;
    }
    std::string longer(length + 1, '\0');
    va_start(args, format);
    std::vsnprintf(&longer[0], longer.size(), format, args);
    va_end(args);
    show(longer.data(), length);
}

void printLine(const char* text) {
    show(text, std::strlen(text));
    show("\n", 1);
}

void printBytes(const char* bytes, std::size_t size) {
    show(bytes, size);
}

void pauseConsole() {
    print("Press any key to continue . . . ");
    while (readKey() == KEY_RESUMED) {
        print("\rPress any key to continue . . . ");
    }
    print("\n");
}

void beginPages() {
    pages = Pages{};
    pages.on = inputIsTerminal() && outputIsTerminal();
    pages.room = linesOnPage();
}

bool pagesGoOn() {
    return !pages.stopped;
}

void endPages() {
    pages = Pages{};
}
