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
#include "host/scene.h"
#include "plugin/job.h"
#include "plugin/plugin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string narrow = fuzzsupport::ScratchPath("import.ase");
    static const std::u16string path(narrow.begin(), narrow.end());
    if (!fuzzsupport::WriteWholeFile(narrow, data, size)) return 0;

    const fuzzsupport::WorkingDirectoryGuard keep;
    {
        asehost::HostScene scene;
        scene.setFileName(path.c_str());
        const int result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
        if (result != 0 && result != 1) std::abort();
    }
    // Whatever happened, the import leaves nothing of its own behind.
    if (JobLiveBlocksForTesting() != 0) std::abort();
    std::remove(narrow.c_str());
    return 0;
}
