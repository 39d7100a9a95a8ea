// The real options dialog of the Windows module, worked through
// AttachDialogUser from the watcher thread: what it shows, and what OK and
// Cancel leave for the next export. Runs under wine with a virtual display.
#include <gtest/gtest.h>

#include <string>

#include "export_test_util.h"
#include "host/plugin_loader.h"
#include "resources/options_dialog.h"

namespace {

using exporttest::LoadScene;
using exporttest::TempDir;

// What the user saw when the dialog opened. Gathered on the watcher thread
// and checked on the test's thread once the dialog has ended.
struct Seen {
    bool acted = false;
    intptr_t checks[10] = {};
    intptr_t selection = -2;
    std::u16string angle;
    bool angleEnabled = false;
};

const int kChecks[10] = {IDC_EXPORT_MATERIALS,        IDC_EXPORT_TEXTURE_COORDS,   IDC_EXPORT_VERTEX_NORMALS,
                         IDC_EXPORT_VERTEX_COLORS,    IDC_EXPORT_MULTIPLE_UV_SETS, IDC_EXPORT_AS_SINGLE_OBJECT,
                         IDC_USE_FACE_NORMALS,        IDC_SPLIT_VERTICES_PER_UV,   IDC_USE_MULTI_SUB_MATERIALS,
                         IDC_USE_FULL_TEXTURE_PATH};

class RealDialogTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        const std::string modulePath = ASE_MODULE_PATH;
        const std::u16string wide(modulePath.begin(), modulePath.end());
        ASSERT_TRUE(loader_.open(wide.c_str(), error)) << error;
        LoadScene(scene_, R"({
          "vertices": [ {"position": [0, 0, 0]}, {"position": [1, 0, 0]}, {"position": [0, 1, 0]} ],
          "objects": [ {"name": "tri"} ],
          "faceGroups": [ {"faces": [ {"objectIndex": 0, "vertexIndices": [0, 1, 2]} ]} ]
        })");
    }

    // Opens the dialog, records what it shows, then lets `then` work it.
    int Prepare(Seen& seen, void (*then)(platform::DialogWindow*)) {
        struct Observer : platform::DialogUser {
            Seen* seen;
            void (*then)(platform::DialogWindow*);
        } observer;
        observer.seen = &seen;
        observer.then = then;
        observer.act = [](platform::DialogUser* self, platform::DialogWindow* dialog) {
            auto* o = static_cast<Observer*>(self);
            Seen& s = *o->seen;
            for (int i = 0; i < 10; ++i) s.checks[i] = exporttest::CheckState(dialog, kChecks[i]);
            s.selection = platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboGetCurSel, 0, 0);
            s.angle = exporttest::ItemText(dialog, IDC_SMOOTHING_ANGLE);
            s.angleEnabled = exporttest::ItemEnabled(dialog, IDC_SMOOTHING_ANGLE);
            s.acted = true;
            o->then(dialog);
        };
        scene_.setMainWindow(platform::AttachDialogUser(&observer));
        const int result = loader_.filter()(FILTER_MSG_PREPARE_EXPORT, scene_.context(), loader_.module(), nullptr);
        platform::DetachDialogUser();
        scene_.setMainWindow(nullptr);
        return result;
    }

    asehost::PluginLoader loader_;
    asehost::HostScene scene_;
    TempDir dir_;
};

TEST_F(RealDialogTest, ShowsTheOptionsAndKeepsWhatOkAndCancelCommit) {
    // First opening in this module load: the defaults; OK keeps them.
    Seen first;
    EXPECT_EQ(Prepare(first, [](platform::DialogWindow* d) { platform::UserPressButton(d, platform::kIdOk); }),
              kPrepareConfirmed);
    ASSERT_TRUE(first.acted) << "the dialog never appeared";
    const intptr_t defaults[10] = {1, 1, 1, 1, 0, 0, 0, 1, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(first.checks[i], defaults[i]) << kChecks[i];
    EXPECT_EQ(first.selection, 0);
    EXPECT_EQ(first.angle, u"35.000");
    EXPECT_FALSE(first.angleEnabled);

    // The host's scripted user: no materials, "Per angle" at 500 degrees.
    asehost::DialogChoices choices;
    choices.checks[0] = 0;
    choices.smoothing = SmoothPerAngle;
    choices.typeAngle = true;
    choices.angleText = u"500";
    const std::u16string path = exporttest::Wide(dir_ / "real.ase");
    ASSERT_EQ(asehost::ExportScene(loader_, scene_, path.c_str(), choices), asehost::ExportOutcome::Written);
    const std::string text = exporttest::ReadTextFile(dir_ / "real.ase");
    EXPECT_EQ(text.find("*MATERIAL_LIST"), std::string::npos);
    EXPECT_NE(text.find("*GEOMOBJECT {"), std::string::npos);

    // The next opening shows them; choosing "Per group" and cancelling keeps
    // only the list choice.
    Seen second;
    EXPECT_EQ(Prepare(second,
                      [](platform::DialogWindow* d) {
                          platform::UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerGroup);
                          platform::UserTypeText(d, IDC_SMOOTHING_ANGLE, u"12");
                          platform::UserSetCheck(d, IDC_EXPORT_MATERIALS, true);
                          platform::UserPressButton(d, platform::kIdCancel);
                      }),
              kPrepareCancelled);
    EXPECT_EQ(second.checks[0], 0);
    EXPECT_EQ(second.selection, SmoothPerAngle);
    EXPECT_EQ(second.angle, u"180.000");
    EXPECT_TRUE(second.angleEnabled);

    Seen third;
    EXPECT_EQ(Prepare(third, [](platform::DialogWindow* d) { platform::UserPressButton(d, platform::kIdCancel); }),
              kPrepareCancelled);
    EXPECT_EQ(third.checks[0], 0);
    EXPECT_EQ(third.selection, SmoothPerGroup);
    EXPECT_EQ(third.angle, u"180.000");
    EXPECT_FALSE(third.angleEnabled);
}

}  // namespace
