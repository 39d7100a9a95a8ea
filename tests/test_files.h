// Files for the tests: whole files read and written, paths into the data
// folder, the .ase files of a folder, and a text with other line ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

namespace fs = std::filesystem;

// `name` under tests/data.
inline fs::path Data(const std::string& name) { return fs::path(ASE_TEST_DATA_DIR) / name; }

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    EXPECT_TRUE(out.good()) << path;
}

// The files of `folder` ending in .ase in any case, sorted (none when there is no such folder).
inline std::vector<fs::path> AseFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (entry.is_regular_file() && ext == ".ase") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// `text` with every line end (LF, CR LF or a lone CR) made `ending`.
inline std::string WithLineEnds(const std::string& text, const std::string& ending) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i] == '\r' || text[i] == '\n' ? ending : std::string(1, text[i]);
    }
    return out;
}

}  // namespace testfiles
