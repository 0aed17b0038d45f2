#include "menu.h"

#include "console.h"
#include "translate.h"

std::int16_t menu(const char* const* t) {
    for (;;) {
        clearConsole();
        print("\n%s\n", _(t[0]));
        int items = 0;
        for (int k = 1; t[k] != nullptr; ++k) {
            print("\n%d.%s", k, _(t[k]));
            items = k;
        }
        print(_("\n\nIzberete rejims:"));
        // A menu of seven or more items also takes the digit after its last item.
        int highest = items <= 6 ? items : items + 1;
        int key;
        while ((key = readKey()) != KEY_RESUMED) {
            int choice = static_cast<signed char>(key) - '0';
            if (choice >= 1 && choice <= highest) {
                print("%c\n", key);
                return static_cast<std::int16_t>(choice);
            }
        }
        // Back after a stop: the screen may hold anything, the menu is drawn anew.
    }
}
