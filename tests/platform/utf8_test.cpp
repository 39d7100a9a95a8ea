// The UTF-8 codec: strict text, the lossless forms for file names, and the
// caller's buffers.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "tests/platform/on_windows.h"

namespace {

using platform::kConversionFailed;
using platform::Utf8Faults;

std::u16string Decode(const std::string& bytes, Utf8Faults faults, bool* ok = nullptr) {
    const size_t units = platform::Utf8ToUtf16(bytes.data(), bytes.size(), nullptr, 0, faults);
    if (ok) *ok = units != kConversionFailed;
    if (units == kConversionFailed) return u"<failed>";
    std::u16string out(units + 1, u'#');
    EXPECT_EQ(platform::Utf8ToUtf16(bytes.data(), bytes.size(), out.data(), out.size(), faults), units);
    EXPECT_EQ(out[units], 0);
    out.resize(units);
    return out;
}

std::string Encode(const std::u16string& text, Utf8Faults faults, bool* ok = nullptr) {
    const size_t bytes = platform::Utf16ToUtf8(text.data(), text.size(), nullptr, 0, faults);
    if (ok) *ok = bytes != kConversionFailed;
    if (bytes == kConversionFailed) return "<failed>";
    std::string out(bytes + 1, '#');
    EXPECT_EQ(platform::Utf16ToUtf8(text.data(), text.size(), out.data(), out.size(), faults), bytes);
    out.resize(bytes);
    return out;
}

TEST(Utf8, WellFormedTextBothWaysAndMalformedTextRefused) {
    const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // a é 中 😀
    EXPECT_EQ(Decode(text, Utf8Faults::kRefuse), u"a\u00E9\u4E2D\U0001F600");
    EXPECT_EQ(Encode(u"a\u00E9\u4E2D\U0001F600", Utf8Faults::kRefuse), text);
    // Overlong forms, surrogates, beyond U+10FFFF, a cut sequence, a stray
    // continuation byte, a byte no sequence starts with.
    for (const std::string bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xE4\xB8", "\x80", "\xFF"}) {
        bool ok = true;
        Decode(bad, Utf8Faults::kRefuse, &ok);
        EXPECT_FALSE(ok) << bad;
        EXPECT_EQ(Decode(bad, Utf8Faults::kReplace).find(u'\uFFFD') != std::u16string::npos, true);
    }
    bool ok = true;
    Encode(u"a\xD800" u"b", Utf8Faults::kRefuse, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Encode(u"a\xD800" u"b\xDC00", Utf8Faults::kReplace), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

// Every string of one or two bytes, and every byte around each well-formed
// sequence, goes to UTF-16 and back unchanged in the file-name form.
TEST(Utf8, EveryByteStringSurvivesTheFileNameForm) {
    int failures = 0;
    for (int a = 1; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            std::string bytes(1, static_cast<char>(a));
            if (b) bytes += static_cast<char>(b);
            for (const std::string& s : {bytes, bytes + "\xE4\xB8\xAD", "\xF0\x9F\x98" + bytes}) {
                bool ok = false;
                const std::u16string wide = Decode(s, Utf8Faults::kCarryBytes, &ok);
                if (!ok || Encode(wide, Utf8Faults::kCarryBytes) != s) ++failures;
            }
        }
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Decode("in\xFF.ase", Utf8Faults::kCarryBytes), u"in\xDCFF.ase");
    // A lone surrogate that carries no byte has no file name.
    bool ok = true;
    Encode(u"bad\xD800", Utf8Faults::kCarryBytes, &ok);
    EXPECT_FALSE(ok);
    Encode(u"bad\xDC7F", Utf8Faults::kCarryBytes, &ok);
    EXPECT_FALSE(ok);
    // Windows names: lone surrogates travel in their three-byte form.
    const std::u16string lone = u"x\xD800y\xDFFF";
    EXPECT_EQ(Decode(Encode(lone, Utf8Faults::kCarrySurrogates), Utf8Faults::kCarrySurrogates), lone);
    Decode("\xFF", Utf8Faults::kCarrySurrogates, &ok);
    EXPECT_FALSE(ok);
}

// A result that does not fit fails with a terminated prefix, at every size.
TEST(Utf8, ResultsThatDoNotFitFailTerminated) {
    const std::string text = "ab\xE4\xB8\xAD\xF0\x9F\x98\x80";
    const std::u16string wide = u"ab\u4E2D\U0001F600";
    for (size_t capacity = 0; capacity <= wide.size() + 1; ++capacity) {
        char16_t out[16];
        std::fill(std::begin(out), std::end(out), u'#');
        const size_t got = platform::Utf8ToUtf16(text.data(), text.size(), out, capacity, Utf8Faults::kRefuse);
        EXPECT_EQ(got, capacity > wide.size() ? wide.size() : kConversionFailed) << capacity;
        if (capacity > 0) {
            EXPECT_NE(std::u16string(out, capacity).find(u'\0'), std::u16string::npos);
        }
        EXPECT_EQ(out[capacity], u'#');
    }
    for (size_t capacity = 0; capacity <= text.size() + 1; ++capacity) {
        char out[16];
        std::fill(std::begin(out), std::end(out), '#');
        const size_t got = platform::Utf16ToUtf8(wide.data(), wide.size(), out, capacity, Utf8Faults::kRefuse);
        EXPECT_EQ(got, capacity > text.size() ? text.size() : kConversionFailed) << capacity;
        EXPECT_EQ(out[capacity], '#');
    }
}

// POSIX: a name that is not UTF-8 opens exactly that file; names the system
// could not take either fail with its reason.
TEST(Utf8, PosixFileNamesAreTheBytesTheyCarry) {
    if (OnWindows()) GTEST_SKIP() << "Windows names are UTF-16";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ase_utf8_names";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string native = dir.string() + "/out\xFF\xFE.ase";
    const std::u16string wide = Decode(native, Utf8Faults::kCarryBytes);
    std::FILE* file = platform::OpenFile(wide.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(native)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_EQ(platform::KindOfPath(wide.c_str()), platform::PathKind::kFile);
    EXPECT_TRUE(platform::IsSameFile(wide.c_str(), Decode(dir.string() + "/../ase_utf8_names/out\xFF\xFE.ase", Utf8Faults::kCarryBytes).c_str()));

    errno = 0;
    EXPECT_EQ(platform::OpenFile((dir.u16string() + u"/" + std::u16string(5000, u'a')).c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    errno = 0;
    EXPECT_EQ(platform::OpenFile((dir.u16string() + u"/bad\xD800").c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, EILSEQ);
    std::filesystem::remove_all(dir);
}

}  // namespace
