// The Windows side of the OS seam: the real Win32 and Microsoft C runtime
// calls, with the argument checks and size limits the callers rely on.
#include <windows.h>

#include <stdlib.h>
#include <time.h>
#include <wchar.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_common.h"

// <windows.h> maps these names to their W functions; the seam's own
// functions of the same names must keep theirs.
#undef SetCurrentDirectory
#undef GetCurrentDirectory

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

namespace platform {

namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

wchar_t* W(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

// Copies `text` (`length` units) and its terminator into `buffer`; false
// when it does not fit.
bool CopyOut(const wchar_t* text, size_t length, char16_t* buffer, size_t capacityUnits) {
    if (buffer == nullptr || length >= capacityUnits) return false;
    std::memcpy(buffer, text, length * sizeof(wchar_t));
    buffer[length] = 0;
    return true;
}

// Runs a Win32 call that fills a wide buffer and answers the units written,
// or the units needed when the buffer is too small, growing the buffer until
// it fits. False when the call fails.
template <typename Call>
bool CallWithBuffer(std::wstring& out, Call call) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return false;
        if (n < buffer.size()) {
            out.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(static_cast<size_t>(n) + 1 > buffer.size() * 2 ? static_cast<size_t>(n) + 1
                                                                     : buffer.size() * 2);
    }
}

thread_local std::string gModuleError;

}  // namespace

// --- Text ---------------------------------------------------------------------

int AnsiToWide(const char* src, char16_t* dst, int capacityUnits) {
    // A zero capacity would make the call measure instead of convert.
    if (src == nullptr || dst == nullptr || capacityUnits <= 0) return 0;
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, src, -1, W(dst), capacityUnits);
}

int WideToAnsi(const char16_t* src, char* dst, int capacityBytes) {
    if (src == nullptr || dst == nullptr || capacityBytes <= 0) return 0;
    return WideCharToMultiByte(CP_ACP, 0, W(src), -1, dst, capacityBytes, nullptr, nullptr);
}

size_t MultiByteToWideCrt(char16_t* dst, const char* src, size_t maxUnits) {
    // The runtime treats a null source as a fatal invalid parameter.
    if (src == nullptr) return static_cast<size_t>(-1);
    return mbstowcs(W(dst), src, maxUnits);
}

size_t WideToMultiByteCrt(char* dst, const char16_t* src, size_t maxBytes) {
    if (src == nullptr) return static_cast<size_t>(-1);
    if (dst != nullptr) return wcstombs(dst, W(src), maxBytes);
    // Some runtimes measure without checking that every unit converts; a
    // real conversion answers both questions. It runs piece by piece through
    // scratch space on the stack (never between the units of a pair), so
    // that measuring allocates nothing.
    constexpr size_t kPieceUnits = 256;
    wchar_t piece[kPieceUnits + 1];
    char scratch[kPieceUnits * 8];
    size_t total = 0;
    for (size_t i = 0; src[i] != 0;) {
        size_t n = 0;
        while (n < kPieceUnits && src[i + n] != 0) ++n;
        if (n == kPieceUnits && src[i + n] != 0 && src[i + n - 1] >= 0xD800 && src[i + n - 1] <= 0xDBFF) --n;
        std::memcpy(piece, src + i, n * sizeof(wchar_t));
        piece[n] = 0;
        const size_t bytes = wcstombs(scratch, piece, sizeof scratch);
        if (bytes == static_cast<size_t>(-1)) return bytes;
        total += bytes;
        i += n;
    }
    return total;
}

// --- Files and paths ----------------------------------------------------------

std::FILE* OpenFile(const char16_t* path, const char* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    wchar_t wideMode[8];
    size_t n = 0;
    for (const char* m = mode; *m != 0; ++m) {
        if (n + 1 >= sizeof wideMode / sizeof wideMode[0]) {
            errno = EINVAL;
            return nullptr;
        }
        wideMode[n++] = static_cast<wchar_t>(static_cast<unsigned char>(*m));
    }
    wideMode[n] = 0;
    return _wfopen(W(path), wideMode);
}

PathKind KindOfPath(const char16_t* path) {
    if (path == nullptr) return PathKind::kNone;
    const DWORD attributes = GetFileAttributesW(W(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNone;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? PathKind::kOther : PathKind::kFile;
}

namespace {

// Room of the scratch parts SplitPath splits into, on the stack: longer
// paths give empty parts, as _wsplitpath_s gives them for parts that do not
// fit.
constexpr size_t kSplitRoom = 2048;

}  // namespace

namespace {

// The volume and file number of what `path` names; false when it cannot be
// opened.
bool FileIdentity(const char16_t* path, BY_HANDLE_FILE_INFORMATION& info) {
    if (path == nullptr) return false;
    const HANDLE file = CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return ok;
}

}  // namespace

bool IsSameFile(const char16_t* a, const char16_t* b) {
    BY_HANDLE_FILE_INFORMATION one{}, two{};
    return FileIdentity(a, one) && FileIdentity(b, two) && one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

void SplitPath(const char16_t* path, char16_t* drive, char16_t* dir, char16_t* name, char16_t* ext) {
    if (path == nullptr) path = u"";
    // _wsplitpath_s rejects (and empties every part) when one part is too
    // long for its buffer; split into buffers as long as the path, then cut.
    wchar_t d[kSplitRoom], p[kSplitRoom], n[kSplitRoom], e[kSplitRoom];
    const size_t room = WideLength(path) + 1;
    if (room > kSplitRoom || _wsplitpath_s(W(path), d, kSplitRoom, p, kSplitRoom, n, kSplitRoom, e, kSplitRoom) != 0) {
        d[0] = p[0] = n[0] = e[0] = 0;
    }
    const auto cut = [](const wchar_t* part, char16_t* out, size_t capacity) {
        const auto* text = reinterpret_cast<const char16_t*>(part);
        detail::CopyCut(text, WideLength(text), out, capacity);
    };
    cut(d, drive, kMaxDrive);
    cut(p, dir, kMaxDir);
    cut(n, name, kMaxFileName);
    cut(e, ext, kMaxExtension);
}

void SplitPathNarrow(const char* path, char* drive, char* dir, char* name, char* ext) {
    if (path == nullptr) path = "";
    char d[kSplitRoom], p[kSplitRoom], n[kSplitRoom], e[kSplitRoom];
    const size_t room = std::strlen(path) + 1;
    if (room > kSplitRoom || _splitpath_s(path, d, kSplitRoom, p, kSplitRoom, n, kSplitRoom, e, kSplitRoom) != 0) {
        d[0] = p[0] = n[0] = e[0] = 0;
    }
    const auto cut = [](const char* part, char* out, size_t capacity) {
        detail::CopyCut(part, std::strlen(part), out, capacity);
    };
    cut(d, drive, kMaxDrive);
    cut(p, dir, kMaxDir);
    cut(n, name, kMaxFileName);
    cut(e, ext, kMaxExtension);
}

bool FileSize(std::FILE* file, uint64_t& size) {
    if (file == nullptr) return false;
    // The 64-bit forms: a plain ftell sees only the low 31 bits of the size.
    if (_fseeki64(file, 0, SEEK_END) != 0) return false;
    const __int64 end = _ftelli64(file);
    if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
    size = static_cast<uint64_t>(end);
    return true;
}




bool RemoveFile(const char16_t* path) {
    return path != nullptr && DeleteFileW(W(path)) != 0;
}

bool SetCurrentDirectory(const char16_t* path) {
    return path != nullptr && SetCurrentDirectoryW(W(path)) != 0;
}

bool GetCurrentDirectory(char16_t* buffer, size_t capacityUnits) {
    std::wstring cwd;
    // GetCurrentDirectoryW answers the size with the terminator when the
    // buffer is too small, and the length without it otherwise.
    const bool ok = CallWithBuffer(cwd, [](wchar_t* b, DWORD size) { return GetCurrentDirectoryW(size, b); });
    return ok && CopyOut(cwd.c_str(), cwd.size(), buffer, capacityUnits);
}

bool AbsolutePath(const char16_t* path, char16_t* buffer, size_t capacityUnits) {
    if (path == nullptr) return false;
    std::wstring full;
    const bool ok = CallWithBuffer(full, [path](wchar_t* b, DWORD size) {
        return GetFullPathNameW(W(path), size, b, nullptr);
    });
    return ok && CopyOut(full.c_str(), full.size(), buffer, capacityUnits);
}

bool ExecutablePath(char16_t* buffer, size_t capacityUnits) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return false;
        // A cut result fills the buffer exactly: try again with more room.
        if (n < path.size()) return CopyOut(path.data(), n, buffer, capacityUnits);
        path.resize(path.size() * 2);
    }
}

// --- Time ---------------------------------------------------------------------

// Local time from the system clock (_wctime64 of _time64); while the test
// clock is fixed, UTC of the fixed time in the same layout, so that tests do
// not depend on the time zone. A time the runtime cannot format (before 1970
// or after the year 3000) gives an empty text.
void* AllocateLargeBlock(size_t bytes) {
    if (bytes == 0) return nullptr;
    // Plain committed pages: large pages need a privilege hosts do not hold.
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreeLargeBlock(void* block, size_t /*bytes*/) {
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

void* ResizeLargeBlock(void* /*block*/, size_t /*oldBytes*/, size_t /*newBytes*/) {
    // Committed pages cannot be moved to a new address: the caller copies.
    return nullptr;
}

void CurrentTimeText(char16_t out[kTimeTextUnits]) {
    out[0] = 0;
    int64_t fixed = 0;
    if (detail::FixedTime(fixed)) {
        const __time64_t when = fixed;
        const struct tm* parts = _gmtime64(&when);
        if (parts == nullptr) return;
        detail::FormatTimeText(detail::FromTm(*parts), out);
        return;
    }
    const __time64_t now = _time64(nullptr);
    const wchar_t* text = _wctime64(&now);
    if (text == nullptr) return;
    const auto* units = reinterpret_cast<const char16_t*>(text);
    detail::CopyCut(units, WideLength(units), out, kTimeTextUnits);
}

// --- User interface and module ------------------------------------------------

void ShowErrorBox(const char16_t* text) {
    if (text == nullptr) text = u"";
    detail::RecordErrorBox(text);
    MessageBoxW(GetFocus(), W(text), L"Error", MB_ICONERROR | MB_OK);
}

void DisableThreadNotifications(void* module) {
    DisableThreadLibraryCalls(static_cast<HMODULE>(module));
}

namespace {

// Keeps the system's text for `error`, or its number when there is none.
void RememberModuleError(DWORD error) {
    char* message = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&message), 0, nullptr);
    if (n != 0 && message != nullptr) {
        gModuleError.assign(message, n);
        // The system text ends in CR LF.
        while (!gModuleError.empty() && (gModuleError.back() == '\n' || gModuleError.back() == '\r')) {
            gModuleError.pop_back();
        }
    } else {
        gModuleError = "error " + std::to_string(error);
    }
    if (message != nullptr) LocalFree(message);
}

}  // namespace

void* LoadModule(const char16_t* path) {
    if (path == nullptr) {
        gModuleError = "no module path";
        return nullptr;
    }
    HMODULE module = LoadLibraryW(W(path));
    if (module == nullptr) RememberModuleError(GetLastError());
    return module;
}

void* FindModuleSymbol(void* module, const char* name) {
    if (module == nullptr || name == nullptr) {
        gModuleError = "no module or symbol name";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(module), name);
    if (symbol == nullptr) {
        RememberModuleError(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(symbol);
}

void UnloadModule(void* module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

const char* LastModuleError() {
    return gModuleError.c_str();
}

}  // namespace platform
