// The geometry object writer of the indexed layout: each host vertex of the
// object is written once, and the texture coordinates of each channel form
// lists of their own with their own face indices.
#include <cstring>
#include <new>
#include <optional>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "export/geometry/geometry_internal.h"
#include "export/geometry/geometry_text.h"

namespace {

struct IndexedSource {
    const ExportMesh* mesh;
    // The per-group corner normals of the "From scene" mode, else null.
    const GroupCornerNormals* groupNormals;

    int VertexCount() const { return mesh->vertexCount; }
    const float* Position(int i) const { return mesh->vertices[i].position; }
    const float* Color(int i) const { return mesh->vertices[i].color; }
    // The group's normal in "From scene" mode; otherwise the host's normal
    // of the corner's vertex, which, at a vertex whose faces cancel, is
    // replaced by the face's normal. The corners a short face lacks are
    // written as vertex 0, with its normal.
    const float* CornerNormal(int f, int k) const {
        if (groupNormals != nullptr) {
            if (const float* n = groupNormals->At(f, k)) return n;
        }
        int c[3];
        Corners(f, CornerList::Vertex, c);
        const float* n = c[k] >= 0 && c[k] < mesh->vertexCount ? mesh->vertices[c[k]].normal : nullptr;
        return NormalOrFaceNormal(n, mesh->faces[f].normal);
    }
    int Uv0Count() const { return mesh->uv0Count; }
    HostUv Uv0(int i) const { return mesh->uv0[i]; }
    int Uv1Count() const { return mesh->uv1Count; }
    HostUv Uv1(int i) const { return mesh->uv1[i]; }
    int FaceCount() const { return mesh->faceCount; }
    void Corners(int f, CornerList list, int out[3]) const {
        const ExportFace& face = mesh->faces[f];
        const int32_t* indices = list == CornerList::Vertex ? face.vertexIndices
                                 : list == CornerList::Uv0  ? face.uv0Indices
                                                            : face.uv1Indices;
        // A face without corners has no lists; it is written as corners 0.
        for (int k = 0; k < 3; ++k) out[k] = indices != nullptr ? indices[k] : 0;
    }
    const float* FaceNormal(int f) const { return mesh->faces[f].normal; }
    int Smoothing(int f) const { return mesh->faces[f].smoothingGroup; }
    int MaterialIndex(int f) const { return mesh->faces[f].materialIndex; }
};

int WriteIndexed(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal, ExportMeshSet* set) {
    HostContext* context = job.context;
    if (stream == nullptr || context == nullptr || context->objects == nullptr || objectIndex < 0 ||
        objectIndex >= context->objectCount)
        return 0;
    if (!PrepareExportMesh(job, set, objectIndex) || set->count < 1 || set->meshes == nullptr) return 0;
    const HostObject& object = context->objects[objectIndex];
    const MaterialIdMap materials(job.allocator, object, job.options.exportMaterials == 1);
    // The mesh's faces are the object's list in order, so the list's
    // positions number the corner normals.
    ObjectFaceList faces;
    if (!GetObjectFaces(job, objectIndex, &faces)) return 0;
    std::optional<GroupCornerNormals> groupNormals;
    const ExportOptions& options = job.options;
    if (options.smoothingMode == SmoothFromScene && options.exportVertexNormals == 1 && options.useFaceNormals != 1)
        groupNormals.emplace(job.allocator, context, faces);

    const ExportStream out = job.Stream(stream);
    if (!WriteNodeHeader(out, object)) return 0;
    const IndexedSource source{&set->meshes[0], groupNormals ? &*groupNormals : nullptr};
    if (!WriteMeshBlocks(out, job.options, source, materials)) return 0;
    return WriteObjectTail(out, job.options, materialOrdinal);
}

}  // namespace

int WriteIndexedGeometryObject(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal) {
    ExportMeshSet set;
    int result = 0;
    try {
        result = WriteIndexed(job, stream, objectIndex, materialOrdinal, &set);
    } catch (const std::bad_alloc&) {
        result = job.OutOfMemory();
    }
    ReleaseExportMeshSet(job, &set);
    return result;
}
