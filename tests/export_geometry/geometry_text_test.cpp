// The text of both geometry writers: goldens of a small two-object scene for
// every option that changes the text.
#include <fstream>
#include <iterator>
#include <set>

#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Two objects across two face groups. Object 0 ("Plane", material references
// [2, 0]) has faces A, C (group 0) and D (group 1, no material); object 1
// ("Tri 2") has face B between A and C. Vertex 1 is used with two channel-0
// UVs (faces A and D) and vertex 2 with two channel-1 UVs (faces A and C).
Json TwoObjectScene() {
    std::ifstream in(std::string(ASE_TEST_DATA_DIR) + "/export/geometry_scene.json");
    return Json::parse(in);
}

struct GoldenCase {
    const char* golden;  // tests/data/export/geometry_<layout>_<golden>.ase
    ExportOptions options;
};

const GoldenCase kGoldens[] = {
    {"defaults", {}},
    {"defaults", {.smoothingMode = 7}},  // unknown modes write 1
    {"no_texcoords", {.exportTextureCoords = 0}},
    {"multi_uv", {.exportMultipleUvSets = 1}},
    {"multi_uv_no_texcoords", {.exportTextureCoords = 0, .exportMultipleUvSets = 1}},
    {"face_normals", {.useFaceNormals = 1}},
    {"smoothing_per_group", {.smoothingMode = SmoothPerGroup}},
    {"smoothing_per_group", {.smoothingMode = SmoothPerAngle}},
    {"no_colors_no_normals", {.exportVertexNormals = 0, .exportVertexColors = 0}},
    {"no_materials", {.exportMaterials = 0}},
    {"all_off", {.exportMaterials = 0, .exportTextureCoords = 0, .exportVertexNormals = 0, .exportVertexColors = 0}},
    // A flag counts as set only when it is 1.
    {"all_off",
     {.exportMaterials = 2, .exportTextureCoords = 2, .exportVertexNormals = -1, .exportVertexColors = 2,
      .exportMultipleUvSets = 2, .useFaceNormals = 2}},
};

TEST_F(GeometryExportTest, BothLayoutsMatchTheirGoldenFilesForEveryOptionSet) {
    std::set<std::string> updated;
    for (size_t row = 0; row < std::size(kGoldens); ++row) {
        for (const bool split : {true, false}) {
            const std::string path = std::string(ASE_TEST_DATA_DIR) + "/export/geometry_" +
                                     (split ? "split_" : "indexed_") + kGoldens[row].golden + ".ase";
            SCOPED_TRACE("row " + std::to_string(row) + ": " + path);
            Load(TwoObjectScene());
            TheExportOptions() = kGoldens[row].options;
            int r0 = 0;
            int r1 = 0;
            const std::string text = split ? Split(0, 0, &r0) + Split(1, 1, &r1) : Indexed(0, 0, &r0) + Indexed(1, 1, &r1);
            EXPECT_EQ(r0 + r1, 2);
            if (std::getenv("ASE_UPDATE_GOLDENS") != nullptr && updated.insert(path).second) {
                std::ofstream(path, std::ios::binary) << text;
            }
            std::ifstream in(path, std::ios::binary);
            const std::string golden{std::istreambuf_iterator<char>(in), {}};
            ASSERT_FALSE(golden.empty()) << "missing golden";
            EXPECT_EQ(text, golden);
        }
    }
}

TEST_F(GeometryExportTest, FirstOfTwoEqualMaterialReferencesGivesTheMaterialId) {
    Load(TwoObjectScene());
    ASSERT_EQ(context()->objects[0].materialRefCount, 2);
    // References [2, 2]: face A (material 2) is at position 0, face C
    // (material 0) is unlisted; all three faces get id 0.
    context()->objects[0].materialRefs[1].materialIndex = 2;
    for (const std::string& text : {Split(0), Indexed(0)}) {
        EXPECT_EQ(LinesWith(text, "*MESH_FACE ").size(), 3u);
        EXPECT_EQ(text.find("*MESH_MTLID 1"), npos);
    }
}

}  // namespace
}  // namespace geomtest
