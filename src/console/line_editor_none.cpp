// Where no line editor is built in (no libedit, or Windows, whose console edits
// lines itself): lines are read as they come.
#include "console/line_editor.h"
#include "system/platform.h"

bool startLineEditor(int) {
    return false;
}

Received readEditedLine(const std::string&, const std::string&, std::size_t, std::string*,
                        std::string*) {
    return Received{Fill::kFailed, 0, 0};
}
