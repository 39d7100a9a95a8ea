// The POSIX side of replacing a file whole (platform/replace.h): links
// resolved, the rename or in-place decision, the unnamed temporary file and
// the commit with interrupts held back.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix_path.h"
#include "platform/replace.h"

namespace platform {

namespace {

// Links followed before the target counts as a loop, as the kernel counts.
constexpr int kMaxLinkHops = 40;
// Names tried for a temporary file before giving up.
constexpr int kNameAttempts = 100;
// Supplementary groups looked at when deciding whether a group can be kept.
constexpr int kMaxGroups = 256;
// The copy buffer of an in-place write, on the stack.
constexpr size_t kCopyBytes = size_t{64} << 10;

const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

bool Fail(FileReplacement& r, ReplaceStep step, int code) {
    r.error = code != 0 ? code : EIO;
    r.failedStep = step;
    return false;
}

// The test seam: true (errno set) when a test makes `step` fail.
bool Faulted(const FileReplacement& r, ReplaceStep step) {
    if (r.fault.step != step) return false;
    errno = r.fault.code != 0 ? r.fault.code : EIO;
    return true;
}

bool CopyText(const char* text, char* out, size_t capacity) {
    const size_t length = std::strlen(text);
    if (length + 1 > capacity) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memmove(out, text, length + 1);
    return true;
}

// Follows symbolic links from `path` until a name that is not one (or does
// not exist yet: a dangling link names the file to create) and writes it to
// `out`. A relative link is read against the folder of the link.
bool ResolveLinks(const char* path, char out[kNativePathBytes]) {
    if (!CopyText(path, out, kNativePathBytes)) return false;
    for (int hop = 0;; ++hop) {
        struct stat info;
        if (::lstat(out, &info) != 0) return errno == ENOENT;
        if (!S_ISLNK(info.st_mode)) return true;
        if (hop == kMaxLinkHops) {
            errno = ELOOP;
            return false;
        }
        char link[kNativePathBytes];
        const ssize_t n = ::readlink(out, link, sizeof link);
        if (n < 0) return false;
        if (static_cast<size_t>(n) >= sizeof link) {
            errno = ENAMETOOLONG;
            return false;
        }
        link[n] = 0;
        const char* slash = std::strrchr(out, '/');
        const size_t prefix = link[0] == '/' || slash == nullptr ? 0 : static_cast<size_t>(slash - out) + 1;
        if (!CopyText(link, out + prefix, kNativePathBytes - prefix)) return false;
    }
}

// The folder that holds `path` ("." for a bare name).
void FolderOf(const char* path, char out[kNativePathBytes]) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(out, ".");
        return;
    }
    const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    std::memcpy(out, path, length);
    out[length] = 0;
}

bool InGroup(gid_t group) {
    if (::getegid() == group) return true;
    gid_t groups[kMaxGroups];
    const int count = ::getgroups(kMaxGroups, groups);
    for (int i = 0; i < count; ++i) {
        if (groups[i] == group) return true;
    }
    return false;
}

// True when a file renamed over the existing target `info` would not be
// the same file in every way the user can see, or the rename would be
// refused: then the target is written in place.
bool MustWriteInPlace(const char* target, const char* folder, const struct stat& info) {
    if (info.st_nlink > 1) return true;
    // Extended attributes include POSIX ACLs; a new file would have none.
    if (::listxattr(target, nullptr, 0) > 0) return true;
    if (::faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) != 0) return true;
    const uid_t me = ::geteuid();
    if (me == 0) return false;
    struct stat folderInfo;
    if (::stat(folder, &folderInfo) != 0) return true;
    if ((folderInfo.st_mode & S_ISVTX) != 0 && info.st_uid != me && folderInfo.st_uid != me) return true;
    return info.st_uid != me || !InGroup(info.st_gid);
}

// An unnamed file in `folder` that no interrupt can leave behind; -1 (errno
// set) where the folder or the system has none.
int OpenUnnamed(const char* folder, mode_t mode) {
#ifdef O_TMPFILE
    return ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
#else
    (void)folder;
    (void)mode;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

// Whether a failure of OpenUnnamed means only that unnamed files are not to
// be had there (a named file may still be).
bool UnnamedUnsupported(int code) {
    return code == EOPNOTSUPP || code == EISDIR || code == EINVAL || code == ENOENT;
}

// A hidden name in `folder` that no file has yet, different on every call.
bool TemporaryName(const char* folder, int attempt, char out[kNativePathBytes]) {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long salt = static_cast<unsigned long long>(now.tv_nsec) ^
                                    (static_cast<unsigned long long>(now.tv_sec) << 20) ^
                                    (static_cast<unsigned long long>(::getpid()) << 40) ^
                                    static_cast<unsigned long long>(attempt) * 0x9E3779B97F4A7C15ull;
    const int n = std::snprintf(out, kNativePathBytes, "%s/.asefilter-%012llx", folder, salt & 0xFFFFFFFFFFFFull);
    if (n < 0 || static_cast<size_t>(n) >= kNativePathBytes) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

// A named temporary file in `folder`, its name in `path`.
int OpenNamed(const char* folder, mode_t mode, char path[kNativePathBytes]) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!TemporaryName(folder, attempt, path)) return -1;
        const int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

const char* TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] == '/' ? folder : "/tmp";
}

// Creates the file the new text goes to: unnamed where the system allows,
// in `folder`, then (for an in-place write, whose folder may not be
// writable) in the temporary folder. Sets the replacement's handle and, for
// a named file, its path.
bool CreateTemporary(FileReplacement& r, const char* folder, mode_t mode) {
    const char* const folders[] = {folder, r.method == ReplaceMethod::kInPlace ? TemporaryFolder() : nullptr};
    int firstError = 0;
    for (const char* where : folders) {
        if (where == nullptr) continue;
        int fd = OpenUnnamed(where, mode);
        if (fd < 0 && UnnamedUnsupported(errno)) {
            char path[kNativePathBytes];
            fd = OpenNamed(where, mode, path);
            if (fd >= 0) {
                if (!FromNative(path, std::strlen(path), r.temporaryPath, kReplacePathUnits)) {
                    ::close(fd);
                    ::unlink(path);
                    errno = ENAMETOOLONG;
                    return false;
                }
                r.temporaryNamed = true;
            }
        }
        if (fd >= 0) {
            r.temporaryHandle = fd;
            return true;
        }
        if (firstError == 0) firstError = errno;
    }
    errno = firstError;
    return false;
}

// Gives the temporary file the mode, owner and group of the target it
// replaces by rename. False when the owner or group cannot be given.
bool TakeOwnership(int fd, const struct stat& info) {
    struct stat mine;
    if (::fstat(fd, &mine) != 0) return false;
    if ((mine.st_uid != info.st_uid || mine.st_gid != info.st_gid) && ::fchown(fd, info.st_uid, info.st_gid) != 0) return false;
    // After the owner: a change of owner clears the set-id bits.
    return ::fchmod(fd, info.st_mode & 07777) == 0;
}

void CloseHandle(intptr_t& handle) {
    if (handle >= 0) ::close(static_cast<int>(handle));
    handle = -1;
}

void RemoveNamedTemporary(FileReplacement& r) {
    if (!r.temporaryNamed) return;
    const NativePath path(r.temporaryPath);
    if (path.ok) ::unlink(path.bytes);
    r.temporaryNamed = false;
    r.temporaryPath[0] = 0;
}

// Writes `length` bytes of `data` at `offset`, whatever the partial writes.
bool WriteAllAt(int fd, const char* data, size_t length, off_t offset) {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// The in-place commit: reserve, copy from the start, cut to length, sync.
bool CopyOverTarget(FileReplacement& r, int from, off_t size) {
    const int to = static_cast<int>(r.targetHandle);
    if (size > 0) {
        const int reserved = Faulted(r, ReplaceStep::kReserve) ? errno : ::posix_fallocate(to, 0, size);
        if (reserved != 0) return Fail(r, ReplaceStep::kReserve, reserved);
    }
    const uint64_t previous = BlockInterrupts();
    char buffer[kCopyBytes];
    off_t offset = 0;
    bool ok = !Faulted(r, ReplaceStep::kCommit);
    while (ok && offset < size) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        ok = n > 0 && WriteAllAt(to, buffer, static_cast<size_t>(n), offset);
        offset += n > 0 ? n : 0;
    }
    ok = ok && ::ftruncate(to, size) == 0 && ::fsync(to) == 0;
    const int code = errno;
    UnblockInterrupts(previous);
    return ok || Fail(r, ReplaceStep::kCommit, code);
}

// Gives the unnamed temporary file a name beside the target, so that it
// can be renamed; interrupts are held back by the caller.
bool NameUnnamed(FileReplacement& r, const char* folder, char path[kNativePathBytes]) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", static_cast<int>(r.temporaryHandle));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!TemporaryName(folder, attempt, path)) return false;
        if (::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
            r.temporaryNamed = FromNative(path, std::strlen(path), r.temporaryPath, kReplacePathUnits);
            if (!r.temporaryNamed) {
                ::unlink(path);
                errno = ENAMETOOLONG;
                return false;
            }
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// Syncs the folder's entry of a renamed file; a folder that cannot be
// synced (some file systems) costs nothing but the guarantee.
void SyncFolder(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The rename commit: name the file if it has none, close it, rename it over
// the target; interrupts held back across the three so that an interrupt
// leaves either no new name or the finished target.
bool RenameOverTarget(FileReplacement& r, const char* target) {
    char folder[kNativePathBytes];
    FolderOf(target, folder);
    const uint64_t previous = BlockInterrupts();
    char path[kNativePathBytes];
    bool ok = true;
    int code = 0;
    if (!r.temporaryNamed) {
        ok = NameUnnamed(r, folder, path);
    } else {
        const NativePath named(r.temporaryPath);
        ok = named.ok && CopyText(named.bytes, path, sizeof path);
    }
    if (!ok) code = errno;
    std::FILE* stream = r.stream;
    r.stream = nullptr;
    r.temporaryHandle = -1;
    errno = 0;
    const bool closed = std::fclose(stream) == 0 && !Faulted(r, ReplaceStep::kClose);
    if (ok && !closed) {
        ok = false;
        code = errno;
        Fail(r, ReplaceStep::kClose, code);
    } else if (!ok) {
        Fail(r, ReplaceStep::kCommit, code);
    }
    if (ok && (Faulted(r, ReplaceStep::kCommit) || ::rename(path, target) != 0)) {
        ok = false;
        Fail(r, ReplaceStep::kCommit, errno);
    }
    if (ok) {
        // The name is the target's now: nothing to remove.
        r.temporaryNamed = false;
        r.temporaryPath[0] = 0;
    }
    RemoveNamedTemporary(r);
    UnblockInterrupts(previous);
    if (ok) SyncFolder(folder);
    return ok;
}

// Begins a replacement of `target`; `inPlace` forces the in-place method on
// an existing regular file.
bool Begin(const char16_t* target, FileReplacement& r, bool inPlace) {
    const NativePath named(target);
    if (!named.ok) return Fail(r, ReplaceStep::kBegin, errno);
    if (named.bytes[0] == 0) return Fail(r, ReplaceStep::kBegin, ENOENT);
    char resolved[kNativePathBytes];
    if (!ResolveLinks(named.bytes, resolved)) return Fail(r, ReplaceStep::kBegin, errno);
    if (!FromNative(resolved, std::strlen(resolved), r.target, kReplacePathUnits)) {
        return Fail(r, ReplaceStep::kBegin, ENAMETOOLONG);
    }

    struct stat info;
    r.existed = ::stat(resolved, &info) == 0;
    if (!r.existed && errno != ENOENT) return Fail(r, ReplaceStep::kBegin, errno);
    if (r.existed && S_ISDIR(info.st_mode)) return Fail(r, ReplaceStep::kBegin, EISDIR);
    if (r.existed && !S_ISREG(info.st_mode)) {
        r.method = ReplaceMethod::kDirect;
        r.stream = std::fopen(resolved, "w");
        return r.stream != nullptr || Fail(r, ReplaceStep::kBegin, errno);
    }

    char folder[kNativePathBytes];
    FolderOf(resolved, folder);
    // A new target: 0666 less the umask, as a plainly created file gets. An
    // existing one: private until it has the target's own mode.
    mode_t createMode = 0666;
    r.method = ReplaceMethod::kRename;
    if (r.existed) {
        // Refused where writing the file itself would be refused.
        if (::faccessat(AT_FDCWD, resolved, W_OK, AT_EACCESS) != 0) return Fail(r, ReplaceStep::kBegin, errno);
        if (inPlace || MustWriteInPlace(resolved, folder, info)) r.method = ReplaceMethod::kInPlace;
        createMode = 0600;
    }
    if (r.method == ReplaceMethod::kInPlace) {
        const int fd = ::open(resolved, O_WRONLY | O_CLOEXEC);
        if (fd < 0) return Fail(r, ReplaceStep::kBegin, errno);
        r.targetHandle = fd;
    }
    if (!CreateTemporary(r, folder, createMode)) {
        const int code = errno;
        AbandonFileReplacement(r);
        return Fail(r, ReplaceStep::kBegin, code);
    }
    const int fd = static_cast<int>(r.temporaryHandle);
    if (r.existed && r.method == ReplaceMethod::kRename && !TakeOwnership(fd, info)) {
        // An owner or group that cannot be given: the file is written in
        // place after all, where it keeps both.
        AbandonFileReplacement(r);
        return Begin(target, r, true);
    }
    r.stream = ::fdopen(fd, "w");
    if (r.stream == nullptr) {
        const int code = errno;
        AbandonFileReplacement(r);
        return Fail(r, ReplaceStep::kBegin, code);
    }
    return true;
}

}  // namespace

bool BeginFileReplacement(const char16_t* target, const char* mode, FileReplacement& r) {
    // POSIX has no text mode: `mode` changes nothing here.
    if (target == nullptr || mode == nullptr) return Fail(r, ReplaceStep::kBegin, EINVAL);
    if (Faulted(r, ReplaceStep::kBegin)) return Fail(r, ReplaceStep::kBegin, errno);
    return Begin(target, r, false);
}

bool CommitFileReplacement(FileReplacement& r) {
    if (r.stream == nullptr) return Fail(r, ReplaceStep::kCommit, EINVAL);
    bool ok = true;
    if (std::fflush(r.stream) != 0 || std::ferror(r.stream) != 0) ok = Fail(r, ReplaceStep::kSync, errno);
    if (ok && r.method == ReplaceMethod::kDirect) {
        std::FILE* stream = r.stream;
        r.stream = nullptr;
        if (std::fclose(stream) != 0 || Faulted(r, ReplaceStep::kClose)) return Fail(r, ReplaceStep::kClose, errno);
        return true;
    }
    const int fd = static_cast<int>(r.temporaryHandle);
    if (ok && (Faulted(r, ReplaceStep::kSync) || ::fsync(fd) != 0)) ok = Fail(r, ReplaceStep::kSync, errno);
    if (ok && r.method == ReplaceMethod::kRename) {
        const NativePath target(r.target);
        ok = target.ok ? RenameOverTarget(r, target.bytes) : Fail(r, ReplaceStep::kCommit, errno);
    } else if (ok) {
        struct stat info;
        ok = ::fstat(fd, &info) == 0 ? CopyOverTarget(r, fd, info.st_size) : Fail(r, ReplaceStep::kCommit, errno);
        if (ok && (::close(static_cast<int>(r.targetHandle)) != 0 || Faulted(r, ReplaceStep::kClose))) ok = Fail(r, ReplaceStep::kClose, errno);
        r.targetHandle = -1;
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
    CloseHandle(r.temporaryHandle);
    CloseHandle(r.targetHandle);
    RemoveNamedTemporary(r);
}

bool ReplacementNeedsBlockedInterrupts(const char16_t* target) {
    const NativePath named(target);
    char resolved[kNativePathBytes];
    if (!named.ok || !ResolveLinks(named.bytes, resolved)) return false;
    char folder[kNativePathBytes];
    FolderOf(resolved, folder);
    for (const char* where : {static_cast<const char*>(folder), TemporaryFolder()}) {
        const int fd = OpenUnnamed(where, 0600);
        if (fd >= 0) {
            ::close(fd);
            return false;
        }
    }
    return true;
}

uint64_t BlockInterrupts() {
    sigset_t block, previous;
    sigemptyset(&block);
    for (int signal : kInterrupts) sigaddset(&block, signal);
    if (::pthread_sigmask(SIG_BLOCK, &block, &previous) != 0) return ~uint64_t{0};
    uint64_t wasBlocked = 0;
    for (size_t i = 0; i < sizeof kInterrupts / sizeof kInterrupts[0]; ++i) {
        if (sigismember(&previous, kInterrupts[i]) == 1) wasBlocked |= uint64_t{1} << i;
    }
    return wasBlocked;
}

void UnblockInterrupts(uint64_t previous) {
    sigset_t unblock;
    sigemptyset(&unblock);
    for (size_t i = 0; i < sizeof kInterrupts / sizeof kInterrupts[0]; ++i) {
        if ((previous & (uint64_t{1} << i)) == 0) sigaddset(&unblock, kInterrupts[i]);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}

}  // namespace platform
