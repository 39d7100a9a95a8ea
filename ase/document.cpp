// The import document: defaults, arrays and the allocation seam.
#include "ase/document.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

long gAllocationCount = 0;  // allocations since the last test call
long gFailAt = 0;           // 1-based index of the first failing one; 0 none
long gLiveBlocks = 0;
size_t gLiveBytes = 0;
size_t gPeakBytes = 0;

// Each block starts with its size, so that freeing it can count the bytes;
// the header keeps the caller's part aligned as malloc aligns.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

// Frees `items` of `count` elements with `release` applied to each first.
template <typename T, typename Release>
void FreeArray(T*& items, int32_t& count, Release release) {
    if (items != nullptr) {
        for (int32_t i = 0; i < count; ++i) release(items[i]);
        DocumentFree(items);
    }
    items = nullptr;
    count = 0;
}

template <typename T>
void FreePlain(T*& items, int32_t& count) {
    DocumentFree(items);
    items = nullptr;
    count = 0;
}

// Allocate-by-count: frees the old array, makes `count` elements with the
// defaults of `init`. 1, or 0 with the field empty.
template <typename T, typename Init>
int AllocateArray(T*& items, int32_t& count, int32_t newCount, Init init) {
    if (newCount < 1 || static_cast<size_t>(newCount) > SIZE_MAX / sizeof(T)) return 0;
    T* fresh = static_cast<T*>(DocumentAllocate(sizeof(T) * static_cast<size_t>(newCount)));
    if (fresh == nullptr) return 0;
    for (int32_t i = 0; i < newCount; ++i) init(fresh[i]);
    items = fresh;
    count = newCount;
    return 1;
}

// Append-one with doubling capacity: returns the zeroed new last element, or
// null with the array unchanged.
template <typename T>
T* AppendOne(T*& items, int32_t& count, int32_t& capacity) {
    if (count == INT32_MAX) return nullptr;
    if (count >= capacity || items == nullptr) {
        int64_t grown = capacity < 4 ? 4 : static_cast<int64_t>(capacity) * 2;
        if (grown > INT32_MAX) grown = INT32_MAX;
        // Growing in place where the allocator can (large blocks are moved
        // by remapping their pages) keeps the old and new arrays from
        // being resident together.
        T* fresh = static_cast<T*>(DocumentReallocate(items, sizeof(T) * static_cast<size_t>(grown)));
        if (fresh == nullptr) return nullptr;
        items = fresh;
        capacity = static_cast<int32_t>(grown);
    }
    T* slot = &items[count];
    std::memset(static_cast<void*>(slot), 0, sizeof(T));
    ++count;
    return slot;
}

void InitVertex(AseVertex& v) {
    std::memset(&v, 0, sizeof v);
    for (float& c : v.color) c = 1.0f;
}

void InitFace(AseFace& f) { f.a = f.b = f.c = f.materialId = -1; }
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

AseDocument& TheDocument() {
    static AseDocument document = [] {
        AseDocument d;
        std::memset(&d, 0, sizeof d);
        ResetDocument(d);
        return d;
    }();
    return document;
}

void* DocumentAllocate(size_t bytes) {
    ++gAllocationCount;
    if (gFailAt > 0 && gAllocationCount >= gFailAt) return nullptr;
    if (bytes > SIZE_MAX - kBlockHeader) return nullptr;
    char* block = static_cast<char*>(std::malloc(kBlockHeader + bytes));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    ++gLiveBlocks;
    gLiveBytes += bytes;
    if (gLiveBytes > gPeakBytes) gPeakBytes = gLiveBytes;
    return block + kBlockHeader;
}

void* DocumentReallocate(void* block, size_t bytes) {
    if (block == nullptr) return DocumentAllocate(bytes);
    ++gAllocationCount;
    if (gFailAt > 0 && gAllocationCount >= gFailAt) return nullptr;
    if (bytes > SIZE_MAX - kBlockHeader) return nullptr;
    char* start = static_cast<char*>(block) - kBlockHeader;
    size_t old;
    std::memcpy(&old, start, sizeof old);
    char* moved = static_cast<char*>(std::realloc(start, kBlockHeader + bytes));
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, &bytes, sizeof bytes);
    gLiveBytes = gLiveBytes - old + bytes;
    if (gLiveBytes > gPeakBytes) gPeakBytes = gLiveBytes;
    return moved + kBlockHeader;
}

void DocumentFree(void* block) {
    if (block == nullptr) return;
    char* start = static_cast<char*>(block) - kBlockHeader;
    size_t bytes;
    std::memcpy(&bytes, start, sizeof bytes);
    --gLiveBlocks;
    gLiveBytes -= bytes;
    std::free(start);
}

long SetDocumentAllocationFailureForTesting(long failAt) {
    const long made = gAllocationCount;
    gAllocationCount = 0;
    gFailAt = failAt;
    return made;
}

long DocumentLiveBlocksForTesting() { return gLiveBlocks; }

size_t DocumentPeakBytesForTesting() {
    const size_t peak = gPeakBytes;
    gPeakBytes = gLiveBytes;
    return peak;
}

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

void ReleaseMapChannel(AseMapChannel& channel) {
    FreePlain(channel.tverts, channel.tvertCount);
    FreePlain(channel.tfaces, channel.tfaceCount);
}

void ReleaseGeomObject(AseGeomObject& object) {
    FreePlain(object.vertices, object.vertexCount);
    FreePlain(object.faces, object.faceCount);
    FreePlain(object.colorChannel.cverts, object.colorChannel.cvertCount);
    FreePlain(object.colorChannel.cfaces, object.colorChannel.cfaceCount);
    ReleaseMapChannel(object.texChannel);
    FreeArray(object.mapChannels, object.mapChannelCount, ReleaseMapChannel);
    object.mapChannelCapacity = 0;
    FreePlain(object.posKeys, object.posKeyCount);
    object.posKeyCapacity = 0;
    FreePlain(object.rotKeys, object.rotKeyCount);
    object.rotKeyCapacity = 0;
    FreePlain(object.scaleKeys, object.scaleKeyCount);
    object.scaleKeyCapacity = 0;
}

void ReleaseMaterial(AseMaterial& material) { FreePlain(material.subMaterials, material.subMaterialCount); }

void ResetDocument(AseDocument& doc) {
    FreeArray(doc.materials, doc.materialCount, ReleaseMaterial);
    FreeArray(doc.geomObjects, doc.geomObjectCount, ReleaseGeomObject);
    FreePlain(doc.lights, doc.lightCount);
    FreePlain(doc.cameras, doc.cameraCount);
    std::memset(&doc, 0, sizeof doc);
    doc.lastFrame = 30.0f;
    doc.frameCount = 30.0f;
    doc.frameSpeed = 30.0f;
    doc.ticksPerFrame = 160.0f;
}

// --- Allocate-by-count ------------------------------------------------------------

int AllocateGeomObjects(AseDocument& doc, int32_t count) {
    FreeArray(doc.geomObjects, doc.geomObjectCount, ReleaseGeomObject);
    return AllocateArray(doc.geomObjects, doc.geomObjectCount, count, InitGeomObject);
}

int AllocateMaterials(AseDocument& doc, int32_t count) {
    FreeArray(doc.materials, doc.materialCount, ReleaseMaterial);
    return AllocateArray(doc.materials, doc.materialCount, count, InitMaterial);
}

int AllocateLights(AseDocument& doc, int32_t count) {
    FreePlain(doc.lights, doc.lightCount);
    return AllocateArray(doc.lights, doc.lightCount, count, InitLight);
}

int AllocateCameras(AseDocument& doc, int32_t count) {
    FreePlain(doc.cameras, doc.cameraCount);
    return AllocateArray(doc.cameras, doc.cameraCount, count, InitCamera);
}

int AllocateSubMaterials(AseMaterial& material, int32_t count) {
    FreePlain(material.subMaterials, material.subMaterialCount);
    return AllocateArray(material.subMaterials, material.subMaterialCount, count, InitSubMaterial);
}

int AllocateVertices(AseGeomObject& object, int32_t count) {
    FreePlain(object.vertices, object.vertexCount);
    return AllocateArray(object.vertices, object.vertexCount, count, InitVertex);
}

int AllocateFaces(AseGeomObject& object, int32_t count) {
    FreePlain(object.faces, object.faceCount);
    return AllocateArray(object.faces, object.faceCount, count, InitFace);
}

int AllocateTexVertices(AseMapChannel& channel, int32_t count) {
    FreePlain(channel.tverts, channel.tvertCount);
    return AllocateArray(channel.tverts, channel.tvertCount, count, InitTexVertex);
}

int AllocateTexFaces(AseMapChannel& channel, int32_t count) {
    FreePlain(channel.tfaces, channel.tfaceCount);
    return AllocateArray(channel.tfaces, channel.tfaceCount, count, InitTriIndex);
}

int AllocateColorVertices(AseColorChannel& channel, int32_t count) {
    FreePlain(channel.cverts, channel.cvertCount);
    return AllocateArray(channel.cverts, channel.cvertCount, count, InitColorVertex);
}

int AllocateColorFaces(AseColorChannel& channel, int32_t count) {
    FreePlain(channel.cfaces, channel.cfaceCount);
    return AllocateArray(channel.cfaces, channel.cfaceCount, count, InitTriIndex);
}

// --- Append-one ---------------------------------------------------------------------

AseMapChannel* AppendMapChannel(AseGeomObject& object) {
    return AppendOne(object.mapChannels, object.mapChannelCount, object.mapChannelCapacity);
}

AsePosKey* AppendPosKey(AseGeomObject& object) {
    return AppendOne(object.posKeys, object.posKeyCount, object.posKeyCapacity);
}

AseRotKey* AppendRotKey(AseGeomObject& object) {
    return AppendOne(object.rotKeys, object.rotKeyCount, object.rotKeyCapacity);
}

AseScaleKey* AppendScaleKey(AseGeomObject& object) {
    return AppendOne(object.scaleKeys, object.scaleKeyCount, object.scaleKeyCapacity);
}
