// Reading the scene store's JSON form (layout in scene_json.h).
//
// The text is parsed as a stream of events (host/json_events.h) that build the records directly, so that a load holds the scene and a
// small read buffer, never the text or a document of it: a scene's text is
// several times the size of the scene, a document of it ten times.
//
// Keys may come in any order, so what depends on another list (indices
// into the vertices, materials, objects, bones and the UV store; the
// objects' derived counts) is checked once the whole text is read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/json/json_events.h"
#include "host/store/scene_impl.h"
#include "host/json/scene_json.h"
#include "host/store/text.h"
#include "platform/platform.h"

namespace asehost {

namespace {

// A load failure; the message says where.
struct LoadError {
    std::string message;
};

// --- The layout ---------------------------------------------------------------

// Every array and object of the layout.
enum class Ctx : uint8_t {
    Root,
    Materials, Material, Textures, Texture, Layers,
    Vertices, Vertex, Weights, Weight,
    UvStore, UvStoreChannel,
    Objects, Object, MaterialRefs, MaterialRef,
    FaceGroups, FaceGroup, Faces, Face, VertexIndices, FaceUvChannels, FaceUvChannel, UvIndices, CornerUvs,
    Bones, Bone,
    Animations, Animation, Tracks, Track, Keys,
    Floats,  // a fixed number of floats into `floats`
};

// The keys of each kind of object, in the order the writer writes them.
constexpr std::string_view kRootKeys[] = {"format", "materials", "vertices", "uvStore", "objects", "faceGroups", "bones", "animations"};
constexpr std::string_view kMaterialKeys[] = {"name", "flags", "diffuse", "ambient", "specular", "shininess", "opacity", "textures"};
constexpr std::string_view kTextureKeys[] = {"channel", "kind", "flags", "path", "layerFlags", "layers"};
constexpr std::string_view kVertexKeys[] = {"position", "normal", "color", "weights"};
constexpr std::string_view kObjectKeys[] = {"name", "faceCount", "materialRefs"};
constexpr std::string_view kFaceGroupKeys[] = {"faces"};
constexpr std::string_view kFaceKeys[] = {"materialIndex", "objectIndex", "smoothingGroup", "normal", "vertexIndices", "uvChannels"};
constexpr std::string_view kFaceUvKeys[] = {"uvIndices", "cornerUvs"};
constexpr std::string_view kBoneKeys[] = {"name", "parentIndex", "translation", "scale", "rotation"};
constexpr std::string_view kAnimationKeys[] = {"name", "flags", "frameCount", "frameRate", "tracks"};
constexpr std::string_view kTrackKeys[] = {"positionKeys", "rotationKeys", "scaleKeys"};

struct KeySet {
    const std::string_view* names;
    int count;
};

template <size_t N>
constexpr KeySet Keys(const std::string_view (&names)[N]) {
    return KeySet{names, static_cast<int>(N)};
}

KeySet KeysOf(Ctx ctx) {
    switch (ctx) {
    case Ctx::Root: return Keys(kRootKeys);
    case Ctx::Material: return Keys(kMaterialKeys);
    case Ctx::Texture: return Keys(kTextureKeys);
    case Ctx::Vertex: return Keys(kVertexKeys);
    case Ctx::Object: return Keys(kObjectKeys);
    case Ctx::FaceGroup: return Keys(kFaceGroupKeys);
    case Ctx::Face: return Keys(kFaceKeys);
    case Ctx::FaceUvChannel: return Keys(kFaceUvKeys);
    case Ctx::Bone: return Keys(kBoneKeys);
    case Ctx::Animation: return Keys(kAnimationKeys);
    case Ctx::Track: return Keys(kTrackKeys);
    default: return KeySet{nullptr, 0};
    }
}

// One open array or object. In an object `key` is the member being read;
// in an array `count` is the number of elements begun so far.
struct Frame {
    Ctx ctx;
    bool isObject;
    int8_t key = -1;
    int8_t lastKey = -1;  // the key read last, for the writer's order
    uint32_t seen = 0;    // keys met so far (bit per key)
    KeySet keys{nullptr, 0};  // of an object
    size_t count = 0;
    // Ctx::Floats: where the numbers go and how many there must be.
    float* floats = nullptr;
    int want = 0;
};

// The open frames. The layout nests at most nine deep and anything it does
// not expect fails before a frame is opened for it, so a fixed array does.
class FrameStack {
public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    Frame& back() { return frames_[size_ - 1]; }
    const Frame& back() const { return frames_[size_ - 1]; }
    Frame& operator[](size_t i) { return frames_[i]; }
    const Frame& operator[](size_t i) const { return frames_[i]; }
    // A new top frame, zeroed.
    Frame& Open() {
        if (size_ == kDepth) throw LoadError{"nested deeper than the layout"};
        Frame& frame = frames_[size_++];
        frame = Frame{};
        return frame;
    }
    void pop_back() { --size_; }

private:
    static constexpr size_t kDepth = 12;
    Frame frames_[kDepth];
    size_t size_ = 0;
};

// A texture is made once its channel and kind are known, whatever the order
// of its keys: its values wait here until the object ends.
struct PendingTexture {
    int channel = -1;
    int kind = -1;
    uint32_t flags = 0;
    bool hasFlags = false;
    std::u16string path;
    bool hasPath = false;
    int layerFlags = 0;
    bool hasLayerFlags = false;
    bool hasLayers = false;
    bool layersNull = false;
    std::u16string layers[2];
};

// What a face's UV keys held: the check against the UV store (which may
// come after the faces) is made at the end.
enum : uint8_t {
    kFaceHasChannels = 1,
    kFaceHasUvIndices = 2,   // << channel
    kFaceHasCornerUvs = 8,   // << channel
};

// The faces of the group being read, lean, until the group ends and the
// store of their final size is made. The lists keep their memory from
// group to group until the list of groups ends.
struct PendingFaces {
    struct Face {
        int materialIndex = -1;
        int objectIndex = -1;
        int smoothingGroup = 0;
        float normal[3] = {0.0f, 0.0f, 0.0f};
        uint32_t corners = 0;
        uint32_t uvIndexCount[kUvChannels] = {0, 0};
        uint32_t cornerUvCount[kUvChannels] = {0, 0};
        uint8_t flags = 0;
        bool hasCorners = false;
    };
    std::vector<Face> faces;
    std::vector<int> vertexIndices;  // face after face
    std::vector<int> uvIndices[kUvChannels];
    std::vector<float> cornerUvs[kUvChannels];  // u, v pairs

    void Clear() {
        faces.clear();
        vertexIndices.clear();
        for (auto& list : uvIndices) list.clear();
        for (auto& list : cornerUvs) list.clear();
    }
    void ReleaseMemory() {
        Release(faces);
        Release(vertexIndices);
        for (auto& list : uvIndices) Release(list);
        for (auto& list : cornerUvs) Release(list);
    }
};

// What the file says about an object; checked against its faces at the end.
struct ObjectClaim {
    bool hasFaceCount = false;
    int64_t faceCount = 0;
    bool hasRefs = false;
    size_t firstRef = 0;  // into refClaims
    size_t refCount = 0;
};

class SceneReader {
public:
    SceneReader(HostScene::Impl& impl, const JsonSource& source) : impl_(impl), source_(source) {}

    // --- Events ---------------------------------------------------------------
    bool null() {
        const Frame* top = Top();
        if (top && top->ctx == Ctx::Texture && top->key == 5) {
            texture_.hasLayers = true;
            texture_.layersNull = true;
            return Next();
        }
        FailType();
    }
    bool boolean(bool) { FailType(); }
    bool number_integer(int64_t value) { return Integer(value); }
    bool number_unsigned(uint64_t value) {
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Fail(ValuePath(), "integer out of range");
        return Integer(static_cast<int64_t>(value));
    }
    bool number_float(float value, std::string_view) { return Float(value); }
    bool string(std::string_view value);
    bool start_object(size_t);
    bool key(std::string_view name);
    bool end_object();
    bool start_array(size_t);
    bool end_array();

    // The checks and derived data that need the whole text.
    void Finish();

private:
    [[noreturn]] void Fail(const std::string& where, const std::string& what) const {
        throw LoadError{(where.empty() ? std::string("scene") : where) + ": " + what + " (at byte " + std::to_string(source_.TokenOffset()) + ")"};
    }
    [[noreturn]] static void FailAt(const std::string& where, const std::string& what) { throw LoadError{where + ": " + what}; }

    Frame* Top() { return stack_.empty() ? nullptr : &stack_.back(); }

    // The place of the frames open now, e.g. faceGroups[0].faces[3].
    std::string FramePath(size_t depth) const;
    // The place of the value being read (the open frames and the current key
    // or element).
    std::string ValuePath() const;

    // After a value: an array counts it; an object forgets the key.
    bool Next() {
        Frame& top = stack_.back();
        if (top.isObject) {
            top.key = -1;
        } else {
            ++top.count;
        }
        return true;
    }

    // The element index of the value about to be read in the top array.
    size_t Element() const { return stack_.back().count; }
    // Which element of the list `up` frames above the top is open.
    size_t IndexOf(size_t up) const { return stack_[stack_.size() - 1 - up].count; }

    // What the value about to be read must be, as the failure message says.
    const char* Expected() const;
    [[noreturn]] void FailType() const { Fail(ValuePath(), Expected()); }

    bool Integer(int64_t value);
    bool Float(float value);
    void Push(Ctx ctx, bool isObject, float* floats = nullptr, int want = 0) {
        Frame& frame = stack_.Open();
        frame.ctx = ctx;
        frame.isObject = isObject;
        if (isObject) frame.keys = KeysOf(ctx);
        frame.floats = floats;
        frame.want = want;
    }
    // What an array element or member `ctx` begins when it is an array.
    void OpenArray();
    void OpenObject();
    void CloseObject(const Frame& frame);
    void CloseArray(const Frame& frame);

    static int64_t Check(int64_t value, int64_t low, int64_t high, const std::string& where);
    int64_t InRange(int64_t value, int64_t low, int64_t high) const {
        if (value < low || value > high) {
            Fail(ValuePath(), std::to_string(value) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
        }
        return value;
    }
    std::u16string Text(std::string_view value) const {
        std::u16string wide;
        if (!Utf8ToUtf16(value, wide)) Fail(ValuePath(), "text is not valid UTF-8");
        if (wide.size() >= static_cast<size_t>(kDualStringUnits)) Fail(ValuePath(), "text longer than 259 UTF-16 units");
        if (wide.find(u'\0') != std::u16string::npos) Fail(ValuePath(), "text holds a NUL character");
        return wide;
    }

    // Counts `bytes` of records against the text read so far, before they
    // are made: a text of empty records ("{}," makes a named record of
    // hundreds of bytes) or of bare corners ("0," becomes a triangle of
    // hundreds of bytes once the face is triangulated) must not make the
    // load, or the export after it, grow far beyond the text's size.
    void Charge(size_t bytes) {
        charged_ += bytes;
        if (charged_ > kBytesPerTextByte * source_.Offset() + kAllowance) {
            Fail(ValuePath(), "the scene would need more than " + std::to_string(kBytesPerTextByte) + " bytes of memory per byte of its text");
        }
    }
    static size_t RecordCost(Ctx ctx);
    static size_t CornerCost(size_t corner);

    void FinishTexture();
    void FinishFace();
    void FinishFaceGroup();
    void FinishTracks();

    HostScene::Impl& impl_;
    const JsonSource& source_;
    FrameStack stack_;

    PendingTexture texture_;
    std::vector<HostVertexWeight> weights_;
    PendingFaces faces_;
    std::unique_ptr<AnimationStore> tracks_;
    bool uvStoreGiven_ = false;
    std::vector<ObjectClaim> claims_;
    std::vector<std::pair<int64_t, int64_t>> refClaims_;
    int64_t refPart_[2] = {0, 0};
    // The memory bound of scene_json.h. Each record and corner is charged
    // with the most it costs at the peak (RecordCost, CornerCost): a load's
    // parts all live together, and triangulation builds the new face groups
    // beside the old ones.
    static constexpr uint64_t kBytesPerTextByte = kJsonBytesPerTextByte;
    static constexpr uint64_t kAllowance = kJsonMemoryAllowance;
    // A list that grows by doubling holds up to twice its elements, three
    // times while it moves to a larger block.
    static constexpr size_t kGrowth = 3;
    uint64_t charged_ = 0;
    // Per face of the scene, group after group: its kFaceHas flags.
    std::vector<uint8_t> faceFlags_;
};

std::string SceneReader::FramePath(size_t depth) const {
    std::string text;
    for (size_t i = 1; i < depth; ++i) {
        const Frame& parent = stack_[i - 1];
        if (parent.isObject) {
            if (!text.empty()) text += '.';
            text += KeysOf(parent.ctx).names[parent.key];
        } else {
            text += '[' + std::to_string(parent.count) + ']';
        }
    }
    return text;
}

std::string SceneReader::ValuePath() const {
    std::string text = FramePath(stack_.size());
    if (stack_.empty()) return text;
    const Frame& top = stack_.back();
    if (top.isObject) {
        if (top.key >= 0) {
            if (!text.empty()) text += '.';
            text += KeysOf(top.ctx).names[top.key];
        }
    } else {
        text += '[' + std::to_string(top.count) + ']';
    }
    return text;
}

constexpr const char kText[] = "expected a text";
constexpr const char kInteger[] = "expected an integer";
constexpr const char kNumber[] = "expected a number";
constexpr const char kArray[] = "expected an array";
constexpr const char kObject[] = "expected an object";

const char* SceneReader::Expected() const {
    if (stack_.empty()) return kObject;
    const Frame& top = stack_.back();
    const int key = top.key;
    switch (top.ctx) {
    case Ctx::Root: return key == 0 ? kText : kArray;
    case Ctx::Material: return key == 0 ? kText : key == 1 ? kInteger : key == 5 || key == 6 ? kNumber : kArray;
    case Ctx::Texture: return key == 3 ? kText : key == 5 ? "expected null or an array" : kInteger;
    case Ctx::Layers: return kText;
    case Ctx::Weight: return top.count == 0 ? kInteger : kNumber;
    case Ctx::Floats: return kNumber;
    case Ctx::Object: return key == 0 ? kText : key == 1 ? kInteger : kArray;
    case Ctx::MaterialRef:
    case Ctx::VertexIndices:
    case Ctx::UvIndices: return kInteger;
    case Ctx::Face: return key <= 2 ? kInteger : kArray;
    case Ctx::Bone: return key == 0 ? kText : key == 1 ? kInteger : kArray;
    case Ctx::Animation: return key == 0 ? kText : key == 1 ? kInteger : key <= 3 ? kNumber : kArray;
    case Ctx::Materials:
    case Ctx::Textures:
    case Ctx::Vertices:
    case Ctx::Objects:
    case Ctx::FaceGroups:
    case Ctx::Faces:
    case Ctx::FaceUvChannels:
    case Ctx::Bones:
    case Ctx::Animations:
    case Ctx::Tracks: return kObject;
    default: return kArray;
    }
}

int64_t SceneReader::Check(int64_t value, int64_t low, int64_t high, const std::string& where) {
    if (value < low || value > high) {
        FailAt(where, std::to_string(value) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    return value;
}

bool SceneReader::Integer(int64_t value) {
    if (stack_.empty()) FailType();
    Frame& top = stack_.back();
    switch (top.ctx) {
    case Ctx::Floats:
        return Float(static_cast<float>(value));
    case Ctx::Material:
        if (top.key == 1) {
            impl_.materials.back().flags = static_cast<uint32_t>(InRange(value, 0, UINT32_MAX));
            return Next();
        }
        if (top.key == 5 || top.key == 6) return Float(static_cast<float>(value));
        break;
    case Ctx::Texture:
        if (top.key == 0) {
            texture_.channel = static_cast<int>(InRange(value, 0, kTextureChannels - 1));
        } else if (top.key == 1) {
            texture_.kind = static_cast<int>(InRange(value, kTextureImage, kTextureMultiply));
            if (texture_.kind != kTextureImage && texture_.kind != kTextureMultiply) Fail(ValuePath(), "kind must be 1 (image) or 4 (multiply)");
        } else if (top.key == 2) {
            texture_.flags = static_cast<uint32_t>(InRange(value, 0, UINT32_MAX));
            texture_.hasFlags = true;
        } else if (top.key == 4) {
            texture_.layerFlags = static_cast<int>(InRange(value, 0, 255));
            texture_.hasLayerFlags = true;
        } else {
            break;
        }
        return Next();
    case Ctx::Weight:
        if (Element() == 0) {
            weights_.back().boneIndex = static_cast<int>(InRange(value, -1, INT32_MAX));
            return Next();
        }
        if (Element() == 1) return Float(static_cast<float>(value));
        Fail(FramePath(stack_.size()), "expected [boneIndex, weight]");
    case Ctx::Object:
        if (top.key == 1) {
            claims_.back().faceCount = InRange(value, INT32_MIN, INT32_MAX);
            claims_.back().hasFaceCount = true;
            return Next();
        }
        break;
    case Ctx::MaterialRef:
        if (Element() >= 2) Fail(FramePath(stack_.size()), "expected [materialIndex, faceCount]");
        refPart_[Element()] = InRange(value, INT32_MIN, INT32_MAX);
        return Next();
    case Ctx::Face: {
        PendingFaces::Face& face = faces_.faces.back();
        if (top.key == 0) {
            face.materialIndex = static_cast<int>(InRange(value, -1, INT32_MAX));
        } else if (top.key == 1) {
            face.objectIndex = static_cast<int>(InRange(value, -1, INT32_MAX));
        } else if (top.key == 2) {
            face.smoothingGroup = static_cast<int>(InRange(value, INT32_MIN, INT32_MAX));
        } else {
            break;
        }
        return Next();
    }
    case Ctx::VertexIndices:
        if (Element() >= static_cast<size_t>(INT32_MAX) / 8) Fail(FramePath(stack_.size()), "too many corners");
        Charge(CornerCost(Element()));
        faces_.vertexIndices.push_back(static_cast<int>(InRange(value, 0, INT32_MAX)));
        ++faces_.faces.back().corners;
        return Next();
    case Ctx::UvIndices: {
        const size_t c = IndexOf(2);
        // Their slots in the store are the corners'.
        Charge(kGrowth * sizeof(int));
        faces_.uvIndices[c].push_back(static_cast<int>(InRange(value, 0, INT32_MAX)));
        ++faces_.faces.back().uvIndexCount[c];
        return Next();
    }
    case Ctx::Bone:
        if (top.key == 1) {
            const int64_t parent = InRange(value, -1, INT32_MAX);
            if (parent == static_cast<int64_t>(impl_.bones.size()) - 1) Fail(ValuePath(), "a bone cannot be its own parent");
            impl_.bones.back().parentIndex = static_cast<int>(parent);
            return Next();
        }
        break;
    case Ctx::Animation:
        if (top.key == 1) {
            impl_.animations.back().flags = static_cast<int>(InRange(value, INT32_MIN, INT32_MAX));
            return Next();
        }
        if (top.key == 2 || top.key == 3) return Float(static_cast<float>(value));
        break;
    default:
        break;
    }
    FailType();
}

bool SceneReader::Float(float value) {
    if (stack_.empty()) FailType();
    Frame& top = stack_.back();
    switch (top.ctx) {
    case Ctx::Floats:
        if (static_cast<int>(top.count) >= top.want) Fail(FramePath(stack_.size()), "expected " + std::to_string(top.want) + " numbers");
        top.floats[top.count] = value;
        return Next();
    case Ctx::Material:
        if (top.key == 5) {
            impl_.materials.back().shininess = value;
            return Next();
        }
        if (top.key == 6) {
            impl_.materials.back().opacity = value;
            return Next();
        }
        break;
    case Ctx::Weight:
        if (Element() == 1) {
            weights_.back().weight = value;
            return Next();
        }
        if (Element() > 1) Fail(FramePath(stack_.size()), "expected [boneIndex, weight]");
        break;
    case Ctx::Animation:
        if (top.key == 2) {
            impl_.animations.back().frameCount = value;
            return Next();
        }
        if (top.key == 3) {
            impl_.animations.back().frameRate = value;
            return Next();
        }
        break;
    default:
        break;
    }
    FailType();
}

bool SceneReader::string(std::string_view value) {
    if (stack_.empty()) FailType();
    Frame& top = stack_.back();
    // The non-finite numbers are written as these texts.
    const bool wantsFloat = Expected() == kNumber;
    if (wantsFloat) {
        if (value == "nan") return Float(std::numeric_limits<float>::quiet_NaN());
        if (value == "inf") return Float(std::numeric_limits<float>::infinity());
        if (value == "-inf") return Float(-std::numeric_limits<float>::infinity());
        Fail(ValuePath(), "expected a number");
    }
    switch (top.ctx) {
    case Ctx::Root:
        if (top.key == 0) {
            if (value != kSceneJsonFormat) Fail(ValuePath(), "\"" + std::string(value) + "\" is not a form this reader knows (\"" + kSceneJsonFormat + "\")");
            return Next();
        }
        break;
    case Ctx::Material:
        if (top.key == 0) {
            SetDualString(impl_.materials.back().name, Text(value));
            return Next();
        }
        break;
    case Ctx::Texture:
        if (top.key == 3) {
            texture_.path = Text(value);
            texture_.hasPath = true;
            return Next();
        }
        break;
    case Ctx::Layers:
        if (Element() >= 2) Fail(FramePath(stack_.size()), "expected two layer paths");
        texture_.layers[Element()] = Text(value);
        return Next();
    case Ctx::Object:
        if (top.key == 0) {
            SetDualString(impl_.objects.back().name, Text(value));
            return Next();
        }
        break;
    case Ctx::Bone:
        if (top.key == 0) {
            SetDualString(impl_.bones.back().name, Text(value));
            return Next();
        }
        break;
    case Ctx::Animation:
        if (top.key == 0) {
            SetDualString(impl_.animations.back().name, Text(value));
            return Next();
        }
        break;
    default:
        break;
    }
    FailType();
}

bool SceneReader::key(std::string_view name) {
    Frame& top = stack_.back();
    const KeySet keys = top.keys;
    // The writer's order first: the key after the last one.
    int k = top.lastKey + 1;
    if (k >= keys.count || name != keys.names[k]) {
        for (k = 0; k < keys.count && name != keys.names[k]; ++k) {
        }
        if (k == keys.count) Fail(FramePath(stack_.size()), "unknown key \"" + std::string(name) + "\"");
    }
    if (top.seen & (1u << k)) Fail(FramePath(stack_.size()), "key \"" + std::string(name) + "\" given twice");
    top.seen |= 1u << k;
    top.key = static_cast<int8_t>(k);
    top.lastKey = static_cast<int8_t>(k);
    return true;
}

bool SceneReader::start_object(size_t) {
    OpenObject();
    return true;
}

size_t SceneReader::RecordCost(Ctx ctx) {
    switch (ctx) {
    case Ctx::Material: return sizeof(HostMaterial) + sizeof(MaterialTextures);
    case Ctx::Texture: return sizeof(TextureRecord);
    case Ctx::Vertex: return sizeof(HostVertex) + sizeof(HostVertexWeight*);
    case Ctx::Object: return sizeof(HostObject) + sizeof(ObjectClaim);
    case Ctx::FaceGroup: return sizeof(HostFaceGroup) + sizeof(FaceStore);
    // The lean face and its flags now, its corner count, its record and
    // first three slots in the store later; the triangles it becomes are
    // its corners'.
    case Ctx::Face: return kGrowth * (sizeof(PendingFaces::Face) + sizeof(uint8_t)) + sizeof(int) + kFaceRecordBytes + 3 * kFaceSlotBytes;
    case Ctx::Bone: return sizeof(HostBone);
    case Ctx::Animation: return sizeof(HostAnimation) + sizeof(AnimationStore);
    case Ctx::Track: return sizeof(HostTrack) + sizeof(TrackStore);
    default: return 0;
    }
}

size_t SceneReader::CornerCost(size_t corner) {
    // Its index in the lean list; from the fourth corner (3) on a slot of
    // its own in the store; from the third (2) on the triangle it adds to
    // the fan that triangulation makes of the face, which a face of three
    // corners also needs when its group is rebuilt for another face.
    return kGrowth * sizeof(int) + (corner >= 3 ? kFaceSlotBytes : 0) + (corner >= 2 ? kTriangleBytes : 0);
}

// The kind of object each list holds; Root for the rest, which hold none.
Ctx ElementObject(Ctx list) {
    switch (list) {
    case Ctx::Materials: return Ctx::Material;
    case Ctx::Textures: return Ctx::Texture;
    case Ctx::Vertices: return Ctx::Vertex;
    case Ctx::Objects: return Ctx::Object;
    case Ctx::FaceGroups: return Ctx::FaceGroup;
    case Ctx::Faces: return Ctx::Face;
    case Ctx::FaceUvChannels: return Ctx::FaceUvChannel;
    case Ctx::Bones: return Ctx::Bone;
    case Ctx::Animations: return Ctx::Animation;
    case Ctx::Tracks: return Ctx::Track;
    default: return Ctx::Root;
    }
}

void SceneReader::OpenObject() {
    if (stack_.empty()) {
        Push(Ctx::Root, true);
        return;
    }
    const Ctx ctx = ElementObject(stack_.back().ctx);
    if (ctx == Ctx::Root) FailType();
    // Charged before the record is made, so that a flood fails before it
    // allocates.
    Charge(RecordCost(ctx));
    switch (ctx) {
    case Ctx::Material:
        impl_.AppendMaterial(nullptr);
        break;
    case Ctx::Texture:
        texture_ = PendingTexture{};
        break;
    case Ctx::Vertex:
        if (impl_.vertices.size() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many vertices");
        impl_.ResizeVertices(static_cast<int>(impl_.vertices.size()) + 1);
        break;
    case Ctx::Object:
        impl_.AppendObject(nullptr);
        claims_.emplace_back();
        break;
    case Ctx::FaceGroup:
        impl_.AppendFaceGroup();
        faces_.Clear();
        break;
    case Ctx::Face:
        if (Element() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many faces");
        faces_.faces.emplace_back();
        break;
    case Ctx::FaceUvChannel:
        if (Element() >= kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case Ctx::Bone:
        impl_.AppendBone(nullptr);
        break;
    case Ctx::Animation:
        impl_.AppendAnimation(nullptr);
        break;
    default:  // Ctx::Track
        if (Element() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many tracks");
        tracks_->tracks.push_back(HostTrack{});
        tracks_->keys.emplace_back();
        break;
    }
    Push(ctx, true);
}

bool SceneReader::end_object() {
    CloseObject(stack_.back());
    stack_.pop_back();
    if (!stack_.empty()) Next();
    return true;
}

void SceneReader::CloseObject(const Frame& frame) {
    switch (frame.ctx) {
    case Ctx::Texture:
        FinishTexture();
        break;
    case Ctx::Face:
        FinishFace();
        break;
    case Ctx::FaceGroup:
        FinishFaceGroup();
        break;
    default:
        break;
    }
}

bool SceneReader::start_array(size_t) {
    OpenArray();
    return true;
}

void SceneReader::OpenArray() {
    if (stack_.empty()) FailType();
    // Every array holds or makes at most this much (a UV pair, a key, a
    // weight, a list's own record).
    Charge(32);
    Frame& top = stack_.back();
    const int key = top.key;
    auto floats = [&](float* into, int count) { Push(Ctx::Floats, false, into, count); };
    switch (top.ctx) {
    case Ctx::Root: {
        static constexpr Ctx kLists[] = {Ctx::Root, Ctx::Materials, Ctx::Vertices, Ctx::UvStore, Ctx::Objects, Ctx::FaceGroups, Ctx::Bones, Ctx::Animations};
        if (key <= 0) break;
        if (kLists[key] == Ctx::UvStore) uvStoreGiven_ = true;
        Push(kLists[key], false);
        return;
    }
    case Ctx::Material: {
        HostMaterial& material = impl_.materials.back();
        if (key == 2) return floats(material.diffuse, 3);
        if (key == 3) return floats(material.ambient, 3);
        if (key == 4) return floats(material.specular, 3);
        if (key == 7) return Push(Ctx::Textures, false);
        break;
    }
    case Ctx::Texture:
        if (key == 5) {
            texture_.hasLayers = true;
            return Push(Ctx::Layers, false);
        }
        break;
    case Ctx::Vertex: {
        HostVertex& vertex = impl_.vertices.back();
        if (key == 0) return floats(vertex.position, 3);
        if (key == 1) return floats(vertex.normal, 3);
        if (key == 2) return floats(vertex.color, 4);
        if (key == 3) {
            weights_.clear();
            return Push(Ctx::Weights, false);
        }
        break;
    }
    case Ctx::Weights:
        weights_.push_back(HostVertexWeight{-1, 0.0f});
        return Push(Ctx::Weight, false);
    case Ctx::UvStore: {
        if (Element() >= kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        return Push(Ctx::UvStoreChannel, false);
    }
    case Ctx::UvStoreChannel: {
        auto& channel = impl_.storeUvs[IndexOf(1)];
        if (channel.size() >= static_cast<size_t>(INT32_MAX)) Fail(FramePath(stack_.size()), "too many entries");
        channel.push_back(HostUv{0, 0.0f, 0.0f, -1});
        return floats(&channel.back().u, 2);
    }
    case Ctx::Object:
        if (key == 2) {
            claims_.back().hasRefs = true;
            claims_.back().firstRef = refClaims_.size();
            return Push(Ctx::MaterialRefs, false);
        }
        break;
    case Ctx::MaterialRefs:
        refPart_[0] = refPart_[1] = INT64_MIN;
        return Push(Ctx::MaterialRef, false);
    case Ctx::FaceGroup:
        if (key == 0) return Push(Ctx::Faces, false);
        break;
    case Ctx::Face: {
        PendingFaces::Face& face = faces_.faces.back();
        if (key == 3) return floats(face.normal, 3);
        if (key == 4) {
            face.hasCorners = true;
            return Push(Ctx::VertexIndices, false);
        }
        if (key == 5) {
            face.flags |= kFaceHasChannels;
            return Push(Ctx::FaceUvChannels, false);
        }
        break;
    }
    case Ctx::FaceUvChannel: {
        const size_t c = IndexOf(1);
        if (key == 0) {
            faces_.faces.back().flags |= static_cast<uint8_t>(kFaceHasUvIndices << c);
            return Push(Ctx::UvIndices, false);
        }
        if (key == 1) {
            faces_.faces.back().flags |= static_cast<uint8_t>(kFaceHasCornerUvs << c);
            return Push(Ctx::CornerUvs, false);
        }
        break;
    }
    case Ctx::CornerUvs: {
        const size_t c = IndexOf(2);
        std::vector<float>& uvs = faces_.cornerUvs[c];
        uvs.push_back(0.0f);
        uvs.push_back(0.0f);
        ++faces_.faces.back().cornerUvCount[c];
        return floats(uvs.data() + uvs.size() - 2, 2);
    }
    case Ctx::Bone: {
        HostBone& bone = impl_.bones.back();
        if (key == 2) return floats(bone.translation, 3);
        if (key == 3) return floats(bone.scale, 3);
        if (key == 4) return floats(bone.rotation, 4);
        break;
    }
    case Ctx::Animation:
        if (key == 4) {
            tracks_ = std::make_unique<AnimationStore>();
            return Push(Ctx::Tracks, false);
        }
        break;
    case Ctx::Track:
        if (key >= 0) return Push(Ctx::Keys, false);
        break;
    case Ctx::Keys: {
        TrackStore& keys = tracks_->keys.back();
        const int which = stack_[stack_.size() - 2].key;  // of the track
        if (which == 1) {
            keys.rotation.push_back(HostRotationKey{0.0f, {0.0f, 0.0f, 0.0f, 1.0f}});
            return floats(&keys.rotation.back().time, 5);
        }
        std::vector<HostVectorKey>& list = which == 0 ? keys.position : keys.scale;
        list.push_back(HostVectorKey{0.0f, {0.0f, 0.0f, 0.0f}});
        return floats(&list.back().time, 4);
    }
    default:
        break;
    }
    FailType();
}

bool SceneReader::end_array() {
    CloseArray(stack_.back());
    stack_.pop_back();
    Next();
    return true;
}

void SceneReader::CloseArray(const Frame& frame) {
    switch (frame.ctx) {
    case Ctx::Floats:
        if (static_cast<int>(frame.count) != frame.want) Fail(FramePath(stack_.size()), "expected " + std::to_string(frame.want) + " numbers");
        break;
    case Ctx::Layers:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected two layer paths");
        break;
    case Ctx::Weight:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected [boneIndex, weight]");
        break;
    case Ctx::Weights: {
        if (weights_.size() > static_cast<size_t>(INT32_MAX)) Fail(FramePath(stack_.size()), "too many weights");
        const int v = static_cast<int>(impl_.vertices.size()) - 1;
        HostVertex* vertex = impl_.SetWeights(v, static_cast<int>(weights_.size()));
        std::copy(weights_.begin(), weights_.end(), vertex->weights);
        break;
    }
    case Ctx::UvStore:
        if (frame.count != kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case Ctx::MaterialRef:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected [materialIndex, faceCount]");
        refClaims_.emplace_back(refPart_[0], refPart_[1]);
        ++claims_.back().refCount;
        break;
    case Ctx::FaceUvChannels:
        if (frame.count != kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case Ctx::Tracks:
        FinishTracks();
        break;
    case Ctx::FaceGroups:
        faces_.ReleaseMemory();
        break;
    default:
        break;
    }
}

void SceneReader::FinishTexture() {
    const std::string where = FramePath(stack_.size());
    const PendingTexture& t = texture_;
    if (t.channel < 0 || t.kind < 0) FailAt(where, "a texture needs \"channel\" and \"kind\"");
    HostMaterial& material = impl_.materials.back();
    if (material.textures[t.channel]) FailAt(where + ".channel", "channel " + std::to_string(t.channel) + " already has a texture");
    if (t.kind == kTextureImage && (t.hasLayerFlags || t.hasLayers)) FailAt(where, "an image texture has no layers");
    if (t.kind == kTextureMultiply && t.hasPath) FailAt(where, "a multiply texture has no path of its own");
    HostTexture* texture = impl_.SetTexture(static_cast<int>(impl_.materials.size()) - 1, t.channel, t.kind);
    if (t.hasFlags) texture->flags = t.flags;
    if (t.kind == kTextureImage) {
        if (t.hasPath) SetDualString(texture->path, t.path);
        return;
    }
    HostLayeredTexture& layered = *LayeredTextureOf(texture);
    if (t.hasLayerFlags) layered.layerFlags = static_cast<uint8_t>(t.layerFlags);
    if (!t.hasLayers || t.layersNull) {
        layered.layers = nullptr;
        return;
    }
    for (size_t k = 0; k < 2; ++k) {
        std::copy(t.layers[k].begin(), t.layers[k].end(), layered.layers[k].path);
        layered.layers[k].path[t.layers[k].size()] = 0;
    }
}

void SceneReader::FinishFace() {
    // The place's name is made for a failure only: this runs for every face.
    auto where = [&] { return FramePath(stack_.size()); };
    const PendingFaces::Face& face = faces_.faces.back();
    if (!face.hasCorners) FailAt(where(), "a face needs \"vertexIndices\"");
    for (int c = 0; c < kUvChannels; ++c) {
        auto channel = [&] { return where() + ".uvChannels[" + std::to_string(c) + "]"; };
        if ((face.flags & (kFaceHasUvIndices << c)) && face.uvIndexCount[c] != face.corners) {
            FailAt(channel() + ".uvIndices", "expected one index per corner");
        }
        if ((face.flags & (kFaceHasCornerUvs << c)) && face.cornerUvCount[c] != face.corners) {
            FailAt(channel() + ".cornerUvs", "expected one UV per corner");
        }
    }
}

void SceneReader::FinishFaceGroup() {
    const size_t count = faces_.faces.size();
    std::vector<int> cornerCounts(count);
    for (size_t f = 0; f < count; ++f) cornerCounts[f] = static_cast<int>(faces_.faces[f].corners);
    FaceStore store = MakeFaceStore(cornerCounts);
    Release(cornerCounts);
    const int* indices = faces_.vertexIndices.data();
    const int* uvIndices[kUvChannels] = {faces_.uvIndices[0].data(), faces_.uvIndices[1].data()};
    const float* cornerUvs[kUvChannels] = {faces_.cornerUvs[0].data(), faces_.cornerUvs[1].data()};
    for (size_t f = 0; f < count; ++f) {
        const PendingFaces::Face& from = faces_.faces[f];
        HostFace& face = store.faces[f];
        face.materialIndex = from.materialIndex;
        face.objectIndex = from.objectIndex;
        face.smoothingGroup = from.smoothingGroup;
        std::copy_n(from.normal, 3, face.normal);
        std::copy_n(indices, from.corners, face.vertexIndices);
        indices += from.corners;
        for (int c = 0; c < kUvChannels; ++c) {
            HostFaceUvChannel& channel = face.uvData->channels[c];
            if (from.flags & (kFaceHasUvIndices << c)) {
                std::copy_n(uvIndices[c], from.corners, channel.uvIndices);
                uvIndices[c] += from.corners;
            }
            if (from.flags & (kFaceHasCornerUvs << c)) {
                for (uint32_t k = 0; k < from.corners; ++k) {
                    channel.cornerUvs[k].u = cornerUvs[c][2 * k];
                    channel.cornerUvs[k].v = cornerUvs[c][2 * k + 1];
                }
                cornerUvs[c] += 2 * from.corners;
            }
        }
        faceFlags_.push_back(from.flags);
    }
    faces_.Clear();
    impl_.InstallFaces(static_cast<int>(impl_.groups.size()) - 1, std::move(store));
}

void SceneReader::FinishTracks() {
    AnimationStore& store = *tracks_;
    for (size_t t = 0; t < store.tracks.size(); ++t) {
        TrackStore& keys = store.keys[t];
        HostTrack& track = store.tracks[t];
        track.positionKeys = keys.position.empty() ? nullptr : keys.position.data();
        track.positionKeyCount = static_cast<int>(keys.position.size());
        track.rotationKeys = keys.rotation.empty() ? nullptr : keys.rotation.data();
        track.rotationKeyCount = static_cast<int>(keys.rotation.size());
        track.scaleKeys = keys.scale.empty() ? nullptr : keys.scale.data();
        track.scaleKeyCount = static_cast<int>(keys.scale.size());
    }
    const size_t a = impl_.animations.size() - 1;
    HostAnimation& animation = impl_.animations[a];
    animation.trackCount = static_cast<int>(store.tracks.size());
    animation.tracks = store.tracks.empty() ? nullptr : store.tracks.data();
    impl_.animationStores[a] = std::move(tracks_);
}

void SceneReader::Finish() {
    const int64_t bones = static_cast<int64_t>(impl_.bones.size());
    for (size_t b = 0; b < impl_.bones.size(); ++b) {
        Check(impl_.bones[b].parentIndex, -1, bones - 1, "bones[" + std::to_string(b) + "].parentIndex");
    }
    for (size_t v = 0; v < impl_.vertices.size(); ++v) {
        const HostVertex& vertex = impl_.vertices[v];
        for (int w = 0; w < vertex.weightCount; ++w) {
            // The place's name is made for a failure only.
            const int bone = vertex.weights[w].boneIndex;
            if (bone < -1 || bone >= bones) Check(bone, -1, bones - 1, "vertices[" + std::to_string(v) + "].weights[" + std::to_string(w) + "][0]");
        }
    }
    const int64_t vertices = static_cast<int64_t>(impl_.vertices.size());
    const int64_t materials = static_cast<int64_t>(impl_.materials.size());
    const int64_t objects = static_cast<int64_t>(impl_.objects.size());
    size_t flagIndex = 0;
    for (size_t g = 0; g < impl_.groupStores.size(); ++g) {
        const FaceStore& store = impl_.groupStores[g];
        for (size_t f = 0; f < store.faceCount; ++f) {
            HostFace& face = store.faces[f];
            const uint8_t flags = faceFlags_[flagIndex++];
            auto where = [&] { return "faceGroups[" + std::to_string(g) + "].faces[" + std::to_string(f) + "]"; };
            // Cheap tests first: building the place's name is for failures.
            if (face.materialIndex >= materials) Check(face.materialIndex, -1, materials - 1, where() + ".materialIndex");
            if (face.objectIndex >= objects) Check(face.objectIndex, -1, objects - 1, where() + ".objectIndex");
            for (int k = 0; k < face.cornerCount; ++k) {
                if (face.vertexIndices[k] >= vertices) Check(face.vertexIndices[k], 0, vertices - 1, where() + ".vertexIndices[" + std::to_string(k) + "]");
            }
            for (int c = 0; c < kUvChannels; ++c) {
                HostFaceUvChannel& channel = face.uvData->channels[c];
                const bool hasIndices = flags & (kFaceHasUvIndices << c);
                if (!uvStoreGiven_) {
                    if (hasIndices) FailAt(where() + ".uvChannels[" + std::to_string(c) + "].uvIndices", "uvIndices need a \"uvStore\"");
                    continue;
                }
                if (face.cornerCount == 0) continue;
                if (!(flags & kFaceHasChannels)) FailAt(where(), "with a \"uvStore\" every face needs \"uvChannels\" with \"uvIndices\"");
                if (!hasIndices) FailAt(where() + ".uvChannels[" + std::to_string(c) + "]", "with a \"uvStore\" every face needs \"uvIndices\"");
                const auto& uvs = impl_.storeUvs[c];
                const int64_t last = static_cast<int64_t>(uvs.size()) - 1;
                const bool fill = !(flags & (kFaceHasCornerUvs << c));
                for (int k = 0; k < face.cornerCount; ++k) {
                    const int index = channel.uvIndices[k];
                    if (index > last) Check(index, 0, last, where() + ".uvChannels[" + std::to_string(c) + "].uvIndices[" + std::to_string(k) + "]");
                    if (fill) channel.cornerUvs[k] = uvs[static_cast<size_t>(index)];
                }
            }
        }
    }
    Release(faceFlags_);

    if (uvStoreGiven_) {
        impl_.RebuildObjectRefs();
        impl_.SyncContext();
    } else {
        impl_.RebuildUvStore();
        impl_.RebuildObjectRefs();
    }

    // What the file claims about its objects must agree with its faces.
    for (size_t o = 0; o < claims_.size(); ++o) {
        const std::string where = "objects[" + std::to_string(o) + "]";
        const HostObject& object = impl_.objects[o];
        const ObjectClaim& claim = claims_[o];
        if (claim.hasFaceCount && claim.faceCount != object.faceCount) {
            FailAt(where + ".faceCount", std::to_string(claim.faceCount) + " does not match the " + std::to_string(object.faceCount) + " faces that name the object");
        }
        if (!claim.hasRefs) continue;
        bool same = claim.refCount == static_cast<size_t>(object.materialRefCount);
        for (size_t r = 0; same && r < claim.refCount; ++r) {
            const auto& pair = refClaims_[claim.firstRef + r];
            same = pair.first == object.materialRefs[r].materialIndex && pair.second == object.materialRefs[r].faceCount;
        }
        if (!same) FailAt(where + ".materialRefs", "does not match the materials the object's faces use, in first-use order");
    }
    impl_.SyncContext();
}

// Parses `source` into `impl`, which starts empty; on failure leaves it
// empty and says why in `error`.
bool Load(HostScene::Impl& impl, JsonSource& source, std::string& error) {
    impl.Clear();
    try {
        SceneReader reader(impl, source);
        JsonSyntaxError syntax;
        const bool parsed = ParseJson(source, reader, syntax);
        if (source.ReadFailed()) throw LoadError{"read failed at byte " + std::to_string(source.Offset())};
        if (!parsed) throw LoadError{"not valid JSON: " + syntax.what + " at byte " + std::to_string(syntax.offset)};
        reader.Finish();
        error.clear();
        return true;
    } catch (const LoadError& failure) {
        error = source.ReadFailed() ? "read failed at byte " + std::to_string(source.Offset()) : failure.message;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::length_error&) {
        error = "out of memory";
    }
    impl.Clear();
    return false;
}

}  // namespace

bool HostScene::loadJson(std::string_view json, std::string& error) {
    JsonSource source(json);
    return Load(*impl_, source, error);
}

bool HostScene::loadJson(std::FILE* file, std::string& error) {
    try {
        JsonSource source(file);
        return Load(*impl_, source, error);
    } catch (const std::bad_alloc&) {
        impl_->Clear();
        error = "out of memory";
        return false;
    }
}

bool HostScene::loadJsonFile(const char16_t* path, std::string& error) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (!file) {
        impl_->Clear();
        error = "cannot open";
        return false;
    }
    const bool loaded = loadJson(file, error);
    std::fclose(file);
    return loaded;
}

}  // namespace asehost
