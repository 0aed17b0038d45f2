// The one place where the program reads errno: at once after a system or stdio
// call that failed and sets it.
#pragma once

#include <cerrno>

// The error number that the failed call set; EIO where it set none.
inline int lastError() {
    return errno != 0 ? errno : EIO;
}
