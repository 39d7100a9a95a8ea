// ANSI code page conversions of both families (the Win32 pair and the C
// runtime pair), and the clock's text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "tests/platform/on_windows.h"

namespace {

// Both families take every byte 1..255 out and back unchanged. The code
// page's own letters come out as themselves and an undefined byte as the C1
// control of the same value; the Microsoft runtime's "C" locale widens each
// byte unchanged (0x80 becomes U+0080), equally lossless. A unit outside the
// code page (U+4E2D has no best-fit letter either, so Windows too) becomes
// '?' in the Win32 family and fails the C runtime's.
TEST(AnsiConversion, BothFamiliesRoundTripEveryByteAndTellUnitsOutsideTheCodePage) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
    char16_t wide[256] = {};
    char back[256] = {};
    ASSERT_EQ(platform::AnsiToWide(bytes.c_str(), wide, 256), 256);
    ASSERT_EQ(platform::WideToAnsi(wide, back, 256), 256);
    EXPECT_EQ(std::string(back), bytes);
    EXPECT_EQ(std::u16string({wide[0x80 - 1], wide[0x81 - 1], wide[0x9F - 1], wide[0xE9 - 1]}), u"\u20AC\u0081\u0178\u00E9");

    ASSERT_EQ(platform::MultiByteToWideCrt(wide, bytes.c_str(), 256), 255u);
    ASSERT_EQ(platform::WideToMultiByteCrt(back, wide, 256), 255u);
    EXPECT_EQ(std::string(back), bytes);
    EXPECT_EQ(wide[0x80 - 1], OnWindows() ? u'\u0080' : u'\u20AC');
    EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');

    char narrow[8] = {};
    EXPECT_EQ(platform::WideToAnsi(u"a\u4E2Db", narrow, 8), 4);
    EXPECT_STREQ(narrow, "a?b");
    EXPECT_EQ(platform::WideToMultiByteCrt(narrow, u"a\u4E2Db", 8), static_cast<size_t>(-1));
    EXPECT_EQ(platform::WideToMultiByteCrt(nullptr, u"a\u4E2Db", 0), static_cast<size_t>(-1));
}

// The Win32 pair succeeds only with room for the terminator too, and answers
// 0 for missing buffers.
TEST(AnsiConversion, Win32FamilyNeedsRoomForTheTerminator) {
    char16_t wide[4];
    char narrow[4];
    for (const int capacity : {3, 0}) {
        EXPECT_EQ(platform::AnsiToWide("abc", wide, capacity), 0);
        EXPECT_EQ(platform::WideToAnsi(u"abc", narrow, capacity), 0);
    }
    EXPECT_EQ(platform::AnsiToWide(nullptr, wide, 4), 0);
    EXPECT_EQ(platform::AnsiToWide("abc", nullptr, 4), 0);
    EXPECT_EQ(platform::WideToAnsi(nullptr, narrow, 4), 0);
    EXPECT_EQ(platform::WideToAnsi(u"abc", nullptr, 4), 0);
    ASSERT_EQ(platform::AnsiToWide("abc", wide, 4), 4);
    ASSERT_EQ(platform::WideToAnsi(u"abc", narrow, 4), 4);
    EXPECT_EQ(std::u16string(wide, 4), std::u16string(u"abc", 4));
    EXPECT_EQ(std::string(narrow, 4), std::string("abc", 4));
    EXPECT_EQ(platform::AnsiToWide("", wide, 1), 1);
    EXPECT_EQ(wide[0], 0);
}

// The C runtime pair measures without a buffer and otherwise writes at most
// the limit, the terminator only when it fits.
TEST(AnsiConversion, CrtFamilyMeasuresAndStopsAtTheLimit) {
    EXPECT_EQ(platform::MultiByteToWideCrt(nullptr, "abc", 0), 3u);
    EXPECT_EQ(platform::WideToMultiByteCrt(nullptr, u"abc", 0), 3u);
    struct Case { const char* text; size_t limit, written; const char* after; };  // after: the first five units
    for (const Case& c : {Case{"abc", 3, 3, "abcxx"}, Case{"abcdef", 2, 2, "abxxx"}, Case{"ab", 5, 2, "ab\0xx"}}) {
        SCOPED_TRACE(c.text);
        char16_t wide[5] = {u'x', u'x', u'x', u'x', u'x'};
        char narrow[5] = {'x', 'x', 'x', 'x', 'x'};
        const std::u16string source(c.text, c.text + std::char_traits<char>::length(c.text));
        EXPECT_EQ(platform::MultiByteToWideCrt(wide, c.text, c.limit), c.written);
        EXPECT_EQ(platform::WideToMultiByteCrt(narrow, source.c_str(), c.limit), c.written);
        EXPECT_EQ(std::string(narrow, 5), std::string(c.after, 5));
        EXPECT_EQ(std::u16string(wide, 5), std::u16string(c.after, c.after + 5));
    }
}

std::u16string TimeText(int64_t fixedSeconds) {
    platform::SetFixedTimeForTesting(fixedSeconds);
    char16_t text[platform::kTimeTextUnits];
    platform::CurrentTimeText(text);
    platform::SetFixedTimeForTesting(-1);
    return text;
}

// The ctime layout in UTC; times beyond it give an empty text, and the
// released clock the current time.
TEST(Clock, WritesTheCtimeLayoutInUtc) {
    EXPECT_EQ(TimeText(0), u"Thu Jan 01 00:00:00 1970\n");
    EXPECT_EQ(TimeText(1796547993), u"Sun Dec 06 09:06:33 2026\n");
    EXPECT_EQ(TimeText(951868799), u"Tue Feb 29 23:59:59 2000\n");
    EXPECT_EQ(TimeText(253402300800), u"");  // 1 January 10000
    EXPECT_EQ(TimeText(INT64_MAX), u"");
    const std::u16string now = TimeText(-1);
    ASSERT_EQ(now.size(), 25u);
    EXPECT_NE(now.substr(20, 4), u"1970");
}

}  // namespace
