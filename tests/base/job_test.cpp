// The job allocator owns every block it hands out and tells its hook of
// each, fails when the hook asks, jobs take the test settings set when they
// are made, and the error record keeps the first failure with its line.
#include "base/job.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/strings.h"
#include "export/export_job.h"
#include "tests/job_settings.h"

namespace {

std::u16string Formatted(const JobError& error) {
    char16_t text[kDualStringUnits];
    error.Format(text, kDualStringUnits);
    return text;
}

TEST(JobAllocator, FreesWhatIsLeftAndKeepsContentAcrossMoves) {
    AllocationWatch watch;
    {
        JobAllocator allocator{watch.Hook()};
        // Small blocks, one grown past the large-block threshold, larger, and back:
        // content survives every move, and the list stays linked through
        // reallocations of blocks in the middle of it.
        std::vector<unsigned char*> blocks;
        for (int i = 0; i < 5; ++i) {
            auto* b = static_cast<unsigned char*>(allocator.Allocate(16));
            ASSERT_NE(b, nullptr);
            std::memset(b, i + 1, 16);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(std::max_align_t), 0u);
            blocks.push_back(b);
        }
        blocks[2] = static_cast<unsigned char*>(allocator.Reallocate(blocks[2], kLargeBlockBytes * 3));
        ASSERT_NE(blocks[2], nullptr);
        EXPECT_EQ(blocks[2][15], 3);
        // Large to larger: moved whole (remapped where the system can).
        blocks[2][kLargeBlockBytes * 3 - 1] = 9;
        blocks[2] = static_cast<unsigned char*>(allocator.Reallocate(blocks[2], kLargeBlockBytes * 7));
        ASSERT_NE(blocks[2], nullptr);
        EXPECT_EQ(blocks[2][15] + blocks[2][kLargeBlockBytes * 3 - 1], 3 + 9);
        blocks[2][kLargeBlockBytes * 7 - 1] = 1;
        blocks[2] = static_cast<unsigned char*>(allocator.Reallocate(blocks[2], 40));
        ASSERT_NE(blocks[2], nullptr);
        EXPECT_EQ(blocks[2][0], 3);
        blocks[3] = static_cast<unsigned char*>(allocator.Reallocate(blocks[3], 100000));
        ASSERT_NE(blocks[3], nullptr);
        EXPECT_EQ(blocks[3][15], 4);
        EXPECT_EQ(allocator.LiveBlocks(), 5);
        allocator.Free(blocks[0]);
        allocator.Free(blocks[4]);
        EXPECT_EQ(allocator.LiveBlocks(), 3);
        EXPECT_EQ(allocator.LiveBytes(), 16u + 40u + 100000u);
        EXPECT_GE(allocator.PeakBytes(), kLargeBlockBytes * 3);
        // The hook was told of every block, move and size as the allocator
        // counts them itself.
        EXPECT_EQ(watch.LiveBlocks(), 3);
        EXPECT_EQ(watch.TakePeakBytes(), allocator.PeakBytes());
        EXPECT_EQ(watch.TakePeakBytes(), allocator.LiveBytes());
        // The rest is freed by the destructor (ASan reports it otherwise).
    }
    EXPECT_EQ(watch.LiveBlocks(), 0);
    EXPECT_EQ(watch.TakePeakBytes(), 16u + 40u + 100000u);
    EXPECT_EQ(watch.TakePeakBytes(), 0u);
}

TEST(JobAllocator, TheHooksFailuresHitTheRequestedAllocationOnly) {
    AllocationWatch watch;
    JobAllocator allocator{watch.Hook()};
    watch.FailAt(2);
    void* first = allocator.Allocate(8);
    void* second = allocator.Allocate(8);
    void* third = allocator.Allocate(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    // A failed reallocation keeps the old block.
    watch.FailAt(1);
    EXPECT_EQ(allocator.Reallocate(first, 64), nullptr);
    EXPECT_EQ(allocator.LiveBlocks(), 2);
    EXPECT_EQ(watch.LiveBlocks(), 2);
    watch.FailAt(1, true);
    EXPECT_EQ(allocator.Allocate(8), nullptr);
    EXPECT_EQ(allocator.Allocate(kLargeBlockBytes), nullptr);
    EXPECT_EQ(watch.FailAt(0), 2);
    EXPECT_EQ(allocator.AllocateArray<uint64_t>(SIZE_MAX / 4), nullptr);
}

TEST(JobStdAllocator, ContainersLiveInTheJobAndThrowWhenItRefuses) {
    AllocationWatch watch;
    JobAllocator allocator{watch.Hook()};
    std::vector<int, JobStdAllocator<int>> values{JobStdAllocator<int>(allocator)};
    for (int i = 0; i < 1000; ++i) values.push_back(i);
    EXPECT_EQ(allocator.LiveBlocks(), 1);
    watch.FailAt(1);
    EXPECT_THROW(values.reserve(100000), std::bad_alloc);
    watch.FailAt(0);
    EXPECT_EQ(values[999], 999);
}

// A job takes the settings set when it is made and keeps them; a scope's
// end brings back the settings it replaced, and without any the product's.
TEST(JobSettings, AJobKeepsTheSettingsOfWhenItWasMade) {
    EXPECT_EQ(CurrentJobSettings().allocation.fails, nullptr);
    JobSettingsScope outer({.output = {ExportOutputStep::kFlush, 3}});
    std::unique_ptr<ExportJob> inner;
    {
        JobSettingsScope scope({.read = {.windowBytes = 64, .twoPasses = true}});
        inner = std::make_unique<ExportJob>(nullptr);
        const JobSettings now = CurrentJobSettings();
        EXPECT_EQ(now.read.windowBytes, 64u);
        EXPECT_TRUE(now.read.twoPasses);
        EXPECT_EQ(now.output.step, ExportOutputStep::kNone);
        scope.allocations.FailAt(1, true);
        EXPECT_EQ(inner->allocator.Allocate(8), nullptr);
        scope.allocations.FailAt(0);
        EXPECT_NE(inner->allocator.Allocate(8), nullptr);
        EXPECT_EQ(scope.allocations.LiveBlocks(), 1);
        inner.reset();
        EXPECT_EQ(scope.allocations.LiveBlocks(), 0);
    }
    ExportJob job(nullptr);
    EXPECT_EQ(CurrentJobSettings().read.windowBytes, 0u);
    // The outer scope's output fault: the third flush fails, once copied
    // into the job; a change of the record later is not seen by the job.
    outer.Settings().output = {};
    EXPECT_FALSE(job.outputFault.Fails(ExportOutputStep::kFlush));
    EXPECT_FALSE(job.outputFault.Fails(ExportOutputStep::kOpen));
    EXPECT_FALSE(job.outputFault.Fails(ExportOutputStep::kFlush));
    EXPECT_TRUE(job.outputFault.Fails(ExportOutputStep::kFlush));
    EXPECT_TRUE(job.outputFault.Fails(ExportOutputStep::kFlush));
    EXPECT_NE(job.allocator.Allocate(8), nullptr);
    EXPECT_EQ(outer.allocations.LiveBlocks(), 1);
}

TEST(JobError, KeepsTheFirstFailureAndSaysWhere) {
    JobError error;
    EXPECT_FALSE(error.Failed());
    EXPECT_EQ(error.Fail(JobErrorKind::kIndex, 1234, u"face 7 of \"Box\"", u"uses vertex %d, but \"%S\" has %d vertices",
                         9, "Box", 8),
              0);
    error.Fail(JobErrorKind::kMemory, 5, u"", u"later");
    EXPECT_EQ(error.kind, JobErrorKind::kIndex);
    EXPECT_EQ(Formatted(error), u"line 1234: face 7 of \"Box\" uses vertex 9, but \"Box\" has 8 vertices");

    JobError fixed;
    fixed.Fail(JobErrorKind::kContent, 0, nullptr, u"No geometry found.");
    EXPECT_EQ(Formatted(fixed), u"No geometry found.");
    JobError big;
    big.Fail(JobErrorKind::kLimit, 5000000000LL, nullptr, u"%lld declared", -5000000000LL);
    EXPECT_EQ(Formatted(big), u"line 5000000000: -5000000000 declared");

    HostContext context{};
    big.WriteTo(&context);
    EXPECT_STREQ(context.errorText.narrow, "line 5000000000: -5000000000 declared");
}

}  // namespace
