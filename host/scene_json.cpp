// The scene store's JSON form.
//
// One object; keys in this order (every key may be missing when its list is
// empty; unknown keys are rejected so that a misspelt key is not silently
// ignored):
//
//   "materials": [ {
//       "name": text, "flags": unsigned,
//       "diffuse": [r, g, b], "ambient": [r, g, b], "specular": [r, g, b],
//       "shininess": number, "opacity": number,
//       "textures": [ { "channel": 0..3, "kind": 1 | 4, "flags": unsigned,
//                       "path": text,                         (kind 1)
//                       "layerFlags": 0..255,                 (kind 4)
//                       "layers": null | [text, text] } ] } ] (kind 4)
//   "vertices": [ { "position": [x, y, z], "normal": [x, y, z],
//                   "color": [r, g, b, a],
//                   "weights": [ [boneIndex, weight], ... ] } ]
//   "uvStore": [ [ [u, v], ... ], [ [u, v], ... ] ]   (channel 0, channel 1)
//   "objects": [ { "name": text, "faceCount": int,
//                  "materialRefs": [ [materialIndex, faceCount], ... ] } ]
//   "faceGroups": [ { "faces": [ {
//       "materialIndex": int (-1 = none), "objectIndex": int (-1 = none),
//       "smoothingGroup": int, "normal": [x, y, z],
//       "vertexIndices": [int, ...]               (any number of corners)
//       "uvChannels": [ { "uvIndices": [int, ...], "cornerUvs": [[u, v], ...] },
//                       { ... channel 1 ... } ] } ] } ]
//   "bones": [ { "name": text, "parentIndex": int (-1 = root),
//                "translation": [x, y, z], "scale": [x, y, z],
//                "rotation": [x, y, z, w] } ]
//   "animations": [ { "name": text, "flags": int, "frameCount": number,
//                     "frameRate": number,
//                     "tracks": [ { "positionKeys": [ [t, x, y, z], ... ],
//                                   "rotationKeys": [ [t, x, y, z, w], ... ],
//                                   "scaleKeys": [ [t, x, y, z], ... ] } ] } ]
//
// Texts are UTF-8 and become the wide part of a DualString (at most 259
// UTF-16 units); the narrow part is made from it. Numbers are written in the
// shortest form that reads back to the same 32-bit float; the non-finite
// values are written as the strings "nan", "inf" and "-inf" and read back from
// them.
//
// Both UV views: without "uvStore" the store and every face's uvIndices are
// built from the cornerUvs (equal values share an entry) and uvIndices must be
// absent. With "uvStore" every face names, per channel, one uvIndex per corner
// inside the store; cornerUvs may then be left out and are filled from the
// store.
//
// Optional keys of a face take the defaults of AllocateFaces; of a vertex
// those of AllocateVertices. An object's "faceCount" and "materialRefs" are
// derived from the faces; when given they must agree with what is derived.
// Saving writes every key.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include <nlohmann/json.hpp>

#include "host/scene_impl.h"
#include "host/text.h"

namespace asehost {

namespace {

using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;

// A load failure: the message names the offending place.
struct LoadError {
    std::string message;
};

// Where in the document a value sits, e.g. faceGroups[0].faces[3]. A plain
// value without allocation: the text is made only for a failure message.
class Path {
public:
    Path(const char* key) { Push(key, 0); }  // NOLINT: implicit by design

    Path At(const char* key) const {
        Path next = *this;
        next.Push(key, 0);
        return next;
    }
    Path At(size_t index) const {
        Path next = *this;
        next.Push(nullptr, index);
        return next;
    }
    std::string Text() const {
        std::string text;
        for (int i = 0; i < count_; ++i) {
            if (segments_[i].key) {
                if (i > 0) text += '.';
                text += segments_[i].key;
            } else {
                text += "[" + std::to_string(segments_[i].index) + "]";
            }
        }
        return text;
    }

private:
    void Push(const char* key, size_t index) {
        // Deeper than any place in the layout: keep the outer part.
        if (count_ < kDepth) segments_[count_++] = Segment{key, index};
    }
    struct Segment {
        const char* key;
        size_t index;
    };
    static constexpr int kDepth = 12;
    Segment segments_[kDepth] = {};
    int count_ = 0;
};

[[noreturn]] void Fail(const Path& where, const std::string& what) {
    throw LoadError{where.Text() + ": " + what};
}

Path At(const Path& where, const char* key) {
    return where.At(key);
}
Path At(const Path& where, size_t index) {
    return where.At(index);
}

// --- Reading ------------------------------------------------------------------

const Json* Member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

void RequireObject(const Json& value, const Path& where, std::initializer_list<const char*> keys) {
    if (!value.is_object()) Fail(where, "expected an object");
    for (auto it = value.begin(); it != value.end(); ++it) {
        bool known = false;
        for (const char* key : keys) known = known || it.key() == key;
        if (!known) Fail(where, "unknown key \"" + it.key() + "\"");
    }
}

const Json& RequireArray(const Json& value, const Path& where) {
    if (!value.is_array()) Fail(where, "expected an array");
    return value;
}

int64_t ReadInteger(const Json& value, const Path& where, int64_t low, int64_t high) {
    int64_t result = 0;
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const uint64_t u = value.get<uint64_t>();
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Fail(where, "integer out of range");
            result = static_cast<int64_t>(u);
        } else {
            result = value.get<int64_t>();
        }
    } else {
        Fail(where, "expected an integer");
    }
    if (result < low || result > high) {
        Fail(where, std::to_string(result) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    return result;
}

int ReadInt(const Json& value, const Path& where, int64_t low = INT32_MIN, int64_t high = INT32_MAX) {
    return static_cast<int>(ReadInteger(value, where, low, high));
}

float ReadFloat(const Json& value, const Path& where) {
    if (value.is_number()) return value.get<float>();
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text == "nan") return std::numeric_limits<float>::quiet_NaN();
        if (text == "inf") return std::numeric_limits<float>::infinity();
        if (text == "-inf") return -std::numeric_limits<float>::infinity();
    }
    Fail(where, "expected a number");
}

void ReadFloats(const Json& value, const Path& where, float* out, int count) {
    RequireArray(value, where);
    if (value.size() != static_cast<size_t>(count)) Fail(where, "expected " + std::to_string(count) + " numbers");
    for (int k = 0; k < count; ++k) out[k] = ReadFloat(value[static_cast<size_t>(k)], At(where, static_cast<size_t>(k)));
}

std::u16string ReadText(const Json& value, const Path& where) {
    if (!value.is_string()) Fail(where, "expected a text");
    std::u16string wide;
    if (!Utf8ToUtf16(value.get_ref<const std::string&>(), wide)) Fail(where, "text is not valid UTF-8");
    if (wide.size() >= static_cast<size_t>(kDualStringUnits)) Fail(where, "text longer than 259 UTF-16 units");
    if (wide.find(u'\0') != std::u16string::npos) Fail(where, "text holds a NUL character");
    return wide;
}

void ReadDualString(const Json& object, const char* key, const Path& where, DualString& out) {
    if (const Json* value = Member(object, key)) SetDualString(out, ReadText(*value, At(where, key)));
}

void ReadUvPair(const Json& value, const Path& where, HostUv& out) {
    float pair[2];
    ReadFloats(value, where, pair, 2);
    out.u = pair[0];
    out.v = pair[1];
}

void ReadKey(const Json& value, const Path& where, HostVectorKey& key) {
    float values[4];
    ReadFloats(value, where, values, 4);
    key.time = values[0];
    std::copy_n(values + 1, 3, key.value);
}

void ReadKey(const Json& value, const Path& where, HostRotationKey& key) {
    float values[5];
    ReadFloats(value, where, values, 5);
    key.time = values[0];
    std::copy_n(values + 1, 4, key.value);
}

template <class Key>
void ReadKeys(const Json* value, const Path& where, std::vector<Key>& keys) {
    keys.clear();
    if (!value) return;
    RequireArray(*value, where);
    keys.resize(value->size());
    for (size_t k = 0; k < keys.size(); ++k) ReadKey((*value)[k], At(where, k), keys[k]);
}

// Reads the whole scene into `impl`, which starts empty.
void Load(HostScene::Impl& impl, const Json& root) {
    RequireObject(root, "scene", {"materials", "vertices", "uvStore", "objects", "faceGroups", "bones", "animations"});

    // Bones first: weights name them.
    if (const Json* bones = Member(root, "bones")) {
        RequireArray(*bones, "bones");
        for (size_t b = 0; b < bones->size(); ++b) impl.AppendBone(nullptr);
        for (size_t b = 0; b < bones->size(); ++b) {
            const Path where = At("bones", b);
            const Json& item = (*bones)[b];
            RequireObject(item, where, {"name", "parentIndex", "translation", "scale", "rotation"});
            HostBone& bone = impl.bones[b];
            ReadDualString(item, "name", where, bone.name);
            if (const Json* v = Member(item, "parentIndex")) {
                bone.parentIndex = ReadInt(*v, At(where, "parentIndex"), -1, static_cast<int64_t>(bones->size()) - 1);
                if (bone.parentIndex == static_cast<int>(b)) Fail(At(where, "parentIndex"), "a bone cannot be its own parent");
            }
            if (const Json* v = Member(item, "translation")) ReadFloats(*v, At(where, "translation"), bone.translation, 3);
            if (const Json* v = Member(item, "scale")) ReadFloats(*v, At(where, "scale"), bone.scale, 3);
            if (const Json* v = Member(item, "rotation")) ReadFloats(*v, At(where, "rotation"), bone.rotation, 4);
        }
    }

    if (const Json* materials = Member(root, "materials")) {
        RequireArray(*materials, "materials");
        for (size_t m = 0; m < materials->size(); ++m) {
            const Path where = At("materials", m);
            const Json& item = (*materials)[m];
            RequireObject(item, where, {"name", "flags", "diffuse", "ambient", "specular", "shininess", "opacity", "textures"});
            impl.AppendMaterial(nullptr);
            HostMaterial& material = impl.materials[m];
            ReadDualString(item, "name", where, material.name);
            if (const Json* v = Member(item, "flags")) material.flags = static_cast<uint32_t>(ReadInteger(*v, At(where, "flags"), 0, UINT32_MAX));
            if (const Json* v = Member(item, "diffuse")) ReadFloats(*v, At(where, "diffuse"), material.diffuse, 3);
            if (const Json* v = Member(item, "ambient")) ReadFloats(*v, At(where, "ambient"), material.ambient, 3);
            if (const Json* v = Member(item, "specular")) ReadFloats(*v, At(where, "specular"), material.specular, 3);
            if (const Json* v = Member(item, "shininess")) material.shininess = ReadFloat(*v, At(where, "shininess"));
            if (const Json* v = Member(item, "opacity")) material.opacity = ReadFloat(*v, At(where, "opacity"));
            const Json* textures = Member(item, "textures");
            if (!textures) continue;
            RequireArray(*textures, At(where, "textures"));
            for (size_t t = 0; t < textures->size(); ++t) {
                const Path at = At(At(where, "textures"), t);
                const Json& entry = (*textures)[t];
                RequireObject(entry, at, {"channel", "kind", "flags", "path", "layerFlags", "layers"});
                const Json* channelValue = Member(entry, "channel");
                const Json* kindValue = Member(entry, "kind");
                if (!channelValue || !kindValue) Fail(at, "a texture needs \"channel\" and \"kind\"");
                const int channel = ReadInt(*channelValue, At(at, "channel"), 0, kTextureChannels - 1);
                const int kind = ReadInt(*kindValue, At(at, "kind"), kTextureImage, kTextureMultiply);
                if (kind != kTextureImage && kind != kTextureMultiply) Fail(At(at, "kind"), "kind must be 1 (image) or 4 (multiply)");
                if (material.textures[channel]) Fail(At(at, "channel"), "channel " + std::to_string(channel) + " already has a texture");
                HostTexture* texture = impl.SetTexture(static_cast<int>(m), channel, kind);
                if (const Json* v = Member(entry, "flags")) texture->flags = static_cast<uint32_t>(ReadInteger(*v, At(at, "flags"), 0, UINT32_MAX));
                HostLayeredTexture& layered = *LayeredTextureOf(texture);
                if (kind == kTextureImage) {
                    if (Member(entry, "layerFlags") || Member(entry, "layers")) Fail(at, "an image texture has no layers");
                    ReadDualString(entry, "path", at, texture->path);
                    continue;
                }
                if (Member(entry, "path")) Fail(at, "a multiply texture has no path of its own");
                if (const Json* v = Member(entry, "layerFlags")) layered.layerFlags = static_cast<uint8_t>(ReadInt(*v, At(at, "layerFlags"), 0, 255));
                const Json* layers = Member(entry, "layers");
                if (!layers || layers->is_null()) {
                    layered.layers = nullptr;
                    continue;
                }
                RequireArray(*layers, At(at, "layers"));
                if (layers->size() != 2) Fail(At(at, "layers"), "expected two layer paths");
                for (size_t k = 0; k < 2; ++k) {
                    const std::u16string path = ReadText((*layers)[k], At(At(at, "layers"), k));
                    std::copy(path.begin(), path.end(), layered.layers[k].path);
                    layered.layers[k].path[path.size()] = 0;
                }
            }
        }
    }

    if (const Json* vertices = Member(root, "vertices")) {
        RequireArray(*vertices, "vertices");
        if (vertices->size() > static_cast<size_t>(INT32_MAX)) Fail("vertices", "too many vertices");
        impl.ResizeVertices(static_cast<int>(vertices->size()));
        for (size_t i = 0; i < vertices->size(); ++i) {
            const Path where = At("vertices", i);
            const Json& item = (*vertices)[i];
            RequireObject(item, where, {"position", "normal", "color", "weights"});
            HostVertex& vertex = impl.vertices[i];
            if (const Json* v = Member(item, "position")) ReadFloats(*v, At(where, "position"), vertex.position, 3);
            if (const Json* v = Member(item, "normal")) ReadFloats(*v, At(where, "normal"), vertex.normal, 3);
            if (const Json* v = Member(item, "color")) ReadFloats(*v, At(where, "color"), vertex.color, 4);
            const Json* weights = Member(item, "weights");
            if (!weights) continue;
            RequireArray(*weights, At(where, "weights"));
            if (weights->size() > static_cast<size_t>(INT32_MAX)) Fail(At(where, "weights"), "too many weights");
            impl.SetWeights(static_cast<int>(i), static_cast<int>(weights->size()));
            for (size_t w = 0; w < weights->size(); ++w) {
                const Path at = At(At(where, "weights"), w);
                const Json& pair = RequireArray((*weights)[w], at);
                if (pair.size() != 2) Fail(at, "expected [boneIndex, weight]");
                vertex.weights[w].boneIndex = ReadInt(pair[0], At(at, size_t{0}), -1, static_cast<int64_t>(impl.bones.size()) - 1);
                vertex.weights[w].weight = ReadFloat(pair[1], At(at, size_t{1}));
            }
        }
    }

    const Json* uvStore = Member(root, "uvStore");
    if (uvStore) {
        RequireArray(*uvStore, "uvStore");
        if (uvStore->size() != kUvChannels) Fail("uvStore", "expected two channels");
        for (size_t c = 0; c < kUvChannels; ++c) {
            const Path where = At("uvStore", c);
            const Json& channel = RequireArray((*uvStore)[c], where);
            if (channel.size() > static_cast<size_t>(INT32_MAX)) Fail(where, "too many entries");
            impl.storeUvs[c].assign(channel.size(), HostUv{0, 0.0f, 0.0f, -1});
            for (size_t k = 0; k < channel.size(); ++k) ReadUvPair(channel[k], At(where, k), impl.storeUvs[c][k]);
        }
    }

    struct ObjectClaim {
        const Json* faceCount = nullptr;
        const Json* materialRefs = nullptr;
    };
    std::vector<ObjectClaim> claims;
    if (const Json* objects = Member(root, "objects")) {
        RequireArray(*objects, "objects");
        for (size_t o = 0; o < objects->size(); ++o) {
            const Path where = At("objects", o);
            const Json& item = (*objects)[o];
            RequireObject(item, where, {"name", "faceCount", "materialRefs"});
            impl.AppendObject(nullptr);
            ReadDualString(item, "name", where, impl.objects[o].name);
            claims.push_back(ObjectClaim{Member(item, "faceCount"), Member(item, "materialRefs")});
        }
    }

    if (const Json* groups = Member(root, "faceGroups")) {
        RequireArray(*groups, "faceGroups");
        for (size_t g = 0; g < groups->size(); ++g) {
            const Path where = At("faceGroups", g);
            const Json& item = (*groups)[g];
            RequireObject(item, where, {"faces"});
            impl.AppendFaceGroup();
            const Json* faces = Member(item, "faces");
            if (!faces) continue;
            RequireArray(*faces, At(where, "faces"));
            if (faces->size() > static_cast<size_t>(INT32_MAX)) Fail(At(where, "faces"), "too many faces");
            std::vector<int> cornerCounts(faces->size(), 0);
            for (size_t f = 0; f < faces->size(); ++f) {
                const Path at = At(At(where, "faces"), f);
                RequireObject((*faces)[f], at, {"materialIndex", "objectIndex", "smoothingGroup", "normal", "vertexIndices", "uvChannels"});
                const Json* indices = Member((*faces)[f], "vertexIndices");
                if (!indices) Fail(at, "a face needs \"vertexIndices\"");
                RequireArray(*indices, At(at, "vertexIndices"));
                if (indices->size() > static_cast<size_t>(INT32_MAX) / 8) Fail(At(at, "vertexIndices"), "too many corners");
                cornerCounts[f] = static_cast<int>(indices->size());
            }
            impl.InstallFaces(static_cast<int>(g), MakeFaceStore(cornerCounts));
            FaceStore& store = impl.groupStores[g];
            for (size_t f = 0; f < faces->size(); ++f) {
                const Path at = At(At(where, "faces"), f);
                const Json& entry = (*faces)[f];
                HostFace& face = store.faces[f];
                if (const Json* v = Member(entry, "materialIndex")) {
                    face.materialIndex = ReadInt(*v, At(at, "materialIndex"), -1, static_cast<int64_t>(impl.materials.size()) - 1);
                }
                if (const Json* v = Member(entry, "objectIndex")) {
                    face.objectIndex = ReadInt(*v, At(at, "objectIndex"), -1, static_cast<int64_t>(impl.objects.size()) - 1);
                }
                if (const Json* v = Member(entry, "smoothingGroup")) face.smoothingGroup = ReadInt(*v, At(at, "smoothingGroup"));
                if (const Json* v = Member(entry, "normal")) ReadFloats(*v, At(at, "normal"), face.normal, 3);
                const Json& indices = *Member(entry, "vertexIndices");
                for (int k = 0; k < face.cornerCount; ++k) {
                    face.vertexIndices[k] = ReadInt(indices[static_cast<size_t>(k)], At(At(at, "vertexIndices"), static_cast<size_t>(k)), 0,
                                                    static_cast<int64_t>(impl.vertices.size()) - 1);
                }
                const Json* channels = Member(entry, "uvChannels");
                if (!channels) {
                    if (uvStore && face.cornerCount > 0) Fail(at, "with a \"uvStore\" every face needs \"uvChannels\" with \"uvIndices\"");
                    continue;
                }
                RequireArray(*channels, At(at, "uvChannels"));
                if (channels->size() != kUvChannels) Fail(At(at, "uvChannels"), "expected two channels");
                for (size_t c = 0; c < kUvChannels; ++c) {
                    const Path ch = At(At(at, "uvChannels"), c);
                    const Json& channel = (*channels)[c];
                    RequireObject(channel, ch, {"uvIndices", "cornerUvs"});
                    HostFaceUvChannel& out = face.uvData->channels[c];
                    const Json* uvIndices = Member(channel, "uvIndices");
                    if (uvIndices && !uvStore) Fail(At(ch, "uvIndices"), "uvIndices need a \"uvStore\"");
                    if (!uvIndices && uvStore && face.cornerCount > 0) Fail(ch, "with a \"uvStore\" every face needs \"uvIndices\"");
                    if (uvIndices) {
                        RequireArray(*uvIndices, At(ch, "uvIndices"));
                        if (uvIndices->size() != static_cast<size_t>(face.cornerCount)) Fail(At(ch, "uvIndices"), "expected one index per corner");
                        const int64_t last = static_cast<int64_t>(impl.storeUvs[c].size()) - 1;
                        for (int k = 0; k < face.cornerCount; ++k) {
                            const int index = ReadInt((*uvIndices)[static_cast<size_t>(k)], At(At(ch, "uvIndices"), static_cast<size_t>(k)), 0, last);
                            out.uvIndices[k] = index;
                            out.cornerUvs[k] = impl.storeUvs[c][static_cast<size_t>(index)];
                        }
                    }
                    if (const Json* corners = Member(channel, "cornerUvs")) {
                        RequireArray(*corners, At(ch, "cornerUvs"));
                        if (corners->size() != static_cast<size_t>(face.cornerCount)) Fail(At(ch, "cornerUvs"), "expected one UV per corner");
                        for (int k = 0; k < face.cornerCount; ++k) {
                            ReadUvPair((*corners)[static_cast<size_t>(k)], At(At(ch, "cornerUvs"), static_cast<size_t>(k)), out.cornerUvs[k]);
                        }
                    }
                }
            }
        }
    }

    if (uvStore) {
        impl.RebuildObjectRefs();
        impl.SyncContext();
    } else {
        impl.RebuildUvStore();
        impl.RebuildObjectRefs();
    }

    // What the file claims about its objects must agree with its faces.
    for (size_t o = 0; o < claims.size(); ++o) {
        const Path where = At("objects", o);
        const HostObject& object = impl.objects[o];
        if (claims[o].faceCount) {
            const int claimed = ReadInt(*claims[o].faceCount, At(where, "faceCount"));
            if (claimed != object.faceCount) {
                Fail(At(where, "faceCount"), std::to_string(claimed) + " does not match the " + std::to_string(object.faceCount) + " faces that name the object");
            }
        }
        if (const Json* refs = claims[o].materialRefs) {
            RequireArray(*refs, At(where, "materialRefs"));
            bool same = refs->size() == static_cast<size_t>(object.materialRefCount);
            for (size_t r = 0; same && r < refs->size(); ++r) {
                const Path at = At(At(where, "materialRefs"), r);
                const Json& pair = RequireArray((*refs)[r], at);
                if (pair.size() != 2) Fail(at, "expected [materialIndex, faceCount]");
                same = ReadInt(pair[0], At(at, size_t{0})) == object.materialRefs[r].materialIndex &&
                       ReadInt(pair[1], At(at, size_t{1})) == object.materialRefs[r].faceCount;
            }
            if (!same) Fail(At(where, "materialRefs"), "does not match the materials the object's faces use, in first-use order");
        }
    }

    if (const Json* animations = Member(root, "animations")) {
        RequireArray(*animations, "animations");
        for (size_t a = 0; a < animations->size(); ++a) {
            const Path where = At("animations", a);
            const Json& item = (*animations)[a];
            RequireObject(item, where, {"name", "flags", "frameCount", "frameRate", "tracks"});
            impl.AppendAnimation(nullptr);
            HostAnimation& animation = impl.animations[a];
            ReadDualString(item, "name", where, animation.name);
            if (const Json* v = Member(item, "flags")) animation.flags = ReadInt(*v, At(where, "flags"));
            if (const Json* v = Member(item, "frameCount")) animation.frameCount = ReadFloat(*v, At(where, "frameCount"));
            if (const Json* v = Member(item, "frameRate")) animation.frameRate = ReadFloat(*v, At(where, "frameRate"));
            const Json* tracks = Member(item, "tracks");
            if (!tracks) continue;
            RequireArray(*tracks, At(where, "tracks"));
            if (tracks->size() > static_cast<size_t>(INT32_MAX)) Fail(At(where, "tracks"), "too many tracks");
            impl.SetTracks(static_cast<int>(a), static_cast<int>(tracks->size()));
            AnimationStore& store = *impl.animationStores[a];
            for (size_t t = 0; t < tracks->size(); ++t) {
                const Path at = At(At(where, "tracks"), t);
                const Json& entry = (*tracks)[t];
                RequireObject(entry, at, {"positionKeys", "rotationKeys", "scaleKeys"});
                TrackStore& keys = store.keys[t];
                ReadKeys(Member(entry, "positionKeys"), At(at, "positionKeys"), keys.position);
                ReadKeys(Member(entry, "rotationKeys"), At(at, "rotationKeys"), keys.rotation);
                ReadKeys(Member(entry, "scaleKeys"), At(at, "scaleKeys"), keys.scale);
                HostTrack& track = store.tracks[t];
                track.positionKeys = keys.position.empty() ? nullptr : keys.position.data();
                track.positionKeyCount = static_cast<int>(keys.position.size());
                track.rotationKeys = keys.rotation.empty() ? nullptr : keys.rotation.data();
                track.rotationKeyCount = static_cast<int>(keys.rotation.size());
                track.scaleKeys = keys.scale.empty() ? nullptr : keys.scale.data();
                track.scaleKeyCount = static_cast<int>(keys.scale.size());
            }
        }
    }
    impl.SyncContext();
}

// Writes the JSON text directly, without a document in memory: a scene's
// text is several times the size of the scene already.
class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void Raw(std::string_view text) { out_ += text; }
    void Key(const char* key) {
        out_ += '"';
        out_ += key;
        out_ += "\":";
    }
    void Int(int64_t value) { out_ += std::to_string(value); }
    // The shortest text that reads back as the same float; the non-finite
    // values as strings.
    void Num(float value) {
        if (std::isnan(value)) {
            out_ += "\"nan\"";
        } else if (std::isinf(value)) {
            out_ += value > 0 ? "\"inf\"" : "\"-inf\"";
        } else {
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
            out_.append(buffer, result.ptr);
        }
    }
    void Floats(std::initializer_list<float> values) {
        out_ += '[';
        bool first = true;
        for (float value : values) {
            if (!first) out_ += ',';
            first = false;
            Num(value);
        }
        out_ += ']';
    }
    void Floats(const float* values, int count) {
        out_ += '[';
        for (int k = 0; k < count; ++k) {
            if (k) out_ += ',';
            Num(values[k]);
        }
        out_ += ']';
    }
    void Text(const char16_t* wide, size_t capacity) {
        size_t length = 0;
        while (length < capacity && wide[length] != 0) ++length;
        const std::string text = Utf16ToUtf8(std::u16string_view(wide, length));
        out_ += '"';
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out_ += escape;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        out_ += '"';
    }
    void Text(const DualString& text) { Text(text.wide, kDualStringUnits); }

    // "key": [ then one record per line, then ] — `each(i)` writes record i.
    template <class Each>
    void List(const char* key, size_t count, bool last, Each each) {
        out_ += "\t";
        Key(key);
        if (count == 0) {
            out_ += " []";
        } else {
            out_ += " [\n";
            for (size_t i = 0; i < count; ++i) {
                out_ += "\t\t";
                each(i);
                out_ += i + 1 < count ? ",\n" : "\n";
            }
            out_ += "\t]";
        }
        out_ += last ? "\n" : ",\n";
    }

private:
    std::string& out_;
};

void WriteTexture(Writer& w, int channel, const HostTexture& texture) {
    w.Raw("{");
    w.Key("channel");
    w.Int(channel);
    w.Raw(",");
    w.Key("kind");
    w.Int(texture.kind);
    w.Raw(",");
    w.Key("flags");
    w.Int(texture.flags);
    w.Raw(",");
    if (texture.kind == kTextureMultiply) {
        const HostLayeredTexture& layered = *reinterpret_cast<const HostLayeredTexture*>(&texture);
        w.Key("layerFlags");
        w.Int(layered.layerFlags);
        w.Raw(",");
        w.Key("layers");
        if (layered.layers) {
            w.Raw("[");
            w.Text(layered.layers[0].path, kDualStringUnits);
            w.Raw(",");
            w.Text(layered.layers[1].path, kDualStringUnits);
            w.Raw("]");
        } else {
            w.Raw("null");
        }
    } else {
        w.Key("path");
        w.Text(texture.path);
    }
    w.Raw("}");
}

template <class Key>
void WriteKeys(Writer& w, const char* name, const Key* keys, int count) {
    w.Key(name);
    w.Raw("[");
    for (int k = 0; k < count; ++k) {
        if (k) w.Raw(",");
        w.Raw("[");
        w.Num(keys[k].time);
        for (float value : keys[k].value) {
            w.Raw(",");
            w.Num(value);
        }
        w.Raw("]");
    }
    w.Raw("]");
}

void WriteFace(Writer& w, const HostFace& face) {
    w.Raw("{");
    w.Key("materialIndex");
    w.Int(face.materialIndex);
    w.Raw(",");
    w.Key("objectIndex");
    w.Int(face.objectIndex);
    w.Raw(",");
    w.Key("smoothingGroup");
    w.Int(face.smoothingGroup);
    w.Raw(",");
    w.Key("normal");
    w.Floats(face.normal, 3);
    w.Raw(",");
    w.Key("vertexIndices");
    w.Raw("[");
    for (int k = 0; k < face.cornerCount; ++k) {
        if (k) w.Raw(",");
        w.Int(face.vertexIndices[k]);
    }
    w.Raw("],");
    w.Key("uvChannels");
    w.Raw("[");
    for (int c = 0; c < kUvChannels; ++c) {
        const HostFaceUvChannel& channel = face.uvData->channels[c];
        w.Raw(c ? ",{" : "{");
        w.Key("uvIndices");
        w.Raw("[");
        for (int k = 0; k < face.cornerCount; ++k) {
            if (k) w.Raw(",");
            w.Int(channel.uvIndices[k]);
        }
        w.Raw("],");
        w.Key("cornerUvs");
        w.Raw("[");
        for (int k = 0; k < face.cornerCount; ++k) {
            if (k) w.Raw(",");
            w.Floats({channel.cornerUvs[k].u, channel.cornerUvs[k].v});
        }
        w.Raw("]}");
    }
    w.Raw("]}");
}

}  // namespace

bool HostScene::loadJson(std::string_view json, std::string& error) {
    impl_->Clear();
    try {
        const Json root = Json::parse(json.begin(), json.end());
        Load(*impl_, root);
        error.clear();
        return true;
    } catch (const LoadError& failure) {
        error = failure.message;
    } catch (const nlohmann::json::exception& failure) {
        error = std::string("not valid JSON: ") + failure.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::length_error&) {
        error = "out of memory";
    }
    impl_->Clear();
    return false;
}

std::string HostScene::saveJson() const {
    const Impl& impl = *impl_;
    std::string out;
    Writer w(out);
    w.Raw("{\n");
    w.List("materials", impl.materials.size(), false, [&](size_t m) {
        const HostMaterial& material = impl.materials[m];
        w.Raw("{");
        w.Key("name");
        w.Text(material.name);
        w.Raw(",");
        w.Key("flags");
        w.Int(material.flags);
        w.Raw(",");
        w.Key("diffuse");
        w.Floats(material.diffuse, 3);
        w.Raw(",");
        w.Key("ambient");
        w.Floats(material.ambient, 3);
        w.Raw(",");
        w.Key("specular");
        w.Floats(material.specular, 3);
        w.Raw(",");
        w.Key("shininess");
        w.Num(material.shininess);
        w.Raw(",");
        w.Key("opacity");
        w.Num(material.opacity);
        w.Raw(",");
        w.Key("textures");
        w.Raw("[");
        bool first = true;
        for (int c = 0; c < kTextureChannels; ++c) {
            if (!material.textures[c]) continue;
            if (!first) w.Raw(",");
            first = false;
            WriteTexture(w, c, *material.textures[c]);
        }
        w.Raw("]}");
    });
    w.List("vertices", impl.vertices.size(), false, [&](size_t v) {
        const HostVertex& vertex = impl.vertices[v];
        w.Raw("{");
        w.Key("position");
        w.Floats(vertex.position, 3);
        w.Raw(",");
        w.Key("normal");
        w.Floats(vertex.normal, 3);
        w.Raw(",");
        w.Key("color");
        w.Floats(vertex.color, 4);
        w.Raw(",");
        w.Key("weights");
        w.Raw("[");
        for (int k = 0; k < vertex.weightCount; ++k) {
            w.Raw(k ? ",[" : "[");
            w.Int(vertex.weights[k].boneIndex);
            w.Raw(",");
            w.Num(vertex.weights[k].weight);
            w.Raw("]");
        }
        w.Raw("]}");
    });
    w.List("uvStore", kUvChannels, false, [&](size_t c) {
        w.Raw("[");
        const std::vector<HostUv>& channel = impl.storeUvs[c];
        for (size_t k = 0; k < channel.size(); ++k) {
            if (k) w.Raw(",");
            w.Floats({channel[k].u, channel[k].v});
        }
        w.Raw("]");
    });
    w.List("objects", impl.objects.size(), false, [&](size_t o) {
        const HostObject& object = impl.objects[o];
        w.Raw("{");
        w.Key("name");
        w.Text(object.name);
        w.Raw(",");
        w.Key("faceCount");
        w.Int(object.faceCount);
        w.Raw(",");
        w.Key("materialRefs");
        w.Raw("[");
        for (int r = 0; r < object.materialRefCount; ++r) {
            w.Raw(r ? ",[" : "[");
            w.Int(object.materialRefs[r].materialIndex);
            w.Raw(",");
            w.Int(object.materialRefs[r].faceCount);
            w.Raw("]");
        }
        w.Raw("]}");
    });
    // Face groups: one face per line inside each group.
    w.Raw("\t");
    w.Key("faceGroups");
    w.Raw(impl.groupStores.empty() ? " []" : " [\n");
    for (size_t g = 0; g < impl.groupStores.size(); ++g) {
        const FaceStore& faces = impl.groupStores[g];
        w.Raw("\t\t{\"faces\": [");
        for (size_t f = 0; f < faces.faceCount; ++f) {
            w.Raw(f ? ",\n\t\t\t" : "\n\t\t\t");
            WriteFace(w, faces.faces[f]);
        }
        w.Raw(faces.faceCount == 0 ? "]}" : "\n\t\t]}");
        w.Raw(g + 1 < impl.groupStores.size() ? ",\n" : "\n\t]");
    }
    w.Raw(",\n");
    w.List("bones", impl.bones.size(), false, [&](size_t b) {
        const HostBone& bone = impl.bones[b];
        w.Raw("{");
        w.Key("name");
        w.Text(bone.name);
        w.Raw(",");
        w.Key("parentIndex");
        w.Int(bone.parentIndex);
        w.Raw(",");
        w.Key("translation");
        w.Floats(bone.translation, 3);
        w.Raw(",");
        w.Key("scale");
        w.Floats(bone.scale, 3);
        w.Raw(",");
        w.Key("rotation");
        w.Floats(bone.rotation, 4);
        w.Raw("}");
    });
    w.List("animations", impl.animations.size(), true, [&](size_t a) {
        const HostAnimation& animation = impl.animations[a];
        w.Raw("{");
        w.Key("name");
        w.Text(animation.name);
        w.Raw(",");
        w.Key("flags");
        w.Int(animation.flags);
        w.Raw(",");
        w.Key("frameCount");
        w.Num(animation.frameCount);
        w.Raw(",");
        w.Key("frameRate");
        w.Num(animation.frameRate);
        w.Raw(",");
        w.Key("tracks");
        w.Raw("[");
        for (int t = 0; t < animation.trackCount; ++t) {
            const HostTrack& track = animation.tracks[t];
            w.Raw(t ? ",\n\t\t\t{" : "\n\t\t\t{");
            WriteKeys(w, "positionKeys", track.positionKeys, track.positionKeyCount);
            w.Raw(",");
            WriteKeys(w, "rotationKeys", track.rotationKeys, track.rotationKeyCount);
            w.Raw(",");
            WriteKeys(w, "scaleKeys", track.scaleKeys, track.scaleKeyCount);
            w.Raw("}");
        }
        w.Raw(animation.trackCount > 0 ? "\n\t\t]}" : "]}");
    });
    w.Raw("}\n");
    return out;
}

}  // namespace asehost
