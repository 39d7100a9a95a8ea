// Texture folder and full texture paths.
#include <gtest/gtest.h>

#include <string>

#include "import/import_detail.h"

namespace {

std::u16string Directory(const char16_t* path) {
    char16_t out[kImportPathUnits];
    out[0] = u'#';
    if (GetPathDirectory(path, out) != 1) return u"<failed>";
    return out;
}

TEST(GetPathDirectory, KeepsDriveAndFolderWithOneTrailingSeparator) {
    EXPECT_EQ(Directory(u"D:\\scenes\\house.ase"), u"D:\\scenes\\");
    EXPECT_EQ(Directory(u"D:/scenes/house.ase"), u"D:/scenes/");
    EXPECT_EQ(Directory(u"house.ase"), u"");
    EXPECT_EQ(Directory(u"D:house.ase"), u"D:\\");

    char16_t out[kImportPathUnits];
    EXPECT_EQ(GetPathDirectory(nullptr, out), 0);
    EXPECT_EQ(GetPathDirectory(u"a.ase", nullptr), 0);
}

TEST(ResolveTexturePath, JoinsFolderAndNameAndRefusesWhatDoesNotFit) {
    char16_t full[kImportPathUnits];
    ASSERT_EQ(ResolveTexturePath(u"D:\\scenes\\", u"wall.tga", full), 1);
    EXPECT_EQ(std::u16string(full), u"D:\\scenes\\wall.tga");
    ASSERT_EQ(ResolveTexturePath(u"", u"wall.tga", full), 1);
    EXPECT_EQ(std::u16string(full), u"wall.tga");

    // 251 + 8 units fill the buffer to its last unit before the terminator.
    const std::u16string folder = u"C:\\" + std::u16string(247, u'f') + u"\\";
    ASSERT_EQ(folder.size(), 251u);
    ASSERT_EQ(ResolveTexturePath(folder.c_str(), u"wall.tga", full), 1);
    EXPECT_EQ(std::u16string(full), folder + u"wall.tga");

    // One unit more no longer fits: the path is refused, not cut.
    EXPECT_EQ(ResolveTexturePath(folder.c_str(), u"wall1.tga", full), 0);
    EXPECT_EQ(full[0], 0);
    const std::u16string tooLongFolder(300, u'f');
    EXPECT_EQ(ResolveTexturePath(tooLongFolder.c_str(), u"a", full), 0);
}

}  // namespace
