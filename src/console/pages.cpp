// The one road of everything the dialogue prints, and the pages of a listing on
// it: where a person reads the screen and types the keys, a long listing stops
// each time the screen is full and waits for a key.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "console/dialogue.h"
#include "system/output.h"
#include "system/platform.h"
#include "translate.h"

namespace {

const char kMorePrompt[] = N_("-- more (any key; q stops) --");

struct Pages {
    bool on = false;
    bool stopped = false;  // q: the rest of the listing is dropped
    int room = 0;          // rows the page holds above the prompt's row
    int height = 0;        // the rows it held at its start
    int columns = 0;       // the window's width; 0 when unknown
    int column = 0;        // columns of the line begun and not yet ended
};
Pages pages;

// The height is read anew for each page, so that a resized window pages by its
// new size. Without one, or with one too small for a row and the prompt: no pages.
void startPage() {
    int rows = screenRows();
    pages.room = pages.height = rows >= 2 ? rows - 1 : INT_MAX;
    pages.columns = screenColumns();
}

// The rows a line of that many columns takes, as the terminal wraps it.
int rowsOf(int columns) {
    return pages.columns > 0 && columns > pages.columns ? (columns - 1) / pages.columns + 1 : 1;
}

// A character of UTF-8 takes one column; its continuation bytes take none.
int columnsOf(const char* text, std::size_t size) {
    int columns = 0;
    for (std::size_t k = 0; k < size; ++k) {
        columns += (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80;
    }
    return columns;
}

// The characters of a text in the locale's character set, and the bytes of the
// first `count` of them.
int charactersOf(const char* text) {
    std::size_t count = std::mbstowcs(nullptr, text, 0);
    return static_cast<int>(count == static_cast<std::size_t>(-1) ? std::strlen(text) : count);
}

std::size_t bytesOf(const char* text, int count) {
    std::size_t at = 0, size = std::strlen(text);
    std::mblen(nullptr, 0);
    for (int k = 0; k < count && at < size; ++k) {
        int length = std::mblen(text + at, size - at);
        at += length > 0 ? static_cast<std::size_t>(length) : 1;
    }
    return at;
}

// The prompt is cut short of the window's last column, so that it never wraps:
// blanks wipe it alike on every terminal and console, and the listing, or the
// pause after it, goes on on that line.
void askForPage() {
    const char* prompt = _(kMorePrompt);
    int width = charactersOf(prompt), columns = screenColumns();
    if (columns > 0 && columns <= width) {
        width = columns > 1 ? columns - 1 : 1;
    }
    std::size_t shown = bytesOf(prompt, width);
    writeOutput(prompt, shown);
    int key;
    while ((key = readKey()) == KEY_RESUMED) {
        writeOutput("\r", 1);  // back after a stop: the prompt again
        writeOutput(prompt, shown);
    }
    std::string wipe = "\r" + std::string(static_cast<std::size_t>(width), ' ') + "\r";
    writeOutput(wipe.data(), wipe.size());
    pages.stopped = key == 'q' || key == 'Q';
    startPage();
}

// Shows the text a screenful at a time while a listing is paged. A page ends at
// a line end, where the next line would not fit, but holds one line at least,
// however long; the prompt comes only when more is to be shown.
void showPaged(const char* text, std::size_t size) {
    while (size > 0 && !pages.stopped) {
        const void* lineEnd = std::memchr(text, '\n', size);
        std::size_t part =
            lineEnd ? static_cast<std::size_t>(static_cast<const char*>(lineEnd) - text) + 1 : size;
        int columns = pages.column + columnsOf(text, lineEnd ? part - 1 : part);
        int rows = lineEnd ? rowsOf(columns) : 0;
        if (pages.column == 0 &&
            (pages.room <= 0 || (rows > pages.room && pages.room < pages.height))) {
            askForPage();
            continue;
        }
        writeOutput(text, part);
        pages.room -= rows;
        pages.column = lineEnd ? 0 : columns;
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
    const char* prompt = _("Press any key to continue . . . ");
    // Run on after a message, a translated line would be too wide, and a person
    // would read the two as one.
    bool translated = std::strcmp(prompt, "Press any key to continue . . . ") != 0;
    if (!atLineStart() && (inputIsTerminal() || translated)) {
        print("\n");
    }
    print("%s", prompt);
    while (readKey() == KEY_RESUMED) {
        print("\r%s", _("Press any key to continue . . . "));
    }
    print("\n");
}

void beginPages() {
    pages = Pages{};
    pages.on = inputIsTerminal() && outputIsTerminal();
    startPage();
}

bool pagesGoOn() {
    return !pages.stopped;
}

void endPages() {
    pages = Pages{};
}
