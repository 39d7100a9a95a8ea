// asehost: the reference host on the command line. Loads the filter plug-in
// and imports, exports or converts ASE files through it, or shows what its
// registration reported.
//
// Exit codes: 0 success; 1 the host could not do its part (arguments, the
// plug-in module, a file or a JSON scene); 2 the options dialog was
// cancelled; 3 the plug-in reported failure (import, export preparation or
// writing) or its options dialog could not be opened.
#include <charconv>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/check.h"
#include "host/plugin_loader.h"
#include "host/scene.h"
#include "host/text.h"
#include "platform/platform.h"

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
    const std::u16string wide = ArgumentToWide(argument.c_str());
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
    return directory + (windows ? u"asefilter.dll" : u"asefilter.so");
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

bool ReadWholeFile(const std::string& argument, std::string& out) {
    const std::u16string path = PathArgument(argument);
    std::FILE* file = platform::OpenFile(path.c_str(), "rb");
    if (!file) return false;
    out.clear();
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

void PrintSummary(HostScene& scene) {
    const HostContext& c = *scene.context();
    static const char* const kChannels[kTextureChannels] = {"color", "opacity", "bump", "specular"};
    std::cout << "materials: " << c.materialCount << "\n";
    for (int m = 0; m < c.materialCount; ++m) {
        const HostMaterial& material = c.materials[m];
        std::cout << "  [" << m << "] \"" << Utf8(material.name) << "\" shininess " << Num(material.shininess) << " opacity "
                  << Num(material.opacity) << ((material.flags & kMaterialTwoSided) ? " two-sided" : "") << "\n";
        for (int t = 0; t < kTextureChannels; ++t) {
            const HostTexture* texture = material.textures[t];
            if (!texture) continue;
            std::cout << "      " << kChannels[t] << ": ";
            if (texture->kind == kTextureMultiply) {
                const HostLayeredTexture& layered = *reinterpret_cast<const HostLayeredTexture*>(texture);
                std::cout << "multiply, layer flags " << int(layered.layerFlags);
                if (layered.layers) {
                    for (int k = 0; k < 2; ++k) std::cout << " \"" << Utf16ToUtf8(layered.layers[k].path) << "\"";
                }
                std::cout << "\n";
            } else {
                std::cout << "image \"" << Utf8(texture->path) << "\"" << ((texture->flags & kTexturePathSet) ? "" : " (path not set)") << "\n";
            }
        }
    }

    // Distinct vertices per object, counted over its faces.
    std::vector<int> vertexCounts(static_cast<size_t>(c.objectCount), 0);
    {
        std::vector<int> lastObject(static_cast<size_t>(c.vertexCount), -1);
        std::set<std::pair<int, int>> pairs;
        for (int g = 0; g < c.faceGroupCount; ++g) {
            for (int f = 0; f < c.faceGroups[g].faceCount; ++f) {
                const HostFace& face = c.faceGroups[g].faces[f];
                if (face.objectIndex < 0 || face.objectIndex >= c.objectCount) continue;
                for (int k = 0; k < face.cornerCount; ++k) {
                    const int v = face.vertexIndices[k];
                    if (v < 0 || v >= c.vertexCount) continue;
                    // Most vertices belong to one object: a cheap test first.
                    if (lastObject[static_cast<size_t>(v)] == face.objectIndex) continue;
                    lastObject[static_cast<size_t>(v)] = face.objectIndex;
                    if (pairs.insert({face.objectIndex, v}).second) ++vertexCounts[static_cast<size_t>(face.objectIndex)];
                }
            }
        }
    }
    std::cout << "vertices: " << c.vertexCount << "\n";
    std::cout << "objects: " << c.objectCount << "\n";
    for (int o = 0; o < c.objectCount; ++o) {
        const HostObject& object = c.objects[o];
        std::cout << "  [" << o << "] \"" << Utf8(object.name) << "\" vertices " << vertexCounts[static_cast<size_t>(o)] << " faces "
                  << object.faceCount << " materials";
        for (int r = 0; r < object.materialRefCount; ++r) std::cout << " " << object.materialRefs[r].materialIndex;
        std::cout << "\n";
    }
    int faceTotal = 0;
    for (int g = 0; g < c.faceGroupCount; ++g) faceTotal += c.faceGroups[g].faceCount;
    std::cout << "face groups: " << c.faceGroupCount << ", faces " << faceTotal << ", UVs " << c.uvStore->channels[0].count << " + "
              << c.uvStore->channels[1].count << "\n";
    std::cout << "bones: " << scene.boneCount() << "\n";
    for (int b = 0; b < scene.boneCount(); ++b) {
        const HostBone& bone = scene.bones()[b];
        std::cout << "  [" << b << "] \"" << Utf8(bone.name) << "\" parent " << bone.parentIndex << " translation " << Vec(bone.translation, 3)
                  << " scale " << Vec(bone.scale, 3) << " rotation " << Vec(bone.rotation, 4) << "\n";
    }
    std::cout << "animations: " << c.animationCount << "\n";
    for (int a = 0; a < c.animationCount; ++a) {
        const HostAnimation& animation = c.animations[a];
        std::cout << "  [" << a << "] \"" << Utf8(animation.name) << "\" frames " << Num(animation.frameCount) << " at " << Num(animation.frameRate)
                  << " per second, tracks " << animation.trackCount << "\n";
        for (int t = 0; t < animation.trackCount; ++t) {
            const HostTrack& track = animation.tracks[t];
            std::cout << "      track " << t << ": position " << track.positionKeyCount << ", rotation " << track.rotationKeyCount << ", scale "
                      << track.scaleKeyCount << " keys\n";
        }
    }
}

// Reports a failed filter call with the plug-in's error text, if any.
void ReportFailure(const HostScene& scene, const char* fallback) {
    const std::string text = ErrorTextOf(*scene.context());
    std::cerr << "asehost: " << (text.empty() ? std::string(fallback) : text) << "\n";
}

int RunExport(const PluginLoader& loader, HostScene& scene, const std::u16string& path, const DialogChoices& choices) {
    scene.setOperationLogEnabled(false);
    const ExportOutcome outcome = ExportScene(loader, scene, path.c_str(), choices);
    if (scene.droppedFaceCount() > 0) {
        std::cerr << "asehost: dropped " << scene.droppedFaceCount() << " faces with fewer than three corners\n";
    }
    switch (outcome) {
        case ExportOutcome::Written:
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
            return kExitPluginFailed;
    }
    return kExitPluginFailed;
}

// The dialog's controls as command-line options.
struct DialogOptions {
    std::string checks[10];
    std::string smoothing;
    std::string angle;
    bool angleGiven = false;
    bool cancel = false;

    void Add(CLI::App& command) {
        for (int k = 0; k < 10; ++k) {
            command.add_option(std::string("--") + kCheckBoxes[k].flag, checks[k], "Tick (on) or clear (off) the check box")
                ->check(CLI::IsMember({"on", "off"}));
        }
        command.add_option("--smoothing", smoothing, "Smoothing list selection")->check(CLI::IsMember({"all", "group", "angle"}));
        command.add_option("--angle", angle, "Text typed into the angle edit");
        command.add_flag("--cancel", cancel, "Press Cancel instead of OK");
    }

    DialogChoices Choices(const CLI::App& command) const {
        DialogChoices choices;
        for (int k = 0; k < 10; ++k) {
            if (!checks[k].empty()) choices.checks[k] = checks[k] == "on" ? 1 : 0;
        }
        if (smoothing == "all") choices.smoothing = 0;
        if (smoothing == "group") choices.smoothing = 1;
        if (smoothing == "angle") choices.smoothing = 2;
        if (command.count("--angle") > 0) {
            choices.typeAngle = true;
            choices.angleText = ArgumentToWide(angle.c_str());
        }
        choices.cancel = cancel;
        return choices;
    }
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"asehost: the reference host of the ASE filter plug-in"};
    app.require_subcommand(1);

    std::string infoPlugin;
    CLI::App* info = app.add_subcommand("info", "Show what the plug-in's registration reported");
    info->add_option("PLUGIN_MODULE", infoPlugin, "Plug-in module (default: next to asehost)");

    std::string importFile, importPlugin;
    bool importJson = false;
    CLI::App* import = app.add_subcommand("import", "Import an ASE file and print the scene");
    import->add_option("FILE", importFile, "ASE file")->required();
    import->add_flag("--json", importJson, "Print the whole scene as JSON");
    import->add_option("--plugin", importPlugin, "Plug-in module");

    std::string exportScene, exportOutput, exportPlugin;
    DialogOptions exportOptions;
    CLI::App* exportCommand = app.add_subcommand("export", "Export a JSON scene to an ASE file");
    exportCommand->add_option("SCENE", exportScene, "Scene in JSON form")->required();
    exportCommand->add_option("OUT", exportOutput, "ASE file to write")->required();
    exportCommand->add_option("--plugin", exportPlugin, "Plug-in module");
    exportOptions.Add(*exportCommand);

    std::string convertInput, convertOutput, convertPlugin;
    DialogOptions convertOptions;
    CLI::App* convert = app.add_subcommand("convert", "Import an ASE file and export it again");
    convert->add_option("IN", convertInput, "ASE file to read")->required();
    convert->add_option("OUT", convertOutput, "ASE file to write")->required();
    convert->add_option("--plugin", convertPlugin, "Plug-in module");
    convertOptions.Add(*convert);

    std::string checkFile;
    bool checkJson = false;
    CLI::App* check = app.add_subcommand(
        "check", "Check an ASE file with the plug-in's reader: exit 0 clean, 4 warnings, 3 the import would fail");
    check->add_option("FILE", checkFile, "ASE file")->required();
    check->add_flag("--json", checkJson, "Print the findings as JSON");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitHostError;
    }

    if (*check) {
        const CheckReport report = CheckAseFile(ArgumentToWide(checkFile.c_str()), checkFile);
        if (!report.opened) {
            std::cerr << "asehost: " << checkFile << ": " << report.openError << "\n";
            return kExitHostError;
        }
        std::cout << (checkJson ? FormatCheckJson(report) : FormatCheckText(report));
        return CheckExitCode(report);
    }

    PluginLoader loader;
    HostScene scene;

    if (*info) {
        const std::u16string path = infoPlugin.empty() ? DefaultPluginPath() : PathArgument(infoPlugin);
        std::string error;
        const bool opened = loader.open(path.c_str(), error);
        if (!opened && loader.registerCallCount() == 0) {
            std::cerr << "asehost: " << error << "\n";
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
        if (!OpenPlugin(loader, importPlugin)) return kExitHostError;
        scene.setOperationLogEnabled(false);
        const std::u16string path = PathArgument(importFile);
        if (ImportFile(loader, scene, path.c_str()) != 1) {
            ReportFailure(scene, "import failed");
            return kExitPluginFailed;
        }
        if (importJson) {
            std::cout << scene.saveJson();
        } else {
            PrintSummary(scene);
        }
        return kExitOk;
    }

    if (*exportCommand) {
        std::string json;
        if (!ReadWholeFile(exportScene, json)) {
            std::cerr << "asehost: cannot read " << exportScene << "\n";
            return kExitHostError;
        }
        std::string error;
        if (!scene.loadJson(json, error)) {
            std::cerr << "asehost: " << exportScene << ": " << error << "\n";
            return kExitHostError;
        }
        if (!OpenPlugin(loader, exportPlugin)) return kExitHostError;
        return RunExport(loader, scene, PathArgument(exportOutput), exportOptions.Choices(*exportCommand));
    }

    if (*convert) {
        if (!OpenPlugin(loader, convertPlugin)) return kExitHostError;
        scene.setOperationLogEnabled(false);
        const std::u16string path = PathArgument(convertInput);
        const std::u16string output = PathArgument(convertOutput);
        if (ImportFile(loader, scene, path.c_str()) != 1) {
            ReportFailure(scene, "import failed");
            return kExitPluginFailed;
        }
        return RunExport(loader, scene, output, convertOptions.Choices(*convert));
    }
    return kExitHostError;
}
