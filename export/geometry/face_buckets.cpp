// Per-object face lists built once per export, and bounds-checked reads of
// the host's corner data.
#include "export/export_job.h"
#include "export/geometry/geometry_internal.h"

namespace {

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

void Forget(ExportJob& job) {
    FaceBuckets& buckets = job.faceBuckets;
    job.allocator.Free(buckets.start);
    job.allocator.Free(buckets.refs);
    buckets = FaceBuckets{};
}

bool Matches(const FaceBuckets& buckets, const HostContext* context) {
    return buckets.built && buckets.groups == context->faceGroups && buckets.groupCount == context->faceGroupCount &&
           buckets.objectCount == context->objectCount;
}

int ListSize(const FaceBuckets& buckets, int objectIndex) {
    return buckets.start[objectIndex + 1] - buckets.start[objectIndex];
}

// True when every listed face still exists and still names the object.
bool ListStillValid(const FaceBuckets& buckets, const HostContext* context, int objectIndex) {
    for (int i = buckets.start[objectIndex]; i < buckets.start[objectIndex + 1]; ++i) {
        const FaceRef ref = buckets.refs[i];
        const HostFaceGroup& group = context->faceGroups[ref.group];
        if (group.faces == nullptr || ref.face >= group.faceCount) return false;
        if (group.faces[ref.face].objectIndex != objectIndex) return false;
    }
    return true;
}

}  // namespace

bool BuildObjectFaces(ExportJob& job) {
    Forget(job);
    HostContext* context = job.context;
    FaceBuckets& buckets = job.faceBuckets;
    const int objects = context->objectCount > 0 ? context->objectCount : 0;
    int* start = job.allocator.AllocateArray<int>(static_cast<size_t>(objects) + 1);
    if (start == nullptr) return job.OutOfMemory();
    for (int o = 0; o <= objects; ++o) start[o] = 0;
    ForEachObjectFace(context, [&](int object, FaceRef) { ++start[object + 1]; });
    for (int o = 0; o < objects; ++o) start[o + 1] += start[o];
    FaceRef* refs = job.allocator.AllocateArray<FaceRef>(static_cast<size_t>(start[objects]));
    int* next = job.allocator.AllocateArray<int>(static_cast<size_t>(objects) + 1);
    if (refs == nullptr || next == nullptr) {
        job.allocator.Free(start);
        job.allocator.Free(refs);
        job.allocator.Free(next);
        return job.OutOfMemory();
    }
    for (int o = 0; o < objects; ++o) next[o] = start[o];
    ForEachObjectFace(context, [&](int object, FaceRef ref) { refs[next[object]++] = ref; });
    job.allocator.Free(next);
    buckets.start = start;
    buckets.refs = refs;
    buckets.groups = context->faceGroups;
    buckets.groupCount = context->faceGroupCount;
    buckets.objectCount = context->objectCount;
    buckets.built = true;
    return true;
}

bool GetObjectFaces(ExportJob& job, int objectIndex, ObjectFaceList* out) {
    *out = ObjectFaceList{};
    HostContext* context = job.context;
    FaceBuckets& buckets = job.faceBuckets;
    // Checking the object's own list costs no more than writing it, and
    // catches faces moved to other objects since the lists were built; the
    // host's face count of the object catches faces moved into it.
    const int hostCount = context->objects[objectIndex].faceCount;
    if (!Matches(buckets, context) || !ListStillValid(buckets, context, objectIndex) ||
        (buckets.countsTrusted && ListSize(buckets, objectIndex) != hostCount)) {
        if (!BuildObjectFaces(job)) return false;
        // A host whose counts disagree with a fresh list keeps its counts for
        // itself; checking them again would rebuild at every object.
        buckets.countsTrusted = ListSize(buckets, objectIndex) == hostCount;
    }
    const int first = buckets.start[objectIndex];
    out->refs = buckets.refs + first;
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
