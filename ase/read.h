// Reading an open ASE file into a document: the reader's public entry for
// the import job. The reader's own state (its source window and block
// stack) stays behind an opaque record; the job owns the file, the
// allocator, the error record and the document.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ase/document.h"
#include "ase/observe.h"
#include "base/job.h"
#include "base/job_settings.h"  // AseReadSettings: how a read goes

// The reader's state of one read, from its allocator.
struct AseRead;

// Makes the state of a read into `doc`, its memory from `allocator` and its
// failures recorded in `error`; `observer` (may be null) watches it. Null
// when memory runs out (nothing recorded: the caller says so).
AseRead* CreateAseRead(JobAllocator& allocator, JobError& error, AseDocument& doc, AseObserver* observer);

// Frees the state and every source buffer it holds. Null does nothing.
void DestroyAseRead(JobAllocator& allocator, AseRead* read);

// Takes the open `file` as the read's source: read whole (text with a
// byte-order mark, converted), through a moving window, or to its end when
// its size is not known in advance. `what` starts every failure message
// (e.g. "\"box.ase\":"). Returns 1, or 0 with the failure recorded. After
// success `fileStillRead` tells whether the read still needs the file
// (a window); otherwise the caller may close it.
int LoadAseSource(AseRead& read, std::FILE* file, const char16_t* path, const char16_t* what,
                  const AseReadSettings& settings, bool& fileStillRead);

// Parses the loaded source into the document. Returns 1, or 0 with the
// failure recorded.
int ParseAse(AseRead& read, const AseReadSettings& settings);

// The blocks a scan passes over: a bit per keyword (Kw). Their opening and
// closing lines are told; the lines between them, nested blocks included,
// are only split and their braces followed, the cheapest the reader goes.
// `numberLines` false spares counting line ends: every event's number is 0.
struct AseScanFilter {
    bool numberLines = true;
    uint64_t passOver[(static_cast<unsigned>(Kw::kCount) + 63) / 64] = {};
    void PassOver(Kw keyword) { passOver[static_cast<unsigned>(keyword) / 64] |= uint64_t{1} << (static_cast<unsigned>(keyword) % 64); }
    bool PassesOver(Kw keyword) const {
        return (passOver[static_cast<unsigned>(keyword) / 64] >> (static_cast<unsigned>(keyword) % 64)) & 1;
    }
};

// A scan of the loaded source for `observer`: the reader's line scanner and
// block loop over the whole text, parsing nothing and building no document
// (the read's document stays empty). The observer is told of every line
// with a word outside the blocks `filter` passes over (skipped is never
// set), of every block opened and closed, and of the count lines'
// values; never of a restart or a dropped line, which only a parse finds.
// Returns 1, or 0 with the failure recorded (memory for the block stack, a
// file that could not be read to its end).
int ScanAse(AseRead& read, AseObserver& observer, const AseScanFilter& filter);
