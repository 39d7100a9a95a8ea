// The text of both geometry writers: goldens of a small two-object scene for
// every option that changes the text, and hand-checked lines and cases.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Two objects across two face groups. Object 0 ("Plane") has faces A, C (group
// 0) and D (group 1); object 1 ("Tri 2") has face B between A and C. Vertex 1
// is used with two channel-0 UVs (faces A and D) and vertex 2 with two
// channel-1 UVs (faces A and C).
Json TwoObjectScene() {
    Json scene;
    scene["materials"] = Json::array({Json{{"name", "m0"}}, Json{{"name", "m1"}}, Json{{"name", "m2"}}});
    scene["vertices"] = Json::array({
        Vertex(0, 0, 0, {0, 0, 1}, {1, 0, 0, 1}),
        Vertex(1, 0, 0, {0, 0, 1}, {0, 1, 0, 1}),
        Vertex(1, 1, 0, {0, 1, 0}, {0, 0, 1, 1}),
        Vertex(0, 1, 0, {1, 0, 0}, {1, 1, 1, 1}),
        Vertex(2, 0, 0.5f, {0, 0, -1}, {0.5f, 0.25f, 0.125f, 1}),
        Vertex(1, 2, 3, {0.6f, 0, 0.8f}, {0.2f, 0.4f, 0.6f, 1}),
    });
    scene["uvStore"] = Json::array({
        Json::array({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5f, 0.25f}, {0.75f, 0.5f}}),
        Json::array({{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}}),
    });
    scene["objects"] = Json::array({Json{{"name", "Plane"}}, Json{{"name", "Tri 2"}}});
    scene["faceGroups"] = Json::array({
        Json{{"faces", Json::array({
                           Face(0, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}, 2, 3, {0, 0, 1}),
                           Face(1, {5, 3, 4}, {5, 3, 4}, {3, 3, 3}, 1, 7, {0, 1, 0}),
                           Face(0, {0, 2, 3}, {0, 2, 3}, {0, 3, 3}, 0, 4, {0, 0, 1}),
                       })}},
        Json{{"faces", Json::array({Face(0, {1, 4, 2}, {4, 5, 2}, {1, 3, 2}, -1, 5, {0, 0, -1})})}},
    });
    return scene;
}

struct Variant {
    const char* name;
    void (*apply)(ExportOptions&);
};

const Variant kVariants[] = {
    {"defaults", [](ExportOptions&) {}},
    {"no_texcoords", [](ExportOptions& o) { o.exportTextureCoords = 0; }},
    {"multi_uv", [](ExportOptions& o) { o.exportMultipleUvSets = 1; }},
    {"multi_uv_no_texcoords",
     [](ExportOptions& o) {
         o.exportMultipleUvSets = 1;
         o.exportTextureCoords = 0;
     }},
    {"face_normals", [](ExportOptions& o) { o.useFaceNormals = 1; }},
    {"smoothing_per_group", [](ExportOptions& o) { o.smoothingMode = SmoothPerGroup; }},
    {"no_colors_no_normals",
     [](ExportOptions& o) {
         o.exportVertexColors = 0;
         o.exportVertexNormals = 0;
     }},
    {"no_materials", [](ExportOptions& o) { o.exportMaterials = 0; }},
    {"all_off",
     [](ExportOptions& o) {
         o.exportTextureCoords = 0;
         o.exportVertexColors = 0;
         o.exportVertexNormals = 0;
         o.exportMaterials = 0;
     }},
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : std::string();
}

class GeometryGoldenTest : public GeometryExportTest, public ::testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(GeometryGoldenTest, BothObjectsMatchTheGoldenFileByteForByte) {
    const bool split = std::get<0>(GetParam());
    const Variant& variant = kVariants[std::get<1>(GetParam())];
    Load(TwoObjectScene());
    variant.apply(TheExportOptions());
    int r0 = 0;
    int r1 = 0;
    const std::string text = split ? Split(0, 0, &r0) + Split(1, 1, &r1) : Indexed(0, 0, &r0) + Indexed(1, 1, &r1);
    EXPECT_EQ(r0, 1);
    EXPECT_EQ(r1, 1);
    const std::string path = std::string(ASE_TEST_DATA_DIR) + "/export/geometry_" + (split ? "split_" : "indexed_") +
                             variant.name + ".ase";
    if (std::getenv("ASE_UPDATE_GOLDENS") != nullptr) {
        std::ofstream(path, std::ios::binary) << text;
    }
    const std::string golden = ReadFile(path);
    ASSERT_FALSE(golden.empty()) << "missing golden " << path;
    EXPECT_EQ(text, golden) << path;
}

INSTANTIATE_TEST_SUITE_P(AllOptions, GeometryGoldenTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Range(0, int(std::size(kVariants)))),
                         [](const ::testing::TestParamInfo<std::tuple<bool, int>>& info) {
                             return std::string(std::get<0>(info.param) ? "Split_" : "Indexed_") +
                                    kVariants[std::get<1>(info.param)].name;
                         });

using GeometryTextTest = GeometryExportTest;

TEST_F(GeometryTextTest, NodeHeaderNamesTheObjectTwiceWithAnIdentityMatrix) {
    Load(TwoObjectScene());
    const std::string text = Split(1, 1);
    EXPECT_EQ(text.rfind("*GEOMOBJECT {\n\t*NODE_NAME \"Tri 2\"\n\t*NODE_TM {\n\t\t*NODE_NAME \"Tri 2\"\n"
                         "\t\t*INHERIT_POS 0 0 0\n",
                         0),
              0u);
    EXPECT_NE(text.find("\t\t*TM_ROW0 1.00000000\t0.00000000\t0.00000000\n"), std::string::npos);
    EXPECT_NE(text.find("\t\t*TM_SCALEAXISANG 0.00000000\n\t}\n\t*MESH {\n\t\t*TIMEVALUE 0\n"), std::string::npos);
    const std::string tail = "\t}\n\t*PROP_MOTIONBLUR 0\n\t*PROP_CASTSHADOW 1\n\t*PROP_RECVSHADOW 1\n\t*MATERIAL_REF 1\n}\n";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(GeometryTextTest, PositionsAreWrittenAsXMinusZY) {
    Load(TwoObjectScene());
    for (const std::string& text : {Split(1), Indexed(1)}) {
        EXPECT_EQ(LinesWith(text, "*MESH_VERTEX ").at(0), "\t\t\t*MESH_VERTEX    0\t1.000000\t-3.000000\t2.000000");
        // Face B's normal (0, 1, 0).
        EXPECT_NE(text.find("*MESH_FACENORMAL 0\t0.000000\t-0.000000\t1.000000\n"), std::string::npos);
    }
}

TEST_F(GeometryTextTest, TextureVIsWrittenAsOneMinusV) {
    Load(TwoObjectScene());
    // Split vertex 4 is vertex 1 with channel-0 UV (0.5, 0.25).
    EXPECT_EQ(LinesWith(Split(0), "*MESH_TVERT ").at(4), "\t\t\t*MESH_TVERT 4\t0.500000\t0.750000\t0.0");
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_TVERT ").at(4), "\t\t\t*MESH_TVERT 4\t0.500000\t0.750000\t0.0");
}

TEST_F(GeometryTextTest, FaceLineCarriesCornersEdgeFlagsSmoothingAndMaterialPosition) {
    Load(TwoObjectScene());
    const auto faces = LinesWith(Split(0), "*MESH_FACE ");
    ASSERT_EQ(faces.size(), 3u);
    // Object 0's references are [2, 0]: face A (material 2) is position 0,
    // face C (material 0) position 1, face D (no material) gets 0.
    EXPECT_EQ(faces[0], "\t\t\t*MESH_FACE    0:    A:    0 B:    1 C:    2 AB:    1 BC:    1 CA:    0\t"
                        "*MESH_SMOOTHING 1\t*MESH_MTLID 0");
    EXPECT_EQ(faces[1], "\t\t\t*MESH_FACE    1:    A:    0 B:    2 C:    3 AB:    1 BC:    1 CA:    0\t"
                        "*MESH_SMOOTHING 1\t*MESH_MTLID 1");
    EXPECT_EQ(faces[2], "\t\t\t*MESH_FACE    2:    A:    4 B:    5 C:    2 AB:    1 BC:    1 CA:    0\t"
                        "*MESH_SMOOTHING 1\t*MESH_MTLID 0");
}

TEST_F(GeometryTextTest, SplitVerticesFollowTheComparedTextureChannels) {
    Load(TwoObjectScene());
    struct Case {
        int texcoords, multi, vertices;
    } cases[] = {{1, 0, 6}, {0, 0, 5}, {1, 1, 7}, {0, 1, 7}};
    for (const Case& c : cases) {
        TheExportOptions().exportTextureCoords = c.texcoords;
        TheExportOptions().exportMultipleUvSets = c.multi;
        const std::string text = Split(0);
        EXPECT_EQ(LinesWith(text, "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX " + std::to_string(c.vertices));
        EXPECT_EQ(LinesWith(text, "*MESH_NUMTVERTEX").size(), size_t(c.texcoords == 1 ? 1 + c.multi : 0));
        EXPECT_EQ(LinesWith(text, "*MESH_MAPPINGCHANNEL").size(), size_t(c.texcoords == 1 ? c.multi : 0));
    }
}

TEST_F(GeometryTextTest, IndexedLayoutKeepsTextureVerticesApart) {
    Load(TwoObjectScene());
    TheExportOptions().exportMultipleUvSets = 1;
    const std::string text = Indexed(0);
    EXPECT_EQ(LinesWith(text, "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 5");
    const auto tverts = LinesWith(text, "*MESH_NUMTVERTEX ");
    ASSERT_EQ(tverts.size(), 2u);
    EXPECT_EQ(tverts[0], "\t\t*MESH_NUMTVERTEX 6");
    EXPECT_EQ(tverts[1], "\t\t\t*MESH_NUMTVERTEX 4");  // channel-1 indices 0, 1, 2, 3 used
    const auto tfaces = LinesWith(text, "*MESH_TFACE ");
    ASSERT_EQ(tfaces.size(), 6u);
    EXPECT_EQ(tfaces[2], "\t\t\t*MESH_TFACE 2\t4\t5\t2");
    EXPECT_EQ(tfaces[4], "\t\t\t\t*MESH_TFACE 1\t0\t3\t3");
}

TEST_F(GeometryTextTest, VertexNormalsComeFromTheTableWhenSplitAndFromTheHostWhenIndexed) {
    Load(TwoObjectScene());
    const std::string vertexNormalOfVertex3 = "\t\t\t\t*MESH_VERTEXNORMAL 3\t";
    // Host normal of vertex 3 is (1, 0, 0); the table holds (-0, 1, 0).
    const auto split = LinesWith(Split(0), "*MESH_VERTEXNORMAL 3\t");
    const auto indexed = LinesWith(Indexed(0), "*MESH_VERTEXNORMAL 3\t");
    ASSERT_FALSE(split.empty());
    ASSERT_FALSE(indexed.empty());
    EXPECT_EQ(split[0], vertexNormalOfVertex3 + "-0.000000\t-0.000000\t1.000000");
    EXPECT_EQ(indexed[0], vertexNormalOfVertex3 + "1.000000\t-0.000000\t0.000000");
    TheExportOptions().useFaceNormals = 1;
    EXPECT_EQ(LinesWith(Split(0), "*MESH_VERTEXNORMAL 3\t").at(0), vertexNormalOfVertex3 + "0.000000\t-1.000000\t0.000000");
}

TEST_F(GeometryTextTest, SmoothingValueIsTheGroupOnlyInGroupAndAngleModes) {
    Load(TwoObjectScene());
    const auto smoothing = [&](int mode) {
        TheExportOptions().smoothingMode = mode;
        std::string values;
        for (const std::string& line : LinesWith(Indexed(0), "*MESH_FACE ")) {
            values += line.substr(line.find("*MESH_SMOOTHING ") + 16, 2);
        }
        return values;
    };
    EXPECT_EQ(smoothing(SmoothAllSame), "1\t1\t1\t");
    EXPECT_EQ(smoothing(SmoothPerGroup), "3\t4\t5\t");
    EXPECT_EQ(smoothing(SmoothPerAngle), "3\t4\t5\t");
    EXPECT_EQ(smoothing(7), "1\t1\t1\t");
}

TEST_F(GeometryTextTest, FirstMaterialReferenceWinsAndUnlistedMaterialsGetZero) {
    Load(TwoObjectScene());
    HostObject& plane = context()->objects[0];
    ASSERT_EQ(plane.materialRefCount, 2);
    // References [2, 2]: face A finds position 0, face C (material 0) none.
    plane.materialRefs[1].materialIndex = 2;
    for (const std::string& text : {Split(0), Indexed(0)}) {
        const auto faces = LinesWith(text, "*MESH_FACE ");
        ASSERT_EQ(faces.size(), 3u);
        EXPECT_NE(faces[0].find("*MESH_MTLID 0"), std::string::npos);
        EXPECT_NE(faces[1].find("*MESH_MTLID 0"), std::string::npos);
    }
    // References [0, 2]: face A (material 2) at position 1.
    plane.materialRefs[0].materialIndex = 0;
    EXPECT_NE(LinesWith(Split(0), "*MESH_FACE ").at(0).find("*MESH_MTLID 1"), std::string::npos);
}

// A scene of one object whose faces use the given vertex positions, all with
// channel-0 UV 0.
Json PositionsScene(const std::vector<std::array<float, 3>>& positions, const std::vector<std::vector<int>>& faces) {
    Json scene;
    for (const auto& p : positions) scene["vertices"].push_back(Vertex(p[0], p[1], p[2]));
    scene["uvStore"] = Json::array({Json::array({{0, 0}}), Json::array({{0, 0}})});
    scene["objects"] = Json::array({Json{{"name", "P"}}});
    Json list = Json::array();
    for (const auto& f : faces) list.push_back(Face(0, f, {0, 0, 0}, {0, 0, 0}));
    scene["faceGroups"] = Json::array({Json{{"faces", list}}});
    return scene;
}

TEST_F(GeometryTextTest, PositionsCloserThanTheToleranceMergeAndOthersStayApart) {
    // 0.00009 apart merges; 0.0001 and 0.00011 apart stay; a second vertex at
    // the very same position merges.
    Load(PositionsScene({{1, 1, 1}, {1.00009f, 1, 1}, {1, 1.0001f, 1}, {1, 1, 1.00011f}, {1, 1, 1}, {5, 5, 5}},
                        {{0, 1, 2}, {3, 4, 5}}));
    std::string text = Split(0);
    EXPECT_EQ(LinesWith(text, "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 4");
    const auto faces = LinesWith(text, "*MESH_FACE ");
    EXPECT_NE(faces.at(0).find("A:    0 B:    0 C:    1"), std::string::npos);
    EXPECT_NE(faces.at(1).find("A:    2 B:    0 C:    3"), std::string::npos);
    // The merged vertex keeps the data of the first corner that made it.
    EXPECT_EQ(LinesWith(text, "*MESH_VERTEX ").at(0), "\t\t\t*MESH_VERTEX    0\t1.000000\t-1.000000\t1.000000");
}

TEST_F(GeometryTextTest, NaNPositionsNeverMerge) {
    Load(PositionsScene({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}, {0, 1, 2}, {0, 2, 1}}));
    context()->vertices[0].position[1] = std::numeric_limits<float>::quiet_NaN();
    const std::string text = Split(0);
    // Vertices 1 and 2 are written once each; vertex 0 once per corner.
    EXPECT_EQ(LinesWith(text, "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 5");
    EXPECT_EQ(LinesWith(text, "*MESH_VERTEX ").at(0), "\t\t\t*MESH_VERTEX    0\t0.000000\t-0.000000\tnan");
    EXPECT_EQ(FaceOf(0, 2).exportCorners[0], 4);
    EXPECT_EQ(FaceOf(0, 2).exportCorners[1], 2);
}

TEST_F(GeometryTextTest, ExportCornersHoldTheWrittenVertexNumbers) {
    Load(TwoObjectScene());
    Split(0);
    const HostFace& d = FaceOf(1, 0);
    EXPECT_EQ(d.exportCorners[0], 4);
    EXPECT_EQ(d.exportCorners[1], 5);
    EXPECT_EQ(d.exportCorners[2], 2);
}

TEST_F(GeometryTextTest, AFailingStreamStopsBothWritersWithZero) {
    Load(TwoObjectScene());
    const std::string path = ::testing::TempDir() + "geometry_readonly.ase";
    std::ofstream(path) << "x";
    std::FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(WriteSplitGeometryObject(readOnly, 0, 0), 0);
    EXPECT_EQ(WriteIndexedGeometryObject(readOnly, 0, 0), 0);
    std::fclose(readOnly);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace geomtest
