// The import job: file load, the reader, the post-processing of its
// document and the hand-over to the scene builder.
#include "import/import_job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "import/import.h"
#include "platform/platform.h"
#include "base/strings.h"

ImportJob::ImportJob(const JobSettings& settings) : settings_(settings.read), allocator_(settings.allocation), doc_{} {
    doc_.allocator = &allocator_;
    ResetDocument(doc_);
}

ImportJob::ImportJob() : ImportJob(CurrentJobSettings()) {}

ImportJob::~ImportJob() {
    // The allocator frees every block when it goes; emptying the records
    // first keeps none of them pointing at freed memory meanwhile.
    ReleaseRead();
    ResetDocument(doc_);
    CloseFile();
}

void ImportJob::ReleaseRead() {
    DestroyAseRead(allocator_, read_);
    read_ = nullptr;
}

void ImportJob::CloseFile() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

int ImportJob::Load(const char16_t* path) {
    if (path == nullptr || path[0] == 0) {
        return error_.Fail(JobErrorKind::kFile, 0, nullptr, u"no file name was given");
    }
    char16_t what[kJobErrorWhatUnits];
    FormatWide(what, kJobErrorWhatUnits, u"\"%s\":", path);
    errno = 0;
    file_ = platform::OpenFile(path, "rb");
    if (file_ == nullptr) {
        const int cause = errno;
        if (cause == ENOENT) return error_.Fail(JobErrorKind::kFile, 0, what, u"the file does not exist");
        if (cause == EACCES || cause == EISDIR) {
            return error_.Fail(JobErrorKind::kFile, 0, what, u"the file cannot be read (a folder, or no access)");
        }
        return error_.Fail(JobErrorKind::kFile, 0, what, u"the file could not be opened");
    }
    size_t n = 0;
    for (; path[n] != 0 && n + 1 < kAsePathUnits; ++n) doc_.sourcePath[n] = path[n];
    doc_.sourcePath[n] = 0;
    bool fileStillRead = false;
    const int loaded = LoadAseSource(*read_, file_, path, what, settings_, fileStillRead);
    if (!fileStillRead) CloseFile();
    return loaded;
}

int ImportJob::Read() {
    if (!ParseAse(*read_, settings_)) return 0;
    ResolveParentIndices(doc_);
    ComputeLocalTransforms(doc_);
    ResolveVertexColors(doc_);
    return 1;
}

int ImportJob::RunSteps(HostContext* context) {
    ReleaseRead();
    read_ = CreateAseRead(allocator_, error_, doc_, observer_);
    if (read_ == nullptr) return error_.Fail(JobErrorKind::kMemory, 0, nullptr, u"Out of memory.");
    DualString fileName;
    if (!Load(GetFileName(context, &fileName))) return 0;
    if (!Read()) return 0;
    // The source is read; its memory and the file go before the host makes
    // its records.
    ReleaseRead();
    CloseFile();
    return BuildHostScene(context, doc_, error_);
}

int ImportJob::Run(HostContext* context) {
    int result = 0;
    try {
        result = RunSteps(context);
    } catch (const std::bad_alloc&) {
        error_.Fail(JobErrorKind::kMemory, 0, nullptr, u"Out of memory.");
        result = 0;
    }
    // A step that failed without saying why still fails with a message.
    if (result == 0 && !error_.Failed()) error_.Fail(JobErrorKind::kInternal, 0, nullptr, u"the import failed");
    return result != 0 ? 1 : 0;
}

int RunImport(HostContext* context) {
    if (context == nullptr) return 0;
    ImportJob job;
    const int result = job.Run(context);
    if (result == 0) job.Error().WriteTo(context);
    return result;
}

ObservedImport::ObservedImport() : job_(std::make_unique<ImportJob>()) {}
ObservedImport::~ObservedImport() = default;

int ObservedImport::Run(HostContext* context, AseObserver* observer) {
    job_->ObserveReader(observer);
    return job_->Run(context);
}

const JobError& ObservedImport::Error() const { return job_->Error(); }
const AseDocument& ObservedImport::Document() const { return job_->Document(); }
