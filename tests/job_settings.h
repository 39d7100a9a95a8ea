// Job settings for tests that reach jobs only through the filter callback,
// and an owner of the allocator hook that counts what the jobs allocate,
// makes a chosen allocation fail and keeps the live blocks and peak bytes.
#pragma once

#include <cstddef>

#include "base/job_settings.h"

// Counts the allocations of the allocators it hooks; makes the n-th from
// the last FailAt (1-based) fail, and every later one too when sticky.
class AllocationWatch {
public:
    AllocationWatch() = default;
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    JobAllocatorHook Hook() { return {&Fails, &Changed, this}; }

    // Makes the `failAt`-th allocation from now fail (0: none), and every
    // later one when `sticky`. Returns the allocations made since the
    // previous call.
    long FailAt(long failAt, bool sticky = false) {
        const long made = made_;
        made_ = 0;
        failAt_ = failAt;
        sticky_ = sticky;
        return made;
    }
    // Blocks live now in the hooked allocators.
    long LiveBlocks() const { return liveBlocks_; }
    // The most bytes live at once since the previous call; the next period
    // starts at the bytes live now.
    size_t TakePeakBytes() {
        const size_t peak = peakBytes_;
        peakBytes_ = liveBytes_;
        return peak;
    }

private:
    static bool Fails(void* owner) {
        AllocationWatch& w = *static_cast<AllocationWatch*>(owner);
        ++w.made_;
        if (w.failAt_ == 0) return false;
        return w.sticky_ ? w.made_ >= w.failAt_ : w.made_ == w.failAt_;
    }
    static void Changed(void* owner, long blocks, size_t bytesBefore, size_t bytesAfter) {
        AllocationWatch& w = *static_cast<AllocationWatch*>(owner);
        w.liveBlocks_ += blocks;
        w.liveBytes_ = w.liveBytes_ - bytesBefore + bytesAfter;
        if (w.liveBytes_ > w.peakBytes_) w.peakBytes_ = w.liveBytes_;
    }

    long made_ = 0;
    long failAt_ = 0;
    bool sticky_ = false;
    long liveBlocks_ = 0;
    size_t liveBytes_ = 0;
    size_t peakBytes_ = 0;
};

// While it lives, the jobs made take `settings` with the scope's own
// allocation watch as their allocator's hook; the settings may be changed
// between jobs. Scopes nest: the previous settings come back at the end.
class JobSettingsScope {
public:
    explicit JobSettingsScope(const JobSettings& settings = {}) : settings_(settings) {
        settings_.allocation = allocations.Hook();
        previous_ = SetJobTestSettings(&settings_);
    }
    ~JobSettingsScope() { SetJobTestSettings(previous_); }
    JobSettingsScope(const JobSettingsScope&) = delete;
    JobSettingsScope& operator=(const JobSettingsScope&) = delete;

    JobSettings& Settings() { return settings_; }

    AllocationWatch allocations;

private:
    JobSettings settings_;
    const JobSettings* previous_ = nullptr;
};
