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
#include <vector>

#include "platform/platform.h"
#include "platform/platform_common.h"

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

// --- UTF-8 <-> UTF-16 ---------------------------------------------------------

// UTF-8 of a NUL-terminated UTF-16 text. Returns false on a lone surrogate
// unless `replaceInvalid`, which puts U+FFFD in its place.
bool ToUtf8(const char16_t* text, std::string& out, bool replaceInvalid) {
    out.clear();
    for (size_t i = 0; text[i] != 0; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            const char16_t next = text[i + 1];
            if (cp <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            } else if (replaceInvalid) {
                cp = 0xFFFD;
            } else {
                return false;
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return true;
}

// UTF-16 of a UTF-8 text. Returns false on a malformed, overlong or
// surrogate-encoding sequence.
bool FromUtf8(const std::string& text, std::u16string& out) {
    out.clear();
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        char32_t cp = 0;
        size_t extra = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (n - i - 1 < extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += extra + 1;
    }
    return true;
}

// Copies `text` and its terminator into `buffer`; false when it does not fit.
bool CopyOut(const std::u16string& text, char16_t* buffer, size_t capacityUnits) {
    if (buffer == nullptr || text.size() >= capacityUnits) return false;
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(char16_t));
    return true;
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
    std::string utf8;
    if (!ToUtf8(path, utf8, false)) {
        errno = EINVAL;
        return nullptr;
    }
    // POSIX has no text mode: text and binary streams are the same.
    std::string posixMode;
    for (const char* m = mode; *m != 0; ++m) {
        if (*m != 't') posixMode += *m;
    }
    return std::fopen(utf8.c_str(), posixMode.c_str());
}

bool FileSize(std::FILE* file, uint64_t& size) {
    if (file == nullptr) return false;
    struct stat info;
    if (::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return false;
    if (::fseeko(file, 0, SEEK_SET) != 0) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

std::FILE* OpenTemporaryBeside(const char16_t* target, const char* mode, char16_t temporaryPath[kTemporaryPathUnits]) {
    if (target == nullptr || mode == nullptr || temporaryPath == nullptr) return nullptr;
    std::string utf8;
    if (!ToUtf8(target, utf8, false) || utf8.empty()) return nullptr;
    // The folder of the target, then a hidden name of its own there.
    const size_t slash = utf8.rfind('/');
    std::string pattern = slash == std::string::npos ? std::string() : utf8.substr(0, slash + 1);
    pattern += ".asefilter-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    std::u16string wide;
    std::FILE* file = nullptr;
    if (FromUtf8(pattern, wide) && wide.size() < kTemporaryPathUnits) {
        // A new file of mkstemp has mode 0600; a replaced target keeps what
        // a plainly created file would get.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        file = ::fdopen(fd, "w");
    }
    if (file == nullptr) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return nullptr;
    }
    for (size_t i = 0; i < wide.size(); ++i) temporaryPath[i] = wide[i];
    temporaryPath[wide.size()] = 0;
    return file;
}

bool ReplaceFileWith(const char16_t* from, const char16_t* to) {
    std::string source;
    std::string target;
    if (from == nullptr || to == nullptr || !ToUtf8(from, source, false) || !ToUtf8(to, target, false)) return false;
    return ::rename(source.c_str(), target.c_str()) == 0;
}

bool IsDeviceOrPipe(const char16_t* path) {
    std::string utf8;
    struct stat status;
    if (path == nullptr || !ToUtf8(path, utf8, false) || ::stat(utf8.c_str(), &status) != 0) return false;
    return !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

bool RemoveFile(const char16_t* path) {
    std::string utf8;
    if (path == nullptr || !ToUtf8(path, utf8, false)) return false;
    return ::unlink(utf8.c_str()) == 0;
}

void SplitPath(const char16_t* path, char16_t* drive, char16_t* dir, char16_t* name, char16_t* ext) {
    SplitPathImpl(path, drive, dir, name, ext);
}

void SplitPathNarrow(const char* path, char* drive, char* dir, char* name, char* ext) {
    SplitPathImpl(path, drive, dir, name, ext);
}

bool SetCurrentDirectory(const char16_t* path) {
    std::string utf8;
    if (path == nullptr || !ToUtf8(path, utf8, false)) return false;
    return ::chdir(utf8.c_str()) == 0;
}

namespace {

// The current directory as UTF-16; false when it cannot be had or is not
// valid UTF-8.
bool CurrentDirectory(std::u16string& out) {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return false;
        buffer.resize(buffer.size() * 2);
    }
    return FromUtf8(buffer.data(), out);
}

}  // namespace

bool GetCurrentDirectory(char16_t* buffer, size_t capacityUnits) {
    std::u16string cwd;
    return CurrentDirectory(cwd) && CopyOut(cwd, buffer, capacityUnits);
}

bool AbsolutePath(const char16_t* path, char16_t* buffer, size_t capacityUnits) {
    if (path == nullptr) return false;
    const bool posixAbsolute = path[0] == u'/';
    const bool driveAbsolute = IsLetter(path[0]) && path[1] == u':' && IsSeparator(path[2]);
    if (posixAbsolute || driveAbsolute) return CopyOut(path, buffer, capacityUnits);
    std::u16string full;
    if (!CurrentDirectory(full)) return false;
    if (full.empty() || full.back() != u'/') full += u'/';
    full += path;
    return CopyOut(full, buffer, capacityUnits);
}

bool ExecutablePath(char16_t* buffer, size_t capacityUnits) {
    std::vector<char> target(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < target.size()) {
            std::u16string path;
            return FromUtf8(std::string(target.data(), static_cast<size_t>(n)), path) &&
                   CopyOut(path, buffer, capacityUnits);
        }
        target.resize(target.size() * 2);  // possibly cut: try again with more room
    }
}

// --- Time ---------------------------------------------------------------------

// Local time from the system clock; while the test clock is fixed, UTC of
// the fixed time, so that tests do not depend on the time zone. A time that
// has no 24-character form gives an empty text.
// --- Memory -------------------------------------------------------------------

namespace {
constexpr size_t kHugePageBytes = size_t{2} << 20;

// The mapped length of a large block: `bytes` in whole small pages.
size_t LargeBlockLength(size_t bytes) {
    static const size_t page = [] {
        const long size = ::sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<size_t>(size) : size_t{4096};
    }();
    return (bytes + page - 1) / page * page;
}
}  // namespace

void* AllocateLargeBlock(size_t bytes) {
    if (bytes == 0 || bytes > SIZE_MAX - 2 * kHugePageBytes) return nullptr;
    // Map one huge page more than asked and trim both ends, so that the
    // block starts on a 2 MiB boundary and the kernel can back it with huge
    // pages from its first byte. The length is whole small pages only: a
    // tail shorter than a huge page gets small pages, so that a block never
    // holds up to 2 MiB more memory than it asked for.
    const size_t length = LargeBlockLength(bytes);
    const size_t mapped = length + kHugePageBytes;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePageBytes - 1) & ~(uintptr_t{kHugePageBytes} - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t end = start + mapped;
    if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(block, length, MADV_HUGEPAGE);
#endif
    return block;
}

void FreeLargeBlock(void* block, size_t bytes) {
    if (block == nullptr) return;
    ::munmap(block, LargeBlockLength(bytes));
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
    std::string utf8;
    ToUtf8(text, utf8, true);
    std::fprintf(stderr, "Error: %s\n", utf8.c_str());
}

void DisableThreadNotifications(void* /*module*/) {}

void* LoadModule(const char16_t* path) {
    std::string utf8;
    if (path == nullptr || !ToUtf8(path, utf8, false)) {
        tModuleError = "invalid module path";
        return nullptr;
    }
    void* module = ::dlopen(utf8.c_str(), RTLD_NOW | RTLD_LOCAL);
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
