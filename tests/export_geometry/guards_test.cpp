// Host data that does not hold together: UV and vertex indices outside the
// host's arrays, missing UV data, short faces, a missing normal table, bad
// arguments, and faces moved between objects.
#include "plugin/plugin.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

class GuardTest : public GeometryExportTest {
protected:
    // One triangle of object 0 over vertices 0, 1, 2; channel 0 holds
    // (0.25, 0.5) and (0.75, 0.5), channel 1 holds (0.1, 0.1).
    void LoadTriangle(std::vector<int> vertices = {0, 1, 2}) {
        Json scene;
        scene["vertices"] = Json::array({Vertex(1, 1, 1, {0, 0, 1}, {0.5f, 0.5f, 0.5f, 1}), Vertex(2, 1, 1),
                                         Vertex(3, 1, 1)});
        scene["uvStore"] = Json::array({Json::array({{0.25f, 0.5f}, {0.75f, 0.5f}}), Json::array({{0.1f, 0.1f}})});
        scene["objects"] = Json::array({Json{{"name", "T"}}, Json{{"name", "U"}}});
        std::vector<int> zeros(vertices.size(), 0);
        scene["faceGroups"] = Json::array({Json{{"faces", Json::array({Face(0, vertices, zeros, zeros)})}}});
        Load(scene);
        TheExportOptions().exportMultipleUvSets = 1;
    }
    HostFace& Triangle() { return FaceOf(0, 0); }
    void SetUvIndices(int channel, std::vector<int> indices) {
        for (size_t k = 0; k < indices.size(); ++k) Triangle().uvData->channels[channel].uvIndices[k] = indices[k];
    }
};

TEST_F(GuardTest, UvIndicesOutsideTheStoreReadAsZero) {
    LoadTriangle();
    SetUvIndices(0, {0, 99, -5});
    SetUvIndices(1, {0, 1, 0});
    const std::string split = Split(0);
    const auto tverts = LinesWith(split, "*MESH_TVERT ");
    ASSERT_EQ(tverts.size(), 6u);
    EXPECT_EQ(tverts[0], "\t\t\t*MESH_TVERT 0\t0.250000\t0.500000\t0.0");
    EXPECT_EQ(tverts[1], "\t\t\t*MESH_TVERT 1\t0.000000\t1.000000\t0.0");
    EXPECT_EQ(tverts[2], "\t\t\t*MESH_TVERT 2\t0.000000\t1.000000\t0.0");
    EXPECT_EQ(tverts[4], "\t\t\t\t*MESH_TVERT 1\t0.000000\t1.000000\t0.0");
    EXPECT_EQ(tverts[5], "\t\t\t\t*MESH_TVERT 2\t0.100000\t0.900000\t0.0");
    // The indexed layout gives all bad indices of a channel one (0, 0) entry.
    const std::string indexed = Indexed(0);
    const auto counts = LinesWith(indexed, "*MESH_NUMTVERTEX ");
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0], "\t\t*MESH_NUMTVERTEX 2");
    EXPECT_EQ(counts[1], "\t\t\t*MESH_NUMTVERTEX 2");
    const auto tfaces = LinesWith(indexed, "*MESH_TFACE ");
    EXPECT_EQ(tfaces.at(0), "\t\t\t*MESH_TFACE 0\t0\t1\t1");
    EXPECT_EQ(tfaces.at(1), "\t\t\t\t*MESH_TFACE 0\t0\t1\t0");
    EXPECT_EQ(LinesWith(indexed, "*MESH_TVERT ").at(1), "\t\t\t*MESH_TVERT 1\t0.000000\t1.000000\t0.0");
}

TEST_F(GuardTest, MissingUvStoreUvDataOrIndexListReadsZero) {
    const std::string allZero = "\t\t\t*MESH_TVERT 0\t0.000000\t1.000000\t0.0";
    const auto check = [&](const char* what) {
        for (const std::string& text : {Split(0), Indexed(0)}) {
            const auto tverts = LinesWith(text, "*MESH_TVERT ");
            ASSERT_FALSE(tverts.empty()) << what;
            EXPECT_EQ(tverts[0], allZero) << what;
        }
    };
    LoadTriangle();
    int* saved = Triangle().uvData->channels[0].uvIndices;
    Triangle().uvData->channels[0].uvIndices = nullptr;
    check("no channel-0 index list");
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_NUMTVERTEX ").at(0), "\t\t*MESH_NUMTVERTEX 1");
    Triangle().uvData->channels[0].uvIndices = saved;

    HostFaceUv* uvData = Triangle().uvData;
    Triangle().uvData = nullptr;
    check("no UV data");
    Triangle().uvData = uvData;

    HostUvStore* store = context()->uvStore;
    context()->uvStore = nullptr;
    check("no UV store");
    context()->uvStore = store;

    HostUv* uvs = store->channels[0].uvs;
    store->channels[0].uvs = nullptr;
    check("no channel-0 array");
    store->channels[0].uvs = uvs;
}

TEST_F(GuardTest, VertexIndicesOutsideTheHostArrayStandForAVertexAtTheOrigin) {
    LoadTriangle();
    Triangle().vertexIndices[1] = 50;
    Triangle().vertexIndices[2] = -1;
    for (const std::string& text : {Split(0), Indexed(0)}) {
        // Both bad corners share one written vertex with zero colour.
        EXPECT_EQ(LinesWith(text, "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 2");
        EXPECT_EQ(LinesWith(text, "*MESH_VERTEX ").at(1), "\t\t\t*MESH_VERTEX    1\t0.000000\t-0.000000\t0.000000");
        EXPECT_EQ(LinesWith(text, "*MESH_VERTCOL ").at(1), "\t\t\t*MESH_VERTCOL 1\t0.000000\t0.000000\t0.000000");
        EXPECT_EQ(LinesWith(text, "*MESH_VERTEXNORMAL ").at(2), "\t\t\t\t*MESH_VERTEXNORMAL 1\t0.000000\t-0.000000\t0.000000");
    }
    // Without a vertex array every corner is such a vertex.
    HostVertex* vertices = context()->vertices;
    context()->vertices = nullptr;
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 1");
    EXPECT_EQ(LinesWith(Split(0), "*MESH_NUMVERTEX ").at(0), "\t\t*MESH_NUMVERTEX 1");
    context()->vertices = vertices;
}

TEST_F(GuardTest, ShortFacesReferToVertexZeroForTheirMissingCorners) {
    LoadTriangle({1, 2});
    const std::string text = Split(0);
    EXPECT_NE(LinesWith(text, "*MESH_FACE ").at(0).find("A:    0 B:    1 C:    0 "), std::string::npos);
    EXPECT_EQ(Triangle().exportCorners[2], 0);
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_FACE "), LinesWith(text, "*MESH_FACE "));

    LoadTriangle({});
    int result = 0;
    const std::string empty = Split(0, 0, &result);
    EXPECT_EQ(result, 1);
    EXPECT_NE(LinesWith(empty, "*MESH_FACE ").at(0).find("A:    0 B:    0 C:    0 "), std::string::npos);
    // No vertex exists, so the vertex normals are written as zero.
    EXPECT_EQ(LinesWith(empty, "*MESH_VERTEXNORMAL ").at(0), "\t\t\t\t*MESH_VERTEXNORMAL 0\t0.000000\t-0.000000\t0.000000");
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_FACE "), LinesWith(empty, "*MESH_FACE "));
}

TEST_F(GuardTest, LongFacesFillAllTheirExportCorners) {
    LoadTriangle({0, 1, 2, 0});
    Split(0);
    EXPECT_EQ(Triangle().exportCorners[3], 0);
    EXPECT_EQ(Triangle().exportCorners[2], 2);
}

TEST_F(GuardTest, SplitWriterNeedsACompleteNormalTable) {
    LoadTriangle();
    const std::vector<std::array<float, 3>> full(normals_);
    int result = -1;
    SetNormalTable({full[0], full[1]});
    EXPECT_EQ(Split(0, 0, &result), "");
    EXPECT_EQ(result, 0);
    SetNormalTable({});
    EXPECT_EQ(Split(0, 0, &result), "");
    EXPECT_EQ(result, 0);
    // The indexed layout does not use the table.
    EXPECT_NE(Indexed(0, 0, &result), "");
    EXPECT_EQ(result, 1);
    // An object without corners needs no table.
    LoadTriangle({});
    SetNormalTable({});
    EXPECT_NE(Split(0, 0, &result), "");
    EXPECT_EQ(result, 1);
}

TEST_F(GuardTest, BadArgumentsWriteNothing) {
    LoadTriangle();
    int result = -1;
    for (int index : {-1, 2, 1000}) {
        EXPECT_EQ(Split(index, 0, &result), "");
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Indexed(index, 0, &result), "");
        EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(WriteSplitGeometryObject(nullptr, 0, 0), 0);
    EXPECT_EQ(WriteIndexedGeometryObject(nullptr, 0, 0), 0);
    currentContext = nullptr;
    EXPECT_EQ(Split(0), "");
    EXPECT_EQ(Indexed(0), "");
    currentContext = context();
    HostObject* objects = context()->objects;
    context()->objects = nullptr;
    EXPECT_EQ(Split(0), "");
    EXPECT_EQ(Indexed(0), "");
    context()->objects = objects;
}

TEST_F(GuardTest, FaceListsFollowFacesMovedBetweenObjects) {
    LoadTriangle();
    EXPECT_EQ(LinesWith(Split(0), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 1");
    EXPECT_EQ(LinesWith(Split(1), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 0");
    // A listed face that left its object is noticed at once.
    Triangle().objectIndex = 1;
    context()->objects[0].faceCount = 0;
    context()->objects[1].faceCount = 1;
    EXPECT_EQ(LinesWith(Split(0), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 0");
    EXPECT_EQ(LinesWith(Indexed(1), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 1");
    // A face that joins an object is seen by the object's face count (as the
    // single-object mode of the export preparation keeps it) ...
    Triangle().objectIndex = 0;
    context()->objects[0].faceCount = 1;
    context()->objects[1].faceCount = 0;
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 1");
    EXPECT_EQ(LinesWith(Indexed(1), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 0");
    // ... and, whatever the counts say, after the reset an export starts with.
    Triangle().objectIndex = 1;
    Split(0);
    Triangle().objectIndex = 0;
    context()->objects[0].faceCount = 7;
    ResetExportFaceBuckets();
    EXPECT_EQ(LinesWith(Indexed(0), "*MESH_NUMFACES ").at(0), "\t\t*MESH_NUMFACES 1");
}

}  // namespace
}  // namespace geomtest
