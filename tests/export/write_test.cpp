// The export driver: header and scene blocks, the order of material and
// geometry blocks, scene preparation, and the output mechanics.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "export_scenes.h"
#include "export_test_util.h"

namespace {

using asehost::HostOp;
using exporttest::Capture;
using exporttest::Golden;
using exporttest::LoadScene;
using exporttest::OptionsGuard;
using exporttest::ReadTextFile;
using exporttest::TempDir;
using exporttest::Wide;

constexpr int64_t kFixedTime = 1700000000;  // Tue Nov 14 22:13:20 2023 UTC

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class ExportWriteTest : public testing::Test {
protected:
    void SetUp() override {
        platform::SetFixedTimeForTesting(kFixedTime);
        scene_.setHostTexts(u"TestHost", u"2.5", u"https://host.example");
    }
    void TearDown() override { platform::SetFixedTimeForTesting(-1); }

    // Exports the scene to `name` in the temporary folder the way the host
    // does; returns the result and the file's text.
    int Export(const std::string& name, std::string* text = nullptr) {
        path_ = dir_ / name;
        scene_.setFileName(Wide(path_).c_str());
        const int result = FilterProc(FILTER_MSG_EXPORT, scene_.context(), nullptr, nullptr);
        if (text != nullptr) *text = ReadTextFile(path_);
        return result;
    }

    std::vector<HostFace*> Faces() {
        std::vector<HostFace*> faces;
        HostContext* c = scene_.context();
        for (int g = 0; g < c->faceGroupCount; ++g) {
            for (int f = 0; f < c->faceGroups[g].faceCount; ++f) faces.push_back(&c->faceGroups[g].faces[f]);
        }
        return faces;
    }

    OptionsGuard guard_;
    TempDir dir_;
    std::filesystem::path path_;
    asehost::HostScene scene_;
};

TEST_F(ExportWriteTest, HeaderAndSceneBlockMatchTheGolden) {
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    std::string text;
    EXPECT_EQ(Export("scene.ase", &text), 1);
    EXPECT_EQ(text, Golden("header_scene.ase"));
    // Text mode: every line feed reaches a Windows file as CR LF.
    const std::string raw = exporttest::ReadFile(path_);
    const bool onWindows = std::filesystem::path::preferred_separator == L'\\';
    EXPECT_EQ(Occurrences(raw, "\r\n"), onWindows ? Occurrences(raw, "\n") : 0u);
    EXPECT_EQ(std::u16string(scene_.context()->timeText.wide), u"Tue Nov 14 22:13:20 2023");
    EXPECT_STREQ(scene_.context()->timeText.narrow, "Tue Nov 14 22:13:20 2023");
    EXPECT_EQ(TheVertexNormalTable().count, 0);  // released after writing
    EXPECT_EQ(scene_.callCount(HostOp::PreWriteStep), 1);
}

TEST_F(ExportWriteTest, LongHostTextsAreCutToTheirFields) {
    const std::u16string longName(100, u'n');
    scene_.setHostTexts(longName.c_str(), u"\u00e9t\u00e9", u"");
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    std::string text;
    ASSERT_EQ(Export("cut.ase", &text), 1);
    EXPECT_NE(text.find("*COMMENT \"Creator: " + std::string(63, 'n') + " \xe9t\xe9\"\n"), std::string::npos);
    EXPECT_NE(text.find("*COMMENT \"Website: \"\n"), std::string::npos);
}

TEST_F(ExportWriteTest, UnopenableFileSetsTheErrorTextAndReleasesTheTable) {
    LoadScene(scene_, exporttest::kMaterialScene);
    EXPECT_EQ(Export("missing/dir/x.ase"), 0);
    EXPECT_EQ(std::u16string(scene_.context()->errorText.wide), u"Could not open file for writing.");
    EXPECT_STREQ(scene_.context()->errorText.narrow, "Could not open file for writing.");
    EXPECT_EQ(TheVertexNormalTable().count, 0);
    EXPECT_EQ(TheVertexNormalTable().normals, nullptr);
}

TEST_F(ExportWriteTest, DataLostAtCloseIsAFailure) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    scene_.setFileName(u"/dev/full");
    currentContext = scene_.context();
    EXPECT_EQ(WriteExportFile(scene_.context()), 0);
}

TEST_F(ExportWriteTest, MaterialListHoldsOneMaterialPerObjectWithFaces) {
    LoadScene(scene_, exporttest::kMaterialScene);
    std::string text;
    ASSERT_EQ(Export("list.ase", &text), 1);
    currentContext = scene_.context();
    // Object 3 has no faces: ordinals 0, 1, 2 go to objects 0, 1, 2.
    const std::string expected = "*MATERIAL_LIST {\n\t*MATERIAL_COUNT 3\n" +
                                 Capture([](std::FILE* s) { return WriteMaterial(s, 0, 0); }) +
                                 Capture([](std::FILE* s) { return WriteMaterial(s, 1, 1); }) +
                                 Capture([](std::FILE* s) { return WriteMaterial(s, 2, 2); }) + "}\n";
    const size_t list = text.find("*MATERIAL_LIST {");
    ASSERT_NE(list, std::string::npos);
    EXPECT_EQ(text.substr(list, expected.size()), expected);
    EXPECT_EQ(Occurrences(text, "*GEOMOBJECT {"), 3u);
    EXPECT_GT(text.find("*GEOMOBJECT {"), list + expected.size() - 1);
}

TEST_F(ExportWriteTest, WithoutMaterialsTheListIsLeftOutButObjectsAreWritten) {
    LoadScene(scene_, exporttest::kMaterialScene);
    TheExportOptions().exportMaterials = 0;
    std::string text;
    ASSERT_EQ(Export("nomat.ase", &text), 1);
    EXPECT_EQ(text.find("*MATERIAL_LIST"), std::string::npos);
    EXPECT_EQ(Occurrences(text, "*GEOMOBJECT {"), 3u);
}

TEST_F(ExportWriteTest, SingleObjectModeMergesEveryFaceIntoObjectZero) {
    LoadScene(scene_, exporttest::kMaterialScene);
    TheExportOptions().exportAsSingleObject = 1;
    std::string text;
    ASSERT_EQ(Export("single.ase", &text), 1);
    EXPECT_NE(text.find("\t*MATERIAL_COUNT 1\n"), std::string::npos);
    EXPECT_EQ(Occurrences(text, "*GEOMOBJECT {"), 1u);
    HostContext* c = scene_.context();
    EXPECT_EQ(c->objects[0].faceCount, 4);
    for (int i = 1; i < c->objectCount; ++i) EXPECT_EQ(c->objects[i].faceCount, 0);
    for (HostFace* face : Faces()) EXPECT_EQ(face->objectIndex, 0);

    // Faces but no object to count them into: nothing is written out of bounds.
    for (HostFace* face : Faces()) face->objectIndex = 2;
    HostObject* objects = c->objects;
    const int objectCount = c->objectCount;
    c->objects = nullptr;
    PrepareSceneForExport(c);
    c->objects = objects;
    c->objectCount = 0;
    PrepareSceneForExport(c);
    c->objectCount = objectCount;
    ReleaseVertexNormalTable();
    for (HostFace* face : Faces()) EXPECT_EQ(face->objectIndex, 0);
    EXPECT_EQ(objects[0].faceCount, 4);
}

TEST_F(ExportWriteTest, SmoothingGroupsFollowTheMode) {
    LoadScene(scene_, exporttest::kMaterialScene);
    const int objectIndices[] = {-3, 5, 33, 40};
    std::vector<HostFace*> faces = Faces();
    ASSERT_EQ(faces.size(), 4u);

    TheExportOptions().smoothingMode = SmoothPerGroup;
    for (size_t i = 0; i < faces.size(); ++i) faces[i]->objectIndex = objectIndices[i];
    PrepareSceneForExport(scene_.context());
    EXPECT_EQ(faces[0]->smoothingGroup, 0);
    EXPECT_EQ(faces[1]->smoothingGroup, 5);
    EXPECT_EQ(faces[2]->smoothingGroup, 32);
    EXPECT_EQ(faces[3]->smoothingGroup, 32);

    TheExportOptions().smoothingMode = SmoothAllSame;
    PrepareSceneForExport(scene_.context());
    for (HostFace* face : faces) EXPECT_EQ(face->smoothingGroup, 0);
    EXPECT_EQ(scene_.callCount(HostOp::AssignSmoothingGroupsByAngle), 0);

    TheExportOptions().smoothingMode = SmoothPerAngle;
    PrepareSceneForExport(scene_.context());
    EXPECT_EQ(scene_.callCount(HostOp::AssignSmoothingGroupsByAngle), 1);
    ReleaseVertexNormalTable();
}

TEST_F(ExportWriteTest, VertexNormalsAreTheNormalisedSumOfTheirFaces) {
    LoadScene(scene_, R"({
      "vertices": [ {"position": [0, 0, 0], "normal": [9, 9, 9]}, {"position": [1, 0, 0]},
                    {"position": [0, 1, 0]}, {"position": [5, 5, 5]} ],
      "objects": [ {"name": "o"} ],
      "faceGroups": [ {"faces": [
        {"objectIndex": 0, "normal": [0, 0, 1], "vertexIndices": [0, 1, 2]},
        {"objectIndex": 0, "normal": [0, 0, -1], "vertexIndices": [0, 2, 1]},
        {"objectIndex": 0, "normal": [3, 4, 0], "vertexIndices": [1, 1, 1]}
      ]} ]
    })");
    HostFace* odd = Faces()[2];
    odd->vertexIndices[1] = 99;  // no such vertex: adds nothing anywhere
    odd->vertexIndices[2] = -1;
    PrepareSceneForExport(scene_.context());
    const VertexNormalTable& table = TheVertexNormalTable();
    ASSERT_EQ(table.count, 4);
    // Opposite normals cancel; vertex 1 keeps the third face's direction.
    EXPECT_EQ(table.normals[0][0], 0.0f);
    EXPECT_EQ(table.normals[0][2], 0.0f);
    EXPECT_FLOAT_EQ(table.normals[1][0], 0.6f);
    EXPECT_FLOAT_EQ(table.normals[1][1], 0.8f);
    EXPECT_EQ(table.normals[1][2], 0.0f);
    EXPECT_EQ(table.normals[3][0], 0.0f);  // used by no face
    EXPECT_EQ(odd->exportCorners[0], 1);
    EXPECT_EQ(odd->exportCorners[1], 99);
    ReleaseVertexNormalTable();
    EXPECT_EQ(table.count, 0);
}

TEST_F(ExportWriteTest, FacesWithoutVerticesFailCleanlyBeforeTheFileIsTouched) {
    LoadScene(scene_, exporttest::kMaterialScene);
    HostContext* c = scene_.context();
    const int vertexCount = c->vertexCount;
    c->vertexCount = 0;
    const int result = Export("novertices.ase");
    c->vertexCount = vertexCount;
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_STRNE(c->errorText.narrow, "");
    EXPECT_EQ(scene_.callCount(HostOp::PreWriteStep), 0);
    EXPECT_EQ(TheVertexNormalTable().normals, nullptr);
}

TEST(ExportText, TimeTextHasNoLineFeed) {
    platform::SetFixedTimeForTesting(kFixedTime);
    DualString out{};
    HostContext context{};
    MakeTimeText(&context, &out);
    platform::SetFixedTimeForTesting(-1);
    EXPECT_EQ(std::u16string(out.wide), u"Tue Nov 14 22:13:20 2023");
    EXPECT_STREQ(out.narrow, "Tue Nov 14 22:13:20 2023");
    EXPECT_STREQ(context.timeText.narrow, "Tue Nov 14 22:13:20 2023");
}

TEST(ExportText, FileNameOnlyKeepsNameAndExtension) {
    char16_t out[kFileNameOnlyUnits];
    EXPECT_EQ(FileNameOnly(u"C:\\dir\\scene.ase", out), 1);
    EXPECT_EQ(std::u16string(out), u"scene.ase");
    EXPECT_EQ(FileNameOnly(u"/home/u/a.b.c", out), 1);
    EXPECT_EQ(std::u16string(out), u"a.b.c");
    EXPECT_EQ(FileNameOnly(u"C:\\dir\\", out), 1);
    EXPECT_EQ(std::u16string(out), u"");
    EXPECT_EQ(FileNameOnly(nullptr, out), 0);
    EXPECT_EQ(FileNameOnly(u"x", nullptr), 0);
    // Name and extension of 255 units each still fit the 256-unit output.
    const std::u16string longPath = u"d/" + std::u16string(300, u'n') + u"." + std::u16string(300, u'e');
    char16_t guarded[kFileNameOnlyUnits + 8];
    std::fill(std::begin(guarded), std::end(guarded), u'#');
    EXPECT_EQ(FileNameOnly(longPath.c_str(), guarded), 1);
    EXPECT_EQ(std::u16string(guarded).size(), static_cast<size_t>(kFileNameOnlyUnits - 1));
    EXPECT_EQ(guarded[kFileNameOnlyUnits], u'#');
}

TEST(ExportText, WritePieceFormatsAsTheCLocalePrintf) {
    const std::string text = Capture([](std::FILE* s) {
        return WritePiece(s, "%4d|%4d|%d|%s|%f|%f|%f|%f|%f|%f|%5.1f|%-3d|%03d|%%", 7, -5, 12345, "t\tx", 1.5, -0.0,
                          1e20, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::quiet_NaN(), 2.25, 4, 9);
    });
    EXPECT_EQ(text, "   7|  -5|12345|t\tx|1.500000|-0.000000|100000000000000000000.000000|inf|-inf|-nan|  2.2|4  |009|%");

    // Any float widened to double prints as glibc's printf prints it in the
    // C locale.
    std::mt19937 random(12345);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 2000; ++i) {
        uint32_t word = bits(random);
        if (i % 4 == 0) word &= 0xBFFFFFFFu;  // many moderate exponents
        float value = 0.0f;
        std::memcpy(&value, &word, sizeof value);
        if (std::isnan(value)) continue;  // the sign of a NaN is not kept by every printf
        char expected[512];
        std::snprintf(expected, sizeof expected, "%f", static_cast<double>(value));
        EXPECT_EQ(Capture([&](std::FILE* s) { return WritePiece(s, "%f", static_cast<double>(value)); }), expected);
    }
}

TEST(ExportText, WritePieceWritesLongPiecesWholeAndCountsEmptyOnesAsWritten) {
    const std::string big(5000, 'x');
    int result = 0;
    EXPECT_EQ(Capture([&](std::FILE* s) { return WritePiece(s, "<%s>", big.c_str()); }, &result), "<" + big + ">");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Capture([](std::FILE* s) { return WritePiece(s, "%s", ""); }, &result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(WritePiece(nullptr, "x"), 0);
}

}  // namespace
