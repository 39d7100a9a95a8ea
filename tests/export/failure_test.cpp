// Exports that fail: the output failing at each of its steps, a full device,
// and memory running out at every allocation of the export of each export
// scene. Whatever fails, the result is 0 with one line saying what, the
// previous file is untouched, no new file is left beside it and no memory
// of the export outlives it.
#include <new>
#include <stdexcept>
#include <vector>

#include "export_test_util.h"

namespace {

using namespace exporttest;
namespace fs = std::filesystem;

constexpr char kOldContent[] = "the previous file\n";

class ExportFailureTest : public ExportTest {
protected:
    void SetUp() override {
        ExportTest::SetUp();
        scene_.setFileName(target_.u16string().c_str());
    }
    int Export() { return FilterProc(FILTER_MSG_EXPORT, scene_.context(), nullptr, nullptr); }
    std::u16string ErrorText() { return scene_.context()->errorText.wide; }
    void WriteOldTarget() { std::ofstream(target_, std::ios::binary) << kOldContent; }
    // The folder holds the target with the previous content and nothing else.
    void ExpectOnlyTheOldTarget() {
        EXPECT_EQ(ReadFile(target_), kOldContent);
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path)) names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"out.ase"});
        EXPECT_EQ(jobs_.allocations.LiveBlocks(), 0);
    }
    // The exports made from now on fail at the `count`-th time they reach `step`.
    void FailOutput(ExportOutputStep step, long count = 1) { jobs_.Settings().output = {step, count}; }

    const fs::path target_ = dir_.path / "out.ase";
};

TEST_F(ExportFailureTest, AFailureAtAnyOutputStepLeavesThePreviousFileAndSaysWhat) {
    LoadScene(scene_, Golden("material_scene.json"));
    const struct { ExportOutputStep step; long count; const char16_t* text; } kCases[] = {
        {ExportOutputStep::kOpen, 1, u"Could not open file for writing."},
        {ExportOutputStep::kPiece, 1, u"Could not write \"out.ase\": no space left on the device."},
        {ExportOutputStep::kPiece, 40, u"Could not write \"out.ase\": no space left on the device."},
        {ExportOutputStep::kFlush, 1, u"Could not finish writing \"out.ase\": no space left on the device."},
        {ExportOutputStep::kClose, 1, u"Could not finish writing \"out.ase\": input/output error."},
        {ExportOutputStep::kSync, 1, u"Could not finish writing \"out.ase\": input/output error."},
        {ExportOutputStep::kReplace, 1, u"Could not replace \"out.ase\": access denied."},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(c.step) << " at " << c.count);
        WriteOldTarget();
        // Failing again and again onto the same target keeps the same file.
        for (int attempt = 0; attempt < 2; ++attempt) {
            FailOutput(c.step, c.count);
            AssignDualString(&scene_.context()->errorText, u"");
            EXPECT_EQ(Export(), 0);
            EXPECT_EQ(ErrorText(), c.text);
            ExpectOnlyTheOldTarget();
        }
    }
    // Once the output works again, the whole file takes the target's place.
    FailOutput(ExportOutputStep::kNone);
    ASSERT_EQ(Export(), 1);
    const std::string written = ReadFile(target_, true);
    EXPECT_NE(written.find("*MATERIAL_LIST {"), std::string::npos);
    EXPECT_EQ(written.substr(written.size() - 2), "}\n");
}

// Every write of the export's text failing in turn, in both layouts: the
// count of writes an export reaches is where the first success comes.
TEST_F(ExportFailureTest, AFullDeviceAtAnyWriteOfTheTextLeavesThePreviousFile) {
    LoadScene(scene_, Golden("material_scene.json"));
    for (const int split : {1, 0}) {
        TheExportOptions().splitVerticesPerUv = split;
        long count = 1;
        for (;; ++count) {
            SCOPED_TRACE(count);
            WriteOldTarget();
            AssignDualString(&scene_.context()->errorText, u"");
            FailOutput(ExportOutputStep::kPiece, count);
            if (Export() == 1) break;
            EXPECT_EQ(ErrorText(), u"Could not write \"out.ase\": no space left on the device.");
            ExpectOnlyTheOldTarget();
        }
        std::printf("writes failed in turn (%s layout): %ld\n", split ? "split" : "indexed", count - 1);
        EXPECT_GT(count, 40);
    }
}

// A host call that throws during the export: the call fails with the
// export's own message for it, and the previous file stays.
int gThrowKind = 0;
int ThrowingPreWriteStep(HostContext*) {
    if (gThrowKind == 0) throw std::bad_alloc();
    throw std::runtime_error("host failure");
}

TEST_F(ExportFailureTest, AnExceptionFromTheHostFailsTheExportWithItsMessage) {
    LoadScene(scene_, Golden("material_scene.json"));
    HostContextOps ops = *scene_.context()->ops;
    ops.PreWriteStep = &ThrowingPreWriteStep;
    const HostContextOps* original = scene_.context()->ops;
    scene_.context()->ops = &ops;
    for (const int kind : {0, 1}) {
        gThrowKind = kind;
        WriteOldTarget();
        EXPECT_EQ(Export(), 0);
        EXPECT_EQ(ErrorText(), kind == 0 ? u"Not enough memory to export." : u"The export failed for an unexpected reason.");
        ExpectOnlyTheOldTarget();
    }
    scene_.context()->ops = original;
}

TEST_F(ExportFailureTest, AFolderWhereTheTargetWouldBeStaysAndNothingIsLeftBesideIt) {
    LoadScene(scene_, Golden("normals_scene.json"));
    fs::create_directory(target_);
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(ErrorText(), u"Could not open file for writing.");
    EXPECT_TRUE(fs::is_directory(target_));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path), fs::directory_iterator()), 1);
}

TEST_F(ExportFailureTest, AFullDeviceFailsTheExportWhetherTheWriteOrTheCloseMeetsIt) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    // One vertex stays buffered until the close; 3,000 faces outgrow the
    // stream buffer, so a write meets the full device first.
    LoadScene(scene_, R"({"vertices": [ {"position": [0, 0, 0]} ]})");
    scene_.setFileName(u"/dev/full");
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(ErrorText(), u"Could not finish writing \"full\": no space left on the device.");

    std::string faces;
    for (int f = 0; f < 3000; ++f) faces += std::string(f ? "," : "") + R"({"objectIndex": 0, "vertexIndices": [0, 1, 2]})";
    LoadScene(scene_, R"({"vertices": [{"position": [0, 0, 0]}, {"position": [1, 0, 0]}, {"position": [0, 1, 0]}],
                          "objects": [{"name": "Big"}], "faceGroups": [{"faces": [)" + faces + "]}]}");
    scene_.setFileName(u"/dev/full");
    EXPECT_EQ(Export(), 0);
    EXPECT_EQ(ErrorText(), u"Could not write \"full\": no space left on the device.");
    EXPECT_TRUE(fs::exists("/dev/full") && !fs::is_regular_file("/dev/full"));
}

// Every job allocation of the export of each export scene fails in turn, in
// both layouts and with the options that reach the most writers.
TEST_F(ExportFailureTest, RunningOutOfMemoryAtAnyAllocationLeavesThePreviousFile) {
    const struct { const char* scene; ExportOptions options; } kRuns[] = {
        {"geometry_scene.json", {}},
        {"geometry_scene.json", {.exportMultipleUvSets = 1, .splitVerticesPerUv = 0, .smoothingMode = SmoothPerGroup}},
        {"material_scene.json", {.useMultiSubObjectMaterials = 1, .useFullTexturePath = 1}},
        {"material_scene.json", {.exportAsSingleObject = 1, .splitVerticesPerUv = 0}},
        {"normals_scene.json", {.useFaceNormals = 1}},
    };
    for (const auto& run : kRuns) {
        SCOPED_TRACE(std::string(run.scene) + (run.options.splitVerticesPerUv ? " split" : " indexed"));
        LoadScene(scene_, Golden(run.scene));
        TheExportOptions() = run.options;
        jobs_.allocations.FailAt(0);
        ASSERT_EQ(Export(), 1);
        const long allocations = jobs_.allocations.FailAt(0);
        std::printf("allocations failed in turn (%s): %ld\n", run.scene, allocations);
        const std::string expected = ReadFile(target_);
        EXPECT_GT(allocations, 4);
        for (long failAt = 1; failAt <= allocations; ++failAt) {
            SCOPED_TRACE(failAt);
            WriteOldTarget();
            AssignDualString(&scene_.context()->errorText, u"");
            jobs_.allocations.FailAt(failAt);
            EXPECT_EQ(Export(), 0);
            EXPECT_EQ(ErrorText(), u"Not enough memory to export \"out.ase\".");
            ExpectOnlyTheOldTarget();
        }
        // Without a failure the same bytes come out again.
        jobs_.allocations.FailAt(0);
        ASSERT_EQ(Export(), 1);
        EXPECT_EQ(ReadFile(target_), expected);
    }
}

}  // namespace
