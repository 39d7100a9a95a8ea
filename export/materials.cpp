// The material list writer: one *MATERIAL block per exported host object,
// in the standard form for an object with at most one material, else in the
// multi/sub-object form, with the texture maps of each host material.
//
// Host material indices are checked against the material table. A reference
// that names no material of the table (and material 0 of an object without
// references when the table lacks it) is written as the default material:
// the standard form with ambient (0, 0, 0), diffuse (1, 1, 1), specular
// (0, 0, 0), shine 0, transparency 0, one-sided, no maps, named
// "Material<n>" at the top level and "Material<n>_<k>" as sub-material k of
// material n. Sub-material numbers therefore stay those of the references.
#include <charconv>
#include <cstring>

#include "export/export_job.h"
#include "base/strings.h"

namespace {

enum : int { kPathUnits = 260, kPathBytes = 260, kNameBytes = 260, kMaxDepth = 8 };

// Tabs of one level of nesting, cut to kMaxDepth.
struct Indent {
    explicit Indent(int depth) {
        const int n = depth < 0 ? 0 : (depth > kMaxDepth ? kMaxDepth : depth);
        std::memset(tabs, '\t', static_cast<size_t>(n));
        tabs[n] = '\0';
    }
    char tabs[kMaxDepth + 1];
};

// "Material<ordinal>", or "Material<ordinal>_<sub>" when sub >= 0.
struct DefaultName {
    DefaultName(int ordinal, int sub) {
        char* p = text;
        std::memcpy(p, "Material", 8);
        p = std::to_chars(p + 8, text + sizeof text - 1, ordinal).ptr;
        if (sub >= 0) {
            *p++ = '_';
            p = std::to_chars(p, text + sizeof text - 1, sub).ptr;
        }
        *p = '\0';
    }
    char text[40];
};

// What one standard material block needs, from a host material or the
// default.
struct MaterialValues {
    char name[kNameBytes] = {};
    float ambient[3] = {0.0f, 0.0f, 0.0f};
    float diffuse[3] = {1.0f, 1.0f, 1.0f};
    float specular[3] = {0.0f, 0.0f, 0.0f};
    float shininess = 0.0f;
    float opacity = 1.0f;
    bool twoSided = false;
    HostMaterial* source = nullptr;  // null for the default: no maps
};

HostMaterial* MaterialAt(HostContext* context, int index) {
    if (context->materials == nullptr || index < 0 || index >= context->materialCount) return nullptr;
    return &context->materials[index];
}

// The host material's values, or the default one named `defaultName`.
MaterialValues ValuesOf(HostMaterial* material, const char* defaultName) {
    MaterialValues values;
    const char* name = material != nullptr ? material->name.narrow : defaultName;
    // The host's narrow name may lack its terminator; the copy never does.
    for (int i = 0; i + 1 < kNameBytes && name[i] != '\0'; ++i) values.name[i] = name[i];
    if (material == nullptr) return values;
    for (int a = 0; a < 3; ++a) {
        values.ambient[a] = material->ambient[a];
        values.diffuse[a] = material->diffuse[a];
        values.specular[a] = material->specular[a];
    }
    values.shininess = material->shininess;
    values.opacity = material->opacity;
    values.twoSided = (material->flags & kMaterialTwoSided) != 0;
    values.source = material;
    return values;
}

HostTexture* TextureOf(HostMaterial* material, int channel) {
    if (material->ops == nullptr || material->ops->GetTexture == nullptr) return nullptr;
    return material->ops->GetTexture(material, channel);
}

// The text written into *BITMAP: the whole path, or its file name and
// extension, in the ANSI code page.
void BitmapText(const ExportOptions& options, const char16_t* path, char* out) {
    char16_t wide[kPathUnits] = {};
    if (options.useFullTexturePath == 1) {
        for (int i = 0; i + 1 < kPathUnits && path[i] != 0; ++i) wide[i] = path[i];
    } else {
        FileNameOnly(path, wide);
    }
    WideToAnsiCut(wide, out, kPathBytes);
}

int WriteBitmapMap(ExportStream stream, const ExportOptions& options, int depth, const char* keyword, const char* name,
                   int subNumber, const char16_t* path) {
    char bitmap[kPathBytes] = {};
    BitmapText(options, path, bitmap);
    const Indent outer(depth);
    const Indent inner(depth + 1);
    const char* o = outer.tabs;
    const char* i = inner.tabs;
    return WritePiece(stream,
                      "%s*%s {\n"
                      "%s*MAP_NAME \"%s\"\n"
                      "%s*MAP_CLASS \"Bitmap\"\n"
                      "%s*MAP_SUBNO %d\n"
                      "%s*MAP_AMOUNT 1.00000000\n"
                      "%s*BITMAP \"%s\"\n"
                      "%s*MAP_TYPE Screen\n"
                      "%s*UVW_U_OFFSET 0.00000000\n"
                      "%s*UVW_V_OFFSET 0.00000000\n"
                      "%s*UVW_U_TILING 1.00000000\n"
                      "%s*UVW_V_TILING 1.00000000\n"
                      "%s*UVW_ANGLE 0.00000000\n"
                      "%s*UVW_BLUR 1.00000000\n"
                      "%s*UVW_BLUR_OFFSET 0.00000000\n"
                      "%s*UVW_NOUSE_AMT 1.00000000\n"
                      "%s*UVW_NOISE_SIZE 1.00000000\n"
                      "%s*UVW_NOISE_LEVEL 1\n"
                      "%s*UVW_NOISE_PHASE 0.00000000\n"
                      "%s*BITMAP_FILTER Pyramidal\n"
                      "%s}\n",
                      o, keyword, i, name, i, i, subNumber, i, i, bitmap, i, i, i, i, i, i, i, i, i, i, i, i, i, o);
}

// The "RGB Multiply" colour map of a two-layer texture with its layers.
int WriteMultiplyMap(ExportStream stream, const ExportOptions& options, int depth, HostLayeredTexture* layered) {
    const Indent outer(depth);
    const Indent inner(depth + 1);
    const char* o = outer.tabs;
    const char* i = inner.tabs;
    if (WritePiece(stream,
                   "%s*MAP_DIFFUSE {\n"
                   "%s*MAP_NAME \"Map #10\"\n"
                   "%s*MAP_CLASS \"RGB Multiply\"\n"
                   "%s*MAP_SUBNO 1\n"
                   "%s*MAP_AMOUNT 1.00000000\n",
                   o, i, i, i, i) != 1) {
        return 0;
    }
    if ((layered->layerFlags & kLayer0Present) != 0 &&
        WriteBitmapMap(stream, options, depth + 1, "MAP_GENERIC", "Map #11", 0, layered->layers[0].path) != 1) {
        return 0;
    }
    if ((layered->layerFlags & kLayer1Present) != 0 &&
        WriteBitmapMap(stream, options, depth + 1, "MAP_GENERIC", "Map #12", 1, layered->layers[1].path) != 1) {
        return 0;
    }
    return WritePiece(stream, "%s}\n", o);
}

int WriteTextureMaps(ExportStream stream, const ExportOptions& options, HostMaterial* material, int depth) {
    HostTexture* color = TextureOf(material, kTextureChannelColor);
    if (color != nullptr && color->kind == kTextureImage) {
        if (WriteBitmapMap(stream, options, depth, "MAP_DIFFUSE", "Map #0", 1, color->path.wide) != 1) return 0;
    } else {
        // The host is asked again, as it always has been.
        color = TextureOf(material, kTextureChannelColor);
        if (color != nullptr && color->kind == kTextureMultiply) {
            HostLayeredTexture* layered = LayeredTextureOf(color);
            if (layered->layers != nullptr && WriteMultiplyMap(stream, options, depth, layered) != 1) return 0;
        }
    }
    struct Channel {
        int channel;
        const char* keyword;
        const char* name;
    };
    static const Channel kOthers[] = {
        {kTextureChannelOpacity, "MAP_OPACITY", "Map #1"},
        {kTextureChannelBump, "MAP_BUMP", "Map #2"},
        {kTextureChannelSpecular, "MAP_SPECULAR", "Map #3"},
    };
    for (const Channel& c : kOthers) {
        HostTexture* texture = TextureOf(material, c.channel);
        if (texture != nullptr && texture->kind == kTextureImage &&
            WriteBitmapMap(stream, options, depth, c.keyword, c.name, 1, texture->path.wide) != 1) {
            return 0;
        }
    }
    return 1;
}

// One standard material block: the top-level *MATERIAL (depth 1, colour
// values separated by blanks) or a *SUBMATERIAL (depth 2, separated by tabs).
int WriteStandardBlock(ExportStream stream, const ExportOptions& options, bool subMaterial, int number,
                       const MaterialValues& m) {
    const char* o = subMaterial ? "\t\t" : "\t";
    const char* i = subMaterial ? "\t\t\t" : "\t\t";
    const char* keyword = subMaterial ? "SUBMATERIAL" : "MATERIAL";
    const char* s = subMaterial ? "\t" : " ";
    if (WritePiece(stream,
                   "%s*%s %d {\n"
                   "%s*MATERIAL_NAME \"%s\"\n"
                   "%s*MATERIAL_CLASS \"Standard\"\n"
                   "%s*MATERIAL_AMBIENT %f%s%f%s%f\n"
                   "%s*MATERIAL_DIFFUSE %f%s%f%s%f\n"
                   "%s*MATERIAL_SPECULAR %f%s%f%s%f\n"
                   "%s*MATERIAL_SHINE %f\n"
                   "%s*MATERIAL_SHINESTRENGTH 0.05000000\n"
                   "%s*MATERIAL_TRANSPARENCY %f\n"
                   "%s*MATERIAL_WIRESIZE 1.00000000\n"
                   "%s*MATERIAL_SHADING Blinn\n"
                   "%s*MATERIAL_XP_FALLOFF 0.00000000\n"
                   "%s*MATERIAL_SELFILLUM 0.00000000\n"
                   "%s*MATERIAL_FALLOFF In\n"
                   "%s*MATERIAL_XP_TYPE Filter\n",
                   o, keyword, number, i, m.name, i,                                                    //
                   i, double(m.ambient[0]), s, double(m.ambient[1]), s, double(m.ambient[2]),           //
                   i, double(m.diffuse[0]), s, double(m.diffuse[1]), s, double(m.diffuse[2]),           //
                   i, double(m.specular[0]), s, double(m.specular[1]), s, double(m.specular[2]),        //
                   i, double(m.shininess) * 0.0078125, i, i, 1.0 - double(m.opacity), i, i, i, i, i, i) != 1) {
        return 0;
    }
    if (m.twoSided && WritePiece(stream, "%s*MATERIAL_TWOSIDED\n", i) != 1) return 0;
    if (m.source != nullptr && WriteTextureMaps(stream, options, m.source, subMaterial ? 3 : 2) != 1) return 0;
    return WritePiece(stream, "%s}\n", o);
}

int WriteMultiMaterial(ExportStream stream, const ExportJob& job, const HostObject& object, int ordinal) {
    HostContext* context = job.context;
    if (WritePiece(stream,
                   "\t*MATERIAL %d {\n"
                   "\t\t*MATERIAL_NAME \"Material%d\"\n"
                   "\t\t*MATERIAL_CLASS \"Multi/Sub-Object\"\n"
                   "\t\t*MATERIAL_AMBIENT 0.00000000\t0.00000000\t0.00000000\n"
                   "\t\t*MATERIAL_DIFFUSE 1.00000000\t1.00000000\t1.00000000\n"
                   "\t\t*MATERIAL_SPECULAR 0.00000000\t0.00000000\t0.00000000\n"
                   "\t\t*MATERIAL_SHINE 0.00000000\n"
                   "\t\t*MATERIAL_SHINESTRENGTH 0.05000000\n"
                   "\t\t*MATERIAL_TRANSPARENCY 0.00000000\n"
                   "\t\t*MATERIAL_WIRESIZE 1.00000000\n"
                   "\t\t*NUMSUBMTLS %d\n",
                   ordinal, ordinal, object.materialRefCount) != 1) {
        return 0;
    }
    for (int k = 0; k < object.materialRefCount; ++k) {
        HostMaterial* material =
            object.materialRefs != nullptr ? MaterialAt(context, object.materialRefs[k].materialIndex) : nullptr;
        const DefaultName defaultName(ordinal, k);
        if (WriteStandardBlock(stream, job.options, true, k, ValuesOf(material, defaultName.text)) != 1) return 0;
    }
    return WritePiece(stream, "\t}\n");
}

}  // namespace

int WriteMaterial(ExportJob& job, std::FILE* stream, int objectIndex, int ordinal) {
    HostContext* context = job.context;
    if (stream == nullptr || context == nullptr || context->objects == nullptr || objectIndex < 0 ||
        objectIndex >= context->objectCount) {
        return 0;
    }
    const HostObject& object = context->objects[objectIndex];
    if (job.options.useMultiSubObjectMaterials == 1 || object.materialRefCount >= 2) {
        return WriteMultiMaterial(job.Stream(stream), job, object, ordinal);
    }
    HostMaterial* material = nullptr;
    if (object.materialRefCount == 1) {
        if (object.materialRefs != nullptr) material = MaterialAt(context, object.materialRefs[0].materialIndex);
    } else {
        material = MaterialAt(context, 0);
    }
    const DefaultName defaultName(ordinal, -1);
    return WriteStandardBlock(job.Stream(stream), job.options, false, ordinal, ValuesOf(material, defaultName.text));
}
