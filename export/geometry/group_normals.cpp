// Corner normals per smoothing group, for the "From scene" smoothing mode:
// the faces around a host vertex are summed only with the faces of their own
// group, so that a hard edge between groups stays hard in the normals
// written.
#include <cmath>
#include <cstdint>
#include <new>

#include "export/geometry/geometry_internal.h"

namespace {

// One (vertex, group) of the object with the sum of its faces' normals.
struct GroupSum {
    int32_t vertex;
    int32_t group;
    float sum[3];
};

uint64_t HashOf(int32_t vertex, int32_t group) {
    uint64_t h = (uint64_t{static_cast<uint32_t>(vertex)} << 32) | static_cast<uint32_t>(group);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 33);
}

}  // namespace

GroupCornerNormals::GroupCornerNormals(JobAllocator& allocator, const HostContext* context,
                                       const ObjectFaceList& faces)
    : first_(JobStdAllocator<size_t>(allocator)), normals_(JobStdAllocator<Normal>(allocator)) {
    first_.resize(static_cast<size_t>(faces.count) + 1);
    size_t total = 0;
    for (int f = 0; f < faces.count; ++f) {
        first_[static_cast<size_t>(f)] = total;
        total += static_cast<size_t>(CornerCountOf(FaceAt(context, faces.refs[f])));
    }
    first_[static_cast<size_t>(faces.count)] = total;
    // Sums are numbered in 32 bits, which halves the tables' traffic; an
    // object of more corners is more than the export can hold anyway.
    if (total > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();

    // Open addressing at most half full: slots hold a sum's number or -1.
    size_t slotCount = 16;
    while (slotCount < 2 * total) slotCount *= 2;
    const size_t mask = slotCount - 1;
    std::vector<int32_t, JobStdAllocator<int32_t>> slots(slotCount, -1, JobStdAllocator<int32_t>(allocator));
    std::vector<GroupSum, JobStdAllocator<GroupSum>> sums{JobStdAllocator<GroupSum>(allocator)};
    // The sum each corner belongs to, or -1 for a corner that keeps its
    // face's normal.
    std::vector<int32_t, JobStdAllocator<int32_t>> sumOf(total, -1, JobStdAllocator<int32_t>(allocator));

    size_t corner = 0;
    for (int f = 0; f < faces.count; ++f) {
        const HostFace& face = FaceAt(context, faces.refs[f]);
        const int cornerCount = CornerCountOf(face);
        if (face.smoothingGroup == 0) {
            corner += static_cast<size_t>(cornerCount);
            continue;
        }
        for (int c = 0; c < cornerCount; ++c, ++corner) {
            if (CornerVertex(context, face, c) == nullptr) continue;
            const int32_t vertex = face.vertexIndices[c];
            size_t slot = HashOf(vertex, face.smoothingGroup) & mask;
            while (slots[slot] >= 0) {
                const GroupSum& s = sums[static_cast<size_t>(slots[slot])];
                if (s.vertex == vertex && s.group == face.smoothingGroup) break;
                slot = (slot + 1) & mask;
            }
            if (slots[slot] < 0) {
                slots[slot] = static_cast<int32_t>(sums.size());
                sums.push_back(GroupSum{vertex, face.smoothingGroup, {0.0f, 0.0f, 0.0f}});
            }
            GroupSum& s = sums[static_cast<size_t>(slots[slot])];
            for (int a = 0; a < 3; ++a) s.sum[a] += face.normal[a];
            sumOf[corner] = slots[slot];
        }
    }

    // Each sum normalised once; a sum without direction stays zero, so that
    // its corners fall back to their faces' normals below.
    for (GroupSum& s : sums) {
        const double x = s.sum[0], y = s.sum[1], z = s.sum[2];
        const float length = static_cast<float>(std::sqrt(x * x + y * y + z * z));
        if (length >= kZeroNormalLength) {
            for (float& value : s.sum) value /= length;
        } else {
            s.sum[0] = s.sum[1] = s.sum[2] = 0.0f;
        }
    }

    normals_.resize(total);
    corner = 0;
    for (int f = 0; f < faces.count; ++f) {
        const HostFace& face = FaceAt(context, faces.refs[f]);
        for (int c = 0; c < CornerCountOf(face); ++c, ++corner) {
            const float* sum = sumOf[corner] >= 0 ? sums[static_cast<size_t>(sumOf[corner])].sum : nullptr;
            const float* n = NormalOrFaceNormal(sum, face.normal);
            for (int a = 0; a < 3; ++a) normals_[corner].xyz[a] = n[a];
        }
    }
}
