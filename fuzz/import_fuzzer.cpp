// Feeds arbitrary bytes through the import path asehost uses: a file on
// disk, a fresh host context, FilterProc and the reference host's scene.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "plugin/job.h"
#include "host/scene.h"
#include "plugin/plugin.h"

namespace {

std::u16string FuzzFilePath() {
    static const std::string path = "/dev/shm/asefilter-fuzz-" + std::to_string(getpid()) + ".ase";
    return std::u16string(path.begin(), path.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string path = FuzzFilePath();
    const std::string narrow(path.begin(), path.end());
    std::FILE* file = std::fopen(narrow.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0 && std::fwrite(data, size, 1, file) != 1) {
        std::fclose(file);
        return 0;
    }
    std::fclose(file);

    asehost::HostScene scene;
    scene.setFileName(path.c_str());
    const int result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
    if (result != 0 && result != 1) std::abort();
    // Whatever happened, the import leaves nothing of its document behind.
    if (JobLiveBlocksForTesting() != 0) std::abort();
    return 0;
}
