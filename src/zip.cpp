// Zip archives: written whole with every member deflated, read by the central
// directory at their end. Only what a workbook takes: no zip64, no encryption.
#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "text/ascii.h"
#include "translate.h"

const char kNoSuchMember[] = "no such member";
const char kTooLargeMember[] = N_("a part that unpacks to more than any list of schools takes");

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kDirectoryEnd = 0x06054b50;
constexpr unsigned kStored = 0, kDeflated = 8;
constexpr unsigned kEncrypted = 1;                // a flag
constexpr std::uint16_t kDosDate = (1 << 5) | 1;  // 1980-01-01, the first date zip knows

// The fields of a member's own header, by their offset from its signature.
namespace local {
constexpr std::size_t kPackedSize = 18, kNameSize = 26, kExtraSize = 28, kName = 30;
}
// The fields of a member's entry in the central directory.
namespace central {
constexpr std::size_t kFlags = 8, kMethod = 10, kCrc = 16, kPackedSize = 20, kSize = 24;
constexpr std::size_t kNameSize = 28, kExtraSize = 30, kCommentSize = 32, kLocalHeader = 42;
constexpr std::size_t kName = 46;
}  // namespace central
// The fields of the directory's end, which closes the archive.
namespace directory_end {
constexpr std::size_t kEntries = 10, kStart = 16, kSize = 22;
constexpr std::size_t kMostComment = 0xFFFF;
}  // namespace directory_end

constexpr std::size_t kPiece = std::size_t{1} << 16;  // unpacked at a time

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

std::uint32_t crcOf(const char* bytes, std::size_t size) {
    return static_cast<std::uint32_t>(crc32(
        crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes), static_cast<uInt>(size)));
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

// Deflates straight into `out`, which grows by deflate's bound for the part.
bool deflateInto(const ZipPart& part, std::string* out, Written* w) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    std::size_t at = out->size();
    out->resize(at + deflateBound(&z, static_cast<uLong>(part.size)));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data));
    z.avail_in = static_cast<uInt>(part.size);
    z.next_out = reinterpret_cast<Bytef*>(&(*out)[at]);
    z.avail_out = static_cast<uInt>(out->size() - at);
    int status = deflate(&z, Z_FINISH);
    w->packed = static_cast<std::uint32_t>(z.total_out);
    out->resize(at + z.total_out);
    deflateEnd(&z);
    return status == Z_STREAM_END;
}

// Inflates `packed` bytes straight into `out`, at most `limit` of them, which grows
// a piece at a time; null or the fault.
const char* inflateMember(const char* packed, std::size_t size, std::size_t expected,
                          std::size_t limit, std::string* out) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        return N_("out of memory");
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed));
    z.avail_in = static_cast<uInt>(size);
    out->reserve(std::min(expected, limit) + 1);
    int status = Z_OK;
    std::size_t have = 0;
    while (status == Z_OK && have <= limit) {
        out->resize(have + std::min(kPiece, limit + 1 - have));
        z.next_out = reinterpret_cast<Bytef*>(&(*out)[have]);
        z.avail_out = static_cast<uInt>(out->size() - have);
        status = inflate(&z, Z_NO_FLUSH);
        have = out->size() - z.avail_out;
    }
    out->resize(std::min(have, limit));
    inflateEnd(&z);
    if (have > limit) {
        return kTooLargeMember;
    }
    return status == Z_STREAM_END  ? nullptr
           : status == Z_MEM_ERROR ? N_("out of memory")
                                   : N_("a damaged part");
}

bool sameName(const char* a, std::size_t size, const std::string& b) {
    return size == b.size() && sameIgnoringCase(a, b.data(), size);
}

}  // namespace

bool putZip(const ZipPart* parts, std::size_t count, std::string* out) {
    std::vector<Written> written(count);
    std::size_t start = out->size();
    for (std::size_t i = 0; i < count; ++i) {
        Written& w = written[i];
        w.crc = crcOf(parts[i].data, parts[i].size);
        w.size = static_cast<std::uint32_t>(parts[i].size);
        w.offset = static_cast<std::uint32_t>(out->size() - start);
        put32(out, kLocalHeader);
        std::size_t header = out->size() - 4;
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
        out->replace(header + local::kPackedSize, 4, sizes);
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

const char* openZip(const char* bytes, std::size_t size, std::size_t room, ZipArchive* archive) {
    *archive = ZipArchive{bytes, size, {}, room};
    // The directory's end is the last of the archive, before a comment.
    const std::size_t kEnd = directory_end::kSize;
    std::size_t end = size < kEnd ? size : size - kEnd;
    std::size_t lowest =
        size < kEnd + directory_end::kMostComment ? 0 : size - kEnd - directory_end::kMostComment;
    while (size >= kEnd && get32(bytes + end) != kDirectoryEnd && end > lowest) {
        --end;
    }
    if (size < kEnd || get32(bytes + end) != kDirectoryEnd) {
        return N_("not a zip archive (no central directory)");
    }
    std::size_t entries = get16(bytes + end + directory_end::kEntries);
    std::size_t at = get32(bytes + end + directory_end::kStart);
    archive->members.reserve(std::min(entries, end / central::kName + 1));
    for (std::size_t i = 0; i < entries; ++i) {
        if (at > end || end - at < central::kName || get32(bytes + at) != kCentralHeader) {
            return N_("a damaged zip directory");
        }
        const char* entry = bytes + at;
        std::size_t nameSize = get16(entry + central::kNameSize);
        std::size_t next = central::kName + nameSize + get16(entry + central::kExtraSize) +
                           get16(entry + central::kCommentSize);
        if (end - at < next) {
            return N_("a damaged zip directory");
        }
        at += next;
        archive->members.push_back(
            ZipMember{entry + central::kName, nameSize, get16(entry + central::kFlags),
                      get16(entry + central::kMethod), get32(entry + central::kCrc),
                      get32(entry + central::kPackedSize), get32(entry + central::kSize),
                      get32(entry + central::kLocalHeader)});
    }
    return nullptr;
}

const ZipMember* findZipMember(const ZipArchive& archive, const std::string& name) {
    for (const ZipMember& member : archive.members) {
        if (sameName(member.name, member.nameSize, name)) {
            return &member;
        }
    }
    return nullptr;
}

const char* unpackZipMember(ZipArchive* archive, const ZipMember& member, std::size_t limit,
                            std::string* out) {
    out->clear();
    const char* bytes = archive->bytes;
    std::size_t size = archive->size, at = member.localHeader;
    limit = std::min(limit, archive->room);
    if ((member.flags & kEncrypted) != 0) {
        return N_("an encrypted part");
    }
    if (at > size || size - at < local::kName || get32(bytes + at) != kLocalHeader) {
        return N_("a damaged part");
    }
    std::size_t data = at + local::kName + get16(bytes + at + local::kNameSize) +
                       get16(bytes + at + local::kExtraSize);
    if (data > size || size - data < member.packedSize) {
        return N_("a damaged part");
    }
    const char* fault = nullptr;
    if (member.method == kStored) {
        fault = member.packedSize > limit ? kTooLargeMember : nullptr;
        out->assign(bytes + data, fault ? 0 : member.packedSize);
    } else if (member.method == kDeflated) {
        fault = inflateMember(bytes + data, member.packedSize, member.size, limit, out);
    } else {
        return N_("a part packed other than by deflate");
    }
    if (!fault && crcOf(out->data(), out->size()) != member.crc) {
        fault = N_("a damaged part (its CRC-32 does not match)");
    }
    if (fault) {
        out->clear();
    } else {
        archive->room -= out->size();
    }
    return fault;
}

const char* readZipMember(const char* bytes, std::size_t size, const std::string& name,
                          std::size_t limit, std::string* out) {
    out->clear();
    ZipArchive archive;
    if (const char* fault = openZip(bytes, size, limit, &archive)) {
        return fault;
    }
    const ZipMember* member = findZipMember(archive, name);
    return member ? unpackZipMember(&archive, *member, limit, out) : kNoSuchMember;
}
