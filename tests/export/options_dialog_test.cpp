// The options dialog through the POSIX stand-in: what it shows, what OK and
// Cancel keep, how the angle text is read, and where the dialog is placed.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "export_test_util.h"
#include "resources/options_dialog.h"

namespace {

using exporttest::CheckState;
using exporttest::ItemEnabled;
using exporttest::ItemText;
using exporttest::OptionsGuard;
using exporttest::ScriptedUser;

const int kCheckBoxIds[] = {IDC_EXPORT_MATERIALS,        IDC_EXPORT_TEXTURE_COORDS,   IDC_EXPORT_VERTEX_NORMALS,
                            IDC_EXPORT_VERTEX_COLORS,    IDC_EXPORT_MULTIPLE_UV_SETS, IDC_EXPORT_AS_SINGLE_OBJECT,
                            IDC_USE_FACE_NORMALS,        IDC_SPLIT_VERTICES_PER_UV,   IDC_USE_MULTI_SUB_MATERIALS,
                            IDC_USE_FULL_TEXTURE_PATH};

intptr_t RunDialog(std::function<void(platform::DialogWindow*)> script) {
    ScriptedUser user(std::move(script));
    void* owner = platform::AttachDialogUser(&user);
    const intptr_t result = platform::RunModalDialog(reinterpret_cast<void*>(1), IDD_EXPORT_OPTIONS,
                                                     &ExportOptionsDialogTemplate(), owner, &ExportOptionsDialog);
    platform::DetachDialogUser();
    return result;
}

intptr_t SelectionOf(platform::DialogWindow* dialog) {
    return platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboGetCurSel, 0, 0);
}

// The angle that OK stores for the typed text, selecting "Per angle" first
// so that the edit takes input.
float AngleAfterOk(const char16_t* text) {
    RunDialog([&](platform::DialogWindow* dialog) {
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerAngle);
        platform::UserTypeText(dialog, IDC_SMOOTHING_ANGLE, text);
        platform::UserPressButton(dialog, platform::kIdOk);
    });
    return TheExportOptions().smoothingAngle;
}

TEST(OptionsDialog, OkKeepsEveryControlForTheNextOpening) {
    OptionsGuard guard;
    const intptr_t result = RunDialog([](platform::DialogWindow* dialog) {
        for (int id : kCheckBoxIds) platform::UserSetCheck(dialog, id, CheckState(dialog, id) == 0);
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerGroup);
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerAngle);
        platform::UserTypeText(dialog, IDC_SMOOTHING_ANGLE, u"47.25");
        platform::UserPressButton(dialog, platform::kIdOk);
    });
    EXPECT_EQ(result, platform::kIdOk);
    const ExportOptions& o = TheExportOptions();
    EXPECT_EQ(o.exportMaterials, 0);
    EXPECT_EQ(o.exportTextureCoords, 0);
    EXPECT_EQ(o.exportVertexNormals, 0);
    EXPECT_EQ(o.exportVertexColors, 0);
    EXPECT_EQ(o.exportMultipleUvSets, 1);
    EXPECT_EQ(o.exportAsSingleObject, 1);
    EXPECT_EQ(o.useFaceNormals, 1);
    EXPECT_EQ(o.splitVerticesPerUv, 0);
    EXPECT_EQ(o.useMultiSubObjectMaterials, 1);
    EXPECT_EQ(o.useFullTexturePath, 1);
    EXPECT_EQ(o.smoothingMode, SmoothPerAngle);
    EXPECT_EQ(o.smoothingAngle, 47.25f);

    RunDialog([](platform::DialogWindow* dialog) {
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_MATERIALS), 0);
        EXPECT_EQ(CheckState(dialog, IDC_USE_FULL_TEXTURE_PATH), 1);
        EXPECT_EQ(CheckState(dialog, IDC_SPLIT_VERTICES_PER_UV), 0);
        EXPECT_EQ(SelectionOf(dialog), SmoothPerAngle);
        EXPECT_EQ(ItemText(dialog, IDC_SMOOTHING_ANGLE), u"47.250");
        EXPECT_TRUE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
}

TEST(OptionsDialog, CancelCommitsNothingButTheChosenSmoothingMode) {
    OptionsGuard guard;
    const ExportOptions before = TheExportOptions();
    ASSERT_NE(before.smoothingMode, SmoothPerAngle);
    const intptr_t result = RunDialog([](platform::DialogWindow* dialog) {
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerAngle);
        platform::UserTypeText(dialog, IDC_SMOOTHING_ANGLE, u"90");
        platform::UserSetCheck(dialog, IDC_EXPORT_MATERIALS, CheckState(dialog, IDC_EXPORT_MATERIALS) == 0);
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(TheExportOptions().smoothingMode, SmoothPerAngle);
    EXPECT_EQ(TheExportOptions().smoothingAngle, before.smoothingAngle);
    EXPECT_EQ(TheExportOptions().exportMaterials, before.exportMaterials);

    RunDialog([&](platform::DialogWindow* dialog) {
        EXPECT_EQ(SelectionOf(dialog), SmoothPerAngle);
        EXPECT_TRUE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        EXPECT_EQ(CheckState(dialog, IDC_EXPORT_MATERIALS), before.exportMaterials);
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
}

TEST(OptionsDialog, AUserWhoNeverEndsTheDialogCancelsIt) {
    OptionsGuard guard;
    TheExportOptions().exportVertexColors = 1;
    const intptr_t result = RunDialog([](platform::DialogWindow* dialog) {
        platform::UserSetCheck(dialog, IDC_EXPORT_VERTEX_COLORS, false);
    });
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(TheExportOptions().exportVertexColors, 1);
}

TEST(OptionsDialog, AngleEditIsEnabledOnlyForPerAngle) {
    OptionsGuard guard;
    RunDialog([](platform::DialogWindow* dialog) {
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothAllSame);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerAngle);
        EXPECT_TRUE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerGroup);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        // A selection the list does not have leaves mode and state alone.
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, 7);
        EXPECT_EQ(TheExportOptions().smoothingMode, SmoothPerGroup);
        EXPECT_FALSE(ItemEnabled(dialog, IDC_SMOOTHING_ANGLE));
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
}

TEST(OptionsDialog, DisabledAngleTextIsStillReadAndClampedOnOk) {
    OptionsGuard guard;
    RunDialog([](platform::DialogWindow* dialog) {
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothPerAngle);
        platform::UserTypeText(dialog, IDC_SMOOTHING_ANGLE, u"500");
        platform::UserSelectListItem(dialog, IDC_SMOOTHING_MODE, SmoothAllSame);
        platform::UserPressButton(dialog, platform::kIdOk);
    });
    EXPECT_EQ(TheExportOptions().smoothingMode, SmoothAllSame);
    EXPECT_EQ(TheExportOptions().smoothingAngle, 180.0f);
}

TEST(OptionsDialog, AngleTextIsReadAsItsLeadingNumberWithin0To180) {
    OptionsGuard guard;
    EXPECT_EQ(AngleAfterOk(u"abc"), 0.0f);
    EXPECT_EQ(AngleAfterOk(u"-5"), 0.0f);
    EXPECT_EQ(AngleAfterOk(u"-1"), 0.0f);
    EXPECT_EQ(AngleAfterOk(u"500"), 180.0f);
    EXPECT_EQ(AngleAfterOk(u"12.5xyz"), 12.5f);
    EXPECT_EQ(AngleAfterOk(u""), 35.0f);
    EXPECT_EQ(AngleAfterOk(u" \t+1.5e1deg"), 15.0f);
    EXPECT_EQ(AngleAfterOk(u"1e999"), 180.0f);
    EXPECT_EQ(AngleAfterOk(u"-inf"), 0.0f);
    EXPECT_EQ(AngleAfterOk(u"Infinity"), 180.0f);
    EXPECT_EQ(AngleAfterOk(u"nan"), 0.0f);  // no angle in it
    EXPECT_EQ(AngleAfterOk(u"179.9999999"), 180.0f);
    EXPECT_EQ(AngleAfterOk(u"0,5"), 0.0f);  // the point is the only separator

    AngleAfterOk(u"");
    RunDialog([](platform::DialogWindow* dialog) {
        EXPECT_EQ(ItemText(dialog, IDC_SMOOTHING_ANGLE), u"35.000");
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
}

TEST(OptionsDialog, WideTextToDoubleFollowsTheRuntimeConversion) {
    EXPECT_EQ(WideTextToDouble(u"  -12.75e-1x"), -1.275);
    EXPECT_EQ(WideTextToDouble(u".5"), 0.5);
    EXPECT_EQ(WideTextToDouble(u"5."), 5.0);
    EXPECT_EQ(WideTextToDouble(u"1e"), 1.0);
    EXPECT_EQ(WideTextToDouble(u"1e+"), 1.0);
    EXPECT_EQ(WideTextToDouble(u"."), 0.0);
    EXPECT_EQ(WideTextToDouble(u"-"), 0.0);
    EXPECT_EQ(WideTextToDouble(u"0x10"), 0.0);
    EXPECT_EQ(WideTextToDouble(u"0.1"), 0.1);  // correctly rounded
    EXPECT_EQ(WideTextToDouble(u"1e-400"), 0.0);
    EXPECT_EQ(WideTextToDouble(u"-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(WideTextToDouble(u"0.0000001e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(WideTextToDouble(u"INF"), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(WideTextToDouble(u"-NaN")));
    EXPECT_EQ(WideTextToDouble(nullptr), 0.0);
}

// Dialog 197 x 215 units is 295 x 349 pixels at the stand-in's base units.
TEST(OptionsDialog, OpensCentredOnTheDesktopAndInsideTheScreen) {
    struct Case {
        platform::WindowRect desktop;
        int screenWidth, screenHeight;
        long x, y;
    };
    const Case cases[] = {
        {{0, 0, 1024, 768}, 1024, 768, 364, 209},       // centred
        {{0, 0, 200, 300}, 200, 300, 0, 0},             // larger than the screen
        {{1000, 0, 2000, 768}, 1024, 768, 729, 209},    // past the right edge: pushed back
        {{0, 700, 1024, 1468}, 1024, 768, 364, 419},    // past the bottom edge
        {{-500, -400, 300, 400}, 1024, 768, 0, 0},      // left of and above the screen
        {{0, 0, 1023, 767}, 1024, 768, 364, 209},       // odd sizes truncate
    };
    for (const Case& c : cases) {
        platform::SetScreenForTesting(c.desktop, c.screenWidth, c.screenHeight);
        platform::WindowRect placed{};
        RunDialog([&](platform::DialogWindow* dialog) {
            platform::GetWindowRect(dialog, &placed);
            platform::UserPressButton(dialog, platform::kIdCancel);
        });
        EXPECT_EQ(placed.left, c.x) << c.desktop.left << "," << c.desktop.top;
        EXPECT_EQ(placed.top, c.y) << c.desktop.left << "," << c.desktop.top;
        EXPECT_EQ(placed.right - placed.left, 295);
        EXPECT_EQ(placed.bottom - placed.top, 349);
    }
    platform::SetScreenForTesting({0, 0, 1024, 768}, 1024, 768);
    EXPECT_EQ(CenterWindowOnScreen(nullptr, platform::GetDesktopWindow()), 0);
    RunDialog([](platform::DialogWindow* dialog) {
        EXPECT_EQ(CenterWindowOnScreen(dialog, nullptr), 0);
        platform::UserPressButton(dialog, platform::kIdCancel);
    });
}

}  // namespace
