// The plug-in boundary: version, registration and filter dispatch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>

#include "host/scene.h"

#include "platform/platform.h"
#include "plugin/job.h"
#include "plugin/plugin.h"

// Every operator new of this test program counts, and one chosen call can
// be made to throw, wherever it happens: in the plug-in, the platform layer
// or the reference host.
namespace {
long gNewCalls = 0;
long gNewFailAt = 0;  // 0: none
// Called through a pointer, so that the compiler does not pair the frees
// below with the operator new it sees and warn of a mismatch.
void (*volatile gFree)(void*) = std::free;
}  // namespace

void* operator new(std::size_t bytes) {
    if (gNewFailAt != 0 && ++gNewCalls == gNewFailAt) throw std::bad_alloc();
    void* block = std::malloc(bytes != 0 ? bytes : 1);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t bytes) { return operator new(bytes); }
void operator delete(void* block) noexcept { gFree(block); }
void operator delete[](void* block) noexcept { gFree(block); }
void operator delete(void* block, std::size_t) noexcept { gFree(block); }
void operator delete[](void* block, std::size_t) noexcept { gFree(block); }

namespace {

struct RegistrationHost {
    PluginInfoOps ops{};
    PluginInfo info{};
    int calls = 0;
    int answer = 1;
    std::u16string extension;
};

RegistrationHost* activeHost = nullptr;

int RecordRegistration(PluginInfo* info, const DualString* extension) {
    EXPECT_EQ(info, &activeHost->info);
    ++activeHost->calls;
    activeHost->extension = extension->wide;
    EXPECT_STREQ(extension->narrow, "ase");
    return activeHost->answer;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        host.ops.RegisterPlugin = &RecordRegistration;
        host.info.ops = &host.ops;
        activeHost = &host;
    }
    void TearDown() override { activeHost = nullptr; }
    RegistrationHost host;
};

TEST(PluginVersion, AnswersTheInterfaceVersionWhateverTheRecord) {
    EXPECT_EQ(PluginVersion(), 3606u);
    EXPECT_EQ(PluginProc(PLUGIN_MSG_VERSION, nullptr), 3606u);
}

TEST(PluginProc, AnswersOneToUnknownMessagesAndZeroToRegisterWithoutRecord) {
    EXPECT_EQ(PluginProc(0, nullptr), 1u);
    EXPECT_EQ(PluginProc(FILTER_MSG_IMPORT, nullptr), 1u);
    EXPECT_EQ(PluginProc(0xFFFFFFFFu, nullptr), 1u);
    EXPECT_EQ(PluginProc(PLUGIN_MSG_REGISTER, nullptr), 0u);
}

TEST_F(Registration, FillsTheRecordAndHandsTheExtensionToTheHost) {
    ASSERT_EQ(PluginProc(PLUGIN_MSG_REGISTER, &host.info), 1u);
    EXPECT_EQ(host.calls, 1);
    EXPECT_EQ(host.extension, u"ase");
    EXPECT_EQ(host.info.registrationCodeA, 3u);
    EXPECT_EQ(host.info.registrationCodeB, 6u);
    EXPECT_EQ(host.info.filterCallback, &FilterProc);
    EXPECT_EQ(0, std::memcmp(host.info.filterId, kFilterId, sizeof kFilterId));
    EXPECT_EQ(std::u16string(host.info.description.wide), u"ASCII 3D Studio Max Importer/Exporter\r\n");
    EXPECT_EQ(std::u16string(host.info.versionText.wide), u"3.50.60");
    EXPECT_EQ(std::u16string(host.info.filePattern.wide), u"ASCII Max files (*.ase)");
}

TEST_F(Registration, NarrowTextsAreTheWideTextsInTheAnsiCodePage) {
    ASSERT_EQ(PluginProc(PLUGIN_MSG_REGISTER, &host.info), 1u);
    for (const DualString* text : {&host.info.description, &host.info.versionText, &host.info.filePattern}) {
        char expected[kDualStringUnits];
        ASSERT_GT(platform::WideToAnsi(text->wide, expected, kDualStringUnits), 0);
        EXPECT_STREQ(text->narrow, expected);
    }
    const std::string description = host.info.description.narrow;
    ASSERT_GE(description.size(), 2u);
    EXPECT_EQ(description.substr(description.size() - 2), "\r\n");
}

TEST_F(Registration, RefusalAnswersZeroWithTheRecordAlreadyFilled) {
    host.answer = 0;
    EXPECT_EQ(PluginProc(PLUGIN_MSG_REGISTER, &host.info), 0u);
    EXPECT_EQ(host.calls, 1);
    EXPECT_EQ(host.info.filterCallback, &FilterProc);
    EXPECT_STREQ(host.info.versionText.narrow, "3.50.60");
}

TEST(FilterProc, QueryNeedsBothPointersAndKeepsTheContextOnRejection) {
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
}

TEST(FilterProc, UnknownMessagesAnswerZeroEvenWithBothPointers) {
    HostContext context{};
    int arg = 0;
    for (uint32_t message : std::initializer_list<uint32_t>{0u, PLUGIN_MSG_REGISTER, PLUGIN_MSG_VERSION, 0x1001Au, 0x1001Eu, 0x10021u}) {
        EXPECT_EQ(FilterProc(message, &context, &arg, nullptr), 0) << std::hex << message;
    }
}

TEST(DualStringAssignment, CutsLongTextsAndAlwaysTerminatesBothHalves) {
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
}

TEST(GetFileName, CopiesBothHalvesAndLeavesTheContextsOwnFieldAlone) {
    HostContext context{};
    AssignDualString(&context.fileName, u"C:\\scenes\\a.ase");
    DualString copy{};
    EXPECT_EQ(std::u16string(GetFileName(&context, &copy)), u"C:\\scenes\\a.ase");
    EXPECT_STREQ(copy.narrow, "C:\\scenes\\a.ase");
    EXPECT_EQ(std::u16string(GetFileName(&context, &context.fileName)), u"C:\\scenes\\a.ase");
}

TEST(FormatWide, FormatsTextIntegersAndFixedDecimals) {
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
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "ase_barrier_test.ase";
    {
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("*GEOMOBJECT {\n*NODE_NAME \"Box\"\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_VERTEX_LIST {\n"
                   "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n}\n}\n}\n",
                   file);
        std::fclose(file);
    }
    const std::u16string wide = path.u16string();
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
        EXPECT_EQ(JobLiveBlocksForTesting(), 0);
    }
    std::filesystem::remove(path);
}

// Each operator new of an import of a small hierarchy failing in turn: the
// call never throws; it answers 0 with a message ("Out of memory.", or the
// host's refusal when the host turned its own failure into one), or 1 when
// the failure was one the code can do without; no job block stays behind.
TEST(FilterProc, EveryOperatorNewFailingInTurnEndsTheImportCleanly) {
    const std::u16string path =
        std::filesystem::absolute(std::filesystem::path(ASE_TEST_DATA_DIR) / "e2e" / "hierarchy.ase").u16string();
    asehost::HostScene scene;
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
        ASSERT_EQ(JobLiveBlocksForTesting(), 0) << n;
    }
    std::printf("operator new calls failed in turn: %ld, %d of them out of memory\n", calls, outOfMemory);
    EXPECT_GT(calls, 10);
}

}  // namespace
