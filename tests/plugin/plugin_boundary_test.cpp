// The plug-in boundary: message dispatch, the texts it hands over, and
// exceptions and failed allocations stopped at FilterProc.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>

#include "host/store/scene.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "tests/host/replaced_new.h"
#include "tests/job_settings.h"
#include "tests/test_files.h"

// Every operator new of this test program counts, and one chosen call can
// be made to fail, wherever it happens: in the plug-in, the platform layer
// or the reference host.
namespace {
long gNewCalls = 0;
long gNewFailAt = 0;  // 0: none
// Called through a pointer, so that the compiler does not pair the frees
// below with the operator new it sees and warn of a mismatch.
void (*volatile gFree)(void*) = std::free;
}  // namespace

void* ReplacedNew(std::size_t bytes) noexcept {
    if (gNewFailAt != 0 && ++gNewCalls == gNewFailAt) return nullptr;
    return std::malloc(bytes != 0 ? bytes : 1);
}
void ReplacedDelete(void* block) noexcept { gFree(block); }

namespace {

// The version and the registration record are HostLoader's tests, through
// the module.
TEST(PluginProc, AnswersOneToUnknownMessagesAndZeroToRegisterWithoutRecord) {
    EXPECT_EQ(PluginProc(0, nullptr), 1u);
    EXPECT_EQ(PluginProc(FILTER_MSG_IMPORT, nullptr), 1u);
    EXPECT_EQ(PluginProc(0xFFFFFFFFu, nullptr), 1u);
    EXPECT_EQ(PluginProc(PLUGIN_MSG_REGISTER, nullptr), 0u);
}

// A query needs both pointers; a rejected one keeps the current context.
// Other messages, unknown ones among them, answer 0 even with both.
TEST(FilterProc, AnswersOnlyItsMessagesAndOnlyWithTheirPointers) {
    HostContext first{};
    HostContext second{};
    int arg = 0;
    ASSERT_EQ(FilterProc(FILTER_MSG_QUERY, &first, &arg, nullptr), 1);
    EXPECT_EQ(currentContext, &first);
    EXPECT_EQ(FilterProc(FILTER_MSG_QUERY, &second, nullptr, nullptr), 0);
    EXPECT_EQ(FilterProc(FILTER_MSG_QUERY, nullptr, &arg, nullptr), 0);
    EXPECT_EQ(FilterProc(FILTER_MSG_PREPARE_EXPORT, &second, nullptr, nullptr), 0);
    EXPECT_EQ(FilterProc(FILTER_MSG_IMPORT, nullptr, &arg, nullptr), 0);
    EXPECT_EQ(FilterProc(FILTER_MSG_EXPORT, nullptr, &arg, nullptr), 0);
    EXPECT_EQ(currentContext, &first);
    for (uint32_t message : std::initializer_list<uint32_t>{0u, PLUGIN_MSG_REGISTER, PLUGIN_MSG_VERSION, 0x1001Au, 0x1001Eu, 0x10021u}) {
        EXPECT_EQ(FilterProc(message, &second, &arg, nullptr), 0) << std::hex << message;
    }
}

// Texts are cut to their buffers and always terminated, both halves of a
// dual string in step.
TEST(PluginText, DualStringsAndFormattedTextsAreCutAndTerminated) {
    std::u16string longText(400, u'x');
    DualString target;
    std::memset(&target, 0x7f, sizeof target);
    AssignDualString(&target, longText.c_str());
    EXPECT_EQ(std::u16string(target.wide).size(), kDualStringUnits - 1u);
    EXPECT_EQ(std::strlen(target.narrow), kDualStringUnits - 1u);

    AssignDualString(&target, u"caf\u00e9");
    EXPECT_STREQ(target.narrow, "caf\xe9");
    AssignDualStringNarrow(&target, "na\xefve");
    EXPECT_EQ(std::u16string(target.wide), u"na\u00efve");

    char16_t out[64];
    FormatWide(out, 64, u"%s=%d %.3f%%", u"angle", 7, 35.0);
    EXPECT_EQ(std::u16string(out), u"angle=7 35.000%");
    FormatWide(out, 8, u"%s", u"0123456789");
    EXPECT_EQ(std::u16string(out), u"0123456");
}

// A host whose AllocateVertices throws: the exception must stop at
// FilterProc and become a failed call with a message, with every block of
// the import freed.
int gThrowKind = 0;
int ThrowingAllocateVertices(HostContext*, int) {
    if (gThrowKind == 0) throw std::bad_alloc();
    throw std::runtime_error("host failure");
}

TEST(FilterProc, AnExceptionFromBelowBecomesAFailedCallWithAMessage) {
    const std::u16string wide = std::filesystem::absolute(testfiles::Data("e2e/hierarchy.ase")).u16string();
    const JobSettingsScope jobs;
    for (int kind : {0, 1}) {
        gThrowKind = kind;
        asehost::HostScene scene;
        scene.setFileName(wide.c_str());
        HostContextOps ops = *scene.context()->ops;
        ops.AllocateVertices = &ThrowingAllocateVertices;
        const HostContextOps* original = scene.context()->ops;
        scene.context()->ops = &ops;
        int result = -1;
        EXPECT_NO_THROW(result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr));
        scene.context()->ops = original;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(std::u16string(scene.context()->errorText.wide), kind == 0 ? kOutOfMemoryText : kInternalErrorText);
        EXPECT_EQ(scene.context()->objectCount, 0);
        EXPECT_EQ(jobs.allocations.LiveBlocks(), 0);
    }
}

// Each operator new of an import of a small hierarchy failing in turn: the
// call never throws; it answers 0 with a message ("Out of memory.", or the
// host's refusal when the host turned its own failure into one), or 1 when
// the failure was one the code can do without; no job block stays behind.
TEST(FilterProc, EveryOperatorNewFailingInTurnEndsTheImportCleanly) {
    const std::u16string path = std::filesystem::absolute(testfiles::Data("e2e/hierarchy.ase")).u16string();
    asehost::HostScene scene;
    const JobSettingsScope jobs;
    long calls = 0;
    int outOfMemory = 0;
    for (long n = 0; n == 0 || n <= calls; ++n) {
        scene.reset();
        scene.setFileName(path.c_str());
        gNewCalls = 0;
        gNewFailAt = n == 0 ? -1 : n;  // -1 counts without failing
        int result = -1;
        EXPECT_NO_THROW(result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr)) << n;
        gNewFailAt = 0;
        if (n == 0) {
            ASSERT_EQ(result, 1);
            calls = gNewCalls;
            continue;
        }
        ASSERT_TRUE(result == 0 || result == 1) << n;
        if (result == 0) {
            EXPECT_NE(scene.context()->errorText.wide[0], u'\0') << n;
            outOfMemory += std::u16string(scene.context()->errorText.wide) == kOutOfMemoryText;
        }
        ASSERT_EQ(jobs.allocations.LiveBlocks(), 0) << n;
    }
    std::printf("operator new calls failed in turn: %ld, %d of them out of memory\n", calls, outOfMemory);
    EXPECT_GT(calls, 10);
}

}  // namespace
