// Helpers shared by the files of the import scene builder, visible to its
// tests. Not part of the layer's interface.
#pragma once

#include <cstddef>

#include "ase/document.h"
#include "import/import.h"
#include "base/host_api.h"
#include "base/job.h"

// Fills `dest` from a narrow name held in a fixed array of `capacity` bytes
// that need not be terminated: the bytes up to the first zero (at most
// `capacity`) become the narrow part, their multibyte-to-wide conversion the
// wide part.
void AssignFixedName(DualString* dest, const char* name, size_t capacity);

// Three-way order of key times: -1 when a comes first, 1 when b does, 0 when
// both are equal. Numbers in ascending order, every NaN after all numbers
// and NaNs equal among themselves, so equal results are a true equivalence.
int CompareKeyTimes(float a, float b);

// a when a > b, otherwise b.
float MaxFloat(float a, float b);

// Sorts one object's position, rotation and scale keys by time. Keys of
// equal time (and NaN times, which go last) keep their file order. False
// when the sort's scratch cannot be had from `allocator`.
bool SortObjectKeys(JobAllocator& allocator, AseGeomObject& object);
