// Helpers shared by the files of the import scene builder, visible to its
// tests. Not part of the layer's interface.
#pragma once

#include <cstddef>

#include "ase/document.h"
#include "plugin/host_api.h"
#include "plugin/job.h"

// Capacity of every wide path buffer of the builder, terminator included.
enum : int { kImportPathUnits = 260 };

// Fills `dest` from a narrow name held in a fixed array of `capacity` bytes
// that need not be terminated: the bytes up to the first zero (at most
// `capacity`) become the narrow part, their multibyte-to-wide conversion the
// wide part.
void AssignFixedName(DualString* dest, const char* name, size_t capacity);

// Wide drive and directory of `path` into `out` (kImportPathUnits units),
// ending in a separator unless empty. A directory that already ends in '\'
// or '/' keeps it; otherwise one '\' is appended. 0 when either pointer is
// null, else 1.
int GetPathDirectory(const char16_t* path, char16_t* out);

// full := directory followed directly by fileName, into `full`
// (kImportPathUnits units). fileName is read up to its terminator or
// kAsePathUnits units. Returns 1, or 0 (with `full` empty) when the joined
// path does not fit: such a map is skipped rather than cut to a path that
// names another file.
int ResolveTexturePath(const char16_t* directory, const char16_t* fileName, char16_t* full);

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
