// asehost check: the plug-in's import, run with an observer on its reader.
//
// The reader tells the observer of every line its block loop reads and of
// every list or count line it drops; the observer mirrors the block stack
// from those lines (so it knows which block a line belongs to and where each
// opened), tallies declared counts against the lines that fill them and
// notes what the import does not use. What needs the whole file (parents,
// names) is checked on the import's document afterwards. Lines are numbered
// as they pass, forward only, so the whole check stays linear.
#include "host/check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "ase/reader_internal.h"
#include "host/scene.h"
#include "host/text.h"
#include "import/import_detail.h"
#include "import/import_job.h"
#include "platform/platform.h"
#include "plugin/strings.h"

namespace asehost {

const char* CheckSeverityName(CheckSeverity severity) {
    switch (severity) {
        case CheckSeverity::kError: return "error";
        case CheckSeverity::kWarning: return "warning";
        default: return "note";
    }
}

namespace {

// Keywords of the format that the import reads past on purpose: their lines
// are notes, not warnings.
constexpr std::string_view kUnusedKeywords[] = {
    "*COMMENT", "*SCENE_FILENAME", "*SCENE_BACKGROUND_STATIC", "*SCENE_AMBIENT_STATIC", "*SCENE_ENVMAP",
    "*SCENE_BACKGROUND_ANIM", "*SCENE_AMBIENT_ANIM", "*MESH_SMOOTHING", "*MESH_FACENORMAL", "*MESH_VERTEXNORMAL",
    "*MESH_FACEMAPLIST", "*MESH_FACEMAP", "*MESH_FACEMAPVERT", "*MESH_NUMBONE", "*MESH_NUMSKINWEIGHT",
    "*TM_POS", "*TM_ROTAXIS", "*TM_ROTANGLE", "*TM_SCALE", "*TM_SCALEAXIS", "*TM_SCALEAXISANG", "*INHERIT_POS",
    "*INHERIT_ROT", "*INHERIT_SCL", "*PROP_MOTIONBLUR", "*PROP_CASTSHADOW", "*PROP_RECVSHADOW",
    "*WIREFRAME_COLOR", "*MATERIAL_SHINESTRENGTH", "*MATERIAL_WIRESIZE", "*MATERIAL_SHADING",
    "*MATERIAL_XP_FALLOFF", "*MATERIAL_SELFILLUM", "*MATERIAL_FALLOFF", "*MATERIAL_XP_TYPE",
    "*MATERIAL_SOFTEN", "*MAP_NAME", "*MAP_CLASS", "*MAP_SUBNO", "*MAP_AMOUNT", "*MAP_TYPE", "*MAP_GENERIC",
    "*MAP_REFLECT", "*MAP_REFRACT", "*MAP_SELFILLUM", "*MAP_AMBIENT", "*MAP_SHINE", "*MAP_SHINESTRENGTH",
    "*MAP_FILTERCOLOR", "*BITMAP_FILTER", "*UVW_U_OFFSET", "*UVW_V_OFFSET", "*UVW_U_TILING", "*UVW_V_TILING",
    "*UVW_ANGLE", "*UVW_BLUR", "*UVW_BLUR_OFFSET", "*UVW_NOUSE_AMT", "*UVW_NOISE_SIZE", "*UVW_NOISE_LEVEL",
    "*UVW_NOISE_PHASE", "*NODE_VISIBILITY_TRACK", "*CONTROL_FLOAT_SAMPLE", "*CONTROL_FLOAT_KEY",
    "*CONTROL_FLOAT_TCB", "*CONTROL_FLOAT_BEZIER", "*CONTROL_FLOAT_LINEAR", "*SHAPEOBJECT", "*HELPEROBJECT",
    "*HELPER_CLASS", "*BOUNDINGBOX_MIN", "*BOUNDINGBOX_MAX", "*GROUP", "*LIGHT_SHADOWS", "*LIGHT_USELIGHT",
    "*LIGHT_SPOTSHAPE", "*LIGHT_USEGLOBAL", "*LIGHT_ABSMAPBIAS", "*LIGHT_OVERSHOOT", "*LIGHT_EXCLUSIONLIST",
    "*LIGHT_NUMEXCLUDED", "*LIGHT_EXCLUDED", "*LIGHT_ASPECT", "*LIGHT_TDIST", "*LIGHT_MAPBIAS",
    "*LIGHT_MAPRANGE", "*LIGHT_MAPSIZE", "*LIGHT_RAYBIAS", "*LIGHT_ANIMATION", "*CAMERA_ANIMATION",
};

bool IsUnusedKeyword(std::string_view upper) {
    return std::find(std::begin(kUnusedKeywords), std::end(kUnusedKeywords), upper) != std::end(kUnusedKeywords);
}

// What a declared count counts: its count line, its item lines, the list
// that holds them and the block that owns both.
enum CountKind : int {
    kVertices,
    kFaces,
    kTexVertices,
    kTexFaces,
    kColorVertices,
    kColorFaces,
    kMaterials,
    kSubMaterials,
    kCountKinds
};

struct CountInfo {
    Kw countKeyword;
    Kw itemKeyword;
    Kw listKeyword;
    const char* noun;
};

constexpr CountInfo kCounts[kCountKinds] = {
    {Kw::kMeshNumVertex, Kw::kMeshVertex, Kw::kMeshVertexList, "vertices"},
    {Kw::kMeshNumFaces, Kw::kMeshFace, Kw::kMeshFaceList, "faces"},
    {Kw::kMeshNumTVertex, Kw::kMeshTVert, Kw::kMeshTVertList, "texture vertices"},
    {Kw::kMeshNumTVFaces, Kw::kMeshTFace, Kw::kMeshTFaceList, "texture faces"},
    {Kw::kMeshNumCVertex, Kw::kMeshVertCol, Kw::kMeshCVertList, "colour vertices"},
    {Kw::kMeshNumCVFaces, Kw::kMeshCFace, Kw::kMeshCFaceList, "colour faces"},
    {Kw::kMaterialCount, Kw::kMaterial, Kw::kMaterialList, "materials"},
    {Kw::kNumSubMtls, Kw::kSubMaterial, Kw::kMaterial, "sub-materials"},
};

// The block that owns the count of `kind`.
bool OwnsCount(Kw block, int kind) {
    switch (block) {
        case Kw::kMesh: return kind <= kColorFaces;
        case Kw::kMeshMappingChannel: return kind == kTexVertices || kind == kTexFaces;
        case Kw::kMaterialList: return kind == kMaterials;
        case Kw::kMaterial: return kind == kSubMaterials;
        default: return false;
    }
}

struct Counted {
    int64_t declared = -1;  // -1: no count line
    int64_t declaredLine = 0;
    int64_t held = 0;
    int64_t firstItemLine = 0;
};

// A texture or colour face line, checked against its vertices when the block
// that owns both closes (the count may follow the list).
struct TriLine {
    int64_t line;
    int32_t index;
    int32_t corners[3];
};

struct Frame {
    Kw keyword;
    std::string word;
    int64_t line;
    bool skipped;
    int32_t object;  // the object block it lies in, or -1
    Counted counted[kCountKinds];
    std::vector<TriLine> texFaces;
    std::vector<TriLine> colorFaces;
    bool secondChannelTaken = false;
};

struct ObjectLines {
    int64_t line = 0;
    int64_t nameLine = 0;
    int64_t parentLine = 0;
    std::string name;
};

std::string Upper(std::string_view word) {
    std::string out(word);
    for (char& c : out) c = static_cast<char>(AsciiUpper(static_cast<unsigned char>(c)));
    return out;
}

std::string Quoted(const AseLine& line) {
    char text[kAseNameBytes] = {};
    ReadQuotedString(text, line);
    return text;
}

// The line as the report quotes it: cut, control bytes as spaces.
std::string Excerpt(const AseLine& line) {
    const char* p = line.text;
    const char* end = line.end();
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    std::string out(p, std::min<size_t>(static_cast<size_t>(end - p), 60));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    if (static_cast<size_t>(end - p) > out.size()) out += "...";
    return out;
}

bool FileExists(const char16_t* path) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

class Checker final : public AseReaderObserver {
public:
    explicit Checker(std::u16string textureDirectory) : textureDirectory_(std::move(textureDirectory)) {}

    void OnLine(const AseReader& source, const AseLine& line, bool skipped) override {
        const int64_t number = LineOf(source, line.text);
        if (!skipped) Inspect(line, number);
        if (line.opens) {
            Push(line, number, skipped);
        } else if (line.closes) {
            if (frames_.empty()) {
                if (!skipped) Tally("stray-brace", number, CheckSeverity::kWarning, "stray-brace",
                                    "a closing brace that closes no block: ignored");
            } else {
                Close(frames_.back());
                frames_.pop_back();
            }
        }
    }

    void OnSkipped(const AseReader& source, const AseLine& line, AseSkip why) override {
        const int64_t number = LineOf(source, line.text);
        const std::string word = Upper(line.Word());
        if (why == AseSkip::kMalformed) {
            Tally("malformed:" + word, number, CheckSeverity::kWarning, "malformed-line",
                  std::string("cannot read \"") + Excerpt(line) + "\": the line is skipped");
            return;
        }
        int32_t index = 0;
        ReadLineInt(line, index);
        std::string reason = "no count line declares its list";
        for (const CountInfo& info : kCounts) {
            if (info.itemKeyword != line.keyword) continue;
            const Counted* counted = OwnerCount(static_cast<int>(&info - kCounts));
            if (counted != nullptr && counted->declared > 0) {
                reason = "it lies outside the " + std::to_string(counted->declared) + " " + info.noun + " that " +
                      std::string(KeywordText(info.countKeyword)) + " declares";
            }
        }
        Tally("dropped:" + word, number, CheckSeverity::kWarning, "dropped-line",
              word + " " + std::to_string(index) + " is dropped: " + reason);
    }

    // After the import: the end of the file and the document-level checks.
    void Finish(const ImportJob& job, bool imported) {
        if (imported) {
            for (size_t i = frames_.size(); i-- > 0;) {
                Frame& frame = frames_[i];
                Add(frame.line, CheckSeverity::kWarning, "open-block",
                    frame.word + " opened here is still open at the end of the file: is the file cut short?");
                Close(frame);
            }
            CheckDocument(job.Document());
        }
        frames_.clear();
        for (const auto& [key, tally] : tallies_) {
            if (tally.count > 1) {
                findings_[tally.finding].message += " (" + std::to_string(tally.count) + " lines like this)";
            }
        }
    }

    std::vector<CheckFinding> TakeFindings() { return std::move(findings_); }

private:
    struct Tallied {
        size_t finding;
        int64_t count;
    };

    // The 1-based number of the line at `at`: line ends are counted from the
    // last line asked about, the way the reader numbers its failures.
    int64_t LineOf(const AseReader& source, const char* at) {
        if (source.data != data_) {
            data_ = source.data;
            cursor_ = data_;
            line_ = 1;
        }
        for (; cursor_ < at; ++cursor_) {
            if (*cursor_ == '\n') {
                ++line_;
            } else if (*cursor_ == '\r') {
                ++line_;
                if (cursor_ + 1 < at && cursor_[1] == '\n') ++cursor_;
            }
        }
        return line_;
    }

    void Add(int64_t line, CheckSeverity severity, std::string kind, std::string message) {
        findings_.push_back({line, severity, std::move(kind), std::move(message)});
    }

    // One finding per key with the first line; later ones only counted.
    void Tally(const std::string& key, int64_t line, CheckSeverity severity, const char* kind, std::string message) {
        auto [it, added] = tallies_.try_emplace(key, Tallied{findings_.size(), 0});
        ++it->second.count;
        if (added) Add(line, severity, kind, std::move(message));
    }

    // The innermost block a parser reads: blocks of unknown keywords are
    // pushed and popped but their lines go to the parser of the block
    // around them.
    Kw TopKeyword() const {
        for (size_t i = frames_.size(); i-- > 0;) {
            if (frames_[i].keyword != Kw::kUnknown) return frames_[i].keyword;
        }
        return Kw::kUnknown;
    }

    // The count of `kind` in the innermost block that owns such counts.
    Counted* OwnerCount(int kind) {
        for (size_t i = frames_.size(); i-- > 0;) {
            if (OwnsCount(frames_[i].keyword, kind)) return &frames_[i].counted[kind];
        }
        return nullptr;
    }

    Frame* Owner(Kw keyword) {
        for (size_t i = frames_.size(); i-- > 0;) {
            if (frames_[i].keyword == keyword) return &frames_[i];
        }
        return nullptr;
    }

    std::string ObjectName(int32_t object) const {
        if (object < 0 || static_cast<size_t>(object) >= objects_.size()) return "\"\"";
        return "\"" + objects_[static_cast<size_t>(object)].name + "\"";
    }

    void Push(const AseLine& line, int64_t number, bool skipped) {
        Frame frame;
        frame.keyword = line.keyword;
        frame.word = std::string(line.Word());
        frame.line = number;
        frame.skipped = skipped || (!frames_.empty() && frames_.back().skipped);
        frame.object = frames_.empty() ? -1 : frames_.back().object;
        if (line.keyword == Kw::kGeomObject && !frame.skipped) {
            frame.object = static_cast<int32_t>(objects_.size());
            objects_.push_back({number, 0, 0, {}});
        }
        frames_.push_back(std::move(frame));
    }

    // What a line of a read block tells: counts, items, names, what the
    // import leaves out.
    void Inspect(const AseLine& line, int64_t number) {
        const Kw top = TopKeyword();
        for (int kind = 0; kind < kCountKinds; ++kind) {
            const CountInfo& info = kCounts[kind];
            if (line.keyword == info.countKeyword && OwnsCount(top, kind)) {
                int32_t value = 0;
                Counted* counted = OwnerCount(kind);
                if (counted != nullptr && ReadLineInt(line, value)) {
                    counted->declared = value;
                    counted->declaredLine = number;
                }
            } else if (line.keyword == info.itemKeyword && top == info.listKeyword) {
                if (Counted* counted = OwnerCount(kind)) {
                    if (counted->held++ == 0) counted->firstItemLine = number;
                }
                if (kind == kTexFaces || kind == kColorFaces) KeepTriLine(line, number, kind);
                if (kind == kFaces && !smoothingSeen_) NoteSmoothing(line, number);
            }
        }
        switch (line.keyword) {
            case Kw::kNodeName:
                if (top == Kw::kGeomObject) NameObject(line, number, false);
                return;
            case Kw::kNodeParent:
                if (top == Kw::kGeomObject) NameObject(line, number, true);
                return;
            case Kw::kBitmap: CheckTexture(line, number); return;
            case Kw::kLightObject:
                Tally("lights", number, CheckSeverity::kNote, "lights-dropped",
                      "lights are not handed to the host: an import carries geometry, materials, bones and "
                      "animation");
                return;
            case Kw::kCameraObject:
                Tally("cameras", number, CheckSeverity::kNote, "cameras-dropped",
                      "cameras are not handed to the host: an import carries geometry, materials, bones and "
                      "animation");
                return;
            case Kw::kMeshNormals:
                Tally("normals", number, CheckSeverity::kNote, "normals-dropped",
                      "the file's normals are not handed to the host: it makes its own");
                return;
            case Kw::kMeshAnimation:
                Tally("morph", number, CheckSeverity::kNote, "morph-dropped",
                      "*MESH_ANIMATION (mesh frames) is not read");
                return;
            case Kw::kMeshMappingChannel: NoteChannel(line, number); return;
            case Kw::kUnknown: NoteUnknown(line, number); return;
            default: return;
        }
    }

    void KeepTriLine(const AseLine& line, int64_t number, int kind) {
        const char* p = line.args;
        const char* end = line.end();
        TriLine tri{number, 0, {0, 0, 0}};
        if (!ReadInt(p, end, tri.index)) return;
        for (int32_t& corner : tri.corners) {
            if (!ReadInt(p, end, corner)) return;
        }
        Frame* owner = nullptr;
        for (size_t i = frames_.size(); i-- > 0 && owner == nullptr;) {
            if (OwnsCount(frames_[i].keyword, kind)) owner = &frames_[i];
        }
        if (owner != nullptr) (kind == kTexFaces ? owner->texFaces : owner->colorFaces).push_back(tri);
    }

    void NoteSmoothing(const AseLine& line, int64_t number) {
        static constexpr std::string_view kSmoothing = "*MESH_SMOOTHING";
        const std::string_view text(line.text, line.length);
        const size_t at = text.find(kSmoothing);
        if (at == std::string_view::npos) return;
        size_t p = at + kSmoothing.size();
        while (p < text.size() && IsCSpace(static_cast<unsigned char>(text[p]))) ++p;
        if (p >= text.size() || !IsDigit(static_cast<unsigned char>(text[p]))) return;
        smoothingSeen_ = true;
        Add(number, CheckSeverity::kNote, "smoothing-dropped",
            "the file's smoothing groups are not handed to the host: it makes its own");
    }

    void NameObject(const AseLine& line, int64_t number, bool parent) {
        const int32_t object = frames_.back().object;
        if (object < 0 || static_cast<size_t>(object) >= objects_.size()) return;
        ObjectLines& lines = objects_[static_cast<size_t>(object)];
        if (parent) {
            lines.parentLine = number;
        } else {
            lines.nameLine = number;
            lines.name = Quoted(line);
        }
    }

    // A map's bitmap is looked for by its file name in the imported file's
    // folder, as the import places its textures.
    void CheckTexture(const AseLine& line, int64_t number) {
        const Kw top = TopKeyword();
        if (top != Kw::kMapDiffuse && top != Kw::kMapOpacity && top != Kw::kMapSpecular && top != Kw::kMapBump) {
            return;
        }
        char path[kAsePathUnits] = {};
        ReadQuotedString(path, line);
        char name[kAsePathUnits];
        FileNameOfPath(path, name, sizeof name);
        char16_t wideName[kAsePathUnits] = {};
        char16_t full[kImportPathUnits] = {};
        if (name[0] == 0 || AnsiToWide(name, wideName, kAsePathUnits) == 0 ||
            !ResolveTexturePath(textureDirectory_.c_str(), wideName, full)) {
            return;
        }
        const std::u16string key(full);
        auto [it, added] = textureExists_.try_emplace(key, false);
        if (added) it->second = FileExists(full);
        if (it->second) return;
        Tally("texture:" + Utf16ToUtf8(key), number, CheckSeverity::kWarning, "missing-texture",
              std::string("texture \"") + std::string(path) + "\" is looked for as \"" + Utf16ToUtf8(key) +
                  "\", which does not exist");
    }

    // The second UV channel is the first mapping channel numbered 2 of each
    // mesh; any other is left out.
    void NoteChannel(const AseLine& line, int64_t number) {
        int32_t channel = 0;
        if (!ReadLineInt(line, channel)) return;
        Frame* mesh = Owner(Kw::kMesh);
        if (channel == 2 && mesh != nullptr && !mesh->secondChannelTaken) {
            mesh->secondChannelTaken = true;
            return;
        }
        Tally("channel", number, CheckSeverity::kNote, "channel-dropped",
              std::string("mapping channel ") + std::to_string(channel) + " of " + ObjectName(frames_.back().object) +
                  " is not handed to the host: only the first channel numbered 2 becomes the second UV channel");
    }

    void NoteUnknown(const AseLine& line, int64_t number) {
        const std::string_view word = line.Word();
        if (word == "{") return;
        if (word.empty() || word[0] != '*') {
            Tally("text", number, CheckSeverity::kWarning, "stray-text",
                  std::string("\"") + Excerpt(line) + "\" starts with no keyword: the line is ignored");
            return;
        }
        const std::string upper = Upper(word);
        if (tallies_.count("keyword:" + upper) == 0 && IsUnusedKeyword(upper)) {
            Tally("keyword:" + upper, number, CheckSeverity::kNote, "unused-keyword",
                  upper + " is not used by the import: the line is read past");
        } else {
            Tally("keyword:" + upper, number, CheckSeverity::kWarning, "unknown-keyword",
                  std::string(word) + " is not a keyword the reader knows: the line is ignored");
        }
    }

    // A block closes: its counts against its lines, its texture and colour
    // faces against their vertices.
    void Close(Frame& frame) {
        if (frame.skipped) return;
        for (int kind = 0; kind < kCountKinds; ++kind) {
            if (!OwnsCount(frame.keyword, kind)) continue;
            const Counted& c = frame.counted[kind];
            const CountInfo& info = kCounts[kind];
            const std::string where = frame.object >= 0 ? " in " + ObjectName(frame.object) : std::string();
            if (c.declared < 0 && c.held > 0) {
                Add(c.firstItemLine, CheckSeverity::kWarning, "count-mismatch",
                    std::to_string(c.held) + " " + std::string(KeywordText(info.itemKeyword)) + " lines" + where +
                        ", but no " + std::string(KeywordText(info.countKeyword)) + " declares them");
            } else if (c.declared >= 0 && c.declared != c.held) {
                Add(c.declaredLine, CheckSeverity::kWarning, "count-mismatch",
                    std::string(KeywordText(info.countKeyword)) + " declares " + std::to_string(c.declared) + " " +
                        info.noun + where + ", the file holds " + std::to_string(c.held));
            }
        }
        CheckTriLines(frame, frame.texFaces, frame.counted[kTexVertices].declared, "uv-index", "texture",
                      "keeps the host's UV");
        CheckTriLines(frame, frame.colorFaces, frame.counted[kColorVertices].declared, "colour-index", "colour",
                      "adds no colour to its vertex");
        const Counted& colorFaces = frame.counted[kColorFaces];
        const Counted& faces = frame.counted[kFaces];
        if (frame.keyword == Kw::kMesh && colorFaces.declared > 0 && colorFaces.declared != faces.declared) {
            Add(colorFaces.declaredLine, CheckSeverity::kWarning, "colour-faces",
                std::string("*MESH_NUMCVFACES declares ") + std::to_string(colorFaces.declared) + " colour faces for " +
                    std::to_string(std::max<int64_t>(faces.declared, 0)) + " faces in " + ObjectName(frame.object) +
                    ": the colours are not applied");
        }
    }

    void CheckTriLines(const Frame& frame, const std::vector<TriLine>& lines, int64_t vertices, const char* kind,
                       const char* noun, const char* consequence) {
        const int64_t limit = std::max<int64_t>(vertices, 0);
        for (const TriLine& tri : lines) {
            for (const int32_t corner : tri.corners) {
                if (corner >= 0 && corner < limit) continue;
                Tally(std::string(kind), tri.line, CheckSeverity::kWarning, kind,
                      std::string(noun) + " face " + std::to_string(tri.index) + " of " + ObjectName(frame.object) +
                          " uses " + noun + " vertex " + std::to_string(corner) + ", but there are " +
                          std::to_string(limit) + ": that corner " + consequence);
                break;
            }
        }
    }

    // Names and parents, in linear expected time: parents name the first
    // object of their name, as the import resolves them.
    void CheckDocument(const AseDocument& doc) {
        std::unordered_map<std::string_view, int32_t> firstOfName;
        for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
            const std::string_view name = doc.geomObjects[i].nodeName;
            if (name.empty()) continue;
            auto [it, added] = firstOfName.try_emplace(name, i);
            if (added) continue;
            Add(LinesOf(i).nameLine, CheckSeverity::kWarning, "duplicate-name",
                std::string("\"") + std::string(name) + "\" is also the name of the object at line " +
                    std::to_string(LinesOf(it->second).nameLine) + ": a parent of that name is the first");
        }
        for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
            const AseGeomObject& object = doc.geomObjects[i];
            const std::string name = object.nodeName;
            const std::string parent = object.parentName;
            if (parent.empty()) continue;
            if (firstOfName.count(parent) == 0) {
                Add(LinesOf(i).parentLine, CheckSeverity::kWarning, "missing-parent",
                    "parent \"" + parent + "\" of \"" + name + "\" names no object: \"" + name +
                        "\" is imported as a root");
            } else if (object.parentIndex < 0) {
                Add(LinesOf(i).parentLine, CheckSeverity::kWarning, "parent-cycle",
                    "parent \"" + parent + "\" of \"" + name + "\" would make \"" + name +
                        "\" its own ancestor: it is imported as a root");
            }
        }
    }

    ObjectLines LinesOf(int32_t object) const {
        return object >= 0 && static_cast<size_t>(object) < objects_.size() ? objects_[static_cast<size_t>(object)]
                                                                             : ObjectLines{};
    }

    std::u16string textureDirectory_;
    const char* data_ = nullptr;
    const char* cursor_ = nullptr;
    int64_t line_ = 1;
    std::vector<Frame> frames_;
    std::vector<ObjectLines> objects_;
    std::vector<CheckFinding> findings_;
    std::unordered_map<std::string, Tallied> tallies_;
    std::unordered_map<std::u16string, bool> textureExists_;
    bool smoothingSeen_ = false;
};

const char* ImportFailureKind(JobErrorKind kind) {
    switch (kind) {
        case JobErrorKind::kIndex: return "bad-index";
        case JobErrorKind::kSyntax: return "syntax";
        case JobErrorKind::kLimit: return "too-large";
        case JobErrorKind::kContent: return "no-geometry";
        case JobErrorKind::kMemory: return "out-of-memory";
        case JobErrorKind::kHost: return "host-refused";
        default: return "import-failure";
    }
}

std::string ErrorText(const JobError& error) {
    std::string text = Utf16ToUtf8(error.what);
    if (!text.empty()) text += ' ';
    return text + Utf16ToUtf8(error.detail);
}

}  // namespace

CheckReport CheckAseFile(const std::u16string& path, const std::string& displayName) {
    CheckReport report;
    report.file = displayName;
    std::vector<char16_t> buffer(4096);
    const std::u16string absolute =
        platform::AbsolutePath(path.c_str(), buffer.data(), buffer.size()) ? std::u16string(buffer.data()) : path;
    char16_t directory[kImportPathUnits] = {};
    GetPathDirectory(absolute.c_str(), directory);

    std::vector<char16_t> cwd(4096);
    const bool haveCwd = platform::GetCurrentDirectory(cwd.data(), cwd.size());

    HostScene scene;
    scene.setOperationLogEnabled(false);
    scene.setFileName(absolute.c_str());
    Checker checker(directory);
    ImportJob job;
    job.ObserveReader(&checker);
    const bool imported = job.Run(scene.context()) == 1;
    if (haveCwd) platform::SetCurrentDirectory(cwd.data());

    const JobError& error = job.Error();
    if (!imported && error.kind == JobErrorKind::kFile) {
        report.openError = ErrorText(error);
        return report;
    }
    report.opened = true;
    checker.Finish(job, imported);
    report.findings = checker.TakeFindings();
    if (!imported) {
        report.findings.push_back({error.line, CheckSeverity::kError, ImportFailureKind(error.kind),
                                   std::string("the import fails: ") + ErrorText(error)});
    }
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.line < b.line; });
    for (const CheckFinding& finding : report.findings) {
        switch (finding.severity) {
            case CheckSeverity::kError: ++report.errors; break;
            case CheckSeverity::kWarning: ++report.warnings; break;
            case CheckSeverity::kNote: ++report.notes; break;
        }
    }
    return report;
}

std::string FormatCheckText(const CheckReport& report) {
    std::string out;
    for (const CheckFinding& finding : report.findings) {
        // Appended piece by piece: g++ 12 sees a false overlap (-Wrestrict) in
        // a chain of concatenations here.
        out.append(report.file);
        if (finding.line > 0) out.append(":").append(std::to_string(finding.line));
        out.append(": ").append(CheckSeverityName(finding.severity)).append(": ");
        out.append(finding.message).append("\n");
    }
    out.append(report.file).append(": ").append(std::to_string(report.errors)).append(" errors, ");
    out.append(std::to_string(report.warnings)).append(" warnings, ");
    out.append(std::to_string(report.notes)).append(" notes");
    if (report.errors > 0) {
        out += ": the import would fail";
    } else if (report.warnings > 0) {
        out += ": the file imports, but not all of it as written";
    } else {
        out += ": the file imports as written";
    }
    return out + "\n";
}

std::string FormatCheckJson(const CheckReport& report) {
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const CheckFinding& finding : report.findings) {
        findings.push_back({{"line", finding.line},
                            {"severity", CheckSeverityName(finding.severity)},
                            {"kind", finding.kind},
                            {"message", finding.message}});
    }
    const nlohmann::ordered_json json = {{"file", report.file},
                                         {"findings", std::move(findings)},
                                         {"errors", report.errors},
                                         {"warnings", report.warnings},
                                         {"notes", report.notes}};
    // Bytes of the file that are not UTF-8 are replaced rather than refused.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int CheckExitCode(const CheckReport& report) {
    if (!report.opened) return 1;
    if (report.errors > 0) return 3;
    return report.warnings > 0 ? 4 : 0;
}

}  // namespace asehost
