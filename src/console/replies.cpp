// Questions answered yes or no. A script's reply is "yes" exactly, as scripts have
// always typed it; a person may answer in any case, in short, or in the language
// of the screens, and anything else is asked again.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "console.h"
#include "console/dialogue.h"
#include "text/codepage.h"
#include "translate.h"

namespace {

// The reply without the blanks around it, in code page 1251 and in lower case, so
// that Cyrillic compares in any case as well.
std::string folded(std::string text) {
    std::size_t first = text.find_first_not_of(" \t");
    text = first == std::string::npos
               ? ""
               : text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (typesUtf8()) {
        text = utf8ToCp1251(text);
    }
    for (char& c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) {
            c = static_cast<char>(byte + 0x20);
        } else if (byte == 0xA8) {  // the capital Io
            c = static_cast<char>(0xB8);
        }
    }
    return text;
}

bool isAnyOf(const std::string& reply, const char* const* words) {
    for (; *words; ++words) {
        if (reply == folded(*words)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool readYes(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    char question[1024];
    std::vsnprintf(question, sizeof question, format, arguments);
    va_end(arguments);
    std::string reply;
    for (;;) {
        print("%s", question);
        discardInput();
        readLine(&reply);
        if (!inputIsTerminal()) {
            return reply == "yes" || reply == _("yes");
        }
        std::string answer = folded(reply);
        // TRANSLATORS: "y" and "n" are the short replies that a person may type for
        // "yes" and "no", in any case.
        const char* const yes[] = {"yes", "y", _("yes"), _("y"), nullptr};
        const char* const no[] = {"no", "n", _("no"), _("n"), nullptr};
        if (isAnyOf(answer, yes) || isAnyOf(answer, no)) {
            return isAnyOf(answer, yes);
        }
    }
}
