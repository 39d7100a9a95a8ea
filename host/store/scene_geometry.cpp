// The scene store's geometry work: the UV store and object references derived
// from the faces, triangulation, normals and smoothing groups by angle.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <numeric>

#include "host/store/scene_impl.h"

namespace asehost {

namespace {

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Union-find over face numbers with path halving and union by size.
class DisjointSets {
public:
    explicit DisjointSets(size_t count) : parent_(count), size_(count, 1) {
        std::iota(parent_.begin(), parent_.end(), 0u);
    }
    uint32_t Find(uint32_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];
            x = parent_[x];
        }
        return x;
    }
    void Unite(uint32_t a, uint32_t b) {
        a = Find(a);
        b = Find(b);
        if (a == b) return;
        if (size_[a] < size_[b]) std::swap(a, b);
        parent_[b] = a;
        size_[a] += size_[b];
    }

private:
    std::vector<uint32_t> parent_;
    std::vector<uint32_t> size_;
};

// Unit normal of a face, or false when it has none.
bool UnitNormal(const HostFace& face, double out[3]) {
    const double x = face.normal[0], y = face.normal[1], z = face.normal[2];
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length)) return false;
    out[0] = x / length;
    out[1] = y / length;
    out[2] = z / length;
    return true;
}

// A map from 64-bit keys to non-negative ints: open addressing with linear
// probing in one array that doubles at half load, so lookups cost no
// allocation of their own.
class KeyTable {
public:
    explicit KeyTable(size_t expected) {
        size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        slots_.assign(capacity, Slot{0, -1});
        shift_ = ShiftFor(capacity);
    }

    // The value stored for `key`; when there is none, stores `value` and
    // returns it. Throws std::bad_alloc.
    int FindOrAdd(uint64_t key, int value) {
        for (size_t i = Home(key);; i = (i + 1) & (slots_.size() - 1)) {
            Slot& slot = slots_[i];
            if (slot.value < 0) {
                if ((count_ + 1) * 2 > slots_.size()) {
                    Grow();
                    return FindOrAdd(key, value);
                }
                slot = Slot{key, value};
                ++count_;
                return value;
            }
            if (slot.key == key) return slot.value;
        }
    }

private:
    struct Slot {
        uint64_t key;
        int value;  // -1: empty
    };

    size_t Home(uint64_t key) const {
        // Fibonacci hashing: the top bits of the product depend on every
        // key bit (the bits of u and of v).
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    }

    void Grow() {
        std::vector<Slot> old(slots_.size() * 2, Slot{0, -1});
        old.swap(slots_);
        shift_ = ShiftFor(slots_.size());
        for (const Slot& slot : old) {
            if (slot.value < 0) continue;
            size_t i = Home(slot.key);
            while (slots_[i].value >= 0) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = slot;
        }
    }

    // 64 minus the bits of a slot number (`capacity` is a power of two).
    static int ShiftFor(size_t capacity) {
        int bits = 0;
        while ((size_t{1} << bits) < capacity) ++bits;
        return 64 - bits;
    }

    std::vector<Slot> slots_;
    int shift_ = 60;
    size_t count_ = 0;
};

// Of the faces around one edge, each is compared with at most this many
// earlier ones: a non-manifold edge shared by very many faces must not make
// the work quadratic.
constexpr size_t kEdgeComparisons = 16;

}  // namespace

void HostScene::Impl::RebuildUvStore() {
    // Equal (u, v) bit patterns share one entry; a NaN never equals
    // anything, so each NaN corner gets its own entry. Both channels in one
    // pass over the faces.
    std::array<KeyTable, kUvChannels> entries{KeyTable(1024), KeyTable(1024)};
    // The last key of each channel and its entry: a channel a file leaves
    // empty repeats one key at every corner, which then costs no lookup.
    std::array<uint64_t, kUvChannels> lastKey{};
    std::array<int, kUvChannels> lastIndex{-1, -1};
    for (auto& store : storeUvs) Release(store);
    bool anyFace = false;
    for (FaceStore& groupStore : groupStores) {
        for (HostFace& face : groupStore) {
            anyFace = true;
            const int slots = FaceSlots(face.cornerCount);
            for (int c = 0; c < kUvChannels; ++c) {
                PagedVector<HostUv>& store = storeUvs[static_cast<size_t>(c)];
                KeyTable& table = entries[static_cast<size_t>(c)];
                HostFaceUvChannel& channel = face.uvData->channels[c];
                // Written only where they change: the store's arrays start
                // zeroed, and a page nothing writes costs no memory (a
                // channel without coordinates keeps index 0 throughout).
                for (int k = face.cornerCount; k < slots; ++k) {
                    if (channel.uvIndices[k] != 0) channel.uvIndices[k] = 0;
                }
                for (int k = 0; k < face.cornerCount; ++k) {
                    const HostUv& corner = channel.cornerUvs[k];
                    const int next = static_cast<int>(store.size());
                    int index = next;
                    if (!std::isnan(corner.u) && !std::isnan(corner.v)) {
                        const uint64_t key = (uint64_t(BitsOf(corner.u)) << 32) | BitsOf(corner.v);
                        int& last = lastIndex[static_cast<size_t>(c)];
                        if (last < 0 || key != lastKey[static_cast<size_t>(c)]) {
                            last = table.FindOrAdd(key, next);
                            lastKey[static_cast<size_t>(c)] = key;
                        }
                        index = last;
                    }
                    if (index == next) store.push_back(HostUv{0, corner.u, corner.v, -1});
                    if (channel.uvIndices[k] != index) channel.uvIndices[k] = index;
                }
            }
        }
    }
    // Index 0 must name an entry for every face, also one without corners.
    for (auto& store : storeUvs) {
        if (anyFace && store.empty()) store.push_back(HostUv{0, 0.0f, 0.0f, -1});
    }
    SyncContext();
}

void HostScene::Impl::RebuildObjectRefs() {
    const size_t objectCount = objects.size();
    const int materialCount = static_cast<int>(materials.size());
    // The pairs (object, material) in the order of their first face, with
    // their face counts; each object's pairs later become one run.
    struct Pair {
        int object;
        HostMaterialRef ref;
    };
    std::vector<Pair> pairs;
    std::vector<int> faceCounts(objectCount, 0);
    std::vector<size_t> pairCounts(objectCount + 1, 0);
    // The pair each material last served and that pair's object: faces of
    // one object lie together, so most faces find their pair here. The
    // table below answers when an object comes back to a material.
    std::vector<int> lastPair(static_cast<size_t>(materialCount), -1);
    KeyTable pairOf(64);
    for (FaceStore& groupStore : groupStores) {
        for (const HostFace& face : groupStore) {
            const int o = face.objectIndex;
            if (o < 0 || static_cast<size_t>(o) >= objectCount) continue;
            ++faceCounts[static_cast<size_t>(o)];
            const int m = face.materialIndex;
            if (m < 0 || m >= materialCount) continue;
            int& last = lastPair[static_cast<size_t>(m)];
            if (last < 0 || pairs[static_cast<size_t>(last)].object != o) {
                const int next = static_cast<int>(pairs.size());
                last = pairOf.FindOrAdd((uint64_t(uint32_t(o)) << 32) | uint32_t(m), next);
                if (last == next) {
                    pairs.push_back(Pair{o, HostMaterialRef{m, 0}});
                    ++pairCounts[static_cast<size_t>(o) + 1];
                }
            }
            ++pairs[static_cast<size_t>(last)].ref.faceCount;
        }
    }
    for (size_t o = 0; o < objectCount; ++o) pairCounts[o + 1] += pairCounts[o];
    Release(materialRefs);
    materialRefs.resize(pairs.size());
    std::vector<size_t> fill(pairCounts.begin(), pairCounts.end() - 1);
    for (const Pair& pair : pairs) materialRefs[fill[static_cast<size_t>(pair.object)]++] = pair.ref;
    for (size_t o = 0; o < objectCount; ++o) {
        const size_t first = pairCounts[o];
        const size_t count = pairCounts[o + 1] - first;
        objects[o].faceCount = faceCounts[o];
        objects[o].materialRefCount = static_cast<int>(count);
        objects[o].materialRefs = count == 0 ? nullptr : &materialRefs[first];
    }
}

bool HostScene::Impl::Triangulate() {
    try {
        // Every new group is built aside first, so that a failure leaves the
        // scene as it was. A group of triangles only stays as it is.
        int dropped = 0;
        std::vector<FaceStore> rebuilt(groupStores.size());
        std::vector<char> changed(groupStores.size(), 0);
        for (size_t g = 0; g < groupStores.size(); ++g) {
            const FaceStore& old = groupStores[g];
            size_t triangles = 0;
            bool allTriangles = true;
            for (const HostFace& face : old) {
                allTriangles = allTriangles && face.cornerCount == 3;
                if (face.cornerCount >= 3) triangles += static_cast<size_t>(face.cornerCount - 2);
            }
            if (allTriangles) continue;
            if (triangles > static_cast<size_t>(INT32_MAX)) return false;
            rebuilt[g] = MakeTriangleStore(triangles);
            changed[g] = 1;
            FaceStore& fresh = rebuilt[g];
            size_t t = 0;
            for (const HostFace& face : old) {
                if (face.cornerCount < 3) {
                    ++dropped;
                    continue;
                }
                // A fan around corner 0.
                for (int k = 1; k + 1 < face.cornerCount; ++k, ++t) {
                    HostFace& out = fresh.faces[t];
                    out.materialIndex = face.materialIndex;
                    out.objectIndex = face.objectIndex;
                    out.smoothingGroup = face.smoothingGroup;
                    std::copy_n(face.normal, 3, out.normal);
                    const int corners[3] = {0, k, k + 1};
                    for (int j = 0; j < 3; ++j) {
                        const int from = corners[j];
                        out.vertexIndices[j] = face.vertexIndices[from];
                        out.exportCorners[j] = face.exportCorners[from];
                        for (int c = 0; c < kUvChannels; ++c) {
                            out.uvData->channels[c].uvIndices[j] = face.uvData->channels[c].uvIndices[from];
                            out.uvData->channels[c].cornerUvs[j] = face.uvData->channels[c].cornerUvs[from];
                        }
                    }
                }
            }
        }
        for (size_t g = 0; g < rebuilt.size(); ++g) {
            if (changed[g]) InstallFaces(static_cast<int>(g), std::move(rebuilt[g]));
        }
        droppedFaces = dropped;
        RebuildObjectRefs();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

void HostScene::Impl::ComputeFaceNormals() {
    const int vertexCount = static_cast<int>(vertices.size());
    for (FaceStore& groupStore : groupStores) {
        for (HostFace& face : groupStore) {
            face.normal[0] = face.normal[1] = face.normal[2] = 0.0f;
            if (face.cornerCount < 3) continue;
            const int* v = face.vertexIndices;
            if (v[0] < 0 || v[0] >= vertexCount || v[1] < 0 || v[1] >= vertexCount || v[2] < 0 || v[2] >= vertexCount) continue;
            const float* a = vertices[static_cast<size_t>(v[0])].position;
            const float* b = vertices[static_cast<size_t>(v[1])].position;
            const float* c = vertices[static_cast<size_t>(v[2])].position;
            const double e1[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
            const double e2[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
            const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            if (!(length > 0.0) || !std::isfinite(length)) continue;
            for (int k = 0; k < 3; ++k) face.normal[k] = static_cast<float>(n[k] / length);
        }
    }
}

void HostScene::Impl::AccumulateVertexNormals() {
    const int vertexCount = static_cast<int>(vertices.size());
    for (HostVertex& vertex : vertices) vertex.normal[0] = vertex.normal[1] = vertex.normal[2] = 0.0f;
    for (FaceStore& groupStore : groupStores) {
        for (const HostFace& face : groupStore) {
            for (int k = 0; k < face.cornerCount; ++k) {
                const int v = face.vertexIndices[k];
                if (v < 0 || v >= vertexCount) continue;
                for (int j = 0; j < 3; ++j) vertices[static_cast<size_t>(v)].normal[j] += face.normal[j];
            }
        }
    }
}

namespace {

// Every edge of the faces as (lower vertex, higher vertex) in `key`, with the
// face that uses it, sorted so that the faces around one edge lie together.
// Degenerate edges and corners naming no vertex are left out.
struct EdgeUse {
    uint64_t key;
    uint32_t face;
};

std::vector<EdgeUse> SortedEdgeUses(const std::vector<HostFace*>& faces, int vertexCount) {
    size_t corners = 0;
    for (const HostFace* face : faces) corners += static_cast<size_t>(std::max(face->cornerCount, 0));
    std::vector<EdgeUse> uses;
    uses.reserve(corners);
    for (size_t f = 0; f < faces.size(); ++f) {
        const HostFace& face = *faces[f];
        for (int k = 0; k < face.cornerCount && face.cornerCount >= 2; ++k) {
            const int a = face.vertexIndices[k];
            const int b = face.vertexIndices[(k + 1) % face.cornerCount];
            if (a == b || a < 0 || b < 0 || a >= vertexCount || b >= vertexCount) continue;
            const uint64_t key = (uint64_t(uint32_t(std::min(a, b))) << 32) | uint32_t(std::max(a, b));
            uses.push_back(EdgeUse{key, static_cast<uint32_t>(f)});
        }
    }
    std::sort(uses.begin(), uses.end(), [](const EdgeUse& x, const EdgeUse& y) { return x.key != y.key ? x.key < y.key : x.face < y.face; });
    return uses;
}

// Calls `visit(earlier, later)` for the compared pairs of faces around each
// edge of `uses` (at most kEdgeComparisons earlier faces per face).
template <typename Visit>
void ForEachEdgePair(const std::vector<EdgeUse>& uses, Visit visit) {
    for (size_t begin = 0; begin < uses.size();) {
        size_t end = begin + 1;
        while (end < uses.size() && uses[end].key == uses[begin].key) ++end;
        for (size_t j = begin + 1; j < end; ++j) {
            const size_t first = j - begin > kEdgeComparisons ? j - kEdgeComparisons : begin;
            for (size_t i = first; i < j; ++i) visit(uses[i].face, uses[j].face);
        }
        begin = end;
    }
}

// The smooth region of each face, numbered in the order of their first
// face: faces joined across an edge when their unit normals lie within
// `degrees` of each other. `regionCount` receives the number of regions.
std::vector<int> SmoothRegions(const std::vector<HostFace*>& faces, const std::vector<EdgeUse>& uses, float degrees, int& regionCount) {
    const size_t faceCount = faces.size();
    std::vector<double> normals(faceCount * 3, 0.0);
    std::vector<char> hasNormal(faceCount, 0);
    for (size_t f = 0; f < faceCount; ++f) hasNormal[f] = UnitNormal(*faces[f], &normals[f * 3]) ? 1 : 0;
    const double limit = std::cos(double(degrees) * 3.14159265358979323846 / 180.0);

    DisjointSets regions(faceCount);
    ForEachEdgePair(uses, [&](uint32_t f, uint32_t g) {
        if (!hasNormal[f] || !hasNormal[g] || f == g) return;
        const double* n = &normals[size_t(f) * 3];
        const double* m = &normals[size_t(g) * 3];
        if (n[0] * m[0] + n[1] * m[1] + n[2] * m[2] > limit) regions.Unite(f, g);
    });

    std::vector<int> regionOf(faceCount, -1);
    std::vector<int> rootRegion(faceCount, -1);
    regionCount = 0;
    for (size_t f = 0; f < faceCount; ++f) {
        const uint32_t root = regions.Find(static_cast<uint32_t>(f));
        if (rootRegion[root] < 0) rootRegion[root] = regionCount++;
        regionOf[f] = rootRegion[root];
    }
    return regionOf;
}

// A number from 1 to 32 for each region, by greedy colouring in region
// order over the regions whose faces share an edge: the smallest number no
// already numbered neighbour has. When the neighbours hold all 32, the
// number the fewest of them hold (the smallest such) keeps the clash as
// small as it can be.
std::vector<int> NumberRegions(const std::vector<EdgeUse>& uses, const std::vector<int>& regionOf, int regionCount) {
    std::vector<std::pair<int, int>> links;
    ForEachEdgePair(uses, [&](uint32_t f, uint32_t g) {
        const int r = regionOf[f], s = regionOf[g];
        if (r != s) {
            links.emplace_back(r, s);
            links.emplace_back(s, r);
        }
    });
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
    std::vector<size_t> firstLink(static_cast<size_t>(regionCount) + 1, 0);
    for (const auto& link : links) ++firstLink[static_cast<size_t>(link.first) + 1];
    for (size_t r = 0; r < static_cast<size_t>(regionCount); ++r) firstLink[r + 1] += firstLink[r];

    std::vector<int> number(static_cast<size_t>(regionCount), 0);
    for (int r = 0; r < regionCount; ++r) {
        int usage[kSmoothingGroupLimit + 1] = {};
        for (size_t i = firstLink[static_cast<size_t>(r)]; i < firstLink[static_cast<size_t>(r) + 1]; ++i) {
            const int n = number[static_cast<size_t>(links[i].second)];
            if (n > 0) ++usage[n];
        }
        int best = 1;
        for (int n = 1; n <= kSmoothingGroupLimit; ++n) {
            if (usage[n] < usage[best]) best = n;
            if (usage[n] == 0) break;
        }
        number[static_cast<size_t>(r)] = best;
    }
    return number;
}

}  // namespace

bool HostScene::Impl::AssignSmoothingGroups(float degrees) {
    std::vector<HostFace*> faces;
    size_t total = 0;
    for (const FaceStore& groupStore : groupStores) total += groupStore.faceCount;
    faces.reserve(total);
    for (const FaceStore& groupStore : groupStores) {
        for (HostFace& face : groupStore) faces.push_back(&face);
    }
    if (faces.size() > UINT32_MAX / 2) return false;

    const std::vector<EdgeUse> uses = SortedEdgeUses(faces, static_cast<int>(vertices.size()));
    int regionCount = 0;
    const std::vector<int> regionOf = SmoothRegions(faces, uses, degrees, regionCount);
    const std::vector<int> number = NumberRegions(uses, regionOf, regionCount);
    for (size_t f = 0; f < faces.size(); ++f) faces[f]->smoothingGroup = number[static_cast<size_t>(regionOf[f])];
    return true;
}
}  // namespace asehost
