// Material list, material, sub-material and texture map blocks.
#include <cstring>

#include "ase/reader_internal.h"
#include "platform/platform.h"
#include "base/strings.h"

namespace {

enum : int { kMapDiffuse = 0, kMapOpacity = 1, kMapSpecular = 2, kMapBump = 3 };

int MapKind(Kw keyword) {
    switch (keyword) {
        case Kw::kMapDiffuse: return kMapDiffuse;
        case Kw::kMapOpacity: return kMapOpacity;
        case Kw::kMapSpecular: return kMapSpecular;
        case Kw::kMapBump: return kMapBump;
        default: return -1;
    }
}

template <typename M>
char16_t* MapSlot(M& material, int kind) {
    switch (kind) {
        case kMapDiffuse: return material.diffuseMap;
        case kMapOpacity: return material.opacityMap;
        case kMapSpecular: return material.specularMap;
        default: return material.bumpMap;
    }
}

// The values a material and a sub-material share. Returns true when the line
// was one of them. `subMaterialLimits` selects the sub-material's opacity
// rule (1 - t limited to 0..1) over the material's (1 - t when in (0, 1],
// else 1).
template <typename M>
bool ApplyMaterialValue(M& m, const AseLine& line, bool subMaterialLimits) {
    float rgb[3];
    float value = 0.0f;
    switch (line.keyword) {
        case Kw::kMaterialName: ReadQuotedString(m.name, line); return true;
        case Kw::kMaterialClass: return true;
        case Kw::kMaterialAmbient:
        case Kw::kMaterialDiffuse:
        case Kw::kMaterialSpecular: {
            if (!ReadLineFloats(line, rgb, 3)) return true;
            float* target = line.keyword == Kw::kMaterialAmbient   ? m.ambient
                            : line.keyword == Kw::kMaterialDiffuse ? m.diffuse
                                                                   : m.specular;
            target[0] = rgb[0];
            target[1] = rgb[1];
            target[2] = rgb[2];
            target[3] = 1.0f;
            return true;
        }
        case Kw::kMaterialTransparency: {
            if (!ReadLineFloats(line, &value, 1)) return true;
            const float opacity = 1.0f - value;
            if (subMaterialLimits) {
                m.opacity = opacity < 0.0f ? 0.0f : (opacity > 1.0f ? 1.0f : opacity);
            } else {
                m.opacity = (opacity > 0.0f && opacity <= 1.0f) ? opacity : 1.0f;
            }
            return true;
        }
        case Kw::kMaterialShine: {
            if (!ReadLineFloats(line, &value, 1)) return true;
            const float shine = value * 128.0f;
            m.shininess = shine < 0.0f ? 0.0f : (shine > 128.0f ? 128.0f : shine);
            return true;
        }
        case Kw::kMaterialTwoSided: m.twoSided = 1; return true;
        default: return false;
    }
}

}  // namespace

int FileNameOfPath(const char* path, char* dest, size_t destBytes) {
    if (path == nullptr || dest == nullptr || destBytes == 0) return 0;
    char name[platform::kMaxFileName] = {};
    char ext[platform::kMaxExtension] = {};
    platform::SplitPathNarrow(path, nullptr, nullptr, name, ext);
    // Name and extension may each hold 255 bytes; the result is cut to fit.
    const size_t nameLength = std::strlen(name);
    const size_t extLength = std::strlen(ext);
    size_t n = 0;
    for (size_t i = 0; i < nameLength && n + 1 < destBytes; ++i) dest[n++] = name[i];
    for (size_t i = 0; i < extLength && n + 1 < destBytes; ++i) dest[n++] = ext[i];
    dest[n] = '\0';
    return 1;
}

int ParseMap(AseReader& source, std::string_view name, AseMaterial* material, AseSubMaterial* sub, int32_t index,
             int kind) {
    if (material == nullptr || name.empty()) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"a map block without its material");
    }
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        if (line.keyword == Kw::kMaterial) return 1;
        if (line.keyword != Kw::kBitmap) continue;
        char path[kAsePathUnits] = {};
        ReadQuotedString(path, line);
        char fileName[kAsePathUnits];
        FileNameOfPath(path, fileName, sizeof fileName);
        // The host material this map goes to, the sub-material's when there
        // is one, gets a texture when its map is first filled.
        const char16_t* hostMap = sub != nullptr ? MapSlot(*sub, kind) : MapSlot(*material, kind);
        const bool unfilled = hostMap[0] == 0;
        if (index == 0) AnsiToWide(fileName, MapSlot(*material, kind), kAsePathUnits);
        if (sub != nullptr) AnsiToWide(fileName, MapSlot(*sub, kind), kAsePathUnits);
        if (unfilled && hostMap[0] != 0 && !ChargeLineRecords(source, line, kHostTextureBytes)) return 0;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseSubMaterial(AseReader& source, const AseLine& opening, AseMaterial& material, int32_t index) {
    const std::string_view name = opening.Word();
    if (material.subMaterials == nullptr || index < 0 || index >= material.subMaterialCount) {
        return ReaderFail(source, opening.text, JobErrorKind::kIndex, nullptr,
                          u"*SUBMATERIAL %d of material \"%S\" names no sub-material: it declares %d", index,
                          material.name, material.subMaterialCount);
    }
    AseSubMaterial& sub = material.subMaterials[index];
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        if (ApplyMaterialValue(sub, line, true)) continue;
        const int kind = MapKind(line.keyword);
        if (kind >= 0) {
            if (!ParseMap(source, line.Word(), &material, &sub, index, kind)) return 0;
        } else if (line.keyword == Kw::kMaterial) {
            return 1;
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseMaterial(AseReader& source, const AseLine& opening, int32_t index) {
    const std::string_view name = opening.Word();
    AseDocument& doc = (*source.doc);
    if (doc.materials == nullptr || index < 0 || index >= doc.materialCount) {
        return ReaderFail(source, opening.text, JobErrorKind::kIndex, nullptr,
                          u"*MATERIAL %d names no material: *MATERIAL_COUNT declares %d", index, doc.materialCount);
    }
    AseMaterial& material = doc.materials[index];
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        if (ApplyMaterialValue(material, line, false)) continue;
        int32_t number = 0;
        switch (line.keyword) {
            case Kw::kNumSubMtls:
                if (!ReadLineInt(line, number) || number <= 0) break;
                if (!BelieveCountLine(source, line, number, sizeof(AseSubMaterial) + kHostMaterialBytes)) return 0;
                if (!AllocateSubMaterials(*source.allocator, material, number)) return ReaderOutOfMemory(source, line.text);
                break;
            case Kw::kSubMaterial:
                if (!ReadLineInt(line, number)) break;
                if (!ParseSubMaterial(source, line, material, number)) return 0;
                break;
            case Kw::kMapDiffuse:
            case Kw::kMapOpacity:
            case Kw::kMapSpecular:
            case Kw::kMapBump:
                if (!ParseMap(source, line.Word(), &material, nullptr, 0, MapKind(line.keyword))) return 0;
                break;
            case Kw::kMaterial: ++doc.nextMaterial; return 1;
            default: break;
        }
    }
    if (step == BlockStep::kFail) return 0;
    ++doc.nextMaterial;
    return 1;
}

int ParseMaterialList(AseReader& source, std::string_view name) {
    AseDocument& doc = (*source.doc);
    if (doc.materials == nullptr) {
        // Without materials the list is passed over, unless a read in one
        // pass has not met the count yet: the list's own count line is
        // still to come (CountAsRead allocates them).
        if (!source.countAsRead || source.materialCountLines > 0) return 1;
        source.materialListBeforeCount = true;
    }
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        if (line.keyword == Kw::kMaterial) {
            if (doc.materials == nullptr) return NeedTwoPasses(source);
            int32_t index = 0;
            if (ReadLineInt(line, index) && !ParseMaterial(source, line, index)) return 0;
        } else if (line.keyword == Kw::kGeomObject) {
            return 1;
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}
