// Extended attributes, the access control list among them, through Linux's calls
// (their signatures differ on other systems; CMake checks for these).
#include <sys/xattr.h>

#include <cerrno>
#include <string>

#include "files/file_calls.h"
#include "last_error.h"

int copyExtendedAttributes(int from, int to) {
    ssize_t size = flistxattr(from, nullptr, 0);
    if (size < 0) {
        int error = lastError();
        return error == ENOTSUP ? 0 : error;  // a file system without them
    }
    std::string names(static_cast<std::size_t>(size), '\0');
    size = flistxattr(from, &names[0], names.size());
    if (size < 0) {
        return lastError();  // ERANGE when one was added meanwhile
    }
    std::string value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(size); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t length = fgetxattr(from, name, nullptr, 0);
        value.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        if (length < 0 || fgetxattr(from, name, &value[0], value.size()) != length ||
            fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return lastError();
        }
    }
    return 0;
}
