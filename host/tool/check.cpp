// asehost check: the plug-in's import, run with an observer on its reader
// (ase/observe.h, through the import's ObservedImport).
//
// The reader tells the observer of every line its block loop reads, the
// blocks they open and close, the counts they declare and every list or
// count line it drops, each with its line number; the observer mirrors the
// block stack from those events (so it knows which block a line belongs to
// and where each opened), tallies declared counts against the lines that
// fill them and notes what the import does not use. What needs the whole
// file (parents, names, material references) is checked on the import's
// document afterwards. The read is the plain import's own, through its
// window; when it falls back to two passes the observer starts over. Before
// it, check looks at the file's first few kilobytes only, for a file that is
// empty or not text at all.
#include "host/tool/check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <string_view>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "ase/observe.h"
#include "host/store/scene.h"
#include "host/store/text.h"
#include "import/import.h"
#include "platform/platform.h"
#include "base/strings.h"

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
    "*CONTROL_FLOAT_TCB", "*CONTROL_FLOAT_BEZIER", "*CONTROL_FLOAT_LINEAR", "*SHAPEOBJECT",
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
    const char* one;  // the noun of one item
};

constexpr CountInfo kCounts[kCountKinds] = {
    {Kw::kMeshNumVertex, Kw::kMeshVertex, Kw::kMeshVertexList, "vertices", "vertex"},
    {Kw::kMeshNumFaces, Kw::kMeshFace, Kw::kMeshFaceList, "faces", "face"},
    {Kw::kMeshNumTVertex, Kw::kMeshTVert, Kw::kMeshTVertList, "texture vertices", "texture vertex"},
    {Kw::kMeshNumTVFaces, Kw::kMeshTFace, Kw::kMeshTFaceList, "texture faces", "texture face"},
    {Kw::kMeshNumCVertex, Kw::kMeshVertCol, Kw::kMeshCVertList, "colour vertices", "colour vertex"},
    {Kw::kMeshNumCVFaces, Kw::kMeshCFace, Kw::kMeshCFaceList, "colour faces", "colour face"},
    {Kw::kMaterialCount, Kw::kMaterial, Kw::kMaterialList, "materials", "material"},
    {Kw::kNumSubMtls, Kw::kSubMaterial, Kw::kMaterial, "sub-materials", "sub-material"},
};

// The blocks that own counts fall in groups by the counts they own: a mesh
// owns the texture counts too, unless a mapping channel inside it owns them.
enum OwnerGroup : int { kMeshGroup, kTexGroup, kMaterialListGroup, kMaterialGroup, kOwnerGroups };

constexpr OwnerGroup GroupOf(int kind) {
    switch (kind) {
        case kTexVertices:
        case kTexFaces: return kTexGroup;
        case kMaterials: return kMaterialListGroup;
        case kSubMaterials: return kMaterialGroup;
        default: return kMeshGroup;
    }
}

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

// How many counts a block of `keyword` owns, and where the count of `kind`
// lies among them (both in kCounts order).
int CountSlots(Kw keyword) {
    switch (keyword) {
        case Kw::kMesh: return kColorFaces + 1;
        case Kw::kMeshMappingChannel: return 2;
        case Kw::kMaterialList:
        case Kw::kMaterial: return 1;
        default: return 0;
    }
}

int SlotOf(Kw keyword, int kind) {
    switch (keyword) {
        case Kw::kMesh: return kind;
        case Kw::kMeshMappingChannel: return kind - kTexVertices;
        default: return 0;
    }
}

// Line numbers are kept in 32 bits where a block keeps them: a file is
// under 4 GiB (the reader's sizes are 32-bit) and a line with a word holds
// a byte, so the number of such a line fits.
struct Counted {
    int32_t declared = -1;  // -1: no count line
    uint32_t declaredLine = 0;
    uint32_t held = 0;
    uint32_t firstItemLine = 0;
};

// A texture or colour face line, checked against its vertices when the block
// that owns both closes (the count may follow the list).
struct TriLine {
    int64_t line;
    int32_t index;
    int32_t corners[3];
};

// An open block as the observer mirrors it, in 12 bytes: a file can nest
// blocks two bytes apiece. What a line's lookups need is copied from the
// block around it when the block is pushed, so each lookup takes one step
// whatever the depth.
struct Frame {
    int32_t object;  // the object block it lies in, or -1
    int32_t owner;  // owners_ index of the innermost block that owns counts, or -1
    Kw keyword;
    Kw top;  // the innermost known keyword: this block's or one around it
    bool skipped;
};

// What a block that owns counts keeps while it is open: its counts (made
// when a line first needs them), where its face lines begin (face lines
// are 20 bytes and more, so their numbers fit 32 bits) and the innermost
// owner of each group, itself or one around it.
struct Owner {
    Kw keyword;
    bool secondChannelTaken;
    int32_t counts;  // counted_ index of its first count, or -1 before a line needs them
    uint32_t texStart;  // its texture face lines: texFaces_ from here on
    uint32_t colorStart;
    int32_t around[kOwnerGroups];  // owners_ indices, or -1
};

// The line and word of a block a report may name as left open: kept for the
// outermost blocks only, the ones an open-block finding lists.
struct Opened {
    int64_t line;
    std::string word;
};

// What an object's lines tell that is judged when the object closes or
// once the whole file is read (its material's sub-materials may come after
// it). Lines in 32 bits, as in Counted.
struct ObjectLines {
    uint32_t nameLine = 0;
    uint32_t parentLine = 0;
    uint32_t materialRefLine = 0;  // of the last readable *MATERIAL_REF
    // The face with the highest *MESH_MTLID (the first such line): a
    // material's sub-materials are known only at the end, and one face
    // stands for all the object's faces beyond them.
    uint32_t topIdLine = 0;
    int32_t topId = -1;
    int32_t topIdFace = 0;
    // Face lines with two corners the same vertex, and the first of them.
    uint32_t degenerate = 0;
    uint32_t degenerateLine = 0;
    int32_t degenerateFace = 0;
    int32_t degenerateCorners[3] = {};
    std::string name;
};

// Every kind of finding the observer makes, with its name and severity.
enum class Kind : uint8_t {
    kStrayBrace,
    kMalformedLine,
    kDroppedLine,
    kMissingTexture,
    kStrayText,
    kUnusedKeyword,
    kUnknownKeyword,
    kChannelDropped,
    kLightsDropped,
    kCamerasDropped,
    kNormalsDropped,
    kMorphDropped,
    kSmoothingNarrowed,
    kUvIndex,
    kColourIndex,
    kCountMismatch,
    kColourFaces,
    kOpenBlock,
    kDuplicateName,
    kMissingParent,
    kParentCycle,
    kHeader,
    kFaceLabel,
    kDegenerateFace,
    kNotFinite,
    kMaterialRef,
    kMaterialId,
    kKinds
};

struct KindInfo {
    const char* name;
    CheckSeverity severity;
};

constexpr KindInfo kKinds[static_cast<int>(Kind::kKinds)] = {
    {"stray-brace", CheckSeverity::kWarning},     {"malformed-line", CheckSeverity::kWarning},
    {"dropped-line", CheckSeverity::kWarning},    {"missing-texture", CheckSeverity::kWarning},
    {"stray-text", CheckSeverity::kWarning},      {"unused-keyword", CheckSeverity::kNote},
    {"unknown-keyword", CheckSeverity::kWarning}, {"channel-dropped", CheckSeverity::kNote},
    {"lights-dropped", CheckSeverity::kNote},     {"cameras-dropped", CheckSeverity::kNote},
    {"normals-dropped", CheckSeverity::kNote},    {"morph-dropped", CheckSeverity::kNote},
    {"smoothing-narrowed", CheckSeverity::kNote},  {"uv-index", CheckSeverity::kWarning},
    {"colour-index", CheckSeverity::kWarning},    {"count-mismatch", CheckSeverity::kWarning},
    {"colour-faces", CheckSeverity::kWarning},    {"open-block", CheckSeverity::kWarning},
    {"duplicate-name", CheckSeverity::kWarning},  {"missing-parent", CheckSeverity::kWarning},
    {"parent-cycle", CheckSeverity::kWarning},   {"header", CheckSeverity::kWarning},
    {"face-label", CheckSeverity::kWarning},     {"degenerate-face", CheckSeverity::kWarning},
    {"not-finite", CheckSeverity::kWarning},     {"material-ref", CheckSeverity::kWarning},
    {"material-id", CheckSeverity::kWarning},
};

const KindInfo& InfoOf(Kind kind) { return kKinds[static_cast<int>(kind)]; }

// A set of distinct byte strings, each numbered in the order it was first
// added. The strings lie back to back in one buffer and the table holds
// numbers only, so a string costs its bytes and about 16 more: 8 for where
// it ends and 4 to 8 for its slot (the table is kept between a quarter and
// half full). Expected linear time for any number of strings.
class KeySet {
public:
    // The number of `key`; `added` tells whether it was new.
    uint32_t Insert(std::string_view key, bool& added) {
        if ((ends_.size() + 1) * 2 > slots_.size()) Grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = Hash(key) & mask;; i = (i + 1) & mask) {
            const uint32_t slot = slots_[i];
            if (slot == 0) {
                bytes_.append(key);
                ends_.push_back(bytes_.size());
                slots_[i] = static_cast<uint32_t>(ends_.size());
                added = true;
                return slots_[i] - 1;
            }
            if (At(slot - 1) == key) {
                added = false;
                return slot - 1;
            }
        }
    }

private:
    static size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

    std::string_view At(uint32_t n) const {
        const size_t begin = n == 0 ? 0 : ends_[n - 1];
        return std::string_view(bytes_).substr(begin, ends_[n] - begin);
    }

    void Grow() {
        std::vector<uint32_t> slots(std::max<size_t>(slots_.size() * 2, 64), 0);
        const size_t mask = slots.size() - 1;
        for (uint32_t n = 0; n < ends_.size(); ++n) {
            size_t i = Hash(At(n)) & mask;
            while (slots[i] != 0) i = (i + 1) & mask;
            slots[i] = n + 1;
        }
        slots_ = std::move(slots);
    }

    std::string bytes_;
    std::vector<size_t> ends_;
    std::vector<uint32_t> slots_;  // a string's number + 1, or 0: free; a power of two long
};

// The C locale's classes, as the reader has them, whatever the locale.
bool IsCSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

std::string Upper(std::string_view word) {
    std::string out(word);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// Whether `word` is `upper` in any case, without a copy: it runs on every
// face line.
bool SameInAnyCase(std::string_view word, std::string_view upper) {
    if (word.size() != upper.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != upper[i]) return false;
    }
    return true;
}

// False when every number in `text` is finite as the reader reads it: no
// letter (of "nan", "inf" or an exponent) and no run of 39 digits (the
// least that reaches beyond a float). A cheap look that spares most list
// lines the reader's full reading.
bool MayNotBeFinite(std::string_view text) {
    int digits = 0;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
        digits = IsDigit(static_cast<unsigned char>(c)) ? digits + 1 : 0;
        if (digits >= 39) return true;
    }
    return false;
}

// The line as the report quotes it: cut, control bytes as spaces.
std::string Excerpt(const AseObservedLine& line) {
    const char* p = line.text.data();
    const char* end = p + line.text.size();
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    std::string out(p, std::min<size_t>(static_cast<size_t>(end - p), 60));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    if (static_cast<size_t>(end - p) > out.size()) out += "...";
    return out;
}

// The `n`th word (0: the first) of `text`, words apart by blanks, cut for a
// message; empty when there are fewer.
std::string Word(std::string_view text, int n) {
    size_t p = 0;
    for (int i = 0;; ++i) {
        while (p < text.size() && IsCSpace(static_cast<unsigned char>(text[p]))) ++p;
        size_t end = p;
        while (end < text.size() && !IsCSpace(static_cast<unsigned char>(text[end]))) ++end;
        if (i == n || p == end) return std::string(text.substr(p, std::min<size_t>(end - p, 40)));
        p = end;
    }
}

// "1 vertex", "2 vertices": `n` and the noun for it.
std::string Many(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// `n` with its thousands apart ("999,900"), whatever the locale.
std::string Grouped(int64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0 && digits[i - 1] != '-') out += ',';
        out += digits[i];
    }
    return out;
}

bool FileExists(const char16_t* path) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

// The observer. Its memory, whatever the file holds, is within a small
// multiple of the file's bytes: per open block a 12-byte frame (and an
// owner of 32 bytes, with 16 per count once a line needs one, for a block
// that owns counts); per distinct keyword, texture or bad word its bytes
// and about 16 (KeySet); per object its name and 52 bytes of lines,
// material ids and degenerate faces; per texture or colour face line 24
// bytes; and at most kCheckListedPerKind findings of each kind. The test
// that feeds it files built to blow each of these up holds its peak within
// 8 times the file and 1 MiB.
class Checker final : public AseObserver {
public:
    explicit Checker(std::u16string textureDirectory) : textureDirectory_(std::move(textureDirectory)) {}

    // The read starts over: what it said so far is void (the texture
    // directory stays).
    void OnRestart() override { *this = Checker(std::move(textureDirectory_)); }

    void OnLine(const AseObservedLine& line) override {
        if (!headerSeen_) CheckHeader(line);
        if (!line.skipped) Inspect(line, line.number);
    }

    void OnBlockOpen(const AseObservedLine& line) override { Push(line, line.number, line.skipped); }

    // The reader's stack and frames_ hold the same blocks: a stray brace
    // finds frames_ empty too.
    void OnBlockClose(const AseObservedLine& line, Kw, bool stray) override {
        if (stray || frames_.empty()) {
            if (!line.skipped) {
                Tally(Kind::kStrayBrace, {}, line.number,
                      [] { return "a closing brace that closes no block: ignored"; });
            }
            return;
        }
        Close(frames_.back());
        if (opened_.size() == frames_.size()) opened_.pop_back();
        frames_.pop_back();
    }

    // A count of the innermost block that owns counts of its kind.
    void OnCount(const AseObservedLine& line, int32_t value) override {
        const Kw top = Current().top;
        for (int kind = 0; kind < kCountKinds; ++kind) {
            if (line.keyword != kCounts[kind].countKeyword || !OwnsCount(top, kind)) continue;
            if (Counted* counted = MakeCount(kind)) {
                counted->declared = value;
                counted->declaredLine = static_cast<uint32_t>(line.number);
            }
        }
    }

    void OnDropped(const AseObservedLine& line, AseDrop why) override {
        const int64_t number = line.number;
        const std::string word = Upper(line.word);
        if (why == AseDrop::kMalformed) {
            Tally(Kind::kMalformedLine, word, number, [&] {
                return std::string("cannot read \"") + Excerpt(line) + "\": the line is skipped";
            });
            return;
        }
        Tally(Kind::kDroppedLine, word, number, [&] {
            int32_t index = 0;
            ReadObservedInts(line, &index, 1);
            std::string reason = "no count line declares its list";
            for (int kind = 0; kind < kCountKinds; ++kind) {
                const CountInfo& info = kCounts[kind];
                if (info.itemKeyword != line.keyword) continue;
                const Counted* counted = FindCount(kind);
                if (counted == nullptr || counted->declaredLine == 0) continue;
                const std::string countWord(KeywordText(info.countKeyword));
                // A count of 0 or below makes no list: every item is outside.
                const std::string declared = Many(counted->declared, info.one, info.noun);
                reason = counted->declared > 0 ? "it lies outside the " + declared + " that " + countWord + " declares"
                                               : countWord + " declares " + declared + ", so the list keeps none";
            }
            return word + " " + std::to_string(index) + " is dropped: " + reason;
        });
    }

    // After the import: the end of the file and the document-level checks.
    void Finish(const AseDocument& document, bool imported) {
        if (imported) {
            // Outermost first, so that the blocks listed are the ones a
            // reader of the file meets first.
            for (size_t i = 0; i < frames_.size(); ++i) {
                if (!Counts(Kind::kOpenBlock) || i >= opened_.size()) continue;
                List(Kind::kOpenBlock, opened_[i].line,
                     opened_[i].word + " opened here is still open at the end of the file: is the file cut short?");
            }
            for (size_t i = frames_.size(); i-- > 0;) Close(frames_[i]);
            CheckDocument(document);
        }
        frames_.clear();
        for (size_t i = 0; i < findings_.size(); ++i) {
            if (lines_[i] > 1) findings_[i].message += " (" + std::to_string(lines_[i]) + " lines like this)";
        }
        for (int k = 0; k < static_cast<int>(Kind::kKinds); ++k) {
            const int64_t more = found_[k] - kCheckListedPerKind;
            if (more <= 0) continue;
            findings_.push_back({0, kKinds[k].severity, kKinds[k].name,
                                 "... and " + Grouped(more) + " more " + kKinds[k].name +
                                     (more == 1 ? " finding" : " findings")});
        }
    }

    std::vector<CheckFinding> TakeFindings() { return std::move(findings_); }

    // Every finding made, listed or not, of `severity`.
    int64_t Total(CheckSeverity severity) const { return totals_[static_cast<int>(severity)]; }

private:
    // Counts a finding of `kind` in the totals; true when it is one of the
    // first kCheckListedPerKind of its kind, which are listed.
    bool Counts(Kind kind) {
        ++totals_[static_cast<int>(InfoOf(kind).severity)];
        return found_[static_cast<int>(kind)]++ < kCheckListedPerKind;
    }

    void List(Kind kind, int64_t line, std::string message) {
        findings_.push_back({line, InfoOf(kind).severity, InfoOf(kind).name, std::move(message)});
        lines_.push_back(1);
    }

    // A finding; `message` makes its text, only when it is listed.
    template <typename Message>
    void Add(Kind kind, int64_t line, Message&& message) {
        if (Counts(kind)) List(kind, line, message());
    }

    // One finding per distinct `key` of the kind, on its first line; later
    // lines of a listed one are counted in its text. Known and unknown
    // keywords share their keys: a keyword's first line decides its kind.
    template <typename Message>
    void Tally(Kind kind, std::string_view key, int64_t line, Message&& message) {
        const Kind group = kind == Kind::kUnusedKeyword ? Kind::kUnknownKeyword : kind;
        key_.assign(1, static_cast<char>(group)).append(key);
        bool added = false;
        const uint32_t n = keys_.Insert(key_, added);
        if (!added) {
            if (auto it = listedKeys_.find(n); it != listedKeys_.end()) ++lines_[it->second];
            return;
        }
        if (!Counts(kind)) return;
        listedKeys_.emplace(n, findings_.size());
        List(kind, line, message());
    }

    // The innermost open block, or the file's top level as a block.
    const Frame& Current() const { return frames_.empty() ? kTopLevel : frames_.back(); }

    // The owners_ index of the innermost open block that owns counts of
    // `group`, or -1.
    int32_t OwnerOf(int group) const {
        const int32_t innermost = Current().owner;
        return innermost < 0 ? -1 : owners_[static_cast<size_t>(innermost)].around[group];
    }

    // The count of `kind` in the innermost block that owns such counts: null
    // when none is open or the block has none yet (FindCount), or made then
    // (MakeCount; null only when none is open).
    const Counted* FindCount(int kind) const {
        const int32_t owner = OwnerOf(GroupOf(kind));
        if (owner < 0 || owners_[static_cast<size_t>(owner)].counts < 0) return nullptr;
        const Owner& o = owners_[static_cast<size_t>(owner)];
        return &counted_[static_cast<size_t>(o.counts + SlotOf(o.keyword, kind))];
    }

    Counted* MakeCount(int kind) {
        const int32_t owner = OwnerOf(GroupOf(kind));
        if (owner < 0) return nullptr;
        Owner& o = owners_[static_cast<size_t>(owner)];
        if (o.counts < 0) {
            o.counts = static_cast<int32_t>(counted_.size());
            counted_.resize(counted_.size() + static_cast<size_t>(CountSlots(o.keyword)));
        }
        return &counted_[static_cast<size_t>(o.counts + SlotOf(o.keyword, kind))];
    }

    std::string ObjectName(int32_t object) const {
        if (object < 0 || static_cast<size_t>(object) >= objects_.size()) return "\"\"";
        return "\"" + objects_[static_cast<size_t>(object)].name + "\"";
    }

    void Push(const AseObservedLine& line, int64_t number, bool skipped) {
        Frame frame = Current();
        frame.keyword = line.keyword;
        if (line.keyword != Kw::kUnknown) frame.top = line.keyword;
        frame.skipped = skipped || frame.skipped;
        if (!frame.skipped) {
            if (line.keyword == Kw::kGeomObject) {
                frame.object = static_cast<int32_t>(objects_.size());
                objects_.emplace_back();
            }
            if (CountSlots(line.keyword) > 0) {
                const auto index = static_cast<int32_t>(owners_.size());
                Owner owner{line.keyword, false, -1, static_cast<uint32_t>(texFaces_.size()),
                            static_cast<uint32_t>(colorFaces_.size()), {-1, -1, -1, -1}};
                for (int group = 0; group < kOwnerGroups; ++group) {
                    owner.around[group] = OwnsCount(line.keyword, GroupFirstKind(group)) ? index : OwnerOf(group);
                }
                owners_.push_back(owner);
                frame.owner = index;
            }
        }
        if (static_cast<int64_t>(frames_.size()) < kCheckListedPerKind) {
            opened_.push_back({number, std::string(line.word)});
        }
        frames_.push_back(frame);
    }

    static int GroupFirstKind(int group) {
        switch (group) {
            case kTexGroup: return kTexVertices;
            case kMaterialListGroup: return kMaterials;
            case kMaterialGroup: return kSubMaterials;
            default: return kVertices;
        }
    }

    // What a line of a read block tells: items, names, what the import
    // leaves out (its counts come as their own events).
    void Inspect(const AseObservedLine& line, int64_t number) {
        const Kw top = Current().top;
        for (int kind = 0; kind < kCountKinds; ++kind) {
            const CountInfo& info = kCounts[kind];
            if (line.keyword == info.itemKeyword && top == info.listKeyword) {
                if (Counted* counted = MakeCount(kind)) {
                    if (counted->held++ == 0) counted->firstItemLine = static_cast<uint32_t>(number);
                }
                if (kind == kTexFaces || kind == kColorFaces) KeepTriLine(line, number, kind);
                if (kind == kFaces) InspectFace(line, number);
                if (kind == kVertices || kind == kColorVertices) CheckNumbers(line, number, 3);
                // The reader reads two numbers of a texture vertex, the third optional.
                if (kind == kTexVertices) CheckNumbers(line, number, 2);
            }
        }
        switch (line.keyword) {
            case Kw::kNodeName:
                if (top == Kw::kGeomObject) NameObject(line, number, false);
                return;
            case Kw::kNodeParent:
                if (top == Kw::kGeomObject) NameObject(line, number, true);
                return;
            case Kw::kMaterialRef:
                if (top == Kw::kGeomObject) NoteMaterialRef(line, number);
                return;
            case Kw::kBitmap: CheckTexture(line, number); return;
            case Kw::kLightObject:
                Tally(Kind::kLightsDropped, {}, number, [] {
                    return "lights are not handed to the host: an import carries geometry, materials, bones and "
                           "animation";
                });
                return;
            case Kw::kCameraObject:
                Tally(Kind::kCamerasDropped, {}, number, [] {
                    return "cameras are not handed to the host: an import carries geometry, materials, bones and "
                           "animation";
                });
                return;
            case Kw::kMeshNormals:
                Tally(Kind::kNormalsDropped, {}, number,
                      [] { return "the file's normals are not handed to the host: it makes its own"; });
                return;
            case Kw::kMeshAnimation:
                Tally(Kind::kMorphDropped, {}, number, [] { return "*MESH_ANIMATION (mesh frames) is not read"; });
                return;
            case Kw::kMeshMappingChannel: NoteChannel(line, number); return;
            case Kw::kUnknown: NoteUnknown(line, number); return;
            default: return;
        }
    }

    void KeepTriLine(const AseObservedLine& line, int64_t number, int kind) {
        int32_t values[4] = {};
        if (!ReadObservedInts(line, values, 4)) return;
        const TriLine tri{number, values[0], {values[1], values[2], values[3]}};
        // Lines go to the innermost owner, which closes before any owner
        // around it: each owner's lines are the tail from its start.
        if (OwnerOf(GroupOf(kind)) < 0) return;
        (kind == kTexFaces ? texFaces_ : colorFaces_).push_back(tri);
    }

    // The host keeps one smoothing group a face, the lowest the line lists
    // in 1..32: a line that lists more, or values outside, loses the rest.
    void NoteSmoothing(const AseObservedLine& line, int64_t number) {
        static constexpr std::string_view kSmoothing = "*MESH_SMOOTHING";
        const std::string_view text = line.text;
        const size_t at = text.find(kSmoothing);
        if (at == std::string_view::npos) return;
        size_t p = at + kSmoothing.size();
        int kept = 0;
        int listed = 0;
        int lowest = 0;
        for (;;) {
            while (p < text.size() && IsCSpace(static_cast<unsigned char>(text[p]))) ++p;
            if (p >= text.size() || !IsDigit(static_cast<unsigned char>(text[p]))) break;
            // The value's size is judged from its digits, so a long one
            // never wraps into the range.
            int64_t value = 0;
            for (; p < text.size() && IsDigit(static_cast<unsigned char>(text[p])); ++p) {
                value = value < 1000 ? value * 10 + (text[p] - '0') : value;
            }
            ++listed;
            if (value >= 1 && value <= 32) {
                lowest = kept == 0 || value < lowest ? static_cast<int>(value) : lowest;
                ++kept;
            }
            while (p < text.size() && IsCSpace(static_cast<unsigned char>(text[p]))) ++p;
            if (p >= text.size() || text[p] != ',') break;
            ++p;
        }
        if (listed <= 1 && listed == kept) return;
        Add(Kind::kSmoothingNarrowed, number, [lowest] {
            return lowest > 0 ? "the face lists several smoothing groups or values outside 1..32: the host keeps one, " +
                                    std::to_string(lowest)
                              : std::string("the face lists no smoothing group in 1..32: the host gets 0");
        });
    }

    // The object the current line lies in, or null outside one.
    ObjectLines* CurrentObject() {
        const int32_t object = Current().object;
        if (object < 0 || static_cast<size_t>(object) >= objects_.size()) return nullptr;
        return &objects_[static_cast<size_t>(object)];
    }

    void NameObject(const AseObservedLine& line, int64_t number, bool parent) {
        ObjectLines* lines = CurrentObject();
        if (lines == nullptr) return;
        if (parent) {
            lines->parentLine = static_cast<uint32_t>(number);
        } else {
            lines->nameLine = static_cast<uint32_t>(number);
            lines->name = ObservedQuotedText(line);
        }
    }

    // The reference is judged against the materials once the file is read
    // (CheckMaterials); an unreadable one leaves the object without.
    void NoteMaterialRef(const AseObservedLine& line, int64_t number) {
        ObjectLines* lines = CurrentObject();
        int32_t ref = 0;
        if (lines != nullptr && ReadObservedInts(line, &ref, 1)) lines->materialRefLine = static_cast<uint32_t>(number);
    }

    // The first line of the file: the header an exporter writes. The
    // import reads on without it, but a file that lacks it may be no ASE
    // file at all.
    void CheckHeader(const AseObservedLine& line) {
        headerSeen_ = true;
        int32_t version = 0;
        const bool header = line.number == 1 && line.keyword == Kw::kAsciiExport;
        if (header && ReadObservedInts(line, &version, 1)) return;
        Add(Kind::kHeader, 1, [&] {
            return header ? std::string("*3DSMAX_ASCIIEXPORT gives no version number: an exporter writes one")
                          : std::string("the first line is not \"*3DSMAX_ASCIIEXPORT <version>\", the header an ASE "
                                        "file begins with: is this an ASE file?");
        });
    }

    // A face line as the reader reads it: its corner labels, its corners,
    // its material id and the words after its corners.
    void InspectFace(const AseObservedLine& line, int64_t number) {
        NoteSmoothing(line, number);
        NoteCaseOfWords(line, number);
        AseObservedFace face{};
        ObjectLines* object = CurrentObject();
        if (object == nullptr || !ReadObservedFace(line, face)) return;
        const auto corners = [&face] {
            return "[" + std::to_string(face.corners[0]) + ", " + std::to_string(face.corners[1]) + ", " +
                   std::to_string(face.corners[2]) + "]";
        };
        if (face.materialId > object->topId) {
            object->topId = face.materialId;
            object->topIdLine = static_cast<uint32_t>(number);
            object->topIdFace = face.index;
        }
        static constexpr std::string_view kLabels[3] = {"A:", "B:", "C:"};
        for (int k = 0; k < 3; ++k) {
            if (SameInAnyCase(face.labels[k], kLabels[k])) continue;
            // The reader takes the numbers in order whatever their labels:
            // a face without its C: takes its AB: edge flag as a corner.
            Tally(Kind::kFaceLabel, {}, number, [&] {
                return "*MESH_FACE " + std::to_string(face.index) + " of " + ObjectName(Current().object) +
                       " has no " + std::string(kLabels[k]) + " label: the reader takes \"" +
                       std::string(face.labels[k]) + " " + std::to_string(face.corners[k]) +
                       "\" as that corner and reads the face as " + corners();
            });
            // That finding already says what the face became.
            return;
        }
        const int32_t* c = face.corners;
        if (c[0] != c[1] && c[1] != c[2] && c[0] != c[2]) return;
        if (object->degenerate++ == 0) {
            object->degenerateLine = static_cast<uint32_t>(number);
            object->degenerateFace = face.index;
            std::copy(c, c + 3, object->degenerateCorners);
        }
    }

    // The words the reader looks for after a face's corners, *MESH_SMOOTHING
    // and *MESH_MTLID, it compares in capitals only (first words it
    // compares in any case): another spelling is read past.
    void NoteCaseOfWords(const AseObservedLine& line, int64_t number) {
        static constexpr std::string_view kWords[] = {"*MESH_SMOOTHING", "*MESH_MTLID"};
        const std::string_view args = line.args;
        for (size_t star = args.find('*'); star != std::string_view::npos; star = args.find('*', star + 1)) {
            size_t end = star;
            while (end < args.size() && !IsCSpace(static_cast<unsigned char>(args[end]))) ++end;
            const std::string_view word = args.substr(star, end - star);
            for (const std::string_view known : kWords) {
                if (word == known || !SameInAnyCase(word, known)) continue;
                Tally(Kind::kUnknownKeyword, word, number, [&] {
                    return std::string(word) + " is not a word the reader knows in a face line: it is read past "
                           "(there the words are case-sensitive; did you mean " + std::string(known) + "?)";
                });
            }
        }
    }

    // A vertex list item whose numbers the reader reads as NaN or infinity
    // (a "nan", an "inf", a 1e39 beyond a float's range): the host gets
    // them as read.
    void CheckNumbers(const AseObservedLine& line, int64_t number, int count) {
        if (!MayNotBeFinite(line.args)) return;
        int32_t index = 0;
        float values[3] = {};
        if (!ReadObservedIntFloats(line, index, values, count)) return;
        for (int i = 0; i < count; ++i) {
            if (std::isfinite(values[i])) continue;
            const bool nan = std::isnan(values[i]);
            // NaN and infinity are told apart: each is its own fault.
            Tally(Kind::kNotFinite, Upper(line.word) + (nan ? " nan" : " inf"), number, [&] {
                return Upper(line.word) + " " + std::to_string(index) + " of " + ObjectName(Current().object) +
                       " holds \"" + Word(line.args, i + 1) + "\", " +
                       (nan ? "which is not a number" : "which is infinite or beyond a float's range") +
                       ": the host gets it as read";
            });
            return;
        }
    }

    // A map's bitmap is looked for by its file name in the imported file's
    // folder, as the import places its textures. Names are remembered by
    // their bytes, not by the longer paths they resolve to.
    void CheckTexture(const AseObservedLine& line, int64_t number) {
        const Kw top = Current().top;
        if (top != Kw::kMapDiffuse && top != Kw::kMapOpacity && top != Kw::kMapSpecular && top != Kw::kMapBump) {
            return;
        }
        const std::string path = ObservedQuotedText(line);
        const std::string name = AseFileNameOfPath(path);
        char16_t wideName[kAsePathUnits] = {};
        char16_t full[kImportPathUnits] = {};
        if (name.empty() || AnsiToWide(name.c_str(), wideName, kAsePathUnits) == 0 ||
            !ResolveTexturePath(textureDirectory_.c_str(), wideName, full)) {
            return;
        }
        bool added = false;
        const uint32_t n = textures_.Insert(name, added);
        if (added) textureFound_.push_back(FileExists(full));
        if (textureFound_[n]) return;
        Tally(Kind::kMissingTexture, name, number, [&] {
            const std::string resolved = Utf16ToUtf8(full);
            return std::string("texture \"") + path + "\" is looked for as \"" + resolved + "\", which does not exist";
        });
    }

    // The second UV channel is the first mapping channel numbered 2 of each
    // mesh; any other is left out.
    void NoteChannel(const AseObservedLine& line, int64_t number) {
        int32_t channel = 0;
        if (!ReadObservedInts(line, &channel, 1)) return;
        const int32_t mesh = OwnerOf(kMeshGroup);
        if (channel == 2 && mesh >= 0 && !owners_[static_cast<size_t>(mesh)].secondChannelTaken) {
            owners_[static_cast<size_t>(mesh)].secondChannelTaken = true;
            return;
        }
        Tally(Kind::kChannelDropped, {}, number, [&] {
            return std::string("mapping channel ") + std::to_string(channel) + " of " + ObjectName(Current().object) +
                   " is not handed to the host: only the first channel numbered 2 becomes the second UV channel";
        });
    }

    void NoteUnknown(const AseObservedLine& line, int64_t number) {
        const std::string_view word = line.word;
        if (word == "{") return;
        if (word.empty() || word[0] != '*') {
            Tally(Kind::kStrayText, {}, number, [&] {
                return std::string("\"") + Excerpt(line) + "\" starts with no keyword: the line is ignored";
            });
            return;
        }
        const std::string upper = Upper(word);
        if (IsUnusedKeyword(upper)) {
            Tally(Kind::kUnusedKeyword, upper, number,
                  [&] { return upper + " is not used by the import: the line is read past"; });
        } else {
            Tally(Kind::kUnknownKeyword, upper, number, [&] {
                return std::string(word) + " is not a keyword the reader knows: the line is ignored";
            });
        }
    }

    // A block closes: an object, its degenerate faces; a block that owns
    // counts, its counts against its lines, its texture and colour faces
    // against their vertices.
    void Close(const Frame& frame) {
        if (!frame.skipped && frame.keyword == Kw::kGeomObject) CloseObject(frame.object);
        if (frame.skipped || CountSlots(frame.keyword) == 0) return;
        // Owners are pushed and closed with their frames, so this one is last.
        const Owner owner = owners_.back();
        const auto count = [&](int kind) {
            return owner.counts < 0 ? Counted{}
                                    : counted_[static_cast<size_t>(owner.counts + SlotOf(owner.keyword, kind))];
        };
        for (int kind = 0; kind < kCountKinds; ++kind) {
            if (!OwnsCount(frame.keyword, kind)) continue;
            const Counted c = count(kind);
            const CountInfo& info = kCounts[kind];
            const auto where = [&] { return frame.object >= 0 ? " in " + ObjectName(frame.object) : std::string(); };
            // A count line is known by its line: a count of -1 is one too.
            if (c.declaredLine == 0 && c.held > 0) {
                Add(Kind::kCountMismatch, c.firstItemLine, [&] {
                    const bool one = c.held == 1;
                    return std::to_string(c.held) + " " + std::string(KeywordText(info.itemKeyword)) +
                           (one ? " line" : " lines") + where() + ", but no " +
                           std::string(KeywordText(info.countKeyword)) + (one ? " declares it" : " declares them");
                });
            } else if (c.declaredLine > 0 && std::max<int64_t>(c.declared, 0) != c.held) {
                // (A count below 0 is read as none: with no lines, nothing is lost.)
                Add(Kind::kCountMismatch, c.declaredLine, [&] {
                    return std::string(KeywordText(info.countKeyword)) + " declares " +
                           Many(c.declared, info.one, info.noun) + where() +
                           (c.declared < 0 ? ", which the reader takes as none" : "") + ", the file holds " +
                           std::to_string(c.held);
                });
            }
        }
        if (OwnsCount(frame.keyword, kTexFaces)) {
            CheckTriLines(frame, texFaces_, owner.texStart, count(kTexVertices).declared, Kind::kUvIndex, "texture",
                          "keeps the host's UV");
        }
        if (frame.keyword == Kw::kMesh) {
            CheckTriLines(frame, colorFaces_, owner.colorStart, count(kColorVertices).declared, Kind::kColourIndex,
                          "colour", "adds no colour to its vertex");
            const Counted colorFaces = count(kColorFaces);
            const Counted faces = count(kFaces);
            if (colorFaces.declared > 0 && colorFaces.declared != faces.declared) {
                Add(Kind::kColourFaces, colorFaces.declaredLine, [&] {
                    return "*MESH_NUMCVFACES declares " + Many(colorFaces.declared, "colour face", "colour faces") +
                           " for " + Many(std::max<int32_t>(faces.declared, 0), "face", "faces") + " in " +
                           ObjectName(frame.object) + ": the colours are not applied";
                });
            }
        }
        // The counts of the owner go with it when they are the last made
        // (an owner around it may have made its own since).
        if (owner.counts >= 0 &&
            static_cast<size_t>(owner.counts) + static_cast<size_t>(CountSlots(owner.keyword)) == counted_.size()) {
            counted_.resize(static_cast<size_t>(owner.counts));
        }
        owners_.pop_back();
    }

    // The face lines of the closing owner, from `start` on, are checked and
    // let go.
    void CheckTriLines(const Frame& frame, std::deque<TriLine>& lines, size_t start, int32_t vertices, Kind kind,
                       const char* noun, const char* consequence) {
        const int64_t limit = std::max<int64_t>(vertices, 0);
        for (size_t i = start; i < lines.size(); ++i) {
            const TriLine& tri = lines[i];
            for (const int32_t corner : tri.corners) {
                if (corner >= 0 && corner < limit) continue;
                Tally(kind, {}, tri.line, [&] {
                    return std::string(noun) + " face " + std::to_string(tri.index) + " of " +
                           ObjectName(frame.object) + " uses " + noun + " vertex " + std::to_string(corner) +
                           (limit == 1 ? ", but there is 1" : ", but there are " + std::to_string(limit)) +
                           ": that corner " + consequence;
                });
                break;
            }
        }
        lines.resize(std::min(start, lines.size()));
    }

    // An object closes: its degenerate faces, counted in one finding.
    void CloseObject(int32_t index) {
        if (index < 0 || static_cast<size_t>(index) >= objects_.size()) return;
        const ObjectLines& object = objects_[static_cast<size_t>(index)];
        if (object.degenerate == 0) return;
        Add(Kind::kDegenerateFace, object.degenerateLine, [&] {
            const int32_t* c = object.degenerateCorners;
            std::string text = "*MESH_FACE " + std::to_string(object.degenerateFace) + " of " + ObjectName(index) +
                               " is degenerate, [" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " +
                               std::to_string(c[2]) + "]: two of its corners are one vertex, the face has no area";
            if (object.degenerate > 1) {
                text += " (" + std::to_string(object.degenerate) + " faces of " + ObjectName(index) + " like this)";
            }
            return text;
        });
    }

    // Material references and ids, once every material is read: a reference
    // to no material leaves the object's faces without one, an id beyond
    // the sub-materials of the material gives the face the first.
    void CheckMaterials(const AseDocument& doc) {
        const int32_t materials = doc.materials != nullptr ? doc.materialCount : 0;
        for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
            if (static_cast<size_t>(i) >= objects_.size()) return;
            const ObjectLines& lines = objects_[static_cast<size_t>(i)];
            const int32_t ref = doc.geomObjects[i].materialRef;
            if (lines.materialRefLine == 0) continue;
            if (ref < 0 || ref >= materials) {
                Add(Kind::kMaterialRef, lines.materialRefLine, [&] {
                    return "*MATERIAL_REF " + std::to_string(ref) + " of " + ObjectName(i) +
                           " names no material (the file has " +
                           (materials == 0 ? std::string("none") : std::to_string(materials)) +
                           "): the object's faces get no material";
                });
                continue;
            }
            const AseMaterial& material = doc.materials[ref];
            const int32_t subs = material.subMaterials != nullptr ? material.subMaterialCount : 0;
            if (subs <= 0 || lines.topId < subs) continue;
            Add(Kind::kMaterialId, lines.topIdLine, [&] {
                return "*MESH_FACE " + std::to_string(lines.topIdFace) + " of " + ObjectName(i) + " has *MESH_MTLID " +
                       std::to_string(lines.topId) + " (its highest), but material " + std::to_string(ref) + " (\"" +
                       material.name + "\") has " + Many(subs, "sub-material", "sub-materials") +
                       ": a face with an id beyond them gets sub-material 0";
            });
        }
    }

    // Names and parents, in linear expected time: parents name the first
    // node of their name (the objects, then the helpers), as the import
    // resolves them.
    void CheckDocument(const AseDocument& doc) {
        CheckMaterials(doc);
        std::unordered_map<std::string_view, int32_t> firstOfName;
        for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
            const std::string_view name = doc.geomObjects[i].nodeName;
            if (name.empty()) continue;
            auto [it, added] = firstOfName.try_emplace(name, i);
            if (added) continue;
            Add(Kind::kDuplicateName, LinesOf(i).nameLine, [&, first = it->second] {
                return std::string("\"") + std::string(name) + "\" is also the name of the object at line " +
                       std::to_string(LinesOf(first).nameLine) + ": a parent of that name is the first";
            });
        }
        // Helpers are nodes too, after the objects; lights and cameras are
        // not, so a parent that names one is named in the finding.
        for (int32_t i = 0; doc.helpers != nullptr && i < doc.helperCount; ++i) {
            const std::string_view name = doc.helpers[i].nodeName;
            if (!name.empty()) firstOfName.try_emplace(name, doc.geomObjectCount + i);
        }
        std::unordered_map<std::string_view, const char*> notNodes;
        for (int32_t i = 0; doc.lights != nullptr && i < doc.lightCount; ++i) {
            notNodes.try_emplace(doc.lights[i].nodeName, "a light");
        }
        for (int32_t i = 0; doc.cameras != nullptr && i < doc.cameraCount; ++i) {
            notNodes.try_emplace(doc.cameras[i].nodeName, "a camera");
        }
        for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
            const AseGeomObject& object = doc.geomObjects[i];
            const std::string_view name = object.nodeName;
            const std::string_view parent = object.parentName;
            if (parent.empty()) continue;
            // Appended: g++ 12 sees a false overlap (-Wrestrict) in "\"" + text.
            const auto quoted = [](std::string_view text) {
                std::string out(1, '"');
                return out.append(text).append(1, '"');
            };
            if (firstOfName.count(parent) == 0) {
                const auto other = notNodes.find(parent);
                Add(Kind::kMissingParent, LinesOf(i).parentLine, [&] {
                    const std::string what = other == notNodes.end()
                                                 ? std::string("no object")
                                                 : std::string(other->second) + ", which the import makes no node of";
                    return "parent " + quoted(parent) + " of " + quoted(name) + " names " + what + ": " + quoted(name) +
                           " is imported as a root";
                });
            } else if (object.parentIndex < 0) {
                Add(Kind::kParentCycle, LinesOf(i).parentLine, [&] {
                    return "parent " + quoted(parent) + " of " + quoted(name) + " would make " + quoted(name) +
                           " its own ancestor: it is imported as a root";
                });
            }
        }
    }

    ObjectLines LinesOf(int32_t object) const {
        return object >= 0 && static_cast<size_t>(object) < objects_.size() ? objects_[static_cast<size_t>(object)]
                                                                             : ObjectLines{};
    }

    static constexpr Frame kTopLevel = {-1, -1, Kw::kUnknown, Kw::kUnknown, false};

    std::u16string textureDirectory_;
    // What grows with the file is kept in deques, so that growing never
    // holds an old and a new copy at once.
    std::deque<Frame> frames_;
    std::deque<Owner> owners_;
    std::vector<Opened> opened_;  // of the outermost open blocks only
    std::deque<Counted> counted_;
    std::deque<TriLine> texFaces_;
    std::deque<TriLine> colorFaces_;
    std::deque<ObjectLines> objects_;
    std::vector<CheckFinding> findings_;  // listed, in the order found
    std::vector<int64_t> lines_;  // per listed finding, the lines it stands for
    KeySet keys_;  // of every tallied finding, listed or not, by kind
    std::unordered_map<uint32_t, size_t> listedKeys_;  // key number to listed finding
    std::string key_;  // scratch for a key
    bool headerSeen_ = false;  // the first line with a word was told
    KeySet textures_;  // every texture name looked for
    std::vector<bool> textureFound_;  // by texture name number
    int64_t found_[static_cast<int>(Kind::kKinds)] = {};
    int64_t totals_[3] = {};  // by severity
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

// What the first bytes of a file tell before the import reads it. The
// reader ends a line at a NUL byte and reads on, and reads an image as
// lines of unknown words, so neither reaches its observer as what it is:
// these few bytes are the one look check takes of the file itself.
enum class Opening { kText, kEmpty, kBlank, kNotText, kUnread };

constexpr size_t kOpeningBytes = 4096;

struct Signature {
    std::string_view bytes;
    const char* what;
};

// Signatures of files that are often misnamed, by their first bytes.
constexpr Signature kSignatures[] = {
    {"\x89PNG\r\n\x1A\n", "a PNG image"}, {"\xFF\xD8\xFF", "a JPEG image"},      {"GIF87a", "a GIF image"},
    {"GIF89a", "a GIF image"},              {"\x7F" "ELF", "an ELF program"},      {"PK\x03\x04", "a ZIP archive"},
    {"\x1F\x8B", "a gzip archive"},         {"%PDF-", "a PDF document"},
};

// Text marked as UTF-16 holds a NUL byte in most characters: a NUL
// character (two NUL bytes at a character's place) is what is not text.
Opening LookAtOpening(const std::u16string& path, std::string& why) {
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) return Opening::kUnread;
    unsigned char bytes[kOpeningBytes];
    const size_t n = std::fread(bytes, 1, sizeof bytes, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return Opening::kUnread;
    if (n == 0) return Opening::kEmpty;
    // Blanks only, and all of the file: as empty as a file of no bytes.
    if (n < sizeof bytes && std::all_of(bytes, bytes + n, IsCSpace)) return Opening::kBlank;
    const std::string_view head(reinterpret_cast<const char*>(bytes), n);
    for (const Signature& signature : kSignatures) {
        if (head.substr(0, signature.bytes.size()) != signature.bytes) continue;
        why = std::string("it begins as ") + signature.what + " does";
        return Opening::kNotText;
    }
    const bool utf16 = n >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF));
    const size_t step = utf16 ? 2 : 1;
    for (size_t i = utf16 ? 2 : 0; i + step <= n; i += step) {
        if (bytes[i] != 0 || (utf16 && bytes[i + 1] != 0)) continue;
        why = "it holds NUL " + std::string(utf16 ? "characters" : "bytes") +
              ", which text does not (the first at byte " + std::to_string(i) + ")";
        return Opening::kNotText;
    }
    return Opening::kText;
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

    // A file that is empty or not text gets that one finding, not what the
    // import makes of it ("No geometry found." for an image).
    std::string why;
    const Opening opening = LookAtOpening(absolute, why);
    if (opening != Opening::kText && opening != Opening::kUnread) {
        report.opened = true;
        const std::string empty = opening == Opening::kBlank
                                      ? "empty file: it holds blank lines only, there is nothing to import"
                                      : "empty file: there is nothing to import";
        report.findings.push_back(opening == Opening::kNotText
                                      ? CheckFinding{0, CheckSeverity::kError, "not-ase", "not an ASE file: " + why}
                                      : CheckFinding{0, CheckSeverity::kError, "empty-file", empty});
        report.errors = 1;
        return report;
    }

    std::vector<char16_t> cwd(4096);
    const bool haveCwd = platform::GetCurrentDirectory(cwd.data(), cwd.size());

    HostScene scene;
    scene.setOperationLogEnabled(false);
    scene.setFileName(absolute.c_str());
    Checker checker(directory);
    ObservedImport import;
    const bool imported = import.Run(scene.context(), &checker) == 1;
    if (haveCwd) platform::SetCurrentDirectory(cwd.data());

    const JobError& error = import.Error();
    if (!imported && error.kind == JobErrorKind::kFile) {
        report.openError = ErrorText(error);
        return report;
    }
    report.opened = true;
    // A file without geometry is refused whole: what its lines hold would
    // not reach the host however they were written, so the refusal is the
    // one finding.
    if (imported || error.kind != JobErrorKind::kContent) {
        checker.Finish(import.Document(), imported);
        report.findings = checker.TakeFindings();
        report.errors = checker.Total(CheckSeverity::kError);
        report.warnings = checker.Total(CheckSeverity::kWarning);
        report.notes = checker.Total(CheckSeverity::kNote);
    }
    if (!imported) {
        report.findings.push_back({error.line, CheckSeverity::kError, ImportFailureKind(error.kind),
                                   std::string("the import fails: ") + ErrorText(error)});
        ++report.errors;
    }
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.line < b.line; });
    return report;
}

std::string FormatCheckText(const CheckReport& report, bool showNotes) {
    std::string out;
    for (const CheckFinding& finding : report.findings) {
        if (!showNotes && finding.severity == CheckSeverity::kNote) continue;
        // Appended piece by piece: g++ 12 sees a false overlap (-Wrestrict) in
        // a chain of concatenations here.
        out.append(report.file);
        if (finding.line > 0) out.append(":").append(std::to_string(finding.line));
        out.append(": ").append(CheckSeverityName(finding.severity)).append(": ");
        out.append(finding.message).append("\n");
    }
    auto count = [&out](int64_t n, const char* one, const char* many) { out.append(std::to_string(n)).append(n == 1 ? one : many); };
    out.append(report.file).append(": ");
    count(report.errors, " error, ", " errors, ");
    count(report.warnings, " warning, ", " warnings, ");
    count(report.notes, " note", " notes");
    if (report.errors > 0) {
        out += ": the import would fail";
    } else if (report.warnings > 0) {
        out += ": the file imports, but not all of it as written";
    } else {
        out += ": the file imports as written";
    }
    return out + "\n";
}

namespace {

// The first "*KEYWORD" a finding's message names, or empty.
std::string KeywordOf(const std::string& message) {
    for (size_t star = message.find('*'); star != std::string::npos; star = message.find('*', star + 1)) {
        size_t end = star + 1;
        while (end < message.size() && ((message[end] >= 'A' && message[end] <= 'Z') || (message[end] >= '0' && message[end] <= '9') ||
                                        message[end] == '_')) {
            ++end;
        }
        if (end > star + 1) return message.substr(star, end - star);
    }
    return std::string();
}

}  // namespace

std::string FormatCheckJson(const CheckReport& report, bool showNotes) {
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const CheckFinding& finding : report.findings) {
        if (!showNotes && finding.severity == CheckSeverity::kNote) continue;
        nlohmann::ordered_json entry = {{"line", finding.line}, {"severity", CheckSeverityName(finding.severity)}, {"kind", finding.kind}};
        const std::string keyword = KeywordOf(finding.message);
        if (!keyword.empty()) entry["keyword"] = keyword;
        entry["message"] = finding.message;
        findings.push_back(std::move(entry));
    }
    const size_t listed = findings.size();
    const nlohmann::ordered_json json = {{"file", report.file},
                                         {"findings", std::move(findings)},
                                         {"errors", report.errors},
                                         {"warnings", report.warnings},
                                         {"notes", report.notes},
                                         {"count",
                                          {{"findings", report.errors + report.warnings + report.notes},
                                           {"errors", report.errors},
                                           {"warnings", report.warnings},
                                           {"notes", report.notes},
                                           {"listed", listed}}}};
    // Bytes of the file that are not UTF-8 are replaced rather than refused.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int CheckExitCode(const CheckReport& report) {
    if (!report.opened) return 1;
    if (report.errors > 0) return 3;
    return report.warnings > 0 ? 4 : 0;
}

}  // namespace asehost
