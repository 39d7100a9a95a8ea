// Document post-processing: parent indices, local transforms and vertex
// colours derived after parsing.
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "import/import.h"

namespace {

// A node name as it stands in its fixed array, which need not be terminated.
std::string_view NameView(const char* name) { return std::string_view(name, strnlen(name, kAseNameBytes)); }

}  // namespace

// Nodes are the geometry objects and then the helpers (NodeAt), so a child
// of either finds its parent. Cycles are cut during one walk per node in
// index order: each walk
// follows parent links until it reaches a root or an object an earlier walk
// settled. When a link leads back to an object of the current walk, the
// object holding that link loses its parent. For the cycle 0 -> 1 -> 2 -> 0
// (each object naming the next as parent) the walk from 0 reaches 2, whose
// link back to 0 closes the cycle, so object 2 becomes a root. Every object
// is walked once, so the whole pass is linear.
void ResolveParentIndices(AseDocument& doc) {
    const int count = NodeCount(doc);
    if (count <= 0 || doc.allocator == nullptr) return;

    // The tables come from the document's allocator: a failure throws
    // std::bad_alloc, which ends the import job, and the job frees them.
    JobAllocator& allocator = *doc.allocator;
    std::unordered_map<std::string_view, int, std::hash<std::string_view>, std::equal_to<std::string_view>,
                       JobStdAllocator<std::pair<const std::string_view, int>>>
        byName(0, std::hash<std::string_view>(), std::equal_to<std::string_view>(),
               JobStdAllocator<std::pair<const std::string_view, int>>(allocator));
    byName.reserve(static_cast<size_t>(count));
    // emplace keeps the first object of a duplicated name.
    for (int i = 0; i < count; ++i) byName.emplace(NameView(NodeAt(doc, i).nodeName), i);

    for (int i = 0; i < count; ++i) {
        AseGeomObject& object = NodeAt(doc, i);
        const std::string_view parent = NameView(object.parentName);
        // An empty parent name means "no parent", never "the object without
        // a name".
        auto found = parent.empty() ? byName.end() : byName.find(parent);
        object.parentIndex = found == byName.end() ? -1 : found->second;
    }

    enum : unsigned char { kUnseen, kOnWalk, kSettled };
    std::vector<unsigned char, JobStdAllocator<unsigned char>> state(static_cast<size_t>(count), kUnseen,
                                                                   JobStdAllocator<unsigned char>(allocator));
    std::vector<int, JobStdAllocator<int>> walk{JobStdAllocator<int>(allocator)};
    for (int start = 0; start < count; ++start) {
        if (state[start] != kUnseen) continue;
        walk.clear();
        int current = start;
        while (true) {
            state[current] = kOnWalk;
            walk.push_back(current);
            const int parent = NodeAt(doc, current).parentIndex;
            if (parent < 0 || state[parent] == kSettled) break;
            if (state[parent] == kOnWalk) {
                NodeAt(doc, current).parentIndex = -1;
                break;
            }
            current = parent;
        }
        for (int visited : walk) state[visited] = kSettled;
    }
}

int ComputeLocalTransforms(AseDocument& doc) {
    if (doc.geomObjects == nullptr) return 0;
    const int count = NodeCount(doc);

    for (int i = 0; i < count; ++i) {
        AseGeomObject& object = NodeAt(doc, i);
        const int parent = object.parentIndex;
        // An index outside the array counts as no parent rather than a read
        // beyond it.
        if (parent < 0 || parent >= count) {
            object.localTm = object.worldTm;
        } else {
            Mat4 parentInverse;
            Mat4InverseAffine(&parentInverse, &NodeAt(doc, parent).worldTm);
            Mat4Multiply(&object.localTm, &object.worldTm, &parentInverse);
        }
    }

    for (int i = 0; i < count; ++i) {
        AseGeomObject& object = NodeAt(doc, i);
        Mat4 columnForm;
        Mat4Transpose(&columnForm, &object.localTm);
        columnForm.m[12] = 0.0f;
        columnForm.m[13] = 0.0f;
        columnForm.m[14] = 0.0f;
        columnForm.m[15] = 1.0f;

        AffineParts parts{};
        DecomposeAffine(&columnForm, &parts);
        object.localTranslation = Vec3{parts.t[0], parts.t[1], parts.t[2]};
        object.localScale = Vec3{parts.k[0], parts.k[1], parts.k[2]};
        object.localRotation = Quat{parts.q[0], parts.q[1], parts.q[2], parts.q[3]};
        // A mirrored transform shows as a negated scale.
        if (parts.f < 0.0f) {
            object.localScale.x *= parts.f;
            object.localScale.y *= parts.f;
            object.localScale.z *= parts.f;
        }
    }
    return 1;
}

int ResolveVertexColors(AseDocument& doc) {
    if (doc.geomObjects == nullptr) return 0;

    for (int i = 0; i < doc.geomObjectCount; ++i) {
        AseGeomObject& object = doc.geomObjects[i];
        const AseColorChannel& colors = object.colorChannel;
        if (object.vertices == nullptr || object.faces == nullptr || colors.cverts == nullptr ||
            colors.cfaces == nullptr || colors.cfaceCount != object.faceCount) {
            continue;
        }

        for (int v = 0; v < object.vertexCount; ++v) {
            AseVertex& vertex = object.vertices[v];
            vertex.color[0] = vertex.color[1] = vertex.color[2] = 0.0f;
            vertex.color[3] = 1.0f;
            vertex.colorSamples = 0;
        }

        for (int f = 0; f < colors.cfaceCount; ++f) {
            const AseTriIndex& cface = colors.cfaces[f];
            const AseFace& face = object.faces[f];
            const int colorCorners[3] = {cface.a, cface.b, cface.c};
            const int vertexCorners[3] = {face.a, face.b, face.c};
            for (int k = 0; k < 3; ++k) {
                const int c = colorCorners[k];
                if (c < 0 || c >= colors.cvertCount) continue;
                const int v = vertexCorners[k];
                if (v < 0 || v >= object.vertexCount) continue;
                AseVertex& vertex = object.vertices[v];
                vertex.color[0] += colors.cverts[c].r;
                vertex.color[1] += colors.cverts[c].g;
                vertex.color[2] += colors.cverts[c].b;
                ++vertex.colorSamples;
            }
        }

        for (int v = 0; v < object.vertexCount; ++v) {
            AseVertex& vertex = object.vertices[v];
            if (vertex.colorSamples > 1) {
                const float scale = 1.0f / static_cast<float>(vertex.colorSamples);
                vertex.color[0] *= scale;
                vertex.color[1] *= scale;
                vertex.color[2] *= scale;
            }
        }
    }
    return 1;
}
