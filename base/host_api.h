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
//
// Operations. Every operation takes the record it belongs to (the context,
// a material, ...) as its first argument; the host finds its own state from
// that record (its table of operations is the host's, so it may sit inside a
// larger host object). An operation answers non-zero or a record on success
// and 0 or null on failure, changes nothing when it fails, and never lets an
// exception or a long jump reach the plug-in. A record an operation returns
// stays where it is until the host is asked for the next record of the same
// kind; the arrays the context lists (materials, vertices, objects, face
// groups, animations) may move whenever one of them grows, so the plug-in
// reads `context->vertices` and the like afresh after each call that adds
// to them. The plug-in calls operations only from inside a call the host
// made (PluginProc or the filter callback), on the thread that made it.
//
// The order of an import: AddMaterial (with AddTexture) for each material,
// AllocateVertices once, AllocateVertexWeights per vertex, AddObject per
// object, AddFaceGroup and AllocateFaces per object, FinishGeometry, then
// AddBone per object and AddAnimation with its tracks and keys, and
// FinishImport last. The order of an export: FILTER_MSG_PREPARE_EXPORT
// (TriangulateScene, PostTriangulateStep1, PostTriangulateStep2,
// PrepareVertex per vertex, PreDialogStep, GetMainWindow, then the options
// dialog), then FILTER_MSG_EXPORT (AssignSmoothingGroupsByAngle when the
// dialog asked for smoothing by angle, PreWriteStep, GetTexture while
// materials are written). A host may leave out an export operation (a null
// entry): the plug-in then skips that step, but for TriangulateScene, whose
// absence fails the export. The import needs every context operation it
// calls.
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

// PluginProc's messages: PLUGIN_MSG_REGISTER (the argument is the host's
// PluginInfo, which the plug-in fills and hands to RegisterPlugin) and
// PLUGIN_MSG_VERSION (answers kPluginInterfaceVersion). The filter
// callback's messages, each with the host's HostContext:
//   FILTER_MSG_IMPORT          read the file named by `fileName` into the
//                              host's records; `arg` unused. 1 on success; 0
//                              with `errorText` set on failure.
//   FILTER_MSG_PREPARE_EXPORT  prepare the scene and run the export options
//                              dialog; `arg` is the module's handle (the
//                              DLL's HINSTANCE on Windows, the handle
//                              dlopen gave elsewhere), which owns the
//                              dialog's template. Answers kPrepare*.
//   FILTER_MSG_EXPORT          write the host's scene to `fileName` with the
//                              options the last dialog confirmed; `arg`
//                              unused. 1 on success; 0 with `errorText` set.
//   FILTER_MSG_QUERY           answers 1 when `arg` is non-null; reads and
//                              writes nothing.
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
    // Called by the plug-in during PLUGIN_MSG_REGISTER once it has filled
    // every other field of `info`. Non-zero when the host accepts the
    // registration. `extension` is the default file extension without a dot
    // ("ase"); the host copies what it keeps, neither pointer outlives the
    // call.
    int (*RegisterPlugin)(PluginInfo* info, const DualString* extension);
};

// The host makes the record with `ops` set and everything else zero; the
// plug-in fills the rest: its filter's identity (`filterId`, the two
// registration codes), the callback the host calls for each import and
// export, and the texts the host shows (a description, the plug-in's version
// and the file pattern of its open and save dialogs).
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
    // The host's own preparation of one vertex before an export, called once
    // for each vertex after PostTriangulateStep2. The reference host scales
    // the vertex's normal to unit length (a zero or non-finite normal stays
    // as it is). Non-zero on success; the plug-in ignores the answer.
    int (*PrepareVertex)(HostVertex* vertex);
};

// A vertex of the scene's one vertex table, which every object's faces index.
// The host makes them with AllocateVertices: position and normal 0, colour
// opaque white (1, 1, 1, 1), no weights. The import sets position and colour;
// the host computes the normals before an export (PostTriangulateStep2).
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
    // Makes the texture of `material` in `channel` (a kTextureChannel*) of
    // `kind` (kTextureImage or kTextureMultiply) and returns it, replacing the
    // channel's texture; null for another channel or kind. The host sets
    // `kind`, zeroes `flags` and the path and, for kind 4, gives the record
    // its two layers. The plug-in then sets `path` and kTexturePathSet in
    // `flags`. Asking again for the same kind reuses the record, so an
    // earlier pointer stays valid.
    HostTexture* (*AddTexture)(HostMaterial* material, int channel, int kind);
    // The texture of `material` in `channel`, or null when it has none (or
    // the channel is not one of the four). Changes nothing.
    HostTexture* (*GetTexture)(HostMaterial* material, int channel);
};

// A material. AddMaterial makes it with `ops` and `name` set, diffuse
// (0.8, 0.8, 0.8), ambient (0.2, 0.2, 0.2), specular 0, shininess 0, opacity
// 1, no flags and no textures; the import then sets the colours, shininess,
// opacity and kMaterialTwoSided in `flags`.
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

// One material an object's faces use, and how many of them.
struct HostMaterialRef {
    int materialIndex;
    int faceCount;  // host's own
};

// An object: a name and the faces whose `objectIndex` is its index. AddObject
// makes it with no faces; the host derives `faceCount` and `materialRefs`
// (one per material its faces use, in the order of their first face) from
// the faces in FinishGeometry and again after TriangulateScene. The plug-in
// only reads them.
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

// A face. AllocateFaces makes the records; the host sets `cornerCount` (3
// for every face it makes), points `vertexIndices`, `exportCorners` and
// `uvData` at zeroed arrays of the sizes shown, sets `materialIndex` and
// `objectIndex` to -1, every corner UV to (0, 0) with `tag` 0 and `link` -1,
// and `smoothingGroup` and `normal` to 0. The import then sets
// `materialIndex` (an index into the context's materials, or -1 for none),
// `objectIndex`, the vertex indices (into the context's vertex table) and
// the corner UVs, and never changes `cornerCount` or the pointers. The host
// computes `normal` (PostTriangulateStep1) and the `uvIndices`
// (FinishGeometry); the export sets `smoothingGroup` (0 none, else 1 to 32)
// and writes `exportCorners`, its own numbering of each corner.
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
    // Gives `group` exactly `count` new face records, set up as HostFace
    // describes, and sets `faces` and `faceCount` to them; the group's
    // earlier faces are dropped. `count` 0 leaves the group empty (`faces`
    // may then be null). Non-zero on success; 0 for a negative count or when
    // memory runs out, with the group as it was. The plug-in checks
    // `faceCount` and `faces` afterwards and fails the import with the host's
    // refusal when they fall short.
    int (*AllocateFaces)(HostFaceGroup* group, int count);
};

// The faces of one object (the import makes one group per object, in the
// objects' order). AddFaceGroup makes it empty; only AllocateFaces and
// TriangulateScene change `faceCount` and `faces`.
struct HostFaceGroup {
    const HostFaceGroupOps* ops;
    int faceCount;
    HostFace* faces;
};

// The distinct UVs of one channel, which the faces' `uvIndices` index. Made
// by the host in FinishGeometry from the faces' corner UVs (equal values share
// an entry); the plug-in only reads it.
struct HostUvChannel {
    HostUv* uvs;
    int count;  // host's own
};

struct HostUvStore {
    HostUvChannel channels[kUvChannels];
};

// A bone: the import makes one per object, in the objects' order, so bone i
// is object i. AddBone makes it with `name` set, no parent (-1), translation
// 0, scale 1 and the identity rotation; the import sets the parent (a bone
// index or -1) and the rest pose relative to the parent.
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

// The keys of one bone in one animation, relative to the bone's rest pose.
// The host sets the arrays and their counts in AllocatePositionKeys,
// AllocateRotationKeys and AllocateScaleKeys; the plug-in fills the keys.
struct HostTrack {
    HostVectorKey* positionKeys;
    int rotationKeyCount;
    HostRotationKey* rotationKeys;
    HostVectorKey* scaleKeys;
    int positionKeyCount;  // host's own
    int scaleKeyCount;     // host's own
};

struct HostAnimationOps {
    // Gives `animation` `boneCount` empty tracks (no keys), one per bone, and
    // sets `tracks` and `trackCount`; earlier tracks are dropped. Non-zero
    // on success; 0 for a negative count or when memory runs out.
    int (*AllocateTracks)(HostAnimation* animation, int boneCount);
    // Each gives track `bone` `count` keys of its kind and returns the track,
    // replacing that kind's earlier keys: position keys (time 0, value 0),
    // rotation keys (time 0, the identity) or scale keys (time 0, value 1).
    // Null for a bone outside the tracks, a negative count or when memory
    // runs out. The plug-in sets each key's time (in frames) and value.
    HostTrack* (*AllocatePositionKeys)(HostAnimation* animation, int bone, int count);
    HostTrack* (*AllocateRotationKeys)(HostAnimation* animation, int bone, int count);
    HostTrack* (*AllocateScaleKeys)(HostAnimation* animation, int bone, int count);
};

// An animation of the bones. AddAnimation makes it with `ops` and `name` set
// and everything else zero; the import sets `flags` (0), `frameCount` and
// `frameRate` (frames per second), then makes its tracks.
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
    // --- Import ---
    // Appends a material named `name` (copied; null gives an empty name),
    // set up as HostMaterial describes, updates `materialCount` and
    // `materials`, and returns the new record. Null when memory runs out.
    HostMaterial* (*AddMaterial)(HostContext* context, const DualString* name);
    // Sizes the vertex table to `count` records and updates `vertexCount`
    // and `vertices`; new records are set up as HostVertex describes. Called
    // once per import with the vertices of every object together. Non-zero
    // on success; 0 for a negative count or when memory runs out. The
    // plug-in checks `vertexCount` afterwards.
    int (*AllocateVertices)(HostContext* context, int count);
    // Gives vertex `vertexIndex` `count` weights (zeroed) in place of any it
    // had, sets its `weights` and `weightCount`, and returns the vertex. The
    // plug-in then fills each weight's bone index and weight (it binds each
    // vertex to its object's bone with weight 1). Null for an index outside
    // the table, a negative count or when memory runs out; the plug-in then
    // leaves the vertex without weights.
    HostVertex* (*AllocateVertexWeights)(HostContext* context, int vertexIndex, int count);
    // Appends an object named `name` (copied) with no faces, updates
    // `objectCount` and `objects`, and returns it; null when memory runs out.
    // `reserved` is -1 from this plug-in and is ignored.
    HostObject* (*AddObject)(HostContext* context, const DualString* name, int reserved);
    // Appends an empty face group, updates `faceGroupCount` and
    // `faceGroups`, and returns it; null when memory runs out.
    HostFaceGroup* (*AddFaceGroup)(HostContext* context);
    // Called once after every face is filled: the host derives what depends
    // on the faces, the UV store (each face's `uvIndices` into it) and each
    // object's `faceCount` and material references. `value` is 1 from this
    // plug-in (the geometry is complete) and is otherwise unused. Non-zero
    // on success; the plug-in ignores the answer.
    int (*FinishGeometry)(HostContext* context, int value);
    // Appends a bone named `name` (copied), set up as HostBone describes, and
    // returns it; null when memory runs out. `reserved` is -1 from this
    // plug-in and is ignored.
    HostBone* (*AddBone)(HostContext* context, const DualString* name, int reserved);
    // Appends an animation named `name` (copied), set up as HostAnimation
    // describes, updates `animationCount` and `animations`, and returns it;
    // null when memory runs out.
    HostAnimation* (*AddAnimation)(HostContext* context, const DualString* name);
    // Called last in a successful import, once bones and animations are
    // made: the scene is complete. `value` is 1 from this plug-in and is
    // otherwise unused. The plug-in ignores the answer.
    int (*FinishImport)(HostContext* context, int value);

    // --- Export ---
    // Splits every face of more than three corners into a fan of triangles
    // around its first corner (keeping its material, object, smoothing group
    // and corner UVs), drops faces of fewer than three corners, and rebuilds
    // the objects' face counts and material references. 0 when memory runs
    // out, with the scene as it was; the export then fails.
    int (*TriangulateScene)(HostContext* context);
    // Sets each face's `normal` to the unit normal of its first three
    // corners (0 when they have none). The plug-in ignores the answer.
    int (*PostTriangulateStep1)(HostContext* context);
    // Sets each vertex's `normal` to the sum of the normals of the faces
    // that use it (not yet unit length: PrepareVertex does that). The plug-in
    // ignores the answer.
    int (*PostTriangulateStep2)(HostContext* context);
    // Called just before the options dialog opens, so that the host can
    // get ready for a modal window. `value` is 1 from this plug-in. The
    // plug-in ignores the answer.
    int (*PreDialogStep)(HostContext* context, int value);
    // The window that owns the options dialog (an HWND on Windows), or null
    // for none.
    void* (*GetMainWindow)(HostContext* context);
    // Called once the scene is prepared and before the file is made. The
    // plug-in ignores the answer.
    int (*PreWriteStep)(HostContext* context);
    // Sets each face's `smoothingGroup`: faces that share an edge and whose
    // normals differ by less than `degrees` are smoothed together, and each
    // smoothed region gets a number from 1 to 32 that its neighbours do not
    // have where 32 allow it. Non-zero on success; the plug-in ignores the
    // answer (on failure the groups stay 0).
    int (*AssignSmoothingGroupsByAngle)(HostContext* context, float degrees);
};

// The host's scene and the state of one filter call. The host makes it with
// `ops` set, and before each call sets `fileName` (the file to read or
// write), and `hostAppName`, `hostVersion` and `hostWebsite` (written into an
// exported file's comment). The plug-in sets `errorText` when a call fails
// and `timeText` (the export's time stamp). The counts and arrays below are
// the host's: they change only inside its operations, and the plug-in reads
// them and writes the fields of their records that the records above name.
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
