// The Windows side of replacing a file whole (platform/replace.h): a hidden
// file beside the target, marked for deletion until it is committed, put in
// the target's place by ReplaceFileW (which keeps the target's attributes
// and access rights) or, for a new target, by MoveFileExW.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "platform/platform.h"
#include "platform/replace.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

namespace platform {

namespace {

// Names tried for a temporary file before giving up.
constexpr int kNameAttempts = 100;

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// The errno value of a Win32 error, so that both sides report alike.
int ErrnoOf(DWORD code) {
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        default: return EIO;
    }
}

bool Fail(FileReplacement& r, ReplaceStep step, int code) {
    r.error = code != 0 ? code : EIO;
    r.failedStep = step;
    return false;
}

bool FailWithLastError(FileReplacement& r, ReplaceStep step) {
    return Fail(r, step, ErrnoOf(GetLastError()));
}

// The test seam: true when a test makes `step` fail.
bool Faulted(FileReplacement& r, ReplaceStep step) {
    if (r.fault.step != step) return false;
    Fail(r, step, r.fault.code);
    return true;
}

// Marks the open file for deletion when its handle closes, or clears the
// mark.
bool DeleteOnClose(HANDLE file, bool on) {
    FILE_DISPOSITION_INFO info;
    info.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

// Creates a new hidden file beside `target` and writes its path; the
// folder part is everything up to the last separator or drive colon.
HANDLE CreateTemporaryBeside(const char16_t* target, char16_t path[kReplacePathUnits]) {
    size_t folder = WideLength(target);
    while (folder > 0 && target[folder - 1] != u'\\' && target[folder - 1] != u'/' && target[folder - 1] != u':') --folder;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        wchar_t name[64];
        swprintf(name, 64, L".asefilter-%lu-%lu-%d.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                 static_cast<unsigned long>(GetTickCount()), attempt);
        const size_t nameLength = wcslen(name);
        if (folder + nameLength + 1 > kReplacePathUnits) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        for (size_t i = 0; i < folder; ++i) path[i] = target[i];
        for (size_t i = 0; i <= nameLength; ++i) path[folder + i] = static_cast<char16_t>(name[i]);
        const HANDLE file = CreateFileW(W(path), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    path[0] = 0;
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool BeginFileReplacement(const char16_t* target, const char* mode, FileReplacement& r) {
    if (target == nullptr || mode == nullptr) return Fail(r, ReplaceStep::kBegin, EINVAL);
    if (Faulted(r, ReplaceStep::kBegin)) return false;
    const size_t length = WideLength(target);
    if (length == 0) return Fail(r, ReplaceStep::kBegin, ENOENT);
    if (length + 1 > kReplacePathUnits) return Fail(r, ReplaceStep::kBegin, ENAMETOOLONG);
    for (size_t i = 0; i <= length; ++i) r.target[i] = target[i];
    bool text = false;
    for (const char* m = mode; *m != 0; ++m) text = text || *m == 't';

    const DWORD attributes = GetFileAttributesW(W(target));
    r.existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (!r.existed && GetLastError() != ERROR_FILE_NOT_FOUND) return FailWithLastError(r, ReplaceStep::kBegin);
    if (r.existed && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Fail(r, ReplaceStep::kBegin, EISDIR);
    if (r.existed && KindOfPath(target) == PathKind::kOther) {
        r.method = ReplaceMethod::kDirect;
        r.stream = _wfopen(W(target), text ? L"wt" : L"wb");
        return r.stream != nullptr || Fail(r, ReplaceStep::kBegin, errno);
    }
    // A read-only file is refused, as writing it would be.
    if (r.existed && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return Fail(r, ReplaceStep::kBegin, EACCES);

    const HANDLE file = CreateTemporaryBeside(target, r.temporaryPath);
    if (file == INVALID_HANDLE_VALUE) return FailWithLastError(r, ReplaceStep::kBegin);
    r.temporaryNamed = true;
    r.temporaryHandle = reinterpret_cast<intptr_t>(file);
    // Until it is committed, the file goes with its handle, however the
    // process ends. A system without the mark still removes it on failure.
    DeleteOnClose(file, true);
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
    if (fd < 0) {
        CloseHandle(file);
        r.temporaryHandle = -1;
        AbandonFileReplacement(r);
        return Fail(r, ReplaceStep::kBegin, EMFILE);
    }
    r.stream = _fdopen(fd, text ? "wt" : "wb");
    if (r.stream == nullptr) {
        _close(fd);
        r.temporaryHandle = -1;
        AbandonFileReplacement(r);
        return Fail(r, ReplaceStep::kBegin, EMFILE);
    }
    return true;
}

bool CommitFileReplacement(FileReplacement& r) {
    if (r.stream == nullptr) return Fail(r, ReplaceStep::kCommit, EINVAL);
    bool ok = std::fflush(r.stream) == 0 && std::ferror(r.stream) == 0;
    if (!ok) Fail(r, ReplaceStep::kSync, errno);
    if (ok && r.method == ReplaceMethod::kDirect) {
        std::FILE* stream = r.stream;
        r.stream = nullptr;
        if (std::fclose(stream) != 0) return Fail(r, ReplaceStep::kClose, errno);
        return !Faulted(r, ReplaceStep::kClose);
    }
    const HANDLE file = reinterpret_cast<HANDLE>(r.temporaryHandle);
    if (ok && !Faulted(r, ReplaceStep::kSync) && FlushFileBuffers(file) == 0) ok = FailWithLastError(r, ReplaceStep::kSync);
    ok = ok && r.failedStep == ReplaceStep::kNone;
    if (ok && !DeleteOnClose(file, false) && GetLastError() != ERROR_INVALID_PARAMETER) {
        ok = FailWithLastError(r, ReplaceStep::kCommit);
    }
    std::FILE* stream = r.stream;
    r.stream = nullptr;
    r.temporaryHandle = -1;
    if (std::fclose(stream) != 0 && ok) ok = Fail(r, ReplaceStep::kClose, errno);
    if (ok && Faulted(r, ReplaceStep::kClose)) ok = false;
    if (ok && !Faulted(r, ReplaceStep::kCommit)) {
        const bool replaced =
            r.existed ? ReplaceFileW(W(r.target), W(r.temporaryPath), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                      : MoveFileExW(W(r.temporaryPath), W(r.target), MOVEFILE_WRITE_THROUGH) != 0;
        if (replaced) {
            r.temporaryNamed = false;
            r.temporaryPath[0] = 0;
        } else {
            ok = FailWithLastError(r, ReplaceStep::kCommit);
        }
    } else if (ok) {
        ok = false;
    }
    AbandonFileReplacement(r);
    return ok;
}

void AbandonFileReplacement(FileReplacement& r) {
    if (r.stream != nullptr) {
        std::fclose(r.stream);
        r.stream = nullptr;
        r.temporaryHandle = -1;
    }
    if (r.temporaryHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(r.temporaryHandle));
    r.temporaryHandle = -1;
    if (r.temporaryNamed) DeleteFileW(W(r.temporaryPath));
    r.temporaryNamed = false;
    r.temporaryPath[0] = 0;
}

bool ReplacementNeedsBlockedInterrupts(const char16_t*) {
    return false;
}

uint64_t BlockInterrupts() {
    return 0;
}

void UnblockInterrupts(uint64_t) {}

}  // namespace platform
