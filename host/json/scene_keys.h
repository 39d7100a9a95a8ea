// The keys of the scene store's JSON form (layout in scene_json.h), from one
// list shared by the reader and the writer: every kind of object the layout
// holds and, for each, its members in the order the writer writes them.
//
// Each line names one member of one kind of object, so a key is known by
// its name (SceneKey::kFaceNormal) and never by its position: the reader
// finds the key a text names inside the object being read and dispatches
// on the name, the writer takes the text from here. A new key is one line
// below, its case in the reader's handler for that kind of object and its
// value in the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace asehost {

// X(owner, name, text): the members of each kind of object, kept together
// and in the writer's order (SceneKeysGrouped checks the grouping).
#define ASEHOST_SCENE_KEYS(X)                          \
    X(Scene, Format, "format")                         \
    X(Scene, Materials, "materials")                   \
    X(Scene, Vertices, "vertices")                     \
    X(Scene, UvStore, "uvStore")                       \
    X(Scene, Objects, "objects")                       \
    X(Scene, FaceGroups, "faceGroups")                 \
    X(Scene, Bones, "bones")                           \
    X(Scene, Animations, "animations")                 \
    X(Material, Name, "name")                          \
    X(Material, Flags, "flags")                        \
    X(Material, Diffuse, "diffuse")                    \
    X(Material, Ambient, "ambient")                    \
    X(Material, Specular, "specular")                  \
    X(Material, Shininess, "shininess")                \
    X(Material, Opacity, "opacity")                    \
    X(Material, Textures, "textures")                  \
    X(Texture, Channel, "channel")                     \
    X(Texture, Kind, "kind")                           \
    X(Texture, Flags, "flags")                         \
    X(Texture, Path, "path")                           \
    X(Texture, LayerFlags, "layerFlags")               \
    X(Texture, Layers, "layers")                       \
    X(Vertex, Position, "position")                    \
    X(Vertex, Normal, "normal")                        \
    X(Vertex, Color, "color")                          \
    X(Vertex, Weights, "weights")                      \
    X(Object, Name, "name")                            \
    X(Object, FaceCount, "faceCount")                  \
    X(Object, MaterialRefs, "materialRefs")            \
    X(FaceGroup, Faces, "faces")                       \
    X(Face, MaterialIndex, "materialIndex")            \
    X(Face, ObjectIndex, "objectIndex")                \
    X(Face, SmoothingGroup, "smoothingGroup")          \
    X(Face, Normal, "normal")                          \
    X(Face, VertexIndices, "vertexIndices")            \
    X(Face, UvChannels, "uvChannels")                  \
    X(FaceUvChannel, UvIndices, "uvIndices")           \
    X(FaceUvChannel, CornerUvs, "cornerUvs")           \
    X(Bone, Name, "name")                              \
    X(Bone, ParentIndex, "parentIndex")                \
    X(Bone, Translation, "translation")                \
    X(Bone, Scale, "scale")                            \
    X(Bone, Rotation, "rotation")                      \
    X(Animation, Name, "name")                         \
    X(Animation, Flags, "flags")                       \
    X(Animation, FrameCount, "frameCount")             \
    X(Animation, FrameRate, "frameRate")               \
    X(Animation, Tracks, "tracks")                     \
    X(Track, PositionKeys, "positionKeys")             \
    X(Track, RotationKeys, "rotationKeys")             \
    X(Track, ScaleKeys, "scaleKeys")

// The kinds of object of the layout: the scene itself and the records of
// its lists.
enum class SceneObject : uint8_t {
    kScene, kMaterial, kTexture, kVertex, kObject, kFaceGroup, kFace, kFaceUvChannel, kBone, kAnimation, kTrack,
    kCount
};

// One member of one kind of object; kNone for no key.
enum class SceneKey : uint8_t {
#define ASEHOST_SCENE_KEY_ENUM(owner, name, text) k##owner##name,
    ASEHOST_SCENE_KEYS(ASEHOST_SCENE_KEY_ENUM)
#undef ASEHOST_SCENE_KEY_ENUM
        kNone
};

inline constexpr size_t kSceneKeyCount = static_cast<size_t>(SceneKey::kNone);

// A key's object, its text and its text as the writer puts it ("text":).
struct SceneKeyInfo {
    SceneObject owner;
    std::string_view text;
    std::string_view quoted;
};

inline constexpr SceneKeyInfo kSceneKeys[kSceneKeyCount] = {
#define ASEHOST_SCENE_KEY_INFO(owner, name, text) {SceneObject::k##owner, text, "\"" text "\":"},
    ASEHOST_SCENE_KEYS(ASEHOST_SCENE_KEY_INFO)
#undef ASEHOST_SCENE_KEY_INFO
};

constexpr const SceneKeyInfo& InfoOf(SceneKey key) { return kSceneKeys[static_cast<size_t>(key)]; }
constexpr std::string_view SceneKeyText(SceneKey key) { return InfoOf(key).text; }

// Where each kind of object's keys begin and end in the table (kNone past
// it), worked out once at compile time.
struct SceneKeyRange {
    SceneKey first;
    SceneKey end;
};

constexpr SceneKeyRange ScanKeysOf(SceneObject owner) {
    size_t k = 0;
    while (k < kSceneKeyCount && kSceneKeys[k].owner != owner) ++k;
    const size_t first = k;
    while (k < kSceneKeyCount && kSceneKeys[k].owner == owner) ++k;
    return {static_cast<SceneKey>(first), static_cast<SceneKey>(k)};
}

inline constexpr auto kSceneKeyRanges = [] {
    struct Ranges {
        SceneKeyRange of[static_cast<size_t>(SceneObject::kCount)];
    } ranges{};
    for (size_t o = 0; o < static_cast<size_t>(SceneObject::kCount); ++o) ranges.of[o] = ScanKeysOf(static_cast<SceneObject>(o));
    return ranges;
}();

constexpr SceneKey FirstKeyOf(SceneObject owner) { return kSceneKeyRanges.of[static_cast<size_t>(owner)].first; }
constexpr SceneKey EndKeyOf(SceneObject owner) { return kSceneKeyRanges.of[static_cast<size_t>(owner)].end; }

// Whether each kind of object has keys and they stand together, so that
// FirstKeyOf and EndKeyOf bound all of them.
constexpr bool SceneKeysGrouped() {
    for (size_t o = 0; o < static_cast<size_t>(SceneObject::kCount); ++o) {
        const auto owner = static_cast<SceneObject>(o);
        if (FirstKeyOf(owner) == EndKeyOf(owner)) return false;
        for (size_t k = static_cast<size_t>(EndKeyOf(owner)); k < kSceneKeyCount; ++k) {
            if (kSceneKeys[k].owner == owner) return false;
        }
    }
    return true;
}
static_assert(SceneKeysGrouped(), "the keys of one kind of object stand together in ASEHOST_SCENE_KEYS");
static_assert(kSceneKeyCount <= 64, "a frame keeps the keys it has seen in 64 bits");

// The key of `owner` whose text is `text`, or kNone. `after` is the key read
// before in the same object (kNone for the first): the writer's order puts
// the next key of the table there, which is tried first.
constexpr SceneKey FindSceneKey(SceneObject owner, std::string_view text, SceneKey after) {
    const SceneKey end = EndKeyOf(owner);
    const SceneKey next = after == SceneKey::kNone ? FirstKeyOf(owner) : static_cast<SceneKey>(static_cast<size_t>(after) + 1);
    if (next < end && SceneKeyText(next) == text) return next;
    for (auto k = static_cast<size_t>(FirstKeyOf(owner)); k < static_cast<size_t>(end); ++k) {
        if (kSceneKeys[k].text == text) return static_cast<SceneKey>(k);
    }
    return SceneKey::kNone;
}

}  // namespace asehost
