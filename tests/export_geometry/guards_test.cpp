// Host data that does not hold together: UV and vertex indices outside the
// host's arrays, missing UV data, faces of other than three corners, a short
// normal table, bad arguments, and faces moved between objects.
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

// (The split layout meets such indices in the differential test.)
TEST_F(GuardTest, IndexedLayoutGivesAllUvIndicesOutsideTheStoreOneZeroEntry) {
    Face0().uvData->channels[0].uvIndices[1] = 99;
    Face0().uvData->channels[0].uvIndices[2] = -5;
    Face0().uvData->channels[1].uvIndices[1] = 10;
    const std::string text = Indexed(0);
    EXPECT_EQ(LinesWith(text, "*MESH_TFACE "),
              (std::vector<std::string>{"\t\t\t*MESH_TFACE 0\t0\t1\t1", "\t\t\t\t*MESH_TFACE 0\t0\t1\t0"}));
    EXPECT_EQ(LinesWith(text, "*MESH_TVERT ").at(1), "\t\t\t*MESH_TVERT 1\t0.000000\t1.000000\t0.0");
}

TEST_F(GuardTest, MissingUvStoreUvDataOrIndexListReadsZero) {
    const auto without = [&](auto*& part, const char* what) {
        auto* saved = std::exchange(part, nullptr);
        for (const std::string& text : {Split(0), Indexed(0)}) {
            EXPECT_EQ(LinesWith(text, "*MESH_TVERT ").at(0), "\t\t\t*MESH_TVERT 0\t0.000000\t1.000000\t0.0") << what;
        }
        part = saved;
    };
    without(Face0().uvData->channels[0].uvIndices, "channel-0 index list");
    without(Face0().uvData, "face UV data");
    without(context()->uvStore->channels[0].uvs, "channel-0 array");
    without(context()->uvStore, "UV store");
}

TEST_F(GuardTest, VertexIndicesOutsideTheHostArrayStandForOneVertexAtTheOrigin) {
    Face0().vertexIndices[1] = 50;
    Face0().vertexIndices[2] = -1;
    for (const std::string& text : {Split(0), Indexed(0)}) {
        EXPECT_EQ(NumberAfter(text, "*MESH_NUMVERTEX "), 2);
        EXPECT_NE(text.find("*MESH_VERTEX    1\t0.000000\t-0.000000\t0.000000\n"), npos);
        EXPECT_NE(text.find("*MESH_VERTCOL 1\t0.000000\t0.000000\t0.000000\n"), npos);
        EXPECT_NE(text.find("*MESH_VERTEXNORMAL 1\t0.000000\t-0.000000\t0.000000\n"), npos);
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
    // Both writers write three corners per face, the missing ones as 0; the
    // split writer numbers every corner of the host face, and the indexed
    // layout keeps the fourth corner's vertex in its list.
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
    int result = -1;
    for (const size_t entries : {9, 0}) {
        SetNormalTable(std::vector<std::array<float, 3>>(entries));
        EXPECT_EQ(Split(0, 0, &result), "");
        EXPECT_EQ(result, 0);
    }
    EXPECT_NE(Indexed(0, 0, &result), "");
    EXPECT_EQ(result, 1);
    // An object without corners needs no table; its face names vertex 0, whose
    // normal, as no vertex exists, is zero.
    const std::string empty = Split(1, 0, &result);
    EXPECT_EQ(result, 1);
    EXPECT_NE(empty.find("A:    0 B:    0 C:    0 "), npos);
    EXPECT_NE(empty.find("*MESH_VERTEXNORMAL 0\t0.000000\t-0.000000\t0.000000\n"), npos);
    EXPECT_EQ(LinesWith(Indexed(1), "*MESH_FACE "), LinesWith(empty, "*MESH_FACE "));
}

TEST_F(GuardTest, BadArgumentsAndRefusedWritesGiveZero) {
    const auto nothing = [&](int object) {
        int split = -1;
        int indexed = -1;
        return Split(object, 0, &split) + Indexed(object, 0, &indexed) == "" && split == 0 && indexed == 0;
    };
    EXPECT_TRUE(nothing(-1));
    EXPECT_TRUE(nothing(2));
    EXPECT_EQ(WriteSplitGeometryObject(nullptr, 0, 0) + WriteIndexedGeometryObject(nullptr, 0, 0), 0);
    HostObject* objects = std::exchange(context()->objects, nullptr);
    EXPECT_TRUE(nothing(0));
    context()->objects = objects;
    currentContext = nullptr;
    EXPECT_TRUE(nothing(0));
    currentContext = context();

    const std::string path = ::testing::TempDir() + "geometry_readonly.ase";
    std::fclose(std::fopen(path.c_str(), "wb"));
    std::FILE* readOnly = std::fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(WriteSplitGeometryObject(readOnly, 0, 0) + WriteIndexedGeometryObject(readOnly, 0, 0), 0);
    std::fclose(readOnly);
    std::remove(path.c_str());
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
    // A listed face that left its object is noticed at once, whatever the
    // counts say ...
    Face0().objectIndex = 1;
    EXPECT_EQ(faces(Split(0)), 0);
    EXPECT_EQ(faces(Indexed(1)), 1);
    // ... a face that joins an object by the object's face count (as the
    // single-object mode of the export preparation keeps it) ...
    move(1, 0, 1);
    ResetExportFaceBuckets();
    EXPECT_EQ(faces(Split(1)), 1);
    move(0, 1, 0);
    EXPECT_EQ(faces(Indexed(0)), 1);
    EXPECT_EQ(faces(Indexed(1)), 0);
    // ... and, whatever the counts say, after the reset an export starts with.
    Face0().objectIndex = 1;
    Split(0);
    move(0, 7, 0);
    ResetExportFaceBuckets();
    EXPECT_EQ(faces(Indexed(0)), 1);
}

}  // namespace
}  // namespace geomtest
