// The one seam between this product and the operating system.
//
// Everything the plug-in and the reference host take from Win32 and the
// Microsoft C runtime goes through these functions. The Windows side makes
// the real calls; the POSIX side stands in for them: the ANSI code page is
// Windows-1252 (a lossless byte <-> UTF-16 table used by both conversion
// families), UTF-16 paths become UTF-8 for the OS (bytes of a name that is
// not UTF-8 travel as U+DC80..U+DCFF, see platform/utf8.h), and the error box
// writes "Error: <text>" to stderr.
//
// The file and path calls the plug-in makes (OpenFile, FileSize, KindOfPath,
// RemoveFile, SplitPath, SetCurrentDirectory, and the replacement of
// platform/replace.h) convert names in fixed buffers on the stack and never
// allocate: on POSIX a name longer than PATH_MAX bytes fails with
// ENAMETOOLONG, as the system itself would fail it.
//
// Wide text is UTF-16 (char16_t) on both sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// --- Text --------------------------------------------------------------------

// Converts a NUL-terminated text from the ANSI code page to UTF-16, terminator
// included, as MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, src, -1, dst, cap).
// Returns the units written (terminator included), or 0 when `dst` is too
// small or an argument is null; a too-small `dst` may hold a partial copy.
int AnsiToWide(const char* src, char16_t* dst, int capacityUnits);

// Converts a NUL-terminated UTF-16 text to the ANSI code page, terminator
// included, as WideCharToMultiByte(CP_ACP, 0, src, -1, dst, cap, 0, 0).
// Units the code page lacks become '?'. Returns the bytes written (terminator
// included), or 0 when `dst` is too small or an argument is null.
int WideToAnsi(const char16_t* src, char* dst, int capacityBytes);

// The C runtime's mbstowcs: converts at most `maxUnits` units (terminator
// included when it fits). With a null `dst` only measures. Returns the units
// converted without the terminator, or (size_t)-1 on an invalid sequence.
size_t MultiByteToWideCrt(char16_t* dst, const char* src, size_t maxUnits);

// The C runtime's wcstombs: converts at most `maxBytes` bytes (terminator
// included when it fits). With a null `dst` only measures. Returns the bytes
// written without the terminator, or (size_t)-1 when a unit cannot be
// converted.
size_t WideToMultiByteCrt(char* dst, const char16_t* src, size_t maxBytes);

// Length of a NUL-terminated UTF-16 text.
size_t WideLength(const char16_t* text);

// --- Files and paths ---------------------------------------------------------

// Opens a file by UTF-16 path with a C runtime mode ("rb", "wt", ...), as
// _wfopen. Text mode writes CR LF for every LF on Windows and LF on POSIX.
// On failure errno tells why.
std::FILE* OpenFile(const char16_t* path, const char* mode);

// What a path names: nothing (or nothing that can be reached), a regular
// file, a folder or something else (a device, a pipe).
enum class PathKind { kNone, kFile, kFolder, kOther };
PathKind KindOfPath(const char16_t* path);

// True when both paths exist and name the same file, however they are
// spelt (".", "..", links, another case on Windows).
bool IsSameFile(const char16_t* a, const char16_t* b);

// The size of an open file in bytes, 64 bits on every platform; the
// stream's position is left at the start. Returns false when the size
// cannot be had (not a regular file, a seek failure).
bool FileSize(std::FILE* file, uint64_t& size);

// Removes a file. Returns false when it could not be removed.
bool RemoveFile(const char16_t* path);

// Buffer sizes of the split path parts, terminator included.
enum : int { kMaxDrive = 3, kMaxDir = 256, kMaxFileName = 256, kMaxExtension = 256 };

// Splits a path as _wsplitpath does: drive letter with colon, directory up to
// and including the last '\' or '/', file name, extension from the last dot
// of the name on. Any out pointer may be null; parts that do not fit their
// buffer are cut to fit.
void SplitPath(const char16_t* path, char16_t* drive, char16_t* dir, char16_t* name, char16_t* ext);

// The narrow twin of SplitPath (_splitpath).
void SplitPathNarrow(const char* path, char* drive, char* dir, char* name, char* ext);

// SetCurrentDirectoryW. Returns true on success.
bool SetCurrentDirectory(const char16_t* path);

// The current directory as UTF-16, NUL-terminated. Returns false when it does
// not fit or cannot be had.
bool GetCurrentDirectory(char16_t* buffer, size_t capacityUnits);

// Makes an absolute path of `path` against the current directory; an
// already absolute path is returned unchanged. Returns false when the result
// does not fit.
bool AbsolutePath(const char16_t* path, char16_t* buffer, size_t capacityUnits);

// Full path of the running executable. Returns false when it does not fit.
bool ExecutablePath(char16_t* buffer, size_t capacityUnits);

// --- Memory -------------------------------------------------------------------

// A block of `bytes` for a large buffer, zero-filled: whole pages from the
// system (an anonymous mapping on Linux, committed pages on Windows), given
// back to it whole when freed. Null on failure. FreeLargeBlock takes the
// same size back.
void* AllocateLargeBlock(size_t bytes);
void FreeLargeBlock(void* block, size_t bytes);

// Gives a block of AllocateLargeBlock `newBytes` (its old size `oldBytes`)
// with its contents, by remapping its pages rather than copying them: the
// block, perhaps moved, or null where the system cannot (the block is then
// unchanged; Windows always). New bytes are zero-filled.
void* ResizeLargeBlock(void* block, size_t oldBytes, size_t newBytes);

// --- Time ---------------------------------------------------------------------

enum : int { kTimeTextUnits = 26 };

// The current local time in the C runtime's ctime form, "Sun Dec 06 09:06:33
// 2026\n" with the terminator (_wctime64(_time64)).
void CurrentTimeText(char16_t out[kTimeTextUnits]);

// Test seam: fixes the clock at `seconds` since 1970 (UTC), or releases it
// with a negative value. Only tests call it.
void SetFixedTimeForTesting(int64_t seconds);

// --- User interface and module -----------------------------------------------

// Shows an error message box owned by the focused window, caption "Error",
// error icon, OK button. POSIX: writes "Error: <text>" and a line feed to
// stderr.
void ShowErrorBox(const char16_t* text);

// Test seam: the number of error boxes shown so far and the last text.
int ErrorBoxCountForTesting();
const char16_t* LastErrorBoxTextForTesting();

// Called on process attach by the module's load entry point:
// DisableThreadLibraryCalls for the module. Nothing on POSIX.
void DisableThreadNotifications(void* module);

// Loaded modules for the host's plug-in loader.
void* LoadModule(const char16_t* path);
void* FindModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);
// Text of the last loading failure, for the user.
const char* LastModuleError();

}  // namespace platform
