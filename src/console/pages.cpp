// The pages of a listing: where a person reads the screen and types the keys, a
// long listing stops each time the screen is full and waits for a key.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "console/dialogue.h"
#include "console/platform.h"
#include "translate.h"

namespace {

const char kMorePrompt[] = N_("-- more (any key; q stops) --");

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
    const char* prompt = _(kMorePrompt);
    std::fputs(prompt, stdout);
    int key;
    while ((key = readKey()) == KEY_RESUMED) {
        std::printf("\r%s", prompt);  // back after a stop: the prompt again
    }
    // As wide as the prompt: its characters in the locale's character set.
    std::size_t width = std::mbstowcs(nullptr, prompt, 0);
    width = width == static_cast<std::size_t>(-1) ? std::strlen(prompt) : width;
    std::printf("\r%*s\r", static_cast<int>(width), "");
    pages.stopped = key == 'q' || key == 'Q';
    pages.room = linesOnPage();
}

}  // namespace

bool showPaged(const char* text, std::size_t size) {
    if (!pages.on) {
        return false;
    }
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
        std::fwrite(text, 1, part, stdout);
        text += part;
        size -= part;
    }
    return true;
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
