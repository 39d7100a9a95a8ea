// Shared helpers of the end-to-end tests: the built module loaded once, the
// fixtures and samples, and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "host/store/text.h"
#include "tests/test_files.h"

namespace e2e {

namespace fs = std::filesystem;
using testfiles::ReadFile;
using testfiles::WriteFile;

// The module at ASE_MODULE_PATH, loaded and registered on first use.
inline const asehost::PluginLoader& Plugin() {
    static const std::unique_ptr<asehost::PluginLoader> loader = [] {
        auto opened = std::make_unique<asehost::PluginLoader>();
        std::u16string path;
        std::string error;
        EXPECT_TRUE(asehost::Utf8ToUtf16(ASE_MODULE_PATH, path));
        EXPECT_TRUE(opened->open(path.c_str(), error)) << error;
        return opened;
    }();
    return *loader;
}

// A fixture of tests/data/e2e.
inline std::string DataPath(const std::string& name) { return std::string(ASE_TEST_DATA_DIR) + "/e2e/" + name; }

// One of the shared sample files, or empty when the samples are absent.
inline std::string SamplePath(const std::string& name) {
    const std::string path = std::string(ASE_SHARED_DIR) + "/samples/" + name;
    return fs::exists(path) ? path : std::string();
}

// A folder under the system's temporary folder, emptied as far as it can be:
// an import makes the file's folder the current directory, which Windows will
// not remove.
inline fs::path FreshTempDir(const fs::path& name) {
    const fs::path dir = fs::temp_directory_path() / "ase_e2e" / name;
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    fs::create_directories(dir);
    return dir;
}

// FILTER_MSG_IMPORT of `path` into `scene` through the module.
inline int Import(asehost::HostScene& scene, const fs::path& path) {
    return asehost::ImportFile(Plugin(), scene, path.u16string().c_str());
}

}  // namespace e2e
