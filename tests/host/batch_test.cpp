// The batch plan's pure parts: output names, clashes, the exit precedence,
// the children's counts line, and the walk of a folder (its order, what it
// takes and what it leaves).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/tool/batch.h"
#include "host/store/text.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using namespace asehost;

TEST(BatchPlan, OutputNamesAndClashes) {
    EXPECT_EQ(OutputName(u"sub/a.ase", u".ase"), u"sub/a.ase");
    EXPECT_EQ(OutputName(u"sub/a.ASE", u".ase"), u"sub/a.ASE");
    EXPECT_EQ(OutputName(u"a.txt", u".ase"), u"a.ase");
    EXPECT_EQ(OutputName(u"sub/a.ASE", u".json"), u"sub/a.json");
    // A dot in a folder's name or a leading dot is no extension.
    EXPECT_EQ(OutputName(u"v1.2/model", u".json"), u"v1.2/model.json");
    EXPECT_EQ(OutputName(u".hidden", u".json"), u".hidden.json");

    size_t first = 99, second = 99;
    EXPECT_FALSE(FindOutputClash({u"a.ase", u"sub/a.ase", u"b.ase"}, first, second));
    EXPECT_FALSE(FindOutputClash({}, first, second));
    ASSERT_TRUE(FindOutputClash({u"x.ase", u"Sub/A.ase", u"y.ase", u"sub/a.ASE"}, first, second));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 3u);
    ASSERT_TRUE(FindOutputClash({u"sub\\a.ase", u"sub/a.ase"}, first, second));
    EXPECT_LT(first, second);
}

TEST(BatchPlan, ExitPrecedenceAndCounts) {
    // 1 over 3 over 4 over 0, whichever comes first; anything else is 1.
    const int order[] = {0, 4, 3, 1};
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            EXPECT_EQ(WorseExitCode(order[a], order[b]), order[a > b ? a : b]) << order[a] << " " << order[b];
        }
    }
    EXPECT_EQ(WorseExitCode(0, 77), 1);
    EXPECT_EQ(WorseExitCode(-1, 4), 1);

    int64_t counts[3] = {9, 9, 9};
    std::string output = "findings\nmore\n" + CountsLine(12, 3400000000LL, 0);
    ASSERT_TRUE(TakeCountsLine(output, counts));
    EXPECT_EQ(output, "findings\nmore\n");
    EXPECT_EQ(counts[0], 12);
    EXPECT_EQ(counts[1], 3400000000LL);
    std::string crlf = "x\r\n" + CountsLine(1, 2, 3).insert(CountsLine(1, 2, 3).size() - 1, "\r");
    ASSERT_TRUE(TakeCountsLine(crlf, counts));
    EXPECT_EQ(counts[2], 3);
    // Only a whole counts line at the very end counts.
    for (std::string text : {std::string("no counts\n"), CountsLine(1, 2, 3) + "after\n", std::string("asehost-counts 1 x 3\n"),
                             std::string("")}) {
        const std::string before = text;
        EXPECT_FALSE(TakeCountsLine(text, counts)) << before;
        EXPECT_EQ(text, before);
        EXPECT_EQ(counts[0], 0);
    }
}

TEST(BatchPlan, FoldersAreWalkedSortedAndMirrored) {
    const fs::path root = fs::temp_directory_path() / ("batch_walk_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root);
    fs::create_directories(root / "in" / "b" / "deep");
    fs::create_directories(root / "in" / "out");
    for (const char* name : {"in/c.ase", "in/A.ASE", "in/b/deep/z.Ase", "in/b/note.txt", "in/out/old.ase", "in/b.ase.bak"}) {
        testfiles::WriteFile(root / name, "*3DSMAX_ASCIIEXPORT 200\n");
    }
    const std::string in = (root / "in").string();
    std::vector<BatchFile> files;
    std::string error;
    ASSERT_TRUE(CollectBatchFiles({in, "named.txt"}, ArgumentToWide((root / "in" / "out").string()), files, error)) << error;
    std::vector<std::string> relative;
    for (const BatchFile& file : files) relative.push_back(Utf16ToUtf8(file.relative));
    // Sorted by code unit, the output folder left out, a named file taken
    // whatever its extension.
    EXPECT_EQ(relative, (std::vector<std::string>{"A.ASE", "b/deep/z.Ase", "c.ase", "named.txt"}));
    EXPECT_EQ(files[1].display, in + "/b/deep/z.Ase");

    files.clear();
    ASSERT_TRUE(CollectBatchFiles({in}, std::u16string(), files, error));
    EXPECT_EQ(files.size(), 4u);  // out/old.ase too, when no output folder is given
    fs::remove_all(root);
}

}  // namespace
