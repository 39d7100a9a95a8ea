// The options dialog through the POSIX stand-in (what it shows, what OK and
// Cancel keep, how the angle text is read, where it opens) and the export
// preparation that opens it (geometry check, host calls, error boxes).
#include "export_test_util.h"

namespace {

using namespace exporttest;
using namespace platform;

intptr_t RunDialog(Script script) {
    ScriptedUser user(std::move(script));
    void* owner = AttachDialogUser(&user);
    const intptr_t result =
        RunModalDialog(&user, IDD_EXPORT_OPTIONS, &ExportOptionsDialogTemplate(), owner, &ExportOptionsDialog);
    DetachDialogUser();
    return result;
}

Shown NextOpening() {
    Shown shown;
    EXPECT_EQ(RunDialog([&](DialogWindow* d) { shown = Look(d); }), kIdCancel);  // the user never ended it
    return shown;
}

TEST(OptionsDialog, ShowsTheOptionsAndKeepsOnOkEveryControlOnCancelTheSmoothingMode) {
    OptionsGuard guard;
    TheExportOptions() = ExportOptions{};  // as at the first opening in a process
    ExpectShows(NextOpening(), nullptr, u"35.000");
    EXPECT_EQ(RunDialog([](DialogWindow* d) {
                  for (const CheckBox& box : kBoxes) UserSetCheck(d, box.id, box.defaultValue == 0);
                  // Four entries, "From scene" last.
                  for (int mode : {SmoothPerAngle, SmoothFromScene, SmoothAllSame, SmoothPerGroup, SmoothPerAngle}) {
                      UserSelectListItem(d, IDC_SMOOTHING_MODE, mode);
                      EXPECT_EQ(TheExportOptions().smoothingMode, mode);
                      EXPECT_EQ(Look(d).angleEnabled, mode == SmoothPerAngle);
                  }
                  // A position the list does not have leaves mode and state alone.
                  UserSelectListItem(d, IDC_SMOOTHING_MODE, 4);
                  EXPECT_EQ(Look(d).selection, kComboError);
                  EXPECT_TRUE(Look(d).angleEnabled);
                  UserTypeText(d, IDC_SMOOTHING_ANGLE, u"47.25");
                  UserPressButton(d, kIdOk);
              }),
              kIdOk);
    const ExportOptions& o = TheExportOptions();
    for (const CheckBox& box : kBoxes) EXPECT_EQ(o.*box.field, 1 - box.defaultValue) << box.id;
    EXPECT_EQ(o.smoothingMode, SmoothPerAngle);
    EXPECT_EQ(o.smoothingAngle, 47.25f);
    ExpectShows(NextOpening(), &o, u"47.250");

    EXPECT_EQ(RunDialog([](DialogWindow* d) {
                  UserTypeText(d, IDC_SMOOTHING_ANGLE, u"90");
                  UserSetCheck(d, IDC_EXPORT_MATERIALS, true);
                  UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerGroup);
                  UserPressButton(d, kIdCancel);
              }),
              kIdCancel);
    EXPECT_EQ(o.smoothingMode, SmoothPerGroup);
    EXPECT_EQ(o.exportMaterials, 0);
    ExpectShows(NextOpening(), &o, u"47.250");

    // "From scene" kept by OK is what the next opening selects; a stored mode
    // the list lacks selects nothing, and the angle stays off.
    RunDialog([](DialogWindow* d) {
        UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothFromScene);
        UserPressButton(d, kIdOk);
    });
    ExpectShows(NextOpening(), &o, u"47.250");
    TheExportOptions().smoothingMode = 4;
    const Shown unknown = NextOpening();
    EXPECT_EQ(unknown.selection, kComboError);
    EXPECT_FALSE(unknown.angleEnabled);
}

// The angle is the text's leading number, read as the runtime's conversion reads
// it, within 0..180; read on OK even when the edit was switched off after typing.
TEST(OptionsDialog, AngleTextIsReadAsItsLeadingNumberWithin0To180) {
    OptionsGuard guard;
    const struct { const char16_t* text; float angle; int mode = SmoothPerAngle; } cases[] = {
        {u"abc", 0}, {u"-5", 0}, {u"12.5xyz", 12.5f}, {u"", 35}, {u"1e999", 180}, {u"-inf", 0}, {u"Infinity", 180},
        {u"nan", 0}, {u"179.9999999", 180}, {u"0,5", 0}, {u" \t+1.5e1deg", 15}, {u"  12.75E-1x", 1.275f}, {u".5", 0.5f},
        {u"5.", 5}, {u"1e+", 1}, {u".", 0}, {u"-", 0}, {u"0x10", 0}, {u"0.1", 0.1f}, {u"1e-400", 0},
        {u"0.0000001e400", 180}, {u"500", 180, SmoothAllSame}};
    for (const auto& c : cases) {
        RunDialog([&](DialogWindow* d) {
            UserSelectListItem(d, IDC_SMOOTHING_MODE, SmoothPerAngle);
            UserTypeText(d, IDC_SMOOTHING_ANGLE, c.text);
            UserSelectListItem(d, IDC_SMOOTHING_MODE, c.mode);
            UserPressButton(d, kIdOk);
        });
        EXPECT_EQ(TheExportOptions().smoothingAngle, c.angle) << "case " << &c - cases;
        EXPECT_EQ(TheExportOptions().smoothingMode, c.mode);
    }
    EXPECT_EQ(WideTextToDouble(nullptr), 0);
}

// Dialog 197 x 215 units is 295 x 349 pixels at the stand-in's base units.
TEST(OptionsDialog, OpensCentredOnTheDesktopAndInsideTheScreen) {
    const struct { WindowRect desktop; int screenWidth, screenHeight; long x, y; } cases[] = {
        {{0, 0, 1023, 767}, 1024, 768, 364, 209},     // centred; odd sizes truncate
        {{0, 0, 200, 300}, 200, 300, 0, 0},           // larger than the screen: its left top corner shows
        {{1000, 700, 2000, 1468}, 1024, 768, 729, 419},  // past the right and bottom edges: pushed back
        {{-500, -400, 300, 400}, 1024, 768, 0, 0},    // left of and above the screen: pulled in
    };
    for (const auto& c : cases) {
        SetScreenForTesting(c.desktop, c.screenWidth, c.screenHeight);
        WindowRect placed{};
        RunDialog([&](DialogWindow* d) {
            GetWindowRect(d, &placed);
            EXPECT_EQ(CenterWindowOnScreen(d, nullptr), 0);
        });
        EXPECT_EQ(std::vector<long>({placed.left, placed.top, placed.right, placed.bottom}),
                  std::vector<long>({c.x, c.y, c.x + 295, c.y + 349})) << "case " << &c - cases;
    }
    SetScreenForTesting({0, 0, 1024, 768}, 1024, 768);
    EXPECT_EQ(CenterWindowOnScreen(nullptr, GetDesktopWindow()), 0);
}

void* const kInstance = reinterpret_cast<void*>(0x1000);

int Prepare(asehost::HostScene& scene, Script script) {
    return PrepareWithUser(FilterProc, scene, kInstance, std::move(script));
}

TEST(PrepareExport, RefusalsShowTheirMessageAndGoNoFurther) {
    OptionsGuard guard;
    const struct { std::string scene; bool failTriangulation; const char16_t* message; std::vector<std::string> calls; }
        cases[] = {
            {"{}", false, u"No geometry to export.\t", {}},
            {R"({"vertices": [ {"position": [0, 0, 0]} ]})", false, u"No geometry to export.\t", {}},
            {Golden("material_scene.json"), true, u"Failed to triangulate geometry.\t", {"TriangulateScene"}},
        };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        asehost::HostScene scene;
        LoadScene(scene, c.scene);
        scene.clearOperationLog();
        if (c.failTriangulation) scene.failCall(asehost::HostOp::TriangulateScene, 1);
        const int boxes = ErrorBoxCountForTesting();
        // Without a context or an instance it fails silently, calling nothing.
        EXPECT_EQ(PrepareExport(nullptr, kInstance), kPrepareFailed);
        EXPECT_EQ(PrepareExport(scene.context(), nullptr), kPrepareFailed);
        EXPECT_EQ(Prepare(scene, [](DialogWindow*) { ADD_FAILURE() << "the dialog opened"; }), kPrepareFailed);
        EXPECT_EQ(ErrorBoxCountForTesting(), boxes + 1);
        EXPECT_EQ(std::u16string(LastErrorBoxTextForTesting()), c.message);
        EXPECT_EQ(scene.operationNames(), c.calls);
    }
}

}  // namespace
