// Path splitting, files opened by UTF-16 name and the current directory.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/platform.h"
#include "tests/platform/on_windows.h"

namespace {

using Parts = std::array<std::string, 4>;  // drive, directory, name, extension

// Both families split `path` (Latin-1 text, so that the wide form is the
// same letters); the wide parts come back as Latin-1 too.
std::array<Parts, 2> SplitBoth(const std::string& path) {
    std::u16string wide;
    for (const char c : path) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    char16_t parts16[4][platform::kMaxDir];
    platform::SplitPath(wide.c_str(), parts16[0], parts16[1], parts16[2], parts16[3]);
    char parts8[4][platform::kMaxDir];
    platform::SplitPathNarrow(path.c_str(), parts8[0], parts8[1], parts8[2], parts8[3]);
    std::array<Parts, 2> split;
    for (int p = 0; p < 4; ++p) {
        for (const char16_t* u = parts16[p]; *u != 0; ++u) split[0][p] += static_cast<char>(*u);
        split[1][p] = parts8[p];
    }
    return split;
}

// Overlong parts are cut to fit.
TEST(SplitPath, SeparatesDriveDirectoryNameAndExtension) {
    const std::string dir(300, 'd'), name(300, 'n'), ext(300, 'e');
    const std::pair<std::string, Parts> cases[] = {
        {"C:\\scenes\\box.ase", {"C:", "\\scenes\\", "box", ".ase"}},
        {"\\\\server\\share\\a.ase", {"", "\\\\server\\share\\", "a", ".ase"}},
        {"dir\\sub/mixed.x", {"", "dir\\sub/", "mixed", ".x"}},
        {"box.ase", {"", "", "box", ".ase"}},
        {"C:box.ase", {"C:", "", "box", ".ase"}},
        {"C:\\scenes\\", {"C:", "\\scenes\\", "", ""}},
        {"", {"", "", "", ""}},
        // The extension starts at the last dot of the name.
        {"my.dir\\noext", {"", "my.dir\\", "noext", ""}},
        {"dir\\.hidden", {"", "dir\\", "", ".hidden"}},
        {"name.", {"", "", "name", "."}},
        {"x:/tex/mat.\xE9t\xE9.bmp", {"x:", "/tex/", "mat.\xE9t\xE9", ".bmp"}},
        {"C:\\" + dir + "\\" + name + "." + ext,
         {"C:", ("\\" + dir).substr(0, platform::kMaxDir - 1), name.substr(0, platform::kMaxFileName - 1),
          ("." + ext).substr(0, platform::kMaxExtension - 1)}},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path.substr(0, 40));
        const std::array<Parts, 2> split = SplitBoth(path);
        EXPECT_EQ(split[0], expected);
        EXPECT_EQ(split[1], expected);
    }
}

// A fresh directory under the system's temporary directory, removed again
// together with any change of the current directory.
class TempDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() / (std::string("ase_platform_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
        char16_t cwd[4096];
        ASSERT_TRUE(platform::GetCurrentDirectory(cwd, 4096));
        savedCwd_ = cwd;
    }
    void TearDown() override {
        platform::SetCurrentDirectory(savedCwd_.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::u16string Child(const std::u16string& name) const { return (path_ / std::filesystem::path(name)).u16string(); }

    // The first line of `path` opened with `mode`, empty when it cannot.
    static std::string ReadLine(const std::u16string& path, const char* mode) {
        std::FILE* f = platform::OpenFile(path.c_str(), mode);
        if (f == nullptr) return {};
        char line[64] = {};
        const bool ok = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        return ok ? line : "";
    }

    std::filesystem::path path_;
    std::u16string savedCwd_;
};

// Files open by non-ASCII names, text mode ends lines as the system does,
// and missing files and bad names fail cleanly.
TEST_F(TempDirectory, OpenFileOpensByNameInTheSystemsTextModeAndFailsCleanly) {
    const std::u16string path = Child(u"sc\u00E8ne_\u4E2D\U0001F600.ase");
    std::FILE* f = platform::OpenFile(path.c_str(), "wt");
    ASSERT_NE(f, nullptr);
    std::fputs("*3DSMAX_ASCIIEXPORT\n", f);
    ASSERT_EQ(std::fclose(f), 0);
    // The name reached the file system as the same text.
    ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
    // Windows writes CR LF for each LF; POSIX has no text mode.
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(path)), OnWindows() ? 21u : 20u);
    EXPECT_EQ(ReadLine(path, "rt"), "*3DSMAX_ASCIIEXPORT\n");
    EXPECT_EQ(ReadLine(path, "rb"), OnWindows() ? "*3DSMAX_ASCIIEXPORT\r\n" : "*3DSMAX_ASCIIEXPORT\n");

    EXPECT_EQ(platform::OpenFile(Child(u"missing.ase").c_str(), "rb"), nullptr);
    EXPECT_EQ(platform::OpenFile(nullptr, "rb"), nullptr);
    if (!OnWindows()) {
        // UTF-8 cannot carry a lone surrogate, so the POSIX side must refuse
        // the name rather than make up another. Windows file names may hold
        // one, so there it is a valid name.
        EXPECT_EQ(platform::OpenFile((path_.u16string() + u"/bad\xD800.ase").c_str(), "wb"), nullptr);
    }
}

TEST_F(TempDirectory, CurrentDirectoryIsSetReadAndResolvesRelativePaths) {
    const std::u16string sub = Child(u"d\u00E9j\u00E0");
    std::filesystem::create_directories(std::filesystem::path(sub));
    ASSERT_TRUE(platform::SetCurrentDirectory(sub.c_str()));

    char16_t cwd[4096];
    ASSERT_TRUE(platform::GetCurrentDirectory(cwd, 4096));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(std::u16string(cwd)), std::filesystem::path(sub)));
    const size_t cwdLength = platform::WideLength(cwd);
    EXPECT_FALSE(platform::GetCurrentDirectory(cwd, cwdLength));
    EXPECT_TRUE(platform::GetCurrentDirectory(cwd, cwdLength + 1));

    char16_t full[4096];
    ASSERT_TRUE(platform::AbsolutePath(u"box.ase", full, 4096));
    const std::u16string fullText(full);
    EXPECT_EQ(fullText.substr(0, cwdLength), std::u16string(cwd));
    EXPECT_EQ(fullText.substr(cwdLength), (OnWindows() ? u"\\" : u"/") + std::u16string(u"box.ase"));
    EXPECT_FALSE(platform::AbsolutePath(u"box.ase", full, fullText.size()));

    ASSERT_TRUE(platform::AbsolutePath(u"C:\\scenes\\box.ase", full, 4096));
    EXPECT_EQ(std::u16string(full), u"C:\\scenes\\box.ase");

    EXPECT_FALSE(platform::SetCurrentDirectory(Child(u"missing").c_str()));
}

}  // namespace
