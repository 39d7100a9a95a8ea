// The test settings pointer of the jobs.
#include "base/job_settings.h"

namespace {

// Null in product use. Jobs run one at a time on the host's thread and read
// it only when they are made.
const JobSettings* gTestSettings = nullptr;

}  // namespace

const JobSettings* SetJobTestSettings(const JobSettings* settings) {
    const JobSettings* previous = gTestSettings;
    gTestSettings = settings;
    return previous;
}

JobSettings CurrentJobSettings() { return gTestSettings != nullptr ? *gTestSettings : JobSettings{}; }
