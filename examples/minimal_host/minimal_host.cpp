// minimal_host: the smallest host of the ASE filter plug-in. It loads the
// module through its two exports, registers it, imports one .ase file into a
// scene of its own and prints a summary of what the plug-in handed over.
//
//   minimal_host MODULE FILE.ase
//
// Exit code 0 when the import succeeded, 1 otherwise (with the reason on
// stderr). Built against an installed asefilter (see CMakeLists.txt); POSIX
// only: on Windows, LoadLibraryW and GetProcAddress take the place of dlopen
// and dlsym, and nothing else changes.
//
// The scene keeps every record in std::vector, as host_api.h asks: the
// context lists contiguous arrays, and a record the plug-in holds is only
// required to stay put until it asks for the next record of its kind. It
// implements the operations an import calls; the export's operations are
// left null (an export through this host is refused by the plug-in).
#include <asefilter/host_api.h>
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// --- Text --------------------------------------------------------------------

// Copies `text` (UTF-8) into both halves of a DualString, cut to fit. The
// narrow half should be the ANSI code page; on Linux that is UTF-8 itself.
void SetText(DualString& out, const std::string& text) {
    out = DualString{};
    size_t n = 0;
    for (size_t i = 0; i < text.size() && n + 2 < kDualStringUnits;) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int k = 1; k < length && i + k < text.size(); ++k) code = (code << 6) | (text[i + k] & 0x3F);
        i += static_cast<size_t>(length);
        if (code >= 0x10000) {  // a surrogate pair
            code -= 0x10000;
            out.wide[n++] = static_cast<char16_t>(0xD800 + (code >> 10));
            out.wide[n++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out.wide[n++] = static_cast<char16_t>(code);
        }
    }
    text.copy(out.narrow, kDualStringUnits - 1);
}

// The narrow half is enough for a summary.
const char* TextOf(const DualString& text) { return text.narrow; }

// A text as one line: without the line break the plug-in's description ends in.
std::string LineOf(const DualString& text) {
    std::string line = text.narrow;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

// --- The scene -----------------------------------------------------------------

// A texture record with room for the two layers a kind-4 texture points at.
struct TextureRecord {
    HostLayeredTexture layered{};
    HostTextureLayer layers[2]{};
};

// The faces of one group and the arrays their pointers lead into.
struct FaceStorage {
    std::vector<HostFace> faces;
    std::vector<int> ints;  // vertexIndices, exportCorners, two channels of uvIndices
    std::vector<HostFaceUv> uvData;
    std::vector<HostUv> cornerUvs;  // two channels
};

struct AnimationStorage {
    std::vector<HostTrack> tracks;
    std::vector<std::vector<HostVectorKey>> positions, scales;
    std::vector<std::vector<HostRotationKey>> rotations;
};

// An operation table and the scene it belongs to: each record's `ops` points
// here, so an operation finds its scene from the record it is given.
template <class Ops>
struct OwnedOps {
    Ops ops;
    struct Scene* scene;
};

template <class Ops>
Scene* SceneOf(const Ops* ops) {
    return reinterpret_cast<const OwnedOps<Ops>*>(ops)->scene;
}

struct Scene {
    HostContext context{};
    OwnedOps<HostContextOps> contextOps{};
    OwnedOps<HostMaterialOps> materialOps{};
    OwnedOps<HostFaceGroupOps> groupOps{};
    OwnedOps<HostAnimationOps> animationOps{};

    std::vector<HostMaterial> materials;
    std::vector<std::unique_ptr<TextureRecord>> textures;
    std::vector<HostVertex> vertices;
    std::vector<std::vector<HostVertexWeight>> weights;  // one per vertex
    std::vector<HostObject> objects;
    std::vector<HostFaceGroup> groups;
    std::vector<FaceStorage> faceStorage;  // one per group
    std::vector<HostBone> bones;           // the context lists no bones
    std::vector<HostAnimation> animations;
    std::vector<AnimationStorage> animationStorage;  // one per animation
    HostUvStore uvStore{};                           // left empty: only an export reads it

    // The context's counts and arrays, after any of them changed.
    void Sync() {
        context.materialCount = static_cast<int>(materials.size());
        context.materials = materials.data();
        context.vertexCount = static_cast<int>(vertices.size());
        context.vertices = vertices.data();
        context.objectCount = static_cast<int>(objects.size());
        context.objects = objects.data();
        context.faceGroupCount = static_cast<int>(groups.size());
        context.faceGroups = groups.data();
        context.animationCount = static_cast<int>(animations.size());
        context.animations = animations.data();
    }
};

// Operations must not let an exception reach the plug-in: each runs its body
// here and answers `failed` when memory runs out.
template <class Body, class Result>
Result Guarded(Body body, Result failed) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return failed;
    }
}

// --- Import operations -----------------------------------------------------------

HostMaterial* AddMaterial(HostContext* context, const DualString* name) {
    Scene* scene = SceneOf(context->ops);
    return Guarded([&] {
        HostMaterial material{};
        material.ops = &scene->materialOps.ops;
        if (name) material.name = *name;
        for (int c = 0; c < 3; ++c) {
            material.diffuse[c] = 0.8f;
            material.ambient[c] = 0.2f;
        }
        material.opacity = 1.0f;
        scene->materials.push_back(material);
        scene->Sync();
        return &scene->materials.back();
    }, static_cast<HostMaterial*>(nullptr));
}

HostTexture* AddTexture(HostMaterial* material, int channel, int kind) {
    if (channel < 0 || channel >= kTextureChannels || (kind != kTextureImage && kind != kTextureMultiply)) return nullptr;
    Scene* scene = SceneOf(material->ops);
    return Guarded([&] {
        auto record = std::make_unique<TextureRecord>();
        record->layered.texture.kind = kind;
        if (kind == kTextureMultiply) record->layered.layers = record->layers;
        HostTexture* texture = &record->layered.texture;
        scene->textures.push_back(std::move(record));
        material->textures[channel] = texture;
        return texture;
    }, static_cast<HostTexture*>(nullptr));
}

HostTexture* GetTexture(HostMaterial* material, int channel) {
    return channel >= 0 && channel < kTextureChannels ? material->textures[channel] : nullptr;
}

int AllocateVertices(HostContext* context, int count) {
    Scene* scene = SceneOf(context->ops);
    if (count < 0) return 0;
    return Guarded([&] {
        HostVertex vertex{};
        vertex.color[0] = vertex.color[1] = vertex.color[2] = vertex.color[3] = 1.0f;
        scene->weights.resize(static_cast<size_t>(count));
        scene->vertices.resize(static_cast<size_t>(count), vertex);
        scene->Sync();
        return 1;
    }, 0);
}

HostVertex* AllocateVertexWeights(HostContext* context, int vertexIndex, int count) {
    Scene* scene = SceneOf(context->ops);
    if (vertexIndex < 0 || vertexIndex >= context->vertexCount || count < 0) return nullptr;
    return Guarded([&] {
        std::vector<HostVertexWeight>& weights = scene->weights[static_cast<size_t>(vertexIndex)];
        weights.assign(static_cast<size_t>(count), HostVertexWeight{});
        HostVertex& vertex = scene->vertices[static_cast<size_t>(vertexIndex)];
        vertex.weights = weights.data();
        vertex.weightCount = count;
        return &vertex;
    }, static_cast<HostVertex*>(nullptr));
}

HostObject* AddObject(HostContext* context, const DualString* name, int /*reserved*/) {
    Scene* scene = SceneOf(context->ops);
    return Guarded([&] {
        HostObject object{};
        if (name) object.name = *name;
        scene->objects.push_back(object);
        scene->Sync();
        return &scene->objects.back();
    }, static_cast<HostObject*>(nullptr));
}

HostFaceGroup* AddFaceGroup(HostContext* context) {
    Scene* scene = SceneOf(context->ops);
    return Guarded([&] {
        scene->faceStorage.emplace_back();
        HostFaceGroup group{};
        group.ops = &scene->groupOps.ops;
        scene->groups.push_back(group);
        scene->Sync();
        return &scene->groups.back();
    }, static_cast<HostFaceGroup*>(nullptr));
}

// `count` triangles set up as host_api.h describes HostFace: the host sets
// cornerCount and the pointers, the plug-in fills the rest.
int AllocateFaces(HostFaceGroup* group, int count) {
    Scene* scene = SceneOf(group->ops);
    if (count < 0) return 0;
    return Guarded([&] {
        const size_t n = static_cast<size_t>(count), corners = 3 * n;
        FaceStorage fresh;
        fresh.faces.resize(n);
        fresh.ints.assign(4 * corners, 0);
        fresh.uvData.resize(n);
        fresh.cornerUvs.assign(2 * corners, HostUv{0, 0.0f, 0.0f, -1});
        for (size_t f = 0; f < n; ++f) {
            HostFace& face = fresh.faces[f];
            face.materialIndex = -1;
            face.objectIndex = -1;
            face.cornerCount = 3;
            face.vertexIndices = &fresh.ints[3 * f];
            face.exportCorners = &fresh.ints[corners + 3 * f];
            for (size_t c = 0; c < kUvChannels; ++c) {
                fresh.uvData[f].channels[c].uvIndices = &fresh.ints[(2 + c) * corners + 3 * f];
                fresh.uvData[f].channels[c].cornerUvs = &fresh.cornerUvs[c * corners + 3 * f];
            }
            face.uvData = &fresh.uvData[f];
        }
        // Moving the vectors keeps their buffers, so the pointers stay valid.
        FaceStorage& storage = scene->faceStorage[static_cast<size_t>(group - scene->groups.data())];
        storage = std::move(fresh);
        group->faceCount = count;
        group->faces = storage.faces.empty() ? nullptr : storage.faces.data();
        return 1;
    }, 0);
}

// The geometry is complete: each object's face count from its faces. A full
// host would also build its UV store and material references here.
int FinishGeometry(HostContext* context, int /*value*/) {
    Scene* scene = SceneOf(context->ops);
    for (HostObject& object : scene->objects) object.faceCount = 0;
    for (const HostFaceGroup& group : scene->groups) {
        for (int f = 0; f < group.faceCount; ++f) {
            const int o = group.faces[f].objectIndex;
            if (o >= 0 && o < context->objectCount) ++scene->objects[static_cast<size_t>(o)].faceCount;
        }
    }
    return 1;
}

HostBone* AddBone(HostContext* context, const DualString* name, int /*reserved*/) {
    Scene* scene = SceneOf(context->ops);
    return Guarded([&] {
        HostBone bone{};
        bone.parentIndex = -1;
        bone.scale[0] = bone.scale[1] = bone.scale[2] = 1.0f;
        bone.rotation[3] = 1.0f;
        if (name) bone.name = *name;
        scene->bones.push_back(bone);
        return &scene->bones.back();
    }, static_cast<HostBone*>(nullptr));
}

HostAnimation* AddAnimation(HostContext* context, const DualString* name) {
    Scene* scene = SceneOf(context->ops);
    return Guarded([&] {
        scene->animationStorage.emplace_back();
        HostAnimation animation{};
        animation.ops = &scene->animationOps.ops;
        if (name) animation.name = *name;
        scene->animations.push_back(animation);
        scene->Sync();
        return &scene->animations.back();
    }, static_cast<HostAnimation*>(nullptr));
}

int FinishImport(HostContext*, int /*value*/) { return 1; }

AnimationStorage& StorageOf(Scene* scene, const HostAnimation* animation) {
    return scene->animationStorage[static_cast<size_t>(animation - scene->animations.data())];
}

int AllocateTracks(HostAnimation* animation, int boneCount) {
    Scene* scene = SceneOf(animation->ops);
    if (boneCount < 0) return 0;
    return Guarded([&] {
        AnimationStorage& storage = StorageOf(scene, animation);
        const size_t n = static_cast<size_t>(boneCount);
        storage = AnimationStorage{std::vector<HostTrack>(n), {}, {}, {}};
        storage.positions.resize(n);
        storage.scales.resize(n);
        storage.rotations.resize(n);
        animation->trackCount = boneCount;
        animation->tracks = storage.tracks.data();
        return 1;
    }, 0);
}

// The keys of one kind for one track: `keys` picks the storage, `fill` sets
// the track's pointer and count.
template <class Key, class Fill>
HostTrack* AllocateKeys(HostAnimation* animation, int bone, int count, std::vector<std::vector<Key>> AnimationStorage::*keys,
                        Key initial, Fill fill) {
    Scene* scene = SceneOf(animation->ops);
    if (bone < 0 || bone >= animation->trackCount || count < 0) return nullptr;
    return Guarded([&] {
        AnimationStorage& storage = StorageOf(scene, animation);
        std::vector<Key>& list = (storage.*keys)[static_cast<size_t>(bone)];
        list.assign(static_cast<size_t>(count), initial);
        HostTrack* track = &storage.tracks[static_cast<size_t>(bone)];
        fill(*track, list.data(), count);
        return track;
    }, static_cast<HostTrack*>(nullptr));
}

HostTrack* AllocatePositionKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, &AnimationStorage::positions, HostVectorKey{0.0f, {0.0f, 0.0f, 0.0f}},
                        [](HostTrack& t, HostVectorKey* k, int n) { t.positionKeys = k; t.positionKeyCount = n; });
}
HostTrack* AllocateRotationKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, &AnimationStorage::rotations, HostRotationKey{0.0f, {0.0f, 0.0f, 0.0f, 1.0f}},
                        [](HostTrack& t, HostRotationKey* k, int n) { t.rotationKeys = k; t.rotationKeyCount = n; });
}
HostTrack* AllocateScaleKeys(HostAnimation* animation, int bone, int count) {
    return AllocateKeys(animation, bone, count, &AnimationStorage::scales, HostVectorKey{0.0f, {1.0f, 1.0f, 1.0f}},
                        [](HostTrack& t, HostVectorKey* k, int n) { t.scaleKeys = k; t.scaleKeyCount = n; });
}

void InitScene(Scene& scene) {
    scene.contextOps = {{}, &scene};
    HostContextOps& ops = scene.contextOps.ops;
    ops.AddMaterial = AddMaterial;
    ops.AllocateVertices = AllocateVertices;
    ops.AllocateVertexWeights = AllocateVertexWeights;
    ops.AddObject = AddObject;
    ops.AddFaceGroup = AddFaceGroup;
    ops.FinishGeometry = FinishGeometry;
    ops.AddBone = AddBone;
    ops.AddAnimation = AddAnimation;
    ops.FinishImport = FinishImport;
    scene.materialOps = {{AddTexture, GetTexture}, &scene};
    scene.groupOps = {{AllocateFaces}, &scene};
    scene.animationOps = {{AllocateTracks, AllocatePositionKeys, AllocateRotationKeys, AllocateScaleKeys}, &scene};
    scene.context.ops = &scene.contextOps.ops;
    scene.context.uvStore = &scene.uvStore;
    SetText(scene.context.hostAppName, "minimal_host");
    SetText(scene.context.hostVersion, "1.0");
    scene.Sync();
}

// --- Registration and the summary ------------------------------------------------

int AcceptRegistration(PluginInfo*, const DualString*) { return 1; }

void PrintSummary(const Scene& scene) {
    std::printf("materials: %zu\n", scene.materials.size());
    for (const HostMaterial& material : scene.materials) {
        const HostTexture* diffuse = material.textures[kTextureChannelColor];
        std::printf("  \"%s\" diffuse %.2f %.2f %.2f%s%s\n", TextOf(material.name), material.diffuse[0], material.diffuse[1],
                    material.diffuse[2], diffuse ? ", texture " : "", diffuse ? TextOf(diffuse->path) : "");
    }
    std::printf("vertices: %zu\n", scene.vertices.size());
    std::printf("objects: %zu\n", scene.objects.size());
    for (size_t o = 0; o < scene.objects.size(); ++o) {
        const HostBone* bone = o < scene.bones.size() ? &scene.bones[o] : nullptr;
        const char* parent = bone && bone->parentIndex >= 0 && static_cast<size_t>(bone->parentIndex) < scene.bones.size()
                                 ? TextOf(scene.bones[static_cast<size_t>(bone->parentIndex)].name)
                                 : "";
        std::printf("  \"%s\" %d faces%s%s%s\n", TextOf(scene.objects[o].name), scene.objects[o].faceCount,
                    parent[0] ? ", parent \"" : "", parent, parent[0] ? "\"" : "");
    }
    for (const HostAnimation& animation : scene.animations) {
        std::printf("animation \"%s\": %g frames at %g per second, %d tracks\n", TextOf(animation.name), animation.frameCount,
                    animation.frameRate, animation.trackCount);
    }
}

int Fail(const char* what, const char* detail) {
    std::fprintf(stderr, "minimal_host: %s%s%s\n", what, detail[0] ? ": " : "", detail);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: minimal_host MODULE FILE.ase", "");

    // 1. Load the module and find its two exports.
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) return Fail("cannot load the module", dlerror());
    auto pluginVersion = reinterpret_cast<PluginVersionFn>(dlsym(module, "PluginVersion"));
    auto pluginProc = reinterpret_cast<PluginProcFn>(dlsym(module, "PluginProc"));
    if (!pluginVersion || !pluginProc) return Fail("the module lacks PluginVersion or PluginProc", argv[1]);
    if (pluginVersion() != kPluginInterfaceVersion) return Fail("the module was built for another host_api.h", argv[1]);

    // 2. Register: the plug-in fills the record and hands it to RegisterPlugin.
    PluginInfoOps infoOps{AcceptRegistration};
    PluginInfo info{};
    info.ops = &infoOps;
    if (pluginProc(PLUGIN_MSG_REGISTER, &info) != 1 || !info.filterCallback) return Fail("registration failed", argv[1]);
    std::printf("plug-in %s, %s\n", TextOf(info.versionText), LineOf(info.description).c_str());

    // 3. Import. The plug-in may change the current folder (to the file's,
    //    for its textures), so it is given an absolute path.
    char* path = realpath(argv[2], nullptr);
    if (!path) return Fail("cannot open", argv[2]);
    auto scene = std::make_unique<Scene>();
    InitScene(*scene);
    SetText(scene->context.fileName, path);
    std::free(path);
    const int imported = info.filterCallback(FILTER_MSG_IMPORT, &scene->context, nullptr, nullptr);
    if (imported != 1) return Fail("the import failed", TextOf(scene->context.errorText));

    // 4. What the plug-in handed over.
    PrintSummary(*scene);
    scene.reset();
    dlclose(module);
    return 0;
}
