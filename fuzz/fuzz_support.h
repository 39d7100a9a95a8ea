// What both fuzz targets need around one run: a scratch file that is gone
// when the run ends, and the working directory put back.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// A path of this process for scratch file `name`: in /dev/shm when it is
// there (no disk writes per run), else in /tmp. Callers remove the file at
// the end of every run, so at most one is left behind by a crash.
inline std::string ScratchPath(const char* name) {
    struct stat info {};
    const bool shm = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0;
    return std::string(shm ? "/dev/shm" : "/tmp") + "/asefilter-fuzz-" + std::to_string(getpid()) + "-" + name;
}

inline bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, size, 1, file) == 1;
    return std::fclose(file) == 0 && written;
}

// Puts back the current directory the object found, which an import changes
// to the file's folder. libFuzzer resolves the corpus folder and the crash
// artifact prefix against it.
class WorkingDirectoryGuard {
public:
    WorkingDirectoryGuard() {
        if (getcwd(saved_, sizeof saved_) == nullptr) std::abort();
    }
    ~WorkingDirectoryGuard() {
        if (chdir(saved_) != 0) std::abort();
    }
    WorkingDirectoryGuard(const WorkingDirectoryGuard&) = delete;
    WorkingDirectoryGuard& operator=(const WorkingDirectoryGuard&) = delete;

private:
    char saved_[4096];
};

}  // namespace fuzzsupport
