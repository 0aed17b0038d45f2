// Zip archives, the container of a workbook: pure functions over bytes, with
// zlib's deflate, inflate and CRC-32.
#pragma once

#include <cstddef>
#include <string>

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

// Puts the member `name` (compared without case, as the parts of a workbook are)
// inflated into `out`, refusing one that inflates to more than `limit` bytes.
// Returns null, or what is wrong; kNoSuchMember when the archive lacks it.
extern const char kNoSuchMember[];
const char* readZipMember(const char* bytes, std::size_t size, const std::string& name,
                          std::size_t limit, std::string* out);
