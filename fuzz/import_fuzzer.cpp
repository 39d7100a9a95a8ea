// Feeds arbitrary bytes through the import path asehost uses: a file on
// disk, a fresh host context, FilterProc and the reference host's scene.
//
// Every input goes into one scratch file of this process, removed after the
// run. An import makes the file's folder the current directory, so the
// fuzzer puts its own back after each run: libFuzzer resolves the corpus
// folder and writes crash artifacts relative to it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/store/scene.h"
#include "host/tool/plugin_loader.h"
#include "tests/job_settings.h"
#include "plugin/plugin.h"

namespace {

struct Outcome {
    int result;
    std::string scene;
    std::string error;
};

Outcome ImportOnce(const std::u16string& path) {
    asehost::HostScene scene;
    scene.setFileName(path.c_str());
    const int result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
    if (result != 0 && result != 1) std::abort();
    return {result, result == 1 ? scene.saveJson() : std::string(), asehost::ErrorTextOf(*scene.context())};
}

}  // namespace

// Each input is imported twice: read whole, and through a window small
// enough to move many times, every other input in two passes (the counting
// pass first); both must give the same scene or failure.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string narrow = fuzzsupport::ScratchPath("import.ase");
    static const std::u16string path(narrow.begin(), narrow.end());
    if (!fuzzsupport::WriteWholeFile(narrow, data, size)) return 0;

    const fuzzsupport::WorkingDirectoryGuard keep;
    JobSettingsScope jobs;
    const Outcome whole = ImportOnce(path);
    jobs.Settings().read = {.windowBytes = static_cast<uint32_t>(64 + size % 97), .twoPasses = size % 2 == 1};
    const Outcome windowed = ImportOnce(path);
    if (windowed.result != whole.result || windowed.scene != whole.scene || windowed.error != whole.error) std::abort();
    // Whatever happened, the import leaves nothing of its own behind.
    if (jobs.allocations.LiveBlocks() != 0) std::abort();
    std::remove(narrow.c_str());
    return 0;
}
