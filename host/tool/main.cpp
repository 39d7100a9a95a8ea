// asehost: the reference host on the command line. Loads the filter plug-in
// and imports, exports or converts ASE files through it, or shows what its
// registration reported.
//
// Exit codes: 0 success; 1 the host could not do its part (arguments, the
// plug-in module, a file or a JSON scene, memory); 2 the options dialog was
// cancelled; 3 the plug-in reported failure (import, export preparation or
// writing) or its options dialog could not be opened.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace {

// Out of memory where no handler of ours can catch it (the static objects
// of the argument library, built before main, allocate) still ends with a
// message and exit code 1, never an abort. Installed by the first static
// object of this file, before the headers below bring theirs.
[[noreturn]] void OnTerminate() {
    const char* text = "asehost: stopped by an unexpected error\n";
    if (const std::exception_ptr error = std::current_exception()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            text = "asehost: out of memory\n";
        } catch (...) {
        }
    }
    std::fputs(text, stderr);
    std::_Exit(1);
}

const std::terminate_handler gPreviousTerminate = std::set_terminate(OnTerminate);

}  // namespace

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/store/axes.h"
#include "host/tool/batch.h"
#include "host/tool/check.h"
#include "host/tool/loss_report.h"
#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "host/store/text.h"
#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/replace.h"

#ifndef ASEHOST_VERSION
#error "ASEHOST_VERSION is set by the build"
#endif

namespace {

using namespace asehost;

enum : int { kExitOk = 0, kExitHostError = 1, kExitCancelled = 2, kExitPluginFailed = 3 };

// Shortest text that reads back as the same float.
std::string Num(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Vec(const float* values, int count) {
    std::string out = "(";
    for (int k = 0; k < count; ++k) out += (k ? ", " : "") + Num(values[k]);
    return out + ")";
}

std::string Utf8(const DualString& text) {
    return Utf16ToUtf8(WideOf(text));
}

// Control characters as escapes, so that a CR LF at the end shows.
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

// A path from the command line made absolute against the current directory
// as it is now: an import changes the current directory.
std::u16string PathArgument(const std::string& argument) {
    const std::u16string wide = ArgumentToWide(argument);
    std::vector<char16_t> buffer(4096);
    if (!platform::AbsolutePath(wide.c_str(), buffer.data(), buffer.size())) return wide;
    return std::u16string(buffer.data());
}

// asefilter next to the executable, with the suffix its platform uses.
std::u16string DefaultPluginPath() {
    std::vector<char16_t> buffer(4096);
    if (!platform::ExecutablePath(buffer.data(), buffer.size())) return u"asefilter.so";
    std::u16string path(buffer.data());
    const size_t slash = path.find_last_of(u"/\\");
    const std::u16string directory = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    for (char16_t& c : name) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    const bool windows = name.size() > 4 && name.compare(name.size() - 4, 4, u".exe") == 0;
    return DefaultModulePath(directory, windows ? u"asefilter.dll" : u"asefilter.so");
}

bool OpenPlugin(PluginLoader& loader, const std::string& pluginArgument) {
    const std::u16string path = pluginArgument.empty() ? DefaultPluginPath() : PathArgument(pluginArgument);
    std::string error;
    if (!loader.open(path.c_str(), error)) {
        std::cerr << "asehost: " << error << "\n";
        return false;
    }
    return true;
}

// Why an input named on the command line cannot be read, or empty when it
// can: the system's reason for a name it cannot open, and a word of our own
// for a folder or a device.
std::string UnreadableReason(const std::u16string& path) {
    switch (platform::KindOfPath(path.c_str())) {
        case platform::PathKind::kFolder:
            return "it is a folder";
        case platform::PathKind::kOther:
            return "it is not a regular file";
        case platform::PathKind::kNone:
        case platform::PathKind::kFile:
            break;
    }
    errno = 0;
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (!file) return errno != 0 ? std::strerror(errno) : "cannot be opened";
    std::fclose(file);
    return std::string();
}

// The host hands the plug-in a file name of at most 259 units; false, with
// a message, for a longer one.
bool FitsHostFileName(const std::string& argument, const std::u16string& path) {
    if (path.size() < static_cast<size_t>(kDualStringUnits)) return true;
    std::cerr << "asehost: \"" << argument << "\" is " << path.size() << " characters long as a full path; the host's file names hold "
              << (kDualStringUnits - 1) << "\n";
    return false;
}

// Reports an input that cannot be read; false then.
bool CheckInput(const std::string& argument, const std::u16string& path) {
    if (!FitsHostFileName(argument, path)) return false;
    const std::string reason = UnreadableReason(path);
    if (reason.empty()) return true;
    std::cerr << "asehost: cannot open \"" << argument << "\": " << reason << "\n";
    return false;
}

void PrintSummary(std::ostream& out, HostScene& scene) {
    const HostContext& c = *scene.context();
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

    // Distinct vertices per object, counted over its faces: the corners
    // bucketed by object, then each bucket counted against a stamp per
    // vertex (linear, whichever objects share vertices).
    std::vector<int> vertexCounts(static_cast<size_t>(c.objectCount), 0);
    {
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
    }
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
    out << "bones: " << scene.boneCount() << "\n";
    for (int b = 0; b < scene.boneCount(); ++b) {
        const HostBone& bone = scene.bones()[b];
        out << "  [" << b << "] \"" << Utf8(bone.name) << "\" parent " << bone.parentIndex << " translation " << Vec(bone.translation, 3)
                  << " scale " << Vec(bone.scale, 3) << " rotation " << Vec(bone.rotation, 4) << "\n";
    }
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

// True when the file at `path` starts as ASE text does (after blanks and a
// UTF-8 byte-order mark): a scene named where a module was expected.
bool LooksLikeAseText(const std::u16string& path) {
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (file == nullptr) return false;
    char head[64] = {};
    const size_t n = std::fread(head, 1, sizeof head - 1, file);
    std::fclose(file);
    std::string_view text(head, n);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n')) {
        text.remove_prefix(1);
    }
    return !text.empty() && text.front() == '*';
}

// Reports a failed filter call with the plug-in's error text, if any.
void ReportFailure(const HostScene& scene, const char* fallback) {
    const std::string text = ErrorTextOf(*scene.context());
    std::cerr << "asehost: " << (text.empty() ? std::string(fallback) : text) << "\n";
}

// The system's reason for a failed file operation, in words.
std::string FileErrorText(int code) {
    const char16_t* reason = platform::FileErrorReason(code);
    return reason != nullptr ? Utf16ToUtf8(reason) : code != 0 ? std::strerror(code) : "unknown error";
}

// Holds SIGINT, SIGTERM and SIGHUP back while a file is written where the
// system has no unnamed temporary files, so that an interrupt cannot leave
// a named one behind; they act when the write is over.
class InterruptsHeldFor {
public:
    explicit InterruptsHeldFor(const std::u16string& target)
        : held_(platform::ReplacementNeedsBlockedInterrupts(target.c_str())),
          previous_(held_ ? platform::BlockInterrupts() : 0) {}
    ~InterruptsHeldFor() {
        if (held_) platform::UnblockInterrupts(previous_);
    }
    InterruptsHeldFor(const InterruptsHeldFor&) = delete;
    InterruptsHeldFor& operator=(const InterruptsHeldFor&) = delete;

private:
    bool held_;
    uint64_t previous_;
};

// Writes through `write` to standard output ("-") or to the file named by
// `argument`, which is replaced only whole and keeps what it is (links,
// mode, owner); `write` may leave a reason in `error`. False, with a
// message naming the file and the reason, when anything of it failed.
template <typename Write>
bool WriteOutput(const std::string& argument, Write write, std::string& error) {
    if (argument == "-") {
        std::cout.flush();
        const bool ok = write(stdout) && std::fflush(stdout) == 0 && !std::ferror(stdout);
        if (!ok) std::cerr << "asehost: cannot write to standard output" << (error.empty() ? "" : ": " + error) << "\n";
        return ok;
    }
    const std::u16string path = PathArgument(argument);
    const InterruptsHeldFor interrupts(path);
    platform::FileReplacement replacement;
    bool ok = platform::BeginFileReplacement(path.c_str(), "wb", replacement);
    if (ok) {
        errno = 0;
        ok = write(replacement.stream);
        if (!ok && error.empty()) error = FileErrorText(errno);
        ok = ok && platform::CommitFileReplacement(replacement);
    }
    if (!ok && error.empty()) error = FileErrorText(replacement.error);
    platform::AbandonFileReplacement(replacement);
    if (!ok) std::cerr << "asehost: cannot write \"" << argument << "\": " << error << "\n";
    return ok;
}

bool WriteOutput(const std::string& argument, const std::string& text) {
    std::string error;
    return WriteOutput(argument, [&](std::FILE* out) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); },
                       error);
}

// What the plug-in's export is asked to write over, checked before anything
// is read: not standard output, not the input itself, and an .ase file
// unless the user insists.
bool CheckOutput(const std::string& input, const std::string& output, bool force) {
    if (output == "-") {
        std::cerr << "asehost: the plug-in writes files only; name an output file instead of \"-\"\n";
        return false;
    }
    const std::u16string in = PathArgument(input);
    const std::u16string out = PathArgument(output);
    if (!FitsHostFileName(output, out)) return false;
    if (force) return true;
    if (in == out || platform::IsSameFile(in.c_str(), out.c_str())) {
        std::cerr << "asehost: the output \"" << output << "\" is the input \"" << input << "\"; --force writes over it\n";
        return false;
    }
    std::u16string extension = out.size() >= 4 ? out.substr(out.size() - 4) : std::u16string();
    for (char16_t& c : extension) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    if (extension != u".ase") {
        std::cerr << "asehost: the output \"" << output << "\" does not end in .ase, but the plug-in writes ASE text; --force writes it anyway\n";
        return false;
    }
    return true;
}

// Why the export's output `path` cannot be written: the plug-in's own text
// for that ("Could not open file for writing.") has no room for the path or
// the reason, so the host looks for them itself.
void ExplainUnwritableOutput(const std::string& argument, const std::u16string& path) {
    platform::FileReplacement probe;
    if (!platform::BeginFileReplacement(path.c_str(), "wb", probe)) {
        std::cerr << "asehost: cannot write \"" << argument << "\": " << FileErrorText(probe.error) << "\n";
    }
    platform::AbandonFileReplacement(probe);
}

// `notCarried`: what the import that made `scene` left out of its file,
// listed with what the written file leaves out unless `quiet`.
int RunExport(const PluginLoader& loader, HostScene& scene, const std::string& argument, const DialogChoices& choices,
              bool quiet, const std::vector<std::string>& notCarried = {}) {
    scene.setOperationLogEnabled(false);
    const std::u16string path = PathArgument(argument);
    ExportOutcome outcome;
    {
        const InterruptsHeldFor interrupts(path);
        outcome = ExportScene(loader, scene, path.c_str(), choices);
    }
    if (scene.droppedFaceCount() > 0) {
        std::cerr << "asehost: dropped " << scene.droppedFaceCount() << " faces with fewer than three corners\n";
    }
    switch (outcome) {
        case ExportOutcome::Written:
            if (!quiet) {
                PrintLosses(std::cerr, "not carried", notCarried);
                PrintLosses(std::cerr, "not written", UnwrittenContent(scene, choices));
            }
            return kExitOk;
        case ExportOutcome::Cancelled:
            std::cerr << "asehost: export cancelled\n";
            return kExitCancelled;
        case ExportOutcome::DialogNotShown:
            std::cerr << "asehost: the export options dialog could not be opened\n";
            return kExitPluginFailed;
        case ExportOutcome::PrepareFailed:
            ReportFailure(scene, "export preparation failed");
            return kExitPluginFailed;
        case ExportOutcome::WriteFailed:
            ReportFailure(scene, "export failed");
            if (ErrorTextOf(*scene.context()) == "Could not open file for writing.") ExplainUnwritableOutput(argument, path);
            return kExitPluginFailed;
    }
    return kExitPluginFailed;
}

// The angle the options dialog makes of a typed text: its leading decimal
// number (0 without one, as _wtof reads it) narrowed to a float and held to
// 0..180; an empty text gives 35. `plain` tells whether that is the number
// the text spells.
float DialogAngle(const std::string& text, bool& plain) {
    plain = false;
    if (text.empty()) return 35.0f;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    bool any = i > digits;
    if (i < text.size() && text[i] == '.') {
        const size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        any = any || i > fraction;
    }
    if (!any) return 0.0f;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const size_t exponent = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j > exponent) i = j;
    }
    double value = 0.0;
    const char* first = text.data() + start + (text[start] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text.data() + i, value);
    if (result.ec == std::errc::result_out_of_range) value = text[start] == '-' ? -HUGE_VAL : HUGE_VAL;
    const float narrowed = static_cast<float>(value);
    const float angle = narrowed < 0.0f ? 0.0f : (narrowed > 180.0f ? 180.0f : narrowed);
    plain = i == text.size() && angle == narrowed && result.ec == std::errc();
    return angle;
}

// The exit codes of every command but check, which has its own.
constexpr const char* kExitCodesText =
    "Exit codes: 0 done; 1 the host could not do its part; 2 the export dialog was cancelled; 3 the plug-in reported a failure.\n";

// The smoothing list's entries by their command-line names, in list order.
const char* const kSmoothingNames[] = {"all", "group", "angle", "scene"};
constexpr int kSceneSmoothing = 3;

// Whether the host's second UV channel holds anything but the (0, 0) every
// corner starts with: the import filled it from a second mapping channel.
bool HasSecondUvChannel(const HostContext& context) {
    if (context.uvStore == nullptr) return false;
    const HostUvChannel& channel = context.uvStore->channels[1];
    for (int i = 0; channel.uvs != nullptr && i < channel.count; ++i) {
        if (channel.uvs[i].u != 0.0f || channel.uvs[i].v != 0.0f) return true;
    }
    return false;
}

// The dialog's controls as command-line options.
struct DialogOptions {
    std::string checks[10];
    std::string smoothing;
    std::string angle;
    bool cancel = false;
    bool quiet = false;
    bool force = false;
    bool dialogDefaults = false;

    void Add(CLI::App& command) {
        for (int k = 0; k < 10; ++k) {
            command.add_option(std::string("--") + kCheckBoxes[k].flag, checks[k], "Tick (on) or clear (off) the check box")
                ->check(CLI::IsMember({"on", "off"}))
                ->default_str(kCheckBoxes[k].dialogDefault ? "on" : "off");
        }
        command.add_option("--smoothing", smoothing, "Smoothing list selection (scene: keep the scene's smoothing groups and write normals per group)")
            ->check(CLI::IsMember(std::vector<std::string>(std::begin(kSmoothingNames), std::end(kSmoothingNames))))
            ->default_str("all");
        command.add_option("--angle", angle, "Text typed into the angle edit, used with --smoothing angle (0 to 180 degrees)")->default_str("35.000");
        command.add_flag("--cancel", cancel, "Press Cancel instead of OK");
        command.add_flag("--quiet", quiet, "Do not list what the host or the written file leaves out");
        command.add_flag("--force", force, "Write over the input or to a name that does not end in .ase");
        command.footer(std::string("Defaults shown are the options dialog's state when the plug-in is loaded.\n\n") + kExitCodesText);
    }

    // The choices for the dialog; warns about an angle the dialog will read
    // otherwise than it is written, or not use.
    DialogChoices Choices(const CLI::App& command) const {
        DialogChoices choices;
        for (int k = 0; k < 10; ++k) {
            if (!checks[k].empty()) choices.checks[k] = checks[k] == "on" ? 1 : 0;
        }
        for (int k = 0; k < static_cast<int>(std::size(kSmoothingNames)); ++k) {
            if (smoothing == kSmoothingNames[k]) choices.smoothing = k;
        }
        if (command.count("--angle") > 0) {
            choices.typeAngle = true;
            choices.angleText = ArgumentToWide(angle);
            bool plain = false;
            const float value = DialogAngle(angle, plain);
            if (!plain) {
                char text[32];
                std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
                std::cerr << "asehost: warning: the dialog reads the angle \"" << angle << "\" as " << text << "\n";
            }
            if (smoothing != "angle") std::cerr << "asehost: warning: --angle is used only with --smoothing angle\n";
        }
        choices.cancel = cancel;
        return choices;
    }

    // convert's own defaults, which keep what the imported `scene` holds:
    // the scene's smoothing groups, and the second UV channel when it has
    // one. --dialog-defaults leaves the dialog's; an option given wins.
    void AddConvertDefaults(CLI::App& command) {
        command.add_flag("--dialog-defaults", dialogDefaults,
                         "Start from the dialog's defaults instead of convert's (--smoothing scene, and "
                         "--export-multiple-uvsets=on for a file with a second mapping channel)");
        command.footer(
            "Defaults shown are the options dialog's state when the plug-in is loaded; convert itself, unless "
            "--dialog-defaults is given, uses --smoothing scene and, for a file with a second mapping channel, "
            "--export-multiple-uvsets=on.\n\n" +
            std::string(kExitCodesText));
    }
    // The options as a batch child is given them, so that every file starts
    // from the command line's choices (never from the dialog state a
    // previous file left).
    std::vector<std::u16string> ChildArguments(const CLI::App& command) const {
        std::vector<std::u16string> out;
        auto add = [&out](const std::string& option, const std::string& value) {
            out.push_back(ArgumentToWide(option));
            out.push_back(ArgumentToWide(value));
        };
        for (int k = 0; k < 10; ++k) {
            if (!checks[k].empty()) add(std::string("--") + kCheckBoxes[k].flag, checks[k]);
        }
        if (!smoothing.empty()) add("--smoothing", smoothing);
        if (command.count("--angle") > 0) add("--angle", angle);
        for (const auto& [flag, on] : {std::pair{"--cancel", cancel}, {"--quiet", quiet}, {"--force", force}, {"--dialog-defaults", dialogDefaults}}) {
            if (on) out.push_back(ArgumentToWide(flag));
        }
        return out;
    }

    void ApplyConvertDefaults(const HostScene& scene, DialogChoices& choices) const {
        if (dialogDefaults) return;
        if (smoothing.empty()) choices.smoothing = kSceneSmoothing;
        for (int k = 0; k < 10; ++k) {
            if (std::strcmp(kCheckBoxes[k].flag, "export-multiple-uvsets") == 0 && checks[k].empty() &&
                HasSecondUvChannel(*scene.context())) {
                choices.checks[k] = 1;
            }
        }
    }
};

const char* const kCommands[] = {"info", "import", "export", "convert", "check", "help"};

// The options every batch command takes: its inputs' output folder (not
// check), children at once, and the hidden flag of a batch child.
struct BatchOptions {
    std::string outputDir;
    int jobs = 1;
    bool child = false;

    void Add(CLI::App& command, bool outputs) {
        if (outputs) {
            command.add_option("--output-dir", outputDir,
                               "Take every argument as an input (files, and folders walked for .ase files) and write the outputs, "
                               "named after them and with folders mirrored, into this folder");
        }
        command.add_option("-j,--jobs", jobs, "Files worked on at once, each by an asehost process of its own")
            ->check(CLI::Range(1, 64))
            ->capture_default_str();
        command.add_flag(kBatchChildFlag, child, "One file of a batch run")->group("");
    }

    // The request's common part; `plugin` and the command's own options go
    // to every child.
    BatchRequest Request(const std::vector<std::string>& inputs, const std::string& plugin) const {
        BatchRequest request;
        request.inputs = inputs;
        request.outputDir = outputDir;
        request.jobs = jobs;
        if (!plugin.empty()) request.childOptions = {u"--plugin", PathArgument(plugin)};
        request.childOptions.push_back(ArgumentToWide(kBatchChildFlag));
        return request;
    }
};

// The objects and faces of an imported scene, for a batch child's counts.
std::string SceneCountsLine(HostScene& scene) {
    const HostContext& c = *scene.context();
    int64_t faces = 0;
    for (int g = 0; g < c.faceGroupCount; ++g) faces += c.faceGroups[g].faceCount;
    return CountsLine(c.objectCount, faces, 0);
}

// check: one file as it always was (its JSON object, or its findings and
// summary), several files or a folder as a batch of children. A batch
// child ends with its counts line.
int RunCheck(const std::vector<std::string>& files, bool json, bool notes, const BatchOptions& batch) {
    // One name that is no folder and no wildcard (Windows) is one file.
    const bool single = files.size() == 1 && (batch.child || (platform::KindOfPath(PathArgument(files[0]).c_str()) != platform::PathKind::kFolder &&
                                                               platform::ExpandWildcards(ArgumentToWide(files[0])).front() == ArgumentToWide(files[0])));
    if (!single) {
        BatchRequest request = batch.Request(files, std::string());
        if (json) request.childOptions.push_back(u"--json");
        if (notes) request.childOptions.push_back(u"--notes");
        request.json = json;
        return RunBatchCheck(request);
    }
    const std::string& file = files[0];
    const std::u16string path = PathArgument(file);
    const CheckReport report = CheckInput(file, path) ? CheckAseFile(path, file) : CheckReport();
    if (!report.opened) {
        if (!report.openError.empty()) std::cerr << "asehost: " << file << ": " << report.openError << "\n";
        if (json) WriteOutput("-", UnreadableCheckJson(file, report.openError.empty() ? UnreadableReason(path) : report.openError));
        return kExitHostError;
    }
    std::string text = json ? FormatCheckJson(report, notes) : FormatCheckText(report, notes);
    if (batch.child) text += CountsLine(report.errors, report.warnings, report.notes);
    if (!WriteOutput("-", text)) return kExitHostError;
    return CheckExitCode(report);
}

int Run(int argc, char** argv) {
    std::vector<std::string> arguments;
    if (!platform::CommandLineArguments(argc, argv, arguments)) {
        std::cerr << "asehost: cannot read the command line\n";
        return kExitHostError;
    }

    CLI::App app{"asehost " ASEHOST_VERSION ": the reference host of the ASE filter plug-in"};
    app.name("asehost");
    // Windows paths start with '/' too: only '-' starts an option.
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", "asehost " ASEHOST_VERSION);
    app.footer(kExitCodesText);

    std::string infoModule, infoPlugin;
    CLI::App* info = app.add_subcommand("info", "Show what the plug-in's registration reported");
    CLI::Option* infoModuleOption = info->add_option("PLUGIN_MODULE", infoModule, "Plug-in module (default: next to asehost)");
    info->add_option("--plugin", infoPlugin, "Plug-in module")->excludes(infoModuleOption);

    std::vector<std::string> importFiles;
    std::string importPlugin, importOutput = "-";
    bool importJson = false, importQuiet = false;
    BatchOptions importBatch;
    CLI::App* import = app.add_subcommand("import", "Import an ASE file and print the scene, or import --json several into a folder");
    import->add_option("FILE", importFiles, "ASE file; with --json --output-dir, files and folders")->required();
    import->add_flag("--json", importJson, "Print the whole scene as JSON");
    import->add_flag("--quiet", importQuiet, "Do not list what the host's records leave out of the file");
    import->add_option("-o,--output", importOutput, "Where to print (- is standard output)")->capture_default_str();
    import->add_option("--plugin", importPlugin, "Plug-in module");
    importBatch.Add(*import, true);

    std::string exportScene, exportOutput, exportPlugin;
    DialogOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand("export", "Export a JSON scene to an ASE file");
    exportCommand->add_option("SCENE", exportScene, "Scene in JSON form")->required();
    exportCommand->add_option("OUT", exportOutput, "ASE file to write")->required();
    exportCommand->add_option("--plugin", exportPlugin, "Plug-in module");
    exportOptions.Add(*exportCommand);

    std::vector<std::string> convertPaths;
    std::string convertPlugin;
    bool pluginAxes = false;
    DialogOptions convertOptions;
    BatchOptions convertBatch;
    CLI::App* convert = app.add_subcommand("convert", "Import an ASE file and export it again (IN OUT), or many into a folder");
    convert->add_option("IN OUT", convertPaths, "ASE file to read and ASE file to write; with --output-dir, files and folders to read")
        ->required();
    convert->add_option("--plugin", convertPlugin, "Plug-in module");
    convert->add_flag("--plugin-axes", pluginAxes, "Write what the plug-in gives, (x, -z, y) of the file's (x, y, z), instead of the file's own orientation");
    convertOptions.Add(*convert);
    convertOptions.AddConvertDefaults(*convert);
    convertBatch.Add(*convert, true);

    std::vector<std::string> checkFiles;
    bool checkJson = false, checkNotes = false;
    BatchOptions checkBatch;
    CLI::App* check = app.add_subcommand(
        "check", "Check ASE files with the plug-in's reader: exit 0 clean, 4 warnings, 3 the import would fail");
    check->add_option("FILE", checkFiles, "ASE files, and folders walked for .ase files")->required();
    check->footer("Exit codes: 0 clean (notes only); 4 warnings; 3 the import would fail; 1 a file cannot be read. Several files: the worst, 1 over 3 over 4 over 0.\n");
    check->add_flag("--json", checkJson, "Print the findings as JSON (one document for several files)");
    check->add_flag("--notes", checkNotes, "List the notes too, not only count them");
    checkBatch.Add(*check, false);

    std::string helpTopic;
    CLI::App* help = app.add_subcommand("help", "Show this help, or a command's");
    help->add_option("COMMAND", helpTopic, "Command to explain")->check(CLI::IsMember({"info", "import", "export", "convert", "check", "help"}));

    if (arguments.size() < 2) {
        std::cerr << app.help() << "asehost: no command given\n";
        return kExitHostError;
    }
    const std::string& first = arguments[1];
    if (!first.empty() && first[0] != '-' && std::find(std::begin(kCommands), std::end(kCommands), first) == std::end(kCommands)) {
        std::cerr << "asehost: unknown command \"" << first << "\"; the commands are info, import, export, convert, check and help (asehost help)\n";
        return kExitHostError;
    }

    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitHostError;
    }

    if (*check) return RunCheck(checkFiles, checkJson, checkNotes, checkBatch);
    if (*help) {
        // app.help() would explain the selected command, "help" itself.
        const CLI::App* topic = helpTopic.empty() ? &app : app.get_subcommand(helpTopic);
        std::cout << app.get_formatter()->make_help(topic, topic == &app ? std::string("asehost") : "asehost " + topic->get_name(), CLI::AppFormatMode::Normal);
        return kExitOk;
    }
    if (app.get_subcommands().empty()) {
        std::cerr << app.help() << "asehost: no command given\n";
        return kExitHostError;
    }

    PluginLoader loader;
    HostScene scene;

    if (*info) {
        const std::string& named = infoPlugin.empty() ? infoModule : infoPlugin;
        const std::u16string path = named.empty() ? DefaultPluginPath() : PathArgument(named);
        std::string error;
        const bool opened = loader.open(path.c_str(), error);
        if (!opened && loader.registerCallCount() == 0) {
            std::cerr << "asehost: " << error << "\n";
            if (LooksLikeAseText(path)) {
                std::cerr << "asehost: \"" << named << "\" is an ASE scene, not a plug-in module: info shows what a module "
                             "registers; to read the scene, run asehost import (or check) \"" << named << "\"\n";
            }
            return kExitHostError;
        }
        const PluginInfo& record = loader.info();
        std::cout << "module: " << Utf16ToUtf8(path) << "\n";
        std::cout << "interface version: " << loader.pluginVersion() << "\n";
        std::cout << "description: \"" << Visible(Utf8(record.description)) << "\"\n";
        std::cout << "version: \"" << Visible(Utf8(record.versionText)) << "\"\n";
        std::cout << "file pattern: \"" << Visible(Utf8(record.filePattern)) << "\"\n";
        std::cout << "default extension: \"" << Visible(Utf8(loader.extension())) << "\"\n";
        char id[64];
        std::snprintf(id, sizeof id, "%08X-%08X-%08X-%08X", record.filterId[0], record.filterId[1], record.filterId[2], record.filterId[3]);
        std::cout << "filter id: " << id << "\n";
        std::cout << "registration codes: " << record.registrationCodeA << ", " << record.registrationCodeB << "\n";
        if (!opened) {
            std::cerr << "asehost: " << error << "\n";
            return kExitPluginFailed;
        }
        return kExitOk;
    }

    if (*import) {
        if (!importBatch.outputDir.empty() || importFiles.size() > 1) {
            if (!importJson || importBatch.outputDir.empty() || importOutput != "-") {
                std::cerr << "asehost: several inputs are imported with --json --output-dir DIR (and no --output)\n";
                return kExitHostError;
            }
            return RunBatchImport(importBatch.Request(importFiles, importPlugin));
        }
        const std::string& importFile = importFiles.front();
        const std::u16string path = PathArgument(importFile);
        if (!CheckInput(importFile, path)) return kExitHostError;
        if (importOutput != "-") {
            const std::u16string output = PathArgument(importOutput);
            if (output == path || platform::IsSameFile(output.c_str(), path.c_str())) {
                std::cerr << "asehost: the output \"" << importOutput << "\" is the input \"" << importFile << "\"; name another file\n";
                return kExitHostError;
            }
        }
        if (!OpenPlugin(loader, importPlugin)) return kExitHostError;
        scene.setOperationLogEnabled(false);
        if (ImportFile(loader, scene, path.c_str()) != 1) {
            ReportFailure(scene, "import failed");
            return kExitPluginFailed;
        }
        if (!importQuiet && !importBatch.child) PrintLosses(std::cerr, "not carried", UncarriedContent(path));
        if (importJson) {
            std::string error;
            const auto writeJson = [&](std::FILE* out) {
                errno = 0;
                const bool written = scene.writeJson(out, error);
                // The system's reason says more than the writer's own words.
                if (!written && errno != 0 && error == "write failed") error = FileErrorText(errno);
                return written;
            };
            if (!WriteOutput(importOutput, writeJson, error)) return kExitHostError;
            if (importBatch.child) std::cout << SceneCountsLine(scene);
            return kExitOk;
        }
        std::ostringstream summary;
        PrintSummary(summary, scene);
        return WriteOutput(importOutput, summary.str()) ? kExitOk : kExitHostError;
    }

    if (*exportCommand) {
        if (!CheckOutput(exportScene, exportOutput, exportOptions.force)) return kExitHostError;
        if (!CheckInput(exportScene, PathArgument(exportScene))) return kExitHostError;
        std::string error;
        if (!scene.loadJsonFile(PathArgument(exportScene).c_str(), error)) {
            std::cerr << "asehost: " << exportScene << ": " << error << "\n";
            return kExitHostError;
        }
        if (!OpenPlugin(loader, exportPlugin)) return kExitHostError;
        const DialogChoices choices = exportOptions.Choices(*exportCommand);
        return RunExport(loader, scene, exportOutput, choices, exportOptions.quiet);
    }

    if (*convert) {
        if (!convertBatch.outputDir.empty()) {
            BatchRequest request = convertBatch.Request(convertPaths, convertPlugin);
            const std::vector<std::u16string> options = convertOptions.ChildArguments(*convert);
            request.childOptions.insert(request.childOptions.end(), options.begin(), options.end());
            if (pluginAxes) request.childOptions.push_back(u"--plugin-axes");
            return RunBatchConvert(request);
        }
        if (convertPaths.size() != 2) {
            std::cerr << "asehost: convert takes IN OUT, two files; to convert several, name an output folder with --output-dir DIR\n";
            return kExitHostError;
        }
        const std::string& convertInput = convertPaths[0];
        const std::string& convertOutput = convertPaths[1];
        const std::u16string path = PathArgument(convertInput);
        if (!CheckInput(convertInput, path)) return kExitHostError;
        if (!CheckOutput(convertInput, convertOutput, convertOptions.force)) return kExitHostError;
        DialogChoices choices = convertOptions.Choices(*convert);
        if (!OpenPlugin(loader, convertPlugin)) return kExitHostError;
        scene.setOperationLogEnabled(false);
        if (ImportFile(loader, scene, path.c_str()) != 1) {
            ReportFailure(scene, "import failed");
            return kExitPluginFailed;
        }
        convertOptions.ApplyConvertDefaults(scene, choices);
        if (!pluginAxes) TurnForExport(scene);
        // A batch child's lines would break its file's one line.
        const bool quiet = convertOptions.quiet || convertBatch.child;
        const int code = RunExport(loader, scene, convertOutput, choices, quiet, quiet ? std::vector<std::string>() : UncarriedContent(path));
        if (code == kExitOk && convertBatch.child) std::cout << SceneCountsLine(scene);
        return code;
    }
    return kExitHostError;
}

}  // namespace

int main(int argc, char** argv) {
    // Out of memory anywhere in the host (start-up, the file reader, the
    // JSON writer) ends with a message, never an abort. The texts are
    // written without allocating.
    try {
        const int code = Run(argc, argv);
        // A full disk or a closed pipe behind standard output is a failure
        // too, not a silent half of the output.
        std::cout.flush();
        if (!std::cout && code == kExitOk) {
            std::fputs("asehost: cannot write to standard output\n", stderr);
            return kExitHostError;
        }
        return code;
    } catch (const std::bad_alloc&) {
        std::fputs("asehost: out of memory\n", stderr);
    } catch (const std::exception& error) {
        std::fputs("asehost: ", stderr);
        std::fputs(error.what(), stderr);
        std::fputs("\n", stderr);
    }
    return kExitHostError;
}
