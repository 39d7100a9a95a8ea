// What every import and every export job is built on: one allocator that
// owns every block of the call, and one error record that says what went
// wrong and where.
//
// A job lives for one filter call. Its allocator frees whatever is still
// live when it is destroyed, so a failure at any depth loses no memory; its
// error record keeps the first failure, which the boundary turns into the
// host's errorText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

#include "base/host_api.h"

// --- Allocator -------------------------------------------------------------------

// Blocks of at least this many bytes come from the platform's large-block
// call (whole pages from the system, returned to it when freed).
inline constexpr size_t kLargeBlockBytes = size_t{1} << 20;

// What a job's allocator asks and tells its owner, for tests that make
// allocations fail or count what is live: `fails` is asked before every
// allocation and every resize (true: it fails as if memory ran out), and
// `changed` is told of every block that comes (blocks +1), goes (-1) or
// changes size (0), with its bytes before and after. Either may be null;
// the product's allocators have neither.
struct JobAllocatorHook {
    bool (*fails)(void* owner) = nullptr;
    void (*changed)(void* owner, long blocks, size_t bytesBefore, size_t bytesAfter) = nullptr;
    void* owner = nullptr;
};

// The allocator of one job. Every block carries a small header that links it
// into the allocator's list, so that the destructor can free what was not
// freed. Not copyable; not thread-safe (a job runs on one thread).
class JobAllocator {
public:
    JobAllocator() = default;
    explicit JobAllocator(const JobAllocatorHook& hook) : hook_(hook) {}
    JobAllocator(const JobAllocator&) = delete;
    JobAllocator& operator=(const JobAllocator&) = delete;
    ~JobAllocator() { FreeAll(); }

    // A block of `bytes` (0 allowed), aligned for any standard type; null
    // when memory cannot be had or the hook says it fails.
    void* Allocate(size_t bytes);
    // Resizes a block of this allocator (null: allocates), keeping its first
    // bytes. Returns the block, or null with the old block unchanged.
    void* Reallocate(void* block, size_t bytes);
    // Frees a block of this allocator; null is ignored.
    void Free(void* block);
    // Frees every live block.
    void FreeAll();

    // Typed helpers: `count` elements, null on overflow or failure. The
    // memory is uninitialised.
    template <typename T>
    T* AllocateArray(size_t count) {
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
        return static_cast<T*>(Allocate(sizeof(T) * count));
    }
    template <typename T>
    T* ReallocateArray(T* block, size_t count) {
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
        return static_cast<T*>(Reallocate(block, sizeof(T) * count));
    }

    long LiveBlocks() const { return liveBlocks_; }
    size_t LiveBytes() const { return liveBytes_; }
    size_t PeakBytes() const { return peakBytes_; }

private:
    struct Header;
    void Link(Header* header, size_t bytes, bool large);
    void Unlink(Header* header);
    bool HookFails() const { return hook_.fails != nullptr && hook_.fails(hook_.owner); }
    void Changed(long blocks, size_t bytesBefore, size_t bytesAfter) const {
        if (hook_.changed != nullptr) hook_.changed(hook_.owner, blocks, bytesBefore, bytesAfter);
    }

    JobAllocatorHook hook_;
    Header* first_ = nullptr;
    long liveBlocks_ = 0;
    size_t liveBytes_ = 0;
    size_t peakBytes_ = 0;
};

// A standard-library allocator over a job's allocator, for the containers a
// job uses. A failed allocation throws std::bad_alloc, which the filter
// boundary turns into a failed call; the job's allocator then frees what the
// container held.
template <typename T>
struct JobStdAllocator {
    using value_type = T;
    JobAllocator* owner;
    explicit JobStdAllocator(JobAllocator& allocator) noexcept : owner(&allocator) {}
    template <typename U>
    JobStdAllocator(const JobStdAllocator<U>& other) noexcept : owner(other.owner) {}
    T* allocate(size_t n) {
        T* block = owner->AllocateArray<T>(n);
        if (block == nullptr) throw std::bad_alloc();
        return block;
    }
    void deallocate(T* block, size_t) noexcept { owner->Free(block); }
    template <typename U>
    bool operator==(const JobStdAllocator<U>& other) const noexcept {
        return owner == other.owner;
    }
};

// --- Error record ------------------------------------------------------------------

enum class JobErrorKind : uint8_t {
    kNone,
    kFile,      // the file could not be opened, read, written or replaced
    kMemory,    // memory could not be had
    kLimit,     // the input asks for more than its size allows
    kSyntax,    // a line or block the reader cannot make sense of
    kIndex,     // an index that names nothing
    kContent,   // the input lacks what the call needs ("No geometry found.")
    kHost,      // a host operation failed
    kCancelled, // the user cancelled
    kInternal,  // anything else caught at the boundary
};

enum : size_t { kJobErrorWhatUnits = 128, kJobErrorDetailUnits = 256 };

// The first failure of a job: its kind, the 1-based line of the file it
// concerns (0 when none), what it concerns (an object, a face, a keyword,
// a file) and what is wrong with it.
struct JobError {
    JobErrorKind kind = JobErrorKind::kNone;
    int64_t line = 0;
    char16_t what[kJobErrorWhatUnits] = {};
    char16_t detail[kJobErrorDetailUnits] = {};

    bool Failed() const { return kind != JobErrorKind::kNone; }

    // Records a failure unless one is recorded already (the first one is the
    // cause; later ones are its consequences). `format` is formatted like
    // FormatWide (%s UTF-16 text, %S narrow ANSI text, %d, %lld, %f) into
    // the detail. Returns 0, so that a failing step can `return
    // error.Fail(...)`.
    int Fail(JobErrorKind errorKind, int64_t errorLine, const char16_t* errorWhat, const char16_t* format, ...);

    // The record as one line: "line 1234: <what> <detail>", the line part
    // only when a line is known, the what part only when given.
    void Format(char16_t* dest, size_t capacityUnits) const;

    // Writes Format's text into the context's errorText (both halves).
    void WriteTo(HostContext* context) const;
};
