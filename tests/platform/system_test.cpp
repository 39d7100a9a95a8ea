// The clock text, the error box record and module loading.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace {

class FixedClock : public ::testing::Test {
protected:
    void TearDown() override { platform::SetFixedTimeForTesting(-1); }

    std::u16string TextAt(int64_t seconds) {
        platform::SetFixedTimeForTesting(seconds);
        char16_t text[platform::kTimeTextUnits];
        platform::CurrentTimeText(text);
        return text;
    }
};

TEST_F(FixedClock, WritesTheCtimeLayoutInUtc) {
    EXPECT_EQ(TextAt(0), u"Thu Jan 01 00:00:00 1970\n");
    EXPECT_EQ(TextAt(1796547993), u"Sun Dec 06 09:06:33 2026\n");
    EXPECT_EQ(TextAt(951868799), u"Tue Feb 29 23:59:59 2000\n");
}

TEST_F(FixedClock, TimesWithoutACtimeFormGiveAnEmptyText) {
    EXPECT_EQ(TextAt(253402300800), u"");  // 1 January 10000
    EXPECT_EQ(TextAt(INT64_MAX), u"");
}

TEST_F(FixedClock, ReleasedClockGivesTheCurrentTime) {
    TextAt(0);
    platform::SetFixedTimeForTesting(-1);
    char16_t text[platform::kTimeTextUnits];
    platform::CurrentTimeText(text);
    const std::u16string now(text);
    ASSERT_EQ(now.size(), 25u);
    EXPECT_EQ(now[24], u'\n');
    EXPECT_EQ(now[13], u':');
    EXPECT_NE(now.substr(20, 4), u"1970");
}

TEST(ErrorBox, CountsBoxesAndKeepsTheLastText) {
    // On Windows this shows a real message box; under a display-less wine it
    // returns at once.
    const int before = platform::ErrorBoxCountForTesting();
    platform::ShowErrorBox(u"First error.\t");
    platform::ShowErrorBox(u"Le fichier \u00AB\u4E2D\u00BB est illisible.\t");
    EXPECT_EQ(platform::ErrorBoxCountForTesting(), before + 2);
    EXPECT_EQ(std::u16string(platform::LastErrorBoxTextForTesting()),
              u"Le fichier \u00AB\u4E2D\u00BB est illisible.\t");
}

TEST(Module, LoadsThePluginAndFindsItsExports) {
    std::u16string path;
    for (const char* p = ASE_MODULE_PATH; *p != 0; ++p) path += static_cast<char16_t>(*p);
    void* module = platform::LoadModule(path.c_str());
    ASSERT_NE(module, nullptr) << platform::LastModuleError();
    EXPECT_NE(platform::FindModuleSymbol(module, "PluginVersion"), nullptr);
    EXPECT_EQ(platform::FindModuleSymbol(module, "NoSuchExport"), nullptr);
    EXPECT_STRNE(platform::LastModuleError(), "");
    platform::UnloadModule(module);
}

TEST(Module, ReportsAMissingModule) {
    EXPECT_EQ(platform::LoadModule(u"no_such_module_\u00E9.dll"), nullptr);
    EXPECT_STRNE(platform::LastModuleError(), "");
}

}  // namespace
