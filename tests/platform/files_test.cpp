// Path splitting, files opened by UTF-16 name and the current directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/platform/on_windows.h"

namespace {

struct Parts {
    std::u16string drive, dir, name, ext;
};

Parts Split(const std::u16string& path) {
    char16_t drive[platform::kMaxDrive], dir[platform::kMaxDir], name[platform::kMaxFileName],
        ext[platform::kMaxExtension];
    platform::SplitPath(path.c_str(), drive, dir, name, ext);
    return {drive, dir, name, ext};
}

void ExpectSplit(const std::u16string& path, const Parts& expected) {
    const Parts got = Split(path);
    EXPECT_EQ(got.drive, expected.drive);
    EXPECT_EQ(got.dir, expected.dir);
    EXPECT_EQ(got.name, expected.name);
    EXPECT_EQ(got.ext, expected.ext);
}

TEST(SplitPath, SeparatesDriveDirectoryNameAndExtension) {
    ExpectSplit(u"C:\\scenes\\box.ase", {u"C:", u"\\scenes\\", u"box", u".ase"});
    ExpectSplit(u"\\\\server\\share\\a.ase", {u"", u"\\\\server\\share\\", u"a", u".ase"});
    ExpectSplit(u"d:/maps/tex/wood.bmp", {u"d:", u"/maps/tex/", u"wood", u".bmp"});
    ExpectSplit(u"dir\\sub/mixed.x", {u"", u"dir\\sub/", u"mixed", u".x"});
    ExpectSplit(u"box.ase", {u"", u"", u"box", u".ase"});
    ExpectSplit(u"C:box.ase", {u"C:", u"", u"box", u".ase"});
    ExpectSplit(u"C:\\scenes\\", {u"C:", u"\\scenes\\", u"", u""});
    ExpectSplit(u"", {u"", u"", u"", u""});
}

TEST(SplitPath, ExtensionStartsAtTheLastDotOfTheName) {
    ExpectSplit(u"a.b.c", {u"", u"", u"a.b", u".c"});
    ExpectSplit(u"my.dir\\noext", {u"", u"my.dir\\", u"noext", u""});
    ExpectSplit(u"dir\\.hidden", {u"", u"dir\\", u"", u".hidden"});
    ExpectSplit(u"name.", {u"", u"", u"name", u"."});
}

TEST(SplitPath, CutsOverlongPartsToFit) {
    const std::u16string longDir(300, u'd');
    const std::u16string longName(300, u'n');
    const std::u16string longExt(300, u'e');
    const Parts got = Split(u"C:\\" + longDir + u"\\" + longName + u"." + longExt);
    EXPECT_EQ(got.drive, u"C:");
    EXPECT_EQ(got.dir, (u"\\" + longDir).substr(0, platform::kMaxDir - 1));
    EXPECT_EQ(got.name, longName.substr(0, platform::kMaxFileName - 1));
    EXPECT_EQ(got.ext, (u"." + longExt).substr(0, platform::kMaxExtension - 1));
}

TEST(SplitPath, AcceptsNullParts) {
    char16_t name[platform::kMaxFileName];
    platform::SplitPath(u"C:\\a\\b.c", nullptr, nullptr, name, nullptr);
    EXPECT_EQ(std::u16string(name), u"b");

    char dir[platform::kMaxDir], ext[platform::kMaxExtension];
    platform::SplitPathNarrow("C:\\a\\b.c", nullptr, dir, nullptr, ext);
    EXPECT_STREQ(dir, "\\a\\");
    EXPECT_STREQ(ext, ".c");

    platform::SplitPath(nullptr, nullptr, nullptr, name, nullptr);
    EXPECT_EQ(std::u16string(name), u"");
}

TEST(SplitPath, NarrowTwinSplitsAlike) {
    char drive[platform::kMaxDrive], dir[platform::kMaxDir], name[platform::kMaxFileName],
        ext[platform::kMaxExtension];
    platform::SplitPathNarrow("\\\\srv\\sh\\mat.\xE9t\xE9.bmp", drive, dir, name, ext);
    EXPECT_STREQ(drive, "");
    EXPECT_STREQ(dir, "\\\\srv\\sh\\");
    EXPECT_STREQ(name, "mat.\xE9t\xE9");
    EXPECT_STREQ(ext, ".bmp");

    const std::string longName(400, 'n');
    platform::SplitPathNarrow(("x:/" + longName).c_str(), drive, dir, name, ext);
    EXPECT_STREQ(drive, "x:");
    EXPECT_STREQ(dir, "/");
    EXPECT_EQ(std::string(name), longName.substr(0, platform::kMaxFileName - 1));
    EXPECT_STREQ(ext, "");
}

// A fresh directory under the system's temporary directory, removed again.
class TempDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("ase_platform_") + info->name());
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
    std::u16string Child(const std::u16string& name) const {
        return (path_ / std::filesystem::path(name)).u16string();
    }

    // Writes `text` to `path` opened with `mode`; false when it cannot open.
    static bool WriteFile(const std::u16string& path, const char* mode, const char* text) {
        std::FILE* f = platform::OpenFile(path.c_str(), mode);
        if (f == nullptr) return false;
        std::fputs(text, f);
        return std::fclose(f) == 0;
    }

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

using OpenFile = TempDirectory;

TEST_F(OpenFile, OpensByNonAsciiNameInEveryMode) {
    const std::u16string path = Child(u"sc\u00E8ne_\u4E2D\U0001F600.ase");
    ASSERT_TRUE(WriteFile(path, "wb", "*3DSMAX_ASCIIEXPORT\t200\n"));
    // The name reached the file system as the same text.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
    EXPECT_EQ(ReadLine(path, "rt"), "*3DSMAX_ASCIIEXPORT\t200\n");
}

TEST_F(OpenFile, TextModeEndsLinesAsTheSystemDoes) {
    const std::u16string path = Child(u"text.txt");
    ASSERT_TRUE(WriteFile(path, "wt", "a\nb\n"));
    // Windows writes CR LF for each LF; POSIX has no text mode.
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(path)), OnWindows() ? 6u : 4u);
    EXPECT_EQ(ReadLine(path, "rt"), "a\n");
    EXPECT_EQ(ReadLine(path, "rb"), OnWindows() ? "a\r\n" : "a\n");
}

TEST_F(OpenFile, FailsCleanlyForMissingFilesAndBadNames) {
    EXPECT_EQ(platform::OpenFile(Child(u"missing.ase").c_str(), "rb"), nullptr);
    EXPECT_EQ(platform::OpenFile(nullptr, "rb"), nullptr);
    if (!OnWindows()) {
        // UTF-8 cannot carry a lone surrogate, so the POSIX side must refuse
        // the name rather than make up another. Windows file names may hold
        // one, so there it is a valid name.
        const std::u16string bad = path_.u16string() + u"/bad\xD800.ase";
        EXPECT_EQ(platform::OpenFile(bad.c_str(), "wb"), nullptr);
    }
}

using CurrentDirectory = TempDirectory;

TEST_F(CurrentDirectory, SetGetAndResolveRelativePaths) {
    const std::u16string sub = Child(u"d\u00E9j\u00E0");
    std::filesystem::create_directories(std::filesystem::path(sub));
    ASSERT_TRUE(platform::SetCurrentDirectory(sub.c_str()));

    char16_t cwd[4096];
    ASSERT_TRUE(platform::GetCurrentDirectory(cwd, 4096));
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(std::u16string(cwd)),
                                            std::filesystem::path(sub)));
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

TEST(ExecutablePath, NamesTheRunningTest) {
    char16_t path[4096];
    ASSERT_TRUE(platform::ExecutablePath(path, 4096));
    char16_t name[platform::kMaxFileName];
    platform::SplitPath(path, nullptr, nullptr, name, nullptr);
    EXPECT_EQ(std::u16string(name), u"platform_test");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(std::u16string(path))));
    EXPECT_FALSE(platform::ExecutablePath(path, 2));
}

}  // namespace
