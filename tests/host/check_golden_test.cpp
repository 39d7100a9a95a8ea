// asehost check's findings over every ASE file the project holds (the
// suite's data, the examples, the shared samples when present), against the
// findings committed in tests/data/check/golden: what check reports must
// not change when the way it reads a file does.
//
// Each golden file holds, per file in path order, a line "=== PATH" and the
// report's JSON. The folder's own path is written as "$ROOT", so that the
// golden does not depend on where the tree lies. ASE_UPDATE_CHECK_GOLDEN=1
// rewrites the golden files instead of comparing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/tool/check.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;

// Every file under `root`, at any depth, ending in .ase in any case, by
// their paths relative to `root` in byte order.
std::vector<std::string> AseFilesUnder(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (entry.is_regular_file() && ext == ".ase") files.push_back(entry.path().lexically_relative(root).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The check of every file under `root`: relative path to its JSON report.
std::map<std::string, std::string> CheckAll(const fs::path& root) {
    std::map<std::string, std::string> reports;
    // A path in a message may spell the folder as given or normalised, with
    // or without its drive (under wine the reader's path may lack "Z:"),
    // with either separator; JSON doubles a backslash. Longer spellings are
    // replaced first.
    std::vector<std::string> spellings;
    for (std::string text : {fs::absolute(root).lexically_normal().string(), fs::absolute(root).string()}) {
        while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
        const std::string driveless = text.size() > 2 && text[1] == ':' ? text.substr(2) : text;
        for (const std::string& form : {text, driveless}) {
            const std::string slashed = ReplaceAll(form, "\\", "/");
            spellings.push_back(slashed);
            spellings.push_back(ReplaceAll(ReplaceAll(slashed, "/", "\\"), "\\", "\\\\"));
        }
    }
    std::sort(spellings.begin(), spellings.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& name : AseFilesUnder(root)) {
        const asehost::CheckReport report = asehost::CheckAseFile((root / name).u16string(), name);
        std::string json = asehost::FormatCheckJson(report);
        for (const std::string& spelling : spellings) json = ReplaceAll(json, spelling, "$ROOT");
        reports[name] = ReplaceAll(json, "$ROOT\\\\", "$ROOT/");
    }
    return reports;
}

std::string Join(const std::map<std::string, std::string>& reports) {
    std::string out;
    for (const auto& [name, json] : reports) out += "=== " + name + "\n" + json;
    return out;
}

std::map<std::string, std::string> Split(const std::string& text) {
    std::map<std::string, std::string> reports;
    std::string* current = nullptr;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(at, end - at);
        if (line.rfind("=== ", 0) == 0) {
            current = &reports[line.substr(4, line.size() - 5)];
        } else if (current != nullptr) {
            *current += line;
        }
        at = end;
    }
    return reports;
}

// Checks every file under `root` against golden/`golden`.
void ExpectGolden(const fs::path& root, const std::string& golden) {
    if (!fs::is_directory(root)) GTEST_SKIP() << root << " is not here";
    // Messages name the files they look for with the system's separators
    // inside the folder; the golden spells the POSIX form.
    if (fs::path::preferred_separator == L'\\') GTEST_SKIP() << "the golden spells paths with '/'";
    const fs::path goldenPath = testfiles::Data("check/golden") / golden;
    const std::map<std::string, std::string> reports = CheckAll(root);
    ASSERT_FALSE(reports.empty()) << "no ASE files under " << root;
    const char* update = std::getenv("ASE_UPDATE_CHECK_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        testfiles::WriteFile(goldenPath, Join(reports));
        return;
    }
    const std::map<std::string, std::string> expected = Split(testfiles::ReadFile(goldenPath));
    for (const auto& [name, json] : reports) {
        auto it = expected.find(name);
        if (it == expected.end()) {
            ADD_FAILURE() << name << " has no golden findings";
            continue;
        }
        EXPECT_EQ(json, it->second) << name;
    }
    for (const auto& [name, json] : expected) {
        if (reports.count(name) == 0) ADD_FAILURE() << name << " is in the golden but not under " << root;
    }
}

TEST(CheckGolden, TestData) { ExpectGolden(testfiles::Data(""), "data.txt"); }

TEST(CheckGolden, Examples) { ExpectGolden(testfiles::Data("../../examples"), "examples.txt"); }

TEST(CheckGolden, SharedSamples) { ExpectGolden(fs::path(ASE_SHARED_DIR) / "samples", "samples.txt"); }

}  // namespace
