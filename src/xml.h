// The little of XML that a workbook's parts take: tags with their attributes and
// the text between them, read in one pass without recursion over any bytes.
// Comments, processing instructions and declarations are skipped; a DOCTYPE's
// entities are never expanded.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

struct XmlCursor {
    const char* at;
    const char* end;
};

struct XmlItem {
    enum Kind { kEnd, kText, kOpen, kClose, kOpenClose } kind = kEnd;
    const char* name = nullptr;  // a tag's name without its namespace prefix
    std::size_t nameSize = 0;
    const char* attributes = nullptr;  // a tag's attributes, as they stand
    std::size_t attributesSize = 0;
    const char* text = nullptr;  // kText: character data as it stands, or CDATA's inside
    std::size_t textSize = 0;
    bool raw = false;  // CDATA: no entities to resolve
};

// The next tag or run of text; kEnd at the end of the bytes. A tag cut short ends
// the bytes.
void nextXmlItem(XmlCursor* cursor, XmlItem* item);
template <std::size_t N>
bool isXmlName(const XmlItem& item, const char (&name)[N]) {
    return item.nameSize == N - 1 && std::memcmp(item.name, name, N - 1) == 0;
}
// The value of the attribute of that name (namespace prefix dropped), entities
// resolved; false when the tag has none.
bool findXmlAttribute(const XmlItem& item, const char* name, std::size_t size, std::string* value);
template <std::size_t N>
bool xmlAttribute(const XmlItem& item, const char (&name)[N], std::string* value) {
    return findXmlAttribute(item, name, N - 1, value);
}
// Appends the text with its entities resolved; an unknown one stays as it is.
void appendXmlText(const char* text, std::size_t size, std::string* out);
// Appends a kText item's text, resolved.
void appendItemText(const XmlItem& item, std::string* out);
