// The contract between the ASE filter plug-in and the host that loads it.
//
// Host and plug-in are both compiled against this header. Every record has
// one layout on every platform: wide text is UTF-16 (char16_t), counts are
// 32-bit, floats are 32-bit. A record that has operations carries its table
// of operations as its first member. The host owns every record; the plug-in
// reads and writes the fields named here and calls the operations.
//
// Fields marked "host's own" are kept by the host for itself; the plug-in
// never touches them.
#pragma once

#include <cstdint>

extern "C" {

// ---------------------------------------------------------------------------
// Text

enum : int { kDualStringUnits = 260 };

// A UTF-16 text and its narrow copy in the ANSI code page, both
// NUL-terminated within their 260 units.
struct DualString {
    char16_t wide[kDualStringUnits];
    char narrow[kDualStringUnits];
};

// ---------------------------------------------------------------------------
// Message codes and the interface version

enum : uint32_t {
    PLUGIN_MSG_REGISTER = 0x10016,
    PLUGIN_MSG_VERSION = 0x10017,
    FILTER_MSG_IMPORT = 0x10018,
    FILTER_MSG_EXPORT = 0x10019,
    FILTER_MSG_QUERY = 0x1001F,
    FILTER_MSG_PREPARE_EXPORT = 0x10020,
};

enum : uint32_t { kPluginInterfaceVersion = 3606 };

// Results of FILTER_MSG_PREPARE_EXPORT.
enum : int { kPrepareFailed = 0, kPrepareConfirmed = 1, kPrepareCancelled = 2 };

struct HostContext;
struct HostMaterial;
struct HostTexture;
struct HostVertex;
struct HostObject;
struct HostFaceGroup;
struct HostBone;
struct HostAnimation;
struct HostTrack;
struct PluginInfo;

// The filter callback: message, context, an untyped argument and a fourth
// argument that the plug-in ignores.
typedef int (*FilterCallback)(uint32_t message, HostContext* context, void* arg, void* reserved);

// ---------------------------------------------------------------------------
// Registration

struct PluginInfoOps {
    // Non-zero when the host accepts the registration. `extension` is the
    // default file extension without a dot ("ase").
    int (*RegisterPlugin)(PluginInfo* info, const DualString* extension);
};

struct PluginInfo {
    const PluginInfoOps* ops;
    uint32_t filterId[4];
    uint32_t registrationCodeA;
    uint32_t registrationCodeB;
    FilterCallback filterCallback;
    DualString description;
    DualString versionText;
    DualString filePattern;
};

// The module's two exports.
typedef uint32_t (*PluginProcFn)(uint32_t message, PluginInfo* info);
typedef uint32_t (*PluginVersionFn)(void);

// ---------------------------------------------------------------------------
// Scene records

struct HostVertexWeight {
    int boneIndex;
    float weight;
};

struct HostVertexOps {
    int (*PrepareVertex)(HostVertex* vertex);
};

struct HostVertex {
    const HostVertexOps* ops;
    float position[3];
    float normal[3];
    float color[4];  // r, g, b, a
    HostVertexWeight* weights;
    int weightCount;  // host's own
};

// Texture kinds and flags.
enum : int { kTextureImage = 1, kTextureMultiply = 4 };
enum : uint32_t { kTexturePathSet = 1u };
enum : uint32_t { kMaterialTwoSided = 2u };
enum : int { kTextureChannelColor = 0, kTextureChannelOpacity = 1, kTextureChannelBump = 2, kTextureChannelSpecular = 3 };
enum : int { kTextureChannels = 4 };

struct HostTexture {
    int kind;
    uint32_t flags;
    DualString path;  // kind 1 only
};

// One layer of a two-layer multiply texture; begins with its image path.
struct HostTextureLayer {
    char16_t path[kDualStringUnits];
};

enum : uint8_t { kLayer0Present = 1u, kLayer1Present = 2u };

// A kind-4 texture: the HostTexture is its first member, so a HostTexture of
// kind 4 leads to the enclosing record.
struct HostLayeredTexture {
    HostTexture texture;
    uint8_t layerFlags;
    HostTextureLayer* layers;  // two records, or null
};

inline HostLayeredTexture* LayeredTextureOf(HostTexture* texture) {
    return reinterpret_cast<HostLayeredTexture*>(texture);
}

struct HostMaterialOps {
    HostTexture* (*AddTexture)(HostMaterial* material, int channel, int kind);
    HostTexture* (*GetTexture)(HostMaterial* material, int channel);
};

struct HostMaterial {
    const HostMaterialOps* ops;
    uint32_t flags;
    DualString name;
    float diffuse[3];
    float ambient[3];
    float specular[3];
    float shininess;  // 0..128
    float opacity;    // 1 = opaque
    HostTexture* textures[kTextureChannels];  // host's own
};

struct HostMaterialRef {
    int materialIndex;
    int faceCount;  // host's own
};

struct HostObject {
    DualString name;
    int faceCount;
    int materialRefCount;
    HostMaterialRef* materialRefs;
};

// A texture coordinate. The first and last ints are the host's; the plug-in
// uses only u and v (v in the host's convention, the file's 1 - v).
struct HostUv {
    int tag;  // 0 by default
    float u;
    float v;
    int link;  // -1 by default
};

enum : int { kUvChannels = 2 };

struct HostFaceUvChannel {
    int* uvIndices;     // [cornerCount]: index into the store's channel; read by export
    HostUv* cornerUvs;  // [max(3, cornerCount)]: per-corner values; written by import
};

struct HostFaceUv {
    HostFaceUvChannel channels[kUvChannels];
};

struct HostFace {
    int materialIndex;
    int objectIndex;
    int smoothingGroup;
    float normal[3];
    int cornerCount;
    int* vertexIndices;  // [cornerCount]
    int* exportCorners;  // [max(3, cornerCount)]
    HostFaceUv* uvData;
};

struct HostFaceGroupOps {
    int (*AllocateFaces)(HostFaceGroup* group, int count);
};

struct HostFaceGroup {
    const HostFaceGroupOps* ops;
    int faceCount;
    HostFace* faces;
};

struct HostUvChannel {
    HostUv* uvs;
    int count;  // host's own
};

struct HostUvStore {
    HostUvChannel channels[kUvChannels];
};

struct HostBone {
    int parentIndex;
    float translation[3];
    float scale[3];
    float rotation[4];  // x, y, z, w
    DualString name;    // host's own
};

struct HostVectorKey {
    float time;
    float value[3];
};

struct HostRotationKey {
    float time;
    float value[4];  // x, y, z, w
};

struct HostTrack {
    HostVectorKey* positionKeys;
    int rotationKeyCount;
    HostRotationKey* rotationKeys;
    HostVectorKey* scaleKeys;
    int positionKeyCount;  // host's own
    int scaleKeyCount;     // host's own
};

struct HostAnimationOps {
    int (*AllocateTracks)(HostAnimation* animation, int boneCount);
    HostTrack* (*AllocatePositionKeys)(HostAnimation* animation, int bone, int count);
    HostTrack* (*AllocateRotationKeys)(HostAnimation* animation, int bone, int count);
    HostTrack* (*AllocateScaleKeys)(HostAnimation* animation, int bone, int count);
};

struct HostAnimation {
    const HostAnimationOps* ops;
    int flags;
    float frameCount;
    float frameRate;
    int trackCount;
    HostTrack* tracks;
    DualString name;  // host's own
};

struct HostContextOps {
    HostMaterial* (*AddMaterial)(HostContext* context, const DualString* name);
    int (*AllocateVertices)(HostContext* context, int count);
    HostVertex* (*AllocateVertexWeights)(HostContext* context, int vertexIndex, int count);
    HostObject* (*AddObject)(HostContext* context, const DualString* name, int reserved);
    HostFaceGroup* (*AddFaceGroup)(HostContext* context);
    int (*FinishGeometry)(HostContext* context, int value);
    HostBone* (*AddBone)(HostContext* context, const DualString* name, int reserved);
    HostAnimation* (*AddAnimation)(HostContext* context, const DualString* name);
    int (*FinishImport)(HostContext* context, int value);
    int (*TriangulateScene)(HostContext* context);
    int (*PostTriangulateStep1)(HostContext* context);
    int (*PostTriangulateStep2)(HostContext* context);
    int (*PreDialogStep)(HostContext* context, int value);
    void* (*GetMainWindow)(HostContext* context);
    int (*PreWriteStep)(HostContext* context);
    int (*AssignSmoothingGroupsByAngle)(HostContext* context, float degrees);
};

struct HostContext {
    const HostContextOps* ops;
    DualString fileName;
    DualString errorText;
    DualString hostAppName;
    DualString hostVersion;
    DualString hostWebsite;
    DualString timeText;
    int materialCount;
    HostMaterial* materials;
    int vertexCount;
    HostVertex* vertices;
    HostUvStore* uvStore;
    int objectCount;
    HostObject* objects;
    int faceGroupCount;
    HostFaceGroup* faceGroups;
    int animationCount;
    HostAnimation* animations;
};

// Exported by the plug-in module (C linkage, the module's only two exports).
uint32_t PluginProc(uint32_t message, PluginInfo* info);
uint32_t PluginVersion(void);

}  // extern "C"
