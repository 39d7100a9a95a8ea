// Export control: preparation and the options dialog, the export driver and
// the material list writer.
#pragma once

#include <cstdio>

#include "plugin/host_api.h"

enum SmoothingMode : int { SmoothAllSame = 0, SmoothPerGroup = 1, SmoothPerAngle = 2 };

// The export settings. They start with their defaults when the module is
// loaded, are changed only by the options dialog, and are never saved. Flags
// hold the raw check-box state; readers treat a flag as set only when it is 1.
struct ExportOptions {
    int exportMaterials = 1;
    int exportTextureCoords = 1;
    int exportVertexNormals = 1;
    int exportVertexColors = 1;
    int exportMultipleUvSets = 0;
    int exportAsSingleObject = 0;
    int useFaceNormals = 0;
    int splitVerticesPerUv = 1;
    int useMultiSubObjectMaterials = 0;
    int useFullTexturePath = 0;
    int smoothingMode = SmoothAllSame;
    float smoothingAngle = 35.0f;
};

// The process-wide options.
ExportOptions& TheExportOptions();

// Handler of FILTER_MSG_PREPARE_EXPORT: checks for geometry, has the host
// triangulate and prepare, and runs the options dialog from the module
// `instance`. Returns 0 (error, after a message box), 1 (OK) or 2 (cancelled).
int PrepareExport(HostContext* context, void* instance);

// Handler of FILTER_MSG_EXPORT: prepares smoothing groups and normals and
// writes the context's file. Returns 1 when written, 0 on failure.
int WriteExportFile(HostContext* context);

// One normal per host vertex, built by the export preparation and read by the
// split geometry writer.
struct VertexNormalTable {
    float (*normals)[3] = nullptr;
    int count = 0;
};

VertexNormalTable& TheVertexNormalTable();

// Formats one piece of output with the C formatting rules (%d, %4d, %s, %f;
// numbers written as in the C locale whatever the process locale) into a
// zeroed 2048-byte buffer and writes it with one fwrite of its exact length.
// Returns 1 when the write reported one complete item.
int WritePiece(std::FILE* stream, const char* format, ...);

// Copies the file name and extension of a wide path into `out` (256 units).
// Returns 0 when an argument is null.
int FileNameOnly(const char16_t* path, char16_t* out);
