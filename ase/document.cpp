// The import document: defaults, arrays and the allocation seam.
#include "ase/document.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// Frees `items` of `count` elements with `release` applied to each first.
template <typename T, typename Release>
void FreeArray(JobAllocator& allocator, T*& items, int32_t& count, Release release) {
    if (items != nullptr) {
        for (int32_t i = 0; i < count; ++i) release(allocator, items[i]);
        allocator.Free(items);
    }
    items = nullptr;
    count = 0;
}

template <typename T>
void FreePlain(JobAllocator& allocator, T*& items, int32_t& count) {
    allocator.Free(items);
    items = nullptr;
    count = 0;
}

// Allocate-by-count: frees the old array, makes `count` elements with the
// defaults of `init`. 1, or 0 with the field empty.
template <typename T, typename Init>
int AllocateArray(JobAllocator& allocator, T*& items, int32_t& count, int32_t newCount, Init init) {
    if (newCount < 1) return 0;
    T* fresh = allocator.AllocateArray<T>(static_cast<size_t>(newCount));
    if (fresh == nullptr) return 0;
    for (int32_t i = 0; i < newCount; ++i) init(fresh[i]);
    items = fresh;
    count = newCount;
    return 1;
}

// Grow-to-count: the array keeps its `count` elements and gets at least
// `newCount`, the new ones made by `init`; the capacity doubles, so that
// growing one at a time stays linear. 1, or 0 with the array unchanged.
template <typename T, typename Init>
int GrowTo(JobAllocator& allocator, T*& items, int32_t& count, int32_t& capacity, int32_t newCount, Init init) {
    if (newCount <= count) return 1;
    if (newCount > capacity || items == nullptr) {
        const int32_t grown = static_cast<int32_t>(
            std::min<int64_t>(std::max<int64_t>({newCount, int64_t{capacity} * 2, 4}), INT32_MAX));
        // Small blocks may grow in place, and large ones are remapped where
        // the system can, so the old and new arrays need not both be resident.
        T* fresh = allocator.ReallocateArray<T>(items, static_cast<size_t>(grown));
        if (fresh == nullptr) return 0;
        items = fresh;
        capacity = grown;
    }
    for (int32_t i = count; i < newCount; ++i) init(items[i]);
    count = newCount;
    return 1;
}

// Append-one: returns the zeroed new last element, or null with the array
// unchanged.
template <typename T>
T* AppendOne(JobAllocator& allocator, T*& items, int32_t& count, int32_t& capacity) {
    if (count == INT32_MAX) return nullptr;
    const auto zero = [](T& item) { std::memset(static_cast<void*>(&item), 0, sizeof(T)); };
    if (!GrowTo(allocator, items, count, capacity, count + 1, zero)) return nullptr;
    return &items[count - 1];
}

void InitVertex(AseVertex& v) {
    std::memset(&v, 0, sizeof v);
    for (float& c : v.color) c = 1.0f;
}

void InitFace(AseFace& f) {
    f.a = f.b = f.c = f.materialId = -1;
    f.smoothingGroup = 0;
}
void InitTriIndex(AseTriIndex& t) { t.a = t.b = t.c = -1; }
void InitTexVertex(AseTexVertex& t) { t.u = t.v = 0.0f; }
void InitColorVertex(AseColorVertex& c) { c.r = c.g = c.b = 0.0f; }

void SetColor(float* color, float r, float g, float b) {
    color[0] = r;
    color[1] = g;
    color[2] = b;
    color[3] = 1.0f;
}

void InitNodeTransform(AseNodeTransform& t) {
    std::memset(&t, 0, sizeof t);
    for (int i = 0; i < 3; ++i) t.rotation[i][i] = 1.0f;
    t.scale = {1.0f, 1.0f, 1.0f};
    t.tm = Mat4Identity();
    t.rotationQuat = QuatIdentity();
}

}  // namespace

// --- Defaults ---------------------------------------------------------------------

void InitGeomObject(AseGeomObject& object) {
    std::memset(&object, 0, sizeof object);
    object.localTm = Mat4Identity();
    object.worldTm = Mat4Identity();
    object.localScale = {1.0f, 1.0f, 1.0f};
    object.localRotation = QuatIdentity();
    object.parentIndex = -1;
}

void InitSubMaterial(AseSubMaterial& material) {
    std::memset(&material, 0, sizeof material);
    SetColor(material.ambient, 0, 0, 0);
    SetColor(material.diffuse, 1, 1, 1);
    SetColor(material.specular, 0, 0, 0);
    material.shininess = 128.0f;
    material.opacity = 1.0f;
}

void InitMaterial(AseMaterial& material) {
    std::memset(&material, 0, sizeof material);
    SetColor(material.ambient, 0, 0, 0);
    SetColor(material.diffuse, 1, 1, 1);
    SetColor(material.specular, 0, 0, 0);
    material.shininess = 128.0f;
    material.opacity = 1.0f;
}

void InitLight(AseLight& light) {
    std::memset(&light, 0, sizeof light);
    InitNodeTransform(light.transform);
    light.lightType = kLightOmni;
    light.hotspot = 10.0f;
    light.falloff = 20.0f;
    light.intensity = 1.0f;
    SetColor(light.color, 1, 1, 1);
    light.attenuationStart = 0.0f;
    light.attenuationEnd = 10.0f;
}

void InitCamera(AseCamera& camera) {
    std::memset(&camera, 0, sizeof camera);
    InitNodeTransform(camera.transform);
    camera.fovDegrees = 45.0f;
    camera.nearClip = 1.0f;
    camera.farClip = 1000.0f;
}

// --- Release ----------------------------------------------------------------------

void ReleaseMapChannel(JobAllocator& allocator, AseMapChannel& channel) {
    FreePlain(allocator, channel.tverts, channel.tvertCount);
    FreePlain(allocator, channel.tfaces, channel.tfaceCount);
}

void ReleaseGeomObject(JobAllocator& allocator, AseGeomObject& object) {
    FreePlain(allocator, object.vertices, object.vertexCount);
    FreePlain(allocator, object.faces, object.faceCount);
    FreePlain(allocator, object.colorChannel.cverts, object.colorChannel.cvertCount);
    FreePlain(allocator, object.colorChannel.cfaces, object.colorChannel.cfaceCount);
    ReleaseMapChannel(allocator, object.texChannel);
    FreeArray(allocator, object.mapChannels, object.mapChannelCount, ReleaseMapChannel);
    object.mapChannelCapacity = 0;
    FreePlain(allocator, object.posKeys, object.posKeyCount);
    object.posKeyCapacity = 0;
    FreePlain(allocator, object.rotKeys, object.rotKeyCount);
    object.rotKeyCapacity = 0;
    FreePlain(allocator, object.scaleKeys, object.scaleKeyCount);
    object.scaleKeyCapacity = 0;
}

void ReleaseMaterial(JobAllocator& allocator, AseMaterial& material) {
    FreePlain(allocator, material.subMaterials, material.subMaterialCount);
}

void ResetDocument(AseDocument& doc) {
    JobAllocator* const allocator = doc.allocator;
    if (allocator != nullptr) {
        FreeArray(*allocator, doc.materials, doc.materialCount, ReleaseMaterial);
        FreeArray(*allocator, doc.geomObjects, doc.geomObjectCount, ReleaseGeomObject);
        FreeArray(*allocator, doc.helpers, doc.helperCount, ReleaseGeomObject);
        FreePlain(*allocator, doc.lights, doc.lightCount);
        FreePlain(*allocator, doc.cameras, doc.cameraCount);
    }
    std::memset(&doc, 0, sizeof doc);
    doc.allocator = allocator;
    doc.lastFrame = 30.0f;
    doc.frameCount = 30.0f;
    doc.frameSpeed = 30.0f;
    doc.ticksPerFrame = 160.0f;
}

// --- Allocate-by-count ------------------------------------------------------------

int AllocateGeomObjects(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    FreeArray(*doc.allocator, doc.geomObjects, doc.geomObjectCount, ReleaseGeomObject);
    return AllocateArray(*doc.allocator, doc.geomObjects, doc.geomObjectCount, count, InitGeomObject);
}

int AllocateHelpers(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    FreeArray(*doc.allocator, doc.helpers, doc.helperCount, ReleaseGeomObject);
    return AllocateArray(*doc.allocator, doc.helpers, doc.helperCount, count, InitGeomObject);
}

int AllocateMaterials(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    FreeArray(*doc.allocator, doc.materials, doc.materialCount, ReleaseMaterial);
    return AllocateArray(*doc.allocator, doc.materials, doc.materialCount, count, InitMaterial);
}

int AllocateLights(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    FreePlain(*doc.allocator, doc.lights, doc.lightCount);
    return AllocateArray(*doc.allocator, doc.lights, doc.lightCount, count, InitLight);
}

int AllocateCameras(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    FreePlain(*doc.allocator, doc.cameras, doc.cameraCount);
    return AllocateArray(*doc.allocator, doc.cameras, doc.cameraCount, count, InitCamera);
}

int GrowGeomObjects(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    return GrowTo(*doc.allocator, doc.geomObjects, doc.geomObjectCount, doc.geomObjectCapacity, count,
                  InitGeomObject);
}

int GrowHelpers(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    return GrowTo(*doc.allocator, doc.helpers, doc.helperCount, doc.helperCapacity, count, InitGeomObject);
}

int GrowLights(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    return GrowTo(*doc.allocator, doc.lights, doc.lightCount, doc.lightCapacity, count, InitLight);
}

int GrowCameras(AseDocument& doc, int32_t count) {
    if (doc.allocator == nullptr) return 0;
    return GrowTo(*doc.allocator, doc.cameras, doc.cameraCount, doc.cameraCapacity, count, InitCamera);
}

int AllocateSubMaterials(JobAllocator& allocator, AseMaterial& material, int32_t count) {
    FreePlain(allocator, material.subMaterials, material.subMaterialCount);
    return AllocateArray(allocator, material.subMaterials, material.subMaterialCount, count, InitSubMaterial);
}

int AllocateVertices(JobAllocator& allocator, AseGeomObject& object, int32_t count) {
    FreePlain(allocator, object.vertices, object.vertexCount);
    return AllocateArray(allocator, object.vertices, object.vertexCount, count, InitVertex);
}

int AllocateFaces(JobAllocator& allocator, AseGeomObject& object, int32_t count) {
    FreePlain(allocator, object.faces, object.faceCount);
    return AllocateArray(allocator, object.faces, object.faceCount, count, InitFace);
}

int AllocateTexVertices(JobAllocator& allocator, AseMapChannel& channel, int32_t count) {
    FreePlain(allocator, channel.tverts, channel.tvertCount);
    return AllocateArray(allocator, channel.tverts, channel.tvertCount, count, InitTexVertex);
}

int AllocateTexFaces(JobAllocator& allocator, AseMapChannel& channel, int32_t count) {
    FreePlain(allocator, channel.tfaces, channel.tfaceCount);
    return AllocateArray(allocator, channel.tfaces, channel.tfaceCount, count, InitTriIndex);
}

int AllocateColorVertices(JobAllocator& allocator, AseColorChannel& channel, int32_t count) {
    FreePlain(allocator, channel.cverts, channel.cvertCount);
    return AllocateArray(allocator, channel.cverts, channel.cvertCount, count, InitColorVertex);
}

int AllocateColorFaces(JobAllocator& allocator, AseColorChannel& channel, int32_t count) {
    FreePlain(allocator, channel.cfaces, channel.cfaceCount);
    return AllocateArray(allocator, channel.cfaces, channel.cfaceCount, count, InitTriIndex);
}

// --- Append-one ---------------------------------------------------------------------

AseMapChannel* AppendMapChannel(JobAllocator& allocator, AseGeomObject& object) {
    return AppendOne(allocator, object.mapChannels, object.mapChannelCount, object.mapChannelCapacity);
}

AsePosKey* AppendPosKey(JobAllocator& allocator, AseGeomObject& object) {
    return AppendOne(allocator, object.posKeys, object.posKeyCount, object.posKeyCapacity);
}

AseRotKey* AppendRotKey(JobAllocator& allocator, AseGeomObject& object) {
    return AppendOne(allocator, object.rotKeys, object.rotKeyCount, object.rotKeyCapacity);
}

AseScaleKey* AppendScaleKey(JobAllocator& allocator, AseGeomObject& object) {
    return AppendOne(allocator, object.scaleKeys, object.scaleKeyCount, object.scaleKeyCapacity);
}
