// The reference host's scene store: one scene behind every host operation.
//
// A HostScene owns one HostContext and every record reachable from it, and
// implements all host operations for real (no mock): materials with image and
// two-layer multiply textures, the flat vertex list with bone weights,
// objects whose face counts and material references the host keeps current,
// face groups whose faces carry two UV channels in both views (per-corner
// values and indices into the UV store), bones, animations with key tracks,
// triangulation, face and vertex normals and smoothing groups by angle.
//
// Storage rules the plug-in may rely on:
// - context()->materials, vertices, objects, faceGroups and animations are
//   contiguous arrays of exactly the counts beside them; an empty array is
//   null.
// - A record pointer an operation hands out (HostMaterial*, HostObject*,
//   HostFaceGroup*, HostAnimation*, HostTrack*, HostVertex*) stays valid until
//   the next call that adds to or resizes the same kind of record.
// - Textures, per-face arrays, weights and keys live in their own
//   allocations: they do not move when the arrays of records grow.
//
// Tests use the failure knobs to make chosen operation calls fail and the
// operation log to check the order in which the plug-in called the host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/host_api.h"

namespace asehost {

// Every host operation, for the log and the failure knobs.
enum class HostOp : int {
    AddMaterial,
    AddTexture,
    GetTexture,
    AllocateVertices,
    AllocateVertexWeights,
    AddObject,
    AddFaceGroup,
    AllocateFaces,
    FinishGeometry,
    AddBone,
    AddAnimation,
    AllocateTracks,
    AllocatePositionKeys,
    AllocateRotationKeys,
    AllocateScaleKeys,
    FinishImport,
    TriangulateScene,
    PostTriangulateStep1,
    PostTriangulateStep2,
    PrepareVertex,
    PreDialogStep,
    GetMainWindow,
    PreWriteStep,
    AssignSmoothingGroupsByAngle,
    Count
};

// The operation's name as in host_api.h, e.g. "AddMaterial".
const char* HostOpName(HostOp op);

// Smoothing group numbers run from 1 to this. Regions that share an edge get
// different numbers unless a region's neighbours already hold all of them;
// then it takes the number the fewest of them hold.
enum : int { kSmoothingGroupLimit = 32 };

class HostScene {
public:
    HostScene();
    ~HostScene();
    HostScene(const HostScene&) = delete;
    HostScene& operator=(const HostScene&) = delete;

    // The context to hand to FilterProc; valid for the scene's life.
    HostContext* context();
    const HostContext* context() const;

    // Empties the scene: materials, vertices, UV store, objects, face groups,
    // bones, animations, errorText and timeText. Also clears the operation
    // log, the call counters and the failure knobs. fileName, the host texts
    // and the main window answer stay.
    void reset();

    // fileName: callers give an absolute path (the plug-in changes the current
    // directory during an import). Texts longer than 259 units are cut.
    void setFileName(const char16_t* path);
    void setHostTexts(const char16_t* appName, const char16_t* version, const char16_t* website);
    // What GetMainWindow answers (null by default).
    void setMainWindow(void* window);

    // --- Read access beyond the context ----------------------------------

    // Bones are not part of the context; AddBone appends to this list.
    int boneCount() const;
    const HostBone* bones() const;  // contiguous, null when empty
    HostBone* bone(int index);      // null when out of range

    // Weights of vertex `index` (weightCount entries), or null.
    const HostVertexWeight* vertexWeights(int index) const;

    // Faces that the last TriangulateScene dropped because they had fewer
    // than three corners.
    int droppedFaceCount() const;

    // The bytes the face groups' stores hold now: their records and
    // per-corner arrays, which come from malloc or the system's pages, not
    // from operator new.
    size_t faceStoreBytes() const;

    // --- Operation log and failure knobs -----------------------------------

    // Operations called through the context and its records, in call order
    // (one entry per call, also per PrepareVertex). On by default.
    void setOperationLogEnabled(bool enabled);
    const std::vector<HostOp>& operationLog() const;
    std::vector<std::string> operationNames() const;
    void clearOperationLog();

    // Calls of `op` since construction or the last reset().
    int callCount(HostOp op) const;

    // Makes the nth call of `op` from now on fail (1 = the next call): it
    // returns null or 0 and changes nothing. `andLater`: that call and every
    // later one fail.
    void failCall(HostOp op, int nth, bool andLater = false);
    // Removes every knob.
    void clearFailures();

    // --- Scene operations also available without the plug-in ---------------

    // Rebuilds the UV store and every face's uvIndices from the corner values,
    // and each object's faceCount and materialRefs (what FinishGeometry does).
    void rebuildDerivedData();

    // --- JSON form (layout and rules in host/scene_json.h) ------------------
    //
    // Loading replaces the scene. The text is read as a stream: a load holds
    // the scene's records and a small buffer, not the text. On bad input
    // (malformed JSON, a wrong type, an unknown or missing key, an index out
    // of range, a read failure, no memory) it returns false, leaves the
    // scene empty and puts into `error` one line that says where: the key
    // path and, where the text is still being read, the byte offset.
    bool loadJson(std::string_view json, std::string& error);
    bool loadJson(std::FILE* file, std::string& error);
    // Opens `path` (UTF-16) and loads it; "cannot open" when it cannot.
    bool loadJsonFile(const char16_t* path, std::string& error);

    // The whole scene as deterministic JSON with a "format" key; floats
    // round-trip exactly, -0 included. writeJson sends it to `file` as it is
    // made and flushes it; on a write failure or no memory it returns false
    // with a message (the file then holds part of the text).
    std::string saveJson() const;
    bool writeJson(std::FILE* file, std::string& error) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace asehost
