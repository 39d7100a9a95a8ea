// Mesh preparation of the indexed layout: the growable array, weld tables,
// first-use renumbering and running out of memory.
#include <limits>

#include "export/geometry/geometry_internal.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Makes the allocation numbered `failAt` (1 = the next one) and every later
// one fail, until the object goes away.
struct FailingAllocations {
    static inline int remaining = 0;
    void* (*saved)(void*, size_t) = ExportRealloc;
    explicit FailingAllocations(int failAt) {
        remaining = failAt;
        ExportRealloc = [](void* block, size_t bytes) { return --remaining <= 0 ? nullptr : std::realloc(block, bytes); };
    }
    ~FailingAllocations() { ExportRealloc = saved; }
};

TEST(DynArrayTest, GrowsByDoublingFromSixteenAndKeepsItsContentsWhenGrowthFails) {
    DynArray<int> array;
    for (int i = 0; i < 16; ++i) ASSERT_EQ(DynArrayAdd(&array, i), 0);
    {
        FailingAllocations failing(1);
        EXPECT_EQ(DynArrayAdd(&array, 99), E_OUTOFMEMORY);
    }
    EXPECT_EQ(array.size, 16);
    EXPECT_EQ(array.data[15], 15);
    EXPECT_EQ(DynArrayAdd(&array, 16), 0);
    EXPECT_EQ(array.capacity, 32);
    EXPECT_EQ(DynArraySetCapacity(&array, -1), E_INVALIDARG);
    EXPECT_EQ(DynArraySetAt(&array, 17, 5), E_INVALIDARG);
    EXPECT_EQ(DynArraySetAt(&array, -1, 5), E_INVALIDARG);
    EXPECT_EQ(DynArraySetCapacity(&array, 0), 0);
    EXPECT_EQ(array.data, nullptr);
    EXPECT_EQ(array.size, 0);
}

TEST(WeldTableTest, EntriesOfAKeyMatchWithinTheToleranceAndNaNNever) {
    WeldTable table;
    DynArray<ExportVertex> pool;
    const auto add = [&](int key, float x) { return FindOrAddVertex(&table, &pool, key, ExportVertex{0, {x, 0, 0}, {}, {}}); };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Another position under a key makes a second entry in its chain.
    const struct { int key; float x; int entry; } steps[] = {{3, 0, 0}, {40, 1, 1}, {7, 2, 2}, {40, 1.00005f, 1},
                                                             {40, 5, 3}, {40, 5, 3},  {7, nan, 4}, {7, nan, 5}};
    for (const auto& step : steps) EXPECT_EQ(add(step.key, step.x), step.entry) << step.key << " " << step.x;
    EXPECT_EQ(table.slots.size, 41);
    EXPECT_EQ(add(-1, 0), E_INVALIDARG);
    WeldTableClear(&table);
    DynArrayClear(&pool);
}

TEST(WeldTableTest, FailedAllocationAddsNothing) {
    const ExportVertex vertex{0, {1, 2, 3}, {}, {}};
    for (int failAt = 1; failAt <= 4; ++failAt) {  // pool, node, slots, used keys
        SCOPED_TRACE(failAt);
        WeldTable table;
        DynArray<ExportVertex> pool;
        {
            FailingAllocations failing(failAt);
            EXPECT_EQ(FindOrAddVertex(&table, &pool, 5, vertex), E_OUTOFMEMORY);
        }
        EXPECT_EQ(pool.size, 0);
        for (int k = 0; k < table.slots.size; ++k) EXPECT_EQ(table.slots.data[k], nullptr);
        EXPECT_EQ(FindOrAddVertex(&table, &pool, 5, vertex), 0);
        WeldTableClear(&table);
        DynArrayClear(&pool);
    }
}

std::vector<int> Three(const int32_t* list) { return std::vector<int>(list, list + 3); }

TEST_F(GeometryExportTest, PreparationNumbersVerticesAndUvsInOrderOfFirstUse) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {1, 1, 1}), Face(1, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}),
               Face(0, {7, 9, 2}, {7, 9, 3}, {2, 1, 1})});
    context()->vertices[2].position[0] = 5.0f;  // at vertex 5's position, yet a vertex of its own
    ExportMeshSet set;
    for (int pass = 0; pass < 2; ++pass) {  // preparing again gives the same mesh
        SCOPED_TRACE(pass);
        ASSERT_EQ(PrepareExportMesh(&set, 0), 1);
        ASSERT_EQ(set.count, 1);
        const ExportMesh& mesh = set.meshes[0];
        ASSERT_EQ(mesh.vertexCount, 4);
        ASSERT_EQ(mesh.faceCount, 2);
        std::vector<int> sources;
        for (int i = 0; i < 4; ++i) sources.push_back(mesh.vertices[i].sourceVertex);
        EXPECT_EQ(sources, (std::vector<int>{5, 7, 9, 2}));
        EXPECT_EQ(Three(mesh.faces[1].vertexIndices), (std::vector<int>{1, 2, 3}));
        // Channel 0: host UV 5, 7, 9, 3; channel 1: host 1 (used four times), 2.
        EXPECT_EQ(mesh.uv0Count, 4);
        EXPECT_EQ(mesh.uv0[3].u, 0.3f);
        EXPECT_EQ(mesh.uv1Count, 2);
        EXPECT_EQ(Three(mesh.faces[1].uv1Indices), (std::vector<int>{1, 0, 0}));
    }
    EXPECT_EQ(PrepareExportMesh(&set, 2), 0);
    EXPECT_EQ(PrepareExportMesh(&set, -1), 0);
    currentContext = nullptr;
    EXPECT_EQ(PrepareExportMesh(&set, 0), 0);
    ReleaseExportMeshSet(&set);
}

TEST_F(GeometryExportTest, PreparationRunningOutOfMemoryAnywhereFailsCleanlyAndWritesNothing) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {1, 1, 1}), Face(0, {7, 9, 2}, {7, 9, 3}, {2, 1, 1})});
    int failures = 0;
    for (int failAt = 1; failAt < 200; ++failAt) {
        SCOPED_TRACE(failAt);
        ExportMeshSet set;
        int prepared = 0;
        int written = -1;
        std::string text;
        {
            FailingAllocations failing(failAt);
            prepared = PrepareExportMesh(&set, 0);
            ReleaseExportMeshSet(&set);
        }
        {
            FailingAllocations failing(failAt);
            text = Indexed(0, 0, &written);
        }
        EXPECT_EQ(written, prepared);
        if (prepared == 1) break;
        ++failures;
        EXPECT_EQ(text, "");
    }
    // Mesh, faces, two lists, then per step pool, nodes, slots, final array.
    EXPECT_GT(failures, 10);
    EXPECT_EQ(NumberAfter(Indexed(0), "*MESH_NUMVERTEX "), 4);
}

}  // namespace
}  // namespace geomtest
