// The geometry object writer of the split layout: one written vertex per
// distinct combination of position and texture coordinates, so that texture
// vertices, colours and normals share the vertex numbers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "export/geometry/geometry_internal.h"
#include "export/geometry/geometry_text.h"
#include "math/vecmath.h"

namespace {

template <class T>
using JobVector = std::vector<T, JobStdAllocator<T>>;

struct SplitVertex {
    int32_t sourceVertex;
    float position[3];
    float normal[3];
    float color[4];
    HostUv uv0;
    HostUv uv1;
};

// Which texture coordinates take part in the comparison of two corners.
enum class UvTest { None, Channel0, BothChannels };

struct SplitTest {
    UvTest uv;
    // When colours are written, a written vertex carries one colour, so two
    // corners of different colours must not share one: merging them would
    // lose the second colour.
    bool colors;
    // Likewise for the vertex normals, when they are written from the
    // vertices (not from the faces): merging corners of different normals
    // would soften a hard edge.
    bool normals;
};

SplitTest SplitTestOf(const ExportOptions& options) {
    UvTest uv = UvTest::None;
    if (options.exportMultipleUvSets == 1)
        uv = UvTest::BothChannels;
    else if (options.exportTextureCoords == 1)
        uv = UvTest::Channel0;
    return SplitTest{uv, options.exportVertexColors == 1,
                     options.exportVertexNormals == 1 && options.useFaceNormals != 1};
}

// The comparison of a corner with an existing split vertex: texture
// coordinates by exact equality as the options select, the written colour
// (red, green, blue) by exact equality when colours are written, the normal
// by exact equality when vertex normals are written, then positions within
// the tolerance. NaN never matches.
bool SplitMatches(const SplitVertex& a, const SplitVertex& b, SplitTest test) {
    if (test.uv == UvTest::BothChannels) {
        if (!(a.uv0.u == b.uv0.u && a.uv0.v == b.uv0.v && a.uv1.u == b.uv1.u && a.uv1.v == b.uv1.v)) return false;
    } else if (test.uv == UvTest::Channel0) {
        if (!(a.uv0.u == b.uv0.u && a.uv0.v == b.uv0.v)) return false;
    }
    if (test.colors && !(a.color[0] == b.color[0] && a.color[1] == b.color[1] && a.color[2] == b.color[2]))
        return false;
    if (test.normals && !(a.normal[0] == b.normal[0] && a.normal[1] == b.normal[1] && a.normal[2] == b.normal[2]))
        return false;
    const Vec3 pa{a.position[0], a.position[1], a.position[2]};
    const Vec3 pb{b.position[0], b.position[1], b.position[2]};
    return Vec3NearlyEqual(&pa, &pb) != 0;
}

// Finds, among the split vertices made so far, the lowest-numbered one that
// SplitMatches a corner, in expected constant time per corner.
//
// Vertices are hashed by the grid cell of their position (cells of kCell, at
// least twice the tolerance) together with the exact bits of the compared
// texture coordinates. A vertex within the tolerance of a corner lies in a
// cell overlapped by the corner's box of half-width kReach (a little more
// than the tolerance, so that rounding of the float difference and of the
// cell arithmetic cannot push a match outside it): at most two cells per
// axis. Each hash chain lists its vertices in ascending number, so the first
// match in a chain is that chain's lowest; the minimum over the probed chains
// is the overall lowest, since every match lies in a probed cell.
//
// Vertices that can match nothing (a non-finite coordinate, a NaN in a
// compared texture coordinate) are neither probed for nor entered.
// Coordinates of magnitude 2^40 or more are a cell of their own value: floats
// that large are further apart than the tolerance, so only an equal value can
// match, and their cell numbers would not fit the grid arithmetic.
class SplitVertexIndex {
public:
    // Throws std::bad_alloc.
    SplitVertexIndex(JobAllocator& allocator, int capacity, SplitTest test)
        : test_(test),
          heads_(JobStdAllocator<int>(allocator)),
          tails_(JobStdAllocator<int>(allocator)),
          next_(JobStdAllocator<int>(allocator)),
          hashes_(JobStdAllocator<uint64_t>(allocator)) {
        size_t slots = 16;
        while (slots < static_cast<size_t>(capacity)) slots *= 2;
        mask_ = slots - 1;
        heads_.assign(slots, -1);
        tails_.assign(slots, -1);
        next_.assign(static_cast<size_t>(capacity), -1);
        hashes_.assign(static_cast<size_t>(capacity), 0);
    }

    // Lowest number of a vertex of `made` (the first `count` entries) matching
    // `corner`, or -1.
    int Find(const SplitVertex* made, const SplitVertex& corner) const {
        Key key;
        if (!KeyOf(corner, &key)) return -1;
        int best = -1;
        for (int64_t x = key.lo[0]; x <= key.hi[0]; ++x) {
            for (int64_t y = key.lo[1]; y <= key.hi[1]; ++y) {
                for (int64_t z = key.lo[2]; z <= key.hi[2]; ++z) {
                    const uint64_t hash = Hash(x, y, z, key.uvBits);
                    for (int i = heads_[hash & mask_]; i >= 0 && (best < 0 || i < best); i = next_[i]) {
                        if (hashes_[i] == hash && SplitMatches(made[i], corner, test_)) {
                            best = i;
                            break;
                        }
                    }
                }
            }
        }
        return best;
    }

    // Enters vertex `index` of `made` (appended last, so chains stay sorted).
    // Returns false for a vertex that can match nothing and is left out.
    bool Insert(const SplitVertex* made, int index) {
        Key key;
        if (!KeyOf(made[index], &key)) return false;
        const uint64_t hash = Hash(key.home[0], key.home[1], key.home[2], key.uvBits);
        const size_t slot = hash & mask_;
        hashes_[index] = hash;
        if (tails_[slot] < 0) {
            heads_[slot] = index;
        } else {
            next_[tails_[slot]] = index;
        }
        tails_[slot] = index;
        return true;
    }

private:
    static constexpr double kCell = 5.0e-4;
    static constexpr double kReach = 1.001e-4;
    static constexpr float kHuge = 1099511627776.0f;  // 2^40
    static constexpr int64_t kHugeCellBase = int64_t{1} << 62;

    struct Key {
        int64_t home[3];
        int64_t lo[3];
        int64_t hi[3];
        uint32_t uvBits[4];
    };

    static uint32_t BitsOf(float value) {
        // -0 equals +0, so both must land in one chain.
        if (value == 0.0f) value = 0.0f;
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }

    bool KeyOf(const SplitVertex& v, Key* key) const {
        std::memset(key->uvBits, 0, sizeof key->uvBits);
        if (test_.uv != UvTest::None) {
            if (std::isnan(v.uv0.u) || std::isnan(v.uv0.v)) return false;
            key->uvBits[0] = BitsOf(v.uv0.u);
            key->uvBits[1] = BitsOf(v.uv0.v);
        }
        if (test_.uv == UvTest::BothChannels) {
            if (std::isnan(v.uv1.u) || std::isnan(v.uv1.v)) return false;
            key->uvBits[2] = BitsOf(v.uv1.u);
            key->uvBits[3] = BitsOf(v.uv1.v);
        }
        for (int a = 0; a < 3; ++a) {
            const float p = v.position[a];
            if (!std::isfinite(p)) return false;
            if (std::fabs(p) >= kHuge) {
                key->home[a] = key->lo[a] = key->hi[a] = kHugeCellBase + BitsOf(p);
                continue;
            }
            const double d = p;
            key->home[a] = static_cast<int64_t>(std::floor(d / kCell));
            key->lo[a] = static_cast<int64_t>(std::floor((d - kReach) / kCell));
            key->hi[a] = static_cast<int64_t>(std::floor((d + kReach) / kCell));
        }
        return true;
    }

    static uint64_t Mix(uint64_t h) {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ULL;
        h ^= h >> 33;
        return h;
    }

    static uint64_t Hash(int64_t x, int64_t y, int64_t z, const uint32_t uvBits[4]) {
        uint64_t h = Mix(static_cast<uint64_t>(x) + 0x9e3779b97f4a7c15ULL);
        h = Mix(h ^ static_cast<uint64_t>(y));
        h = Mix(h ^ static_cast<uint64_t>(z));
        h = Mix(h ^ ((uint64_t{uvBits[0]} << 32) | uvBits[1]));
        return Mix(h ^ ((uint64_t{uvBits[2]} << 32) | uvBits[3]));
    }

    SplitTest test_;
    size_t mask_ = 0;
    JobVector<int> heads_;
    JobVector<int> tails_;
    JobVector<int> next_;
    JobVector<uint64_t> hashes_;
};

bool SameBits(const float* a, const float* b, size_t count) {
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

// Whether two split vertices agree bit for bit in everything SplitMatches
// reads.
bool SameCompared(const SplitVertex& a, const SplitVertex& b, SplitTest test) {
    if (!SameBits(a.position, b.position, 3)) return false;
    if (test.colors && !SameBits(a.color, b.color, 3)) return false;
    if (test.normals && !SameBits(a.normal, b.normal, 3)) return false;
    if (test.uv != UvTest::None && !(SameBits(&a.uv0.u, &b.uv0.u, 1) && SameBits(&a.uv0.v, &b.uv0.v, 1)))
        return false;
    return test.uv != UvTest::BothChannels || (SameBits(&a.uv1.u, &b.uv1.u, 1) && SameBits(&a.uv1.v, &b.uv1.v, 1));
}

// A shortcut past SplitVertexIndex::Find for the corners that repeat a split
// vertex exactly, as the corners around one host vertex mostly do.
//
// Remembers, per host vertex (in slots by the vertex number, so that
// neighbouring host vertices stay near in memory), the last split vertex
// found or entered for it. A remembered vertex S that agrees with a corner
// bit for bit in every compared field and matches it is the lowest match of
// that corner: the corner then matches exactly the vertices S matches, and
// when S was made no vertex before it matched S. Only vertices entered in the
// index are remembered, so S's own search was a complete one.
class RecentSplitVertex {
public:
    // Throws std::bad_alloc.
    RecentSplitVertex(JobAllocator& allocator, int capacity) : numbers_(JobStdAllocator<int>(allocator)) {
        size_t slots = 16;
        while (slots < static_cast<size_t>(capacity)) slots *= 2;
        mask_ = slots - 1;
        numbers_.assign(slots, -1);
    }

    // The remembered vertex that is the corner's lowest match, or -1.
    int Find(const SplitVertex* made, const SplitVertex& corner, SplitTest test) const {
        if (corner.sourceVertex < 0) return -1;
        const int number = numbers_[static_cast<size_t>(corner.sourceVertex) & mask_];
        if (number < 0 || !SameCompared(made[number], corner, test) || !SplitMatches(made[number], corner, test))
            return -1;
        return number;
    }

    // Remembers `number`, a vertex entered in the index, for the corner's
    // host vertex.
    void Remember(const SplitVertex& corner, int number) {
        if (corner.sourceVertex >= 0) numbers_[static_cast<size_t>(corner.sourceVertex) & mask_] = number;
    }

private:
    size_t mask_ = 0;
    JobVector<int> numbers_;
};

// The split vertex a corner would create, with `groupNormal` (the corner's
// normal in "From scene" mode) or else the table's normal of its vertex; a
// corner whose vertex has no normal of length takes its face's normal, so
// that the two sides of a card keep apart.
SplitVertex CornerSplitVertex(const HostContext* context, const VertexNormalTable& normals, const HostFace& face,
                              int corner, const float* groupNormal) {
    SplitVertex s{};
    s.sourceVertex = -1;
    const float* normal = groupNormal;
    if (const HostVertex* v = CornerVertex(context, face, corner)) {
        s.sourceVertex = face.vertexIndices[corner];
        std::memcpy(s.position, v->position, sizeof s.position);
        std::memcpy(s.color, v->color, sizeof s.color);
        if (normal == nullptr && s.sourceVertex < normals.count) normal = normals.normals[s.sourceVertex];
    }
    std::memcpy(s.normal, NormalOrFaceNormal(normal, face.normal), sizeof s.normal);
    // Channel 1 is read through channel 1's own index list, as the indexed
    // layout's preparation does; when the host gives both channels the same
    // per-corner indices this is the channel-0 index as well.
    s.uv0 = CornerUv(context, face, 0, corner, nullptr);
    s.uv1 = CornerUv(context, face, 1, corner, nullptr);
    return s;
}

struct SplitSource {
    HostContext* context;
    const SplitVertex* vertices;
    int vertexCount;
    const FaceRef* faces;
    int faceCount;
    const int* corners;  // three per face

    int VertexCount() const { return vertexCount; }
    const float* Position(int i) const { return vertices[i].position; }
    const float* Color(int i) const { return vertices[i].color; }
    // The normal of the corner's split vertex, which CornerSplitVertex chose.
    const float* CornerNormal(int f, int k) const {
        const int i = corners[3 * f + k];
        return i >= 0 && i < vertexCount ? vertices[i].normal : nullptr;
    }
    int Uv0Count() const { return vertexCount; }
    HostUv Uv0(int i) const { return vertices[i].uv0; }
    int Uv1Count() const { return vertexCount; }
    HostUv Uv1(int i) const { return vertices[i].uv1; }
    int FaceCount() const { return faceCount; }
    void Corners(int f, CornerList, int out[3]) const { std::memcpy(out, corners + 3 * f, 3 * sizeof(int)); }
    const float* FaceNormal(int f) const { return FaceAt(context, faces[f]).normal; }
    int Smoothing(int f) const { return FaceAt(context, faces[f]).smoothingGroup; }
    int MaterialIndex(int f) const { return FaceAt(context, faces[f]).materialIndex; }
};

int WriteSplit(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal) {
    HostContext* context = job.context;
    if (stream == nullptr || context == nullptr || context->objects == nullptr || objectIndex < 0 ||
        objectIndex >= context->objectCount)
        return 0;
    const HostObject& object = context->objects[objectIndex];
    const ExportOptions& options = job.options;
    const VertexNormalTable& normals = job.normals;

    ObjectFaceList faces;
    if (!GetObjectFaces(job, objectIndex, &faces)) return 0;
    int64_t cornerTotal = 0;
    for (int f = 0; f < faces.count; ++f) cornerTotal += CornerCountOf(FaceAt(context, faces.refs[f]));
    // Split vertex numbers are ints in the host's exportCorners.
    if (cornerTotal > INT32_MAX) {
        return job.error.Fail(JobErrorKind::kLimit, 0, nullptr, u"Object \"%S\" has too many corners to export.",
                              object.name.narrow);
    }
    // Every new split vertex takes its normal from the table: without a
    // complete table the object cannot be written.
    const int hostVertices = context->vertices != nullptr ? context->vertexCount : 0;
    if (cornerTotal > 0 && (normals.normals == nullptr || normals.count < hostVertices)) {
        return job.error.Fail(JobErrorKind::kInternal, 0, nullptr, u"Could not prepare vertex normals for export.");
    }

    const ExportStream out = job.Stream(stream);
    if (!WriteNodeHeader(out, object)) return 0;

    // Uninitialised: only the vertices made are ever read.
    JobVector<SplitVertex> made(JobStdAllocator<SplitVertex>(job.allocator));
    made.reserve(static_cast<size_t>(cornerTotal));
    const SplitTest test = SplitTestOf(options);
    SplitVertexIndex index(job.allocator, static_cast<int>(cornerTotal), test);
    RecentSplitVertex recent(job.allocator, static_cast<int>(cornerTotal / 2));
    JobVector<int> corners(static_cast<size_t>(faces.count) * 3, 0, JobStdAllocator<int>(job.allocator));
    // Only normals that are written and keep corners apart are worth the
    // per-group sums.
    std::optional<GroupCornerNormals> groupNormals;
    if (options.smoothingMode == SmoothFromScene && test.normals) groupNormals.emplace(job.allocator, context, faces);
    int madeCount = 0;
    for (int f = 0; f < faces.count; ++f) {
        HostFace& face = FaceAt(context, faces.refs[f]);
        const int cornerCount = CornerCountOf(face);
        for (int c = 0; c < cornerCount; ++c) {
            const float* groupNormal = groupNormals ? groupNormals->At(f, c) : nullptr;
            const SplitVertex corner = CornerSplitVertex(context, normals, face, c, groupNormal);
            int number = recent.Find(made.data(), corner, test);
            if (number < 0) {
                number = index.Find(made.data(), corner);
                if (number < 0) {
                    number = madeCount++;
                    made.push_back(corner);
                    if (index.Insert(made.data(), number)) recent.Remember(corner, number);
                } else {
                    recent.Remember(corner, number);
                }
            }
            if (c < 3) corners[3 * f + c] = number;
            if (face.exportCorners != nullptr) face.exportCorners[c] = number;
        }
        // A face of fewer than three corners refers to split vertex 0 with the
        // rest, as the indexed layout's zero-filled index lists do; the host
        // gives exportCorners room for three.
        for (int c = cornerCount; c < 3; ++c) {
            if (face.exportCorners != nullptr) face.exportCorners[c] = 0;
        }
    }

    const MaterialIdMap materials(job.allocator, object, options.exportMaterials == 1);
    const SplitSource source{context, made.data(), madeCount, faces.refs, faces.count, corners.data()};
    if (!WriteMeshBlocks(out, options, source, materials)) return 0;
    return WriteObjectTail(out, options, materialOrdinal);
}

}  // namespace

int WriteSplitGeometryObject(ExportJob& job, std::FILE* stream, int objectIndex, int materialOrdinal) {
    try {
        return WriteSplit(job, stream, objectIndex, materialOrdinal);
    } catch (const std::bad_alloc&) {
        return job.OutOfMemory();
    }
}
