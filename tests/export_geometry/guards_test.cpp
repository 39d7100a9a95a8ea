// Host data that does not hold together: indices outside the host's arrays, missing
// UV data, faces of other than three corners, a short normal table, bad arguments.
#include <utility>

#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

class GuardTest : public GeometryExportTest {
protected:
    void SetUp() override {
        GeometryExportTest::SetUp();
        LoadFaces({Face(0, {0, 1, 2}, {3, 3, 3}, {3, 3, 3})});
        TheExportOptions().exportMultipleUvSets = 1;
    }
    HostFace& Face0() { return FaceOf(0, 0); }
};

// Indices outside the store share one zero entry in the indexed layout (the
// split layout meets them in the differential test); missing parts read zero.
TEST_F(GuardTest, UvIndicesOutsideTheStoreAndMissingUvPartsReadZero) {
    Face0().uvData->channels[0].uvIndices[1] = 99;
    Face0().uvData->channels[0].uvIndices[2] = -5;
    Face0().uvData->channels[1].uvIndices[1] = 10;
    const std::string text = Indexed(0);
    EXPECT_EQ(LinesWith(text, "*MESH_TFACE "),
              (std::vector<std::string>{"\t\t\t*MESH_TFACE 0\t0\t1\t1", "\t\t\t\t*MESH_TFACE 0\t0\t1\t0"}));
    EXPECT_EQ(LinesWith(text, "*MESH_TVERT ").at(1), "\t\t\t*MESH_TVERT 1\t0.000000\t1.000000\t0.0");

    const auto without = [&](auto*& part) {
        auto* saved = std::exchange(part, nullptr);
        for (const std::string& text : {Split(0), Indexed(0)}) {
            EXPECT_EQ(LinesWith(text, "*MESH_TVERT ").at(0), "\t\t\t*MESH_TVERT 0\t0.000000\t1.000000\t0.0");
        }
        part = saved;
    };
    without(Face0().uvData->channels[0].uvIndices);
    without(Face0().uvData);
    without(context()->uvStore->channels[0].uvs);
    without(context()->uvStore);
}

TEST_F(GuardTest, VertexIndicesOutsideTheHostArrayStandForOneVertexAtTheOrigin) {
    Face0().vertexIndices[1] = 50;
    Face0().vertexIndices[2] = -1;
    for (const std::string& text : {Split(0), Indexed(0)}) {
        EXPECT_EQ(NumberAfter(text, "*MESH_NUMVERTEX "), 2);
        EXPECT_NE(text.find("*MESH_VERTEX    1\t0.000000\t-0.000000\t0.000000\n"), npos);
        EXPECT_NE(text.find("*MESH_VERTCOL 1\t0.000000\t0.000000\t0.000000\n"), npos);
        // A vertex that is not there has no normal: the face's is written.
        EXPECT_NE(text.find("*MESH_VERTEXNORMAL 1\t0.000000\t-1.000000\t0.000000\n"), npos);
    }
    HostVertex* vertices = std::exchange(context()->vertices, nullptr);
    EXPECT_EQ(NumberAfter(Split(0), "*MESH_NUMVERTEX "), 1);
    EXPECT_EQ(NumberAfter(Indexed(0), "*MESH_NUMVERTEX "), 1);
    context()->vertices = vertices;
}

TEST_F(GuardTest, ShortFacesUseVertexZeroLongFacesKeepAllCornersAndNormalsNeedAFullTable) {
    // Object 0: faces of two, four and no corners; object 1: one face of no corners.
    LoadFaces({Face(0, {4, 6}, {4, 6}, {4, 6}), Face(0, {1, 2, 3, 8}, {1, 2, 3, 8}, {1, 2, 3, 8}), Face(0, {}, {}, {}),
               Face(1, {}, {}, {})});
    // Both writers write three corners per face, missing ones as 0; the split writer
    // numbers every host corner, the indexed layout keeps the fourth corner's vertex.
    FaceOf(0, 0).exportCorners[2] = -1;
    const auto lines = LinesWith(Split(0), "*MESH_FACE ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("A:    0 B:    1 C:    0 "), npos);
    EXPECT_NE(lines[1].find("A:    2 B:    3 C:    4 "), npos);
    EXPECT_NE(lines[2].find("A:    0 B:    0 C:    0 "), npos);
    EXPECT_EQ(FaceOf(0, 0).exportCorners[2], 0);
    EXPECT_EQ(FaceOf(0, 1).exportCorners[3], 5);
    const std::string indexed = Indexed(0);
    EXPECT_EQ(LinesWith(indexed, "*MESH_FACE "), lines);
    EXPECT_EQ(NumberAfter(indexed, "*MESH_NUMVERTEX "), 6);
    EXPECT_EQ(LinesWith(indexed, "*MESH_TFACE 0\t"),
              (std::vector<std::string>{"\t\t\t*MESH_TFACE 0\t0\t1\t0", "\t\t\t\t*MESH_TFACE 0\t0\t1\t0"}));

    // The split writer reads a table entry per new vertex; the indexed one none.
    int split = -1, indexedResult = -1;
    for (const size_t entries : {9, 0}) {
        SetNormalTable(std::vector<std::array<float, 3>>(entries));
        EXPECT_EQ(Split(0, 0, &split), "");
        EXPECT_NE(Indexed(0, 0, &indexedResult), "");
        EXPECT_EQ(std::pair(split, indexedResult), std::pair(0, 1));
    }
    // An object without corners needs no table; its face names vertex 0, whose
    // normal, as no vertex exists, is zero.
    const std::string empty = Split(1, 0, &split);
    EXPECT_EQ(split, 1);
    EXPECT_NE(empty.find("A:    0 B:    0 C:    0 "), npos);
    EXPECT_NE(empty.find("*MESH_VERTEXNORMAL 0\t0.000000\t-0.000000\t0.000000\n"), npos);
    EXPECT_EQ(LinesWith(Indexed(1), "*MESH_FACE "), LinesWith(empty, "*MESH_FACE "));
}

TEST_F(GuardTest, BadArgumentsAndRefusedWritesGiveZero) {
    const auto nothing = [&](int object) {
        int split = -1, indexed = -1;
        return Split(object, 0, &split) + Indexed(object, 0, &indexed) == "" && split == 0 && indexed == 0;
    };
    EXPECT_TRUE(nothing(-1));
    EXPECT_TRUE(nothing(2));
    EXPECT_EQ(WriteSplitGeometryObject(*job_, nullptr, 0, 0) + WriteIndexedGeometryObject(*job_, nullptr, 0, 0), 0);
    HostObject* objects = std::exchange(context()->objects, nullptr);
    EXPECT_TRUE(nothing(0));
    context()->objects = objects;
    // A stream open for reading refuses every write.
    std::FILE* readOnly = std::fopen(ASE_TEST_DATA_DIR "/export/geometry_scene.json", "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(WriteSplitGeometryObject(*job_, readOnly, 0, 0) + WriteIndexedGeometryObject(*job_, readOnly, 0, 0), 0);
    std::fclose(readOnly);
}

TEST_F(GuardTest, FaceListsFollowFacesMovedBetweenObjects) {
    const auto faces = [](const std::string& text) { return NumberAfter(text, "*MESH_NUMFACES "); };
    const auto move = [&](int object, int count0, int count1) {
        Face0().objectIndex = object;
        context()->objects[0].faceCount = count0;
        context()->objects[1].faceCount = count1;
    };
    EXPECT_EQ(faces(Split(0)), 1);
    EXPECT_EQ(faces(Split(1)), 0);
    // A listed face that left its object is noticed at once, whatever the counts say ...
    Face0().objectIndex = 1;
    EXPECT_EQ(faces(Split(0)), 0);
    EXPECT_EQ(faces(Indexed(1)), 1);
    // ... one that joins an object by its face count (as single-object mode keeps it) ...
    move(1, 0, 1);
    NewJob();
    EXPECT_EQ(faces(Split(1)), 1);
    move(0, 1, 0);
    EXPECT_EQ(faces(Indexed(0)), 1);
    EXPECT_EQ(faces(Indexed(1)), 0);
    // ... and, whatever the counts say, in the next export.
    Face0().objectIndex = 1;
    Split(0);
    move(0, 7, 0);
    NewJob();
    EXPECT_EQ(faces(Indexed(0)), 1);
}

}  // namespace
}  // namespace geomtest
