// Feeds arbitrary bytes through the export path of `asehost export`: the
// reference host's JSON scene reader, the options dialog worked by a user
// whose choices come from the input, and FilterProc's export preparation and
// export into a scratch file that is removed after the run.
//
// Input layout: two bytes of check boxes (bit k of the 16-bit little-endian
// value sets box k; bits 10-11 the smoothing list position, taken modulo 3),
// one byte n, then n bytes typed into the angle field (each byte one UTF-16
// unit; n = 255 presses Cancel instead, with no text), then the JSON scene.
// Every control is set on every run, so a run does not depend on the options
// an earlier run left in the plug-in.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "platform/dialog.h"
#include "tests/job_settings.h"
#include "plugin/plugin.h"

namespace {

struct Choices {
    bool checks[10] = {};
    int smoothing = 0;
    bool cancel = false;
    std::u16string angle;
};

// The dialog user: sets every control, then presses OK or Cancel.
struct FuzzUser : platform::DialogUser {
    const Choices* choices = nullptr;
    bool acted = false;
};

void Act(platform::DialogUser* self, platform::DialogWindow* dialog) {
    FuzzUser& user = *static_cast<FuzzUser*>(self);
    user.acted = true;
    const Choices& c = *user.choices;
    for (int k = 0; k < 10; ++k) platform::UserSetCheck(dialog, asehost::kCheckBoxes[k].controlId, c.checks[k]);
    platform::UserSelectListItem(dialog, asehost::kSmoothingListId, c.smoothing);
    platform::UserTypeText(dialog, asehost::kAngleEditId, c.angle.c_str());
    platform::UserPressButton(dialog, c.cancel ? platform::kIdCancel : platform::kIdOk);
}

// The module handle the preparation is given; the Linux dialog stand-in does
// not load resources through it.
void* const kInstance = reinterpret_cast<void*>(0x1000);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Choices choices;
    const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
    for (int k = 0; k < 10; ++k) choices.checks[k] = (bits >> k) & 1u;
    choices.smoothing = static_cast<int>((bits >> 10) & 3u) % 3;
    size_t at = 3;
    if (data[2] == 255) {
        choices.cancel = true;
    } else {
        const size_t n = data[2] < size - at ? data[2] : size - at;
        for (size_t i = 0; i < n; ++i) choices.angle.push_back(static_cast<char16_t>(data[at + i]));
        at += n;
    }
    const std::string_view json(reinterpret_cast<const char*>(data + at), size - at);

    static const std::string narrow = fuzzsupport::ScratchPath("export.ase");
    static const std::u16string target(narrow.begin(), narrow.end());
    const fuzzsupport::WorkingDirectoryGuard keep;
    const JobSettingsScope jobs;
    {
        asehost::HostScene scene;
        std::string error;
        if (!scene.loadJson(json, error)) {
            // A refused scene is left empty and says why.
            if (error.empty() || scene.context()->objectCount != 0 || scene.context()->vertexCount != 0) std::abort();
            return 0;
        }
        scene.setFileName(target.c_str());
        scene.setHostTexts(asehost::kHostAppName, asehost::kHostVersion, asehost::kHostWebsite);

        FuzzUser user;
        user.act = Act;
        user.choices = &choices;
        scene.setMainWindow(platform::AttachDialogUser(&user));
        const int prepared = FilterProc(FILTER_MSG_PREPARE_EXPORT, scene.context(), kInstance, nullptr);
        platform::DetachDialogUser();
        scene.setMainWindow(nullptr);
        if (prepared == kPrepareConfirmed) {
            const int written = FilterProc(FILTER_MSG_EXPORT, scene.context(), nullptr, nullptr);
            if (written != 0 && written != 1) std::abort();
        } else if (prepared != kPrepareCancelled && prepared != kPrepareFailed) {
            std::abort();
        }
    }
    if (jobs.allocations.LiveBlocks() != 0) std::abort();
    std::remove(narrow.c_str());
    return 0;
}
