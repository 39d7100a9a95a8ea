// The job allocator and the job error record.
#include "base/job.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "base/strings.h"

// Every block starts with this header: the list links, the caller's size and
// whether it came from the large-block call. Its size keeps the caller's part
// aligned as malloc aligns.
struct alignas(std::max_align_t) JobAllocator::Header {
    Header* previous;
    Header* next;
    size_t bytes;
    bool large;
};

void JobAllocator::Link(Header* header, size_t bytes, bool large) {
    header->previous = nullptr;
    header->next = first_;
    header->bytes = bytes;
    header->large = large;
    if (first_ != nullptr) first_->previous = header;
    first_ = header;
    ++liveBlocks_;
    liveBytes_ += bytes;
    if (liveBytes_ > peakBytes_) peakBytes_ = liveBytes_;
    Changed(1, 0, bytes);
}

void JobAllocator::Unlink(Header* header) {
    if (header->previous != nullptr)
        header->previous->next = header->next;
    else
        first_ = header->next;
    if (header->next != nullptr) header->next->previous = header->previous;
    --liveBlocks_;
    liveBytes_ -= header->bytes;
    Changed(-1, header->bytes, 0);
}

void* JobAllocator::Allocate(size_t bytes) {
    if (HookFails() || bytes > SIZE_MAX - sizeof(Header)) return nullptr;
    const size_t total = sizeof(Header) + bytes;
    const bool large = total >= kLargeBlockBytes;
    void* raw = large ? platform::AllocateLargeBlock(total) : std::malloc(total);
    if (raw == nullptr) return nullptr;
    Header* header = static_cast<Header*>(raw);
    Link(header, bytes, large);
    return header + 1;
}

void* JobAllocator::Reallocate(void* block, size_t bytes) {
    if (block == nullptr) return Allocate(bytes);
    if (HookFails() || bytes > SIZE_MAX - sizeof(Header)) return nullptr;
    Header* header = static_cast<Header*>(block) - 1;
    const size_t oldBytes = header->bytes;
    const size_t total = sizeof(Header) + bytes;
    const bool large = total >= kLargeBlockBytes;
    Header* const previous = header->previous;
    Header* const next = header->next;
    // A block that stays small grows in place or moves by realloc; one that
    // stays large moves by remapping its pages where the platform can.
    void* raw = nullptr;
    if (header->large == large) {
        raw = large ? platform::ResizeLargeBlock(header, sizeof(Header) + oldBytes, total)
                    : std::realloc(header, total);
        if (raw == nullptr && !large) return nullptr;
    }
    if (raw == nullptr) {
        // Between the two kinds, or pages that cannot be remapped: a copy.
        // Arrays grow by doubling, so the copies add up to a constant factor
        // of the final size.
        void* fresh = large ? platform::AllocateLargeBlock(total) : std::malloc(total);
        if (fresh == nullptr) return nullptr;
        Header* const copy = static_cast<Header*>(fresh);
        Link(copy, bytes, large);
        std::memcpy(copy + 1, block, oldBytes < bytes ? oldBytes : bytes);
        Free(block);
        return copy + 1;
    }
    Header* moved = static_cast<Header*>(raw);
    // The links of the neighbours follow the block to where it now lives.
    if (previous != nullptr)
        previous->next = moved;
    else
        first_ = moved;
    if (next != nullptr) next->previous = moved;
    moved->bytes = bytes;
    liveBytes_ = liveBytes_ - oldBytes + bytes;
    if (liveBytes_ > peakBytes_) peakBytes_ = liveBytes_;
    Changed(0, oldBytes, bytes);
    return moved + 1;
}

void JobAllocator::Free(void* block) {
    if (block == nullptr) return;
    Header* header = static_cast<Header*>(block) - 1;
    Unlink(header);
    if (header->large)
        platform::FreeLargeBlock(header, sizeof(Header) + header->bytes);
    else
        std::free(header);
}

void JobAllocator::FreeAll() {
    while (first_ != nullptr) Free(first_ + 1);
}

int JobError::Fail(JobErrorKind errorKind, int64_t errorLine, const char16_t* errorWhat, const char16_t* format, ...) {
    if (Failed()) return 0;
    kind = errorKind == JobErrorKind::kNone ? JobErrorKind::kInternal : errorKind;
    line = errorLine;
    size_t n = 0;
    for (; errorWhat != nullptr && errorWhat[n] != 0 && n + 1 < kJobErrorWhatUnits; ++n) what[n] = errorWhat[n];
    what[n] = 0;
    va_list args;
    va_start(args, format);
    VFormatWide(detail, kJobErrorDetailUnits, format, args);
    va_end(args);
    return 0;
}

void JobError::Format(char16_t* dest, size_t capacityUnits) const {
    if (dest == nullptr || capacityUnits == 0) return;
    if (line > 0 && what[0] != 0)
        FormatWide(dest, capacityUnits, u"line %lld: %s %s", static_cast<long long>(line), what, detail);
    else if (line > 0)
        FormatWide(dest, capacityUnits, u"line %lld: %s", static_cast<long long>(line), detail);
    else if (what[0] != 0)
        FormatWide(dest, capacityUnits, u"%s %s", what, detail);
    else
        FormatWide(dest, capacityUnits, u"%s", detail);
}

void JobError::WriteTo(HostContext* context) const {
    if (context == nullptr || !Failed()) return;
    char16_t text[kDualStringUnits];
    Format(text, kDualStringUnits);
    AssignDualString(&context->errorText, text);
}
