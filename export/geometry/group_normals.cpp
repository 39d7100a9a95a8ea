// Corner normals per smoothing group, for the "From scene" smoothing mode:
// the faces around a host vertex are summed only with the faces of their own
// group, so that a hard edge between groups stays hard in the normals
// written.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>

#include "export/geometry/geometry_internal.h"

namespace {

// One (vertex, group) of the object with the sum of its faces' normals, and
// the next sum of the same bucket (-1: none).
struct GroupSum {
    int32_t vertex;
    int32_t group;
    int32_t next;
    float sum[3];
};

uint64_t HashOf(int32_t vertex) {
    uint64_t h = static_cast<uint32_t>(vertex);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 33);
}

// The buckets of the sums, by vertex: one per vertex of the object's range
// when its faces use a range of vertices not much wider than their corners
// (the usual case, and no hashing), else a power of two of them, by hash.
class VertexBuckets {
public:
    VertexBuckets(int32_t lowest, int32_t highest, size_t corners) : lowest_(lowest) {
        const uint64_t range = highest >= lowest ? uint64_t(int64_t(highest) - lowest) + 1 : 0;
        direct_ = range <= 2 * uint64_t(corners) + 16;
        if (direct_) {
            count_ = static_cast<size_t>(range);
        } else {
            count_ = 16;
            while (count_ < corners) count_ *= 2;
        }
    }
    size_t count() const { return count_; }
    size_t Of(int32_t vertex) const {
        return direct_ ? static_cast<size_t>(int64_t(vertex) - lowest_) : static_cast<size_t>(HashOf(vertex) & (count_ - 1));
    }

private:
    int32_t lowest_;
    bool direct_ = true;
    size_t count_ = 0;
};

}  // namespace

GroupCornerNormals::GroupCornerNormals(JobAllocator& allocator, const HostContext* context,
                                       const ObjectFaceList& faces)
    : first_(JobStdAllocator<size_t>(allocator)), normals_(JobStdAllocator<Normal>(allocator)) {
    first_.resize(static_cast<size_t>(faces.count) + 1);
    size_t total = 0;
    int32_t lowest = INT32_MAX, highest = INT32_MIN;
    for (int f = 0; f < faces.count; ++f) {
        const HostFace& face = FaceAt(context, faces.refs[f]);
        first_[static_cast<size_t>(f)] = total;
        const int cornerCount = CornerCountOf(face);
        total += static_cast<size_t>(cornerCount);
        if (face.smoothingGroup == 0) continue;
        for (int c = 0; c < cornerCount; ++c) {
            if (CornerVertex(context, face, c) == nullptr) continue;
            lowest = std::min(lowest, face.vertexIndices[c]);
            highest = std::max(highest, face.vertexIndices[c]);
        }
    }
    first_[static_cast<size_t>(faces.count)] = total;
    // Sums are numbered in 32 bits, which halves the tables' traffic; an
    // object of more corners is more than the export can hold anyway.
    if (total > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();

    const VertexBuckets buckets(lowest, highest, total);
    // Each bucket holds the number of its latest sum, chained through `next`.
    std::vector<int32_t, JobStdAllocator<int32_t>> heads(buckets.count(), -1, JobStdAllocator<int32_t>(allocator));
    std::vector<GroupSum, JobStdAllocator<GroupSum>> sums{JobStdAllocator<GroupSum>(allocator)};
    sums.reserve(std::min(total, buckets.count()) + 1);
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
            int32_t& head = heads[buckets.Of(vertex)];
            int32_t found = head;
            while (found >= 0) {
                const GroupSum& s = sums[static_cast<size_t>(found)];
                if (s.vertex == vertex && s.group == face.smoothingGroup) break;
                found = s.next;
            }
            if (found < 0) {
                found = static_cast<int32_t>(sums.size());
                sums.push_back(GroupSum{vertex, face.smoothingGroup, head, {0.0f, 0.0f, 0.0f}});
                head = found;
            }
            GroupSum& s = sums[static_cast<size_t>(found)];
            for (int a = 0; a < 3; ++a) s.sum[a] += face.normal[a];
            sumOf[corner] = found;
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
