// The line editor at a terminal's prompts, defined by the file the build chooses:
// line_editor.cpp (libedit) or line_editor_none.cpp.
#pragma once

#include <string>

#include "system/platform.h"

// The line editor, where one is built in (libedit, on POSIX): starts it on the
// terminal `fd`; false where there is none, and lines are then read as they come.
bool startLineEditor(int fd);
// One line through the editor, with what was printed on the line so far as its
// prompt; `above`, a prompt printed with its line end, is shown again above it
// after a stop. The line takes at most `most` printable characters: one more
// rings the bell and is dropped. `typed` brings the bytes typed before the line was asked for,
// which start it, and takes back those read beyond its end. The line comes with
// its line end; kEnded at the end of input.
Received readEditedLine(const std::string& prompt, const std::string& above, std::size_t most,
                        std::string* typed, std::string* line);
