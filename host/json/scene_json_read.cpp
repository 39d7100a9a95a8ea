// Reading the scene store's JSON form (layout in scene_json.h, keys in
// scene_keys.h): HostScene::loadJson and loadJsonFile.
//
// The text is parsed as a stream of events (json_events.h) that build the
// records directly, so that a load holds the scene and a small read buffer,
// never the text or a document of it: a scene's text is several times the
// size of the scene, a document of it ten times.
//
// Every value the parser meets is handed, as a Value, to the handler of
// what holds it: the handler of the kind of object it is a member of, which
// dispatches on the key's name, or that of the kind of list it is an
// element of. A handler takes the values it expects and refuses any other
// with what it expected, so that the message names the value's place.
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
#include "host/json/scene_json.h"
#include "host/json/scene_keys.h"
#include "host/store/scene_impl.h"
#include "host/store/text.h"
#include "platform/platform.h"

namespace asehost {

namespace {

// A load failure; the message says where.
struct LoadError {
    std::string message;
};

// --- The layout ---------------------------------------------------------------

// Every kind of array of the layout (the objects are SceneObject).
enum class List : uint8_t {
    Materials, Textures, Layers,
    Vertices, Weights, Weight,
    UvStore, UvStoreChannel,
    Objects, MaterialRefs, MaterialRef,
    FaceGroups, Faces, VertexIndices, FaceUvChannels, UvIndices, CornerUvs,
    Bones,
    Animations, Tracks, Keys,
    Floats,  // a fixed number of floats into `floats`
};

// One open array or object. In an object `key` is the member being read;
// in an array `count` is the number of elements begun so far.
struct Frame {
    bool isObject = false;
    SceneObject object = SceneObject::kScene;  // of an object
    List list = List::Floats;                  // of an array
    SceneKey key = SceneKey::kNone;
    SceneKey lastKey = SceneKey::kNone;  // the key read last, for the writer's order
    uint64_t seen = 0;                   // keys met so far (bit per SceneKey)
    size_t count = 0;
    // List::Floats: where the numbers go and how many there must be.
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

// One event of the parser as the handlers see it: a scalar with its value,
// or the start of an array or object (whose elements come as later events).
struct Value {
    enum Kind : uint8_t { kNull, kBoolean, kInteger, kFloat, kText, kArray, kObject };
    explicit Value(Kind of) : kind(of) {}
    explicit Value(int64_t value) : kind(kInteger), integer(value) {}
    explicit Value(float value) : kind(kFloat), number(value) {}
    explicit Value(std::string_view value) : kind(kText), text(value) {}

    Kind kind;
    int64_t integer = 0;
    float number = 0.0f;
    std::string_view text;
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

// What a value of the wrong kind is told.
constexpr const char kText[] = "expected a text";
constexpr const char kInteger[] = "expected an integer";
constexpr const char kNumber[] = "expected a number";
constexpr const char kArray[] = "expected an array";
constexpr const char kObject[] = "expected an object";

// The handler of the parser's events (json_events.h): builds the records of
// `impl` as the text goes by. Throws LoadError, std::bad_alloc.
class SceneReader {
public:
    SceneReader(HostScene::Impl& impl, const JsonSource& source) : impl_(impl), source_(source) {}

    // --- Events ---------------------------------------------------------------
    bool null() { return Scalar(Value(Value::kNull)); }
    bool boolean(bool) { return Scalar(Value(Value::kBoolean)); }
    bool number_integer(int64_t value) { return Scalar(Value(value)); }
    bool number_unsigned(uint64_t value) {
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Fail(ValuePath(), "integer out of range");
        // The floats of vectors and UVs are often written as integers ("0",
        // "1"): those go straight in, as number_float takes them.
        if (TakeFloat(static_cast<float>(value))) return true;
        return Scalar(Value(static_cast<int64_t>(value)));
    }
    bool number_float(float value, std::string_view) {
        if (TakeFloat(value)) return true;
        return Scalar(Value(value));
    }
    bool string(std::string_view value) { return Scalar(Value(value)); }
    bool start_object(size_t) {
        Dispatch(Value(Value::kObject));
        return true;
    }
    bool key(std::string_view name);
    bool end_object();
    bool start_array(size_t) {
        if (stack_.empty()) Fail(ValuePath(), kObject);
        // Every array holds or makes at most this much (a UV pair, a key, a
        // weight, a list's own record).
        Charge(32);
        Dispatch(Value(Value::kArray));
        return true;
    }
    bool end_array();

    // The checks and derived data that need the whole text, once it is read.
    void Finish();

private:
    // Failures are rare: kept out of line, so that the checks inline.
    [[noreturn, gnu::cold, gnu::noinline]] void Fail(const std::string& where, const std::string& what) const {
        throw LoadError{(where.empty() ? std::string("scene") : where) + ": " + what + " (at byte " + std::to_string(source_.TokenOffset()) + ")"};
    }
    [[noreturn]] static void FailAt(const std::string& where, const std::string& what) { throw LoadError{where + ": " + what}; }

    // The place of the frames open now, e.g. faceGroups[0].faces[3].
    std::string FramePath(size_t depth) const;
    // The place of the value being read (the open frames and the current key
    // or element).
    std::string ValuePath() const;

    // After a value: an array counts it; an object forgets the key.
    void Next() {
        Frame& top = stack_.back();
        if (top.isObject) {
            top.key = SceneKey::kNone;
        } else {
            ++top.count;
        }
    }

    // Most numbers of a scene are the floats of a vector or a UV: true when
    // `value` is one and went straight in, what Element does for them
    // without its dispatch; false when the general way must take it.
    bool TakeFloat(float value) {
        if (stack_.empty()) return false;
        Frame& top = stack_.back();
        if (top.isObject || top.list != List::Floats || static_cast<int>(top.count) >= top.want) return false;
        top.floats[top.count++] = value;
        return true;
    }

    // The element index of the value about to be read in the top array.
    size_t Element() const { return stack_.back().count; }
    // Which element of the list `up` frames above the top is open.
    size_t IndexOf(size_t up) const { return stack_[stack_.size() - 1 - up].count; }

    // --- Dispatch -------------------------------------------------------------
    // A scalar is taken by its holder, which then moves on; an array or
    // object opens a frame that its end closes.
    bool Scalar(const Value& value) {
        Dispatch(value);
        Next();
        return true;
    }
    void Dispatch(const Value& value);
    void Member(SceneObject object, SceneKey key, const Value& value);
    void Element(List list, const Value& value);
    void ListElement(List list, const Value& value);
    void ValueElement(List list, const Value& value);

    // One handler per kind of object: the member `key` of the object open
    // at the top has the value `value`.
    void SceneMember(SceneKey key, const Value& value);
    void MaterialMember(SceneKey key, const Value& value);
    void TextureMember(SceneKey key, const Value& value);
    void VertexMember(SceneKey key, const Value& value);
    void ObjectMember(SceneKey key, const Value& value);
    void FaceMember(SceneKey key, const Value& value);
    void FaceUvMember(SceneKey key, const Value& value);
    void BoneMember(SceneKey key, const Value& value);
    void AnimationMember(SceneKey key, const Value& value);
    void TrackMember(SceneKey key, const Value& value);

    // An element of a list of records begins the record `object`.
    void BeginRecord(SceneObject object, const Value& value);

    // The value as the handler expects it, or a failure that names its
    // place and what was expected.
    int64_t IntegerOf(const Value& value) const {
        if (value.kind != Value::kInteger) Fail(ValuePath(), kInteger);
        return value.integer;
    }
    // Integers read as floats; the non-finite values are written as texts.
    float NumberOf(const Value& value) const;
    std::string_view TextOf(const Value& value) const {
        if (value.kind != Value::kText) Fail(ValuePath(), kText);
        return value.text;
    }
    void ArrayOf(const Value& value, const char* expected = kArray) const {
        if (value.kind != Value::kArray) Fail(ValuePath(), expected);
    }
    // An array of `count` numbers into `into`.
    void Floats(const Value& value, float* into, int count) {
        ArrayOf(value);
        PushArray(List::Floats, into, count);
    }
    void PushArray(List list, float* floats = nullptr, int want = 0) {
        Frame& frame = stack_.Open();
        frame.list = list;
        frame.floats = floats;
        frame.want = want;
    }
    void PushObject(SceneObject object) {
        Frame& frame = stack_.Open();
        frame.isObject = true;
        frame.object = object;
    }

    void CloseObject(const Frame& frame);
    void CloseArray(const Frame& frame);

    static int64_t Check(int64_t value, int64_t low, int64_t high, const std::string& where);
    int64_t InRange(int64_t value, int64_t low, int64_t high) const {
        if (value < low || value > high) [[unlikely]] FailRange(value, low, high);
        return value;
    }
    [[noreturn, gnu::cold, gnu::noinline]] void FailRange(int64_t value, int64_t low, int64_t high) const {
        Fail(ValuePath(), std::to_string(value) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    // A text value as a record's wide text.
    std::u16string WideText(const Value& value) const {
        std::u16string wide;
        if (!Utf8ToUtf16(TextOf(value), wide)) Fail(ValuePath(), "text is not valid UTF-8");
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
        if (charged_ > kBytesPerTextByte * source_.Offset() + kAllowance) [[unlikely]] FailCharge();
    }
    [[noreturn, gnu::cold, gnu::noinline]] void FailCharge() const {
        Fail(ValuePath(), "the scene would need more than " + std::to_string(kBytesPerTextByte) + " bytes of memory per byte of its text");
    }
    static size_t RecordCost(SceneObject object);
    static size_t CornerCost(size_t corner);

    void FinishTexture();
    void FinishFace();
    void FinishFaceGroup();
    void FinishTracks();
    void CheckBones() const;
    void CheckFaces();
    void CheckObjectClaims() const;

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

// --- Places ---------------------------------------------------------------------

std::string SceneReader::FramePath(size_t depth) const {
    std::string text;
    for (size_t i = 1; i < depth; ++i) {
        const Frame& parent = stack_[i - 1];
        if (parent.isObject) {
            if (!text.empty()) text += '.';
            text += SceneKeyText(parent.key);
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
        if (top.key != SceneKey::kNone) {
            if (!text.empty()) text += '.';
            text += SceneKeyText(top.key);
        }
    } else {
        text += '[' + std::to_string(top.count) + ']';
    }
    return text;
}

int64_t SceneReader::Check(int64_t value, int64_t low, int64_t high, const std::string& where) {
    if (value < low || value > high) {
        FailAt(where, std::to_string(value) + " is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    return value;
}

float SceneReader::NumberOf(const Value& value) const {
    switch (value.kind) {
    case Value::kFloat: return value.number;
    case Value::kInteger: return static_cast<float>(value.integer);
    case Value::kText:
        if (value.text == "nan") return std::numeric_limits<float>::quiet_NaN();
        if (value.text == "inf") return std::numeric_limits<float>::infinity();
        if (value.text == "-inf") return -std::numeric_limits<float>::infinity();
        break;
    default:
        break;
    }
    Fail(ValuePath(), kNumber);
}

// The member about to be read: a key of the open object's kind, not given
// before in it.
bool SceneReader::key(std::string_view name) {
    Frame& top = stack_.back();
    const SceneKey key = FindSceneKey(top.object, name, top.lastKey);
    if (key == SceneKey::kNone) Fail(FramePath(stack_.size()), "unknown key \"" + std::string(name) + "\"");
    const uint64_t bit = uint64_t{1} << static_cast<unsigned>(key);
    if (top.seen & bit) Fail(FramePath(stack_.size()), "key \"" + std::string(name) + "\" given twice");
    top.seen |= bit;
    top.key = key;
    top.lastKey = key;
    return true;
}

// --- Dispatch -------------------------------------------------------------------

// Hands `value` to what holds it: the handler of the open object's kind, or
// of the open list's.
void SceneReader::Dispatch(const Value& value) {
    if (stack_.empty()) {
        // The text is one object, the scene.
        if (value.kind != Value::kObject) Fail(ValuePath(), kObject);
        PushObject(SceneObject::kScene);
        return;
    }
    const Frame& top = stack_.back();
    if (top.isObject) {
        Member(top.object, top.key, value);
    } else {
        Element(top.list, value);
    }
}

void SceneReader::Member(SceneObject object, SceneKey key, const Value& value) {
    switch (object) {
    case SceneObject::kScene: return SceneMember(key, value);
    case SceneObject::kMaterial: return MaterialMember(key, value);
    case SceneObject::kTexture: return TextureMember(key, value);
    case SceneObject::kVertex: return VertexMember(key, value);
    case SceneObject::kObject: return ObjectMember(key, value);
    case SceneObject::kFaceGroup:
        ArrayOf(value);
        return PushArray(List::Faces);
    case SceneObject::kFace: return FaceMember(key, value);
    case SceneObject::kFaceUvChannel: return FaceUvMember(key, value);
    case SceneObject::kBone: return BoneMember(key, value);
    case SceneObject::kAnimation: return AnimationMember(key, value);
    case SceneObject::kTrack: return TrackMember(key, value);
    case SceneObject::kCount: break;
    }
}

void SceneReader::SceneMember(SceneKey key, const Value& value) {
    if (key == SceneKey::kSceneFormat) {
        const std::string_view format = TextOf(value);
        if (format != kSceneJsonFormat) Fail(ValuePath(), "\"" + std::string(format) + "\" is not a form this reader knows (\"" + kSceneJsonFormat + "\")");
        return;
    }
    ArrayOf(value);
    switch (key) {
    case SceneKey::kSceneMaterials: return PushArray(List::Materials);
    case SceneKey::kSceneVertices: return PushArray(List::Vertices);
    case SceneKey::kSceneUvStore:
        uvStoreGiven_ = true;
        return PushArray(List::UvStore);
    case SceneKey::kSceneObjects: return PushArray(List::Objects);
    case SceneKey::kSceneFaceGroups: return PushArray(List::FaceGroups);
    case SceneKey::kSceneBones: return PushArray(List::Bones);
    default: return PushArray(List::Animations);  // SceneKey::kSceneAnimations
    }
}

void SceneReader::MaterialMember(SceneKey key, const Value& value) {
    HostMaterial& material = impl_.materials.back();
    switch (key) {
    case SceneKey::kMaterialName: return SetDualString(material.name, WideText(value));
    case SceneKey::kMaterialFlags:
        material.flags = static_cast<uint32_t>(InRange(IntegerOf(value), 0, UINT32_MAX));
        return;
    case SceneKey::kMaterialDiffuse: return Floats(value, material.diffuse, 3);
    case SceneKey::kMaterialAmbient: return Floats(value, material.ambient, 3);
    case SceneKey::kMaterialSpecular: return Floats(value, material.specular, 3);
    case SceneKey::kMaterialShininess:
        material.shininess = NumberOf(value);
        return;
    case SceneKey::kMaterialOpacity:
        material.opacity = NumberOf(value);
        return;
    default:  // SceneKey::kMaterialTextures
        ArrayOf(value);
        return PushArray(List::Textures);
    }
}

void SceneReader::TextureMember(SceneKey key, const Value& value) {
    PendingTexture& t = texture_;
    switch (key) {
    case SceneKey::kTextureChannel:
        t.channel = static_cast<int>(InRange(IntegerOf(value), 0, kTextureChannels - 1));
        return;
    case SceneKey::kTextureKind:
        t.kind = static_cast<int>(InRange(IntegerOf(value), kTextureImage, kTextureMultiply));
        if (t.kind != kTextureImage && t.kind != kTextureMultiply) Fail(ValuePath(), "kind must be 1 (image) or 4 (multiply)");
        return;
    case SceneKey::kTextureFlags:
        t.flags = static_cast<uint32_t>(InRange(IntegerOf(value), 0, UINT32_MAX));
        t.hasFlags = true;
        return;
    case SceneKey::kTexturePath:
        t.path = WideText(value);
        t.hasPath = true;
        return;
    case SceneKey::kTextureLayerFlags:
        t.layerFlags = static_cast<int>(InRange(IntegerOf(value), 0, 255));
        t.hasLayerFlags = true;
        return;
    default:  // SceneKey::kTextureLayers
        // null: a multiply texture without layer paths.
        if (value.kind != Value::kNull) ArrayOf(value, "expected null or an array");
        t.hasLayers = true;
        t.layersNull = value.kind == Value::kNull;
        if (!t.layersNull) PushArray(List::Layers);
        return;
    }
}

void SceneReader::VertexMember(SceneKey key, const Value& value) {
    HostVertex& vertex = impl_.vertices.back();
    switch (key) {
    case SceneKey::kVertexPosition: return Floats(value, vertex.position, 3);
    case SceneKey::kVertexNormal: return Floats(value, vertex.normal, 3);
    case SceneKey::kVertexColor: return Floats(value, vertex.color, 4);
    default:  // SceneKey::kVertexWeights
        ArrayOf(value);
        weights_.clear();
        return PushArray(List::Weights);
    }
}

void SceneReader::ObjectMember(SceneKey key, const Value& value) {
    ObjectClaim& claim = claims_.back();
    switch (key) {
    case SceneKey::kObjectName: return SetDualString(impl_.objects.back().name, WideText(value));
    case SceneKey::kObjectFaceCount:
        claim.faceCount = InRange(IntegerOf(value), INT32_MIN, INT32_MAX);
        claim.hasFaceCount = true;
        return;
    default:  // SceneKey::kObjectMaterialRefs
        ArrayOf(value);
        claim.hasRefs = true;
        claim.firstRef = refClaims_.size();
        return PushArray(List::MaterialRefs);
    }
}

void SceneReader::FaceMember(SceneKey key, const Value& value) {
    PendingFaces::Face& face = faces_.faces.back();
    switch (key) {
    case SceneKey::kFaceMaterialIndex:
        face.materialIndex = static_cast<int>(InRange(IntegerOf(value), -1, INT32_MAX));
        return;
    case SceneKey::kFaceObjectIndex:
        face.objectIndex = static_cast<int>(InRange(IntegerOf(value), -1, INT32_MAX));
        return;
    case SceneKey::kFaceSmoothingGroup:
        face.smoothingGroup = static_cast<int>(InRange(IntegerOf(value), INT32_MIN, INT32_MAX));
        return;
    case SceneKey::kFaceNormal: return Floats(value, face.normal, 3);
    case SceneKey::kFaceVertexIndices:
        ArrayOf(value);
        face.hasCorners = true;
        return PushArray(List::VertexIndices);
    default:  // SceneKey::kFaceUvChannels
        ArrayOf(value);
        face.flags |= kFaceHasChannels;
        return PushArray(List::FaceUvChannels);
    }
}

void SceneReader::FaceUvMember(SceneKey key, const Value& value) {
    ArrayOf(value);
    // The channel is the element of the face's list of channels.
    const size_t c = IndexOf(1);
    if (key == SceneKey::kFaceUvChannelUvIndices) {
        faces_.faces.back().flags |= static_cast<uint8_t>(kFaceHasUvIndices << c);
        return PushArray(List::UvIndices);
    }
    faces_.faces.back().flags |= static_cast<uint8_t>(kFaceHasCornerUvs << c);
    PushArray(List::CornerUvs);
}

void SceneReader::BoneMember(SceneKey key, const Value& value) {
    HostBone& bone = impl_.bones.back();
    switch (key) {
    case SceneKey::kBoneName: return SetDualString(bone.name, WideText(value));
    case SceneKey::kBoneParentIndex: {
        const int64_t parent = InRange(IntegerOf(value), -1, INT32_MAX);
        if (parent == static_cast<int64_t>(impl_.bones.size()) - 1) Fail(ValuePath(), "a bone cannot be its own parent");
        bone.parentIndex = static_cast<int>(parent);
        return;
    }
    case SceneKey::kBoneTranslation: return Floats(value, bone.translation, 3);
    case SceneKey::kBoneScale: return Floats(value, bone.scale, 3);
    default: return Floats(value, bone.rotation, 4);  // SceneKey::kBoneRotation
    }
}

void SceneReader::AnimationMember(SceneKey key, const Value& value) {
    HostAnimation& animation = impl_.animations.back();
    switch (key) {
    case SceneKey::kAnimationName: return SetDualString(animation.name, WideText(value));
    case SceneKey::kAnimationFlags:
        animation.flags = static_cast<int>(InRange(IntegerOf(value), INT32_MIN, INT32_MAX));
        return;
    case SceneKey::kAnimationFrameCount:
        animation.frameCount = NumberOf(value);
        return;
    case SceneKey::kAnimationFrameRate:
        animation.frameRate = NumberOf(value);
        return;
    default:  // SceneKey::kAnimationTracks
        ArrayOf(value);
        tracks_ = std::make_unique<AnimationStore>();
        return PushArray(List::Tracks);
    }
}

void SceneReader::TrackMember(SceneKey, const Value& value) {
    // Which list of keys it is stays in the track's frame, for the keys.
    ArrayOf(value);
    PushArray(List::Keys);
}

// The handler of the lists: `value` is the next element of the open list,
// of kind `list`.
void SceneReader::Element(List list, const Value& value) {
    switch (list) {
    // The lists of records.
    case List::Materials: return BeginRecord(SceneObject::kMaterial, value);
    case List::Textures: return BeginRecord(SceneObject::kTexture, value);
    case List::Vertices: return BeginRecord(SceneObject::kVertex, value);
    case List::Objects: return BeginRecord(SceneObject::kObject, value);
    case List::FaceGroups: return BeginRecord(SceneObject::kFaceGroup, value);
    case List::Faces: return BeginRecord(SceneObject::kFace, value);
    case List::FaceUvChannels: return BeginRecord(SceneObject::kFaceUvChannel, value);
    case List::Bones: return BeginRecord(SceneObject::kBone, value);
    case List::Animations: return BeginRecord(SceneObject::kAnimation, value);
    case List::Tracks: return BeginRecord(SceneObject::kTrack, value);
    case List::Weights:
    case List::UvStore:
    case List::UvStoreChannel:
    case List::MaterialRefs:
    case List::CornerUvs:
    case List::Keys: return ListElement(list, value);
    default: return ValueElement(list, value);
    }
}

// An element of a list of lists: the inner list, opened.
void SceneReader::ListElement(List list, const Value& value) {
    ArrayOf(value);
    switch (list) {
    case List::Weights:
        weights_.push_back(HostVertexWeight{-1, 0.0f});
        return PushArray(List::Weight);
    case List::UvStore:
        if (Element() >= kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        return PushArray(List::UvStoreChannel);
    case List::UvStoreChannel: {
        auto& channel = impl_.storeUvs[IndexOf(1)];
        if (channel.size() >= static_cast<size_t>(INT32_MAX)) Fail(FramePath(stack_.size()), "too many entries");
        channel.push_back(HostUv{0, 0.0f, 0.0f, -1});
        return Floats(value, &channel.back().u, 2);
    }
    case List::MaterialRefs:
        refPart_[0] = refPart_[1] = INT64_MIN;
        return PushArray(List::MaterialRef);
    case List::CornerUvs: {
        const size_t c = IndexOf(2);
        std::vector<float>& uvs = faces_.cornerUvs[c];
        uvs.push_back(0.0f);
        uvs.push_back(0.0f);
        ++faces_.faces.back().cornerUvCount[c];
        return Floats(value, uvs.data() + uvs.size() - 2, 2);
    }
    case List::Keys: {
        TrackStore& keys = tracks_->keys.back();
        const SceneKey which = stack_[stack_.size() - 2].key;  // of the track
        if (which == SceneKey::kTrackRotationKeys) {
            keys.rotation.push_back(HostRotationKey{0.0f, {0.0f, 0.0f, 0.0f, 1.0f}});
            return Floats(value, &keys.rotation.back().time, 5);
        }
        std::vector<HostVectorKey>& vectors = which == SceneKey::kTrackPositionKeys ? keys.position : keys.scale;
        vectors.push_back(HostVectorKey{0.0f, {0.0f, 0.0f, 0.0f}});
        return Floats(value, &vectors.back().time, 4);
    }
    default:
        break;
    }
}

// An element of a list of values, taken.
void SceneReader::ValueElement(List list, const Value& value) {
    switch (list) {
    case List::Floats: {
        const float number = NumberOf(value);
        Frame& top = stack_.back();
        if (static_cast<int>(top.count) >= top.want) Fail(FramePath(stack_.size()), "expected " + std::to_string(top.want) + " numbers");
        top.floats[top.count] = number;
        return;
    }
    case List::Layers: {
        TextOf(value);
        if (Element() >= 2) Fail(FramePath(stack_.size()), "expected two layer paths");
        texture_.layers[Element()] = WideText(value);
        return;
    }
    case List::Weight: {
        if (Element() == 0) {
            weights_.back().boneIndex = static_cast<int>(InRange(IntegerOf(value), -1, INT32_MAX));
            return;
        }
        const float weight = NumberOf(value);
        if (Element() > 1) Fail(FramePath(stack_.size()), "expected [boneIndex, weight]");
        weights_.back().weight = weight;
        return;
    }
    case List::MaterialRef: {
        const int64_t part = IntegerOf(value);
        if (Element() >= 2) Fail(FramePath(stack_.size()), "expected [materialIndex, faceCount]");
        refPart_[Element()] = InRange(part, INT32_MIN, INT32_MAX);
        return;
    }
    case List::VertexIndices: {
        const int64_t index = IntegerOf(value);
        if (Element() >= static_cast<size_t>(INT32_MAX) / 8) Fail(FramePath(stack_.size()), "too many corners");
        Charge(CornerCost(Element()));
        faces_.vertexIndices.push_back(static_cast<int>(InRange(index, 0, INT32_MAX)));
        ++faces_.faces.back().corners;
        return;
    }
    case List::UvIndices: {
        const int64_t index = IntegerOf(value);
        const size_t c = IndexOf(2);
        // Their slots in the store are the corners'.
        Charge(kGrowth * sizeof(int));
        faces_.uvIndices[c].push_back(static_cast<int>(InRange(index, 0, INT32_MAX)));
        ++faces_.faces.back().uvIndexCount[c];
        return;
    }
    default:
        break;
    }
}

// What a record of kind `object` costs at the most, for Charge.
size_t SceneReader::RecordCost(SceneObject object) {
    switch (object) {
    case SceneObject::kMaterial: return sizeof(HostMaterial) + sizeof(MaterialTextures);
    case SceneObject::kTexture: return sizeof(TextureRecord);
    case SceneObject::kVertex: return sizeof(HostVertex) + sizeof(HostVertexWeight*);
    case SceneObject::kObject: return sizeof(HostObject) + sizeof(ObjectClaim);
    case SceneObject::kFaceGroup: return sizeof(HostFaceGroup) + sizeof(FaceStore);
    // The lean face and its flags now, its corner count, its record and
    // first three slots in the store later; the triangles it becomes are
    // its corners'.
    case SceneObject::kFace: return kGrowth * (sizeof(PendingFaces::Face) + sizeof(uint8_t)) + sizeof(int) + kFaceRecordBytes + 3 * kFaceSlotBytes;
    case SceneObject::kBone: return sizeof(HostBone);
    case SceneObject::kAnimation: return sizeof(HostAnimation) + sizeof(AnimationStore);
    case SceneObject::kTrack: return sizeof(HostTrack) + sizeof(TrackStore);
    default: return 0;
    }
}

// What the corner `corner` (from 0) of a face costs at the most, for Charge.
size_t SceneReader::CornerCost(size_t corner) {
    // Its index in the lean list; from the fourth corner (3) on a slot of
    // its own in the store; from the third (2) on the triangle it adds to
    // the fan that triangulation makes of the face, which a face of three
    // corners also needs when its group is rebuilt for another face.
    return kGrowth * sizeof(int) + (corner >= 3 ? kFaceSlotBytes : 0) + (corner >= 2 ? kTriangleBytes : 0);
}

void SceneReader::BeginRecord(SceneObject object, const Value& value) {
    if (value.kind != Value::kObject) Fail(ValuePath(), kObject);
    // Charged before the record is made, so that a flood fails before it
    // allocates.
    Charge(RecordCost(object));
    switch (object) {
    case SceneObject::kMaterial:
        impl_.AppendMaterial(nullptr);
        break;
    case SceneObject::kTexture:
        texture_ = PendingTexture{};
        break;
    case SceneObject::kVertex:
        if (impl_.vertices.size() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many vertices");
        impl_.ResizeVertices(static_cast<int>(impl_.vertices.size()) + 1);
        break;
    case SceneObject::kObject:
        impl_.AppendObject(nullptr);
        claims_.emplace_back();
        break;
    case SceneObject::kFaceGroup:
        impl_.AppendFaceGroup();
        faces_.Clear();
        break;
    case SceneObject::kFace:
        if (Element() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many faces");
        faces_.faces.emplace_back();
        break;
    case SceneObject::kFaceUvChannel:
        if (Element() >= kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case SceneObject::kBone:
        impl_.AppendBone(nullptr);
        break;
    case SceneObject::kAnimation:
        impl_.AppendAnimation(nullptr);
        break;
    default:  // SceneObject::kTrack
        if (Element() >= static_cast<size_t>(INT32_MAX)) Fail(ValuePath(), "too many tracks");
        tracks_->tracks.push_back(HostTrack{});
        tracks_->keys.emplace_back();
        break;
    }
    PushObject(object);
}

// --- Ends -----------------------------------------------------------------------

bool SceneReader::end_object() {
    CloseObject(stack_.back());
    stack_.pop_back();
    if (!stack_.empty()) Next();
    return true;
}

// What the end of an object of each kind completes.
void SceneReader::CloseObject(const Frame& frame) {
    switch (frame.object) {
    case SceneObject::kTexture:
        FinishTexture();
        break;
    case SceneObject::kFace:
        FinishFace();
        break;
    case SceneObject::kFaceGroup:
        FinishFaceGroup();
        break;
    default:
        break;
    }
}

bool SceneReader::end_array() {
    // A full vector, the most common end, has nothing more to check.
    const Frame& top = stack_.back();
    if (top.list != List::Floats || static_cast<int>(top.count) != top.want) CloseArray(top);
    stack_.pop_back();
    Next();
    return true;
}

// What the end of a list of each kind checks or completes.
void SceneReader::CloseArray(const Frame& frame) {
    switch (frame.list) {
    case List::Floats:
        if (static_cast<int>(frame.count) != frame.want) Fail(FramePath(stack_.size()), "expected " + std::to_string(frame.want) + " numbers");
        break;
    case List::Layers:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected two layer paths");
        break;
    case List::Weight:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected [boneIndex, weight]");
        break;
    case List::Weights: {
        if (weights_.size() > static_cast<size_t>(INT32_MAX)) Fail(FramePath(stack_.size()), "too many weights");
        const int v = static_cast<int>(impl_.vertices.size()) - 1;
        HostVertex* vertex = impl_.SetWeights(v, static_cast<int>(weights_.size()));
        std::copy(weights_.begin(), weights_.end(), vertex->weights);
        break;
    }
    case List::UvStore:
        if (frame.count != kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case List::MaterialRef:
        if (frame.count != 2) Fail(FramePath(stack_.size()), "expected [materialIndex, faceCount]");
        refClaims_.emplace_back(refPart_[0], refPart_[1]);
        ++claims_.back().refCount;
        break;
    case List::FaceUvChannels:
        if (frame.count != kUvChannels) Fail(FramePath(stack_.size()), "expected two channels");
        break;
    case List::Tracks:
        FinishTracks();
        break;
    case List::FaceGroups:
        faces_.ReleaseMemory();
        break;
    default:
        break;
    }
}

// The texture whose object just ended, made on the last material from what
// its keys said once they agree with each other and the material.
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

// Checks the face whose object just ended: it has corners, and one UV index
// and one UV per corner in each channel that gives them.
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

// Moves the pending faces of the group that just ended into a store of
// their final size, installed on the last group; keeps their flags for the
// checks at the end.
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

// Points the tracks of the last animation at their keys and hands their
// store to the scene.
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
    CheckBones();
    CheckFaces();
    Release(faceFlags_);

    if (uvStoreGiven_) {
        impl_.RebuildObjectRefs();
        impl_.SyncContext();
    } else {
        impl_.RebuildUvStore();
        impl_.RebuildObjectRefs();
    }
    CheckObjectClaims();
    impl_.SyncContext();
}

// Every parent and every weight names a bone of the scene.
void SceneReader::CheckBones() const {
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
}

// Every face's indices name a vertex, material, object and UV store entry
// of the scene; with a UV store every face names its UVs there, and corners
// without their own UVs take them from it.
void SceneReader::CheckFaces() {
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
}

// What the file claims about its objects agrees with their faces, as the
// rebuilt counts and references say.
void SceneReader::CheckObjectClaims() const {
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
