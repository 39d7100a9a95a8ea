// Import scene building: post-processing of the import document and the
// host scene made from it.
#pragma once

#include "ase/document.h"
#include "plugin/host_api.h"
#include "plugin/job.h"

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
