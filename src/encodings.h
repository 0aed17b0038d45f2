// The encodings in which spreadsheets write text files, read into UTF-8.
#pragma once

#include <cstddef>
#include <string>

enum class Encoding { kUtf8, kUtf16, kCp1251 };

// A file's bytes as UTF-8 text, at `*text` for `*size` bytes:
// - after a UTF-8 byte-order mark, or with none when every byte is UTF-8, as they are;
// - after a UTF-16 byte-order mark (either byte order) converted, a surrogate
//   without its pair passed on as its three bytes, which are no UTF-8, and an odd
//   last byte as 0xFF, which is none either;
// - anything else as Windows-1251 (code page 1251), every byte a character.
// What had to be converted is held in `converted`.
Encoding readAsUtf8(const char* bytes, std::size_t size, std::string* converted, const char** text,
                    std::size_t* textSize);
