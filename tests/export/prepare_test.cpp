// Export preparation against the reference host: the geometry check, the
// order of the host's operations, the error boxes and the dialog's result.
#include <gtest/gtest.h>

#include "export_test_util.h"
#include "resources/options_dialog.h"

namespace {

using asehost::HostOp;
using exporttest::LoadScene;
using exporttest::OptionsGuard;
using exporttest::ScriptedUser;

void* const kInstance = reinterpret_cast<void*>(0x1000);

// A quad (triangulated by the host) over four vertices.
const char* const kQuadScene = R"({
  "vertices": [ {"position": [0, 0, 0]}, {"position": [1, 0, 0]},
                {"position": [1, 1, 0]}, {"position": [0, 1, 0]} ],
  "objects": [ {"name": "quad"} ],
  "faceGroups": [ {"faces": [ {"objectIndex": 0, "vertexIndices": [0, 1, 2, 3]} ]} ]
})";

class PrepareExportTest : public testing::Test {
protected:
    // Runs PrepareExport with `script` as the user at the dialog.
    int Prepare(std::function<void(platform::DialogWindow*)> script) {
        ScriptedUser user(std::move(script));
        scene_.setMainWindow(platform::AttachDialogUser(&user));
        const int result = FilterProc(FILTER_MSG_PREPARE_EXPORT, scene_.context(), kInstance, nullptr);
        platform::DetachDialogUser();
        scene_.setMainWindow(nullptr);
        return result;
    }

    static void PressOk(platform::DialogWindow* dialog) { platform::UserPressButton(dialog, platform::kIdOk); }

    OptionsGuard guard_;
    asehost::HostScene scene_;
};

TEST_F(PrepareExportTest, CallsTheHostInOrderThenReturnsTheDialogChoice) {
    LoadScene(scene_, kQuadScene);
    scene_.clearOperationLog();
    EXPECT_EQ(Prepare(PressOk), kPrepareConfirmed);
    const std::vector<std::string> expected = {
        "TriangulateScene", "PostTriangulateStep1", "PostTriangulateStep2", "PrepareVertex", "PrepareVertex",
        "PrepareVertex",    "PrepareVertex",        "PreDialogStep",        "GetMainWindow"};
    EXPECT_EQ(scene_.operationNames(), expected);
    // Triangulated: every face now has three corners.
    const HostFaceGroup& group = scene_.context()->faceGroups[0];
    ASSERT_EQ(group.faceCount, 2);
    EXPECT_EQ(group.faces[0].cornerCount, 3);
    EXPECT_EQ(group.faces[1].cornerCount, 3);

    EXPECT_EQ(Prepare([](platform::DialogWindow* d) { platform::UserPressButton(d, platform::kIdCancel); }),
              kPrepareCancelled);
    EXPECT_EQ(Prepare([](platform::DialogWindow*) {}), kPrepareCancelled);
}

TEST_F(PrepareExportTest, TriangulationFailureShowsAnErrorAndCallsNothingMore) {
    LoadScene(scene_, kQuadScene);
    scene_.clearOperationLog();
    scene_.failCall(HostOp::TriangulateScene, 1);
    const int boxes = platform::ErrorBoxCountForTesting();
    bool dialogOpened = false;
    EXPECT_EQ(Prepare([&](platform::DialogWindow* d) {
                  dialogOpened = true;
                  PressOk(d);
              }),
              kPrepareFailed);
    EXPECT_EQ(platform::ErrorBoxCountForTesting(), boxes + 1);
    EXPECT_EQ(std::u16string(platform::LastErrorBoxTextForTesting()), u"Failed to triangulate geometry.\t");
    EXPECT_EQ(scene_.operationNames(), std::vector<std::string>{"TriangulateScene"});
    EXPECT_FALSE(dialogOpened);
}

TEST_F(PrepareExportTest, SceneWithoutGeometryArraysIsRefusedWithAMessage) {
    const int boxes = platform::ErrorBoxCountForTesting();
    EXPECT_EQ(Prepare(PressOk), kPrepareFailed);
    EXPECT_EQ(platform::ErrorBoxCountForTesting(), boxes + 1);
    EXPECT_EQ(std::u16string(platform::LastErrorBoxTextForTesting()), u"No geometry to export.\t");
    EXPECT_TRUE(scene_.operationLog().empty());

    // Vertices without face groups are no geometry either.
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    scene_.clearOperationLog();
    EXPECT_EQ(Prepare(PressOk), kPrepareFailed);
    EXPECT_EQ(platform::ErrorBoxCountForTesting(), boxes + 2);
    EXPECT_TRUE(scene_.operationLog().empty());
}

TEST_F(PrepareExportTest, PresentButEmptyArraysReachTheDialog) {
    HostContext* context = scene_.context();
    HostVertex noVertex{};
    HostFaceGroup noGroup{};
    context->vertices = &noVertex;
    context->vertexCount = 0;
    context->faceGroups = &noGroup;
    context->faceGroupCount = 0;
    bool dialogOpened = false;
    const int result = Prepare([&](platform::DialogWindow* d) {
        dialogOpened = true;
        PressOk(d);
    });
    context->vertices = nullptr;
    context->faceGroups = nullptr;
    EXPECT_EQ(result, kPrepareConfirmed);
    EXPECT_TRUE(dialogOpened);
    EXPECT_EQ(scene_.callCount(HostOp::PrepareVertex), 0);
}

TEST_F(PrepareExportTest, MissingContextOrInstanceFailsSilently) {
    LoadScene(scene_, kQuadScene);
    scene_.clearOperationLog();
    const int boxes = platform::ErrorBoxCountForTesting();
    EXPECT_EQ(PrepareExport(nullptr, kInstance), kPrepareFailed);
    EXPECT_EQ(PrepareExport(scene_.context(), nullptr), kPrepareFailed);
    EXPECT_EQ(platform::ErrorBoxCountForTesting(), boxes);
    EXPECT_TRUE(scene_.operationLog().empty());
}

}  // namespace
