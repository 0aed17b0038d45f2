// A reader of the XML that workbooks hold: one pass, bounded by its input.
#include "xml.h"

#include <cstdint>
#include <cstring>

#include "text/utf8.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* findText(const char* at, const char* end, const char* what) {
    std::size_t size = std::strlen(what);
    for (; static_cast<std::size_t>(end - at) >= size; ++at) {
        if (std::memcmp(at, what, size) == 0) {
            return at;
        }
    }
    return end;
}

// "&...;" at `at`: appends its character and returns its size, or 0.
std::size_t entity(const char* at, const char* end, std::string* out) {
    static const char* const kNames[][2] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}};
    for (const auto& named : kNames) {
        std::size_t size = std::strlen(named[0]);
        if (static_cast<std::size_t>(end - at) >= size && std::memcmp(at, named[0], size) == 0) {
            out->append(named[1]);
            return size;
        }
    }
    if (end - at < 4 || at[1] != '#') {
        return 0;
    }
    bool hex = at[2] == 'x';
    std::uint32_t code = 0;
    const char* p = at + 2 + hex;
    const char* first = p;
    for (; p < end && p - first < 8; ++p) {
        char c = *p;
        int digit = c >= '0' && c <= '9'          ? c - '0'
                    : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                  : -1;
        if (digit < 0) {
            break;
        }
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    if (p == first || p == end || *p != ';' || code == 0 || code > 0x10FFFF ||
        (code >= 0xD800 && code < 0xE000)) {
        return 0;
    }
    appendUtf8(code, out);
    return static_cast<std::size_t>(p + 1 - at);
}

}  // namespace

void appendXmlText(const char* text, std::size_t size, std::string* out) {
    const char* end = text + size;
    while (text < end) {
        const char* amp = static_cast<const char*>(std::memchr(text, '&', end - text));
        if (!amp) {
            out->append(text, end);
            return;
        }
        out->append(text, amp);
        std::size_t used = entity(amp, end, out);
        if (used == 0) {
            out->push_back('&');
            used = 1;
        }
        text = amp + used;
    }
}

void appendItemText(const XmlItem& item, std::string* out) {
    if (item.raw) {
        out->append(item.text, item.textSize);
    } else {
        appendXmlText(item.text, item.textSize, out);
    }
}

void nextXmlItem(XmlCursor* c, XmlItem* item) {
    while (c->at < c->end) {
        if (*c->at != '<') {
            const char* lt = static_cast<const char*>(std::memchr(c->at, '<', c->end - c->at));
            const char* to = lt ? lt : c->end;
            item->text = c->at;
            item->textSize = static_cast<std::size_t>(to - c->at);
            item->raw = false;
            c->at = to;
            item->kind = XmlItem::kText;
            return;
        }
        std::size_t left = static_cast<std::size_t>(c->end - c->at);
        bool special = left >= 2 && (c->at[1] == '!' || c->at[1] == '?');
        if (special && left >= 9 && std::memcmp(c->at, "<![CDATA[", 9) == 0) {
            const char* close = findText(c->at + 9, c->end, "]]>");
            item->text = c->at + 9;
            item->textSize = static_cast<std::size_t>(close - (c->at + 9));
            item->raw = true;
            c->at = close == c->end ? c->end : close + 3;
            item->kind = XmlItem::kText;
            return;
        }
        if (special && left >= 4 && std::memcmp(c->at, "<!--", 4) == 0) {
            const char* close = findText(c->at + 4, c->end, "-->");
            c->at = close == c->end ? c->end : close + 3;
            continue;
        }
        if (special) {
            // A declaration's internal subset may hold '>' in quotes; it is skipped whole.
            const char* close = c->at[1] == '?' ? findText(c->at, c->end, "?>") : nullptr;
            if (!close) {
                int depth = 0;
                for (close = c->at + 1; close < c->end; ++close) {
                    depth += *close == '[' ? 1 : *close == ']' ? -1 : 0;
                    if (*close == '>' && depth <= 0) {
                        break;
                    }
                }
            }
            c->at = close >= c->end ? c->end : close + 1 + (c->at[1] == '?');
            continue;
        }
        // A tag: up to its '>' outside quotes.
        const char* p = c->at + 1;
        bool closing = p < c->end && *p == '/';
        p += closing;
        char quote = 0;
        const char* close = p;
        for (; close < c->end && (quote || *close != '>'); ++close) {
            quote = quote ? (*close == quote ? 0 : quote)
                          : (*close == '"' || *close == '\'' ? *close : 0);
        }
        if (close == c->end) {
            break;
        }
        const char* nameEnd = p;
        const char* colon = nullptr;
        for (; nameEnd < close && !isSpace(*nameEnd) && *nameEnd != '/'; ++nameEnd) {
            colon = *nameEnd == ':' ? nameEnd : colon;
        }
        item->name = colon ? colon + 1 : p;
        item->nameSize = static_cast<std::size_t>(nameEnd - item->name);
        bool empty = close > p && close[-1] == '/';
        item->attributes = nameEnd;
        item->attributesSize = static_cast<std::size_t>(close - empty - nameEnd);
        item->kind = closing ? XmlItem::kClose : empty ? XmlItem::kOpenClose : XmlItem::kOpen;
        c->at = close + 1;
        return;
    }
    c->at = c->end;
    item->kind = XmlItem::kEnd;
}

bool findXmlAttribute(const XmlItem& item, const char* name, std::size_t size, std::string* value) {
    const char* p = item.attributes;
    const char* end = p + item.attributesSize;
    while (p < end) {
        while (p < end && isSpace(*p)) {
            ++p;
        }
        const char* local = p;
        for (; p < end && *p != '=' && !isSpace(*p); ++p) {
            local = *p == ':' ? p + 1 : local;
        }
        bool wanted =
            static_cast<std::size_t>(p - local) == size && std::memcmp(local, name, size) == 0;
        while (p < end && (isSpace(*p) || *p == '=')) {
            ++p;
        }
        if (p == end || (*p != '"' && *p != '\'')) {
            return false;  // not an attribute
        }
        const char* close = p + 1;
        while (close < end && *close != *p) {
            ++close;
        }
        if (close == end) {
            return false;
        }
        if (wanted) {
            value->clear();
            appendXmlText(p + 1, static_cast<std::size_t>(close - p - 1), value);
            return true;
        }
        p = close + 1;
    }
    return false;
}
