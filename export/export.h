// The export as its callers see it: the options kept between dialogs, the
// options dialog, and the two filter handlers the dispatch calls.
#pragma once

#include <cstdint>

#include "base/host_api.h"

namespace platform {
struct DialogWindow;
}

// The smoothing list's entries in list order. "From scene" keeps the groups
// the host holds and writes normals per group.
enum SmoothingMode : int { SmoothAllSame = 0, SmoothPerGroup = 1, SmoothPerAngle = 2, SmoothFromScene = 3 };

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

// The process-wide options, kept from one dialog to the next. An export reads
// them once, when it starts.
ExportOptions& TheExportOptions();

// The dialog procedure of the options dialog (template 106): fills the
// controls from TheExportOptions() on initialisation, stores the smoothing
// mode at each list selection, and reads the angle and the check boxes on
// OK. Returns non-zero when it handled the message.
intptr_t ExportOptionsDialog(platform::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// Centres `window` on `reference`, kept inside the screen. Returns the move's
// result, or 0 when either window is null.
int CenterWindowOnScreen(platform::DialogWindow* window, platform::DialogWindow* reference);

// The runtime's _wtof, independent of the locale: leading white space, an
// optional sign, decimal digits with '.', an optional exponent, or "inf",
// "infinity", "nan" in any case; 0 when the text starts with none of these.
double WideTextToDouble(const char16_t* text);

// Handler of FILTER_MSG_PREPARE_EXPORT: checks for geometry, has the host
// triangulate and prepare, and runs the options dialog from the module
// `instance`. Returns 0 (error, after a message box), 1 (OK) or 2 (cancelled).
int PrepareExport(HostContext* context, void* instance);

// Handler of FILTER_MSG_EXPORT: prepares smoothing groups and normals and
// writes the context's file. The file is written beside the target and takes
// its place only when complete; on any failure the target is left as it was,
// nothing of the new file remains, the context's errorText says what failed
// and the result is 0. Returns 1 when written.
int WriteExportFile(HostContext* context);
