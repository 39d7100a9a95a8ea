// The clock text and module loading.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace {

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

TEST(Module, LoadsThePluginFindsItsExportsAndReportsWhatIsMissing) {
    EXPECT_EQ(platform::LoadModule(u"no_such_module_\u00E9.dll"), nullptr);
    EXPECT_STRNE(platform::LastModuleError(), "");
    std::u16string path;
    for (const char* p = ASE_MODULE_PATH; *p != 0; ++p) path += static_cast<char16_t>(*p);
    void* module = platform::LoadModule(path.c_str());
    ASSERT_NE(module, nullptr) << platform::LastModuleError();
    EXPECT_NE(platform::FindModuleSymbol(module, "PluginVersion"), nullptr);
    EXPECT_EQ(platform::FindModuleSymbol(module, "NoSuchExport"), nullptr);
    EXPECT_STRNE(platform::LastModuleError(), "");
    platform::UnloadModule(module);
}

}  // namespace
