#include "e2e_support.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

#include "host/text.h"

namespace e2e {

namespace fs = std::filesystem;

const asehost::PluginLoader& Plugin() {
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

std::string DataPath(const std::string& name) {
    return std::string(ASE_TEST_DATA_DIR) + "/e2e/" + name;
}

std::string SamplePath(const std::string& name) {
    const std::string path = std::string(ASE_SHARED_DIR) + "/samples/" + name;
    return fs::exists(path) ? path : std::string();
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    EXPECT_TRUE(out.good()) << path;
}

fs::path FreshTempDir(const fs::path& name) {
    const fs::path dir = fs::temp_directory_path() / "ase_e2e" / name;
    // An import makes the file's folder the current directory, which Windows
    // will not remove: what stays is emptied where it can be.
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    fs::create_directories(dir);
    return dir;
}

int Import(asehost::HostScene& scene, const fs::path& path) {
    return asehost::ImportFile(Plugin(), scene, path.u16string().c_str());
}

std::string FolderOfFileName(const asehost::HostScene& scene) {
    const std::string name = asehost::Utf16ToUtf8(asehost::WideOf(scene.context()->fileName));
    return name.substr(0, name.find_last_of("/\\") + 1);
}

void ExpectSubset(const nlohmann::json& expected, const nlohmann::json& actual, const std::string& folder, double tolerance,
                  const std::string& where) {
    if (expected.is_null()) return;
    if (expected.is_object()) {
        ASSERT_TRUE(actual.is_object()) << where;
        for (const auto& [key, value] : expected.items()) {
            ASSERT_TRUE(actual.contains(key)) << where << "." << key;
            ExpectSubset(value, actual[key], folder, tolerance, where + "." + key);
        }
    } else if (expected.is_array()) {
        ASSERT_TRUE(actual.is_array()) << where;
        ASSERT_EQ(actual.size(), expected.size()) << where;
        for (size_t i = 0; i < expected.size(); ++i) {
            ExpectSubset(expected[i], actual[i], folder, tolerance, where + "[" + std::to_string(i) + "]");
        }
    } else if (expected.is_number()) {
        ASSERT_TRUE(actual.is_number()) << where << " is " << actual.dump();
        EXPECT_NEAR(actual.get<double>(), expected.get<double>(), tolerance) << where;
    } else if (expected.is_string()) {
        std::string text = expected.get<std::string>();
        if (const size_t at = text.find("${DIR}"); at != std::string::npos) text.replace(at, 6, folder);
        EXPECT_EQ(actual, nlohmann::json(text)) << where;
    } else {
        EXPECT_EQ(actual, expected) << where;
    }
}

}  // namespace e2e
