// The plug-in loader against the real module, and the filter operations the
// reference host runs through it.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "host/plugin_loader.h"
#include "host/scene.h"
#include "host/text.h"

namespace {

using namespace asehost;

std::u16string ModulePath() {
    std::u16string path;
    EXPECT_TRUE(Utf8ToUtf16(ASE_MODULE_PATH, path));
    return path;
}

TEST(HostLoader, ChecksVersionsAndKeepsWhatRegistrationReported) {
    PluginLoader loader;
    std::string error;
    ASSERT_TRUE(loader.open(ModulePath().c_str(), error)) << error;
    EXPECT_EQ(loader.pluginVersion(), 3606u);
    EXPECT_EQ(loader.procVersion(), 3606u);
    EXPECT_EQ(loader.registerResult(), 1u);
    EXPECT_EQ(loader.registerCallCount(), 1);
    const PluginInfo& info = loader.info();
    EXPECT_EQ(std::u16string(info.description.wide), u"ASCII 3D Studio Max Importer/Exporter\r\n");
    EXPECT_STREQ(info.description.narrow, "ASCII 3D Studio Max Importer/Exporter\r\n");
    EXPECT_EQ(std::u16string(info.versionText.wide), u"3.50.60");
    EXPECT_EQ(std::u16string(info.filePattern.wide), u"ASCII Max files (*.ase)");
    EXPECT_STREQ(loader.extension().narrow, "ase");
    EXPECT_EQ(info.registrationCodeA, 3u);
    EXPECT_EQ(info.registrationCodeB, 6u);
    ASSERT_NE(loader.filter(), nullptr);
    EXPECT_EQ(info.filterCallback, loader.filter());
}

TEST(HostLoader, RefusingHostGetsZeroWithTheRecordFilled) {
    PluginLoader loader;
    loader.setAcceptRegistration(false);
    std::string error;
    EXPECT_FALSE(loader.open(ModulePath().c_str(), error));
    EXPECT_NE(error.find("registration"), std::string::npos) << error;
    EXPECT_EQ(loader.registerResult(), 0u);
    EXPECT_EQ(loader.registerCallCount(), 1);
    EXPECT_EQ(loader.filter(), nullptr);
    EXPECT_EQ(std::u16string(loader.info().versionText.wide), u"3.50.60");
    EXPECT_NE(loader.info().filterCallback, nullptr);
}

TEST(HostLoader, MissingModuleIsAnErrorNotACrash) {
    PluginLoader loader;
    std::string error;
    EXPECT_FALSE(loader.open(u"/no/such/dir/asefilter-missing.so", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(loader.filter(), nullptr);
    HostScene scene;
    EXPECT_EQ(ImportFile(loader, scene, u"whatever.ase"), 0);
}

TEST(HostLoader, QueryNeedsBothArguments) {
    PluginLoader loader;
    std::string error;
    ASSERT_TRUE(loader.open(ModulePath().c_str(), error)) << error;
    HostScene scene;
    int arg = 0;
    EXPECT_EQ(loader.filter()(FILTER_MSG_QUERY, scene.context(), nullptr, nullptr), 0);
    EXPECT_EQ(loader.filter()(FILTER_MSG_QUERY, scene.context(), &arg, nullptr), 1);
    EXPECT_EQ(loader.filter()(0x12345u, scene.context(), &arg, nullptr), 0);
}

TEST(HostOperations, ContextGetsAnAbsoluteFileNameAndTheHostTexts) {
    HostScene scene;
    ASSERT_TRUE(BeginOperation(scene, u"relative/scene.ase"));
    const HostContext* c = scene.context();
    const std::u16string fileName = c->fileName.wide;
    EXPECT_TRUE(fileName[0] == u'/' || (fileName.size() > 2 && fileName[1] == u':')) << Utf16ToUtf8(fileName);
    EXPECT_TRUE(fileName.ends_with(u"scene.ase")) << Utf16ToUtf8(fileName);
    EXPECT_EQ(std::u16string(c->hostAppName.wide), u"asehost");
    EXPECT_EQ(std::u16string(c->hostVersion.wide), u"1.0");
    EXPECT_STREQ(c->hostWebsite.narrow, "https://asehost.example.org");
    EXPECT_FALSE(BeginOperation(scene, std::u16string(300, u'a').c_str()));
}

// An imported sample keeps both UV views consistent and survives export.
TEST(HostOperations, ImportedSampleHasConsistentViewsAndExports) {
    const std::string sample = std::string(ASE_SHARED_DIR) + "/samples/ThreeCubesGreen.ASE";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample " << sample;
    PluginLoader loader;
    std::string error;
    ASSERT_TRUE(loader.open(ModulePath().c_str(), error)) << error;
    HostScene scene;
    std::u16string path;
    ASSERT_TRUE(Utf8ToUtf16(sample, path));
    ASSERT_EQ(ImportFile(loader, scene, path.c_str()), 1) << ErrorTextOf(*scene.context());
    const HostContext* c = scene.context();
    ASSERT_GT(c->faceGroupCount, 0);
    int faces = 0;
    for (int g = 0; g < c->faceGroupCount; ++g) {
        for (int f = 0; f < c->faceGroups[g].faceCount; ++f, ++faces) {
            const HostFace& face = c->faceGroups[g].faces[f];
            for (int ch = 0; ch < kUvChannels; ++ch) {
                for (int k = 0; k < face.cornerCount; ++k) {
                    const int index = face.uvData->channels[ch].uvIndices[k];
                    ASSERT_GE(index, 0);
                    ASSERT_LT(index, c->uvStore->channels[ch].count);
                    EXPECT_EQ(c->uvStore->channels[ch].uvs[index].u, face.uvData->channels[ch].cornerUvs[k].u);
                    EXPECT_EQ(c->uvStore->channels[ch].uvs[index].v, face.uvData->channels[ch].cornerUvs[k].v);
                }
            }
        }
    }
    int counted = 0;
    for (int o = 0; o < c->objectCount; ++o) counted += c->objects[o].faceCount;
    EXPECT_EQ(counted, faces);

    const std::filesystem::path out = std::filesystem::temp_directory_path() / "asehost_loader_test.ase";
    std::u16string outPath;
    ASSERT_TRUE(Utf8ToUtf16(out.string(), outPath));
    DialogChoices cancel;
    cancel.cancel = true;
    const ExportOutcome cancelled = ExportScene(loader, scene, outPath.c_str(), cancel);
    if (cancelled == ExportOutcome::DialogNotShown) GTEST_SKIP() << "the options dialog cannot open here (no display?)";
    EXPECT_EQ(cancelled, ExportOutcome::Cancelled);
    DialogChoices ok;
    ok.smoothing = 2;
    ok.typeAngle = true;
    ok.angleText = u"30";
    EXPECT_EQ(ExportScene(loader, scene, outPath.c_str(), ok), ExportOutcome::Written);
    std::FILE* file = std::fopen(out.string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char head[20] = {};
    EXPECT_EQ(std::fread(head, 1, 19, file), 19u);
    std::fclose(file);
    EXPECT_EQ(std::string(head), "*3DSMAX_ASCIIEXPORT");
    std::filesystem::remove(out);
}

// A JSON polygon scene goes through the plug-in's export preparation in the
// order the host expects; an unwritable target reports the plug-in's text.
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

    const std::vector<std::string> names = scene.operationNames();
    const std::vector<std::string> expected = {"TriangulateScene", "PostTriangulateStep1", "PostTriangulateStep2", "PrepareVertex", "PrepareVertex",
                                               "PrepareVertex",    "PrepareVertex",        "PreDialogStep",        "GetMainWindow", "PreWriteStep"};
    std::vector<std::string> preparation;
    for (const std::string& name : names) {
        if (name != "GetTexture") preparation.push_back(name);
    }
    EXPECT_EQ(preparation, expected);
    // The host's normals reached the vertices: the quad faces +z.
    EXPECT_EQ(scene.context()->vertices[0].normal[2], 1.0f);
}

}  // namespace
