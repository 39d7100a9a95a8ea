// Mesh preparation of the indexed layout: the faces of one host object become
// an ExportMesh whose vertices and texture coordinates of each channel are
// numbered in order of first use, found again through weld tables keyed by
// the host index.
#include <cstring>

#include "export/export_job.h"
#include "export/geometry/geometry_internal.h"
#include "math/vecmath.h"

namespace {

// A zero-filled block of `count` elements of `size` bytes, or null.
void* AllocateZeroed(JobAllocator& allocator, size_t count, size_t size) {
    if (count == 0 || size == 0 || count > SIZE_MAX / size) return nullptr;
    void* block = allocator.Allocate(count * size);
    if (block != nullptr) std::memset(block, 0, count * size);
    return block;
}

bool SamePosition(const ExportVertex& a, const ExportVertex& b) {
    const Vec3 pa{a.position[0], a.position[1], a.position[2]};
    const Vec3 pb{b.position[0], b.position[1], b.position[2]};
    return Vec3NearlyEqual(&pa, &pb) != 0;
}

bool SameUv(const HostUv& a, const HostUv& b) {
    return a.u == b.u && a.v == b.v;
}

template <class T, class Same>
int32_t FindOrAdd(WeldTable* table, DynArray<T>* pool, int32_t key, const T& candidate, Same same) {
    if (key < 0) return E_INVALIDARG;
    if (key < table->slots.size) {
        for (const WeldNode* node = table->slots.data[key]; node != nullptr; node = node->next) {
            if (same(candidate, pool->data[node->index])) return node->index;
        }
    }
    const int32_t index = pool->size;
    int32_t error = DynArrayAdd(pool, candidate);
    if (error != 0) return error;
    auto* node = static_cast<WeldNode*>(table->allocator->Allocate(sizeof(WeldNode)));
    if (node == nullptr) {
        --pool->size;
        return E_OUTOFMEMORY;
    }
    node->index = index;
    node->next = nullptr;
    while (table->slots.size <= key) {
        error = DynArrayAdd(&table->slots, static_cast<WeldNode*>(nullptr));
        if (error != 0) {
            table->allocator->Free(node);
            --pool->size;
            return error;
        }
    }
    WeldNode** link = &table->slots.data[key];
    if (*link == nullptr) {
        error = DynArrayAdd(&table->usedKeys, key);
        if (error != 0) {
            table->allocator->Free(node);
            --pool->size;
            return error;
        }
    }
    while (*link != nullptr) link = &(*link)->next;
    *link = node;
    return index;
}

// Copies the pool into an exact-size array owned by the mesh. False when the
// array cannot be allocated.
template <class T>
bool Finish(const DynArray<T>& pool, T** out, int32_t* count) {
    *count = pool.size;
    if (pool.size <= 0) return true;
    *out = static_cast<T*>(AllocateZeroed(*pool.allocator, static_cast<size_t>(pool.size), sizeof(T)));
    if (*out == nullptr) return false;
    std::memcpy(*out, pool.data, static_cast<size_t>(pool.size) * sizeof(T));
    return true;
}

// Fills the ExportFace records and their zeroed index lists.
bool FillFaces(ExportJob& job, const ObjectFaceList& list, ExportMesh* mesh) {
    HostContext* context = job.context;
    mesh->faces =
        static_cast<ExportFace*>(AllocateZeroed(job.allocator, static_cast<size_t>(list.count), sizeof(ExportFace)));
    if (mesh->faces == nullptr) return false;
    mesh->faceCount = list.count;
    for (int k = 0; k < list.count; ++k) {
        const HostFace& host = FaceAt(context, list.refs[k]);
        ExportFace& face = mesh->faces[k];
        std::memcpy(face.normal, host.normal, sizeof face.normal);
        face.sourceFace = list.refs[k].face;
        face.materialIndex = host.materialIndex;
        face.smoothingGroup = host.smoothingGroup;
        const int corners = CornerCountOf(host);
        if (corners == 0) continue;
        face.cornerCount = corners > 3 ? corners : 3;
        // The three lists share one block; vertexIndices owns it.
        auto* block = static_cast<int32_t*>(
            AllocateZeroed(job.allocator, static_cast<size_t>(face.cornerCount) * 3, sizeof(int32_t)));
        if (block == nullptr) return false;
        face.vertexIndices = block;
        face.uv0Indices = block + face.cornerCount;
        face.uv1Indices = block + 2 * static_cast<size_t>(face.cornerCount);
    }
    return true;
}

bool PrepareVertices(ExportJob& job, const ObjectFaceList& list, ExportMesh* mesh) {
    HostContext* context = job.context;
    const int32_t validCount = context->vertices != nullptr && context->vertexCount > 0 ? context->vertexCount : 0;
    WeldTable& table = job.weldScratch;
    DynArray<ExportVertex> pool{&job.allocator};
    bool ok = true;
    for (int k = 0; ok && k < list.count; ++k) {
        const HostFace& host = FaceAt(context, list.refs[k]);
        for (int c = 0; c < CornerCountOf(host); ++c) {
            // A corner naming no host vertex stands for a vertex at the origin;
            // all such corners share the key one past the valid indices.
            ExportVertex candidate{};
            candidate.sourceVertex = -1;
            int32_t key = validCount;
            if (const HostVertex* v = CornerVertex(context, host, c)) {
                key = host.vertexIndices[c];
                candidate.sourceVertex = key;
                std::memcpy(candidate.position, v->position, sizeof candidate.position);
                std::memcpy(candidate.normal, v->normal, sizeof candidate.normal);
                std::memcpy(candidate.color, v->color, sizeof candidate.color);
            }
            const int32_t number = FindOrAddVertex(&table, &pool, key, candidate);
            if (number < 0) {
                ok = false;
                break;
            }
            mesh->faces[k].vertexIndices[c] = number;
        }
    }
    WeldTableEmpty(&table);
    ok = ok && Finish(pool, &mesh->vertices, &mesh->vertexCount);
    DynArrayClear(&pool);
    return ok;
}

bool PrepareUvs(ExportJob& job, const ObjectFaceList& list, int channel, ExportMesh* mesh) {
    HostContext* context = job.context;
    WeldTable& table = job.weldScratch;
    DynArray<HostUv> pool{&job.allocator};
    bool ok = true;
    for (int k = 0; ok && k < list.count; ++k) {
        const HostFace& host = FaceAt(context, list.refs[k]);
        int32_t* indices = channel == 0 ? mesh->faces[k].uv0Indices : mesh->faces[k].uv1Indices;
        for (int c = 0; c < CornerCountOf(host); ++c) {
            int key = 0;
            const HostUv candidate = CornerUv(context, host, channel, c, &key);
            const int32_t number = FindOrAddUv(&table, &pool, key, candidate);
            if (number < 0) {
                ok = false;
                break;
            }
            indices[c] = number;
        }
    }
    WeldTableEmpty(&table);
    if (channel == 0) {
        ok = ok && Finish(pool, &mesh->uv0, &mesh->uv0Count);
    } else {
        ok = ok && Finish(pool, &mesh->uv1, &mesh->uv1Count);
    }
    DynArrayClear(&pool);
    return ok;
}

}  // namespace

void WeldTableEmpty(WeldTable* table) {
    for (int32_t u = 0; u < table->usedKeys.size; ++u) {
        WeldNode*& head = table->slots.data[table->usedKeys.data[u]];
        while (head != nullptr) {
            WeldNode* next = head->next;
            table->allocator->Free(head);
            head = next;
        }
    }
    table->usedKeys.size = 0;
}

void WeldTableClear(WeldTable* table) {
    WeldTableEmpty(table);
    DynArrayClear(&table->slots);
    DynArrayClear(&table->usedKeys);
}

int32_t FindOrAddVertex(WeldTable* table, DynArray<ExportVertex>* pool, int32_t key, const ExportVertex& candidate) {
    return FindOrAdd(table, pool, key, candidate, SamePosition);
}

int32_t FindOrAddUv(WeldTable* table, DynArray<HostUv>* pool, int32_t key, const HostUv& candidate) {
    return FindOrAdd(table, pool, key, candidate, SameUv);
}

int PrepareExportMesh(ExportJob& job, ExportMeshSet* set, int objectIndex) {
    HostContext* context = job.context;
    if (context == nullptr || set == nullptr) return 0;
    ReleaseExportMeshSet(job, set);
    if (context->objects == nullptr || objectIndex < 0 || objectIndex >= context->objectCount) return 0;
    set->meshes = static_cast<ExportMesh*>(AllocateZeroed(job.allocator, 1, sizeof(ExportMesh)));
    if (set->meshes == nullptr) return job.OutOfMemory();
    set->count = 1;
    ExportMesh* mesh = &set->meshes[0];

    ObjectFaceList list;
    if (!GetObjectFaces(job, objectIndex, &list)) return 0;
    if (list.count == 0) return 1;
    // Both channels are prepared whatever the options; the writer picks.
    if (!FillFaces(job, list, mesh) || !PrepareVertices(job, list, mesh) || !PrepareUvs(job, list, 0, mesh) ||
        !PrepareUvs(job, list, 1, mesh))
        return job.OutOfMemory();
    return 1;
}

void ReleaseExportMeshSet(ExportJob& job, ExportMeshSet* set) {
    if (set == nullptr) return;
    JobAllocator& allocator = job.allocator;
    for (int32_t m = 0; set->meshes != nullptr && m < set->count; ++m) {
        ExportMesh& mesh = set->meshes[m];
        allocator.Free(mesh.vertices);
        mesh.vertices = nullptr;
        mesh.vertexCount = 0;
        for (int32_t k = 0; mesh.faces != nullptr && k < mesh.faceCount; ++k) {
            allocator.Free(mesh.faces[k].vertexIndices);  // the block of all three lists
            mesh.faces[k].vertexIndices = mesh.faces[k].uv0Indices = mesh.faces[k].uv1Indices = nullptr;
        }
        allocator.Free(mesh.faces);
        mesh.faces = nullptr;
        mesh.faceCount = 0;
        allocator.Free(mesh.uv0);
        mesh.uv0 = nullptr;
        mesh.uv0Count = 0;
        allocator.Free(mesh.uv1);
        mesh.uv1 = nullptr;
        mesh.uv1Count = 0;
    }
    allocator.Free(set->meshes);
    set->meshes = nullptr;
    set->count = 0;
}
