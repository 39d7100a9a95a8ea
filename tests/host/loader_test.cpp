// The plug-in loader against the real module (a missing module is the
// command-line test's), and the filter operations the reference host runs
// through it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asefilter/version.h"
#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "host/store/text.h"

namespace {

using namespace asehost;

std::u16string ModulePath() {
    std::u16string path;
    EXPECT_TRUE(Utf8ToUtf16(ASE_MODULE_PATH, path));
    return path;
}

// Both version answers are checked; registration fills the record, both
// halves of its texts, and hands the extension over. A refusing host still
// gets the filled record but no filter to call.
TEST(HostLoader, ChecksVersionsAndKeepsWhatRegistrationReported) {
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept);
        PluginLoader loader;
        loader.setAcceptRegistration(accept);
        std::string error;
        EXPECT_EQ(loader.open(ModulePath().c_str(), error), accept) << error;
        EXPECT_EQ(loader.pluginVersion(), 3606u);
        EXPECT_EQ(loader.procVersion(), 3606u);
        EXPECT_EQ(loader.registerResult(), accept ? 1u : 0u);
        EXPECT_EQ(loader.registerCallCount(), 1);
        const PluginInfo& info = loader.info();
        EXPECT_EQ(std::vector<uint32_t>({info.filterId[0], info.filterId[1], info.filterId[2], info.filterId[3],
                                         info.registrationCodeA, info.registrationCodeB}),
                  std::vector<uint32_t>({0x5A3E0C41u, 0x4D6A9B27u, 0x7B2C138Fu, 0xD9A0E461u, 3, 6}));
        for (const auto& [text, expected] : {std::pair{&info.description, "ASCII 3D Studio Max Importer/Exporter\r\n"},
                                             {&info.versionText, "3.50.60"}, {&info.filePattern, "ASCII Max files (*.ase)"},
                                             {&loader.extension(), "ase"}}) {
            EXPECT_STREQ(text->narrow, expected);
            EXPECT_EQ(Utf16ToUtf8(text->wide), expected);
        }
        ASSERT_NE(info.filterCallback, nullptr);
        EXPECT_EQ(loader.filter(), accept ? info.filterCallback : nullptr);
        EXPECT_EQ(error.find("registration") != std::string::npos, !accept) << error;
        HostScene scene;  // a file that is not there, or no filter to import it
        EXPECT_EQ(ImportFile(loader, scene, u"whatever.ase"), 0);
    }
}

TEST(HostOperations, ContextGetsAnAbsoluteFileNameAndTheHostTexts) {
    HostScene scene;
    ASSERT_TRUE(BeginOperation(scene, u"relative/scene.ase"));
    const HostContext* c = scene.context();
    const std::u16string fileName = c->fileName.wide;
    EXPECT_TRUE(fileName[0] == u'/' || (fileName.size() > 2 && fileName[1] == u':')) << Utf16ToUtf8(fileName);
    EXPECT_TRUE(fileName.ends_with(u"scene.ase")) << Utf16ToUtf8(fileName);
    EXPECT_EQ(std::u16string(c->hostAppName.wide), u"asehost");
    EXPECT_STREQ(c->hostWebsite.narrow, "");
    EXPECT_STREQ(c->hostVersion.narrow, ASEFILTER_VERSION_TEXT);
    EXPECT_FALSE(BeginOperation(scene, std::u16string(300, u'a').c_str()));
}

// A JSON polygon scene goes through the plug-in's export preparation in the
// order the host expects; an unwritable target reports the plug-in's text,
// and a user's cancel is told from a dialog that never opened.
TEST(HostOperations, ExportOfPolygonSceneCallsPreparationInOrder) {
    PluginLoader loader;
    std::string error;
    ASSERT_TRUE(loader.open(ModulePath().c_str(), error)) << error;
    HostScene scene;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{"position":[0,0,0]},{"position":[1,0,0]},{"position":[1,1,0]},{"position":[0,1,0]}],
        "objects":[{"name":"quad"}],"faceGroups":[{"faces":[{"objectIndex":0,"vertexIndices":[0,1,2,3]}]}]})",
                               error))
        << error;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "asehost_no_such_dir";
    std::filesystem::remove_all(dir);
    std::u16string outPath;
    ASSERT_TRUE(Utf8ToUtf16((dir / "out.ase").string(), outPath));
    const ExportOutcome outcome = ExportScene(loader, scene, outPath.c_str(), DialogChoices{});
    if (outcome == ExportOutcome::DialogNotShown) GTEST_SKIP() << "the options dialog cannot open here (no display?)";
    EXPECT_EQ(outcome, ExportOutcome::WriteFailed);
    EXPECT_EQ(ErrorTextOf(*scene.context()), "Could not open file for writing.");
    EXPECT_EQ(scene.context()->faceGroups[0].faceCount, 2);

    std::vector<std::string> preparation;
    for (const std::string& name : scene.operationNames()) {
        if (name != "GetTexture") preparation.push_back(name);
    }
    const std::vector<std::string> expected = {"TriangulateScene", "PostTriangulateStep1", "PostTriangulateStep2", "PrepareVertex", "PrepareVertex",
                                               "PrepareVertex",    "PrepareVertex",        "PreDialogStep",        "GetMainWindow", "PreWriteStep"};
    EXPECT_EQ(preparation, expected);
    // The host's normals reached the vertices: the quad faces +z.
    EXPECT_EQ(scene.context()->vertices[0].normal[2], 1.0f);

    DialogChoices cancel;
    cancel.cancel = true;
    EXPECT_EQ(ExportScene(loader, scene, outPath.c_str(), cancel), ExportOutcome::Cancelled);
}

}  // namespace
