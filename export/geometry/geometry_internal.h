// Internals of the geometry export shared by the two writers and their tests:
// the per-object face lists, safe reads of host corners, the growable array
// and weld tables of the mesh preparation, and the export mesh itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/host_api.h"
#include "base/job.h"

struct ExportJob;

// ---------------------------------------------------------------------------
// Result codes of the growable arrays (the standard HRESULT values).

#ifndef E_INVALIDARG
inline constexpr int32_t E_INVALIDARG = static_cast<int32_t>(0x80070057u);
#endif
#ifndef E_OUTOFMEMORY
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
#endif

// ---------------------------------------------------------------------------
// Faces of one object

// A host face by position: group index and index inside the group.
struct FaceRef {
    int group;
    int face;
};

// The faces of one object in scan order (groups in order, faces in order).
struct ObjectFaceList {
    const FaceRef* refs = nullptr;
    int count = 0;
};

// The face lists of every object of one scene, in compressed form: the faces
// of object o are refs[start[o]] .. refs[start[o + 1] - 1]. Owned by the
// export job, in blocks of its allocator.
struct FaceBuckets {
    const HostFaceGroup* groups = nullptr;
    int groupCount = 0;
    int objectCount = 0;
    bool built = false;
    // Whether the objects' faceCount fields agreed with the lists when they
    // were built; only then is a disagreement a sign of faces moved since.
    bool countsTrusted = true;
    int* start = nullptr;
    FaceRef* refs = nullptr;
};

// Builds the face lists of every object of the job's scene in one pass over
// the faces. Returns false when memory runs out (recorded in the job).
bool BuildObjectFaces(ExportJob& job);

// Fills `out` with the faces of the job's scene whose objectIndex is
// `objectIndex`. The lists are built on the first call (or by
// BuildObjectFaces) and reused until a change of face-group array or counts;
// a list whose faces no longer name the object is rebuilt. Returns false
// when memory runs out (out is then empty).
// Precondition: 0 <= objectIndex < objectCount.
bool GetObjectFaces(ExportJob& job, int objectIndex, ObjectFaceList* out);

inline HostFace& FaceAt(HostContext* context, FaceRef ref) {
    return context->faceGroups[ref.group].faces[ref.face];
}
inline const HostFace& FaceAt(const HostContext* context, FaceRef ref) {
    return context->faceGroups[ref.group].faces[ref.face];
}

// The face's corner count, negative counts read as 0.
inline int CornerCountOf(const HostFace& face) {
    return face.cornerCount > 0 ? face.cornerCount : 0;
}

// Host vertex of corner `corner`, or null when the face has no index list or
// the index lies outside the host's vertex array. Such a corner is exported as
// a vertex at the origin with zero colour and its face's normal.
const HostVertex* CornerVertex(const HostContext* context, const HostFace& face, int corner);

// The texture coordinate of corner `corner` in UV channel `channel`: the store
// entry that the face's own index list of that channel names. Any missing
// part (store, channel array, face UV data, index list) or an index outside
// the channel's count gives (0, 0) as HostUv {0, 0, 0, -1}. `key`, when
// given, receives the index, or the channel's count for such a corner (one
// past the valid indices, so that all of them share one key).
HostUv CornerUv(const HostContext* context, const HostFace& face, int channel, int corner, int* key);

// ---------------------------------------------------------------------------
// Corner normals

// A normal shorter than this has no direction to write: a corner whose
// vertex-normal sum is that short (the two sides of a card cancel) is written
// with its face's normal instead, in every smoothing mode.
inline constexpr float kZeroNormalLength = 1e-6f;

// `normal` when it is not null and at least kZeroNormalLength long, else
// `faceNormal`. NaN components count as a direction: the host's value is
// written as it is.
inline const float* NormalOrFaceNormal(const float* normal, const float* faceNormal) {
    if (normal == nullptr) return faceNormal;
    const float squared = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
    return squared < kZeroNormalLength * kZeroNormalLength ? faceNormal : normal;
}

// The corner normals of the "From scene" smoothing mode for the faces of one
// object: a corner's normal is the normalised, unweighted sum of the normals
// of the object's faces that use the same host vertex and have the same
// (non-zero) smoothing group; a face of group 0, a corner naming no host
// vertex and a corner whose sum is shorter than kZeroNormalLength take the
// face's own normal. Built in one pass over the corners with a hash table
// keyed by (vertex, group), so in time linear in the corners.
class GroupCornerNormals {
public:
    // Throws std::bad_alloc.
    GroupCornerNormals(JobAllocator& allocator, const HostContext* context, const ObjectFaceList& faces);
    // The normal of corner `corner` of face `face` (the position in the
    // list), or null for a corner the face does not have.
    const float* At(int face, int corner) const {
        const size_t first = first_[static_cast<size_t>(face)];
        if (corner < 0 || static_cast<size_t>(corner) >= first_[static_cast<size_t>(face) + 1] - first) return nullptr;
        return normals_[first + static_cast<size_t>(corner)].xyz;
    }

private:
    struct Normal {
        float xyz[3];
    };
    std::vector<size_t, JobStdAllocator<size_t>> first_;  // per face, then the total
    std::vector<Normal, JobStdAllocator<Normal>> normals_;
};

// ---------------------------------------------------------------------------
// DynArray: a growable array in blocks of a job's allocator

template <class T>
struct DynArray {
    JobAllocator* allocator = nullptr;
    T* data = nullptr;
    int32_t size = 0;
    int32_t capacity = 0;
};

// n < 0: E_INVALIDARG. n == 0: frees the storage, size and capacity 0.
// Storage present and n <= capacity: nothing changes. Otherwise grows to
// max(n, capacity + (capacity > 0 ? capacity : 16)); a failed reallocation
// gives E_OUTOFMEMORY and keeps the old storage. Returns 0 on success.
template <class T>
int32_t DynArraySetCapacity(DynArray<T>* array, int32_t n) {
    if (n < 0) return E_INVALIDARG;
    if (n == 0) {
        array->allocator->Free(array->data);
        array->data = nullptr;
        array->size = 0;
        array->capacity = 0;
        return 0;
    }
    if (array->data != nullptr && n <= array->capacity) return 0;
    int64_t grown = static_cast<int64_t>(array->capacity) + (array->capacity > 0 ? array->capacity : 16);
    if (grown > INT32_MAX) grown = INT32_MAX;
    const int64_t target = n > grown ? n : grown;
    void* block = array->allocator->Reallocate(array->data, static_cast<size_t>(target) * sizeof(T));
    if (block == nullptr) return E_OUTOFMEMORY;
    array->data = static_cast<T*>(block);
    array->capacity = static_cast<int32_t>(target);
    return 0;
}

// Appends x. Returns 0 or the error of the capacity change.
template <class T>
int32_t DynArrayAdd(DynArray<T>* array, const T& x) {
    if (array->size == INT32_MAX) return E_OUTOFMEMORY;
    const int32_t error = DynArraySetCapacity(array, array->size + 1);
    if (error != 0) return error;
    array->data[array->size] = x;
    ++array->size;
    return 0;
}

// Stores x at position i; E_INVALIDARG when i is outside 0..size-1.
template <class T>
int32_t DynArraySetAt(DynArray<T>* array, int32_t i, const T& x) {
    if (i < 0 || i >= array->size) return E_INVALIDARG;
    array->data[i] = x;
    return 0;
}

// Frees the storage (elements are plain records with nothing to destroy).
template <class T>
void DynArrayClear(DynArray<T>* array) {
    DynArraySetCapacity(array, 0);
}

// ---------------------------------------------------------------------------
// Weld tables: chains of pool entries keyed by a host index

struct WeldNode {
    int32_t index;  // position of the entry in its pool
    WeldNode* next;
};

struct WeldTable {
    explicit WeldTable(JobAllocator* owner) : allocator(owner), slots{owner}, usedKeys{owner} {}
    JobAllocator* allocator;     // of the nodes and both arrays
    DynArray<WeldNode*> slots;   // slot k heads the chain of key k, or is null
    DynArray<int32_t> usedKeys;  // the keys whose slot is not null
};

// Frees every node of every chain and the table's storage.
void WeldTableClear(WeldTable* table);

// Frees every node and nulls the used slots, keeping the storage for the
// next use: the cost follows the keys used, not the largest key.
void WeldTableEmpty(WeldTable* table);

struct ExportVertex {
    int32_t sourceVertex;
    float position[3];
    float normal[3];
    float color[4];
};

// The pool entry standing for `candidate` under key `key` (>= 0): the first
// entry in the key's chain whose position is within the tolerance of the
// candidate's, else a new entry appended to the pool and the chain. Returns
// the entry's number, or a negative error (E_OUTOFMEMORY, E_INVALIDARG for a
// negative key), in which case nothing was added.
int32_t FindOrAddVertex(WeldTable* table, DynArray<ExportVertex>* pool, int32_t key, const ExportVertex& candidate);

// As FindOrAddVertex for texture coordinates: an entry matches when its u and
// v equal the candidate's exactly.
int32_t FindOrAddUv(WeldTable* table, DynArray<HostUv>* pool, int32_t key, const HostUv& candidate);

// ---------------------------------------------------------------------------
// The export mesh of the indexed layout

struct ExportFace {
    float normal[3];
    int32_t sourceFace;  // position inside its face group
    int32_t materialIndex;
    int32_t smoothingGroup;
    int32_t cornerCount;  // max(host cornerCount, 3); 0 for a face without corners
    int32_t* vertexIndices;
    int32_t* uv0Indices;
    int32_t* uv1Indices;
};

struct ExportMesh {
    ExportVertex* vertices;
    int32_t vertexCount;
    HostUv* uv0;
    int32_t uv0Count;
    HostUv* uv1;
    int32_t uv1Count;
    ExportFace* faces;
    int32_t faceCount;
};

struct ExportMeshSet {
    int32_t count = 0;
    ExportMesh* meshes = nullptr;
};

// Builds the export mesh of host object `objectIndex` of the job's scene into
// `set` (released first): vertices, channel-0 and channel-1 texture
// coordinates each numbered in order of first use, and per face three index
// lists into them. Returns 1 when the set holds the complete mesh, 0 on
// failure (index out of range, memory exhausted, recorded in the job); the
// set must be released in either case. The preparations of one export share
// the job's weld scratch (its slot array spans the largest host index used,
// so it is emptied, not rebuilt, between objects).
int PrepareExportMesh(ExportJob& job, ExportMeshSet* set, int objectIndex);

// Frees every mesh of the set with all its arrays; safe on an empty set.
void ReleaseExportMeshSet(ExportJob& job, ExportMeshSet* set);
