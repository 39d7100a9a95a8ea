// Import scene building: post-processing of the import document and the
// host scene made from it.
#pragma once

#include "ase/document.h"
#include "plugin/host_api.h"

// Index of the first geometry object whose nodeName equals `name` byte for
// byte, or -1.
int FindGeomObjectByName(const AseDocument& doc, const char* name);

// Sets every object's parentIndex from its parentName in linear expected
// time. An empty parent name, an unknown one, and a reference that would make
// an object its own ancestor resolve to -1.
void ResolveParentIndices(AseDocument& doc);

// Local matrices relative to the parents and their decomposition. 1, or 0
// without a geometry-object array.
int ComputeLocalTransforms(AseDocument& doc);

// Averages the per-corner colour data into one colour per vertex. 1, or 0
// without a geometry-object array.
int ResolveVertexColors(AseDocument& doc);

// Creates the host content for the document: materials with textures,
// vertices, objects, face groups and faces, bones and the animation.
// Returns 1 when the scene was built, 0 on failure (the host keeps what was
// already created).
int BuildHostScene(HostContext* context, AseDocument& doc);

// Bones, key order, relative rotations, the animation and the shortest-arc
// pass. 1 on success, 0 on failure.
int ImportSkeletonAndAnimation(HostContext* context, AseDocument& doc);
