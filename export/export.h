// Export control: preparation and the options dialog, the export driver and
// the material list writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "plugin/host_api.h"

namespace platform {
struct DialogWindow;
}

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
// writes the context's file. Returns 1 when written, 0 on failure.
int WriteExportFile(HostContext* context);

// One normal per host vertex, built by the export preparation and read by the
// split geometry writer.
struct VertexNormalTable {
    float (*normals)[3] = nullptr;
    int count = 0;
};

VertexNormalTable& TheVertexNormalTable();

// Allocates the table for `count` vertices, all (0, 0, 0), after releasing
// the previous one. Returns false (and leaves no table) when count < 1 or the
// memory cannot be had.
bool AllocateVertexNormalTable(int count);
void ReleaseVertexNormalTable();

// Prepares the host data for writing: smoothing groups by the options,
// the VertexNormalTable, every face's exportCorners and, in single-object
// mode, the object indices and face counts.
void PrepareSceneForExport(HostContext* context);

// Writes header, scene block, material list and geometry objects for
// currentContext. Returns 1, or 0 when a header, scene or material-list
// write failed (or `stream` is null).
int WriteAseScene(std::FILE* stream);

// Builds the export time text (ctime form without its line feed), stores it
// in the context's timeText and copies it to `out` (may be null).
void MakeTimeText(HostContext* context, DualString* out);

// Writes the *MATERIAL block of ordinal `ordinal` for host object
// `objectIndex` of currentContext. Returns 1 when the whole block was written.
int WriteMaterial(std::FILE* stream, int objectIndex, int ordinal);

// Formats one piece of output with the C formatting rules (%d, %4d, %s, %f;
// numbers written as in the C locale whatever the process locale) into a
// 2048-byte buffer (a longer piece moves to the heap) and writes it with one
// fwrite of its exact length.
// Returns 1 when the write reported one complete item.
[[gnu::format(printf, 2, 3)]] int WritePiece(std::FILE* stream, const char* format, ...);

// Converts a wide text (read up to 259 units) to the ANSI code page into
// `out` of `capacity` bytes, cut at a whole character so that it and its
// terminator fit. `out` always ends up terminated (empty when nothing
// converts).
void WideToAnsiCut(const char16_t* text, char* out, int capacity);

enum : int { kFileNameOnlyUnits = 256 };

// Copies the file name and extension of a wide path into `out` (256 units,
// cut to fit). Returns 0 when an argument is null, else 1.
int FileNameOnly(const char16_t* path, char16_t* out);
