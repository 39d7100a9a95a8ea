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
