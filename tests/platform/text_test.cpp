// ANSI code page conversions of both families: the Win32 pair and the C
// runtime pair.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/platform/on_windows.h"

namespace {

// Bytes 1..255 and the terminator: every byte a NUL-terminated text can hold.
std::string AllNonZeroBytes() {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(AnsiConversion, RoundTripsEveryByte) {
    const std::string bytes = AllNonZeroBytes();
    char16_t wide[256] = {};
    ASSERT_EQ(platform::AnsiToWide(bytes.c_str(), wide, 256), 256);
    EXPECT_EQ(wide[255], 0);
    char back[256] = {};
    ASSERT_EQ(platform::WideToAnsi(wide, back, 256), 256);
    EXPECT_EQ(std::string(back), bytes);

    // The code page's own letters, and an undefined byte kept as the C1
    // control of the same value.
    EXPECT_EQ(wide[0x80 - 1], u'\u20AC');
    EXPECT_EQ(wide[0x81 - 1], u'\u0081');
    EXPECT_EQ(wide[0x9F - 1], u'\u0178');
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
}

TEST(AnsiConversion, CrtFamilyRoundTripsEveryByte) {
    const std::string bytes = AllNonZeroBytes();
    char16_t wide[256] = {};
    ASSERT_EQ(platform::MultiByteToWideCrt(wide, bytes.c_str(), 256), 255u);
    char back[256] = {};
    ASSERT_EQ(platform::WideToMultiByteCrt(back, wide, 256), 255u);
    EXPECT_EQ(std::string(back), bytes);
    // The Microsoft runtime's "C" locale widens each byte unchanged (0x80
    // becomes U+0080) where the POSIX side uses the ANSI table; both are
    // lossless, and the letters below 0x80 and from 0xA0 on agree.
    EXPECT_EQ(wide[0x80 - 1], OnWindows() ? u'\u0080' : u'\u20AC');
    EXPECT_EQ(wide[0x41 - 1], u'A');
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
}

TEST(AnsiConversion, UnitsOutsideTheCodePage) {
    // U+4E2D has no best-fit letter either, so Windows too writes '?'.
    char narrow[8] = {};
    EXPECT_EQ(platform::WideToAnsi(u"a\u4E2Db", narrow, 8), 4);
    EXPECT_STREQ(narrow, "a?b");

    EXPECT_EQ(platform::WideToMultiByteCrt(narrow, u"a\u4E2Db", 8), static_cast<size_t>(-1));
    EXPECT_EQ(platform::WideToMultiByteCrt(nullptr, u"a\u4E2Db", 0), static_cast<size_t>(-1));
}

TEST(AnsiConversion, Win32FamilyNeedsRoomForTheTerminator) {
    char16_t wide[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(platform::AnsiToWide("abc", wide, 4), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_EQ(platform::AnsiToWide("abc", wide, 3), 0);
    EXPECT_EQ(platform::AnsiToWide("abc", wide, 0), 0);
    EXPECT_EQ(platform::AnsiToWide(nullptr, wide, 4), 0);
    EXPECT_EQ(platform::AnsiToWide("abc", nullptr, 4), 0);
    EXPECT_EQ(platform::AnsiToWide("", wide, 1), 1);
    EXPECT_EQ(wide[0], 0);

    char narrow[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(platform::WideToAnsi(u"abc", narrow, 4), 4);
    EXPECT_STREQ(narrow, "abc");
    EXPECT_EQ(platform::WideToAnsi(u"abc", narrow, 3), 0);
    EXPECT_EQ(platform::WideToAnsi(u"abc", narrow, 0), 0);
    EXPECT_EQ(platform::WideToAnsi(nullptr, narrow, 4), 0);
    EXPECT_EQ(platform::WideToAnsi(u"abc", nullptr, 4), 0);
}

TEST(AnsiConversion, CrtFamilyMeasuresAndStopsAtTheLimit) {
    EXPECT_EQ(platform::MultiByteToWideCrt(nullptr, "abc", 0), 3u);
    EXPECT_EQ(platform::WideToMultiByteCrt(nullptr, u"abc", 0), 3u);

    // Room for the text but not the terminator: the sentinel stays.
    char16_t wide[5] = {u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(platform::MultiByteToWideCrt(wide, "abc", 3), 3u);
    EXPECT_EQ(wide[3], u'x');
    EXPECT_EQ(platform::MultiByteToWideCrt(wide, "abcdef", 2), 2u);
    EXPECT_EQ(wide[2], u'c');
    EXPECT_EQ(platform::MultiByteToWideCrt(wide, "ab", 5), 2u);
    EXPECT_EQ(std::u16string(wide), u"ab");
    EXPECT_EQ(wide[3], u'x');

    char narrow[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(platform::WideToMultiByteCrt(narrow, u"abc", 3), 3u);
    EXPECT_EQ(narrow[3], 'x');
    EXPECT_EQ(platform::WideToMultiByteCrt(narrow, u"abcdef", 2), 2u);
    EXPECT_EQ(narrow[2], 'c');
    EXPECT_EQ(platform::WideToMultiByteCrt(narrow, u"ab", 5), 2u);
    EXPECT_STREQ(narrow, "ab");
    EXPECT_EQ(narrow[3], 'x');
}

TEST(WideLength, CountsUnitsBeforeTheTerminator) {
    EXPECT_EQ(platform::WideLength(u""), 0u);
    EXPECT_EQ(platform::WideLength(u"a\u4E2D\U0001F600"), 4u);
}

}  // namespace
