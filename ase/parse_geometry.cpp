// Geometry object, node transform, mesh, mapping channel and list blocks.
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "ase/reader_internal.h"
#include "base/strings.h"

namespace {

bool ReadFourInts(const AseLine& line, int32_t* values) {
    const char* p = line.args;
    const char* end = line.end();
    for (int i = 0; i < 4; ++i) {
        if (!ReadInt(p, end, values[i])) return false;
    }
    return true;
}

// The lowest group in 1..32 of the list that starts at `p` ("1,3,5":
// integers with an optional sign, each but the last followed by a comma,
// blanks allowed before each); 0 when it lists none. The value of each item
// is judged from its digits, so that no wrap of a long number makes it a
// group.
int32_t LowestSmoothingGroup(const char* p, const char* end) {
    int32_t lowest = 0;
    for (;;) {
        while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        if (p == end || !IsDigit(static_cast<unsigned char>(*p))) return lowest;
        int32_t value = 0;  // saturates at 33: anything above 32 is no group
        for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) value = std::min(value * 10 + (*p - '0'), 33);
        if (!negative && value >= 1 && value <= 32 && (lowest == 0 || value < lowest)) lowest = value;
        if (p == end || *p != ',') return lowest;
        ++p;
    }
}

// Reads `count` pairs of a label (at most 31 bytes) and an integer. False
// when one of them cannot be read.
bool ReadPairs(const char*& p, const char* end, int32_t* values, int count) {
    for (int k = 0; k < count; ++k) {
        std::string_view label;
        if (!ReadWord(p, end, 31, label) || !ReadInt(p, end, values[k])) return false;
    }
    return true;
}

}  // namespace

bool ReadFaceLine(const AseLine& line, int32_t& index, AseFace& face) {
    const char* p = line.args;
    const char* end = line.end();
    if (!ReadInt(p, end, index) || p == end || *p != ':') return false;
    ++p;
    int32_t values[6];
    if (!ReadPairs(p, end, values, 3)) return false;
    const char* afterCorners = p;
    if (!ReadPairs(p, end, values + 3, 3)) {
        // Without edge pairs the corners stand alone: the word after them
        // must begin with '*' or the line must end there, so that a line cut
        // inside its pairs still reads as nothing.
        p = afterCorners;
        while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
        if (p != end && *p != '*') return false;
    }
    face.a = values[0];
    face.b = values[1];
    face.c = values[2];
    face.smoothingGroup = 0;
    // The word is compared in place: it must be the whole word, so the byte
    // after it is a blank or the line's end.
    static constexpr std::string_view kSmoothing = "*MESH_SMOOTHING";
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    if (static_cast<size_t>(end - p) >= kSmoothing.size() && std::memcmp(p, kSmoothing.data(), kSmoothing.size()) == 0) {
        p += kSmoothing.size();
        if (p == end || IsCSpace(static_cast<unsigned char>(*p))) face.smoothingGroup = LowestSmoothingGroup(p, end);
    }
    face.materialId = -1;
    const char* s = nullptr;
    for (const char* q = end; q > line.text && s == nullptr;) {
        if (*--q == '*') s = q;
    }
    static constexpr char kMtlId[] = "*MESH_MTLID";
    constexpr size_t kMtlIdLength = sizeof kMtlId - 1;
    if (s != nullptr && static_cast<size_t>(end - s) >= kMtlIdLength && std::memcmp(s, kMtlId, kMtlIdLength) == 0) {
        const char* q = s + kMtlIdLength;
        int32_t id = 0;
        if (ReadInt(q, end, id)) face.materialId = id;
    }
    return true;
}

namespace {

// Allocates an array of `Element` from a count line when the count is
// readable, above 0 and believable for the rest of the file. False fails the
// mesh.
template <typename Element, typename Allocate>
bool CountLine(AseReader& source, const AseLine& line, bool missingIsZero, Allocate allocate,
               size_t hostBytes = 0) {
    int32_t count = 0;
    if (!ReadLineInt(line, count) && !missingIsZero) {
        ReportSkipped(source, line, AseSkip::kMalformed);
        return true;
    }
    if (count <= 0) return true;
    if (!BelieveCountLine(source, line, count, sizeof(Element) + hostBytes)) return false;
    if (!allocate(count)) return ReaderOutOfMemory(source, line.text) != 0;
    return true;
}

template <typename T>
bool InRange(const T* items, int32_t count, int32_t index) {
    return items != nullptr && index >= 0 && index < count;
}

// `read`, the result of reading a list line; tells the observer of a line
// whose form could not be read.
bool Readable(const AseReader& source, const AseLine& line, bool read) {
    if (!read) ReportSkipped(source, line, AseSkip::kMalformed);
    return read;
}

// InRange for a list line; tells the observer of a line it drops.
template <typename T>
bool ItemInRange(const AseReader& source, const AseLine& line, const T* items, int32_t count, int32_t index) {
    if (InRange(items, count, index)) return true;
    ReportSkipped(source, line, AseSkip::kOutOfRange);
    return false;
}

// The list blocks: one item keyword each, items stored by index.
int ParseVertexList(AseReader& source, std::string_view name, AseGeomObject& object) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t i = 0;
        float xyz[3];
        if (line.keyword != Kw::kMeshVertex || !Readable(source, line, ReadLineIntFloats(line, i, xyz, 3))) continue;
        if (ItemInRange(source, line, object.vertices, object.vertexCount, i)) {
            object.vertices[i].position = {xyz[0], xyz[1], xyz[2]};
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseFaceList(AseReader& source, std::string_view name, AseGeomObject& object) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t i = 0;
        AseFace face;
        if (line.keyword != Kw::kMeshFace || !Readable(source, line, ReadFaceLine(line, i, face))) continue;
        if (!ItemInRange(source, line, object.faces, object.faceCount, i)) continue;
        // A corner names a vertex of its own object (see the index rules in
        // document.h); any other fails the read here, where the line is known.
        for (const int32_t corner : {face.a, face.b, face.c}) {
            if (corner < 0 || corner >= object.vertexCount) {
                char16_t what[kJobErrorWhatUnits];
                FormatWide(what, kJobErrorWhatUnits, u"face %d of \"%S\"", i, object.nodeName);
                return ReaderFail(source, line.text, JobErrorKind::kIndex, what,
                                  u"uses vertex %d, but \"%S\" has %d vertices", corner, object.nodeName,
                                  object.vertexCount);
            }
        }
        // A face slot first filled is one more face for the host, whose
        // records the declared count did not charge.
        if (object.faces[i].a < 0 && !ChargeLineRecords(source, line, kHostFaceBytes)) return 0;
        object.faces[i] = face;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseTexVertexList(AseReader& source, std::string_view name, AseMapChannel& channel) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t i = 0;
        float uv[2];
        // The third value is optional and dropped, so reading two suffices.
        if (line.keyword != Kw::kMeshTVert || !Readable(source, line, ReadLineIntFloats(line, i, uv, 2))) continue;
        if (ItemInRange(source, line, channel.tverts, channel.tvertCount, i)) channel.tverts[i] = {uv[0], uv[1]};
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseTriList(AseReader& source, std::string_view name, Kw item, AseTriIndex* items, int32_t count) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t v[4];
        if (line.keyword != item || !Readable(source, line, ReadFourInts(line, v))) continue;
        if (ItemInRange(source, line, items, count, v[0])) items[v[0]] = {v[1], v[2], v[3]};
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseColorVertexList(AseReader& source, std::string_view name, AseColorChannel& channel) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int32_t i = 0;
        float rgb[3];
        if (line.keyword != Kw::kMeshVertCol || !Readable(source, line, ReadLineIntFloats(line, i, rgb, 3))) continue;
        if (ItemInRange(source, line, channel.cverts, channel.cvertCount, i)) {
            channel.cverts[i] = {rgb[0], rgb[1], rgb[2]};
        }
    }
    return step == BlockStep::kDone ? 1 : 0;
}

// Lines shared by the mesh's own texture channel and the mapping channels.
// Returns 1 when handled, 0 on failure, -1 when the line is not one of them.
int ApplyChannelLine(AseReader& source, const AseLine& line, AseMapChannel& channel) {
    JobAllocator& memory = *source.allocator;
    switch (line.keyword) {
        case Kw::kMeshNumTVertex:
            return CountLine<AseTexVertex>(source, line, false,
                                           [&](int32_t n) { return AllocateTexVertices(memory, channel, n) != 0; });
        case Kw::kMeshNumTVFaces:
            return CountLine<AseTriIndex>(source, line, false,
                                          [&](int32_t n) { return AllocateTexFaces(memory, channel, n) != 0; });
        case Kw::kMeshTVertList: return ParseTexVertexList(source, line.Word(), channel);
        case Kw::kMeshTFaceList:
            return ParseTriList(source, line.Word(), Kw::kMeshTFace, channel.tfaces, channel.tfaceCount);
        default: return -1;
    }
}

}  // namespace

int ParseNodeTm(AseReader& source, std::string_view name, Mat4& target) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        int row;
        switch (line.keyword) {
            case Kw::kTmRow0: row = 0; break;
            case Kw::kTmRow1: row = 1; break;
            case Kw::kTmRow2: row = 2; break;
            case Kw::kTmRow3: row = 3; break;
            default: continue;
        }
        float v[3];
        if (!ReadLineFloats(line, v, 3)) continue;
        for (int k = 0; k < 3; ++k) target.m[4 * row + k] = FloatNearlyZero(v[k]) ? 0.0f : v[k];
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseMapChannel(AseReader& source, std::string_view name, AseMapChannel& channel, int32_t number) {
    channel.channel = number;
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        if (ApplyChannelLine(source, line, channel) == 0) return 0;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

int ParseMesh(AseReader& source, std::string_view name, AseGeomObject& object) {
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    AseColorChannel& colors = object.colorChannel;
    JobAllocator& memory = *source.allocator;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        const int shared = ApplyChannelLine(source, line, object.texChannel);
        if (shared == 0) return 0;
        if (shared > 0) continue;
        bool ok = true;
        switch (line.keyword) {
            case Kw::kMeshNumVertex:
                ok = CountLine<AseVertex>(
                    source, line, false, [&](int32_t n) { return AllocateVertices(memory, object, n) != 0; },
                    kHostVertexBytes);
                break;
            case Kw::kMeshNumFaces:
                ok = CountLine<AseFace>(source, line, false,
                                        [&](int32_t n) { return AllocateFaces(memory, object, n) != 0; });
                break;
            case Kw::kMeshNumCVertex:
                ok = CountLine<AseColorVertex>(source, line, false,
                                               [&](int32_t n) { return AllocateColorVertices(memory, colors, n) != 0; });
                break;
            case Kw::kMeshNumCVFaces:
                ok = CountLine<AseTriIndex>(source, line, true,
                                            [&](int32_t n) { return AllocateColorFaces(memory, colors, n) != 0; });
                break;
            case Kw::kMeshVertexList: ok = ParseVertexList(source, line.Word(), object) != 0; break;
            case Kw::kMeshFaceList: ok = ParseFaceList(source, line.Word(), object) != 0; break;
            case Kw::kMeshCVertList: ok = ParseColorVertexList(source, line.Word(), colors) != 0; break;
            case Kw::kMeshCFaceList:
                ok = ParseTriList(source, line.Word(), Kw::kMeshCFace, colors.cfaces, colors.cfaceCount) != 0;
                break;
            case Kw::kMeshMappingChannel: {
                int32_t number = 0;
                if (!ReadLineInt(line, number)) break;
                AseMapChannel* channel = AppendMapChannel(memory, object);
                if (channel == nullptr) return ReaderOutOfMemory(source, line.text);
                ok = ParseMapChannel(source, line.Word(), *channel, number) != 0;
                break;
            }
            case Kw::kMeshNormals: ok = SkipBlock(source, line.Word()) != 0; break;
            default: break;
        }
        if (!ok) return 0;
    }
    return step == BlockStep::kDone ? 1 : 0;
}

namespace {

// Reads the lines a node shares with every node kind (*NODE_NAME,
// *NODE_PARENT, *NODE_TM, *TM_ANIMATION) into `node`. 1 when handled, 0 on
// failure, -1 when the line is not one of them.
int ApplyNodeLine(AseReader& source, const AseLine& line, AseGeomObject& node) {
    switch (line.keyword) {
        case Kw::kNodeName: ReadQuotedString(node.nodeName, line); return 1;
        case Kw::kNodeParent: ReadQuotedString(node.parentName, line); return 1;
        case Kw::kNodeTm: return ParseNodeTm(source, line.Word(), node.worldTm);
        case Kw::kTmAnimation: return ParseTmAnimation(source, line.Word(), node);
        default: return -1;
    }
}

// An object or helper line inside an open node block ends that block.
bool OpensNode(const AseLine& line) { return line.keyword == Kw::kGeomObject || line.keyword == Kw::kHelperObject; }

// Reads the block of the node record `next` of `records` (`count` of them)
// and moves `next` on. A geometry object reads its mesh, material reference
// and node lines; a helper, a node without geometry, its node lines only
// (its other blocks, a bounding box or a helper class, pass as unread lines).
int ParseNode(AseReader& source, std::string_view name, AseGeomObject* records, int32_t count, int32_t& next,
              bool geometry) {
    if (records == nullptr || next < 0 || next >= count) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr,
                          geometry ? u"more object blocks than the first pass counted"
                                   : u"more helper blocks than the first pass counted");
    }
    AseGeomObject& node = records[next];
    const BlockName own(name);
    AseLine line;
    BlockStep step;
    while ((step = NextBlockLine(source, own, line)) == BlockStep::kLine) {
        const int shared = ApplyNodeLine(source, line, node);
        if (shared == 0) return 0;
        if (shared > 0) continue;
        if (OpensNode(line)) break;
        if (!geometry) continue;
        bool ok = true;
        switch (line.keyword) {
            case Kw::kMesh: ok = ParseMesh(source, line.Word(), node) != 0; break;
            case Kw::kMeshAnimation: ok = SkipBlock(source, line.Word()) != 0; break;
            case Kw::kMaterialRef: {
                int32_t ref = 0;
                if (ReadLineInt(line, ref)) node.materialRef = ref;
                break;
            }
            default: break;
        }
        if (!ok) return 0;
    }
    if (step == BlockStep::kFail) return 0;
    ++next;
    return 1;
}

}  // namespace

int ParseGeomObject(AseReader& source, std::string_view name) {
    AseDocument& doc = *source.doc;
    return ParseNode(source, name, doc.geomObjects, doc.geomObjectCount, doc.nextGeomObject, true);
}

int ParseHelperObject(AseReader& source, std::string_view name) {
    AseDocument& doc = *source.doc;
    return ParseNode(source, name, doc.helpers, doc.helperCount, doc.nextHelper, false);
}
