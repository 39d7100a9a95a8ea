// The lists of what a trip through the host loses: the import side from a
// scan of the file by the plug-in's reader, the export side from the host's
// records and the export's choices.
#include "host/tool/loss_report.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "ase/read.h"
#include "host/store/text.h"
#include "platform/platform.h"

namespace asehost {

namespace {

// "1 light", "2 lights".
std::string Counted(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

// The first word of `text` (up to a C space or a brace).
std::string_view FirstToken(std::string_view text) {
    text = Trimmed(text);
    size_t end = 0;
    while (end < text.size() && text[end] != ' ' && (text[end] < '\t' || text[end] > '\r') && text[end] != '{') ++end;
    return text.substr(0, end);
}

// A plain decimal spelling ("0.0500", "-0.0", "1", ".5") in one form, so
// that texts of the same value compare equal without reading the number:
// no leading zeros before the point, no trailing zeros after it, no point
// without a fraction, no sign on zero. Any other text comes back as it is.
std::string NormalDecimal(std::string_view text) {
    text = Trimmed(text);
    std::string_view digits = text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    const size_t point = digits.find('.');
    std::string_view whole = digits.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
    const auto allDigits = [](std::string_view part) {
        for (char c : part) {
            if (c < '0' || c > '9') return false;
        }
        return true;
    };
    if ((whole.empty() && fraction.empty()) || !allDigits(whole) || !allDigits(fraction)) return std::string(text);
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    // Appended piece by piece: g++ 12 sees a false overlap (-Wrestrict) in
    // a chain of concatenations here.
    std::string out;
    if (negative && !(whole.empty() && fraction.empty())) out.push_back('-');
    out.append(whole.empty() ? std::string_view("0") : whole);
    if (!fraction.empty()) out.append(".").append(fraction);
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char a = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
        if (a != prefix[i]) return false;
    }
    return true;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return out;
}

// A material line the host has no field for, with the value an exported
// file writes in its place ("": any such line is lost).
struct UnheldMaterialValue {
    const char* keyword;
    const char* written;
};
constexpr UnheldMaterialValue kUnheldMaterialValues[] = {
    {"*MATERIAL_SHINESTRENGTH", "0.05"}, {"*MATERIAL_SELFILLUM", "0"},  {"*MATERIAL_XP_FALLOFF", "0"},
    {"*MATERIAL_WIRESIZE", "1"},         {"*MATERIAL_SHADING", "Blinn"}, {"*MATERIAL_FALLOFF", "In"},
    {"*MATERIAL_XP_TYPE", "Filter"},     {"*MATERIAL_SOFTEN", ""},       {"*MATERIAL_WIRE", ""},
    {"*MATERIAL_WIREUNITS", ""},         {"*MATERIAL_FACEMAP", ""},
};

// A map line that places the bitmap on the surface, with its neutral value.
struct UvPlacement {
    const char* keyword;
    const char* neutral;
};
constexpr UvPlacement kUvPlacements[] = {
    {"*UVW_U_OFFSET", "0"}, {"*UVW_V_OFFSET", "0"}, {"*UVW_U_TILING", "1"}, {"*UVW_V_TILING", "1"}, {"*UVW_ANGLE", "0"},
};

// The observer of a scan: mirrors the block stack from the events, each
// frame with the part it plays, and tallies per kind of loss. The big lists
// (vertices, faces, texture faces, normals, keys) are passed over by the
// scan: nothing in them is lost on the way to the host that a list of its
// own does not name.
class LossScan final : public AseObserver {
public:
    explicit LossScan(bool unicodeText) : unicodeText_(unicodeText) {}

    static AseScanFilter Filter() {
        AseScanFilter filter;
        filter.numberLines = false;
        for (Kw keyword : {Kw::kMeshVertexList, Kw::kMeshFaceList, Kw::kMeshTVertList, Kw::kMeshTFaceList,
                           Kw::kMeshCFaceList, Kw::kMeshNormals, Kw::kTmAnimation, Kw::kMeshAnimation}) {
            filter.PassOver(keyword);
        }
        return filter;
    }

    void OnRestart() override {}
    void OnCount(const AseObservedLine&, int32_t) override {}
    void OnDropped(const AseObservedLine&, AseDrop) override {}

    void OnLine(const AseObservedLine& line) override {
        const Role role = Top();
        switch (line.keyword) {
            case Kw::kMeshVertCol:
                if (role == Role::kColourList && object_.open) NoteColour(line);
                return;
            case Kw::kNodeName:
                if (role == Role::kNode) NoteName(line);
                return;
            case Kw::kMaterialName:
                if (role == Role::kMaterial) NoteName(line);
                return;
            case Kw::kBitmap:
                if (role == Role::kMap) NoteBitmap(line);
                return;
            case Kw::kUnknown: break;
            default: return;
        }
        if (role == Role::kMaterial) NoteMaterialValue(line);
        if (role == Role::kMap) NotePlacement(line);
    }

    void OnBlockOpen(const AseObservedLine& line) override {
        const Role outer = Top();
        Role role = Role::kOther;
        switch (line.keyword) {
            case Kw::kGeomObject:
                if (frames_.empty()) {
                    role = Role::kNode;
                    object_ = ObjectState{};
                    object_.open = true;
                }
                break;
            case Kw::kHelperObject:
                if (frames_.empty()) role = Role::kNode;
                break;
            case Kw::kLightObject:
                if (frames_.empty()) ++lights_;
                break;
            case Kw::kCameraObject:
                if (frames_.empty()) ++cameras_;
                break;
            case Kw::kMaterial:
            case Kw::kSubMaterial:
                if (outer == Role::kMaterialList || outer == Role::kMaterial) role = Role::kMaterial;
                break;
            case Kw::kMaterialList:
                if (frames_.empty()) role = Role::kMaterialList;
                break;
            case Kw::kMapDiffuse:
            case Kw::kMapOpacity:
            case Kw::kMapSpecular:
            case Kw::kMapBump:
                if (outer == Role::kMaterial) role = Role::kMap;
                break;
            case Kw::kMesh:
                if (outer == Role::kNode && object_.open) role = Role::kMesh;
                break;
            case Kw::kMeshCVertList:
                if (outer == Role::kMesh) role = Role::kColourList;
                break;
            case Kw::kMeshCFaceList:
                if (outer == Role::kMesh) object_.colourFaces = true;
                break;
            case Kw::kMeshMappingChannel:
                if (outer == Role::kMesh) NoteChannel(line);
                break;
            default:
                // A map of another kind, right in a material: the host has
                // no slot for it (a map inside a map is a layer of it).
                if (outer == Role::kMaterial && StartsWithNoCase(line.word, "*MAP_")) {
                    const std::string kind = Upper(line.word);
                    if (otherMapKinds_.emplace(kind, 0).second) otherMapOrder_.push_back(kind);
                    ++otherMapKinds_[kind];
                }
                break;
        }
        frames_.push_back({role, false});
    }

    void OnBlockClose(const AseObservedLine&, Kw, bool stray) override {
        if (stray || frames_.empty()) return;
        const Frame frame = frames_.back();
        const Role role = frame.role;
        frames_.pop_back();
        if (role == Role::kMap && frame.marked) ++placedMaps_;
        if (role == Role::kMaterial && frame.marked) ++materialsWithValues_;
        if (role == Role::kNode && object_.open) {
            if (object_.colourFaces && object_.coloursDiffer) ++averagedObjects_;
            if (object_.otherChannels > 0) {
                ++objectsWithOtherChannels_;
                otherChannels_ += object_.otherChannels;
            }
            object_ = ObjectState{};
        }
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        if (lights_ > 0) lines.push_back(Counted(lights_, "light", "lights") + " (the host has no lights)");
        if (cameras_ > 0) lines.push_back(Counted(cameras_, "camera", "cameras") + " (the host has no cameras)");
        if (averagedObjects_ > 0) {
            lines.push_back("corner colours of " + Counted(averagedObjects_, "object", "objects") +
                            ", averaged per vertex (the host holds one colour a vertex)");
        }
        if (otherChannels_ > 0) {
            lines.push_back(Counted(otherChannels_, "mapping channel", "mapping channels") + " of " +
                            Counted(objectsWithOtherChannels_, "object", "objects") +
                            " beyond the second UV channel (the host takes the first channel numbered 2)");
        }
        if (placedMaps_ > 0) {
            lines.push_back("UV offset, tiling or angle of " + Counted(placedMaps_, "map", "maps") +
                            " (host textures have none)");
        }
        if (folders_ > 0) {
            lines.push_back("the folders of " + Counted(folders_, "texture path", "texture paths") +
                            " (the import looks for the file name beside the file)");
        }
        if (!otherMapOrder_.empty()) {
            // A line names a few kinds; a file of many more is summed up.
            constexpr size_t kNamedKinds = 8;
            int64_t total = 0;
            std::string kinds;
            for (size_t k = 0; k < otherMapOrder_.size(); ++k) {
                const int64_t count = otherMapKinds_.at(otherMapOrder_[k]);
                total += count;
                if (k < kNamedKinds) kinds += (kinds.empty() ? "" : ", ") + otherMapOrder_[k] + " " + std::to_string(count);
            }
            if (otherMapOrder_.size() > kNamedKinds) {
                kinds += " and " + std::to_string(otherMapOrder_.size() - kNamedKinds) + " more kinds";
            }
            lines.push_back(Counted(total, "map", "maps") + " of kinds the host has no slot for (" + kinds +
                            "; it takes diffuse, opacity, bump and specular)");
        }
        if (materialsWithValues_ > 0) {
            std::string keywords;
            for (const std::string& keyword : materialKeywords_) keywords += (keywords.empty() ? "" : ", ") + keyword;
            lines.push_back("values of " + Counted(materialsWithValues_, "material", "materials") +
                            " that the host has no field for (" + keywords + ")");
        }
        if (unmappedNames_ > 0) {
            lines.push_back(Counted(unmappedNames_, "name", "names") +
                            " outside the code page (their characters outside it became '?')");
        }
        return lines;
    }

private:
    enum class Role : uint8_t { kOther, kNode, kMesh, kColourList, kMaterialList, kMaterial, kMap };

    // An open block: its part, and for a material or a map whether a line
    // of its own loses a value.
    struct Frame {
        Role role;
        bool marked;
    };

    // What one geometry object holds that the host may not take.
    struct ObjectState {
        bool open = false;
        bool colourFaces = false;
        bool coloursDiffer = false;
        bool channelTwoTaken = false;
        int64_t otherChannels = 0;
        std::string firstColour;
        bool haveColour = false;
    };

    Role Top() const { return frames_.empty() ? Role::kOther : frames_.back().role; }

    // Corners of one vertex that name colours of different texts are
    // averaged into one; an object whose colours all read the same loses
    // nothing, whichever corners name them.
    void NoteColour(const AseObservedLine& line) {
        std::string_view rest = Trimmed(line.args);
        rest.remove_prefix(FirstToken(rest).size());
        rest = Trimmed(rest);
        if (!object_.haveColour) {
            object_.firstColour = std::string(rest);
            object_.haveColour = true;
        } else if (rest != object_.firstColour) {
            object_.coloursDiffer = true;
        }
    }

    // The first channel numbered 2 of a mesh becomes the second UV
    // channel; every other is left out.
    void NoteChannel(const AseObservedLine& line) {
        std::string_view number = FirstToken(line.args);
        if (!number.empty() && number.front() == '+') number.remove_prefix(1);
        while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
        if (number == "2" && !object_.channelTwoTaken) {
            object_.channelTwoTaken = true;
        } else {
            ++object_.otherChannels;
        }
    }

    // Read from marked text, a name's characters that the code page lacks
    // reached the reader as '?' already.
    void NoteName(const AseObservedLine& line) {
        if (unicodeText_ && ObservedQuotedText(line).find('?') != std::string::npos) ++unmappedNames_;
    }

    void NoteBitmap(const AseObservedLine& line) {
        const std::string path = ObservedQuotedText(line);
        if (unicodeText_ && path.find('?') != std::string::npos) ++unmappedNames_;
        if (!path.empty() && AseFileNameOfPath(path) != path) ++folders_;
    }

    void NoteMaterialValue(const AseObservedLine& line) {
        for (const UnheldMaterialValue& value : kUnheldMaterialValues) {
            if (Upper(line.word) != value.keyword) continue;
            const std::string text = NormalDecimal(line.args);
            if (*value.written != '\0' && text == value.written) return;
            frames_.back().marked = true;
            bool known = false;
            for (const std::string& keyword : materialKeywords_) known = known || keyword == value.keyword;
            if (!known) materialKeywords_.push_back(value.keyword);
            return;
        }
    }

    void NotePlacement(const AseObservedLine& line) {
        for (const UvPlacement& placement : kUvPlacements) {
            if (Upper(line.word) == placement.keyword && NormalDecimal(line.args) != placement.neutral) {
                frames_.back().marked = true;
            }
        }
    }

    bool unicodeText_;
    std::vector<Frame> frames_;
    ObjectState object_;
    int64_t lights_ = 0;
    int64_t cameras_ = 0;
    int64_t averagedObjects_ = 0;
    int64_t objectsWithOtherChannels_ = 0;
    int64_t otherChannels_ = 0;
    int64_t placedMaps_ = 0;
    int64_t folders_ = 0;
    int64_t materialsWithValues_ = 0;
    int64_t unmappedNames_ = 0;
    std::map<std::string, int64_t> otherMapKinds_;
    std::vector<std::string> otherMapOrder_;
    std::vector<std::string> materialKeywords_;
};

// The scan's window: small enough that the bytes copied into it are still
// in the cache when the scanner reaches them (a window of the import's
// size makes that copy go through memory: a third more CPU for the scan).
constexpr uint32_t kScanWindowBytes = 256u << 10;

// True when the file starts with a byte-order mark: the reader converts
// such text to the code page, characters it lacks to '?'.
bool StartsMarked(std::FILE* file) {
    unsigned char head[3] = {};
    const size_t n = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    return (n >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) ||
           (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF);
}

bool IsIdentityPose(const HostBone& bone) {
    const auto near = [](float a, float b) { return std::fabs(a - b) <= 1e-6f; };
    for (int k = 0; k < 3; ++k) {
        if (!near(bone.translation[k], 0.0f) || !near(bone.scale[k], 1.0f) || !near(bone.rotation[k], 0.0f)) return false;
    }
    // q and -q are the same turn.
    return near(std::fabs(bone.rotation[3]), 1.0f);
}

// Shortest text that reads back as the same float.
std::string Number(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// The state of check box `flag` in an export with `choices` on a freshly
// loaded plug-in.
bool Ticked(const DialogChoices& choices, const char* flag) {
    for (int k = 0; k < 10; ++k) {
        if (std::strcmp(kCheckBoxes[k].flag, flag) != 0) continue;
        return choices.checks[k] == DialogChoices::kUnset ? kCheckBoxes[k].dialogDefault : choices.checks[k] == 1;
    }
    return false;
}

}  // namespace

std::vector<std::string> UncarriedContent(const std::u16string& path) {
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) return {};
    LossScan scan(StartsMarked(file));
    JobAllocator allocator;
    JobError error;
    AseDocument doc{};
    doc.allocator = &allocator;
    ResetDocument(doc);
    AseRead* read = CreateAseRead(allocator, error, doc, nullptr);
    bool fileStillRead = false;
    const bool scanned = read != nullptr &&
                         LoadAseSource(*read, file, path.c_str(), u"", AseReadSettings{kScanWindowBytes, false}, fileStillRead) &&
                         ScanAse(*read, scan, LossScan::Filter());
    DestroyAseRead(allocator, read);
    std::fclose(file);
    return scanned ? scan.Lines() : std::vector<std::string>();
}

std::vector<std::string> UnwrittenContent(const HostScene& scene, const DialogChoices& choices) {
    std::vector<std::string> lines;
    const HostContext& c = *scene.context();

    const bool texture = Ticked(choices, "export-texture-coordinates");
    if (!texture || !Ticked(choices, "export-multiple-uvsets")) {
        std::vector<bool> second(static_cast<size_t>(c.objectCount), false);
        for (int g = 0; g < c.faceGroupCount; ++g) {
            for (int f = 0; f < c.faceGroups[g].faceCount; ++f) {
                const HostFace& face = c.faceGroups[g].faces[f];
                if (face.objectIndex < 0 || face.objectIndex >= c.objectCount || face.uvData == nullptr) continue;
                const HostUv* uvs = face.uvData->channels[1].cornerUvs;
                for (int k = 0; uvs != nullptr && k < face.cornerCount; ++k) {
                    if (uvs[k].u != 0.0f || uvs[k].v != 0.0f) second[static_cast<size_t>(face.objectIndex)] = true;
                }
            }
        }
        int64_t objects = 0;
        for (bool has : second) objects += has ? 1 : 0;
        if (objects > 0) {
            lines.push_back("UV channel 2 of " + Counted(objects, "object", "objects") + " (" +
                            (texture ? "" : "--export-texture-coordinates=on ") + "--export-multiple-uvsets=on writes it)");
        }
    }

    const int bones = scene.boneCount();
    int roots = 0;
    bool posed = false;
    for (int b = 0; b < bones; ++b) {
        const HostBone& bone = scene.bones()[b];
        roots += bone.parentIndex < 0 ? 1 : 0;
        posed = posed || bone.parentIndex >= 0 || !IsIdentityPose(bone);
    }
    if (posed) {
        lines.push_back("the bone hierarchy (" + Counted(bones, "bone", "bones") + ", " + Counted(roots, "root", "roots") +
                        "): objects are written in world space");
    }
    for (int a = 0; a < c.animationCount; ++a) {
        const HostAnimation& animation = c.animations[a];
        lines.push_back("animation \"" + Utf16ToUtf8(WideOf(animation.name)) + "\" (" +
                        Counted(animation.trackCount, "track", "tracks") + ", " + Number(animation.frameCount) +
                        " frames at " + Number(animation.frameRate) + " per second)");
    }
    int64_t faceless = 0;
    for (int o = 0; o < c.objectCount; ++o) faceless += c.objects[o].faceCount == 0 ? 1 : 0;
    if (faceless > 0) lines.push_back(Counted(faceless, "object", "objects") + " without faces (a written object needs one)");
    return lines;
}

void PrintLosses(std::ostream& out, const char* kind, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) out << "asehost: " << kind << ": " << line << "\n";
}

}  // namespace asehost
