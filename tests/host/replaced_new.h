// Replaces operator new and delete, in every form but the aligned ones, for
// the test program that includes this header (in one of its files): each
// goes to the ReplacedNew and ReplacedDelete that file defines. ReplacedNew
// answers null to fail; the throwing forms then throw std::bad_alloc.
#pragma once

#include <cstddef>
#include <new>

void* ReplacedNew(std::size_t size) noexcept;
void ReplacedDelete(void* block) noexcept;

void* operator new(std::size_t size) {
    if (void* block = ReplacedNew(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return ReplacedNew(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return ReplacedNew(size); }
void operator delete(void* block) noexcept { ReplacedDelete(block); }
void operator delete[](void* block) noexcept { ReplacedDelete(block); }
void operator delete(void* block, std::size_t) noexcept { ReplacedDelete(block); }
void operator delete[](void* block, std::size_t) noexcept { ReplacedDelete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ReplacedDelete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ReplacedDelete(block); }
