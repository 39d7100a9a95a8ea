// The reader's public entry (ase/read.h): the state of one read, and the
// choice of how an open file becomes the read's source.
#include "ase/read.h"

#include <new>

#include "ase/reader_internal.h"
#include "platform/platform.h"
#include "base/strings.h"

// The reader over the file's bytes and its block stack.
struct AseRead {
    AseReader reader;
    BlockStack stack;
};

AseRead* CreateAseRead(JobAllocator& allocator, JobError& error, AseDocument& doc, AseObserver* observer) {
    void* memory = allocator.Allocate(sizeof(AseRead));
    if (memory == nullptr) return nullptr;
    AseRead* read = new (memory) AseRead{};
    BindAseReader(read->reader, allocator, error, doc, read->stack);
    read->reader.observer = observer;
    return read;
}

void DestroyAseRead(JobAllocator& allocator, AseRead* read) {
    if (read == nullptr) return;
    read->stack.Clear();
    ReleaseAseSource(read->reader);
    read->~AseRead();
    allocator.Free(read);
}

int LoadAseSource(AseRead& read, std::FILE* file, const char16_t* path, const char16_t* what,
                  const AseReadSettings& settings, bool& fileStillRead) {
    AseReader& reader = read.reader;
    JobError& error = *reader.error;
    fileStillRead = false;
    // A file whose size is not known before it is read (a pipe, a device,
    // or one that reports size 0 while it holds text) is read to its end;
    // its bytes then bound its budget as a size would.
    uint64_t size = 0;
    const bool sized = platform::FileSize(file, size);
    if (!sized && platform::KindOfPath(path) != platform::PathKind::kOther) {
        return error.Fail(JobErrorKind::kFile, 0, what, u"it is not a file (a folder?)");
    }
    if (!sized || size == 0) return ReadAseSourceToEnd(reader, file);
    if (size > UINT32_MAX - kSourcePadding) {
        return error.Fail(JobErrorKind::kLimit, 0, what, u"the file is %lld bytes; at most %lld can be read",
                          static_cast<long long>(size), static_cast<long long>(UINT32_MAX - kSourcePadding));
    }

    unsigned char head[3] = {};
    const size_t headBytes = std::fread(head, 1, sizeof head, file);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return error.Fail(JobErrorKind::kFile, 0, what, u"the file could not be read to its end");
    }
    // Marked text is converted in place, so it is read whole; any other
    // file is read through a window, observed or not.
    if (ByteOrderMarkOf(head, headBytes) == ByteOrderMark::kNone) {
        const uint32_t window = settings.windowBytes != 0 ? settings.windowBytes : kSourceWindowBytes;
        if (!OpenAseSourceWindow(reader, file, static_cast<uint32_t>(size), window)) return 0;
        fileStillRead = reader.file != nullptr;
        return 1;
    }
    char* data = AllocateSourceBuffer(reader, static_cast<uint32_t>(size));
    if (data == nullptr) {
        return error.Fail(JobErrorKind::kMemory, 0, what, u"there is not enough memory to load its %lld bytes",
                          static_cast<long long>(size));
    }
    if (std::fread(data, 1, static_cast<size_t>(size), file) != static_cast<size_t>(size)) {
        return error.Fail(JobErrorKind::kFile, 0, what, u"the file could not be read to its end");
    }
    FinishAseSource(reader);
    return 1;
}

int ParseAse(AseRead& read, const AseReadSettings& settings) {
    read.reader.twoPasses = settings.twoPasses;
    if (!ParseAseDocument(read.reader)) return 0;
    read.stack.Clear();
    return 1;
}

int ScanAse(AseRead& read, AseObserver& observer, const AseScanFilter& filter) {
    AseReader& reader = read.reader;
    AseObserver* const previous = reader.observer;
    reader.observer = &observer;
    reader.unnumbered = !filter.numberLines;
    read.stack.Clear();
    int ok = RewindAseSource(reader);
    AseLine line;
    BlockStep step = BlockStep::kDone;
    while (ok && (step = NextBlockLine(reader, std::string_view(), line)) == BlockStep::kLine) {
        if (!line.opens || !filter.PassesOver(line.keyword)) continue;
        // The block loop pushed the block; its closing line, which the
        // stack's top names, is told as the block loop tells one.
        if (PassOverBlock(reader, line)) {
            if (ScanFirstWord(line)) ObserveBlockLine(reader, line, false);
            read.stack.Pop(nullptr);
        }
    }
    if (step == BlockStep::kFail) ok = 0;
    read.stack.Clear();
    reader.observer = previous;
    reader.unnumbered = false;
    return ok && !ReadFailed(reader) ? 1 : 0;
}
