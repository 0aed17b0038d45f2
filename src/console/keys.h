// Keys and lines as a terminal sends them: the one decoder of the bytes of a key
// press, and the limits that the readers of keys and lines share.
#pragma once

#include <cstddef>
#include <string>

#include "console.h"  // KEY_ESCAPE
#include "system/platform.h"

// The bytes of one key press come together; a lone ESC waits no longer.
constexpr int kKeyWaitMs = 50;
// The most of one line that any read uses (a file name, two numbers): the rest of
// a longer line is thrown away as it arrives, so no line can exhaust memory.
constexpr std::size_t kLineLimit = std::size_t{1} << 16;

// What follows an ESC. A cursor or function key sends ESC '[' parameters final, or
// ESC 'O' and a byte; Alt and a key sends ESC and that key; ESC alone is a lone ESC.
// The Windows console gives such a key two codes, 0 or 0xE0 and then the key's scan
// code; its reader brings them after an ESC, as a terminal would, so that they are
// one key here too.
struct EscapeKey {
    enum Kind { kLone, kAlt, kSequence, kConsole } kind = kLone;
    // kAlt: the key; kSequence: from '[' or 'O' on, at most kEscapeSequenceCap bytes,
    // without its final byte when cut short; kConsole: the console's two codes.
    std::string body;
    int unused = -1;  // a byte read that is no part of the key: a key of its own
};
constexpr std::size_t kEscapeSequenceCap = 32;
constexpr int kConsolePrefix = kConsoleKeyPrefix;

// Decodes what follows an ESC from `next`, which gives the next byte of the same
// key press, or -1 when none follows at once.
EscapeKey decodeEscape(int (*next)(void* source), void* source);
