// Per-object face lists built once per export, and bounds-checked reads of
// the host's corner data.
#include <new>
#include <vector>

#include "export/geometry/geometry.h"
#include "export/geometry/geometry_internal.h"

namespace {

// The face lists of every object of one scene, in compressed form: the faces
// of object o are refs[start[o]] .. refs[start[o + 1] - 1].
struct FaceBuckets {
    const HostContext* context = nullptr;
    const HostFaceGroup* groups = nullptr;
    int groupCount = 0;
    int objectCount = 0;
    bool built = false;
    // Whether the objects' faceCount fields agreed with the lists when they
    // were built; only then is a disagreement a sign of faces moved since.
    bool countsTrusted = true;
    std::vector<int> start;
    std::vector<FaceRef> refs;
};

FaceBuckets buckets;

// Calls visit(objectIndex, ref) for every face whose object index is valid.
template <class Visit>
void ForEachObjectFace(const HostContext* context, Visit visit) {
    if (context->faceGroups == nullptr) return;
    for (int g = 0; g < context->faceGroupCount; ++g) {
        const HostFaceGroup& group = context->faceGroups[g];
        if (group.faces == nullptr) continue;
        for (int f = 0; f < group.faceCount; ++f) {
            const int object = group.faces[f].objectIndex;
            if (object >= 0 && object < context->objectCount) visit(object, FaceRef{g, f});
        }
    }
}

bool Build(HostContext* context) {
    buckets = FaceBuckets{};
    try {
        const int objects = context->objectCount > 0 ? context->objectCount : 0;
        std::vector<int> start(static_cast<size_t>(objects) + 1, 0);
        ForEachObjectFace(context, [&](int object, FaceRef) { ++start[static_cast<size_t>(object) + 1]; });
        for (int o = 0; o < objects; ++o) start[o + 1] += start[o];
        std::vector<FaceRef> refs(static_cast<size_t>(start[objects]));
        std::vector<int> next(start.begin(), start.end() - 1);
        ForEachObjectFace(context, [&](int object, FaceRef ref) { refs[next[object]++] = ref; });
        buckets.start = std::move(start);
        buckets.refs = std::move(refs);
    } catch (const std::bad_alloc&) {
        buckets = FaceBuckets{};
        return false;
    }
    buckets.context = context;
    buckets.groups = context->faceGroups;
    buckets.groupCount = context->faceGroupCount;
    buckets.objectCount = context->objectCount;
    buckets.built = true;
    return true;
}

bool Matches(const HostContext* context) {
    return buckets.built && buckets.context == context && buckets.groups == context->faceGroups &&
           buckets.groupCount == context->faceGroupCount && buckets.objectCount == context->objectCount;
}

// True when every listed face still exists and still names the object.
bool ListStillValid(const HostContext* context, int objectIndex) {
    for (int i = buckets.start[objectIndex]; i < buckets.start[objectIndex + 1]; ++i) {
        const FaceRef ref = buckets.refs[i];
        const HostFaceGroup& group = context->faceGroups[ref.group];
        if (group.faces == nullptr || ref.face >= group.faceCount) return false;
        if (group.faces[ref.face].objectIndex != objectIndex) return false;
    }
    return true;
}

}  // namespace

void ResetExportFaceBuckets() {
    buckets = FaceBuckets{};
    ReleaseExportMeshScratch();
}

int ListSize(int objectIndex) {
    return buckets.start[objectIndex + 1] - buckets.start[objectIndex];
}

bool GetObjectFaces(HostContext* context, int objectIndex, ObjectFaceList* out) {
    *out = ObjectFaceList{};
    // Checking the object's own list costs no more than writing it, and
    // catches faces moved to other objects since the lists were built; the
    // host's face count of the object catches faces moved into it.
    const int hostCount = context->objects[objectIndex].faceCount;
    if (!Matches(context) || !ListStillValid(context, objectIndex) ||
        (buckets.countsTrusted && ListSize(objectIndex) != hostCount)) {
        if (!Build(context)) return false;
        // A host whose counts disagree with a fresh list keeps its counts for
        // itself; checking them again would rebuild at every object.
        buckets.countsTrusted = ListSize(objectIndex) == hostCount;
    }
    const int first = buckets.start[objectIndex];
    out->refs = buckets.refs.data() + first;
    out->count = buckets.start[objectIndex + 1] - first;
    return true;
}

const HostVertex* CornerVertex(const HostContext* context, const HostFace& face, int corner) {
    if (face.vertexIndices == nullptr || context->vertices == nullptr) return nullptr;
    const int v = face.vertexIndices[corner];
    if (v < 0 || v >= context->vertexCount) return nullptr;
    return &context->vertices[v];
}

HostUv CornerUv(const HostContext* context, const HostFace& face, int channel, int corner, int* key) {
    const HostUvChannel* store = context->uvStore != nullptr ? &context->uvStore->channels[channel] : nullptr;
    const int count = (store != nullptr && store->uvs != nullptr && store->count > 0) ? store->count : 0;
    const int* indices = face.uvData != nullptr ? face.uvData->channels[channel].uvIndices : nullptr;
    const int t = indices != nullptr ? indices[corner] : -1;
    if (t >= 0 && t < count) {
        if (key != nullptr) *key = t;
        return store->uvs[t];
    }
    if (key != nullptr) *key = count;
    return HostUv{0, 0.0f, 0.0f, -1};
}
