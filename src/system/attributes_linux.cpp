// Extended attributes, the access control list among them, through Linux's calls
// (their signatures differ on other systems; CMake checks for these).
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "system/file_calls.h"
#include "system/last_error.h"

namespace {

// The names of the file's extended attributes that this process can see, each
// ended by a NUL; `fd` -1: none.
int listAttributes(int fd, std::string* names) {
    names->clear();
    ssize_t size = fd < 0 ? 0 : flistxattr(fd, nullptr, 0);
    if (size > 0) {
        names->resize(static_cast<std::size_t>(size));
        size = flistxattr(fd, &(*names)[0], names->size());
    }
    if (size < 0) {
        int error = lastError();
        return error == ENOTSUP ? 0 : error;  // ERANGE when one was added meanwhile
    }
    names->resize(static_cast<std::size_t>(size));
    return 0;
}

bool listed(const std::string& names, const char* name) {
    return ('\0' + names).find('\0' + std::string(name) + '\0') != std::string::npos;
}

}  // namespace

int copyExtendedAttributes(int from, int to) {
    std::string names, present;
    int error = listAttributes(from, &names);
    if (error == 0) {
        error = listAttributes(to, &present);
    }
    // What the new file took from the folder (a default access control list) and
    // the old one lacks goes; the security module's label is the system's own.
    for (std::size_t at = 0; error == 0 && at < present.size(); at = present.find('\0', at) + 1) {
        const char* name = present.c_str() + at;
        if (std::strncmp(name, "security.", 9) != 0 && !listed(names, name) &&
            fremovexattr(to, name) != 0) {
            error = lastError();
        }
    }
    std::string value;
    for (std::size_t at = 0; error == 0 && at < names.size(); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t length = fgetxattr(from, name, nullptr, 0);
        value.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        if (length < 0 || fgetxattr(from, name, &value[0], value.size()) != length ||
            fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            error = lastError();
        }
    }
    return error;
}
