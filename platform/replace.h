// Replacing a file whole, keeping what it is.
//
// The export and asehost's own output write their text through one routine
// that puts the complete text in the target's place or leaves the target as
// it was, and that keeps what the target is:
//
// - A symbolic link is followed to the file it names (a dangling one: that
//   file is created), and the file is replaced, not the link.
// - A target the caller could not write in place (a read-only file of an
//   ordinary user, a read-only file system) is refused with the reason.
// - The usual way is a new file beside the target, given the target's mode,
//   owner and group, synced to the disk and renamed over it in one step.
// - Where that rename would be refused or would change the file (the folder
//   is not writable, a sticky folder and a file of another user, an owner or
//   group the caller cannot give, more than one hard link, extended
//   attributes or an ACL), the target is written in place instead: the whole
//   text first goes to a temporary file (beside the target, else in the
//   temporary folder); then the target's final size is reserved, the text is
//   copied over it from the start and the file is cut to the new length
//   last. If the reservation fails, the target is untouched.
// - A device or a pipe (/dev/null, NUL) is written directly: it cannot be
//   replaced and holds nothing to keep.
// - On Windows an existing target is replaced with ReplaceFileW, which keeps
//   its attributes and access rights.
//
// Interrupts leave nothing behind, and no signal handler is installed: on
// Linux the new text goes to an unnamed file (O_TMPFILE) that gets a name
// only while SIGINT, SIGTERM and SIGHUP are blocked for the calling thread,
// across the link and the rename (and across an in-place copy); on Windows
// the temporary file is marked for deletion until it is committed. Where
// the system has no unnamed files, ReplacementNeedsBlockedInterrupts says
// so, and a caller that can should block the signals around the whole write.
//
// None of these calls allocates: names are converted in fixed buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// How a replacement puts the new text in place.
enum class ReplaceMethod { kRename, kInPlace, kDirect };

// The steps of a replacement, for its failures and for tests that make a
// step fail as the system would.
enum class ReplaceStep {
    kNone,
    kBegin,    // resolving the target, refusing it, creating the temporary file
    kSync,     // putting the new text on the disk
    kReserve,  // in place: reserving the final size in the target
    kCommit,   // the rename, or the copy over the target
    kClose,    // closing the new text's stream
};

// A step that a test makes fail with the system error `code`.
struct ReplaceFault {
    ReplaceStep step = ReplaceStep::kNone;
    int code = 0;
};

// Units of the paths a replacement keeps, terminator included.
enum : size_t { kReplacePathUnits = 4096 };

// One replacement, from BeginFileReplacement to Commit or Abandon. The
// caller writes the new text to `stream` and reads `error` (an errno value,
// also on Windows) and `failedStep` after a failure; the rest is the
// platform's own.
struct FileReplacement {
    std::FILE* stream = nullptr;
    ReplaceMethod method = ReplaceMethod::kRename;
    int error = 0;
    ReplaceStep failedStep = ReplaceStep::kNone;
    ReplaceFault fault;

    // The platform's state.
    intptr_t temporaryHandle = -1;  // the new text's file (POSIX descriptor, Windows HANDLE)
    intptr_t targetHandle = -1;     // in place: the target, opened for writing at the start
    bool temporaryNamed = false;    // the temporary file has `temporaryPath` as its name
    bool existed = false;           // the target existed when the replacement began
    char16_t target[kReplacePathUnits] = {};         // the file replaced (links resolved)
    char16_t temporaryPath[kReplacePathUnits] = {};  // empty while the temporary file has no name
};

// Starts replacing the file `target` (UTF-16) with text written to
// `replacement.stream`, opened in `mode` ("wt" or "wb"). The replacement must
// be fresh but for `fault`. Returns false, with `error` and `failedStep`
// set and nothing left behind, when the target cannot be replaced.
bool BeginFileReplacement(const char16_t* target, const char* mode, FileReplacement& replacement);

// Puts the text written so far in the target's place: flushes and syncs it,
// then renames or copies it over the target, and closes the stream. Returns
// false, with `error` and `failedStep` set, when it could not; the target
// is then as it was (except after a failed in-place copy past the
// reservation, which only a failing disk can cause) and no temporary file
// is left. Either way the replacement is finished.
bool CommitFileReplacement(FileReplacement& replacement);

// Abandons a replacement that has begun: closes the stream and removes the
// temporary file; the target stays as it was. Safe to call again, and on a
// replacement that never began or has been committed.
void AbandonFileReplacement(FileReplacement& replacement);

// True when replacing `target` would go through a named temporary file (the
// system has no unnamed ones): an interrupt during the write could then
// leave it behind, and a caller that can should keep SIGINT, SIGTERM and
// SIGHUP blocked around the whole write.
bool ReplacementNeedsBlockedInterrupts(const char16_t* target);

// Blocks SIGINT, SIGTERM and SIGHUP for the calling thread (nothing on
// Windows) and returns what to hand to UnblockInterrupts, which restores the
// previous mask: signals that came meanwhile are then acted on.
uint64_t BlockInterrupts();
void UnblockInterrupts(uint64_t previous);

// The system's reason for a failed file operation (an errno value), in
// English words that do not depend on the process locale, e.g. "no space left
// on the device"; null when there is none to give.
const char16_t* FileErrorReason(int code);

}  // namespace platform
