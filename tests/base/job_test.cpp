// The job allocator owns every block it hands out, fails on request, and
// the error record keeps the first failure with its line.
#include "base/job.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/strings.h"

namespace {

std::u16string Formatted(const JobError& error) {
    char16_t text[kDualStringUnits];
    error.Format(text, kDualStringUnits);
    return text;
}

TEST(JobAllocator, FreesWhatIsLeftAndKeepsContentAcrossMoves) {
    const long before = JobLiveBlocksForTesting();
    {
        JobAllocator allocator;
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
        // The rest is freed by the destructor (ASan reports it otherwise).
    }
    EXPECT_EQ(JobLiveBlocksForTesting(), before);
}

TEST(JobAllocator, InjectedFailuresHitTheRequestedAllocationOnly) {
    JobAllocator allocator;
    SetJobAllocationFailureForTesting(2);
    void* first = allocator.Allocate(8);
    void* second = allocator.Allocate(8);
    void* third = allocator.Allocate(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    // A failed reallocation keeps the old block.
    SetJobAllocationFailureForTesting(1);
    EXPECT_EQ(allocator.Reallocate(first, 64), nullptr);
    EXPECT_EQ(allocator.LiveBlocks(), 2);
    SetJobAllocationFailureForTesting(1, true);
    EXPECT_EQ(allocator.Allocate(8), nullptr);
    EXPECT_EQ(allocator.Allocate(kLargeBlockBytes), nullptr);
    EXPECT_EQ(SetJobAllocationFailureForTesting(0), 2);
    EXPECT_EQ(allocator.AllocateArray<uint64_t>(SIZE_MAX / 4), nullptr);
}

TEST(JobStdAllocator, ContainersLiveInTheJobAndThrowWhenItRefuses) {
    JobAllocator allocator;
    std::vector<int, JobStdAllocator<int>> values{JobStdAllocator<int>(allocator)};
    for (int i = 0; i < 1000; ++i) values.push_back(i);
    EXPECT_EQ(allocator.LiveBlocks(), 1);
    SetJobAllocationFailureForTesting(1);
    EXPECT_THROW(values.reserve(100000), std::bad_alloc);
    SetJobAllocationFailureForTesting(0);
    EXPECT_EQ(values[999], 999);
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
