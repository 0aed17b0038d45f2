// Line editing at the prompts of a terminal, through libedit: the cursor keys,
// Home and End, Delete, the Emacs keys, and the lines typed earlier in the session.
// The editor only delivers lines; what the program does with them is as ever.
#include <histedit.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwchar>

#include "console/platform.h"

namespace {

struct Editor {
    EditLine* line = nullptr;
    History* history = nullptr;
    std::string prompt;  // shown again by the editor when it redraws the line
};
Editor editor;

char* currentPrompt(EditLine*) {
    return &editor.prompt[0];
}

// Whether the editor can take every byte typed in the locale's character set: it
// drops bytes that do not form a character, as bytes beyond ASCII in the C locale.
bool localeTakesEveryByte() {
    std::mbstate_t state{};
    wchar_t character;
    return MB_CUR_MAX > 1 || std::mbrtowc(&character, "\xe0", 1, &state) == 1;
}

}  // namespace

bool startLineEditor(int fd) {
    // A character of the locale (UTF-8) is then one editing step.
    std::setlocale(LC_CTYPE, "");
    if (!localeTakesEveryByte()) {
        std::setlocale(LC_CTYPE, "C");
        return false;
    }
    editor.line = el_init_fd("schools", stdin, stdout, stderr, fd, fileno(stdout), fileno(stderr));
    editor.history = history_init();
    if (!editor.line || !editor.history) {
        return false;
    }
    HistEvent event;
    history(editor.history, &event, H_SETSIZE, 500);
    el_set(editor.line, EL_EDITOR, "emacs");
    el_set(editor.line, EL_HIST, history, editor.history);
    el_set(editor.line, EL_PROMPT, currentPrompt);
    el_set(editor.line, EL_SIGNAL, 1);  // the terminal comes back before a signal acts
    el_source(editor.line, nullptr);    // the user's own ~/.editrc
    return true;
}

Received readEditedLine(const std::string& prompt, const std::string& typedAhead,
                        std::string* line) {
    editor.prompt = prompt;
    // The editor draws the prompt from the start of the line, over the one shown.
    std::fputs("\r", stdout);
    std::fflush(stdout);
    if (!typedAhead.empty()) {
        el_push(editor.line, typedAhead.c_str());
    }
    int count = 0;
    markLineEditing(true);
    const char* text = el_gets(editor.line, &count);
    markLineEditing(false);
    if (!text || count <= 0) {
        return count < 0 ? Received{Fill::kFailed, 0, errno} : Received{Fill::kEnded, 0, 0};
    }
    line->assign(text, static_cast<std::size_t>(count));
    if (line->back() != '\n') {
        line->push_back('\n');
    }
    if (line->size() > 1) {
        HistEvent event;
        history(editor.history, &event, H_ENTER, line->substr(0, line->size() - 1).c_str());
    }
    return Received{Fill::kData, line->size(), 0};
}
