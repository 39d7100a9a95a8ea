// Geometry export: the two geometry object writers of the export driver.
#pragma once

#include <cstdio>

struct ExportJob;

// Writes one *GEOMOBJECT with vertices split per texture coordinate, for the
// host object `objectIndex` of the job's scene, referring to material
// `materialOrdinal`. Fills the object's faces' exportCorners. Returns 1 when
// the whole block was written; a failure of memory or limits is recorded in
// the job.
int WriteSplitGeometryObject(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal);

// Writes one *GEOMOBJECT with separate texture-vertex lists. Returns 1 when
// the whole block was written; nothing is written when preparation fails.
int WriteIndexedGeometryObject(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal);
