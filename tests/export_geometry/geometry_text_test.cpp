// The text of both geometry writers: goldens of a two-object scene for every option.
#include "export/geometry/geometry_text.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Object 0 ("Plane", material references [2, 0]) has faces A, C (group 0) and D
// (group 1, no material); object 1 ("Tri 2") has face B between A and C. Vertex 1
// has two channel-0 UVs (faces A, D), vertex 2 two channel-1 UVs (faces A, C).
Json TwoObjectScene() { return Json::parse(exporttest::Golden("geometry_scene.json")); }

// {golden: tests/data/export/geometry_<layout>_<golden>.ase, options}
const struct { const char* golden; ExportOptions options; } kGoldens[] = {
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
    for (size_t row = 0; row < std::size(kGoldens); ++row) {
        for (const bool split : {true, false}) {
            const std::string name = std::string("geometry_") + (split ? "split_" : "indexed_") + kGoldens[row].golden + ".ase";
            SCOPED_TRACE("row " + std::to_string(row) + ": " + name);
            Load(TwoObjectScene());
            TheExportOptions() = kGoldens[row].options;
            int r0 = 0, r1 = 0;
            const std::string text = split ? Split(0, 0, &r0) + Split(1, 1, &r1) : Indexed(0, 0, &r0) + Indexed(1, 1, &r1);
            EXPECT_EQ(r0 + r1, 2);
            EXPECT_EQ(text, exporttest::Golden(name));
        }
    }
}

// Both writers number materials through this map: the first of equal references counts.
TEST(MaterialIdMapTest, GivesTheFirstPositionNamingTheMaterialAndOtherwiseZero) {
    HostMaterialRef refs[] = {{2, 0}, {7, 0}, {2, 0}};
    const HostObject object{{}, 0, 3, refs};
    JobAllocator allocator;
    const MaterialIdMap on(allocator, object, true), off(allocator, object, false);
    EXPECT_EQ(std::vector<int>({on.Lookup(2), on.Lookup(7), on.Lookup(0), on.Lookup(-1), off.Lookup(7)}),
              std::vector<int>({0, 1, 0, 0, 0}));
}

}  // namespace
}  // namespace geomtest
