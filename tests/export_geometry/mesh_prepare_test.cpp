// Mesh preparation of the indexed layout: the growable array, weld tables,
// first-use renumbering and running out of memory.
#include <limits>

#include "export/geometry/geometry_internal.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Makes the allocation numbered `failAt` (1 = the next one) of the
// allocators `watch` hooks and every later one fail, until the object goes
// away.
struct FailingAllocations {
    FailingAllocations(AllocationWatch& watch, int failAt) : watch_(watch) { watch_.FailAt(failAt, true); }
    ~FailingAllocations() { watch_.FailAt(0); }
    AllocationWatch& watch_;
};

// The growable array doubles from sixteen and keeps its contents when growth
// fails; a weld table's entries of one key match within the tolerance, NaN never.
TEST(PreparationStorage, ArraysAndWeldTablesKeepWhatTheyHoldWhenAllocationsFail) {
    AllocationWatch watch;
    JobAllocator allocator{watch.Hook()};
    DynArray<int> array{&allocator};
    for (int i = 0; i < 16; ++i) ASSERT_EQ(DynArrayAdd(&array, i), 0);
    {
        FailingAllocations failing(watch, 1);
        EXPECT_EQ(DynArrayAdd(&array, 99), E_OUTOFMEMORY);
    }
    EXPECT_EQ(array.size, 16);
    EXPECT_EQ(array.data[15], 15);
    EXPECT_EQ(DynArrayAdd(&array, 16), 0);
    EXPECT_EQ(array.capacity, 32);
    DynArrayClear(&array);

    WeldTable table(&allocator);
    DynArray<ExportVertex> pool{&allocator};
    const auto add = [&](int key, float x) { return FindOrAddVertex(&table, &pool, key, ExportVertex{0, {x, 0, 0}, {}, {}}); };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Another position under a key makes a second entry in its chain.
    const struct { int key; float x; int entry; } steps[] = {{3, 0, 0}, {40, 1, 1}, {7, 2, 2}, {40, 1.00005f, 1},
                                                             {40, 5, 3}, {40, 5, 3},  {7, nan, 4}, {7, nan, 5}};
    for (const auto& step : steps) EXPECT_EQ(add(step.key, step.x), step.entry) << step.key << " " << step.x;
    EXPECT_EQ(add(-1, 0), E_INVALIDARG);
    WeldTableClear(&table);
    DynArrayClear(&pool);

    for (int failAt = 1; failAt <= 4; ++failAt) {  // pool, node, slots, used keys
        SCOPED_TRACE(failAt);
        {
            FailingAllocations failing(watch, failAt);
            EXPECT_EQ(add(5, 1), E_OUTOFMEMORY);
        }
        EXPECT_EQ(pool.size, 0);
        for (int k = 0; k < table.slots.size; ++k) EXPECT_EQ(table.slots.data[k], nullptr);
        EXPECT_EQ(add(5, 1), 0);
        WeldTableClear(&table);
        DynArrayClear(&pool);
    }
}

std::vector<int> Three(const int32_t* list) { return std::vector<int>(list, list + 3); }

// Vertices and texture coordinates are numbered in order of first use, also
// after every allocation of an earlier preparation failed in turn.
TEST_F(GeometryExportTest, PreparationRunningOutOfMemoryAnywhereFailsCleanlyThenNumbersInOrderOfFirstUse) {
    LoadFaces({Face(0, {5, 7, 9}, {5, 7, 9}, {1, 1, 1}), Face(1, {0, 1, 2}, {0, 1, 2}, {0, 1, 2}),
               Face(0, {7, 9, 2}, {7, 9, 3}, {2, 1, 1})});
    context()->vertices[2].position[0] = 5.0f;  // at vertex 5's position, yet a vertex of its own
    int failures = 0;
    for (int failAt = 1; failAt < 200; ++failAt, ++failures) {
        SCOPED_TRACE(failAt);
        ExportMeshSet set;
        int written = -1;
        NewJob();
        int prepared = 0;
        {
            FailingAllocations failing(jobs_.allocations, failAt);
            prepared = PrepareExportMesh(*job_, &set, 0);
            ReleaseExportMeshSet(*job_, &set);
        }
        EXPECT_EQ(job_->error.kind, prepared == 1 ? JobErrorKind::kNone : JobErrorKind::kMemory);
        NewJob();
        std::string text;
        {
            FailingAllocations failing(jobs_.allocations, failAt);
            text = Indexed(0, 0, &written);
        }
        EXPECT_EQ(written, prepared);
        if (prepared == 1) break;
        EXPECT_EQ(text, "");
    }
    // Mesh, faces, two lists, then per step pool, nodes, slots, final array.
    EXPECT_GT(failures, 10);

    ExportMeshSet set;
    ASSERT_EQ(PrepareExportMesh(*job_, &set, 0), 1);
    const ExportMesh& mesh = set.meshes[0];
    // Channel 0: host UV 5, 7, 9, 3; channel 1: host 1 (used four times), 2.
    ASSERT_EQ(std::vector<int>({set.count, mesh.vertexCount, mesh.faceCount, mesh.uv0Count, mesh.uv1Count}),
              std::vector<int>({1, 4, 2, 4, 2}));
    std::vector<int> sources;
    for (int i = 0; i < 4; ++i) sources.push_back(mesh.vertices[i].sourceVertex);
    EXPECT_EQ(sources, (std::vector<int>{5, 7, 9, 2}));
    EXPECT_EQ(Three(mesh.faces[1].vertexIndices), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(mesh.uv0[3].u, 0.3f);
    EXPECT_EQ(Three(mesh.faces[1].uv1Indices), (std::vector<int>{1, 0, 0}));
    ReleaseExportMeshSet(*job_, &set);
}

}  // namespace
}  // namespace geomtest
