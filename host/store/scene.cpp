// The scene store: record storage and the host operations the plug-in calls.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "host/store/scene_impl.h"
#include "host/store/text.h"
#include "platform/platform.h"

namespace asehost {

namespace {

constexpr HostUv kDefaultUv{0, 0.0f, 0.0f, -1};

// Runs `body` and turns an allocation failure into `onFailure`: operations
// must not let an exception reach the plug-in.
template <class Body, class Result>
Result Guarded(Body body, Result onFailure) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return onFailure;
    } catch (const std::length_error&) {
        return onFailure;
    }
}

// --- HostContext operations ----------------------------------------------------

HostScene::Impl* SceneOf(HostContext* context) {
    return context ? OwnerOf(context->ops) : nullptr;
}

HostMaterial* OpAddMaterial(HostContext* context, const DualString* name) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AddMaterial)) return nullptr;
    return Guarded([&]() -> HostMaterial* { return &scene->AppendMaterial(name); }, static_cast<HostMaterial*>(nullptr));
}

int OpAllocateVertices(HostContext* context, int count) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AllocateVertices) || count < 0) return 0;
    return Guarded(
        [&] {
            scene->ResizeVertices(count);
            return 1;
        },
        0);
}

HostVertex* OpAllocateVertexWeights(HostContext* context, int vertexIndex, int count) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AllocateVertexWeights)) return nullptr;
    return Guarded([&] { return scene->SetWeights(vertexIndex, count); }, static_cast<HostVertex*>(nullptr));
}

HostObject* OpAddObject(HostContext* context, const DualString* name, int /*reserved*/) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AddObject)) return nullptr;
    return Guarded([&]() -> HostObject* { return &scene->AppendObject(name); }, static_cast<HostObject*>(nullptr));
}

HostFaceGroup* OpAddFaceGroup(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AddFaceGroup)) return nullptr;
    return Guarded([&]() -> HostFaceGroup* { return &scene->AppendFaceGroup(); }, static_cast<HostFaceGroup*>(nullptr));
}

int OpFinishGeometry(HostContext* context, int /*value*/) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::FinishGeometry)) return 0;
    return Guarded(
        [&] {
            scene->RebuildUvStore();
            scene->RebuildObjectRefs();
            return 1;
        },
        0);
}

HostBone* OpAddBone(HostContext* context, const DualString* name, int /*reserved*/) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AddBone)) return nullptr;
    return Guarded([&]() -> HostBone* { return &scene->AppendBone(name); }, static_cast<HostBone*>(nullptr));
}

HostAnimation* OpAddAnimation(HostContext* context, const DualString* name) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AddAnimation)) return nullptr;
    return Guarded([&]() -> HostAnimation* { return &scene->AppendAnimation(name); }, static_cast<HostAnimation*>(nullptr));
}

int OpFinishImport(HostContext* context, int /*value*/) {
    HostScene::Impl* scene = SceneOf(context);
    return scene && scene->Enter(HostOp::FinishImport) ? 1 : 0;
}

int OpTriangulateScene(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::TriangulateScene)) return 0;
    return scene->Triangulate() ? 1 : 0;
}

int OpPostTriangulateStep1(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::PostTriangulateStep1)) return 0;
    scene->ComputeFaceNormals();
    return 1;
}

int OpPostTriangulateStep2(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::PostTriangulateStep2)) return 0;
    scene->AccumulateVertexNormals();
    return 1;
}

int OpPreDialogStep(HostContext* context, int /*value*/) {
    HostScene::Impl* scene = SceneOf(context);
    return scene && scene->Enter(HostOp::PreDialogStep) ? 1 : 0;
}

void* OpGetMainWindow(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::GetMainWindow)) return nullptr;
    return scene->mainWindow;
}

int OpPreWriteStep(HostContext* context) {
    HostScene::Impl* scene = SceneOf(context);
    return scene && scene->Enter(HostOp::PreWriteStep) ? 1 : 0;
}

int OpAssignSmoothingGroupsByAngle(HostContext* context, float degrees) {
    HostScene::Impl* scene = SceneOf(context);
    if (!scene || !scene->Enter(HostOp::AssignSmoothingGroupsByAngle)) return 0;
    return Guarded([&] { return scene->AssignSmoothingGroups(degrees) ? 1 : 0; }, 0);
}

// --- Record operations ----------------------------------------------------------

HostTexture* OpAddTexture(HostMaterial* material, int channel, int kind) {
    HostScene::Impl* scene = material ? OwnerOf(material->ops) : nullptr;
    if (!scene || !scene->Enter(HostOp::AddTexture)) return nullptr;
    const int index = scene->MaterialIndex(material);
    if (index < 0) return nullptr;
    return Guarded([&] { return scene->SetTexture(index, channel, kind); }, static_cast<HostTexture*>(nullptr));
}

HostTexture* OpGetTexture(HostMaterial* material, int channel) {
    HostScene::Impl* scene = material ? OwnerOf(material->ops) : nullptr;
    if (!scene || !scene->Enter(HostOp::GetTexture)) return nullptr;
    if (scene->MaterialIndex(material) < 0 || channel < 0 || channel >= kTextureChannels) return nullptr;
    return material->textures[channel];
}

int OpPrepareVertex(HostVertex* vertex) {
    HostScene::Impl* scene = vertex ? OwnerOf(vertex->ops) : nullptr;
    if (!scene || !scene->Enter(HostOp::PrepareVertex) || scene->VertexIndex(vertex) < 0) return 0;
    float* n = vertex->normal;
    const double length = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
    if (length > 0.0 && std::isfinite(length)) {
        for (int k = 0; k < 3; ++k) n[k] = static_cast<float>(n[k] / length);
    }
    return 1;
}

int OpAllocateFaces(HostFaceGroup* group, int count) {
    HostScene::Impl* scene = group ? OwnerOf(group->ops) : nullptr;
    if (!scene || !scene->Enter(HostOp::AllocateFaces) || count < 0) return 0;
    const int index = scene->GroupIndex(group);
    if (index < 0) return 0;
    return Guarded(
        [&] {
            scene->InstallFaces(index, MakeTriangleStore(static_cast<size_t>(count)));
            return 1;
        },
        0);
}

int OpAllocateTracks(HostAnimation* animation, int boneCount) {
    HostScene::Impl* scene = animation ? OwnerOf(animation->ops) : nullptr;
    if (!scene || !scene->Enter(HostOp::AllocateTracks) || boneCount < 0) return 0;
    const int index = scene->AnimationIndex(animation);
    if (index < 0) return 0;
    return Guarded(
        [&] {
            scene->SetTracks(index, boneCount);
            return 1;
        },
        0);
}

HostTrack* AllocateKeys(HostAnimation* animation, int bone, int count, HostOp op, int which) {
    HostScene::Impl* scene = animation ? OwnerOf(animation->ops) : nullptr;
    if (!scene || !scene->Enter(op)) return nullptr;
    const int index = scene->AnimationIndex(animation);
    if (index < 0) return nullptr;
    return Guarded([&] { return scene->SetKeys(index, bone, count, which); }, static_cast<HostTrack*>(nullptr));
}

HostTrack* OpAllocatePositionKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, HostOp::AllocatePositionKeys, 0);
}
HostTrack* OpAllocateRotationKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, HostOp::AllocateRotationKeys, 1);
}
HostTrack* OpAllocateScaleKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, HostOp::AllocateScaleKeys, 2);
}

template <class Items>
auto DataOrNull(Items& items) {
    return items.empty() ? nullptr : items.data();
}

template <class T, class A>
int IndexIn(const std::vector<T, A>& items, const T* item) {
    // Compares addresses as integers: the item may belong to another array.
    const auto begin = reinterpret_cast<uintptr_t>(items.data());
    const auto address = reinterpret_cast<uintptr_t>(item);
    if (items.empty() || address < begin) return -1;
    const uintptr_t offset = address - begin;
    if (offset % sizeof(T) != 0 || offset / sizeof(T) >= items.size()) return -1;
    return static_cast<int>(offset / sizeof(T));
}

// Appends `record` to `records` and `extra` to the parallel `extras`, both or
// neither; returns the new record.
template <class Records, class Record, class Extra>
Record& AppendParallel(Records& records, std::vector<Extra>& extras, const Record& record, Extra extra) {
    extras.push_back(std::move(extra));
    try {
        records.push_back(record);
    } catch (...) {
        extras.pop_back();
        throw;
    }
    return records.back();
}

}  // namespace

const char* HostOpName(HostOp op) {
    static const char* const kNames[] = {
        "AddMaterial",          "AddTexture",           "GetTexture",           "AllocateVertices",
        "AllocateVertexWeights", "AddObject",           "AddFaceGroup",         "AllocateFaces",
        "FinishGeometry",       "AddBone",              "AddAnimation",         "AllocateTracks",
        "AllocatePositionKeys", "AllocateRotationKeys", "AllocateScaleKeys",    "FinishImport",
        "TriangulateScene",     "PostTriangulateStep1", "PostTriangulateStep2", "PrepareVertex",
        "PreDialogStep",        "GetMainWindow",        "PreWriteStep",         "AssignSmoothingGroupsByAngle",
    };
    static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<size_t>(HostOp::Count));
    const int index = static_cast<int>(op);
    return index >= 0 && index < static_cast<int>(HostOp::Count) ? kNames[index] : "?";
}

// --- Impl ----------------------------------------------------------------------

HostScene::Impl::Impl() {
    contextOps.ops = HostContextOps{
        OpAddMaterial,        OpAllocateVertices,     OpAllocateVertexWeights, OpAddObject,
        OpAddFaceGroup,       OpFinishGeometry,       OpAddBone,               OpAddAnimation,
        OpFinishImport,       OpTriangulateScene,     OpPostTriangulateStep1,  OpPostTriangulateStep2,
        OpPreDialogStep,      OpGetMainWindow,        OpPreWriteStep,          OpAssignSmoothingGroupsByAngle,
    };
    contextOps.owner = this;
    materialOps.ops = HostMaterialOps{OpAddTexture, OpGetTexture};
    materialOps.owner = this;
    vertexOps.ops = HostVertexOps{OpPrepareVertex};
    vertexOps.owner = this;
    groupOps.ops = HostFaceGroupOps{OpAllocateFaces};
    groupOps.owner = this;
    animationOps.ops = HostAnimationOps{OpAllocateTracks, OpAllocatePositionKeys, OpAllocateRotationKeys, OpAllocateScaleKeys};
    animationOps.owner = this;
    context.ops = &contextOps.ops;
    context.uvStore = &uvStore;
    SyncContext();
}

bool HostScene::Impl::Enter(HostOp op) {
    const int index = static_cast<int>(op);
    const int call = ++calls[index];
    if (logEnabled) log.push_back(op);
    for (const Failure& failure : failures[index]) {
        if (call == failure.call || (failure.andLater && call > failure.call)) return false;
    }
    return true;
}

void HostScene::Impl::SyncContext() {
    context.materialCount = static_cast<int>(materials.size());
    context.materials = DataOrNull(materials);
    context.vertexCount = static_cast<int>(vertices.size());
    context.vertices = DataOrNull(vertices);
    context.objectCount = static_cast<int>(objects.size());
    context.objects = DataOrNull(objects);
    context.faceGroupCount = static_cast<int>(groups.size());
    context.faceGroups = DataOrNull(groups);
    context.animationCount = static_cast<int>(animations.size());
    context.animations = DataOrNull(animations);
    for (int c = 0; c < kUvChannels; ++c) {
        uvStore.channels[c].uvs = DataOrNull(storeUvs[c]);
        uvStore.channels[c].count = static_cast<int>(storeUvs[c].size());
    }
}

void HostScene::Impl::Clear() {
    Release(materials);
    Release(materialTextures);
    Release(vertices);
    Release(weightArrays);
    weightPool.Clear();
    objects.clear();
    Release(materialRefs);
    Release(groups);
    Release(groupStores);
    bones.clear();
    Release(animations);
    Release(animationStores);
    for (auto& channel : storeUvs) Release(channel);
    droppedFaces = 0;
    context.errorText = DualString{};
    context.timeText = DualString{};
    SyncContext();
}

HostMaterial& HostScene::Impl::AppendMaterial(const DualString* name) {
    HostMaterial material{};
    material.ops = &materialOps.ops;
    CopyDualStringFrom(material.name, name);
    for (int k = 0; k < 3; ++k) {
        material.diffuse[k] = 0.8f;
        material.ambient[k] = 0.2f;
        material.specular[k] = 0.0f;
    }
    material.shininess = 0.0f;
    material.opacity = 1.0f;
    AppendParallel(materials, materialTextures, material, MaterialTextures{});
    SyncContext();
    return materials.back();
}

namespace {

// Sets a new record's name from the plug-in's text. The record is built in
// place: a fixed name record is large next to the rest, and most imports add
// tens of thousands of them. `name` may lie in `records` itself, which
// growing can move, so it is copied aside first then.
template <class Record>
Record& AppendNamed(RecordArray<Record>& records, const DualString* name) {
    DualString aside;
    if (name != nullptr && records.Holds(name)) {
        aside = *name;
        name = &aside;
    }
    Record& record = records.AppendUninitialised();
    if (name == nullptr) {
        record.name = DualString{};
    } else {
        CopyDualStringFrom(record.name, name);
    }
    return record;
}

}  // namespace

HostObject& HostScene::Impl::AppendObject(const DualString* name) {
    HostObject& object = AppendNamed(objects, name);
    object.faceCount = 0;
    object.materialRefCount = 0;
    object.materialRefs = nullptr;
    SyncContext();
    return object;
}

HostFaceGroup& HostScene::Impl::AppendFaceGroup() {
    HostFaceGroup group{};
    group.ops = &groupOps.ops;
    AppendParallel(groups, groupStores, group, FaceStore{});
    SyncContext();
    return groups.back();
}

HostBone& HostScene::Impl::AppendBone(const DualString* name) {
    HostBone& bone = AppendNamed(bones, name);
    bone.parentIndex = -1;
    for (int k = 0; k < 3; ++k) {
        bone.translation[k] = 0.0f;
        bone.scale[k] = 1.0f;
        bone.rotation[k] = 0.0f;
    }
    bone.rotation[3] = 1.0f;
    return bone;
}

HostAnimation& HostScene::Impl::AppendAnimation(const DualString* name) {
    HostAnimation animation{};
    animation.ops = &animationOps.ops;
    CopyDualStringFrom(animation.name, name);
    AppendParallel(animations, animationStores, animation, std::make_unique<AnimationStore>());
    SyncContext();
    return animations.back();
}

void HostScene::Impl::ResizeVertices(int count) {
    HostVertex vertex{};
    vertex.ops = &vertexOps.ops;
    vertex.color[0] = vertex.color[1] = vertex.color[2] = vertex.color[3] = 1.0f;
    const size_t oldCount = vertices.size();
    weightArrays.resize(static_cast<size_t>(count), nullptr);
    try {
        vertices.resize(static_cast<size_t>(count), vertex);
    } catch (...) {
        weightArrays.resize(oldCount);
        throw;
    }
    SyncContext();
}

HostTexture* HostScene::Impl::SetTexture(int materialIndex, int channel, int kind) {
    if (channel < 0 || channel >= kTextureChannels || (kind != kTextureImage && kind != kTextureMultiply)) return nullptr;
    auto record = std::make_unique<TextureRecord>();
    record->layered.texture.kind = kind;
    record->layered.layers = kind == kTextureMultiply ? record->layers.data() : nullptr;
    std::unique_ptr<TextureRecord>& slot = materialTextures[static_cast<size_t>(materialIndex)].slots[static_cast<size_t>(channel)];
    if (slot && slot->layered.texture.kind == kind) {
        // The same kind again: reuse the record so that a pointer handed out
        // before stays valid.
        *slot = *record;
        slot->layered.layers = kind == kTextureMultiply ? slot->layers.data() : nullptr;
    } else {
        slot = std::move(record);
    }
    HostTexture* texture = &slot->layered.texture;
    materials[static_cast<size_t>(materialIndex)].textures[channel] = texture;
    return texture;
}

HostVertex* HostScene::Impl::SetWeights(int vertexIndex, int count) {
    if (vertexIndex < 0 || vertexIndex >= static_cast<int>(vertices.size()) || count < 0) return nullptr;
    HostVertex& vertex = vertices[static_cast<size_t>(vertexIndex)];
    HostVertexWeight* storage = count > 0 ? weightPool.Allocate(static_cast<size_t>(count)) : nullptr;
    weightArrays[static_cast<size_t>(vertexIndex)] = storage;
    vertex.weights = storage;
    vertex.weightCount = count;
    return &vertex;
}

HostVertexWeight* WeightPool::Allocate(size_t count) {
    // Blocks of this many weights; a larger array gets a block of its own
    // and leaves the current block as it is.
    constexpr size_t kBlockWeights = 8192;
    HostVertexWeight* weights = nullptr;
    if (count > kBlockWeights / 4) {
        blocks_.reserve(blocks_.size() + 1);
        blocks_.push_back(std::make_unique<HostVertexWeight[]>(count));
        weights = blocks_.back().get();
    } else {
        if (count > freeCount_) {
            blocks_.reserve(blocks_.size() + 1);
            blocks_.push_back(std::make_unique<HostVertexWeight[]>(kBlockWeights));
            free_ = blocks_.back().get();
            freeCount_ = kBlockWeights;
        }
        weights = free_;
        free_ += count;
        freeCount_ -= count;
    }
    std::fill_n(weights, count, HostVertexWeight{-1, 0.0f});
    return weights;
}

void WeightPool::Clear() {
    Release(blocks_);
    free_ = nullptr;
    freeCount_ = 0;
}

namespace {

// A store of `count` faces whose corner counts `cornersOf(f)` gives.
template <class CornersOf>
FaceStore MakeStore(size_t count, CornersOf cornersOf) {
    static_assert(alignof(HostFaceUv) >= alignof(HostUv) && alignof(HostUv) >= alignof(int));
    static_assert(sizeof(HostFace) % alignof(HostFaceUv) == 0 && sizeof(HostFaceUv) % alignof(HostUv) == 0);
    static_assert(sizeof(HostUv) % alignof(int) == 0);
    FaceStore store;
    if (count == 0) return store;
    // Corner counts are below 2^31, so only the sums can overflow.
    const size_t most = PTRDIFF_MAX;
    if (count > most / kFaceRecordBytes) throw std::bad_alloc();
    size_t slots = 0;
    for (size_t f = 0; f < count; ++f) {
        const size_t s = static_cast<size_t>(FaceSlots(cornersOf(f)));
        if (s > most - slots) throw std::bad_alloc();
        slots += s;
    }
    const size_t recordBytes = count * kFaceRecordBytes;
    if (slots > (most - recordBytes) / kFaceSlotBytes) throw std::bad_alloc();
    store.block = FaceBlock(recordBytes + slots * kFaceSlotBytes);

    std::byte* at = store.block.data();
    store.faces = reinterpret_cast<HostFace*>(at);
    store.faceCount = count;
    HostFaceUv* uvData = reinterpret_cast<HostFaceUv*>(at + count * sizeof(HostFace));
    HostUv* uvs[kUvChannels];
    uvs[0] = reinterpret_cast<HostUv*>(uvData + count);
    for (size_t c = 1; c < kUvChannels; ++c) uvs[c] = uvs[c - 1] + slots;
    // The int arrays: vertexIndices, the uvIndices of each channel, and last
    // exportCorners, which only an export writes: at the block's end, they
    // lie in its small-page tail when the block is large.
    int* ints = reinterpret_cast<int*>(uvs[kUvChannels - 1] + slots);
    int* vertexIndices = ints;
    int* uvIndices = ints + slots;
    int* exportCorners = ints + (1 + kUvChannels) * slots;

    // The block is zero-filled: every int array and the HostFaceUv records
    // are already at their defaults but for the pointers set here.
    for (size_t c = 0; c < kUvChannels; ++c) std::fill_n(uvs[c], slots, kDefaultUv);
    size_t first = 0;
    for (size_t f = 0; f < count; ++f) {
        const int corners = cornersOf(f);
        HostFace* face = new (store.faces + f) HostFace{};
        face->materialIndex = -1;
        face->objectIndex = -1;
        face->cornerCount = corners;
        face->vertexIndices = vertexIndices + first;
        face->exportCorners = exportCorners + first;
        HostFaceUv* faceUv = new (uvData + f) HostFaceUv{};
        for (size_t c = 0; c < kUvChannels; ++c) {
            faceUv->channels[c].cornerUvs = uvs[c] + first;
            faceUv->channels[c].uvIndices = uvIndices + c * slots + first;
        }
        face->uvData = faceUv;
        first += static_cast<size_t>(FaceSlots(corners));
    }
    return store;
}

}  // namespace

FaceBlock::FaceBlock(size_t bytes) {
    if (bytes == 0) return;
    if (bytes >= kLargeFaceBlockBytes) {
        data_ = static_cast<std::byte*>(platform::AllocateLargeBlock(bytes));
        if (data_ == nullptr) throw std::bad_alloc();
    } else {
        data_ = static_cast<std::byte*>(std::calloc(bytes, 1));
        if (data_ == nullptr) throw std::bad_alloc();
    }
    bytes_ = bytes;
}

void FaceBlock::Free() {
    if (data_ == nullptr) return;
    if (bytes_ >= kLargeFaceBlockBytes) {
        platform::FreeLargeBlock(data_, bytes_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    bytes_ = 0;
}

FaceStore MakeFaceStore(const std::vector<int>& cornerCounts) {
    return MakeStore(cornerCounts.size(), [&](size_t f) { return cornerCounts[f]; });
}

FaceStore MakeTriangleStore(size_t count) {
    return MakeStore(count, [](size_t) { return 3; });
}

void HostScene::Impl::InstallFaces(int g, FaceStore store) {
    HostFaceGroup& group = groups[static_cast<size_t>(g)];
    FaceStore& installed = groupStores[static_cast<size_t>(g)];
    installed = std::move(store);
    group.faceCount = static_cast<int>(installed.faceCount);
    group.faces = installed.faces;
}

void HostScene::Impl::SetTracks(int animationIndex, int count) {
    auto store = std::make_unique<AnimationStore>();
    store->tracks.resize(static_cast<size_t>(count), HostTrack{});
    store->keys.resize(static_cast<size_t>(count));
    animationStores[static_cast<size_t>(animationIndex)] = std::move(store);
    HostAnimation& animation = animations[static_cast<size_t>(animationIndex)];
    animation.trackCount = count;
    animation.tracks = DataOrNull(animationStores[static_cast<size_t>(animationIndex)]->tracks);
}

HostTrack* HostScene::Impl::SetKeys(int animationIndex, int bone, int count, int which) {
    AnimationStore& store = *animationStores[static_cast<size_t>(animationIndex)];
    if (bone < 0 || bone >= static_cast<int>(store.tracks.size()) || count < 0) return nullptr;
    HostTrack& track = store.tracks[static_cast<size_t>(bone)];
    TrackStore& keys = store.keys[static_cast<size_t>(bone)];
    const size_t n = static_cast<size_t>(count);
    if (which == 0) {
        keys.position.assign(n, HostVectorKey{});
        track.positionKeys = DataOrNull(keys.position);
        track.positionKeyCount = count;
    } else if (which == 1) {
        keys.rotation.assign(n, HostRotationKey{0.0f, {0.0f, 0.0f, 0.0f, 1.0f}});
        track.rotationKeys = DataOrNull(keys.rotation);
        track.rotationKeyCount = count;
    } else {
        HostVectorKey unit{0.0f, {1.0f, 1.0f, 1.0f}};
        keys.scale.assign(n, unit);
        track.scaleKeys = DataOrNull(keys.scale);
        track.scaleKeyCount = count;
    }
    return &track;
}

int HostScene::Impl::MaterialIndex(const HostMaterial* material) const {
    return IndexIn(materials, material);
}
int HostScene::Impl::GroupIndex(const HostFaceGroup* group) const {
    return IndexIn(groups, group);
}
int HostScene::Impl::AnimationIndex(const HostAnimation* animation) const {
    return IndexIn(animations, animation);
}
int HostScene::Impl::VertexIndex(const HostVertex* vertex) const {
    return IndexIn(vertices, vertex);
}

// --- HostScene -------------------------------------------------------------------

HostScene::HostScene() : impl_(std::make_unique<Impl>()) {}
HostScene::~HostScene() = default;

HostContext* HostScene::context() {
    return &impl_->context;
}
const HostContext* HostScene::context() const {
    return &impl_->context;
}

void HostScene::reset() {
    impl_->Clear();
    impl_->log.clear();
    impl_->calls.fill(0);
    clearFailures();
}

void HostScene::setFileName(const char16_t* path) {
    SetDualString(impl_->context.fileName, path);
}

void HostScene::setHostTexts(const char16_t* appName, const char16_t* version, const char16_t* website) {
    SetDualString(impl_->context.hostAppName, appName);
    SetDualString(impl_->context.hostVersion, version);
    SetDualString(impl_->context.hostWebsite, website);
}

void HostScene::setMainWindow(void* window) {
    impl_->mainWindow = window;
}

int HostScene::boneCount() const {
    return static_cast<int>(impl_->bones.size());
}
const HostBone* HostScene::bones() const {
    return impl_->bones.empty() ? nullptr : impl_->bones.data();
}
HostBone* HostScene::bone(int index) {
    return index >= 0 && index < boneCount() ? &impl_->bones[static_cast<size_t>(index)] : nullptr;
}

const HostVertexWeight* HostScene::vertexWeights(int index) const {
    if (index < 0 || index >= static_cast<int>(impl_->weightArrays.size())) return nullptr;
    return impl_->weightArrays[static_cast<size_t>(index)];
}

int HostScene::droppedFaceCount() const {
    return impl_->droppedFaces;
}

size_t HostScene::faceStoreBytes() const {
    size_t bytes = 0;
    for (const FaceStore& store : impl_->groupStores) bytes += store.block.size();
    return bytes;
}

void HostScene::setOperationLogEnabled(bool enabled) {
    impl_->logEnabled = enabled;
}
const std::vector<HostOp>& HostScene::operationLog() const {
    return impl_->log;
}
std::vector<std::string> HostScene::operationNames() const {
    std::vector<std::string> names;
    names.reserve(impl_->log.size());
    for (HostOp op : impl_->log) names.emplace_back(HostOpName(op));
    return names;
}
void HostScene::clearOperationLog() {
    impl_->log.clear();
}

int HostScene::callCount(HostOp op) const {
    const int index = static_cast<int>(op);
    return index >= 0 && index < static_cast<int>(HostOp::Count) ? impl_->calls[static_cast<size_t>(index)] : 0;
}

void HostScene::failCall(HostOp op, int nth, bool andLater) {
    const int index = static_cast<int>(op);
    if (index < 0 || index >= static_cast<int>(HostOp::Count) || nth < 1) return;
    impl_->failures[static_cast<size_t>(index)].push_back(Impl::Failure{impl_->calls[static_cast<size_t>(index)] + nth, andLater});
}

void HostScene::clearFailures() {
    for (auto& list : impl_->failures) list.clear();
}

void HostScene::rebuildDerivedData() {
    impl_->RebuildUvStore();
    impl_->RebuildObjectRefs();
}

}  // namespace asehost
