// The reference host's plug-in loader and the filter operations it runs.
#include "host/tool/plugin_loader.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "asefilter/install_dirs.h"
#include "asefilter/version.h"
#include "host/store/text.h"
#include "platform/dialog.h"
#include "platform/platform.h"

namespace asehost {

// What a written file says of its creator: this product and its version.
// The host has no web address of its own, so the website field stays empty
// rather than naming a place that does not exist.
const char16_t kHostAppName[] = u"asehost";
const char16_t kHostVersion[] = ASEFILTER_VERSION_TEXT16;
const char16_t kHostWebsite[] = u"";

const CheckBoxInfo kCheckBoxes[10] = {
    {1004, "export-materials", true},
    {1002, "export-texture-coordinates", true},
    {1003, "export-vertex-normals", true},
    {1005, "export-vertex-colors", true},
    {1007, "export-multiple-uvsets", false},
    {1008, "export-as-single-object", false},
    {1010, "use-face-normals", false},
    {1009, "split-vertices-per-uv", true},
    {1006, "use-multi-sub-object-materials", false},
    {1001, "use-full-texture-filepath", false},
};

// The registration record with the host's operation table in front of it, so
// that RegisterPlugin finds the loader from the record.
struct PluginLoader::Registration {
    struct Ops {
        PluginInfoOps ops;
        Registration* owner;
    };
    Ops ops{};
    PluginInfo info{};
    DualString extension{};
    bool accept = true;
    int calls = 0;
    FilterCallback filter = nullptr;
};

namespace {

int HostRegisterPlugin(PluginInfo* info, const DualString* extension) {
    if (!info || !info->ops) return 0;
    auto* registration = reinterpret_cast<const PluginLoader::Registration::Ops*>(info->ops)->owner;
    ++registration->calls;
    CopyDualStringFrom(registration->extension, extension);
    if (!registration->accept) return 0;
    // The plug-in may fill a record of its own; keep what it handed over.
    if (info != &registration->info) registration->info = *info;
    registration->filter = info->filterCallback;
    return 1;
}

}  // namespace

PluginLoader::PluginLoader() : registration_(std::make_unique<Registration>()) {
    registration_->ops.ops.RegisterPlugin = HostRegisterPlugin;
    registration_->ops.owner = registration_.get();
    registration_->info.ops = &registration_->ops.ops;
}

PluginLoader::~PluginLoader() {
    close();
}

std::u16string DefaultModulePath(const std::u16string& directory, const std::u16string& fileName) {
    const std::u16string beside = directory + fileName;
    const std::u16string relative = ASEFILTER_MODULE_DIR_FROM_BIN;
    const std::u16string installed = relative.empty() ? beside : directory + relative + u"/" + fileName;
    for (const std::u16string* candidate : {&beside, &installed}) {
        if (std::FILE* file = platform::OpenFile(candidate->c_str(), "rb")) {
            std::fclose(file);
            return *candidate;
        }
    }
    return beside;
}

void PluginLoader::setAcceptRegistration(bool accept) {
    registration_->accept = accept;
}

bool PluginLoader::open(const char16_t* path, std::string& error) {
    close();
    module_ = platform::LoadModule(path);
    if (!module_) {
        const char* reason = platform::LastModuleError();
        error = std::string("cannot load the plug-in module ") + Utf16ToUtf8(path ? path : u"") + (reason && *reason ? std::string(": ") + reason : std::string());
        return false;
    }
    pluginProc_ = reinterpret_cast<PluginProcFn>(platform::FindModuleSymbol(module_, "PluginProc"));
    auto version = reinterpret_cast<PluginVersionFn>(platform::FindModuleSymbol(module_, "PluginVersion"));
    if (!pluginProc_ || !version) {
        error = "the module does not export PluginProc and PluginVersion";
        close();
        return false;
    }
    pluginVersion_ = version();
    procVersion_ = pluginProc_(PLUGIN_MSG_VERSION, nullptr);
    if (pluginVersion_ != kPluginInterfaceVersion || procVersion_ != kPluginInterfaceVersion) {
        error = "interface version mismatch: PluginVersion " + std::to_string(pluginVersion_) + ", PluginProc " + std::to_string(procVersion_) +
                ", expected " + std::to_string(kPluginInterfaceVersion);
        close();
        return false;
    }
    Registration& r = *registration_;
    r.info = PluginInfo{};
    r.info.ops = &r.ops.ops;
    r.extension = DualString{};
    r.calls = 0;
    r.filter = nullptr;
    registerResult_ = pluginProc_(PLUGIN_MSG_REGISTER, &r.info);
    if (registerResult_ == 0 || !r.filter) {
        error = registerResult_ == 0 ? "the plug-in's registration failed" : "the plug-in registered without a filter callback";
        r.filter = nullptr;
        return false;
    }
    return true;
}

void PluginLoader::close() {
    if (module_) platform::UnloadModule(module_);
    module_ = nullptr;
    pluginProc_ = nullptr;
    // The callback lives in the module.
    registration_->filter = nullptr;
}

void* PluginLoader::module() const {
    return module_;
}
uint32_t PluginLoader::pluginVersion() const {
    return pluginVersion_;
}
uint32_t PluginLoader::procVersion() const {
    return procVersion_;
}
uint32_t PluginLoader::registerResult() const {
    return registerResult_;
}
int PluginLoader::registerCallCount() const {
    return registration_->calls;
}
const PluginInfo& PluginLoader::info() const {
    return registration_->info;
}
const DualString& PluginLoader::extension() const {
    return registration_->extension;
}
PluginProcFn PluginLoader::pluginProc() const {
    return pluginProc_;
}
FilterCallback PluginLoader::filter() const {
    return registration_->filter;
}

bool BeginOperation(HostScene& scene, const char16_t* path) {
    std::vector<char16_t> absolute(4096);
    if (!path || !platform::AbsolutePath(path, absolute.data(), absolute.size())) return false;
    if (platform::WideLength(absolute.data()) >= static_cast<size_t>(kDualStringUnits)) return false;
    scene.setFileName(absolute.data());
    scene.setHostTexts(kHostAppName, kHostVersion, kHostWebsite);
    HostContext* context = scene.context();
    context->errorText = DualString{};
    context->timeText = DualString{};
    return true;
}

std::string ErrorTextOf(const HostContext& context) {
    return Utf16ToUtf8(WideOf(context.errorText));
}

namespace {

// Keeps the current folder across a filter call: the plug-in moves it into
// the folder of the file it imports, and the caller's relative paths must
// keep meaning what the user meant.
class CurrentFolderKept {
public:
    CurrentFolderKept() : saved_(platform::GetCurrentDirectory(folder_.data(), folder_.size())) {}
    ~CurrentFolderKept() {
        if (saved_) platform::SetCurrentDirectory(folder_.data());
    }
    CurrentFolderKept(const CurrentFolderKept&) = delete;
    CurrentFolderKept& operator=(const CurrentFolderKept&) = delete;

private:
    std::vector<char16_t> folder_ = std::vector<char16_t>(4096);
    bool saved_;
};

}  // namespace

int ImportFile(const PluginLoader& plugin, HostScene& scene, const char16_t* path) {
    scene.reset();
    if (!plugin.filter() || !BeginOperation(scene, path)) return 0;
    const CurrentFolderKept folder;
    return plugin.filter()(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
}

namespace {

// The "user" who works the options dialog for the command line.
struct ScriptedUser : platform::DialogUser {
    const DialogChoices* choices = nullptr;
    // Set from the dialog's thread, which on some systems is not ours.
    std::atomic<bool> acted{false};
};

void ActOnDialog(platform::DialogUser* self, platform::DialogWindow* dialog) {
    ScriptedUser& user = *static_cast<ScriptedUser*>(self);
    user.acted = true;
    const DialogChoices& choices = *user.choices;
    for (int k = 0; k < 10; ++k) {
        if (choices.checks[k] != DialogChoices::kUnset) platform::UserSetCheck(dialog, kCheckBoxes[k].controlId, choices.checks[k] != 0);
    }
    if (choices.smoothing != DialogChoices::kUnset) platform::UserSelectListItem(dialog, kSmoothingListId, choices.smoothing);
    if (choices.typeAngle) platform::UserTypeText(dialog, kAngleEditId, choices.angleText.c_str());
    platform::UserPressButton(dialog, choices.cancel ? platform::kIdCancel : platform::kIdOk);
}

}  // namespace

ExportOutcome ExportScene(const PluginLoader& plugin, HostScene& scene, const char16_t* path, const DialogChoices& choices) {
    if (!plugin.filter() || !BeginOperation(scene, path)) return ExportOutcome::PrepareFailed;
    const CurrentFolderKept folder;
    ScriptedUser user;
    user.act = ActOnDialog;
    user.choices = &choices;
    scene.setMainWindow(platform::AttachDialogUser(&user));
    const int prepared = plugin.filter()(FILTER_MSG_PREPARE_EXPORT, scene.context(), plugin.module(), nullptr);
    platform::DetachDialogUser();
    scene.setMainWindow(nullptr);
    if (prepared == kPrepareCancelled) return user.acted ? ExportOutcome::Cancelled : ExportOutcome::DialogNotShown;
    if (prepared != kPrepareConfirmed) return ExportOutcome::PrepareFailed;
    const int written = plugin.filter()(FILTER_MSG_EXPORT, scene.context(), nullptr, nullptr);
    return written == 1 ? ExportOutcome::Written : ExportOutcome::WriteFailed;
}

}  // namespace asehost
