// The export driver: header and scene blocks, the order of material and
// geometry blocks, scene preparation, failures, and the output mechanics.
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "export_test_util.h"

namespace {

using namespace exporttest;
constexpr size_t npos = std::string::npos;

class ExportWriteTest : public ExportTest {
protected:
    // Exports the scene to `name` in the temporary folder the way the host
    // does; returns the result and the file's text.
    int Export(const std::string& name, std::string* text = nullptr) {
        path_ = dir_.path / name;
        scene_.setFileName(path_.u16string().c_str());
        const int result = FilterProc(FILTER_MSG_EXPORT, scene_.context(), nullptr, nullptr);
        if (text != nullptr) *text = ReadFile(path_, true);
        return result;
    }
    // The faces of the scene's only face group.
    std::span<HostFace> Faces() {
        const HostFaceGroup& group = scene_.context()->faceGroups[0];
        return {group.faces, static_cast<size_t>(group.faceCount)};
    }

    std::filesystem::path path_;
};

TEST_F(ExportWriteTest, HeaderSceneAndMaterialListMatchTheGoldenWithHostTextsCutToTheirFields) {
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    std::string text;
    EXPECT_EQ(Export("scene.ase", &text), 1);
    const std::string golden = Golden("header_scene.ase");
    EXPECT_EQ(text, golden);
    TheExportOptions().exportMaterials = 0;  // (materials by object are the end-to-end tests')
    ASSERT_EQ(Export("scene.ase", &text), 1);
    EXPECT_EQ(text, golden.substr(0, golden.find("*MATERIAL_LIST")));

    // Host texts are cut to their fields and converted to the ANSI code page.
    scene_.setHostTexts(std::u16string(100, u'n').c_str(), u"\u00e9t\u00e9", u"");
    ASSERT_EQ(Export("cut.ase", &text), 1);
    EXPECT_NE(text.find("*COMMENT \"Creator: " + std::string(63, 'n') + " \xe9t\xe9\"\n"), npos);
}

// (Failures of the output itself are ExportFailureTest's.)
TEST_F(ExportWriteTest, FacesWithoutVerticesAreRefusedBeforeTheFileIsTouched) {
    LoadScene(scene_, Golden("material_scene.json"));
    HostContext* c = scene_.context();
    const int vertexCount = std::exchange(c->vertexCount, 0);
    EXPECT_EQ(Export("novertices.ase"), 0);
    c->vertexCount = vertexCount;
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_STREQ(c->errorText.narrow, "Could not prepare vertex normals for export.");
    EXPECT_EQ(scene_.callCount(asehost::HostOp::PreWriteStep), 0);
}

TEST_F(ExportWriteTest, SingleObjectModeMergesEveryFaceIntoObjectZero) {
    LoadScene(scene_, Golden("material_scene.json"));
    TheExportOptions().exportAsSingleObject = 1;
    std::string text;
    ASSERT_EQ(Export("single.ase", &text), 1);
    EXPECT_NE(text.find("\t*MATERIAL_COUNT 1\n"), npos);
    EXPECT_NE(text.find("*GEOMOBJECT {"), npos);
    EXPECT_EQ(text.find("*GEOMOBJECT {"), text.rfind("*GEOMOBJECT {"));  // only one
    HostContext* c = scene_.context();
    for (int i = 0; i < c->objectCount; ++i) EXPECT_EQ(c->objects[i].faceCount, i == 0 ? 4 : 0);
    for (const HostFace& face : Faces()) EXPECT_EQ(face.objectIndex, 0);

    // Faces but no object to count them into: nothing is written out of bounds.
    for (HostFace& face : Faces()) face.objectIndex = 2;
    ExportJob job(c);
    HostObject* objects = std::exchange(c->objects, nullptr);
    PrepareSceneForExport(job);
    c->objects = objects;
    const int objectCount = std::exchange(c->objectCount, 0);
    PrepareSceneForExport(job);
    c->objectCount = objectCount;
    for (const HostFace& face : Faces()) EXPECT_EQ(face.objectIndex, 0);
    EXPECT_EQ(objects[0].faceCount, 4);
}

TEST_F(ExportWriteTest, SmoothingGroupsFollowTheMode) {
    LoadScene(scene_, Golden("material_scene.json"));
    const std::span<HostFace> faces = Faces();
    ASSERT_EQ(faces.size(), 4u);
    // Per group: the object index, kept within 0..32; all the same: 0; per angle: the host's.
    const int objectIndices[] = {-3, 5, 33, 40}, perGroup[] = {0, 5, 32, 32};
    for (int mode : {SmoothPerGroup, SmoothAllSame, SmoothPerAngle}) {
        for (size_t i = 0; i < 4; ++i) faces[i].objectIndex = objectIndices[i];
        TheExportOptions().smoothingMode = mode;
        ExportJob job(scene_.context());
        PrepareSceneForExport(job);
        EXPECT_EQ(scene_.callCount(asehost::HostOp::AssignSmoothingGroupsByAngle), mode == SmoothPerAngle ? 1 : 0);
        if (mode == SmoothPerAngle) break;
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(faces[i].smoothingGroup, mode == SmoothPerGroup ? perGroup[i] : 0);
    }
}

TEST_F(ExportWriteTest, VertexNormalsAreTheNormalisedSumOfTheirFaces) {
    LoadScene(scene_, Golden("normals_scene.json"));
    HostFace* odd = &Faces()[2];
    odd->vertexIndices[1] = 99;  // no such vertex: adds nothing anywhere
    odd->vertexIndices[2] = -1;
    ExportJob job(scene_.context());
    ASSERT_TRUE(PrepareSceneForExport(job));
    const VertexNormalTable& table = job.normals;
    ASSERT_EQ(table.count, 4);
    // Opposite normals cancel; vertex 1 keeps the third face's direction; vertex 3 is used by no face.
    const float expected[4][3] = {{0, 0, 0}, {0.6f, 0.8f, 0}, {0, 0, 0}, {0, 0, 0}};
    for (int v = 0; v < 4; ++v) {
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(table.normals[v][a], expected[v][a], 1e-6) << v << "," << a;
    }
    EXPECT_EQ(odd->exportCorners[1], 99);
}

// Faces 0 and 1 of normals_scene.json lie back to back on vertices 0, 1 and
// 2: at vertices 0 and 2 their normals cancel. Those corners are written
// with their own face's normal, per face, whatever the mode; a sum just over
// 1e-6 long keeps its direction for both faces.
TEST_F(ExportWriteTest, CornersWhoseVertexSumHasNoDirectionTakeTheirFaceNormal) {
    LoadScene(scene_, Golden("normals_scene.json"));
    // Face 1's normal, and what its first corner (vertex 0) is then written with, as (x, -z, y).
    const struct { float back; const char* corner; } cases[] = {
        {-1.0f, "\t0.000000\t1.000000\t0.000000"},       // the sum is zero: the face's own
        {-0.9999999f, "\t0.000000\t1.000000\t0.000000"},  // about 1.2e-7 long: still the face's
        {-0.999998f, "\t0.000000\t-1.000000\t0.000000"},  // about 2e-6 long: the sum's direction
    };
    for (const auto& c : cases) {
        for (int mode : {SmoothAllSame, SmoothPerGroup, SmoothPerAngle, SmoothFromScene}) {
            SCOPED_TRACE(std::to_string(c.back) + " mode " + std::to_string(mode));
            // One group for every face, which "From scene" keeps.
            for (HostFace& face : Faces()) face.smoothingGroup = 1;
            Faces()[1].normal[2] = c.back;
            TheExportOptions().smoothingMode = mode;
            std::string text;
            ASSERT_EQ(Export("zero.ase", &text), 1);
            std::vector<std::string> corners;
            for (size_t at = text.find("*MESH_VERTEXNORMAL"); at != npos; at = text.find("*MESH_VERTEXNORMAL", at + 1)) {
                const size_t values = text.find('\t', at);
                corners.push_back(text.substr(values, text.find('\n', at) - values));
            }
            ASSERT_EQ(corners.size(), 9u);
            EXPECT_EQ(corners[0], "\t0.000000\t-1.000000\t0.000000");  // face 0 at vertex 0: up
            EXPECT_EQ(corners[1], "\t0.600000\t-0.000000\t0.800000");   // vertex 1 has a direction
            EXPECT_EQ(corners[3], c.corner);
            EXPECT_EQ(corners[4], corners[3]);  // vertex 2 as vertex 0
        }
    }
}

// material_scene.json: object 0 uses the two-sided "Wood" with maps on every
// channel, 1 uses two layered materials, 2 uses none, 3 has no faces.
class MaterialWriterTest : public ExportWriteTest {
protected:
    void SetUp() override {
        LoadScene(scene_, Golden("material_scene.json"));
        job_ = std::make_unique<ExportJob>(scene_.context());
    }
    void TearDown() override {
        job_.reset();
        ExportWriteTest::TearDown();
    }
    // Written with the options the test set last.
    std::string Material(int objectIndex, int ordinal, int* result = nullptr) {
        job_->options = TheExportOptions();
        return Capture([&](std::FILE* s) { return WriteMaterial(*job_, s, objectIndex, ordinal); }, result);
    }
    // Material 5 of `object` written with `field` set to `value` for the while.
    template <typename T, typename V>
    std::string MaterialWith(T& field, V value, int object) {
        T saved = std::exchange(field, value);
        const std::string text = Material(object, 5);
        field = saved;
        return text;
    }
    HostObject& Object(int index) { return scene_.context()->objects[index]; }
    std::unique_ptr<ExportJob> job_;
};

TEST_F(MaterialWriterTest, StandardMultiAndOptionFormsMatchTheirGoldens) {
    int result = 0;
    EXPECT_EQ(Material(0, 0, &result), Golden("material_standard.ase"));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Material(1, 4, &result), Golden("material_multi.ase"));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Material(2, 3), Material(0, 3));  // no references: host material 0
    // The multi form even for one reference (maps one level deeper) or none; maps with their whole path.
    TheExportOptions().useMultiSubObjectMaterials = 1;
    TheExportOptions().useFullTexturePath = 1;
    EXPECT_EQ(Material(0, 2) + Material(2, 0), Golden("material_multi_options.ase"));
}

TEST_F(MaterialWriterTest, MaterialsMissingFromTheTableAreWrittenAsTheDefault) {
    HostContext* c = scene_.context();
    for (int index : {3, -1}) {  // the table holds 0..2
        EXPECT_EQ(MaterialWith(Object(0).materialRefs[0].materialIndex, index, 0), Golden("material_default.ase"));
    }
    // Without a table even material 0 is missing.
    EXPECT_EQ(MaterialWith(c->materials, nullptr, 2), Golden("material_default.ase"));
    EXPECT_EQ(MaterialWith(c->materialCount, 0, 2), Golden("material_default.ase"));
    // In the multi form only the bad sub-material is the default, under its own number.
    Object(1).materialRefs[1].materialIndex = 1000;
    EXPECT_EQ(Material(1, 4), Golden("material_multi_bad_ref.ase"));
    const std::string bare = MaterialWith(Object(1).materialRefs, nullptr, 1);
    EXPECT_NE(bare.find("\"Material5_0\""), npos);
    EXPECT_NE(bare.find("\"Material5_1\""), npos);
}

TEST_F(MaterialWriterTest, RefusesWhatItCannotWriteAndReportsFailedWrites) {
    const auto refused = [&](int object) { int result = 1; return Material(object, 0, &result).empty() && result == 0; };
    EXPECT_TRUE(refused(-1));
    EXPECT_TRUE(refused(4));
    EXPECT_EQ(WriteMaterial(*job_, nullptr, 0, 0), 0);
    // A stream open for reading refuses every write.
    std::FILE* readOnly = std::fopen(ASE_TEST_DATA_DIR "/export/material_scene.json", "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(WriteMaterial(*job_, readOnly, 0, 0) + WriteAseScene(*job_, readOnly), 0);
    std::fclose(readOnly);
    job_ = std::make_unique<ExportJob>(nullptr);
    EXPECT_TRUE(refused(0));
}

// Name and extension may each fill 255 units; together they are cut to the 256-unit output.
TEST(ExportText, FileNameOnlyCutsNameAndExtensionToItsOutput) {
    const std::u16string longPath = u"d/" + std::u16string(200, u'n') + u"." + std::u16string(300, u'e');
    char16_t out[kFileNameOnlyUnits + 8];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(FileNameOnly(longPath.c_str(), out), 1);
    EXPECT_EQ(std::u16string(out), std::u16string(200, u'n') + u'.' + std::u16string(54, u'e'));
    EXPECT_EQ(out[kFileNameOnlyUnits], u'#');
    EXPECT_EQ(FileNameOnly(nullptr, out) + FileNameOnly(u"x", nullptr), 0);
}

TEST(ExportText, WritePieceFormatsAsTheCLocalePrintf) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Capture([&](std::FILE* s) {
                  return WritePiece(s, "%4d|%4d|%d|%s|%f|%f|%f|%f|%f|%f|%5.1f|%-3d|%03d|%%", 7, -5, 12345, "t\tx", 1.5,
                                    -0.0, 1e20, inf, -inf, -nan, 2.25, 4, 9);
              }),
              "   7|  -5|12345|t\tx|1.500000|-0.000000|100000000000000000000.000000|inf|-inf|-nan|  2.2|4  |009|%");

    // Any float widened to double prints as glibc's printf prints it in the C locale.
    std::mt19937 random(12345);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t mask = i % 4 == 0 ? 0xBFFFFFFFu : ~0u;  // now and then moderate exponents
        const double value = std::bit_cast<float>(static_cast<uint32_t>(random()) & mask);
        if (std::isnan(value)) continue;  // the sign of a NaN is not kept by every printf
        char expected[512];
        std::snprintf(expected, sizeof expected, "%f", value);
        EXPECT_EQ(Capture([&](std::FILE* s) { return WritePiece(s, "%f", value); }), expected);
    }

    // Every precision, flag and width on values below 1e9, which take the
    // integer-arithmetic digits: dyadic fractions that end exactly on a
    // rounding tie, full 53-bit doubles, the edges of 1e9 and of the smallest
    // magnitudes.
    static constexpr char kForms[] =
        "%f|%.0f|%.1f|%.2f|%.3f|%.4f|%.5f|%.7f|%.8f|%.9f|%.10f|%+f|% 12.4f|%012.3f|%-11.2f|";
    std::vector<double> values = {0.5,   1.5,  2.5, 0.125, 1e9, -1e9, std::nextafter(1e9, 0.0), 1e-300, 4e-324,
                                  -2e-7, 5e-7, -0.0};
    for (int i = 0; i < 600; ++i) {
        const double dyadic = static_cast<double>(random() % 4000000) / static_cast<double>(1u << (1 + i % 24));
        values.push_back(i % 2 == 0 ? dyadic : -dyadic);
        const uint64_t bits = ((uint64_t{random()} << 32) | random()) & 0x800FFFFFFFFFFFFFull;
        values.push_back(std::bit_cast<double>(bits | (uint64_t{990 + random() % 60} << 52)));  // 2^-33 .. 2^26
    }
    for (const double x : values) {
        char expected[1024];
        std::snprintf(expected, sizeof expected, kForms, x, x, x, x, x, x, x, x, x, x, x, x, x, x, x);
        const auto write = [&](std::FILE* s) {
            return WritePiece(s, kForms, x, x, x, x, x, x, x, x, x, x, x, x, x, x, x);
        };
        EXPECT_EQ(Capture(write), expected) << x;
    }

    // Long pieces go out whole; an empty piece lost nothing.
    const std::string big(5000, 'x');
    int result = 0;
    EXPECT_EQ(Capture([&](std::FILE* s) { return WritePiece(s, "<%s>", big.c_str()); }, &result), "<" + big + ">");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Capture([](std::FILE* s) { return WritePiece(s, "%s", ""); }, &result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(WritePiece(nullptr, "x"), 0);
}

}  // namespace
