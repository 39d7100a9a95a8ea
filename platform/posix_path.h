// File names as the POSIX side hands them to the OS. Private to platform/.
#pragma once

#include <limits.h>

#include <cstddef>

namespace platform {

// Room for a file name handed to the OS, terminator included: the system's
// own limit, so that a longer name fails here as the system would fail it.
constexpr size_t kNativePathBytes = PATH_MAX;

// A UTF-16 file name as the bytes the OS takes, in a buffer of its own on
// the stack: lone U+DC80..U+DCFF become the bytes they carry. When it cannot
// be made, `ok` is false and errno tells why.
struct NativePath {
    char bytes[kNativePathBytes];
    bool ok = false;

    explicit NativePath(const char16_t* path);
};

// Bytes from the OS (a file name) as UTF-16 in `buffer`; false when they do
// not fit.
bool FromNative(const char* bytes, size_t length, char16_t* buffer, size_t capacityUnits);

}  // namespace platform
