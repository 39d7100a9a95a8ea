// The scene store's inner layout, shared by the store, its geometry
// operations and its JSON form. Private to host/store/ and host/json/.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "host/store/scene.h"
#include "platform/platform.h"

namespace asehost {

// An operation table followed by the scene it belongs to. Every record's ops
// pointer points at the table member, which is the first member of this
// standard-layout struct, so an operation finds its scene from the record.
template <class Ops>
struct OwnedOps {
    Ops ops;
    HostScene::Impl* owner;
};

template <class Ops>
HostScene::Impl* OwnerOf(const Ops* ops) {
    return ops ? reinterpret_cast<const OwnedOps<Ops>*>(ops)->owner : nullptr;
}

// One texture of any kind: a kind-1 texture uses only the HostTexture part.
struct TextureRecord {
    HostLayeredTexture layered{};
    std::array<HostTextureLayer, 2> layers{};
};

// The textures of one material, one slot per channel.
struct MaterialTextures {
    std::array<std::unique_ptr<TextureRecord>, kTextureChannels> slots;
};

// Empties `items` and gives their memory back.
template <class T, class A>
void Release(std::vector<T, A>& items) {
    std::vector<T, A>().swap(items);
}

// A growable array of plain records, grown with realloc: where the
// allocator can move a large block without copying it (glibc remaps the
// pages), the array is never held twice while it grows. Growth is by half
// the capacity, so appending stays linear. The storage rules of HostScene
// hold: data() may move on every append. Throws std::bad_alloc and leaves
// the array unchanged when it cannot grow.
template <class T>
class RecordArray {
    static_assert(std::is_trivially_copyable_v<T>, "records are moved with realloc");

public:
    RecordArray() = default;
    ~RecordArray() { std::free(data_); }
    RecordArray(const RecordArray&) = delete;
    RecordArray& operator=(const RecordArray&) = delete;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t index) { return data_[index]; }
    const T& operator[](size_t index) const { return data_[index]; }
    T& back() { return data_[size_ - 1]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

    // A new last record whose bytes the caller sets.
    T& AppendUninitialised() {
        if (size_ == capacity_) Grow();
        return data_[size_++];
    }
    // Whether `address` lies in the array's storage.
    bool Holds(const void* address) const {
        const auto at = reinterpret_cast<uintptr_t>(address);
        const auto begin = reinterpret_cast<uintptr_t>(data_);
        return data_ != nullptr && at >= begin && at - begin < capacity_ * sizeof(T);
    }
    // Empties the array and gives its memory back.
    void clear() {
        std::free(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

private:
    void Grow() {
        const size_t most = PTRDIFF_MAX / sizeof(T);
        if (capacity_ >= most) throw std::bad_alloc();
        const size_t next = capacity_ < 16 ? 16 : capacity_ + std::min(capacity_ / 2, most - capacity_);
        void* block = std::realloc(data_, next * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(block);
        capacity_ = next;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// A zero-filled block of bytes that never moves: from the platform's
// large-block call (whole pages, zero-filled by the system) from
// kLargeFaceBlockBytes on, else from the heap. Move-only.
class FaceBlock {
public:
    enum : size_t { kLargeFaceBlockBytes = size_t{2} << 20 };

    FaceBlock() = default;
    // Throws std::bad_alloc.
    explicit FaceBlock(size_t bytes);
    ~FaceBlock() { Free(); }
    FaceBlock(FaceBlock&& other) noexcept : data_(other.data_), bytes_(other.bytes_) {
        other.data_ = nullptr;
        other.bytes_ = 0;
    }
    FaceBlock& operator=(FaceBlock&& other) noexcept {
        if (this != &other) {
            Free();
            data_ = other.data_;
            bytes_ = other.bytes_;
            other.data_ = nullptr;
            other.bytes_ = 0;
        }
        return *this;
    }
    FaceBlock(const FaceBlock&) = delete;
    FaceBlock& operator=(const FaceBlock&) = delete;

    std::byte* data() const { return data_; }
    size_t size() const { return bytes_; }

private:
    void Free();

    std::byte* data_ = nullptr;
    size_t bytes_ = 0;
};

// The faces of one face group with every per-face array in one block, laid
// out by kind: the HostFace records, the HostFaceUv records, the cornerUvs
// of channel 0 and of channel 1, then the int arrays vertexIndices, the
// uvIndices of both channels and exportCorners, each kind one run over all
// faces. A face of c corners has s = max(3, c) slots in each per-corner
// array. The block comes zero-filled and arrays whose default is zero are
// not written when the store is made, so pages that nothing writes (the
// exportCorners of an import) cost no memory. The records never move while
// the store lives; moving the store keeps them where they are.
struct FaceStore {
    FaceBlock block;
    HostFace* faces = nullptr;  // null when empty
    size_t faceCount = 0;

    HostFace* begin() const { return faces; }
    HostFace* end() const { return faces + faceCount; }
};

// Weight arrays of every vertex, carved out of blocks that never move, so
// that a vertex's weights cost no allocation of their own. Arrays are not
// given back one by one: giving a vertex new weights leaves its old array
// unused until Clear.
class WeightPool {
public:
    // `count` (>= 1) weights of boneIndex -1 and weight 0. Throws
    // std::bad_alloc.
    HostVertexWeight* Allocate(size_t count);
    void Clear();

private:
    std::vector<std::unique_ptr<HostVertexWeight[]>> blocks_;
    HostVertexWeight* free_ = nullptr;  // unused part of the current block
    size_t freeCount_ = 0;
};

// Keys of one track.
struct TrackStore {
    std::vector<HostVectorKey> position;
    std::vector<HostRotationKey> rotation;
    std::vector<HostVectorKey> scale;
};

struct AnimationStore {
    std::vector<HostTrack> tracks;
    std::vector<TrackStore> keys;
};

// A standard-library allocator that takes arrays of 2 MiB and more from the
// platform's large-block call and smaller ones from the heap: the vertex and
// UV arrays of a large scene go back to the system whole when they are
// freed, instead of staying in the heap.
template <typename T>
struct PagedAllocator {
    using value_type = T;
    enum : size_t { kLargeBytes = size_t{2} << 20 };
    PagedAllocator() noexcept = default;
    template <typename U>
    PagedAllocator(const PagedAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        const size_t bytes = n * sizeof(T);
        void* block = bytes >= kLargeBytes ? platform::AllocateLargeBlock(bytes) : std::malloc(bytes);
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, size_t n) noexcept {
        if (n * sizeof(T) >= kLargeBytes)
            platform::FreeLargeBlock(block, n * sizeof(T));
        else
            std::free(block);
    }
    template <typename U>
    bool operator==(const PagedAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using PagedVector = std::vector<T, PagedAllocator<T>>;

struct HostScene::Impl {
    OwnedOps<HostContextOps> contextOps{};
    OwnedOps<HostMaterialOps> materialOps{};
    OwnedOps<HostVertexOps> vertexOps{};
    OwnedOps<HostFaceGroupOps> groupOps{};
    OwnedOps<HostAnimationOps> animationOps{};

    HostContext context{};
    HostUvStore uvStore{};
    std::array<PagedVector<HostUv>, kUvChannels> storeUvs;

    std::vector<HostMaterial> materials;
    std::vector<MaterialTextures> materialTextures;  // parallel to materials
    PagedVector<HostVertex> vertices;
    // The weights each vertex was given (the record's pointer is the
    // plug-in's to read); parallel to vertices.
    PagedVector<HostVertexWeight*> weightArrays;
    WeightPool weightPool;
    RecordArray<HostObject> objects;
    // Every object's material references, object after object; rebuilt with
    // the objects' counts.
    std::vector<HostMaterialRef> materialRefs;
    std::vector<HostFaceGroup> groups;
    std::vector<FaceStore> groupStores;  // parallel to groups
    RecordArray<HostBone> bones;
    std::vector<HostAnimation> animations;
    std::vector<std::unique_ptr<AnimationStore>> animationStores;  // parallel

    void* mainWindow = nullptr;
    int droppedFaces = 0;

    bool logEnabled = true;
    std::vector<HostOp> log;
    std::array<int, static_cast<int>(HostOp::Count)> calls{};
    struct Failure {
        int call;  // absolute call number that fails
        bool andLater;
    };
    std::array<std::vector<Failure>, static_cast<int>(HostOp::Count)> failures;

    Impl();

    // Counts and logs a call of `op`; false when a knob makes it fail.
    bool Enter(HostOp op);
    // Points the context's arrays and counts at the current storage.
    void SyncContext();
    // Empties the scene content.
    void Clear();

    // Appending records with their defaults. Throw std::bad_alloc.
    HostMaterial& AppendMaterial(const DualString* name);
    HostObject& AppendObject(const DualString* name);
    HostFaceGroup& AppendFaceGroup();
    HostBone& AppendBone(const DualString* name);
    HostAnimation& AppendAnimation(const DualString* name);
    void ResizeVertices(int count);
    HostTexture* SetTexture(int materialIndex, int channel, int kind);
    HostVertex* SetWeights(int vertexIndex, int count);
    // Makes group `g` use `store` for its faces. Does not throw.
    void InstallFaces(int g, FaceStore store);
    void SetTracks(int animationIndex, int count);
    HostTrack* SetKeys(int animationIndex, int bone, int count, int which);

    int MaterialIndex(const HostMaterial* material) const;
    int GroupIndex(const HostFaceGroup* group) const;
    int AnimationIndex(const HostAnimation* animation) const;
    int VertexIndex(const HostVertex* vertex) const;

    // Geometry (scene_geometry.cpp).
    void RebuildUvStore();
    void RebuildObjectRefs();
    bool Triangulate();
    void ComputeFaceNormals();
    void AccumulateVertexNormals();
    bool AssignSmoothingGroups(float degrees);
};

// Faces of the given corner counts (or `count` triangles), each with default
// values: material and object -1, smoothing group 0, zero normal and
// indices, default HostUv. Throws std::bad_alloc.
FaceStore MakeFaceStore(const std::vector<int>& cornerCounts);
FaceStore MakeTriangleStore(size_t count);

// The number of slots a face of `cornerCount` corners has in each per-corner
// array.
inline int FaceSlots(int cornerCount) {
    return cornerCount > 3 ? cornerCount : 3;
}

// The bytes a FaceStore gives each face (its HostFace and HostFaceUv
// records) and each of its slots (a cornerUv per channel; vertexIndices,
// a uvIndex per channel and exportCorners). A store holds no more than
// these sums; a triangle costs kFaceRecordBytes + 3 * kFaceSlotBytes.
inline constexpr size_t kFaceRecordBytes = sizeof(HostFace) + sizeof(HostFaceUv);
inline constexpr size_t kFaceSlotBytes = kUvChannels * sizeof(HostUv) + (2 + kUvChannels) * sizeof(int);
inline constexpr size_t kTriangleBytes = kFaceRecordBytes + 3 * kFaceSlotBytes;

}  // namespace asehost
