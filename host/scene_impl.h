// The scene store's inner layout, shared by the store, its geometry
// operations and its JSON form. Private to host/.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "host/scene.h"

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

// The per-face arrays of one face group. Each face owns s = max(3, cornerCount)
// slots in each pool: vertexIndices, exportCorners and the two uvIndices in
// `ints`, the two cornerUvs in `uvs`.
struct FaceStore {
    std::vector<HostFace> faces;
    std::vector<int> ints;
    std::vector<HostUv> uvs;
    std::vector<HostFaceUv> faceUvs;
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

struct HostScene::Impl {
    OwnedOps<HostContextOps> contextOps{};
    OwnedOps<HostMaterialOps> materialOps{};
    OwnedOps<HostVertexOps> vertexOps{};
    OwnedOps<HostFaceGroupOps> groupOps{};
    OwnedOps<HostAnimationOps> animationOps{};

    HostContext context{};
    HostUvStore uvStore{};
    std::array<std::vector<HostUv>, kUvChannels> storeUvs;

    std::vector<HostMaterial> materials;
    std::vector<MaterialTextures> materialTextures;  // parallel to materials
    std::vector<HostVertex> vertices;
    std::vector<std::unique_ptr<HostVertexWeight[]>> weights;  // parallel to vertices
    std::vector<HostObject> objects;
    std::vector<std::vector<HostMaterialRef>> objectRefs;  // parallel to objects
    std::vector<HostFaceGroup> groups;
    std::vector<std::unique_ptr<FaceStore>> groupStores;  // parallel to groups
    std::vector<HostBone> bones;
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
    void InstallFaces(int g, std::unique_ptr<FaceStore> store);
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

// Faces of the given corner counts, each with default values: material and
// object -1, smoothing group 0, zero normal and indices, default HostUv.
// Throws std::bad_alloc.
std::unique_ptr<FaceStore> MakeFaceStore(const std::vector<int>& cornerCounts);

// The number of slots a face of `cornerCount` corners has in each per-corner
// array.
inline int FaceSlots(int cornerCount) {
    return cornerCount > 3 ? cornerCount : 3;
}

}  // namespace asehost
