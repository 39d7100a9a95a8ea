// The import job through FilterProc on the reference host: the fault files,
// error texts, the memory of the whole import, material colours, and two
// sweeps over every fixture (each job allocation failing in turn, the file
// cut at every byte or at ~500 offsets). Whatever happens the call answers
// 0 or 1, a 0 comes with a message, and no job block stays allocated.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "tests/job_settings.h"
#include "plugin/plugin.h"
#include "ase/reader_internal.h"
#include "tests/host/replaced_new.h"
#include "tests/test_files.h"

namespace {

// The host's memory: every operator new of the program counted, with the
// live and the peak bytes (the host's records are its allocations through
// operator new; the job's come from the job allocator).
struct NewCount {
    size_t live = 0;
    size_t peak = 0;
};
NewCount gNew;
constexpr size_t kNewHeader = alignof(std::max_align_t);

}  // namespace

void* ReplacedNew(size_t size) noexcept {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kNewHeader));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    gNew.live += size;
    if (gNew.live > gNew.peak) gNew.peak = gNew.live;
    return block + kNewHeader;
}

void ReplacedDelete(void* pointer) noexcept {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kNewHeader;
    gNew.live -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

namespace {

namespace fs = std::filesystem;
using asehost::HostScene;
using testfiles::Data;
using testfiles::ReadFile;
using testfiles::WriteFile;

fs::path Fault(const std::string& name) { return Data("ase/faults/" + name); }

fs::path TempFile(const std::string& name) { return fs::absolute(fs::path(testing::TempDir()) / name); }

// FILTER_MSG_IMPORT of `path` into a fresh `scene`.
int Import(HostScene& scene, const fs::path& path) {
    scene.reset();
    const std::u16string wide = fs::absolute(path).u16string();
    scene.setFileName(wide.c_str());
    return FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
}

std::string ErrorOf(const HostScene& scene) { return asehost::ErrorTextOf(*scene.context()); }

// Every index a host record holds names a record the host has.
void ExpectConsistent(const HostScene& scene) {
    const HostContext& c = *scene.context();
    for (int g = 0; g < c.faceGroupCount; ++g) {
        const HostFaceGroup& group = c.faceGroups[g];
        for (int f = 0; f < group.faceCount; ++f) {
            const HostFace& face = group.faces[f];
            ASSERT_LT(face.objectIndex, c.objectCount);
            ASSERT_LT(face.materialIndex, c.materialCount);
            for (int k = 0; k < face.cornerCount && face.vertexIndices != nullptr; ++k) {
                ASSERT_GE(face.vertexIndices[k], 0);
                ASSERT_LT(face.vertexIndices[k], c.vertexCount);
            }
        }
    }
}

// Face slots no line filled are not handed to the host; objects are counted
// wherever a line's blanks (\v and \f among them) put their keyword (a
// counting pass that missed one would meet an object it has no record for).
TEST(ImportFaults, UnfilledFaceSlotsAreDroppedAndObjectsAfterAnyBlanksAreCounted) {
    HostScene scene;
    ASSERT_EQ(Import(scene, Fault("unfilled_face_slot_first_object.ase")), 1) << ErrorOf(scene);
    ASSERT_EQ(scene.context()->faceGroupCount, 1);
    EXPECT_EQ(scene.context()->faceGroups[0].faceCount, 1);

    ASSERT_EQ(Import(scene, Fault("unfilled_face_slot_later_object.ase")), 1) << ErrorOf(scene);
    const HostContext& c = *scene.context();
    ASSERT_EQ(c.faceGroupCount, 2);
    ASSERT_EQ(c.faceGroups[1].faceCount, 1);
    // The filled face, on the later object's own vertices (3, 4, 5).
    const HostFace& face = c.faceGroups[1].faces[0];
    EXPECT_EQ(face.objectIndex, 1);
    EXPECT_EQ(face.vertexIndices[0], 5);
    EXPECT_EQ(face.vertexIndices[1], 4);
    EXPECT_EQ(face.vertexIndices[2], 3);
    ExpectConsistent(scene);
    ASSERT_EQ(Import(scene, Fault("counted_keyword_after_vt_ff.ase")), 1) << ErrorOf(scene);
    EXPECT_EQ(scene.context()->objectCount, 3);
}

TEST(ImportFaults, FailuresSayWhereAndWhat) {
    const JobSettingsScope jobs;
    HostScene scene;
    const fs::path folder = TempFile("ase_import_folder");
    fs::create_directories(folder);
    // A file beyond what 32 bits describe is refused whole, never read as
    // its first bytes (sparse, so it takes no room).
    const fs::path huge = TempFile("ase_huge.ase"), empty = TempFile("ase_empty.ase");
    WriteFile(huge, ReadFile(Fault("corner_in_next_object.ase")));
    fs::resize_file(huge, (uintmax_t{1} << 32) + 2000);
    WriteFile(empty, "");
    const struct {
        fs::path path;
        std::string text;  // a regular expression for the whole error text
    } cases[] = {
        {Fault("corner_in_next_object.ase"), "line 13: face 0 of \"Box\" uses vertex 4, but \"Box\" has 3 vertices"},
        {Fault("declared_vertices_flood.ase"),
         "line 4: \\*MESH_NUMVERTEX 1000000 declares more than a file of this size can hold .*"},
        {Fault("declared_faces_flood.ase"),
         "line 5: \\*MESH_NUMFACES 2000000 declares more than a file of this size can hold .*"},
        {TempFile("ase_no_such_file.ase"), "\".*ase_no_such_file.ase\": the file does not exist"},
        {folder, "\".*ase_import_folder\": .*folder.*"},
        {Data("e2e/bad_vertex_index.ase"), "line 13: face 0 of \"Broken\" uses vertex 3, but \"Broken\" has 3 vertices"},
        {Data("e2e/bad_material_index.ase"), "line 7: \\*MATERIAL 2 names no material: \\*MATERIAL_COUNT declares 2"},
        {Data("e2e/no_geometry.ase"), "No geometry found\\."},
        {empty, "No geometry found\\."},
        {huge, "\".*ase_huge.ase\": the file is 4294969296 bytes; at most 4294967231 can be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        EXPECT_EQ(Import(scene, c.path), 0);
        EXPECT_TRUE(std::regex_match(ErrorOf(scene), std::regex(c.text))) << ErrorOf(scene);
        EXPECT_EQ(jobs.allocations.LiveBlocks(), 0);
    }
    fs::remove(huge);
    fs::remove(empty);
    // A host refusal names what the host refused.
    scene.reset();
    scene.failCall(asehost::HostOp::AddObject, 2);
    const std::u16string wide = fs::absolute(Fault("unfilled_face_slot_later_object.ase")).u16string();
    scene.setFileName(wide.c_str());
    EXPECT_EQ(FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr), 0);
    EXPECT_EQ(ErrorOf(scene), "the host refused to add object \"Later\"");
}

// A well-formed file of 1,000 single-triangle objects of under 300 bytes each
// imports; the memory of the whole import stays within the stated multiple,
// and declared counts beyond the lines the file holds cost the host nothing.
TEST(ImportMemory, SmallObjectsImportAndDeclaredFloodsStayBounded) {
    JobSettingsScope jobs;
    HostScene scene;
    const fs::path objects = Fault("thousand_small_objects.ase");
    jobs.allocations.TakePeakBytes();
    ASSERT_EQ(Import(scene, objects), 1) << ErrorOf(scene);
    const size_t objectsPeak = jobs.allocations.TakePeakBytes();
    EXPECT_EQ(scene.context()->objectCount, 1000);
    EXPECT_EQ(scene.context()->vertexCount, 3000);
    EXPECT_LE(objectsPeak, 17 * fs::file_size(objects) + 65536);

    // 4 MB declaring 2,000,000 faces with one face line: the count fits the
    // bytes after it, and the host gets the one face.
    const std::string padding = "*COMMENT " + std::string(4 * 1024 * 1024, 'x') + "\n";
    const fs::path faces = TempFile("ase_declared_faces.ase");
    WriteFile(faces, ReadFile(Fault("declared_faces_flood.ase")) + padding);
    jobs.allocations.TakePeakBytes();
    ASSERT_EQ(Import(scene, faces), 1) << ErrorOf(scene);
    const size_t facesPeak = jobs.allocations.TakePeakBytes();
    ASSERT_EQ(scene.context()->faceGroupCount, 1);
    EXPECT_EQ(scene.context()->faceGroups[0].faceCount, 1);
    EXPECT_LE(facesPeak, 17 * fs::file_size(faces) + 65536);

    // 4 MB declaring 1,000,000 vertices: with the host's records more than
    // the file can justify.
    const fs::path vertices = TempFile("ase_declared_vertices.ase");
    WriteFile(vertices, ReadFile(Fault("declared_vertices_flood.ase")) + padding);
    jobs.allocations.TakePeakBytes();
    EXPECT_EQ(Import(scene, vertices), 0);
    const size_t verticesPeak = jobs.allocations.TakePeakBytes();
    EXPECT_NE(ErrorOf(scene).find("*MESH_NUMVERTEX 1000000"), std::string::npos) << ErrorOf(scene);
    EXPECT_LE(verticesPeak, 2 * fs::file_size(vertices));
    fs::remove(faces);
    fs::remove(vertices);
}

// Sub-materials with a texture each, their text as short as the budget
// lets it be for their records (the document's, the host's material and
// texture): the whole import, the job's peak and the host's taken as if at
// the same moment, stays within 17 times the file plus 64 KiB. The same
// sub-materials with shorter text are refused at a line that names itself.
TEST(ImportMemory, SubMaterialsWithMapsKeepTheWholeImportWithinTheStatedMultiple) {
    const size_t charged = sizeof(AseSubMaterial) + kHostMaterialBytes + kHostTextureBytes;
    const size_t shortest = charged / kDeclaredBytesPerFileByte + 1;
    JobSettingsScope jobs;
    HostScene scene;
    for (const size_t each : {shortest, shortest * 3 / 4}) {
        SCOPED_TRACE(each);
        const int count = 20000;
        std::string text = "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 20000\n";
        for (int s = 0; s < count; ++s) {
            const std::string head = "*SUBMATERIAL " + std::to_string(s) + " {\n*MAP_DIFFUSE {\n*BITMAP \"";
            const std::string tail = ".png\"\n}\n}\n";
            text += head + std::string(each - head.size() - tail.size(), 'p') + tail;
        }
        text += "}\n}\n" + ReadFile(Fault("unfilled_face_slot_first_object.ase"));
        const fs::path path = TempFile("ase_sub_materials.ase");
        WriteFile(path, text);
        jobs.allocations.TakePeakBytes();
        const size_t newBase = gNew.live;
        gNew.peak = gNew.live;
        const int result = Import(scene, path);
        const size_t peak = jobs.allocations.TakePeakBytes() + (gNew.peak - newBase);
        if (each == shortest) {
            ASSERT_EQ(result, 1) << ErrorOf(scene);
            EXPECT_EQ(scene.context()->materialCount, count);
        } else {
            EXPECT_EQ(result, 0);
            // At the count line or, once the count fits, at the map line
            // whose texture no longer does.
            EXPECT_EQ(ErrorOf(scene).rfind("line ", 0), 0u) << ErrorOf(scene);
            EXPECT_NE(ErrorOf(scene).find("than a file of this size can hold"), std::string::npos) << ErrorOf(scene);
        }
        EXPECT_LE(peak, kImportBytesPerFileByte * text.size() + kDeclaredSlackBytes)
            << peak << " bytes for a file of " << text.size();
        fs::remove(path);
    }
}

// The colours of materials and sub-materials as the file states them: the
// material with sub-materials makes no host material of its own.
TEST(ImportMaterials, HostMaterialsTakeTheFilesColours) {
    HostScene scene;
    ASSERT_EQ(Import(scene, Data("e2e/materials.ase")), 1) << ErrorOf(scene);
    // Ambient, diffuse and specular of sub-materials "Red" and "Green" and of the last material.
    const float expected[3][9] = {{0.5f, 0, 0, 1, 0, 0, 0.9f, 0.9f, 0.9f},
                                  {0, 0.5f, 0, 0, 1, 0, 0.9f, 0.9f, 0.9f},
                                  {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f}};
    ASSERT_EQ(scene.context()->materialCount, 3);
    for (int m = 0; m < 3; ++m) {
        const HostMaterial& material = scene.context()->materials[m];
        for (int c = 0; c < 3; ++c) {
            EXPECT_FLOAT_EQ(material.ambient[c], expected[m][c]) << m;
            EXPECT_FLOAT_EQ(material.diffuse[c], expected[m][3 + c]) << m;
            EXPECT_FLOAT_EQ(material.specular[c], expected[m][6 + c]) << m;
        }
    }
}

// The fixtures of the sweeps: every import fixture and the small fault files.
std::vector<fs::path> SweepFixtures() {
    std::vector<fs::path> paths;
    for (const char* folder : {"e2e", "ase", "ase/faults"}) {
        for (fs::path& path : testfiles::AseFiles(Data(folder))) paths.push_back(std::move(path));
    }
    return paths;
}

// The sweeps run each fixture read whole and through a window of 64 bytes.
struct SweepRun { uint32_t window; fs::path path; };
std::vector<SweepRun> SweepRuns() {
    std::vector<SweepRun> runs;
    for (const uint32_t window : {0u, 64u}) {
        for (fs::path& path : SweepFixtures()) runs.push_back({window, std::move(path)});
    }
    return runs;
}

TEST(ImportSweeps, EveryJobAllocationFailingInTurnFailsCleanly) {
    HostScene scene;
    long points = 0;
    for (const auto& [window, path] : SweepRuns()) {
        if (fs::file_size(path) > 64 * 1024) continue;
        SCOPED_TRACE(path.filename().string() + " window " + std::to_string(window));
        JobSettingsScope settings({.read = {.windowBytes = window}});
        AllocationWatch& allocations = settings.allocations;
        allocations.FailAt(0);
        const int whole = Import(scene, path);
        const long made = allocations.FailAt(0);
        if (whole == 0) continue;  // files that fail anyway are cut below
        for (long n = 1; n <= made; ++n, ++points) {
            allocations.FailAt(n);
            int result = -1;
            EXPECT_NO_THROW(result = Import(scene, path));
            allocations.FailAt(0);
            ASSERT_EQ(result, 0) << n;
            ASSERT_FALSE(ErrorOf(scene).empty()) << n;
            ASSERT_EQ(allocations.LiveBlocks(), 0) << n;
            ExpectConsistent(scene);
        }
    }
    std::printf("allocations failed in turn over the fixtures: %ld\n", points);
    EXPECT_GT(points, 100);
}

TEST(ImportSweeps, EveryCutOfEveryFixtureImportsOrFailsWithAMessage) {
    HostScene scene;
    const fs::path cutPath = TempFile("ase_cut.ase");
    for (const auto& [window, path] : SweepRuns()) {
        // The thousand repeated objects add nothing that their first do not.
        if (fs::file_size(path) > 64 * 1024) continue;
        SCOPED_TRACE(path.filename().string() + " window " + std::to_string(window));
        const JobSettingsScope settings({.read = {.windowBytes = window}});
        const std::string bytes = ReadFile(path);
        // Small files at every byte, large ones at about 500 offsets.
        const size_t step = bytes.size() <= 1500 ? 1 : bytes.size() / 500;
        for (size_t cut = 0; cut <= bytes.size(); cut += step) {
            // A fresh file each time: rewriting a truncated one makes some
            // file systems flush it on close.
            fs::remove(cutPath);
            WriteFile(cutPath, bytes.substr(0, cut));
            int result = -1;
            EXPECT_NO_THROW(result = Import(scene, cutPath));
            ASSERT_TRUE(result == 0 || result == 1) << cut;
            if (result == 0) {
                ASSERT_FALSE(ErrorOf(scene).empty()) << cut;
            }
            ASSERT_EQ(settings.allocations.LiveBlocks(), 0) << cut;
            ExpectConsistent(scene);
        }
    }
    fs::remove(cutPath);
}

// A file read in one pass, whole or through a window, gives the scene, or
// the failure with its line, that the same file read whole in two passes
// (the counting pass first) gives: every fixture, fault file and sample in
// its own line ends and in CR LF and lone CR, through windows that cut
// lines, line-end pairs and first words anywhere. The fault files include
// those that make one pass fall back to two (material counts that come
// late or twice, object lines where no parser reads them).
TEST(ImportWindow, AnyWindowAndOnePassGiveTheSceneOfTwoPassesOverTheWholeFile) {
    std::vector<fs::path> paths = SweepFixtures();
    for (const fs::path& folder : {Data("ase/hostile"), fs::path(ASE_SHARED_DIR) / "samples"}) {
        for (fs::path& path : testfiles::AseFiles(folder)) paths.push_back(std::move(path));
    }
    HostScene scene;
    const fs::path copy = TempFile("ase_window.ase");
    long compared = 0;
    for (const fs::path& path : paths) {
        const std::string bytes = ReadFile(path);
        const std::string forms[] = {bytes, testfiles::WithLineEnds(bytes, "\r\n"), testfiles::WithLineEnds(bytes, "\r")};
        for (const std::string& text : forms) {
            fs::remove(copy);
            WriteFile(copy, text);
            int whole = 0;
            {
                const JobSettingsScope twoPasses({.read = {.windowBytes = 0, .twoPasses = true}});
                whole = Import(scene, copy);
            }
            const std::string wholeScene = scene.saveJson();
            const std::string wholeError = ErrorOf(scene);
            for (const uint32_t window : {0u, 64u, 97u, 1000u, 4096u}) {
                if (window >= text.size()) continue;
                SCOPED_TRACE(path.filename().string() + " window " + std::to_string(window));
                const JobSettingsScope settings({.read = {.windowBytes = window}});
                ASSERT_EQ(Import(scene, copy), whole) << ErrorOf(scene);
                EXPECT_EQ(ErrorOf(scene), wholeError);
                EXPECT_TRUE(scene.saveJson() == wholeScene);
                EXPECT_EQ(settings.allocations.LiveBlocks(), 0);
                ++compared;
            }
        }
    }
    fs::remove(copy);
    EXPECT_GT(compared, 100);
}

}  // namespace
