// One import: everything it needs, owned in one place and freed at its end.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ase/document.h"
#include "ase/observe.h"
#include "plugin/host_api.h"
#include "plugin/job.h"

// The job of one FILTER_MSG_IMPORT call: its allocator (declared first, so
// that it outlives and finally frees everything below), its error record,
// the document and the read: the reader over the file's bytes and its
// block stack, which stay inside import/ (import_job.cpp) and take their
// memory from the allocator. Not copyable; lives on the stack of the call.
class ImportJob {
public:
    ImportJob();
    ImportJob(const ImportJob&) = delete;
    ImportJob& operator=(const ImportJob&) = delete;
    ~ImportJob();

    // Loads the file the context names, reads it, resolves what the reader
    // left to the import and builds the host scene. 1, or 0 with the cause
    // in Error() (always recorded).
    int Run(HostContext* context);

    const JobError& Error() const { return error_; }
    // The document of the last Run, for a validator's checks after it.
    const AseDocument& Document() const { return doc_; }
    // Lets a validator watch the read of the next Run (null: none).
    void ObserveReader(AseObserver* observer) { observer_ = observer; }

private:
    struct ReadState;

    int Load(const char16_t* path);
    void CloseFile();
    void ReleaseRead();
    int Read();
    int RunSteps(HostContext* context);

    JobAllocator allocator_;
    JobError error_;
    AseDocument doc_;
    ReadState* read_ = nullptr;  // from the allocator while a Run reads
    AseObserver* observer_ = nullptr;
    std::FILE* file_ = nullptr;  // open while a window reads it
};

// Test seam, process-wide because tests reach jobs only through the filter
// callback: the bytes of the window later imports read their files
// through (0: the product's own, kSourceWindowBytes).
void SetImportWindowBytesForTesting(uint32_t bytes);
// Test seam: later imports read their files in two passes, the counting
// pass first, as the reader does for the files that need it (false: the
// product's own choice).
void SetImportTwoPassesForTesting(bool twoPasses);
