// The reference host's plug-in loader and the filter operations it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/store/scene.h"
#include "base/host_api.h"

namespace asehost {

// The reference host's own texts, put into every operation's context.
extern const char16_t kHostAppName[];     // "asehost"
extern const char16_t kHostVersion[];     // "1.0"
extern const char16_t kHostWebsite[];

// One loaded plug-in module and what its registration reported.
class PluginLoader {
public:
    PluginLoader();
    ~PluginLoader();
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;

    // Whether RegisterPlugin accepts the plug-in (true by default); set before
    // open().
    void setAcceptRegistration(bool accept);

    // Opens the module at `path`, checks both version answers against 3606 and
    // registers the plug-in. Returns false with a message in `error`; the
    // module stays open (and the registration record filled) when only the
    // registration failed, so that callers can inspect it.
    bool open(const char16_t* path, std::string& error);
    // Unloads the module; what registration reported stays readable.
    void close();

    void* module() const;
    uint32_t pluginVersion() const;      // PluginVersion()
    uint32_t procVersion() const;        // PluginProc(PLUGIN_MSG_VERSION, nullptr)
    uint32_t registerResult() const;     // PluginProc(PLUGIN_MSG_REGISTER, &info)
    int registerCallCount() const;       // calls of RegisterPlugin
    const PluginInfo& info() const;      // the record the plug-in filled
    const DualString& extension() const; // the extension it handed over
    PluginProcFn pluginProc() const;
    // The filter callback the registration handed over (null before).
    FilterCallback filter() const;

    struct Registration;

private:
    std::unique_ptr<Registration> registration_;
    void* module_ = nullptr;
    PluginProcFn pluginProc_ = nullptr;
    uint32_t pluginVersion_ = 0;
    uint32_t procVersion_ = 0;
    uint32_t registerResult_ = 0;
};

// The plug-in module asehost loads when none is named, for an executable in
// `directory` (empty, or ending in a separator): `fileName` in that folder
// when it is there, else `fileName` in the folder an install puts the module
// in, relative to the executable's, when it is there; else the first place,
// so that the error names where it was looked for first.
std::u16string DefaultModulePath(const std::u16string& directory, const std::u16string& fileName);

// Gives the scene's context a fresh start for one operation: fileName the
// absolute form of `path`, the reference host's texts, errorText and timeText
// empty. False when the path cannot be made absolute or is too long.
bool BeginOperation(HostScene& scene, const char16_t* path);

// The context's errorText as UTF-8 (empty when none was set).
std::string ErrorTextOf(const HostContext& context);

// FILTER_MSG_IMPORT of `path` into `scene`, which is reset first. Returns the
// filter's result (1 success), 0 also when there is no filter or the path is
// unusable.
int ImportFile(const PluginLoader& plugin, HostScene& scene, const char16_t* path);

// How an export ended. DialogNotShown: the preparation answered "cancelled"
// but the dialog user never got to act, so the dialog did not open.
enum class ExportOutcome { Written, Cancelled, DialogNotShown, PrepareFailed, WriteFailed };

// The export options as a user sets them in the dialog. Unset choices leave
// the dialog's state alone.
struct DialogChoices {
    enum : int { kUnset = -1 };
    int checks[10] = {kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset, kUnset};
    int smoothing = kUnset;  // list position 0..2
    bool typeAngle = false;
    std::u16string angleText;
    bool cancel = false;
};

// The dialog's check boxes in the order of DialogChoices::checks, with the
// command-line flag naming each and the state the dialog first opens with.
struct CheckBoxInfo {
    int controlId;
    const char* flag;
    bool dialogDefault;
};
extern const CheckBoxInfo kCheckBoxes[10];
enum : int { kSmoothingListId = 1011, kAngleEditId = 1013 };

// FILTER_MSG_PREPARE_EXPORT (arg: the module handle) with a dialog user that
// applies `choices`, then FILTER_MSG_EXPORT to `path`.
ExportOutcome ExportScene(const PluginLoader& plugin, HostScene& scene, const char16_t* path, const DialogChoices& choices);

}  // namespace asehost
