// The import document: what the reader makes of one ASE file.
//
// Plain records with explicit counts. The document owns every array, each
// material its sub-materials, each object its mesh, channel and key arrays.
// All of them come from the allocator of the job that reads the file, so a
// failure anywhere loses nothing: the job frees what is left at its end.
// ResetDocument frees everything and restores the defaults.
//
// Index rules. Every index a file holds is resolved by one of these rules,
// here and nowhere else:
// - List items (*MESH_VERTEX, *MESH_FACE, *MESH_TVERT, *MESH_TFACE,
//   *MESH_VERTCOL, *MESH_CFACE) are stored at their own index; an index
//   outside the count its *MESH_NUM... line declared drops the line.
// - A face corner names a vertex of its own object: 0 up to the object's
//   vertex count. Any other corner fails the import at its face line
//   ("line 1234: face 7 of "Box" uses vertex 9, but "Box" has 8 vertices").
// - A face slot that *MESH_NUMFACES declares but no face line fills keeps
//   the corners -1 of its allocation and is not handed to the host: the
//   object gets the faces its file holds.
// - UV corners: a texture corner outside its channel's vertices, or a face
//   without a texture face, keeps the host's UV for that corner; the second
//   UV channel is the first *MESH_MAPPINGCHANNEL numbered 2.
// - Colour corners outside the colour vertices add nothing to their vertex;
//   colours apply only when the colour faces match the faces one to one.
// - Material ids: with *MATERIAL_REF r naming a material, an id in 0..L-1
//   (L its sub-materials, at least 1) becomes host material base(r) + id,
//   any other id base(r); without a valid r the face has no material (-1).
//   A *MATERIAL or *SUBMATERIAL index outside its declared count fails the
//   import.
// - Parents: *NODE_PARENT names the first node of that name, the geometry
//   objects in file order first and the helpers after them (the order of
//   their bones); an empty or unknown name, or one that would make a node
//   its own ancestor, makes the node a root.
// - Smoothing: a face's group is the lowest group in 1..32 that the
//   *MESH_SMOOTHING word after its corner and edge pairs lists; 0 when it
//   lists none, or when no such word follows the pairs.
//
// Nodes. Geometry objects and helpers (*HELPEROBJECT) are both nodes with a
// name, a parent, a transform and keys; a helper is a node record without
// mesh arrays. Node i is geometry object i for i below geomObjectCount and
// helper i - geomObjectCount after that (NodeAt), so that bone i is still
// geometry object i.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/vecmath.h"
#include "base/job.h"

enum : int { kAseNameBytes = 256, kAsePathUnits = 260 };

struct AseVertex {
    Vec3 position;
    int32_t colorSamples;
    float color[4];  // r, g, b, a; 1, 1, 1, 1 on allocation
};

struct AseFace {
    int32_t a, b, c;
    int32_t materialId;      // -1 on allocation, as a, b, c
    int32_t smoothingGroup;  // 0..32; 0 on allocation
};

struct AseTexVertex {
    float u, v;
};

struct AseColorVertex {
    float r, g, b;
};

struct AseTriIndex {
    int32_t a, b, c;  // -1 on allocation
};

struct AseMapChannel {
    int32_t channel;
    int32_t tvertCount;
    AseTexVertex* tverts;
    int32_t tfaceCount;
    AseTriIndex* tfaces;
};

struct AseColorChannel {
    int32_t cvertCount;
    AseColorVertex* cverts;
    int32_t cfaceCount;
    AseTriIndex* cfaces;
};

struct AsePosKey {
    float time;
    Vec3 value;
};

struct AseRotKey {
    float time;
    Quat value;
};

struct AseScaleKey {
    float time;
    Vec3 value;
};

struct AseGeomObject {
    int32_t vertexCount;
    AseVertex* vertices;
    int32_t faceCount;
    AseFace* faces;
    AseMapChannel texChannel;
    AseColorChannel colorChannel;
    int32_t mapChannelCount;
    AseMapChannel* mapChannels;
    int32_t posKeyCount;
    AsePosKey* posKeys;
    int32_t rotKeyCount;
    AseRotKey* rotKeys;
    int32_t scaleKeyCount;
    AseScaleKey* scaleKeys;
    Mat4 localTm;
    Mat4 worldTm;
    Vec3 localTranslation;
    Vec3 localScale;
    Quat localRotation;
    char nodeName[kAseNameBytes];
    char parentName[kAseNameBytes];
    int32_t parentIndex;
    int32_t materialRef;
    // Capacities of the arrays that grow one element at a time; they grow by
    // doubling so that appending stays linear.
    int32_t mapChannelCapacity;
    int32_t posKeyCapacity;
    int32_t rotKeyCapacity;
    int32_t scaleKeyCapacity;
};

struct AseSubMaterial {
    char name[kAseNameBytes];
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float shininess;
    float opacity;
    char16_t diffuseMap[kAsePathUnits];
    char16_t opacityMap[kAsePathUnits];
    char16_t bumpMap[kAsePathUnits];
    char16_t specularMap[kAsePathUnits];
    int32_t twoSided;
};

struct AseMaterial {
    int32_t subMaterialCount;
    AseSubMaterial* subMaterials;
    float ambient[4];
    float diffuse[4];
    float specular[4];
    float shininess;
    float opacity;
    char16_t diffuseMap[kAsePathUnits];
    char16_t opacityMap[kAsePathUnits];
    char16_t bumpMap[kAsePathUnits];
    char16_t specularMap[kAsePathUnits];
    char name[kAseNameBytes];
    int32_t twoSided;
};

struct AseNodeTransform {
    float rotation[3][3];
    Vec3 translationRow;
    Vec3 scale;
    Mat4 tm;
    Quat rotationQuat;
    Vec3 position;
};

enum : int32_t { kLightOmni = 0, kLightDirectional = 1, kLightTarget = 2 };

struct AseLight {
    char nodeName[kAseNameBytes];
    AseNodeTransform transform;
    int32_t tmRead;
    int32_t lightType;
    float hotspot;
    float falloff;
    float intensity;
    float color[4];
    float attenuationStart;
    float attenuationEnd;
};

struct AseCamera {
    char nodeName[kAseNameBytes];
    AseNodeTransform transform;
    float targetDistance;
    int32_t tmRead;
    int32_t cameraType;
    float fovDegrees;
    float nearClip;
    float farClip;
};

struct AseDocument {
    // Where every array of the document comes from; set by the job that
    // owns the document and kept by ResetDocument.
    JobAllocator* allocator;
    int32_t nextGeomObject;
    int32_t nextMaterial;
    int32_t nextLight;
    int32_t nextCamera;
    int32_t nextHelper;
    int32_t geomObjectCount;
    AseGeomObject* geomObjects;
    int32_t materialCount;
    AseMaterial* materials;
    int32_t lightCount;
    AseLight* lights;
    int32_t cameraCount;
    AseCamera* cameras;
    // Helper nodes: records of the geometry object's kind whose mesh arrays
    // stay empty.
    int32_t helperCount;
    AseGeomObject* helpers;
    // Capacities of the object, light and camera arrays, which a read in one
    // pass grows as their blocks come (GrowGeomObjects and the like).
    int32_t geomObjectCapacity;
    int32_t lightCapacity;
    int32_t cameraCapacity;
    int32_t helperCapacity;
    float firstFrame;
    float lastFrame;
    float frameCount;
    float frameSpeed;
    float ticksPerFrame;
    int32_t countedGeomObjects;
    int32_t declaredMaterialCount;
    int32_t countedLights;
    int32_t countedCameras;
    int32_t countedHelpers;
    int32_t anyRotKeysRelative;
    char16_t sourcePath[kAsePathUnits];
};

// Frees everything the document owns and restores every default; the
// allocator stays.
void ResetDocument(AseDocument& doc);

// Nodes: the geometry objects, then the helpers (see "Nodes" above). The
// count is 0 while neither array exists; NodeAt needs 0 <= i < NodeCount.
inline int32_t NodeCount(const AseDocument& doc) {
    return (doc.geomObjects != nullptr ? doc.geomObjectCount : 0) + (doc.helpers != nullptr ? doc.helperCount : 0);
}
inline AseGeomObject& NodeAt(const AseDocument& doc, int32_t i) {
    const int32_t objects = doc.geomObjects != nullptr ? doc.geomObjectCount : 0;
    return i < objects ? doc.geomObjects[i] : doc.helpers[i - objects];
}

// --- Array operations ------------------------------------------------------------
// Allocate-by-count frees what the field held and allocates `count` (>= 1)
// elements with their defaults; 1, or 0 with the field empty. Append-one
// returns the new zeroed last element, or null with the array unchanged.
// Records inside the document take their memory from `allocator`, the one
// of the document that holds them.

int AllocateGeomObjects(AseDocument& doc, int32_t count);
int AllocateMaterials(AseDocument& doc, int32_t count);
int AllocateLights(AseDocument& doc, int32_t count);
int AllocateCameras(AseDocument& doc, int32_t count);
int AllocateHelpers(AseDocument& doc, int32_t count);
int AllocateSubMaterials(JobAllocator& allocator, AseMaterial& material, int32_t count);
int AllocateVertices(JobAllocator& allocator, AseGeomObject& object, int32_t count);
int AllocateFaces(JobAllocator& allocator, AseGeomObject& object, int32_t count);
int AllocateTexVertices(JobAllocator& allocator, AseMapChannel& channel, int32_t count);
int AllocateTexFaces(JobAllocator& allocator, AseMapChannel& channel, int32_t count);
int AllocateColorVertices(JobAllocator& allocator, AseColorChannel& channel, int32_t count);
int AllocateColorFaces(JobAllocator& allocator, AseColorChannel& channel, int32_t count);
// Grow-to-count keeps the elements there are and gives the array at least
// `count` elements, the new ones with their defaults (doubling the capacity,
// so that growing one at a time stays linear). 1, or 0 with the array
// unchanged.
int GrowGeomObjects(AseDocument& doc, int32_t count);
int GrowLights(AseDocument& doc, int32_t count);
int GrowCameras(AseDocument& doc, int32_t count);
int GrowHelpers(AseDocument& doc, int32_t count);
AseMapChannel* AppendMapChannel(JobAllocator& allocator, AseGeomObject& object);
AsePosKey* AppendPosKey(JobAllocator& allocator, AseGeomObject& object);
AseRotKey* AppendRotKey(JobAllocator& allocator, AseGeomObject& object);
AseScaleKey* AppendScaleKey(JobAllocator& allocator, AseGeomObject& object);

// Frees an object's arrays, a material's sub-materials, a channel's lists.
void ReleaseGeomObject(JobAllocator& allocator, AseGeomObject& object);
void ReleaseMaterial(JobAllocator& allocator, AseMaterial& material);
void ReleaseMapChannel(JobAllocator& allocator, AseMapChannel& channel);

// The defaults of each record.
void InitGeomObject(AseGeomObject& object);
void InitMaterial(AseMaterial& material);
void InitSubMaterial(AseSubMaterial& material);
void InitLight(AseLight& light);
void InitCamera(AseCamera& camera);
