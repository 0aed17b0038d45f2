// Files that are no table of schools, named for what they are: old and locked
// Office files, zip archives of other programs, a school file itself. Pure
// functions over bytes.
#pragma once

#include <string>

// What the bytes are and what to do, to translate, when they are a compound file
// (an Excel 97-2003 workbook, a workbook locked with a password, or another) or a
// school file; null for anything else.
const char* foreignFile(const std::string& bytes);
// What a zip archive that holds no workbook's parts and no spreadsheet's mimetype
// is (an Excel binary workbook, or another), and what to do, to translate.
const char* foreignZip(const std::string& bytes);
// Whether an OpenDocument archive's manifest says that its parts are encrypted.
bool isEncryptedOds(const std::string& bytes);
// What a workbook locked with a password is, and what to do, to translate.
extern const char kLockedWorkbook[];
