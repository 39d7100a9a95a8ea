// asehost: the reference host on the command line. Loads the filter plug-in
// and imports, exports or converts ASE files through it, checks them, or
// shows what its registration reported. One handler per command: each
// declares its options and runs with them (see tool.h for the shared parts
// and the tool's one error style).
//
// Exit codes: 0 success; 1 the host could not do its part (arguments, the
// plug-in module, a file or a JSON scene, memory); 2 the options dialog was
// cancelled; 3 the plug-in reported failure (import, export preparation or
// writing) or its options dialog could not be opened. check has its own.
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
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/store/axes.h"
#include "host/store/scene.h"
#include "host/store/text.h"
#include "host/tool/batch.h"
#include "host/tool/check.h"
#include "host/tool/loss_report.h"
#include "host/tool/plugin_loader.h"
#include "host/tool/tool.h"
#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/process.h"

#ifndef ASEHOST_VERSION
#error "ASEHOST_VERSION is set by the build"
#endif

namespace {

using namespace asehost;

// Reports a failed filter call with the plug-in's error text, if any.
void ReportFailure(const HostScene& scene, const char* fallback) {
    const std::string text = ErrorTextOf(*scene.context());
    std::cerr << "asehost: " << (text.empty() ? std::string(fallback) : text) << "\n";
}


// Loads the plug-in `plugin` names and imports `path` into `scene` through
// it: kExitOk, or the exit code of what failed, with its message printed.
int LoadAndImport(PluginLoader& loader, const std::string& plugin, HostScene& scene, const std::u16string& path) {
    if (!OpenPlugin(loader, plugin)) return kExitHostError;
    scene.setOperationLogEnabled(false);
    if (ImportFile(loader, scene, path.c_str()) != 1) {
        ReportFailure(scene, "import failed");
        return kExitPluginFailed;
    }
    return kExitOk;
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
        command.add_option("-j,--jobs", jobs,
                           outputs ? "Files worked on at once, each by an asehost process of its own"
                                   : "Files checked at once, each on a thread of its own")
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

// check of one file for a batch: what RunCheck prints for it, made on a
// worker thread. An unreadable file's reason is the message a run on it
// alone ends with.
CheckedFile CheckForBatch(const std::u16string& path, const std::string& display, bool json, bool notes) {
    CheckedFile out;
    if (path.size() >= static_cast<size_t>(kDualStringUnits)) {
        out.reason = "\"" + display + "\" is " + std::to_string(path.size()) + " characters long as a full path; the host's file names hold " +
                     std::to_string(kDualStringUnits - 1);
        return out;
    }
    if (const std::string reason = UnreadableReason(path); !reason.empty()) {
        out.reason = "cannot open \"" + display + "\": " + reason;
        return out;
    }
    const CheckReport report = CheckAseFile(path, display);
    if (!report.opened) {
        out.reason = report.openError.empty() ? std::string() : display + ": " + report.openError;
        return out;
    }
    out.opened = true;
    out.output = json ? FormatCheckJson(report, notes) : FormatCheckText(report, notes);
    out.counts[0] = report.errors;
    out.counts[1] = report.warnings;
    out.counts[2] = report.notes;
    out.exitCode = CheckExitCode(report);
    return out;
}

// check: one file as it always was (its JSON object, or its findings and
// summary), several files or a folder on threads of this process. A batch
// child (of an older parent) ends with its counts line.
int RunCheck(const std::vector<std::string>& files, bool json, bool notes, const BatchOptions& batch) {
    // One name that is no folder and no wildcard (Windows) is one file.
    const bool single = files.size() == 1 && (batch.child || (platform::KindOfPath(PathArgument(files[0]).c_str()) != platform::PathKind::kFolder &&
                                                               platform::ExpandWildcards(ArgumentToWide(files[0])).front() == ArgumentToWide(files[0])));
    if (!single) {
        BatchRequest request = batch.Request(files, std::string());
        request.json = json;
        return RunBatchCheck(request, [json, notes](const std::u16string& path, const std::string& display) {
            return CheckForBatch(path, display, json, notes);
        });
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

// info: what the plug-in's registration reported.
struct InfoCommand {
    CLI::App* app = nullptr;
    std::string module, plugin;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("info", "Show what the plug-in's registration reported");
        CLI::Option* moduleOption = app->add_option("PLUGIN_MODULE", module, "Plug-in module (default: next to asehost)");
        app->add_option("--plugin", plugin, "Plug-in module")->excludes(moduleOption);
    }

    int Run() const {
        PluginLoader loader;
        const std::string& named = plugin.empty() ? module : plugin;
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
};

// import: one file's summary or JSON dump, or a batch of JSON dumps.
struct ImportCommand {
    CLI::App* app = nullptr;
    std::vector<std::string> files;
    std::string plugin, output = "-";
    bool json = false, quiet = false;
    BatchOptions batch;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("import", "Import an ASE file and print the scene, or import --json several into a folder");
        app->add_option("FILE", files, "ASE file; with --json --output-dir, files and folders")->required();
        app->add_flag("--json", json, "Print the whole scene as JSON");
        app->add_flag("--quiet", quiet, "Do not list what the host's records leave out of the file");
        app->add_option("-o,--output", output, "Where to print (- is standard output)")->capture_default_str();
        app->add_option("--plugin", plugin, "Plug-in module");
        batch.Add(*app, true);
    }

    int Run() const {
        if (!batch.outputDir.empty() || files.size() > 1) {
            if (!json || batch.outputDir.empty() || output != "-") {
                std::cerr << "asehost: several inputs are imported with --json --output-dir DIR (and no --output)\n";
                return kExitHostError;
            }
            return RunBatchImport(batch.Request(files, plugin));
        }
        const std::string& file = files.front();
        const std::u16string path = PathArgument(file);
        if (!CheckInput(file, path)) return kExitHostError;
        if (output != "-") {
            const std::u16string outputPath = PathArgument(output);
            if (outputPath == path || platform::IsSameFile(outputPath.c_str(), path.c_str())) {
                std::cerr << "asehost: the output \"" << output << "\" is the input \"" << file << "\"; name another file\n";
                return kExitHostError;
            }
        }
        PluginLoader loader;
        HostScene scene;
        if (const int code = LoadAndImport(loader, plugin, scene, path); code != kExitOk) return code;
        if (!quiet && !batch.child) PrintLosses(std::cerr, "not carried", UncarriedContent(path));
        if (!json) {
            std::ostringstream summary;
            PrintSummary(summary, scene);
            return WriteOutput(output, summary.str()) ? kExitOk : kExitHostError;
        }
        std::string error;
        const auto writeJson = [&](std::FILE* out) {
            errno = 0;
            const bool written = scene.writeJson(out, error);
            // The system's reason says more than the writer's own words.
            if (!written && errno != 0 && error == "write failed") error = FileErrorText(errno);
            return written;
        };
        if (!WriteOutput(output, writeJson, error)) return kExitHostError;
        if (batch.child) std::cout << SceneCountsLine(scene);
        return kExitOk;
    }
};

// export: a JSON scene through the options dialog to an ASE file.
struct ExportCommand {
    CLI::App* app = nullptr;
    std::string scenePath, output, plugin;
    bool fileAxes = false;
    DialogOptions options;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("export", "Export a JSON scene to an ASE file");
        app->add_option("SCENE", scenePath, "Scene in JSON form")->required();
        app->add_option("OUT", output, "ASE file to write")->required();
        app->add_option("--plugin", plugin, "Plug-in module");
        app->add_flag("--file-axes", fileAxes,
                      "Write the scene in its ASE file's own orientation, as convert does: a dump of import --json then "
                      "exports to what convert writes with the same options");
        options.Add(*app);
    }

    int Run() {
        if (!CheckOutput(scenePath, output, options.force)) return kExitHostError;
        if (!CheckInput(scenePath, PathArgument(scenePath))) return kExitHostError;
        PluginLoader loader;
        HostScene scene;
        std::string error;
        if (!scene.loadJsonFile(PathArgument(scenePath).c_str(), error)) {
            std::cerr << "asehost: " << scenePath << ": " << error << "\n";
            return kExitHostError;
        }
        if (!OpenPlugin(loader, plugin)) return kExitHostError;
        const DialogChoices choices = options.Choices(*app);
        if (fileAxes) TurnForExport(scene);
        return RunExport(loader, scene, output, choices, options.quiet);
    }
};

// convert: import and export again, one file or a batch into a folder.
struct ConvertCommand {
    CLI::App* app = nullptr;
    std::vector<std::string> paths;
    std::string plugin;
    bool pluginAxes = false;
    DialogOptions options;
    BatchOptions batch;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("convert", "Import an ASE file and export it again (IN OUT), or many into a folder");
        app->add_option("IN OUT", paths, "ASE file to read and ASE file to write; with --output-dir, files and folders to read")->required();
        app->add_option("--plugin", plugin, "Plug-in module");
        app->add_flag("--plugin-axes", pluginAxes, "Write what the plug-in gives, (x, -z, y) of the file's (x, y, z), instead of the file's own orientation");
        options.Add(*app);
        options.AddConvertDefaults(*app);
        batch.Add(*app, true);
    }

    int Run() {
        if (!batch.outputDir.empty()) {
            BatchRequest request = batch.Request(paths, plugin);
            const std::vector<std::u16string> childOptions = options.ChildArguments(*app);
            request.childOptions.insert(request.childOptions.end(), childOptions.begin(), childOptions.end());
            if (pluginAxes) request.childOptions.push_back(u"--plugin-axes");
            return RunBatchConvert(request);
        }
        if (paths.size() != 2) {
            std::cerr << "asehost: convert takes IN OUT, two files; to convert several, name an output folder with --output-dir DIR\n";
            return kExitHostError;
        }
        const std::string& input = paths[0];
        const std::string& output = paths[1];
        const std::u16string path = PathArgument(input);
        if (!CheckInput(input, path)) return kExitHostError;
        if (!CheckOutput(input, output, options.force)) return kExitHostError;
        DialogChoices choices = options.Choices(*app);
        PluginLoader loader;
        HostScene scene;
        if (const int code = LoadAndImport(loader, plugin, scene, path); code != kExitOk) return code;
        options.ApplyConvertDefaults(scene, choices);
        if (!pluginAxes) TurnForExport(scene);
        // A batch child's lines would break its file's one line.
        const bool quiet = options.quiet || batch.child;
        const int code = RunExport(loader, scene, output, choices, quiet, quiet ? std::vector<std::string>() : UncarriedContent(path));
        if (code == kExitOk && batch.child) std::cout << SceneCountsLine(scene);
        return code;
    }
};

// check: findings of the plug-in's own reader, for files and folders.
struct CheckCommand {
    CLI::App* app = nullptr;
    std::vector<std::string> files;
    bool json = false, notes = false;
    BatchOptions batch;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("check", "Check ASE files with the plug-in's reader: exit 0 clean, 4 warnings, 3 the import would fail");
        app->add_option("FILE", files, "ASE files, and folders walked for .ase files")->required();
        app->footer("Exit codes: 0 clean (notes only); 4 warnings; 3 the import would fail; 1 a file cannot be read. Several files: the worst, 1 over 3 over 4 over 0.\n");
        app->add_flag("--json", json, "Print the findings as JSON (one document for several files)");
        app->add_flag("--notes", notes, "List the notes too, not only count them");
        batch.Add(*app, false);
    }

    int Run() const { return RunCheck(files, json, notes, batch); }
};

// help: the whole tool's help, or one command's with its own exit codes.
struct HelpCommand {
    CLI::App* app = nullptr;
    std::string topic;

    void Add(CLI::App& parent) {
        app = parent.add_subcommand("help", "Show this help, or a command's");
        app->add_option("COMMAND", topic, "Command to explain")->check(CLI::IsMember({"info", "import", "export", "convert", "check", "help"}));
    }

    int Run(CLI::App& top) const {
        // top.help() would explain the selected command, "help" itself.
        const CLI::App* shown = topic.empty() ? &top : top.get_subcommand(topic);
        std::cout << top.get_formatter()->make_help(shown, shown == &top ? std::string("asehost") : "asehost " + shown->get_name(),
                                                    CLI::AppFormatMode::Normal);
        return kExitOk;
    }
};

// Reads the command line, then runs the one command it names.
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

    InfoCommand info;
    ImportCommand import;
    ExportCommand exportCommand;
    ConvertCommand convert;
    CheckCommand check;
    HelpCommand help;
    info.Add(app);
    import.Add(app);
    exportCommand.Add(app);
    convert.Add(app);
    check.Add(app);
    help.Add(app);

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

    if (*check.app) return check.Run();
    if (*help.app) return help.Run(app);
    if (*info.app) return info.Run();
    if (*import.app) return import.Run();
    if (*exportCommand.app) return exportCommand.Run();
    if (*convert.app) return convert.Run();
    std::cerr << app.help() << "asehost: no command given\n";
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

