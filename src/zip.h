// Zip archives, the container of a workbook: pure functions over bytes, with
// zlib's deflate, inflate and CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ZipPart {
    const char* name;
    const char* data;
    std::size_t size;
    bool stored = false;  // kept as it is, as an OpenDocument's mimetype must be
};

// Appends an archive of the parts, each deflated unless stored, to `out`; false when zlib finds
// no memory.
bool putZip(const ZipPart* parts, std::size_t count, std::string* out);

// Whether the bytes begin as a zip archive does.
bool looksLikeZip(const char* bytes, std::size_t size);

// An archive's central directory, read once: its members found by name in it,
// each unpacked from the bytes that the archive keeps (they must outlive it).
struct ZipMember {
    const char* name;
    std::size_t nameSize;
    unsigned flags, method;
    std::uint32_t crc;
    std::size_t packedSize, size;  // packed, and unpacked as the directory says
    std::size_t localHeader;       // where the member's own header starts
};
struct ZipArchive {
    const char* bytes = nullptr;
    std::size_t size = 0;
    std::vector<ZipMember> members;
    // What all members unpacked so far may still take together; each unpacked
    // member takes its size from it.
    std::size_t room = 0;
};
// Reads the directory of the archive, whose members may unpack to `room` bytes in
// all. Returns null, or what is wrong.
const char* openZip(const char* bytes, std::size_t size, std::size_t room, ZipArchive* archive);
// The member `name` (compared without case, as the parts of a workbook are), or null.
const ZipMember* findZipMember(const ZipArchive& archive, const std::string& name);
// Unpacks the member into `out`, refusing one that unpacks to more than `limit`
// bytes or to more than the archive's room, and one whose CRC-32 is wrong.
// Returns null, or what is wrong (kTooLargeMember for either bound).
extern const char kTooLargeMember[];
const char* unpackZipMember(ZipArchive* archive, const ZipMember& member, std::size_t limit,
                            std::string* out);

// Puts the member `name` (compared without case, as the parts of a workbook are)
// inflated into `out`, refusing one that inflates to more than `limit` bytes.
// Returns null, or what is wrong; kNoSuchMember when the archive lacks it.
extern const char kNoSuchMember[];
const char* readZipMember(const char* bytes, std::size_t size, const std::string& name,
                          std::size_t limit, std::string* out);
