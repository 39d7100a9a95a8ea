// The host scene builder: materials with textures, the vertex list, objects,
// face groups and faces, then bones and the animation.
//
// Host record n is taken to belong to document element n (the host scene is
// expected to be empty when the import starts). The builder keeps no table of
// what the host returns; instead, every index it writes into a host record is
// checked against what the host actually holds, so a scene that was not
// empty yields wrong references at worst, never a write out of bounds.
#include <climits>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "import/import.h"
#include "import/import_detail.h"
#include "platform/platform.h"
#include "base/job.h"
#include "base/strings.h"

void AssignFixedName(DualString* dest, const char* name, size_t capacity) {
    char terminated[kAseNameBytes + 1] = {};
    size_t length = name == nullptr ? 0 : strnlen(name, capacity);
    if (length > kAseNameBytes) length = kAseNameBytes;
    if (length > 0) std::memcpy(terminated, name, length);
    AssignDualStringNarrow(dest, terminated);
}

namespace {

// The fields that materials and sub-materials share.
struct MaterialView {
    const char* name;
    const float* ambient;  // r, g, b, a: the alpha is not the host's
    const float* diffuse;
    const float* specular;
    float shininess;
    float opacity;
    const char16_t* maps[kTextureChannels];  // diffuse, opacity, bump, specular
    int twoSided;
};

template <typename Material>
MaterialView ViewOf(const Material& material) {
    return MaterialView{material.name,
                        material.ambient,
                        material.diffuse,
                        material.specular,
                        material.shininess,
                        material.opacity,
                        {material.diffuseMap, material.opacityMap, material.bumpMap, material.specularMap},
                        material.twoSided};
}

// One host material with up to four image textures. 0 when the host refuses
// the material; a refused texture only skips its map.
int BuildMaterial(HostContext* context, const MaterialView& source, const char16_t* textureDirectory,
                  DualString* name, JobError& error) {
    AssignFixedName(name, source.name, kAseNameBytes);
    HostMaterial* material = context->ops->AddMaterial(context, name);
    if (material == nullptr) {
        return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host refused to add material \"%s\"", name->wide);
    }

    // The file's colours as they stand; the host keeps no alpha.
    for (int c = 0; c < 3; ++c) {
        material->ambient[c] = source.ambient[c];
        material->diffuse[c] = source.diffuse[c];
        material->specular[c] = source.specular[c];
    }
    material->shininess = source.shininess;
    material->opacity = source.opacity;
    if (source.twoSided != 0)
        material->flags |= kMaterialTwoSided;
    else
        material->flags &= ~kMaterialTwoSided;

    for (int channel = 0; channel < kTextureChannels; ++channel) {
        const char16_t* map = source.maps[channel];
        if (map[0] == 0) continue;
        char16_t full[kImportPathUnits];
        if (!ResolveTexturePath(textureDirectory, map, full)) continue;
        if (material->ops == nullptr || material->ops->AddTexture == nullptr) continue;
        HostTexture* texture = material->ops->AddTexture(material, channel, kTextureImage);
        if (texture == nullptr || full[0] == 0) continue;
        AssignDualString(&texture->path, full);
        texture->flags |= kTexturePathSet;
    }
    return 1;
}

int BuildMaterials(HostContext* context, const AseDocument& doc, DualString* name, JobError& error) {
    if (doc.materials == nullptr) return 1;

    DualString fileName;
    GetFileName(context, &fileName);
    char16_t textureDirectory[kImportPathUnits] = {};
    GetPathDirectory(fileName.wide, textureDirectory);
    // The directory becomes the current one and stays so; a failure (an
    // empty or missing directory) changes nothing and is not an error.
    platform::SetCurrentDirectory(textureDirectory);

    for (int m = 0; m < doc.materialCount; ++m) {
        const AseMaterial& material = doc.materials[m];
        if (material.subMaterialCount <= 0 || material.subMaterials == nullptr) {
            if (!BuildMaterial(context, ViewOf(material), textureDirectory, name, error)) return 0;
            continue;
        }
        for (int s = 0; s < material.subMaterialCount; ++s) {
            if (!BuildMaterial(context, ViewOf(material.subMaterials[s]), textureDirectory, name, error)) return 0;
        }
    }
    return 1;
}

int64_t VertexCountOf(const AseGeomObject& object) { return object.vertexCount > 0 ? object.vertexCount : 0; }

// Host vertex g for document vertex g over all objects in order, each bound
// to the bone of its object with weight 1.
int BuildVertices(HostContext* context, const AseDocument& doc, JobError& error) {
    if (doc.geomObjects == nullptr) return 1;
    int64_t total = 0;
    for (int i = 0; i < doc.geomObjectCount; ++i) total += VertexCountOf(doc.geomObjects[i]);
    if (total <= 0) return 1;
    if (total > INT_MAX) {
        return error.Fail(JobErrorKind::kLimit, 0, nullptr, u"the file holds %lld vertices, more than the host can take",
                          static_cast<long long>(total));
    }

    if (context->ops->AllocateVertices(context, static_cast<int>(total)) == 0) {
        return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host refused to make %lld vertices",
                          static_cast<long long>(total));
    }
    // The host promised at least `total` records; a host that broke the
    // promise gets a failed import rather than writes beyond its array.
    if (context->vertices == nullptr || context->vertexCount < total) {
        return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host made fewer vertices than it was asked for");
    }

    int g = 0;
    for (int i = 0; i < doc.geomObjectCount; ++i) {
        const AseGeomObject& object = doc.geomObjects[i];
        const int count = static_cast<int>(VertexCountOf(object));
        for (int v = 0; v < count; ++v, ++g) {
            if (object.vertices == nullptr) continue;
            // Re-read every time: a host may move its vertex array while it
            // sizes weights.
            if (context->vertices == nullptr || g >= context->vertexCount) {
                return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host lost vertices while they were filled");
            }
            HostVertex& target = context->vertices[g];
            const AseVertex& source = object.vertices[v];
            target.position[0] = source.position.x;
            target.position[1] = source.position.y;
            target.position[2] = source.position.z;
            for (int c = 0; c < 4; ++c) target.color[c] = source.color[c];

            HostVertex* weighted = context->ops->AllocateVertexWeights(context, g, 1);
            if (weighted != nullptr && weighted->weights != nullptr) {
                weighted->weights[0].boneIndex = i;
                weighted->weights[0].weight = 1.0f;
            }
        }
    }
    return 1;
}

int BuildObjects(HostContext* context, const AseDocument& doc, DualString* name, JobError& error) {
    if (doc.geomObjects == nullptr) return 1;
    for (int i = 0; i < doc.geomObjectCount; ++i) {
        AssignFixedName(name, doc.geomObjects[i].nodeName, kAseNameBytes);
        if (context->ops->AddObject(context, name, -1) == nullptr) {
            return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host refused to add object \"%s\"", name->wide);
        }
    }
    return 1;
}

// The first mapping channel numbered 2, or null.
const AseMapChannel* SecondUvChannel(const AseGeomObject& object) {
    if (object.mapChannels == nullptr) return nullptr;
    for (int m = 0; m < object.mapChannelCount; ++m) {
        if (object.mapChannels[m].channel == 2) return &object.mapChannels[m];
    }
    return nullptr;
}

// Corner UVs (u, 1 - v) of face f from one texture channel into one host UV
// channel. Corners whose texture index is out of range keep the host's value.
void WriteCornerUvs(const AseMapChannel* source, int f, HostFaceUvChannel& target) {
    if (source == nullptr || source->tverts == nullptr || source->tfaces == nullptr || f >= source->tfaceCount)
        return;
    if (target.cornerUvs == nullptr) return;
    const AseTriIndex& tface = source->tfaces[f];
    const int corners[3] = {tface.a, tface.b, tface.c};
    for (int k = 0; k < 3; ++k) {
        const int t = corners[k];
        if (t < 0 || t >= source->tvertCount) continue;
        target.cornerUvs[k].u = source->tverts[t].u;
        target.cornerUvs[k].v = 1.0f - source->tverts[t].v;
    }
}

// Fills a host face from document face f of object i. 0 when an index does
// not fit the host's arrays.
int BuildFace(HostContext* context, const AseGeomObject& object, int i, int f, int64_t base, HostFace& target) {
    const AseFace& face = object.faces[f];
    if (context->objects != nullptr && i >= context->objectCount) return 0;
    if (context->materials != nullptr && face.materialId >= context->materialCount) return 0;
    // The reader hands over -1 or a material index; anything below -1 is
    // no reference the host can resolve.
    if (face.materialId < -1) return 0;

    target.objectIndex = i;
    target.materialIndex = face.materialId;
    target.smoothingGroup = face.smoothingGroup;

    if (target.vertexIndices == nullptr) return 0;
    const int corners[3] = {face.a, face.b, face.c};
    for (int k = 0; k < 3; ++k) {
        const int64_t v = base + corners[k];
        if (v < 0 || v > INT_MAX) return 0;
        if (context->vertices != nullptr && v >= context->vertexCount) return 0;
        target.vertexIndices[k] = static_cast<int>(v);
    }

    if (target.uvData == nullptr) return 1;
    WriteCornerUvs(&object.texChannel, f, target.uvData->channels[0]);
    WriteCornerUvs(SecondUvChannel(object), f, target.uvData->channels[1]);
    return 1;
}

int BuildFaceGroups(HostContext* context, const AseDocument& doc, JobError& error) {
    if (doc.geomObjects == nullptr) return 1;
    int64_t base = 0;
    for (int i = 0; i < doc.geomObjectCount; ++i) {
        const AseGeomObject& object = doc.geomObjects[i];
        char16_t what[kJobErrorWhatUnits];
        FormatWide(what, kJobErrorWhatUnits, u"object \"%S\":", object.nodeName);
        HostFaceGroup* group = context->ops->AddFaceGroup(context);
        if (group == nullptr) return error.Fail(JobErrorKind::kHost, 0, what, u"the host refused its face group");

        // Only the faces that lines filled reach the host.
        const int filled = FilledFaceCount(object);
        if (filled > 0) {
            if (group->ops == nullptr || group->ops->AllocateFaces == nullptr || group->ops->AllocateFaces(group, filled) == 0) {
                return error.Fail(JobErrorKind::kHost, 0, what, u"the host refused to make %d faces", filled);
            }
            if (group->faces == nullptr || group->faceCount < filled) {
                return error.Fail(JobErrorKind::kHost, 0, what, u"the host made fewer faces than it was asked for");
            }
            int h = 0;
            for (int f = 0; f < object.faceCount; ++f) {
                const AseFace& face = object.faces[f];
                if (!IsFilledFace(face)) continue;
                for (const int corner : {face.a, face.b, face.c}) {
                    if (corner < 0 || corner >= object.vertexCount) {
                        FormatWide(what, kJobErrorWhatUnits, u"face %d of \"%S\"", f, object.nodeName);
                        return error.Fail(JobErrorKind::kIndex, 0, what, u"uses vertex %d, but \"%S\" has %d vertices",
                                          corner, object.nodeName, object.vertexCount);
                    }
                }
                HostFace& target = group->faces[h++];
                if (target.cornerCount < 3 || !BuildFace(context, object, i, f, base, target)) {
                    FormatWide(what, kJobErrorWhatUnits, u"face %d of \"%S\"", f, object.nodeName);
                    return error.Fail(JobErrorKind::kHost, 0, what, u"does not fit the host's records");
                }
            }
        }
        base += VertexCountOf(object);
    }
    return 1;
}

bool HasContextOps(const HostContext* context) {
    const HostContextOps* ops = context->ops;
    return ops != nullptr && ops->AddMaterial != nullptr && ops->AllocateVertices != nullptr &&
           ops->AllocateVertexWeights != nullptr && ops->AddObject != nullptr && ops->AddFaceGroup != nullptr &&
           ops->FinishGeometry != nullptr && ops->AddBone != nullptr && ops->AddAnimation != nullptr &&
           ops->FinishImport != nullptr;
}

}  // namespace

int FilledFaceCount(const AseGeomObject& object) {
    if (object.faces == nullptr) return 0;
    int filled = 0;
    for (int f = 0; f < object.faceCount; ++f) filled += IsFilledFace(object.faces[f]) ? 1 : 0;
    return filled;
}

int BuildHostScene(HostContext* context, AseDocument& doc, JobError& error) {
    if (context == nullptr || !HasContextOps(context)) {
        return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host lacks an operation the import needs");
    }

    // One name record serves every call that takes a name.
    DualString name{};
    if (!BuildMaterials(context, doc, &name, error)) return 0;
    if (!BuildVertices(context, doc, error)) return 0;
    if (!BuildObjects(context, doc, &name, error)) return 0;
    if (!BuildFaceGroups(context, doc, error)) return 0;
    context->ops->FinishGeometry(context, 1);
    if (!ImportSkeletonAndAnimation(context, doc, error)) return 0;
    context->ops->FinishImport(context, 1);
    return 1;
}
