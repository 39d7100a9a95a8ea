// The real options dialog of the Windows module, worked through
// AttachDialogUser from the watcher thread: what it shows, and what OK and
// Cancel leave for the next export. Runs under wine with a virtual display.
#include <gtest/gtest.h>

#include <string>

#include "export_test_util.h"
#include "host/plugin_loader.h"

namespace {

using namespace exporttest;
using platform::DialogWindow;

class RealDialogTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        const std::string modulePath = ASE_MODULE_PATH;
        ASSERT_TRUE(loader_.open(std::u16string(modulePath.begin(), modulePath.end()).c_str(), error)) << error;
        LoadScene(scene_, Golden("material_scene.json"));
    }

    // Opens the module's dialog, records in `shown` what it shows (on the
    // watcher thread; checked once the dialog has ended), then lets `then` work it.
    int Prepare(Shown& shown, void (*then)(DialogWindow*)) {
        return PrepareWithUser(loader_.filter(), scene_, loader_.module(), [&](DialogWindow* d) {
            shown = Look(d);
            then(d);
        });
    }

    asehost::PluginLoader loader_;
    asehost::HostScene scene_;
    TempDir dir_;
};

TEST_F(RealDialogTest, ShowsTheOptionsAndKeepsWhatOkAndCancelCommit) {
    // First opening in this module load: the defaults; OK keeps them.
    Shown first;
    EXPECT_EQ(Prepare(first, [](DialogWindow* d) { platform::UserPressButton(d, platform::kIdOk); }),
              kPrepareConfirmed);
    ExpectShows(first, nullptr, u"35.000");

    // The host's scripted user: no materials, "Per angle" at 500 degrees.
    asehost::DialogChoices choices;
    choices.checks[0] = 0;
    choices.smoothing = SmoothPerAngle;
    choices.typeAngle = true;
    choices.angleText = u"500";
    ASSERT_EQ(asehost::ExportScene(loader_, scene_, (dir_.path / "real.ase").u16string().c_str(), choices),
              asehost::ExportOutcome::Written);
    const std::string text = ReadTextFile(dir_.path / "real.ase");
    EXPECT_EQ(text.find("*MATERIAL_LIST"), std::string::npos);
    EXPECT_NE(text.find("*GEOMOBJECT {"), std::string::npos);

    // The next opening shows them; choosing "Per group" and cancelling keeps
    // only the list choice.
    ExportOptions expected;
    expected.exportMaterials = 0;
    expected.smoothingMode = SmoothPerAngle;
    Shown second;
    EXPECT_EQ(Prepare(second,
                      [](DialogWindow* d) {
                          platform::UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerGroup);
                          platform::UserTypeText(d, IDC_SMOOTHING_ANGLE, u"12");
                          platform::UserSetCheck(d, IDC_EXPORT_MATERIALS, true);
                          platform::UserPressButton(d, platform::kIdCancel);
                      }),
              kPrepareCancelled);
    ExpectShows(second, &expected, u"180.000");

    Shown third;
    EXPECT_EQ(Prepare(third, [](DialogWindow* d) { platform::UserPressButton(d, platform::kIdCancel); }),
              kPrepareCancelled);
    expected.smoothingMode = SmoothPerGroup;
    ExpectShows(third, &expected, u"180.000");
}

}  // namespace
