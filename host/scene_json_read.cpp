// Reading the scene store's JSON form (layout in scene_json.h).
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
#include "host/scene_json.h"
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

void LoadBones(HostScene::Impl& impl, const Json& root) {
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

}

void LoadMaterials(HostScene::Impl& impl, const Json& root) {
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

}

void LoadVertices(HostScene::Impl& impl, const Json& root) {
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

}

const Json* LoadUvStore(HostScene::Impl& impl, const Json& root) {
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

    return uvStore;
}

struct ObjectClaim {
    const Json* faceCount = nullptr;
    const Json* materialRefs = nullptr;
};

std::vector<ObjectClaim> LoadObjects(HostScene::Impl& impl, const Json& root) {
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

    return claims;
}

void LoadFaceGroups(HostScene::Impl& impl, const Json& root, const Json* uvStore) {
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

}

// What the file claims about its objects must agree with its faces.
void CheckClaims(const HostScene::Impl& impl, const std::vector<ObjectClaim>& claims) {
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

}

void LoadAnimations(HostScene::Impl& impl, const Json& root) {
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
}

// Reads the whole scene into `impl`, which starts empty.
void Load(HostScene::Impl& impl, const Json& root) {
    RequireObject(root, "scene", {"materials", "vertices", "uvStore", "objects", "faceGroups", "bones", "animations"});
    LoadBones(impl, root);  // first: weights name them
    LoadMaterials(impl, root);
    LoadVertices(impl, root);
    const Json* uvStore = LoadUvStore(impl, root);
    const std::vector<ObjectClaim> claims = LoadObjects(impl, root);
    LoadFaceGroups(impl, root, uvStore);
    if (uvStore) {
        impl.RebuildObjectRefs();
        impl.SyncContext();
    } else {
        impl.RebuildUvStore();
        impl.RebuildObjectRefs();
    }

    CheckClaims(impl, claims);
    LoadAnimations(impl, root);
    impl.SyncContext();
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

}  // namespace asehost
