// The first options dialog of a process shows the defaults; with no user
// at the dialog the stand-in presses OK, which keeps them.
#include <gtest/gtest.h>

#include "export_test_util.h"
#include "resources/options_dialog.h"

namespace {

using exporttest::CheckState;
using exporttest::ItemEnabled;
using exporttest::ItemText;
using exporttest::ScriptedUser;

TEST(OptionsDefaults, FirstOpeningShowsTheDefaultsAndOkKeepsThem) {
    std::vector<std::u16string> listTexts;
    ScriptedUser user([&](platform::DialogWindow* dialog) {
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_MATERIALS), 1);
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_TEXTURE_COORDS), 1);
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_VERTEX_NORMALS), 1);
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_VERTEX_COLORS), 1);
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_MULTIPLE_UV_SETS), 0);
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_AS_SINGLE_OBJECT), 0);
        EXPECT_EQ(CheckState(dialog, IDC_USE_FACE_NORMALS), 0);
        EXPECT_EQ(CheckState(dialog, IDC_SPLIT_VERTICES_PER_UV), 1);
        EXPECT_EQ(CheckState(dialog, IDC_USE_MULTI_SUB_MATERIALS), 0);
        EXPECT_EQ(CheckState(dialog, IDC_USE_FULL_TEXTURE_PATH), 0);
        EXPECT_EQ(platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboGetCurSel, 0, 0), 0);
        EXPECT_EQ(ItemText(dialog, IDC_SMOOTHING_ANGLE), u"35.000");
        EXPECT_FALSE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        // The list holds the three modes in order: selecting each shows it.
        for (int i = 0; i < 3; ++i) {
            platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, i);
            EXPECT_EQ(TheExportOptions().smoothingMode, i);
        }
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, 3);
        EXPECT_EQ(platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboGetCurSel, 0, 0),
                  platform::kComboError);
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, 0);
    });
    const intptr_t first = platform::RunModalDialog(reinterpret_cast<void*>(1), IDD_EXPORT_OPTIONS,
                                                    &ExportOptionsDialogTemplate(), &user, &ExportOptionsDialog);
    EXPECT_EQ(first, platform::kIdCancel);  // the user never pressed a button

    // No owner: the stand-in's user presses OK at once.
    const intptr_t second = platform::RunModalDialog(reinterpret_cast<void*>(1), IDD_EXPORT_OPTIONS,
                                                     &ExportOptionsDialogTemplate(), nullptr, &ExportOptionsDialog);
    EXPECT_EQ(second, platform::kIdOk);
    const ExportOptions defaults;
    const ExportOptions& o = TheExportOptions();
    EXPECT_EQ(o.exportMaterials, defaults.exportMaterials);
    EXPECT_EQ(o.splitVerticesPerUv, 1);
    EXPECT_EQ(o.useFullTexturePath, 0);
    EXPECT_EQ(o.smoothingMode, SmoothAllSame);
    EXPECT_EQ(o.smoothingAngle, 35.0f);
}

}  // namespace
