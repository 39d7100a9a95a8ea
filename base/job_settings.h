// The settings of a job: how its read goes, which step of its output fails
// and the hook of its allocator. A job takes the product's values unless a
// test has set others through the one process-wide pointer below; a job
// reads it once, when it is made, and keeps its own copy from then on.
#pragma once

#include <cstdint>

#include "base/job.h"

// How the reader reads a file.
struct AseReadSettings {
    uint32_t windowBytes = 0;  // bytes of the moving window; 0: the reader's own (4 MiB)
    bool twoPasses = false;    // read with the counting pass first, as files that need it are
};

// The steps of an export's output that a fault makes fail as the system
// would fail them: kSync puts the text on the disk, kReserve makes room in a
// target written in place, kReplace puts the new file in the target's place.
enum class ExportOutputStep { kNone, kOpen, kPiece, kFlush, kClose, kReplace, kSync, kReserve };

// The step of the output that fails, from the `count`-th time it is reached
// on (1: the first time); kNone: none.
struct ExportOutputFault {
    ExportOutputStep step = ExportOutputStep::kNone;
    long count = 1;
};

struct JobSettings {
    AseReadSettings read = {};         // an import's
    ExportOutputFault output = {};     // an export's
    JobAllocatorHook allocation = {};  // every job's
};

// Makes `settings` those of every job made from now on (null: the
// product's) and returns the pointer it replaces. For tests, which reach
// jobs only through the filter callback; the record must outlive the jobs
// made while it is set.
const JobSettings* SetJobTestSettings(const JobSettings* settings);

// The settings a job made now takes: the test's record, or the product's
// values when none is set.
JobSettings CurrentJobSettings();
