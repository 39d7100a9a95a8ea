// Mesh preparation of the indexed layout: the growable array, weld tables,
// first-use renumbering, odd corner counts and running out of memory.
#include <limits>

#include "export/geometry/geometry_internal.h"
#include "plugin/plugin.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Makes the allocation numbered `failAt` (1 = the next one) and every later
// one fail, until the object goes away.
class FailingAllocations {
public:
    explicit FailingAllocations(int failAt) : saved_(ExportRealloc) {
        remaining_ = failAt;
        ExportRealloc = [](void* block, size_t bytes) -> void* {
            if (--remaining_ <= 0) return nullptr;
            return std::realloc(block, bytes);
        };
    }
    ~FailingAllocations() { ExportRealloc = saved_; }

private:
    static inline int remaining_ = 0;
    void* (*saved_)(void*, size_t);
};

TEST(DynArrayTest, CapacityStartsAtSixteenAndDoublesUnlessMoreIsAsked) {
    DynArray<int> array;
    EXPECT_EQ(DynArrayAdd(&array, 1), 0);
    EXPECT_EQ(array.capacity, 16);
    for (int i = 2; i <= 16; ++i) DynArrayAdd(&array, i);
    EXPECT_EQ(array.capacity, 16);
    EXPECT_EQ(DynArrayAdd(&array, 17), 0);
    EXPECT_EQ(array.capacity, 32);
    EXPECT_EQ(array.size, 17);
    EXPECT_EQ(array.data[16], 17);
    EXPECT_EQ(DynArraySetCapacity(&array, 20), 0);  // fits: unchanged
    EXPECT_EQ(array.capacity, 32);
    EXPECT_EQ(DynArraySetCapacity(&array, 40), 0);  // max(40, 32 + 32)
    EXPECT_EQ(array.capacity, 64);
    EXPECT_EQ(DynArraySetCapacity(&array, 200), 0);  // max(200, 128)
    EXPECT_EQ(array.capacity, 200);
    EXPECT_EQ(array.data[0], 1);
    EXPECT_EQ(DynArraySetCapacity(&array, 0), 0);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.size, 0);
    EXPECT_EQ(array.capacity, 0);
    DynArray<int> fresh;
    EXPECT_EQ(DynArraySetCapacity(&fresh, 3), 0);  // max(3, 16)
    EXPECT_EQ(fresh.capacity, 16);
    DynArrayClear(&fresh);
}

TEST(DynArrayTest, BadArgumentsAndFailedGrowthKeepTheContents) {
    EXPECT_EQ(E_INVALIDARG, static_cast<int32_t>(0x80070057u));
    EXPECT_EQ(E_OUTOFMEMORY, static_cast<int32_t>(0x8007000Eu));
    DynArray<int> array;
    EXPECT_EQ(DynArraySetCapacity(&array, -1), E_INVALIDARG);
    for (int i = 0; i < 16; ++i) DynArrayAdd(&array, i * 10);
    EXPECT_EQ(DynArraySetAt(&array, 16, 5), E_INVALIDARG);
    EXPECT_EQ(DynArraySetAt(&array, -1, 5), E_INVALIDARG);
    EXPECT_EQ(DynArraySetAt(&array, 15, 5), 0);
    {
        FailingAllocations failing(1);
        EXPECT_EQ(DynArrayAdd(&array, 99), E_OUTOFMEMORY);
    }
    EXPECT_EQ(array.size, 16);
    EXPECT_EQ(array.capacity, 16);
    EXPECT_EQ(array.data[3], 30);
    EXPECT_EQ(array.data[15], 5);
    DynArrayClear(&array);
}

ExportVertex At(float x, float y, float z) {
    return ExportVertex{0, {x, y, z}, {0, 0, 0}, {0, 0, 0, 0}};
}

TEST(WeldTableTest, SlotsReachTheLargestKeyAndHeadOnlyUsedKeys) {
    WeldTable table;
    DynArray<ExportVertex> pool;
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 3, At(0, 0, 0)), 0);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 40, At(1, 0, 0)), 1);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 7, At(2, 0, 0)), 2);
    ASSERT_EQ(table.slots.size, 41);
    for (int k = 0; k < 41; ++k) {
        const bool head = k == 3 || k == 7 || k == 40;
        EXPECT_EQ(table.slots.data[k] != nullptr, head) << k;
    }
    EXPECT_EQ(table.slots.data[40]->index, 1);
    // The same key finds its entry again within the tolerance; another
    // position under the same key chains a second entry.
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 40, At(1.00005f, 0, 0)), 1);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 40, At(5, 0, 0)), 3);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 40, At(5, 0, 0)), 3);
    ASSERT_NE(table.slots.data[40]->next, nullptr);
    EXPECT_EQ(table.slots.data[40]->next->index, 3);
    // A position that is NaN never finds itself.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 7, At(nan, 0, 0)), 4);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 7, At(nan, 0, 0)), 5);
    EXPECT_EQ(FindOrAddVertex(&table, &pool, -1, At(0, 0, 0)), E_INVALIDARG);
    EXPECT_EQ(pool.size, 6);
    WeldTableClear(&table);
    EXPECT_EQ(table.slots.size, 0);
    DynArrayClear(&pool);
}

TEST(WeldTableTest, EmptyingFreesTheChainsAndKeepsTheSlots) {
    WeldTable table;
    DynArray<ExportVertex> pool;
    FindOrAddVertex(&table, &pool, 1000, At(0, 0, 0));
    FindOrAddVertex(&table, &pool, 1000, At(1, 0, 0));
    FindOrAddVertex(&table, &pool, 2, At(0, 0, 0));
    WeldTableEmpty(&table);
    EXPECT_EQ(table.slots.size, 1001);
    EXPECT_EQ(table.usedKeys.size, 0);
    for (int k = 0; k < table.slots.size; ++k) ASSERT_EQ(table.slots.data[k], nullptr) << k;
    // A later use starts from scratch: the pool numbers restart with it.
    pool.size = 0;
    EXPECT_EQ(FindOrAddVertex(&table, &pool, 2, At(1, 0, 0)), 0);
    EXPECT_EQ(table.slots.data[2]->index, 0);
    EXPECT_EQ(table.slots.data[2]->next, nullptr);
    WeldTableClear(&table);
    DynArrayClear(&pool);
}

TEST(WeldTableTest, UvEntriesMatchOnExactUAndVOnly) {
    WeldTable table;
    DynArray<HostUv> pool;
    EXPECT_EQ(FindOrAddUv(&table, &pool, 2, HostUv{0, 0.5f, 0.25f, -1}), 0);
    EXPECT_EQ(FindOrAddUv(&table, &pool, 2, HostUv{9, 0.5f, 0.25f, 4}), 0);
    EXPECT_EQ(FindOrAddUv(&table, &pool, 2, HostUv{0, 0.5f, 0.25001f, -1}), 1);
    EXPECT_EQ(pool.capacity, 16);
    WeldTableClear(&table);
    DynArrayClear(&pool);
}

TEST(WeldTableTest, FailedNodeOrPoolAllocationAddsNothing) {
    for (int failAt = 1; failAt <= 4; ++failAt) {
        WeldTable table;
        DynArray<ExportVertex> pool;
        {
            FailingAllocations failing(failAt);
            EXPECT_EQ(FindOrAddVertex(&table, &pool, 5, At(1, 2, 3)), E_OUTOFMEMORY) << failAt;
        }
        EXPECT_EQ(pool.size, 0) << failAt;
        for (int k = 0; k < table.slots.size; ++k) EXPECT_EQ(table.slots.data[k], nullptr);
        EXPECT_EQ(FindOrAddVertex(&table, &pool, 5, At(1, 2, 3)), 0);
        WeldTableClear(&table);
        DynArrayClear(&pool);
    }
}

class MeshPrepareTest : public GeometryExportTest {
protected:
    void TearDown() override {
        ReleaseExportMeshSet(&set_);
        GeometryExportTest::TearDown();
    }
    // Ten vertices at x = index, UV entries at u = index / 10 in both channels.
    void LoadFaces(const std::vector<Json>& faces) {
        Json scene;
        Json uvs = Json::array();
        for (int i = 0; i < 10; ++i) {
            scene["vertices"].push_back(Vertex(float(i), 0, 0, {0, 0, 1}, {float(i) / 10, 0, 0, 1}));
            uvs.push_back({float(i) / 10, 0.5f});
        }
        scene["uvStore"] = Json::array({uvs, uvs});
        scene["objects"] = Json::array({Json{{"name", "A"}}, Json{{"name", "B"}}});
        scene["faceGroups"] = Json::array({Json{{"faces", faces}}});
        Load(scene);
    }
    ExportMesh& Mesh() { return set_.meshes[0]; }
    ExportMeshSet set_;
};

TEST_F(MeshPrepareTest, VerticesAndUvsAreNumberedInOrderOfFirstUse) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {1, 1, 1}), Face(1, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}),
               Face(0, {7, 9, 2}, {7, 9, 3}, {2, 1, 1})});
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    ASSERT_EQ(set_.count, 1);
    ASSERT_EQ(Mesh().vertexCount, 4);
    const int sources[] = {5, 7, 9, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Mesh().vertices[i].sourceVertex, sources[i]);
        EXPECT_EQ(Mesh().vertices[i].position[0], float(sources[i]));
    }
    ASSERT_EQ(Mesh().faceCount, 2);
    const ExportFace& second = Mesh().faces[1];
    EXPECT_EQ(second.sourceFace, 2);
    EXPECT_EQ(second.cornerCount, 3);
    EXPECT_EQ(Mesh().faces[0].vertexIndices[0], 0);
    EXPECT_EQ(second.vertexIndices[0], 1);
    EXPECT_EQ(second.vertexIndices[1], 2);
    EXPECT_EQ(second.vertexIndices[2], 3);
    // Channel 0: host UV 5, 7, 9, 3; channel 1: host 1 (used four times), 2.
    EXPECT_EQ(Mesh().uv0Count, 4);
    EXPECT_EQ(Mesh().uv0[3].u, 0.3f);
    EXPECT_EQ(Mesh().uv1Count, 2);
    EXPECT_EQ(second.uv1Indices[0], 1);
    EXPECT_EQ(second.uv1Indices[1], 0);
}

TEST_F(MeshPrepareTest, ObjectWithoutFacesGivesAnEmptyMesh) {
    LoadFaces({Face(1, {0, 1, 2}, {0, 1, 2}, {0, 1, 2})});
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    ASSERT_EQ(set_.count, 1);
    EXPECT_EQ(Mesh().faceCount, 0);
    EXPECT_EQ(Mesh().vertexCount, 0);
    EXPECT_EQ(Mesh().uv0Count, 0);
    EXPECT_EQ(Mesh().faces, nullptr);
    // The indexed writer writes such an object with empty lists.
    const std::string text = Indexed(0);
    EXPECT_NE(text.find("*MESH_NUMVERTEX 0\n\t\t*MESH_NUMFACES 0\n"), std::string::npos);
}

TEST_F(MeshPrepareTest, ShortFacesGetZeroPaddedListsAndLongFacesKeepAllCorners) {
    LoadFaces({Face(0, {4, 6}, {4, 6}, {4, 6}), Face(0, {1, 2, 3, 8}, {1, 2, 3, 8}, {1, 2, 3, 8}),
               Face(0, {}, {}, {})});
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    const ExportFace& two = Mesh().faces[0];
    ASSERT_EQ(two.cornerCount, 3);
    EXPECT_EQ(two.vertexIndices[1], 1);
    EXPECT_EQ(two.vertexIndices[2], 0);
    EXPECT_EQ(two.uv0Indices[2], 0);
    EXPECT_EQ(two.uv1Indices[2], 0);
    EXPECT_EQ(Mesh().faces[1].cornerCount, 4);
    EXPECT_EQ(Mesh().faces[1].vertexIndices[3], 5);
    EXPECT_EQ(Mesh().vertexCount, 6);
    EXPECT_EQ(Mesh().faces[2].cornerCount, 0);
    EXPECT_EQ(Mesh().faces[2].vertexIndices, nullptr);
    // The writer writes the missing corners as 0 and only three per face.
    const auto faces = LinesWith(Indexed(0), "*MESH_FACE ");
    ASSERT_EQ(faces.size(), 3u);
    EXPECT_NE(faces[0].find("A:    0 B:    1 C:    0 "), std::string::npos);
    EXPECT_NE(faces[1].find("A:    2 B:    3 C:    4 "), std::string::npos);
    EXPECT_NE(faces[2].find("A:    0 B:    0 C:    0 "), std::string::npos);
}

TEST_F(MeshPrepareTest, EqualPositionsOfDifferentHostVerticesStayApart) {
    LoadFaces({Face(0, {1, 2, 3}, {1, 2, 3}, {1, 2, 3})});
    context()->vertices[2].position[0] = 1.0f;
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    EXPECT_EQ(Mesh().vertexCount, 3);
}

TEST_F(MeshPrepareTest, PreparingTwiceGivesTheSameMesh) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {5, 7, 9}), Face(0, {7, 9, 2}, {7, 9, 2}, {7, 9, 2})});
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    const std::vector<int> first(Mesh().faces[1].vertexIndices, Mesh().faces[1].vertexIndices + 3);
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    EXPECT_EQ(set_.count, 1);
    EXPECT_EQ(Mesh().vertexCount, 4);
    EXPECT_EQ(std::vector<int>(Mesh().faces[1].vertexIndices, Mesh().faces[1].vertexIndices + 3), first);
}

TEST_F(MeshPrepareTest, RunningOutOfMemoryAnywhereFailsCleanlyAndWritesNothing) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {1, 1, 1}), Face(0, {7, 9, 2}, {7, 9, 3}, {2, 1, 1})});
    int failures = 0;
    for (int failAt = 1; failAt < 200; ++failAt) {
        int prepared;
        {
            FailingAllocations failing(failAt);
            prepared = PrepareExportMesh(&set_, 0);
            ReleaseExportMeshSet(&set_);
        }
        int written = -1;
        std::string text;
        {
            FailingAllocations failing(failAt);
            text = Indexed(0, 0, &written);
        }
        EXPECT_EQ(written, prepared) << failAt;
        if (prepared == 1) break;
        ++failures;
        EXPECT_EQ(text, "") << failAt;
    }
    // Mesh, faces, two lists, then per step pool, nodes, slots, final array.
    EXPECT_GT(failures, 10);
    ASSERT_EQ(PrepareExportMesh(&set_, 0), 1);
    EXPECT_EQ(Mesh().vertexCount, 4);
}

TEST_F(MeshPrepareTest, NoContextOrBadObjectFails) {
    LoadFaces({Face(0, {0, 1, 2}, {0, 1, 2}, {0, 1, 2})});
    EXPECT_EQ(PrepareExportMesh(&set_, 2), 0);
    EXPECT_EQ(PrepareExportMesh(&set_, -1), 0);
    currentContext = nullptr;
    EXPECT_EQ(PrepareExportMesh(&set_, 0), 0);
    EXPECT_EQ(Indexed(0), "");
}

}  // namespace
}  // namespace geomtest
