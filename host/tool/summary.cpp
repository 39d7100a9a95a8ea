// import's summary of a scene, as text: one line per material, map,
// object, bone, animation and track, numbers in their shortest exact form.
#include <charconv>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "host/store/text.h"
#include "host/tool/tool.h"

namespace asehost {

std::string Num(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

namespace {

// A vector as "(x, y, z)" in shortest exact numbers.
std::string Vec(const float* values, int count) {
    std::string out = "(";
    for (int k = 0; k < count; ++k) out += (k ? ", " : "") + Num(values[k]);
    return out + ")";
}

}  // namespace

std::string Utf8(const DualString& text) {
    return Utf16ToUtf8(WideOf(text));
}

std::string Visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

// One line per material, and one per map it holds.
void PrintMaterials(std::ostream& out, const HostContext& c) {
    static const char* const kChannels[kTextureChannels] = {"color", "opacity", "bump", "specular"};
    out << "materials: " << c.materialCount << "\n";
    for (int m = 0; m < c.materialCount; ++m) {
        const HostMaterial& material = c.materials[m];
        out << "  [" << m << "] \"" << Utf8(material.name) << "\" shininess " << Num(material.shininess) << " opacity "
            << Num(material.opacity) << ((material.flags & kMaterialTwoSided) ? " two-sided" : "") << "\n";
        for (int t = 0; t < kTextureChannels; ++t) {
            const HostTexture* texture = material.textures[t];
            if (!texture) continue;
            out << "      " << kChannels[t] << ": ";
            if (texture->kind == kTextureMultiply) {
                const HostLayeredTexture& layered = *reinterpret_cast<const HostLayeredTexture*>(texture);
                out << "multiply, layer flags " << int(layered.layerFlags);
                if (layered.layers) {
                    for (int k = 0; k < 2; ++k) out << " \"" << Utf16ToUtf8(layered.layers[k].path) << "\"";
                }
                out << "\n";
            } else {
                out << "image \"" << Utf8(texture->path) << "\"" << ((texture->flags & kTexturePathSet) ? "" : " (path not set)") << "\n";
            }
        }
    }
}

// Distinct vertices per object, counted over its faces: the corners
// bucketed by object, then each bucket counted against a stamp per vertex
// (linear, whichever objects share vertices). Corners naming no object or
// no vertex are not counted.
std::vector<int> DistinctVerticesPerObject(const HostContext& c) {
    std::vector<int> vertexCounts(static_cast<size_t>(c.objectCount), 0);
    // Calls visit(object, vertex) for every corner that names both.
    auto eachCorner = [&](auto&& visit) {
        for (int g = 0; g < c.faceGroupCount; ++g) {
            for (int f = 0; f < c.faceGroups[g].faceCount; ++f) {
                const HostFace& face = c.faceGroups[g].faces[f];
                if (face.objectIndex < 0 || face.objectIndex >= c.objectCount) continue;
                for (int k = 0; k < face.cornerCount; ++k) {
                    const int v = face.vertexIndices[k];
                    if (v >= 0 && v < c.vertexCount) visit(face.objectIndex, v);
                }
            }
        }
    };
    std::vector<size_t> starts(static_cast<size_t>(c.objectCount) + 1, 0);
    eachCorner([&](int o, int) { ++starts[static_cast<size_t>(o) + 1]; });
    for (size_t o = 0; o < static_cast<size_t>(c.objectCount); ++o) starts[o + 1] += starts[o];
    std::vector<int> corners(starts.back());
    std::vector<size_t> fill(starts.begin(), starts.end() - 1);
    eachCorner([&](int o, int v) { corners[fill[static_cast<size_t>(o)]++] = v; });
    std::vector<int> stamp(static_cast<size_t>(c.vertexCount), -1);
    for (size_t o = 0; o < static_cast<size_t>(c.objectCount); ++o) {
        for (size_t k = starts[o]; k < starts[o + 1]; ++k) {
            int& seen = stamp[static_cast<size_t>(corners[k])];
            if (seen == static_cast<int>(o)) continue;
            seen = static_cast<int>(o);
            ++vertexCounts[o];
        }
    }
    return vertexCounts;
}

// The vertex count, one line per object, and the face groups' totals.
void PrintObjects(std::ostream& out, const HostContext& c) {
    const std::vector<int> vertexCounts = DistinctVerticesPerObject(c);
    out << "vertices: " << c.vertexCount << "\n";
    out << "objects: " << c.objectCount << "\n";
    for (int o = 0; o < c.objectCount; ++o) {
        const HostObject& object = c.objects[o];
        out << "  [" << o << "] \"" << Utf8(object.name) << "\" vertices " << vertexCounts[static_cast<size_t>(o)] << " faces "
            << object.faceCount << " materials";
        for (int r = 0; r < object.materialRefCount; ++r) out << " " << object.materialRefs[r].materialIndex;
        out << "\n";
    }
    int faceTotal = 0;
    for (int g = 0; g < c.faceGroupCount; ++g) faceTotal += c.faceGroups[g].faceCount;
    out << "face groups: " << c.faceGroupCount << ", faces " << faceTotal << ", UVs " << c.uvStore->channels[0].count << " + "
        << c.uvStore->channels[1].count << "\n";
}

// One line per bone: its parent and rest pose.
void PrintBones(std::ostream& out, HostScene& scene) {
    out << "bones: " << scene.boneCount() << "\n";
    for (int b = 0; b < scene.boneCount(); ++b) {
        const HostBone& bone = scene.bones()[b];
        out << "  [" << b << "] \"" << Utf8(bone.name) << "\" parent " << bone.parentIndex << " translation " << Vec(bone.translation, 3)
            << " scale " << Vec(bone.scale, 3) << " rotation " << Vec(bone.rotation, 4) << "\n";
    }
}

// One line per animation, and one per track with its key counts.
void PrintAnimations(std::ostream& out, const HostContext& c) {
    out << "animations: " << c.animationCount << "\n";
    for (int a = 0; a < c.animationCount; ++a) {
        const HostAnimation& animation = c.animations[a];
        out << "  [" << a << "] \"" << Utf8(animation.name) << "\" frames " << Num(animation.frameCount) << " at " << Num(animation.frameRate)
            << " per second, tracks " << animation.trackCount << "\n";
        for (int t = 0; t < animation.trackCount; ++t) {
            const HostTrack& track = animation.tracks[t];
            out << "      track " << t << ": position " << track.positionKeyCount << ", rotation " << track.rotationKeyCount << ", scale "
                << track.scaleKeyCount << " keys\n";
        }
    }
}

}  // namespace

void PrintSummary(std::ostream& out, HostScene& scene) {
    const HostContext& c = *scene.context();
    PrintMaterials(out, c);
    PrintObjects(out, c);
    PrintBones(out, scene);
    PrintAnimations(out, c);
}
}  // namespace asehost
