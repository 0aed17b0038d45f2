// The console dialogue: the input as one byte stream that line, number and key
// reads share, and the output, formatted and put together for listings. What the
// system has to do for it stands behind console/platform.h.
#include "console/dialogue.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "console.h"
#include "console/codepage.h"
#include "console/platform.h"
#include "translate.h"

namespace {

bool convertTexts = false;   // the terminal speaks UTF-8, records hold code page 1251
bool safeTexts = false;      // output is a terminal: control bytes in texts show as '?'
bool safeHighBytes = false;  // so do bytes 0x80..0x9F, which it takes as C1 controls
                             // why standard output first failed, 0 while it works

// Where lines are edited, what was printed since the last line end: the editor
// shows it again as the prompt of the line it reads.
bool editingLines = false;
std::string shownLine;

void show(const char* text, std::size_t size) {
    if (showPaged(text, size)) {
        return;
    }
    std::fwrite(text, 1, size, stdout);
    if (editingLines) {
        std::size_t lineAt = size;
        while (lineAt > 0 && text[lineAt - 1] != '\n') {
            --lineAt;
        }
        if (lineAt > 0) {
            shownLine.clear();
        }
        shownLine.append(text + lineAt, size - lineAt);
    }
}

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
    std::fputs("\n", stdout);
    endProgram(0);
}

[[noreturn]] void unreadableInput(int reason) {
    std::fputs("\n", stdout);
    reportStreamError(_("schools: standard input"), reason);
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

// A cursor or function key sends ESC '[' parameters final, or ESC 'O' key; Alt and
// a key sends ESC and that key. The bytes of one key press come together.
void skipEscapeSequence() {
    const int kWaitMs = 50;
    auto next = [] { return bytesWaiting() || inputArrivesWithin(kWaitMs) ? takeByte() : -1; };
    int c = next();
    if (c == '[') {
        for (int i = 0; i < 32; ++i) {
            c = next();
            if (c < 0 || (c >= 0x40 && c <= 0x7E)) {
                return;
            }
        }
    } else if (c == 'O') {
        next();
    }
}

// The most of one line that any read uses (a file name, two numbers): the rest of
// a longer line is thrown away as it arrives, so no line can exhaust memory.
const std::size_t kLineLimit = 1 << 16;

// The rest of the line from the editor, after the bytes typed before it was asked;
// what it read beyond the line's end is taken as typed ahead.
Received takeEditedLine() {
    std::string typed;
    typed.swap(input.pending);
    Received received = readEditedLine(shownLine, &typed, &input.pending);
    shownLine.clear();  // the line end typed moved to a new line
    input.start = 0;
    input.end = std::min(typed.size(), sizeof input.bytes);
    std::memcpy(input.bytes, typed.data(), input.end);
    return received;
}

// A terminal without the editor passes a cursor, function or Alt key on as its escape sequence,
// no part of the line: ESC '[' parameters final, ESC 'O' byte, ESC byte, a lone ESC.
void dropKeySequences(std::string* line) {  // a line with its line end
    std::string& s = *line;
    std::size_t kept = 0, i = 0, end = s.size() - 1;
    while (i < end) {
        if (s[i] != '\x1b') {
            s[kept++] = s[i++];
        } else if (++i < end && s[i] != '\x1b') {  // ESC ESC: Alt and a key's sequence
            char lead = s[i++];
            while (lead == '[' && i < end && s[i] >= 0x20 && s[i] <= 0x3F)
                ++i;
            i += i < end && (lead == 'O' || (lead == '[' && s[i] >= 0x40 && s[i] <= 0x7E));
        }
    }
    s.erase(kept, end - kept);
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
                continue;  // the terminal's line mode shows the line itself
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
            if (input.terminal)
                dropKeySequences(&input.pending);
            return Received{Fill::kData, 0, 0};
        }
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Standard output's buffer: one write per 64 KiB of output and per wait for input.
char outputBuffer[1 << 16];

}  // namespace

/* ==== Lent to the pages of a listing ====================================== */

bool inputIsTerminal() {
    return input.terminal;
}

/* ==== Start-up =========================================================== */

void setCodePage() {
    convertTexts = prepareConsole();
    noteStandardStreams();
    safeTexts = outputIsTerminal();
    safeHighBytes = safeTexts && !convertTexts && takesC1Controls();
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    input.terminal = attachInput(input.fd);
    editingLines = input.terminal && startLineEditor(input.fd);
}

void setBinaryStreams() {
    prepareFileRun();
    noteStandardStreams();
}

void useInput(int fd) {
    input.fd = fd;
    input.terminal = attachInput(fd);
    input.start = input.end = 0;
    input.pending.clear();
    input.pendingPos = 0;
}

/* ==== Output ============================================================= */

void print(const char* format, ...) {
    if (!std::strchr(format, '%')) {
        show(format, std::strlen(format));  // much cheaper than formatting
        return;
    }
    va_list args;
    va_start(args, format);
    if (editingLines) {
        char text[512];  // the program's own texts and numbers, one line at most
        int size = std::vsnprintf(text, sizeof text, format, args);
        show(text, std::min(static_cast<std::size_t>(size > 0 ? size : 0), sizeof text - 1));
    } else {
        std::vfprintf(stdout, format, args);
    }
    va_end(args);
}

void printLine(const char* text) {
    show(text, std::strlen(text));
    show("\n", 1);
}

char* putText(const char* text, std::size_t size, char* out) {
    std::size_t length = strnlen(text, size);
    char* end = out + length;
    if (convertTexts) {
        end = encodeUtf8(text, length, out);
    } else {
        std::memcpy(out, text, length);
    }
    // Texts come from files of anywhere: none may drive the terminal. Converted,
    // no character of code page 1251 is a C1 control.
    for (char* p = out; safeTexts && p < end; ++p) {
        unsigned char byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte == 0x7F || (safeHighBytes && byte >= 0x80 && byte < 0xA0)) {
            *p = '?';
        }
    }
    return end;
}

void printBytes(const char* bytes, std::size_t size) {
    show(bytes, size);
}

/* ==== Input ============================================================== */

bool readLine(std::string* line) {
    if (input.pendingPos >= input.pending.size()) {
        Fill fill = takeLine().fill;
        if (fill == Fill::kEnded)
            endOfInput();
        if (fill == Fill::kFailed)
            return false;
    }
    line->assign(input.pending, input.pendingPos, std::string::npos);
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
    }
    input.pending.clear();
    input.pendingPos = 0;
    return true;
}

bool readText(char* field, std::size_t size) {
    std::string line;
    if (!readLine(&line)) {
        return false;
    }
    if (convertTexts) {
        line = utf8ToCp1251(line);
    }
    std::size_t kept = line.size() < size - 1 ? line.size() : size - 1;
    std::memcpy(field, line.data(), kept);
    std::memset(field + kept, 0, size - kept);
    return true;
}

void readNumber(std::int32_t* target) {
    for (;;) {
        while (input.pendingPos < input.pending.size() &&
               isBlank(input.pending[input.pendingPos])) {
            ++input.pendingPos;
        }
        if (input.pendingPos < input.pending.size()) {
            break;
        }
        Received received = takeLine();
        if (received.fill == Fill::kEnded)
            endOfInput();
        if (received.fill == Fill::kFailed)
            unreadableInput(received.error);
    }
    input.pendingPos += parseNumber(input.pending.data() + input.pendingPos,
                                    input.pending.size() - input.pendingPos, target);
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

void clearConsole() {
    clearScreen();
}

void pauseConsole() {
    print(_("Press any key to continue . . . "));
    while (readKey() == KEY_RESUMED) {
        print("\r%s", _("Press any key to continue . . . "));
    }
    print("\n");
}
