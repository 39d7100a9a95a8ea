// The asehost tool's shared declarations: exit codes, how it names, reads
// and writes the files of a command line, the import summary, and the
// options dialog's controls as command-line options. Each command of
// main.cpp is built from these.
//
// Errors, one style for the whole tool: a function that can fail prints its
// own message on stderr ("asehost: " and what went wrong, naming the file
// and the system's reason) and returns false; a command turns that into its
// exit code. The levels below the tool (the scene store, its JSON form, the
// loader) print nothing: they return false with the reason in an `error`
// text that the tool prints. No exception leaves a level's entry: inside
// the JSON form one stops a parse deep in its handlers, and the entry turns
// it (and running out of memory) into false and its reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/store/scene.h"
#include "host/tool/plugin_loader.h"

namespace asehost {

// The exit codes of every command but check, which has its own (see
// check.h).
enum : int { kExitOk = 0, kExitHostError = 1, kExitCancelled = 2, kExitPluginFailed = 3 };
extern const char* const kExitCodesText;

// ---- Files (files.cpp) ---------------------------------------------------

// A path from the command line made absolute against the current folder as
// it is now (every filter call keeps the folder it was started in).
std::u16string PathArgument(const std::string& argument);

// asefilter next to the executable, with the suffix its platform uses.
std::u16string DefaultPluginPath();

// Opens the module `pluginArgument` names (the default one when empty);
// false, with a message, when it cannot be loaded.
bool OpenPlugin(PluginLoader& loader, const std::string& pluginArgument);

// Why an input cannot be read (the system's reason, or a word of our own
// for a folder or a device); empty when it can.
std::string UnreadableReason(const std::u16string& path);

// Reports an input that cannot be read or whose full path does not fit the
// host's file names; false then.
bool CheckInput(const std::string& argument, const std::u16string& path);

// What the plug-in's export is asked to write over, checked before anything
// is read: not standard output, not the input itself, and an .ase file
// unless `force`. False, with a message, otherwise.
bool CheckOutput(const std::string& input, const std::string& output, bool force);

// True when the file at `path` starts as ASE text does (after blanks and a
// UTF-8 byte-order mark): a scene named where a module was expected.
bool LooksLikeAseText(const std::u16string& path);

// The system's reason for a failed file operation, in words.
std::string FileErrorText(int code);

// Why the export's output `path` cannot be written, printed: the plug-in's
// own text for that has no room for the path or the reason.
void ExplainUnwritableOutput(const std::string& argument, const std::u16string& path);

// Holds SIGINT, SIGTERM and SIGHUP back while a file is written where the
// system has no unnamed temporary files, so that an interrupt cannot leave
// a named one behind; they act when the write is over.
class InterruptsHeldFor {
public:
    explicit InterruptsHeldFor(const std::u16string& target);
    ~InterruptsHeldFor();
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
bool WriteOutput(const std::string& argument, const std::function<bool(std::FILE*)>& write, std::string& error);

// The same for a text made beforehand.
bool WriteOutput(const std::string& argument, const std::string& text);

// ---- Summary (summary.cpp) -----------------------------------------------

// Shortest text that reads back as the same float.
std::string Num(float value);

// A host text as UTF-8.
std::string Utf8(const DualString& text);

// Control characters as escapes, so that a CR LF at the end shows.
std::string Visible(const std::string& text);

// import's summary of `scene`: its materials and their maps, vertices,
// objects (with their distinct vertices), face groups, bones and
// animations, one line each.
void PrintSummary(std::ostream& out, HostScene& scene);

// ---- The options dialog on the command line (dialog_options.cpp) ---------

// The smoothing list's entries by their command-line names, in list order;
// "scene" (keep the host's groups) is the fourth.
extern const char* const kSmoothingNames[4];
inline constexpr int kSceneSmoothing = 3;

// The angle the options dialog makes of a typed text: its leading decimal
// number (0 without one, as _wtof reads it) narrowed to a float and held to
// 0..180; an empty text gives 35. `plain` tells whether that is the number
// the text spells.
float DialogAngle(const std::string& text, bool& plain);

// Whether the host's second UV channel holds anything but the (0, 0) every
// corner starts with: the import filled it from a second mapping channel.
bool HasSecondUvChannel(const HostContext& context);

// The dialog's controls as command-line options of export and convert.
struct DialogOptions {
    std::string checks[10];
    std::string smoothing;
    std::string angle;
    bool cancel = false;
    bool quiet = false;
    bool force = false;
    bool dialogDefaults = false;

    // Adds the options to `command`.
    void Add(CLI::App& command);

    // convert's own defaults and --dialog-defaults.
    void AddConvertDefaults(CLI::App& command);

    // The choices for the dialog; warns about an angle the dialog will read
    // otherwise than it is written, or not use.
    DialogChoices Choices(const CLI::App& command) const;

    // convert's own defaults, which keep what the imported `scene` holds:
    // the scene's smoothing groups, and the second UV channel when it has
    // one. --dialog-defaults leaves the dialog's; an option given wins.
    void ApplyConvertDefaults(const HostScene& scene, DialogChoices& choices) const;

    // The options as a batch child is given them, so that every file starts
    // from the command line's choices (never from the dialog state a
    // previous file left).
    std::vector<std::u16string> ChildArguments(const CLI::App& command) const;
};

}  // namespace asehost
