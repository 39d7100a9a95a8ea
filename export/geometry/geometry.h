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

// Forgets the per-object face lists that the writers build on their first
// call of an export (one pass over all faces serves every object) and frees
// the scratch table that the mesh preparations of an export share. The export
// driver calls it when an export starts and when it ends, so that nothing
// outlives the scene it was built from.
void ResetExportFaceBuckets();
