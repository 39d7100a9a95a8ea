// One import: everything it needs, owned in one place and freed at its end.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ase/document.h"
#include "ase/observe.h"
#include "ase/read.h"
#include "base/host_api.h"
#include "base/job.h"
#include "base/job_settings.h"

// The job of one FILTER_MSG_IMPORT call: its settings, its allocator
// (declared before what it holds, so that it outlives and finally frees
// it), its error record, the document and the read (the reader's own state,
// opaque, from the allocator). Not copyable; lives on the stack of the call.
class ImportJob {
public:
    // The job's settings (its read's and its allocator's hook); by default
    // those CurrentJobSettings gives when it is made.
    explicit ImportJob(const JobSettings& settings);
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
    int Load(const char16_t* path);
    void CloseFile();
    void ReleaseRead();
    int Read();
    int RunSteps(HostContext* context);

    AseReadSettings settings_;
    JobAllocator allocator_;
    JobError error_;
    AseDocument doc_;
    AseRead* read_ = nullptr;  // from the allocator while a Run reads
    AseObserver* observer_ = nullptr;
    std::FILE* file_ = nullptr;  // open while a window reads it
};
