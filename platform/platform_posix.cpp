// The POSIX side of the OS seam: stand-ins for the Win32 and Microsoft C
// runtime calls. The ANSI code page is Windows-1252, paths go to the OS as
// UTF-8, and the error box is a line on stderr.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/platform_common.h"
#include "platform/posix_path.h"
#include "platform/utf8.h"

namespace platform {

namespace {

// --- Windows-1252 -------------------------------------------------------------

// UTF-16 units of the bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the C1 control of the same value, as Windows maps them,
// so that every byte survives a round trip.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ByteToUnit(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    return (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : static_cast<char16_t>(b);
}

// The byte of `unit`, or false when the code page has none.
bool UnitToByte(char16_t unit, char& byte) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        byte = static_cast<char>(unit);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit) {
            byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

// --- Paths --------------------------------------------------------------------

template <typename Char>
size_t Length(const Char* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

template <typename Char>
bool IsSeparator(Char c) {
    return c == Char('\\') || c == Char('/');
}

template <typename Char>
bool IsLetter(Char c) {
    return (c >= Char('A') && c <= Char('Z')) || (c >= Char('a') && c <= Char('z'));
}

template <typename Char>
void SplitPathImpl(const Char* path, Char* drive, Char* dir, Char* name, Char* ext) {
    static const Char kEmpty[1] = {0};
    if (path == nullptr) path = kEmpty;
    const size_t length = Length(path);
    size_t start = 0;
    if (length >= 2 && IsLetter(path[0]) && path[1] == Char(':')) start = 2;
    detail::CopyCut(path, start, drive, kMaxDrive);

    // One pass: the last separator ends the directory, the last dot after it
    // starts the extension.
    size_t nameStart = start;
    size_t dot = length;
    for (size_t i = start; i < length; ++i) {
        if (IsSeparator(path[i])) {
            nameStart = i + 1;
            dot = length;
        } else if (path[i] == Char('.')) {
            dot = i;
        }
    }
    detail::CopyCut(path + start, nameStart - start, dir, kMaxDir);
    detail::CopyCut(path + nameStart, dot - nameStart, name, kMaxFileName);
    detail::CopyCut(path + dot, length - dot, ext, kMaxExtension);
}

thread_local std::string tModuleError;

}  // namespace

// --- File names ---------------------------------------------------------------

NativePath::NativePath(const char16_t* path) {
    bytes[0] = 0;
    if (path == nullptr) {
        errno = EINVAL;
        return;
    }
    const size_t length = WideLength(path);
    ok = Utf16ToUtf8(path, length, bytes, sizeof bytes, Utf8Faults::kCarryBytes) != kConversionFailed;
    if (!ok) {
        const bool fits = Utf16ToUtf8(path, length, nullptr, 0, Utf8Faults::kCarryBytes) != kConversionFailed;
        errno = fits ? ENAMETOOLONG : EILSEQ;
    }
}

bool FromNative(const char* bytes, size_t length, char16_t* buffer, size_t capacityUnits) {
    return buffer != nullptr &&
           Utf8ToUtf16(bytes, length, buffer, capacityUnits, Utf8Faults::kCarryBytes) != kConversionFailed;
}

// --- Text ---------------------------------------------------------------------

int AnsiToWide(const char* src, char16_t* dst, int capacityUnits) {
    if (src == nullptr || dst == nullptr || capacityUnits <= 0) return 0;
    for (int i = 0; i < capacityUnits; ++i) {
        dst[i] = ByteToUnit(src[i]);
        if (src[i] == 0) return i + 1;
    }
    return 0;
}

int WideToAnsi(const char16_t* src, char* dst, int capacityBytes) {
    if (src == nullptr || dst == nullptr || capacityBytes <= 0) return 0;
    for (int i = 0; i < capacityBytes; ++i) {
        char byte = '?';
        UnitToByte(src[i], byte);
        dst[i] = byte;
        if (src[i] == 0) return i + 1;
    }
    return 0;
}

size_t MultiByteToWideCrt(char16_t* dst, const char* src, size_t maxUnits) {
    if (src == nullptr) return static_cast<size_t>(-1);
    if (dst == nullptr) return std::strlen(src);
    size_t i = 0;
    for (; i < maxUnits; ++i) {
        dst[i] = ByteToUnit(src[i]);
        if (src[i] == 0) break;
    }
    return i;
}

size_t WideToMultiByteCrt(char* dst, const char16_t* src, size_t maxBytes) {
    if (src == nullptr) return static_cast<size_t>(-1);
    char byte = 0;
    if (dst == nullptr) {
        size_t n = 0;
        for (; src[n] != 0; ++n) {
            if (!UnitToByte(src[n], byte)) return static_cast<size_t>(-1);
        }
        return n;
    }
    size_t i = 0;
    for (; i < maxBytes; ++i) {
        if (src[i] == 0) {
            dst[i] = 0;
            break;
        }
        if (!UnitToByte(src[i], byte)) return static_cast<size_t>(-1);
        dst[i] = byte;
    }
    return i;
}

// --- Files and paths ----------------------------------------------------------

std::FILE* OpenFile(const char16_t* path, const char* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // POSIX has no text mode: text and binary streams are the same.
    char posixMode[8];
    size_t n = 0;
    for (const char* m = mode; *m != 0; ++m) {
        if (*m == 't') continue;
        if (n + 1 >= sizeof posixMode) {
            errno = EINVAL;
            return nullptr;
        }
        posixMode[n++] = *m;
    }
    posixMode[n] = 0;
    const NativePath native(path);
    if (!native.ok) return nullptr;
    return std::fopen(native.bytes, posixMode);
}

bool FileSize(std::FILE* file, uint64_t& size) {
    if (file == nullptr) return false;
    struct stat info;
    if (::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return false;
    if (::fseeko(file, 0, SEEK_SET) != 0) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

PathKind KindOfPath(const char16_t* path) {
    const NativePath native(path);
    struct stat info;
    if (!native.ok || ::stat(native.bytes, &info) != 0) return PathKind::kNone;
    if (S_ISREG(info.st_mode)) return PathKind::kFile;
    return S_ISDIR(info.st_mode) ? PathKind::kFolder : PathKind::kOther;
}

bool IsSameFile(const char16_t* a, const char16_t* b) {
    const NativePath first(a);
    const NativePath second(b);
    struct stat one, two;
    return first.ok && second.ok && ::stat(first.bytes, &one) == 0 && ::stat(second.bytes, &two) == 0 && one.st_dev == two.st_dev &&
           one.st_ino == two.st_ino;
}




bool RemoveFile(const char16_t* path) {
    const NativePath native(path);
    return native.ok && ::unlink(native.bytes) == 0;
}

void SplitPath(const char16_t* path, char16_t* drive, char16_t* dir, char16_t* name, char16_t* ext) {
    SplitPathImpl(path, drive, dir, name, ext);
}

void SplitPathNarrow(const char* path, char* drive, char* dir, char* name, char* ext) {
    SplitPathImpl(path, drive, dir, name, ext);
}

bool SetCurrentDirectory(const char16_t* path) {
    const NativePath native(path);
    return native.ok && ::chdir(native.bytes) == 0;
}

bool GetCurrentDirectory(char16_t* buffer, size_t capacityUnits) {
    char cwd[kNativePathBytes];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
    return FromNative(cwd, std::strlen(cwd), buffer, capacityUnits);
}

bool AbsolutePath(const char16_t* path, char16_t* buffer, size_t capacityUnits) {
    if (path == nullptr || buffer == nullptr) return false;
    const size_t length = WideLength(path);
    const bool posixAbsolute = path[0] == u'/';
    const bool driveAbsolute = IsLetter(path[0]) && path[1] == u':' && IsSeparator(path[2]);
    size_t used = 0;
    if (!posixAbsolute && !driveAbsolute) {
        if (!GetCurrentDirectory(buffer, capacityUnits)) return false;
        used = WideLength(buffer);
        if (used == 0 || buffer[used - 1] != u'/') {
            if (used + 1 >= capacityUnits) return false;
            buffer[used++] = u'/';
        }
    }
    if (used + length >= capacityUnits) return false;
    std::memcpy(buffer + used, path, length * sizeof(char16_t));
    buffer[used + length] = 0;
    return true;
}

bool ExecutablePath(char16_t* buffer, size_t capacityUnits) {
    char target[kNativePathBytes];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target);
    // A result that fills the buffer may be cut.
    if (n < 0 || static_cast<size_t>(n) >= sizeof target) return false;
    return FromNative(target, static_cast<size_t>(n), buffer, capacityUnits);
}

// --- Time ---------------------------------------------------------------------

// Local time from the system clock; while the test clock is fixed, UTC of
// the fixed time, so that tests do not depend on the time zone. A time that
// has no 24-character form gives an empty text.
// --- Memory -------------------------------------------------------------------

namespace {
// The mapped length of a large block: `bytes` in whole pages.
size_t LargeBlockLength(size_t bytes) {
    static const size_t page = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<size_t>(size) : size_t{4096};
    }();
    return (bytes + page - 1) / page * page;
}
}  // namespace

void* AllocateLargeBlock(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX / 2) return nullptr;
    // Plain pages, not marked for transparent huge pages: on the virtual
    // machines measured, the first touch of a fresh 2 MiB page often cost
    // far more than the small-page faults it saves (an import of 105 MB took
    // 0.34 s of CPU against 0.22 s when other processes had just run).
    void* block = ::mmap(nullptr, LargeBlockLength(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void FreeLargeBlock(void* block, size_t bytes) {
    if (block == nullptr) return;
    ::munmap(block, LargeBlockLength(bytes));
}

void* ResizeLargeBlock(void* block, size_t oldBytes, size_t newBytes) {
    if (block == nullptr || newBytes == 0 || newBytes > SIZE_MAX / 2) return nullptr;
    void* moved = ::mremap(block, LargeBlockLength(oldBytes), LargeBlockLength(newBytes), MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
}

void CurrentTimeText(char16_t out[kTimeTextUnits]) {
    int64_t fixed = 0;
    const bool isFixed = detail::FixedTime(fixed);
    const time_t now = isFixed ? static_cast<time_t>(fixed) : ::time(nullptr);
    struct tm parts {};
    const bool ok = isFixed ? ::gmtime_r(&now, &parts) != nullptr : ::localtime_r(&now, &parts) != nullptr;
    if (!ok) {
        out[0] = 0;
        return;
    }
    detail::FormatTimeText(detail::FromTm(parts), out);
}

// --- User interface and module ------------------------------------------------

void ShowErrorBox(const char16_t* text) {
    if (text == nullptr) text = u"";
    detail::RecordErrorBox(text);
    // Error texts are at most a few hundred units; a longer one is cut.
    char utf8[4096];
    Utf16ToUtf8(text, WideLength(text), utf8, sizeof utf8, Utf8Faults::kReplace);
    std::fprintf(stderr, "Error: %s\n", utf8);
}

void DisableThreadNotifications(void* /*module*/) {}

void* LoadModule(const char16_t* path) {
    const NativePath native(path);
    if (!native.ok) {
        tModuleError = std::string("invalid module path: ") + std::strerror(errno);
        return nullptr;
    }
    void* module = ::dlopen(native.bytes, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = ::dlerror();
        tModuleError = why != nullptr ? why : "cannot load module";
    }
    return module;
}

void* FindModuleSymbol(void* module, const char* name) {
    if (module == nullptr || name == nullptr) {
        tModuleError = "no module or symbol name";
        return nullptr;
    }
    ::dlerror();  // clears an old error so that a null symbol is told apart
    void* symbol = ::dlsym(module, name);
    if (symbol == nullptr) {
        const char* why = ::dlerror();
        tModuleError = why != nullptr ? why : std::string("symbol is null: ") + name;
    }
    return symbol;
}

void UnloadModule(void* module) {
    if (module != nullptr) ::dlclose(module);
}

const char* LastModuleError() {
    return tModuleError.c_str();
}

}  // namespace platform
