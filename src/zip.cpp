// Zip archives: written whole with every member deflated, read by the central
// directory at their end. Only what a workbook takes: no zip64, no encryption.
#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "translate.h"

const char kNoSuchMember[] = "no such member";

namespace {

const char* const kTooLarge = N_("a part that unpacks to more than any list of schools takes");
constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kDirectoryEnd = 0x06054b50;
constexpr unsigned kStored = 0, kDeflated = 8;
constexpr std::uint16_t kDosDate = (1 << 5) | 1;  // 1980-01-01, the first date zip knows

void put16(std::string* out, unsigned value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string* out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::uint32_t get16(const char* at) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(at);
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}

std::uint32_t get32(const char* at) {
    return get16(at) | get16(at + 2) << 16;
}

struct Written {
    std::uint32_t crc, packed, size, offset;
};

// The fields a local header and a central one share, from "version needed" on.
void putCommon(std::string* out, const ZipPart& part, const Written& w) {
    put16(out, 20);  // version needed: deflate
    put16(out, 0);   // flags
    put16(out, part.stored ? kStored : kDeflated);
    put16(out, 0);  // time
    put16(out, kDosDate);
    put32(out, w.crc);
    put32(out, w.packed);
    put32(out, w.size);
    put16(out, static_cast<unsigned>(std::strlen(part.name)));
    put16(out, 0);  // extra field
}

bool deflateInto(const ZipPart& part, std::string* out, Written* w) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data));
    z.avail_in = static_cast<uInt>(part.size);
    int status = Z_OK;
    static char packed[1 << 16];  // in pieces: a buffer of the bound's size would be zeroed
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(packed);
        z.avail_out = sizeof packed;
        status = deflate(&z, Z_FINISH);
        out->append(packed, sizeof packed - z.avail_out);
    }
    w->packed = static_cast<std::uint32_t>(z.total_out);
    deflateEnd(&z);
    return status == Z_STREAM_END;
}

// Inflates `packed` bytes into `out`, at most `limit` of them; null or the fault.
const char* inflateMember(const char* packed, std::size_t size, std::size_t expected,
                          std::size_t limit, std::string* out) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        return N_("out of memory");
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed));
    z.avail_in = static_cast<uInt>(size);
    out->reserve(std::min(expected, limit));
    static char piece[1 << 16];  // in pieces: a buffer of the whole size would be zeroed
    int status = Z_OK;
    while (status == Z_OK && out->size() <= limit) {
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        status = inflate(&z, Z_NO_FLUSH);
        out->append(piece, sizeof piece - z.avail_out);
    }
    inflateEnd(&z);
    if (out->size() > limit) {
        return kTooLarge;
    }
    return status == Z_STREAM_END  ? nullptr
           : status == Z_MEM_ERROR ? N_("out of memory")
                                   : N_("a damaged part");
}

bool sameName(const char* a, std::size_t size, const std::string& b) {
    if (size != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool putZip(const ZipPart* parts, std::size_t count, std::string* out) {
    std::vector<Written> written(count);
    std::size_t start = out->size();
    for (std::size_t i = 0; i < count; ++i) {
        Written& w = written[i];
        w.crc = static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0),
                                                 reinterpret_cast<const Bytef*>(parts[i].data),
                                                 static_cast<uInt>(parts[i].size)));
        w.size = static_cast<std::uint32_t>(parts[i].size);
        w.offset = static_cast<std::uint32_t>(out->size() - start);
        put32(out, kLocalHeader);
        std::size_t fields = out->size();
        putCommon(out, parts[i], w);
        out->append(parts[i].name);
        if (parts[i].stored) {
            out->append(parts[i].data, parts[i].size);
            w.packed = w.size;
        } else if (!deflateInto(parts[i], out, &w)) {
            return false;
        }
        std::string sizes;  // the packed size, known only now
        put32(&sizes, w.packed);
        out->replace(fields + 14, 4, sizes);
    }
    std::size_t directory = out->size();
    for (std::size_t i = 0; i < count; ++i) {
        put32(out, kCentralHeader);
        put16(out, 20);  // made by: MS-DOS, version 2.0
        putCommon(out, parts[i], written[i]);
        put16(out, 0);  // comment
        put16(out, 0);  // disk
        put16(out, 0);  // internal attributes
        put32(out, 0);  // external attributes
        put32(out, written[i].offset);
        out->append(parts[i].name);
    }
    std::size_t directorySize = out->size() - directory;
    put32(out, kDirectoryEnd);
    put32(out, 0);  // this disk, the directory's disk
    put16(out, static_cast<unsigned>(count));
    put16(out, static_cast<unsigned>(count));
    put32(out, static_cast<std::uint32_t>(directorySize));
    put32(out, static_cast<std::uint32_t>(directory - start));
    put16(out, 0);  // comment
    return true;
}

bool looksLikeZip(const char* bytes, std::size_t size) {
    return size >= 4 && get32(bytes) == kLocalHeader;
}

const char* readZipMember(const char* bytes, std::size_t size, const std::string& name,
                          std::size_t limit, std::string* out) {
    out->clear();
    // The directory's end is its last 22 bytes, before a comment of at most 65535.
    std::size_t end = size < 22 ? size : size - 22;
    std::size_t lowest = size < 22 + 0xFFFF ? 0 : size - 22 - 0xFFFF;
    while (size >= 22 && get32(bytes + end) != kDirectoryEnd && end > lowest) {
        --end;
    }
    if (size < 22 || get32(bytes + end) != kDirectoryEnd) {
        return N_("not a zip archive (no central directory)");
    }
    std::size_t entries = get16(bytes + end + 10);
    std::size_t at = get32(bytes + end + 16);
    for (std::size_t i = 0; i < entries; ++i) {
        if (at > end || end - at < 46 || get32(bytes + at) != kCentralHeader) {
            return N_("a damaged zip directory");
        }
        const char* entry = bytes + at;
        std::size_t nameSize = get16(entry + 28);
        std::size_t next = 46 + nameSize + get16(entry + 30) + get16(entry + 32);
        if (end - at < next) {
            return N_("a damaged zip directory");
        }
        at += next;
        if (!sameName(entry + 46, nameSize, name)) {
            continue;
        }
        unsigned method = get16(entry + 10);
        std::size_t packed = get32(entry + 20), inflated = get32(entry + 24);
        std::size_t local = get32(entry + 42);
        if ((get16(entry + 8) & 1) != 0) {
            return N_("an encrypted part");
        }
        if (local > size || size - local < 30 || get32(bytes + local) != kLocalHeader) {
            return N_("a damaged part");
        }
        std::size_t data = local + 30 + get16(bytes + local + 26) + get16(bytes + local + 28);
        if (data > size || size - data < packed) {
            return N_("a damaged part");
        }
        const char* fault = nullptr;
        if (method == kStored) {
            fault = packed > limit ? kTooLarge : nullptr;
            out->assign(bytes + data, fault ? 0 : packed);
        } else if (method == kDeflated) {
            fault = inflateMember(bytes + data, packed, inflated, limit, out);
        } else {
            return N_("a part packed other than by deflate");
        }
        if (!fault && static_cast<std::uint32_t>(
                          crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(out->data()),
                                static_cast<uInt>(out->size()))) != get32(entry + 16)) {
            fault = N_("a damaged part (its CRC-32 does not match)");
        }
        return fault;
    }
    return kNoSuchMember;
}
