// Import scene building: post-processing of the import document and the
// host scene made from it; an import watched by an observer, for a
// validator; where the import looks for textures.
#pragma once

#include <memory>

#include "ase/document.h"
#include "ase/observe.h"
#include "base/host_api.h"
#include "base/job.h"

// Capacity of every wide path buffer of the builder, terminator included.
enum : int { kImportPathUnits = 260 };

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

class ImportJob;

// One import with an observer on its read (ase/observe.h), for a validator:
// the import RunImport runs, through the same read, with the finished
// document and the error record kept for the caller until it goes. The
// job is made on the heap (std::bad_alloc when it cannot be).
class ObservedImport {
public:
    ObservedImport();
    ObservedImport(const ObservedImport&) = delete;
    ObservedImport& operator=(const ObservedImport&) = delete;
    ~ObservedImport();

    // Imports the file the context names into it, telling `observer` (may
    // be null) of the read. 1, or 0 with the cause in Error().
    int Run(HostContext* context, AseObserver* observer);
    const JobError& Error() const;
    // The document of the last Run, as the import resolved it (parents,
    // local transforms, vertex colours); empty before a Run.
    const AseDocument& Document() const;

private:
    std::unique_ptr<ImportJob> job_;
};

// Handler of FILTER_MSG_IMPORT: one import job reads the file the context
// names, builds the host scene from it and frees everything it made,
// whatever the result. Returns 1 on success; 0 with the failure in the
// context's errorText ("No geometry found." for a file without geometry
// objects, else one line that says where and what).
int RunImport(HostContext* context);

// Sets every node's parentIndex (a node index, see NodeAt) from its
// parentName in linear expected time. An empty parent name, an unknown one,
// and a reference that would make a node its own ancestor resolve to -1.
void ResolveParentIndices(AseDocument& doc);

// Every node's local matrix relative to its parent and its decomposition.
// 1, or 0 without a geometry-object array.
int ComputeLocalTransforms(AseDocument& doc);

// Averages the per-corner colour data into one colour per vertex. 1, or 0
// without a geometry-object array.
int ResolveVertexColors(AseDocument& doc);

// A face slot that no face line filled keeps the corners of its allocation
// (-1); every filled face has corners inside its object (the reader checks).
inline bool IsFilledFace(const AseFace& face) { return face.a >= 0; }

// The faces of the object that lines filled: what the host is given.
int FilledFaceCount(const AseGeomObject& object);

// Creates the host content for the document: materials with their colours
// and textures, vertices, objects, face groups and the filled faces, bones
// and the animation. Returns 1 when the scene was built, 0 with the failure
// in `error` (the host keeps what was already created).
int BuildHostScene(HostContext* context, AseDocument& doc, JobError& error);

// Bones (one per node: the geometry objects, then the helpers), key order,
// relative rotations, the animation and the shortest-arc pass. 1 on success, 0 on failure with the reason in `error`.
int ImportSkeletonAndAnimation(HostContext* context, AseDocument& doc, JobError& error);
