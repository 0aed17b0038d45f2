// The console dialogue: the input as one byte stream that line, number and key
// reads share, and texts put together for listings. What the system has to do
// for it stands behind system/platform.h.
#include "console/dialogue.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "console/keys.h"
#include "console/line_editor.h"
#include "failures.h"
#include "system/output.h"
#include "system/platform.h"
#include "text/ascii.h"
#include "text/codepage.h"
#include "translate.h"

namespace {

bool convertTexts = false;          // the terminal speaks UTF-8, records hold code page 1251
bool safeTexts = false;             // output is a terminal: control bytes in texts show as '?'
bool safeHighBytes = false;         // so do bytes 0x80..0x9F, which it takes as C1 controls
bool editingLines = false;          // lines are read through the line editor
std::size_t lineMost = kLineLimit;  // the characters that the line editor takes

// The bytes read and not yet taken, and the line that line and number reads work on.
struct Input {
    int fd = 0;             // standard input, unless useInput chose another
    bool terminal = false;  // a terminal, or on Windows a console
    char bytes[1 << 16];
    std::size_t start = 0;
    std::size_t end = 0;
    std::string pending;
    std::size_t pendingPos = 0;
};
Input input;

// Waits for more bytes. Output is shown before every wait.
Received refill() {
    flushOutput();
    Received received = readInput(input.bytes, sizeof input.bytes);
    if (received.fill == Fill::kData) {
        input.start = 0;
        input.end = received.size;
    }
    return received;
}

// The end of input ends the program: one line end, status 0.
[[noreturn]] void endOfInput() {
    writeOutput("\n", 1);
    endProgram(0);
}

[[noreturn]] void unreadableInput(int reason) {
    writeOutput("\n", 1);
    reportStreamError(_("schools: standard input"), Reason{reason});
    endProgram(1);
}

// The next byte of the input; the end of input ends the program.
int takeByte() {
    if (input.start == input.end) {
        Received received = refill();
        if (received.fill == Fill::kResumed)
            return KEY_RESUMED;
        if (received.fill == Fill::kEnded)
            endOfInput();
        if (received.fill == Fill::kFailed)
            unreadableInput(received.error);
    }
    return static_cast<unsigned char>(input.bytes[input.start++]);
}

bool bytesWaiting() {
    return input.start < input.end;
}

// The next byte of the same key press, or -1 when none follows at once.
int nextByteOfKey(void*) {
    return bytesWaiting() || inputArrivesWithin(kKeyWaitMs) ? takeByte() : -1;
}

// The rest of a key that began with ESC is dropped; a byte that is no part of it
// stays to be read as a key of its own.
void skipEscapeSequence() {
    int unused = decodeEscape(nextByteOfKey, nullptr).unused;
    if (unused >= 0 && unused <= 0xFF) {
        --input.start;  // the byte just taken
    }
}

// The rest of the line from the editor, after the bytes typed before it was asked;
// what it read beyond the line's end is taken as typed ahead.
Received takeEditedLine() {
    std::string typed;
    typed.swap(input.pending);
    Received received =
        readEditedLine(shownLine(), promptAbove(), lineMost, &typed, &input.pending);
    forgetShownLines();  // the line end typed moved to a new line
    markLineEnded();
    input.start = 0;
    input.end = std::min(typed.size(), sizeof input.bytes);
    std::memcpy(input.bytes, typed.data(), input.end);
    return received;
}

// A line being read for its keys, up to its line end.
struct LineKeys {
    const std::string* line;
    std::size_t at;
    std::size_t end;
};

int nextByteOfLine(void* source) {
    LineKeys* keys = static_cast<LineKeys*>(source);
    return keys->at < keys->end ? static_cast<unsigned char>((*keys->line)[keys->at++]) : -1;
}

// A terminal without the editor passes a cursor, function or Alt key on as its
// escape sequence, which is no part of the line.
void dropKeySequences(std::string* line) {  // a line with its line end
    std::string& s = *line;
    std::size_t kept = 0;
    LineKeys keys{line, 0, s.size() - 1};
    while (keys.at < keys.end) {
        if (s[keys.at] != KEY_ESCAPE) {
            s[kept++] = s[keys.at++];
        } else if (++keys.at, decodeEscape(nextByteOfLine, &keys).unused >= 0) {
            --keys.at;  // a byte of its own: kept
        }
    }
    s.erase(kept, keys.end - kept);
}

// Takes the next whole line of the stream as the pending line, with its line end.
Received takeLine() {
    input.pending.clear();
    input.pendingPos = 0;
    std::size_t length = 0;  // of the whole line as typed
    for (;;) {
        if (input.start == input.end && !editingLines) {
            Received received = refill();
            if (received.fill == Fill::kResumed) {
                // The prompt comes back, and what was typed ahead; the part still in
                // the terminal's line comes back at its reprint key (Ctrl-R).
                std::string again = promptAbove();
                again += (again.empty() ? "" : "\n") + shownLine() + input.pending;
                writeOutput(again.data(), again.size());
                continue;
            }
            if (received.fill != Fill::kData) {
                // A last line without a line end is still a line.
                return length == 0 ? received : Received{Fill::kData, 0, 0};
            }
        }
        if (input.start == input.end && editingLines) {
            return takeEditedLine();
        }
        const char* from = input.bytes + input.start;
        std::size_t size = input.end - input.start;
        const void* newline = std::memchr(from, '\n', size);
        std::size_t take =
            newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - from) + 1 : size;
        std::size_t room = kLineLimit - input.pending.size();
        input.pending.append(from, take < room ? take : room);
        input.start += take;
        length += take;
        if (newline) {
            if (length > kLineLimit) {
                input.pending.back() = '\n';
            } else if (length >= 2 && input.pending[length - 2] == '\r') {
                input.pending.erase(length - 2, 1);
            }
            if (input.terminal) {
                dropKeySequences(&input.pending);
                markLineEnded();  // the line end typed was echoed
            }
            return Received{Fill::kData, 0, 0};
        }
    }
}

// Like takeLine; the end of input, or input that cannot be read, ends the program.
void takeLineOrEnd() {
    Received received = takeLine();
    if (received.fill == Fill::kEnded)
        endOfInput();
    if (received.fill == Fill::kFailed)
        unreadableInput(received.error);
}

// Whether the locale's character set is UTF-8 ("bg_BG.UTF-8", "C.utf8").
bool speaksUtf8(const char* locale) {
    std::string lower;
    for (const char* p = locale; *p; ++p) {
        lower.push_back(lowerAscii(*p));
    }
    return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool endsWord(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

/* ==== Lent to the pages of a listing ===================================== */

bool inputIsTerminal() {
    return input.terminal;
}

bool typesUtf8() {
    return convertTexts;
}

/* ==== Start-up =========================================================== */

void setCodePage() {
    prepareConsole();
    convertTexts = speaksUtf8(localeName());
    safeTexts = outputIsTerminal();
    safeHighBytes = safeTexts && !convertTexts && takesC1Controls();
    bufferOutput();
    input.terminal = attachInput(input.fd);
    editingLines = input.terminal && startLineEditor(input.fd);
    if (input.terminal) {
        followShownLine();
    }
}

void useInput(int fd) {
    input.fd = fd;
    input.terminal = attachInput(fd);
    input.start = input.end = 0;
    input.pending.clear();
    input.pendingPos = 0;
}

/* ==== Texts shown ========================================================= */

char* putText(const char* text, std::size_t size, char* out) {
    std::size_t length = strnlen(text, size);
    char* end = out + length;
    if (convertTexts) {
        end = encodeUtf8(text, length, out);
    } else {
        std::memcpy(out, text, length);
    }
    // Texts come from files of anywhere: none may drive the terminal. Converted,
    // only byte 0x98 (U+0098) is a C1 control, two bytes that become one '?'.
    if (safeTexts && convertTexts && std::memchr(text, '\x98', length)) {
        end = out;
        for (std::size_t i = 0; i < length; ++i) {
            end = text[i] == '\x98' ? (*end = kControlMask, end + 1) : encodeUtf8(text + i, 1, end);
        }
    }
    if (safeTexts) {
        maskControls(out, static_cast<std::size_t>(end - out), safeHighBytes);
    }
    return end;
}

bool printsToTerminal() {
    return outputIsTerminal();
}

/* ==== Input ============================================================== */

void readLine(std::string* line) {
    if (input.pendingPos >= input.pending.size()) {
        takeLineOrEnd();
    }
    line->assign(input.pending, input.pendingPos, std::string::npos);
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
    }
    input.pending.clear();
    input.pendingPos = 0;
}

void readText(char* field, std::size_t size) {
    std::string line;
    lineMost = size - 1;
    readLine(&line);
    lineMost = kLineLimit;
    if (convertTexts) {
        line = utf8ToCp1251(line);
    }
    std::size_t kept = line.size() < size - 1 ? line.size() : size - 1;
    if (input.terminal && kept < line.size()) {
        char note[256];
        int length =
            std::snprintf(note, sizeof note, _("Only the first %d characters were kept.\n"),
                          static_cast<int>(kept));
        writeOutput(note,
                    length > 0 ? std::min(sizeof note - 1, static_cast<std::size_t>(length)) : 0);
    }
    std::memcpy(field, line.data(), kept);
    std::memset(field + kept, 0, size - kept);
}

void readNumber(const char* prompt, std::int32_t* target) {
    for (;;) {
        while (input.pendingPos < input.pending.size() &&
               isBlank(input.pending[input.pendingPos])) {
            ++input.pendingPos;
        }
        if (input.pendingPos == input.pending.size()) {
            takeLineOrEnd();
            continue;
        }
        const char* word = input.pending.data() + input.pendingPos;
        std::size_t length = 0;
        while (input.pendingPos + length < input.pending.size() && !endsWord(word[length])) {
            ++length;
        }
        std::int32_t number = 0;
        if (length > 0 && parseNumber(word, length, &number) == length) {
            *target = number;
            input.pendingPos += length;
            return;
        }
        discardInput();
        std::string again = std::string(_("\nNot a whole number!")) + "\n" + prompt;
        writeOutput(again.data(), again.size());  // not through the pages, which read from here
    }
}

void discardInput() {
    input.pending.clear();
    input.pendingPos = 0;
}

// At a terminal the wait for a key has a mode of its own, and the bytes of a
// cursor or function key make one key. Keys typed ahead are taken as they come.
int readKey() {
    if (!input.terminal) {
        return takeByte();
    }
    bool waits = !bytesWaiting();
    if (waits) {
        flushOutput();  // a broken pipe ends the program while the terminal is as found
        enterKeyMode();
    }
    int key = takeByte();
    if (key == KEY_ESCAPE) {
        skipEscapeSequence();
    }
    leaveKeyMode();
    return key;  // the end-of-input key too: it ends input only at a line prompt
}

// At a terminal what was printed goes first: a console's text waits in the
// program's own buffer. A pipe gets no write more.
void clearConsole() {
    if (safeTexts) {
        flushOutput();
    }
    clearScreen();
}
