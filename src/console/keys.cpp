// The one decoder of the bytes that follow an ESC, for the key reads, the lines
// read without an editor and the editor's own keys alike.
#include "console/keys.h"

EscapeKey decodeEscape(int (*next)(void* source), void* source) {
    EscapeKey key;
    int byte = next(source);
    if (byte == 0 || byte == kConsolePrefix) {
        key.kind = EscapeKey::kConsole;
        key.body.assign(1, static_cast<char>(byte));
        if (int code = next(source); code >= 0) {
            key.body.push_back(static_cast<char>(code));
        }
        return key;
    }
    if (byte != '[' && byte != 'O') {
        if (byte >= 0x20 && byte <= 0x7F) {
            key.kind = EscapeKey::kAlt;
            key.body.assign(1, static_cast<char>(byte));
        } else {
            key.unused = byte;  // a control byte, ESC among them, or none
        }
        return key;
    }
    key.kind = EscapeKey::kSequence;
    key.body.assign(1, static_cast<char>(byte));
    while (key.body.size() < kEscapeSequenceCap) {  // parameters, then the final byte
        byte = next(source);
        if (byte < 0x20 || byte > 0x7E) {
            key.unused = byte;  // cut short: the byte is a key of its own
            return key;
        }
        key.body.push_back(static_cast<char>(byte));
        if (byte >= 0x40) {
            break;
        }
    }
    return key;
}
