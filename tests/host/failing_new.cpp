// For a test build of asehost: an operator new that runs out of memory on
// demand. With ASEHOST_FAIL_ALLOCATION=n in the environment the n-th
// allocation through operator new and every later one fail, as when memory
// is exhausted; with ASEHOST_COUNT_ALLOCATIONS set the number of
// allocations is printed on stderr at exit.
#include <atomic>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "replaced_new.h"

namespace {

std::atomic<long> gCount{0};

long FailFrom() {
    static const long from = [] {
        const char* text = std::getenv("ASEHOST_FAIL_ALLOCATION");
        return text ? std::atol(text) : 0L;
    }();
    return from;
}

void* Allocate(std::size_t size, std::size_t alignment) {
    const long n = ++gCount;
    const long from = FailFrom();
    if (from > 0 && n >= from) return nullptr;
    if (size == 0) size = 1;
    if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
    void* block = Allocate(size, alignment);
    if (!block) throw std::bad_alloc();
    return block;
}

struct Report {
    ~Report() {
        if (std::getenv("ASEHOST_COUNT_ALLOCATIONS")) std::fprintf(stderr, "allocations: %ld\n", gCount.load());
    }
} gReport;

}  // namespace

void* ReplacedNew(std::size_t size) noexcept { return Allocate(size, 0); }
void ReplacedDelete(void* block) noexcept { std::free(block); }

// The aligned forms, which replaced_new.h leaves alone.
void* operator new(std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<std::size_t>(a)); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
