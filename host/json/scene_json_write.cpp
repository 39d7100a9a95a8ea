// Writing the scene store's JSON form (layout in scene_json.h, keys from the
// one list in scene_keys.h): HostScene::saveJson and writeJson.
//
// The text goes out as it is made, through a small buffer, without a
// document in memory: a scene's text is several times the size of the scene.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <exception>

#include "host/store/scene_impl.h"
#include "host/json/scene_json.h"
#include "host/json/scene_keys.h"
#include "host/store/text.h"

namespace asehost {

namespace {

// A write to the file failed; what the caller is told.
struct WriteFailure {
    const char* what;
};

// The text's destination: a string that keeps all of it, or a file that the
// buffer is emptied into whenever it fills.
class Output {
public:
    explicit Output(std::string& text) : buffer_(text) {}
    Output(std::string& buffer, std::FILE* file) : buffer_(buffer), file_(file) { buffer_.reserve(kFlushAt + 4096); }

    void Put(char c) {
        buffer_ += c;
        if (file_ && buffer_.size() >= kFlushAt) Flush();
    }
    void Put(std::string_view text) {
        buffer_ += text;
        if (file_ && buffer_.size() >= kFlushAt) Flush();
    }
    // Empties the buffer into the file (no-op for a string).
    void Flush() {
        if (!file_) return;
        if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
            throw WriteFailure{"write failed"};
        }
        buffer_.clear();
    }

private:
    static constexpr size_t kFlushAt = 64 * 1024;
    std::string& buffer_;
    std::FILE* file_ = nullptr;
};

class Writer {
public:
    explicit Writer(Output& out) : out_(out) {}

    void Raw(std::string_view text) { out_.Put(text); }
    void Raw(char c) { out_.Put(c); }
    // "key": with the text of the one list of keys.
    void Key(SceneKey key) { out_.Put(InfoOf(key).quoted); }
    void Int(int64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out_.Put(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
    }
    // The shortest text that reads back as the same float; the non-finite
    // values as strings. -0 gets a fraction: "-0" is the integer 0 in JSON.
    void Num(float value) {
        if (value == 0.0f && std::signbit(value)) {
            out_.Put("-0.0");
        } else if (std::isnan(value)) {
            out_.Put("\"nan\"");
        } else if (std::isinf(value)) {
            out_.Put(value > 0 ? "\"inf\"" : "\"-inf\"");
        } else {
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
            out_.Put(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
        }
    }
    void Floats(const float* values, int count) {
        out_.Put('[');
        for (int k = 0; k < count; ++k) {
            if (k) out_.Put(',');
            Num(values[k]);
        }
        out_.Put(']');
    }
    void Uv(const HostUv& uv) {
        const float pair[2] = {uv.u, uv.v};
        Floats(pair, 2);
    }
    void Ints(const int* values, int count) {
        out_.Put('[');
        for (int k = 0; k < count; ++k) {
            if (k) out_.Put(',');
            Int(values[k]);
        }
        out_.Put(']');
    }
    void Text(const char16_t* wide, size_t capacity) {
        size_t length = 0;
        while (length < capacity && wide[length] != 0) ++length;
        const std::string text = Utf16ToUtf8(std::u16string_view(wide, length));
        out_.Put('"');
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                out_.Put('\\');
                out_.Put(static_cast<char>(c));
            } else if (c < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                const char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
                out_.Put(std::string_view(escape, 6));
            } else {
                out_.Put(static_cast<char>(c));
            }
        }
        out_.Put('"');
    }
    void Text(const DualString& text) { Text(text.wide, kDualStringUnits); }

    // "key": [ then one record per line, then ] — `each(i)` writes record i.
    template <class Each>
    void List(SceneKey key, size_t count, bool last, Each each) {
        out_.Put('\t');
        Key(key);
        if (count == 0) {
            out_.Put(" []");
        } else {
            out_.Put(" [\n");
            for (size_t i = 0; i < count; ++i) {
                out_.Put("\t\t");
                each(i);
                out_.Put(i + 1 < count ? ",\n" : "\n");
            }
            out_.Put("\t]");
        }
        out_.Put(last ? "\n" : ",\n");
    }

private:
    Output& out_;
};

// One JSON object on one line: each member call writes the separator, the
// key and the value; the destructor closes the object.
class Object {
public:
    explicit Object(Writer& w) : w_(w), unwinding_(std::uncaught_exceptions()) { w_.Raw('{'); }
    // Not while a failure unwinds the writer: the text is abandoned then.
    ~Object() noexcept(false) {
        if (std::uncaught_exceptions() == unwinding_) w_.Raw('}');
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // The key only; the caller writes the value.
    Writer& Member(SceneKey key) {
        if (!first_) w_.Raw(',');
        first_ = false;
        w_.Key(key);
        return w_;
    }
    void Int(SceneKey key, int64_t value) { Member(key).Int(value); }
    void Num(SceneKey key, float value) { Member(key).Num(value); }
    void Floats(SceneKey key, const float* values, int count) { Member(key).Floats(values, count); }
    void Ints(SceneKey key, const int* values, int count) { Member(key).Ints(values, count); }
    void Text(SceneKey key, const DualString& text) { Member(key).Text(text); }

private:
    Writer& w_;
    int unwinding_;
    bool first_ = true;
};

// [[a, b], ...] of `count` pairs that `pair(i, w)` writes without brackets.
template <class Pair>
void PairList(Writer& w, int count, Pair pair) {
    w.Raw('[');
    for (int k = 0; k < count; ++k) {
        w.Raw(k ? ",[" : "[");
        pair(k);
        w.Raw(']');
    }
    w.Raw(']');
}

// One texture of channel `channel`, the keys its kind has.
void WriteTexture(Writer& w, int channel, const HostTexture& texture) {
    Object o(w);
    o.Int(SceneKey::kTextureChannel, channel);
    o.Int(SceneKey::kTextureKind, texture.kind);
    o.Int(SceneKey::kTextureFlags, texture.flags);
    if (texture.kind != kTextureMultiply) {
        o.Text(SceneKey::kTexturePath, texture.path);
        return;
    }
    const HostLayeredTexture& layered = *reinterpret_cast<const HostLayeredTexture*>(&texture);
    o.Int(SceneKey::kTextureLayerFlags, layered.layerFlags);
    Writer& layers = o.Member(SceneKey::kTextureLayers);
    if (!layered.layers) {
        layers.Raw("null");
        return;
    }
    layers.Raw('[');
    layers.Text(layered.layers[0].path, kDualStringUnits);
    layers.Raw(',');
    layers.Text(layered.layers[1].path, kDualStringUnits);
    layers.Raw(']');
}

// One material with its textures, on one line.
void WriteMaterial(Writer& w, const HostMaterial& material) {
    Object o(w);
    o.Text(SceneKey::kMaterialName, material.name);
    o.Int(SceneKey::kMaterialFlags, material.flags);
    o.Floats(SceneKey::kMaterialDiffuse, material.diffuse, 3);
    o.Floats(SceneKey::kMaterialAmbient, material.ambient, 3);
    o.Floats(SceneKey::kMaterialSpecular, material.specular, 3);
    o.Num(SceneKey::kMaterialShininess, material.shininess);
    o.Num(SceneKey::kMaterialOpacity, material.opacity);
    o.Member(SceneKey::kMaterialTextures).Raw('[');
    bool first = true;
    for (int c = 0; c < kTextureChannels; ++c) {
        if (!material.textures[c]) continue;
        if (!first) w.Raw(',');
        first = false;
        WriteTexture(w, c, *material.textures[c]);
    }
    w.Raw(']');
}

// One vertex with its weights, on one line.
void WriteVertex(Writer& w, const HostVertex& vertex) {
    Object o(w);
    o.Floats(SceneKey::kVertexPosition, vertex.position, 3);
    o.Floats(SceneKey::kVertexNormal, vertex.normal, 3);
    o.Floats(SceneKey::kVertexColor, vertex.color, 4);
    PairList(o.Member(SceneKey::kVertexWeights), vertex.weightCount, [&](int k) {
        w.Int(vertex.weights[k].boneIndex);
        w.Raw(',');
        w.Num(vertex.weights[k].weight);
    });
}

// One object with its material references, on one line.
void WriteObject(Writer& w, const HostObject& object) {
    Object o(w);
    o.Text(SceneKey::kObjectName, object.name);
    o.Int(SceneKey::kObjectFaceCount, object.faceCount);
    PairList(o.Member(SceneKey::kObjectMaterialRefs), object.materialRefCount, [&](int r) {
        w.Int(object.materialRefs[r].materialIndex);
        w.Raw(',');
        w.Int(object.materialRefs[r].faceCount);
    });
}

// One face with both UV channels, on one line.
void WriteFace(Writer& w, const HostFace& face) {
    Object o(w);
    o.Int(SceneKey::kFaceMaterialIndex, face.materialIndex);
    o.Int(SceneKey::kFaceObjectIndex, face.objectIndex);
    o.Int(SceneKey::kFaceSmoothingGroup, face.smoothingGroup);
    o.Floats(SceneKey::kFaceNormal, face.normal, 3);
    o.Ints(SceneKey::kFaceVertexIndices, face.vertexIndices, face.cornerCount);
    o.Member(SceneKey::kFaceUvChannels).Raw('[');
    for (int c = 0; c < kUvChannels; ++c) {
        const HostFaceUvChannel& channel = face.uvData->channels[c];
        if (c) w.Raw(',');
        Object ch(w);
        ch.Ints(SceneKey::kFaceUvChannelUvIndices, channel.uvIndices, face.cornerCount);
        ch.Member(SceneKey::kFaceUvChannelCornerUvs).Raw('[');
        for (int k = 0; k < face.cornerCount; ++k) {
            if (k) w.Raw(',');
            w.Uv(channel.cornerUvs[k]);
        }
        w.Raw(']');
    }
    w.Raw(']');
}

// One bone, on one line.
void WriteBone(Writer& w, const HostBone& bone) {
    Object o(w);
    o.Text(SceneKey::kBoneName, bone.name);
    o.Int(SceneKey::kBoneParentIndex, bone.parentIndex);
    o.Floats(SceneKey::kBoneTranslation, bone.translation, 3);
    o.Floats(SceneKey::kBoneScale, bone.scale, 3);
    o.Floats(SceneKey::kBoneRotation, bone.rotation, 4);
}

// The member `name` of a track: its keys as [time, values...] lists.
template <class Key>
void WriteKeys(Object& o, SceneKey name, const Key* keys, int count) {
    Writer& w = o.Member(name);
    PairList(w, count, [&](int k) {
        w.Num(keys[k].time);
        for (float value : keys[k].value) {
            w.Raw(',');
            w.Num(value);
        }
    });
}

// One animation, a line per track.
void WriteAnimation(Writer& w, const HostAnimation& animation) {
    Object o(w);
    o.Text(SceneKey::kAnimationName, animation.name);
    o.Int(SceneKey::kAnimationFlags, animation.flags);
    o.Num(SceneKey::kAnimationFrameCount, animation.frameCount);
    o.Num(SceneKey::kAnimationFrameRate, animation.frameRate);
    o.Member(SceneKey::kAnimationTracks).Raw('[');
    for (int t = 0; t < animation.trackCount; ++t) {
        const HostTrack& track = animation.tracks[t];
        w.Raw(t ? ",\n\t\t\t" : "\n\t\t\t");
        Object keys(w);
        WriteKeys(keys, SceneKey::kTrackPositionKeys, track.positionKeys, track.positionKeyCount);
        WriteKeys(keys, SceneKey::kTrackRotationKeys, track.rotationKeys, track.rotationKeyCount);
        WriteKeys(keys, SceneKey::kTrackScaleKeys, track.scaleKeys, track.scaleKeyCount);
    }
    w.Raw(animation.trackCount > 0 ? "\n\t\t]" : "]");
}

// The whole scene in the layout of scene_json.h, the keys in the order of
// scene_keys.h, a record per line.
void WriteScene(const HostScene::Impl& impl, Output& out) {
    Writer w(out);
    w.Raw("{\n\t");
    w.Key(SceneKey::kSceneFormat);
    w.Raw(" \"");
    w.Raw(kSceneJsonFormat);
    w.Raw("\",\n");
    w.List(SceneKey::kSceneMaterials, impl.materials.size(), false, [&](size_t m) { WriteMaterial(w, impl.materials[m]); });
    w.List(SceneKey::kSceneVertices, impl.vertices.size(), false, [&](size_t v) { WriteVertex(w, impl.vertices[v]); });
    w.List(SceneKey::kSceneUvStore, kUvChannels, false, [&](size_t c) {
        const auto& channel = impl.storeUvs[c];
        w.Raw('[');
        for (size_t k = 0; k < channel.size(); ++k) {
            if (k) w.Raw(',');
            w.Uv(channel[k]);
        }
        w.Raw(']');
    });
    w.List(SceneKey::kSceneObjects, impl.objects.size(), false, [&](size_t o) { WriteObject(w, impl.objects[o]); });
    // Face groups: one face per line inside each group.
    w.Raw('\t');
    w.Key(SceneKey::kSceneFaceGroups);
    w.Raw(impl.groupStores.empty() ? " []" : " [\n");
    for (size_t g = 0; g < impl.groupStores.size(); ++g) {
        const FaceStore& faces = impl.groupStores[g];
        w.Raw("\t\t{");
        w.Key(SceneKey::kFaceGroupFaces);
        w.Raw(" [");
        for (size_t f = 0; f < faces.faceCount; ++f) {
            w.Raw(f ? ",\n\t\t\t" : "\n\t\t\t");
            WriteFace(w, faces.faces[f]);
        }
        w.Raw(faces.faceCount == 0 ? "]}" : "\n\t\t]}");
        w.Raw(g + 1 < impl.groupStores.size() ? ",\n" : "\n\t]");
    }
    w.Raw(",\n");
    w.List(SceneKey::kSceneBones, impl.bones.size(), false, [&](size_t b) { WriteBone(w, impl.bones[b]); });
    w.List(SceneKey::kSceneAnimations, impl.animations.size(), true, [&](size_t a) { WriteAnimation(w, impl.animations[a]); });
    w.Raw("}\n");
}

}  // namespace

std::string HostScene::saveJson() const {
    std::string text;
    Output out(text);
    WriteScene(*impl_, out);
    return text;
}

bool HostScene::writeJson(std::FILE* file, std::string& error) const {
    try {
        std::string buffer;
        Output out(buffer, file);
        WriteScene(*impl_, out);
        out.Flush();
        if (std::fflush(file) != 0 || std::ferror(file)) throw WriteFailure{"write failed"};
        error.clear();
        return true;
    } catch (const WriteFailure& failure) {
        error = failure.what;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::length_error&) {
        error = "out of memory";
    }
    return false;
}

}  // namespace asehost
