// The real options dialog of the Windows module, worked through
// AttachDialogUser from the watcher thread: what it shows, and what OK and
// Cancel leave for the next export. Runs under wine with a virtual display.
#include "export_test_util.h"
#include "host/tool/plugin_loader.h"

namespace {

using namespace exporttest;
using namespace platform;

TEST(RealDialog, ShowsTheOptionsAndKeepsWhatOkAndCancelCommit) {
    asehost::PluginLoader loader;
    asehost::HostScene scene;
    std::string error;
    const std::string modulePath = ASE_MODULE_PATH;
    ASSERT_TRUE(loader.open(std::u16string(modulePath.begin(), modulePath.end()).c_str(), error)) << error;
    LoadScene(scene, Golden("material_scene.json"));
    // Opens the module's dialog, records what it shows (on the watcher thread;
    // checked once the dialog has ended), then lets `then` work it.
    const auto prepare = [&](Shown& shown, void (*then)(DialogWindow*)) {
        return PrepareWithUser(loader.filter(), scene, loader.module(), [&](DialogWindow* d) {
            shown = Look(d);
            then(d);
        });
    };

    // First opening in this module load: the defaults; OK keeps no materials,
    // "Per angle" at 500 degrees.
    Shown first, second, third;
    EXPECT_EQ(prepare(first,
                      [](DialogWindow* d) {
                          UserSetCheck(d, IDC_EXPORT_MATERIALS, false);
                          UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerAngle);
                          UserTypeText(d, IDC_SMOOTHING_ANGLE, u"500");
                          UserPressButton(d, kIdOk);
                      }),
              kPrepareConfirmed);
    ExpectShows(first, nullptr, u"35.000");

    // The next opening shows them; choosing "Per group" and cancelling keeps
    // only the list choice, which the next opening shows.
    ExportOptions expected;
    expected.exportMaterials = 0;
    expected.smoothingMode = SmoothPerAngle;
    EXPECT_EQ(prepare(second,
                      [](DialogWindow* d) {
                          UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerGroup);
                          UserTypeText(d, IDC_SMOOTHING_ANGLE, u"12");
                          UserSetCheck(d, IDC_EXPORT_MATERIALS, true);
                          UserPressButton(d, kIdCancel);
                      }),
              kPrepareCancelled);
    ExpectShows(second, &expected, u"180.000");
    EXPECT_EQ(prepare(third, [](DialogWindow* d) { UserPressButton(d, kIdCancel); }), kPrepareCancelled);
    expected.smoothingMode = SmoothPerGroup;
    ExpectShows(third, &expected, u"180.000");
}

}  // namespace
