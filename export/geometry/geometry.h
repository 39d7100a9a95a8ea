// Geometry export: the two geometry object writers and the mesh preparation
// of the indexed layout.
#pragma once

#include <cstdio>

// Writes one *GEOMOBJECT with vertices split per texture coordinate, for the
// host object `objectIndex`, referring to material `materialOrdinal`. Fills
// the object's faces' exportCorners. Returns 1 when the whole block was
// written.
int WriteSplitGeometryObject(std::FILE* stream, int objectIndex, int materialOrdinal);

// Writes one *GEOMOBJECT with separate texture-vertex lists. Returns 1 when
// the whole block was written; nothing is written when preparation fails.
int WriteIndexedGeometryObject(std::FILE* stream, int objectIndex, int materialOrdinal);
