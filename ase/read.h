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
