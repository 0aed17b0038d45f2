// The pages of a listing: where a person reads the screen and types the keys, a
// long listing stops each time the screen is full and waits for a key.
#include <climits>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "console/dialogue.h"
#include "console/platform.h"

namespace {

const char kMorePrompt[] = "-- more (any key; q stops) --";

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

// The prompt is cut short of the window's last column, so that it never wraps:
// blanks wipe it alike on every terminal and console, and the listing, or the
// pause after it, goes on on that line.
void askForPage() {
    int width = static_cast<int>(sizeof kMorePrompt - 1), columns = screenColumns();
    if (columns > 0 && columns <= width) {
        width = columns > 1 ? columns - 1 : 1;
    }
    std::printf("%.*s", width, kMorePrompt);
    int key;
    while ((key = readKey()) == KEY_RESUMED) {
        std::printf("\r%.*s", width, kMorePrompt);  // back after a stop: the prompt again
    }
    std::printf("\r%*s\r", width, "");
    pages.stopped = key == 'q' || key == 'Q';
    startPage();
}

}  // namespace

bool showPaged(const char* text, std::size_t size) {
    if (!pages.on) {
        return false;
    }
    // A page ends at a line end, where the next line would not fit, but holds one
    // line at least, however long; the prompt comes only when more is to be shown.
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
        std::fwrite(text, 1, part, stdout);
        pages.room -= rows;
        pages.column = lineEnd ? 0 : columns;
        text += part;
        size -= part;
    }
    return true;
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
