// The import job: file load, the reader, the post-processing of its
// document and the hand-over to the scene builder.
#include "import/import_job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "ase/reader_internal.h"
#include "import/import.h"
#include "platform/platform.h"
#include "plugin/strings.h"

// The reader over the file's bytes and its block stack: the state of the
// reader that the job owns, kept out of import_job.h so that the reader's
// internals stay private to ase/ and this file.
struct ImportJob::ReadState {
    AseReader reader;
    BlockStack stack;
};

ImportJob::ImportJob() : doc_{} {
    doc_.allocator = &allocator_;
    ResetDocument(doc_);
}

namespace {

uint32_t gWindowBytesForTesting = 0;
bool gTwoPassesForTesting = false;

}  // namespace

void SetImportWindowBytesForTesting(uint32_t bytes) { gWindowBytesForTesting = bytes; }
void SetImportTwoPassesForTesting(bool twoPasses) { gTwoPassesForTesting = twoPasses; }

ImportJob::~ImportJob() {
    // The allocator frees every block when it goes; emptying the records
    // first keeps none of them pointing at freed memory meanwhile.
    ReleaseRead();
    ResetDocument(doc_);
    CloseFile();
}

void ImportJob::ReleaseRead() {
    if (read_ == nullptr) return;
    read_->stack.Clear();
    ReleaseAseSource(read_->reader);
    read_->~ReadState();
    allocator_.Free(read_);
    read_ = nullptr;
}

void ImportJob::CloseFile() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

int ImportJob::Load(const char16_t* path) {
    AseReader& reader = read_->reader;
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
    // A file whose size is not known before it is read (a pipe, a device,
    // or one that reports size 0 while it holds text) is read to its end;
    // its bytes then bound its budget as a size would.
    uint64_t size = 0;
    const bool sized = platform::FileSize(file_, size);
    if (!sized && platform::KindOfPath(path) != platform::PathKind::kOther) {
        return error_.Fail(JobErrorKind::kFile, 0, what, u"it is not a file (a folder?)");
    }
    if (!sized || size == 0) {
        const int read = ReadAseSourceToEnd(reader, file_);
        CloseFile();
        return read;
    }
    if (size > UINT32_MAX - kSourcePadding) {
        return error_.Fail(JobErrorKind::kLimit, 0, what, u"the file is %lld bytes; at most %lld can be read",
                           static_cast<long long>(size), static_cast<long long>(UINT32_MAX - kSourcePadding));
    }

    unsigned char head[3] = {};
    const size_t headBytes = std::fread(head, 1, sizeof head, file_);
    if (std::fseek(file_, 0, SEEK_SET) != 0) {
        return error_.Fail(JobErrorKind::kFile, 0, what, u"the file could not be read to its end");
    }
    // Marked text is converted in place, so it is read whole; any other
    // file is read through a window, observed or not.
    if (ByteOrderMarkOf(head, headBytes) == ByteOrderMark::kNone) {
        const uint32_t window = gWindowBytesForTesting != 0 ? gWindowBytesForTesting : kSourceWindowBytes;
        if (!OpenAseSourceWindow(reader, file_, static_cast<uint32_t>(size), window)) return 0;
        if (reader.file == nullptr) CloseFile();  // read whole
        return 1;
    }
    char* data = AllocateSourceBuffer(reader, static_cast<uint32_t>(size));
    if (data == nullptr) {
        return error_.Fail(JobErrorKind::kMemory, 0, what, u"there is not enough memory to load its %lld bytes",
                           static_cast<long long>(size));
    }
    const bool read = std::fread(data, 1, static_cast<size_t>(size), file_) == static_cast<size_t>(size);
    CloseFile();
    if (!read) return error_.Fail(JobErrorKind::kFile, 0, what, u"the file could not be read to its end");
    FinishAseSource(reader);
    return 1;
}

int ImportJob::Read() {
    AseReader& reader = read_->reader;
    reader.twoPasses = gTwoPassesForTesting;
    if (!ParseAseDocument(reader)) return 0;
    read_->stack.Clear();
    ResolveParentIndices(doc_);
    ComputeLocalTransforms(doc_);
    ResolveVertexColors(doc_);
    return 1;
}

int ImportJob::RunSteps(HostContext* context) {
    ReleaseRead();
    void* state = allocator_.Allocate(sizeof(ReadState));
    if (state == nullptr) return error_.Fail(JobErrorKind::kMemory, 0, nullptr, u"Out of memory.");
    read_ = new (state) ReadState{};
    BindAseReader(read_->reader, allocator_, error_, doc_, read_->stack);
    read_->reader.observer = observer_;
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
