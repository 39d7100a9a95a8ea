// Hostile input: fault files, generated extremes, every allocation failing
// in turn and every truncation of the fixtures. Each parse must end with
// the expected result and leave nothing behind.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "import/import.h"
#include "plugin/plugin.h"
#include "test_support.h"
#include "tests/test_files.h"

namespace {

using asetest::Doc;
using asetest::Parse;

std::string Data(const std::string& name) { return testfiles::ReadFile(testfiles::Data("ase/" + name)); }

using HostileInput = asetest::ReaderTest;

TEST_F(HostileInput, FaultFilesGiveTheirResultAndKeepIndicesInBounds) {
    const struct { const char* file; int result; std::vector<asetest::Check> checks; } cases[] = {
        // Declared counts beyond what the file could hold fail without allocating.
        {"huge_vertex_count.ase", 0, {}},
        {"huge_material_count.ase", 0, {}},
        {"huge_submaterial_count.ase", 0, {}},
        {"negative_counts.ase",
         1,
         {ASE_EQ(materials, nullptr), ASE_OBJ_EQ(vertices, nullptr), ASE_OBJ_EQ(faces, nullptr)}},
        // 4294967297 is read as 1, as "%d" stores it; the face's corners
        // (INT32_MIN as "%d" stores -2^31 and 2^31) name no vertex of "o".
        {"index_extremes.ase",
         0,
         {ASE_OBJ_EQ(vertices[0].position.x, 0), ASE_OBJ_EQ(vertices[1].position.x, 5), ASE_OBJ_EQ(faces[0].a, -1)}},
        {"material_index_int_min.ase", 0, {}},
        {"material_index_2pow31.ase", 0, {}},
        // NaN, infinities and overflow are stored as read; after "NaN(1)" the
        // scanner takes "NaN" and the next number fails at '('.
        {"nan_inf_numbers.ase",
         1,
         {ASE_OBJ_EQ(worldTm.m[12], NAN), ASE_OBJ_EQ(worldTm.m[13], -INFINITY), ASE_OBJ_EQ(worldTm.m[14], INFINITY),
          ASE_OBJ_EQ(vertices[0].position.x, NAN), ASE_OBJ_EQ(vertices[0].position.y, INFINITY),
          ASE_OBJ_EQ(vertices[0].position.z, -0.0), ASE_OBJ_EQ(vertices[1].position.y, 0), ASE_OBJ_EQ(rotKeyCount, 1)}},
        {"unterminated_quote.ase", 1, {ASE_OBJ_STR(nodeName, "open name"), ASE_OBJ_STR(parentName, "")}},
        // A lone byte after the last whole UTF-16 unit becomes '?'.
        {"../faults/utf16_lone_trailing_byte.ase", 1, {ASE_OBJ_STR(nodeName, "ab?")}},
        {"unbalanced_braces.ase",
         1,
         {ASE_EQ(geomObjectCount, 2), ASE_OBJ_EQ(vertexCount, 1), ASE_STR(geomObjects[1].nodeName, "never closed")}},
        {"nul_bytes.ase", 1, {ASE_OBJ_STR(nodeName, "a"), ASE_OBJ_EQ(vertices[0].position.z, 3)}},
        {"binary_garbage.ase", 1, {{"an object", [](const AseDocument& d) { return d.geomObjectCount >= 1; }}}},
        {"extreme_scene_values.ase", 1, {ASE_EQ(frameSpeed, -30)}},
        // How cycles are cut is ResolveParentIndices's test.
        {"parent_cycle.ase", 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(Parse(Data(std::string("hostile/") + c.file)), c.result);
        asetest::ExpectAll(c.checks);
    }
}

// The bound is on bytes. A vertex costs its document record and the host's
// records; after a count line that 32 bytes of the file follow (its own line
// end and 31 more) vertices may take 16 x 32 bytes plus the 64 KiB of slack
// and not one more, and the failure names the keyword and the count. Many
// count lines add up: each alone may fit the bytes after it while all
// together exceed the file's budget.
TEST_F(HostileInput, DeclaredCountsAreBelievedUpToTheirByteBoundAddUpAndAreNamedBeyondIt) {
    const size_t vertexBytes = sizeof(AseVertex) + kHostVertexBytes;
    const long most = static_cast<long>((kDeclaredBytesPerFileByte * 32 + kDeclaredSlackBytes) / vertexBytes);
    const std::string head = "*COMMENT " + std::string(390, 'x') + "\n*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX ";
    // Appended: mingw's g++ 12 sees a false overlap in "\n" + std::string(...).
    const std::string tail = std::string("\n").append(30, ' ').append("\n");
    EXPECT_EQ(Parse(head + std::to_string(most) + tail), 1);
    EXPECT_EQ(Doc().geomObjects[0].vertexCount, most);
    EXPECT_EQ(Parse(head + std::to_string(most + 1) + tail), 0);
    EXPECT_EQ(asetest::Error().kind, JobErrorKind::kLimit);
    EXPECT_EQ(asetest::Error().line, 4);
    const std::u16string text = asetest::ErrorText();
    const std::string count = std::to_string(most + 1);
    EXPECT_NE(text.find(u"line 4: *MESH_NUMVERTEX " + std::u16string(count.begin(), count.end())), std::u16string::npos);

    // 300 vertices with their host records fit the slack alone; eight such
    // counts exceed the budget of the whole file.
    std::string objects;
    for (int o = 0; o < 8; ++o) objects += "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 300\n" + std::string(200, ' ') + "\n}\n}\n";
    ASSERT_LT(300 * vertexBytes, kDeclaredSlackBytes);
    ASSERT_GT(8 * 300 * vertexBytes, kDeclaredBytesPerFileByte * objects.size() + kDeclaredSlackBytes);
    EXPECT_EQ(Parse(objects), 0);
    EXPECT_EQ(asetest::Error().kind, JobErrorKind::kLimit);
    EXPECT_GT(asetest::Error().line, 6);
    EXPECT_EQ(Parse(objects.substr(0, objects.size() / 8)), 1);
}

// A file is read in one pass; only a file that needs what a counting pass
// alone knows is read again, in two (one-pass and two-pass documents are
// compared by the import's window test). A failure is a failure of two
// passes, but for "No geometry found." after a whole pass.
TEST_F(HostileInput, FilesAreReadInOnePassUnlessTheyNeedTheCountsFirst) {
    const struct { const char* file; int result; uint32_t passes; } cases[] = {
        {"every_array.ase", 1, 1},
        {"faults/object_lines_in_skipped_blocks.ase", 1, 1},
        {"faults/object_line_inside_mesh.ase", 1, 1},
        {"faults/material_count_after_list.ase", 1, 1},
        {"faults/thousand_small_objects.ase", 1, 1},
        {"faults/material_count_twice.ase", 1, 3},
        {"faults/material_list_before_its_count.ase", 1, 3},
        {"faults/material_list_without_count.ase", 1, 3},
        {"faults/material_count_zero_inside_list.ase", 1, 3},
        {"faults/corner_in_next_object.ase", 0, 3},
        // The counting pass itself fails these.
        {"faults/no_geometry_and_a_bad_material.ase", 0, 2},
        {"hostile/object_flood.ase", 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(Parse(Data(c.file)), c.result);
        EXPECT_EQ(asetest::TheReading().reader.passes, c.passes);
    }
    EXPECT_EQ(Parse("*3DSMAX_ASCIIEXPORT 200\n*SCENE {\n}\n"), 0);
    EXPECT_EQ(asetest::ErrorText(), u"No geometry found.");
    EXPECT_EQ(asetest::TheReading().reader.passes, 1u);
}

// Peak bytes of the document (without the source copy) while parsing `text`.
size_t DocumentBytesOfParse(const std::string& text, int& result) {
    asetest::ResetAll();
    AllocationWatch& watch = asetest::TheReading().watch;
    watch.TakePeakBytes();
    result = Parse(text);
    return watch.TakePeakBytes() - (text.size() + kSourcePadding);
}

// Declared counts cost memory in proportion to the file, however many count
// lines ask and however large their records: materials (about 2.4 KB each),
// sub-materials in every material, vertex counts in every object. Object,
// light, camera and helper lines are charged at their record bytes before their
// records exist, so a flood of short ones fails within the same bound.
TEST_F(HostileInput, FloodsKeepTheDocumentWithinAMultipleOfTheFile) {
    std::string subFlood = "*MATERIAL_LIST {\n*MATERIAL_COUNT 200\n", meshFlood, lights, cameras, helpers;
    for (int m = 0; m < 200; ++m) subFlood += "*MATERIAL " + std::to_string(m) + " {\n*NUMSUBMTLS 25\n}\n";
    for (int o = 0; o < 2000; ++o) meshFlood += "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2000\n}\n}\n";
    for (int i = 0; i < 20000; ++i) lights += "*LIGHTOBJECT\n", cameras += "*CAMERAOBJECT\n", helpers += "*HELPEROBJECT\n";
    const struct {
        const char* name;
        std::string text;
        size_t allowed;  // beyond what the declared counts may take
    } cases[] = {{"material flood", Data("hostile/material_flood.ase"), sizeof(AseGeomObject)},
                 {"sub-material flood", subFlood + "}\n" + asetest::Object(""), sizeof(AseGeomObject)},
                 {"vertex count in every object", meshFlood, 2000 * sizeof(AseGeomObject)},
                 {"object lines", Data("hostile/object_flood.ase"), 0},
                 {"light lines", asetest::Object("") + lights, 0},
                 {"camera lines", asetest::Object("") + cameras, 0},
                 {"helper lines", asetest::Object("") + helpers, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.text.size(), 1000u);
        int result = -1;
        const size_t bytes = DocumentBytesOfParse(c.text, result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(asetest::Error().kind, JobErrorKind::kLimit);
        // The block stack holds a few names.
        const size_t bound = kDeclaredBytesPerFileByte * c.text.size() + kDeclaredSlackBytes + c.allowed + 16 * 1024;
        EXPECT_LE(bytes, bound) << bytes << " document bytes for a file of " << c.text.size();
    }
}

TEST_F(HostileInput, HugeLinesAndDeepNesting) {
    ASSERT_EQ(Parse("*GEOMOBJECT {\n*NODE_NAME \"" + std::string(10 * 1024 * 1024, 'x') + "\"\n}\n"), 1);
    EXPECT_EQ(Doc().geomObjects[0].nodeName, std::string(255, 'x'));

    std::string text = "*GEOMOBJECT {\n*NODE_NAME \"deep\"\n";
    for (int i = 0; i < 100000; ++i) text += "*MESH_NORMALS {\n";
    text += "*MESH {\n";
    for (int i = 0; i < 100000; ++i) text += "*MESH {\n";
    for (int i = 0; i < 200001; ++i) text += "}\n";
    ASSERT_EQ(Parse(text + "}\n" + asetest::Object("", "after")), 1);
    ASSERT_EQ(Doc().geomObjectCount, 2);
    EXPECT_STREQ(Doc().geomObjects[1].nodeName, "after");
    // Nested open blocks at the end of the input are accepted too.
    std::string open = asetest::Object("");
    for (int i = 0; i < 100000; ++i) open += "*MATERIAL_LIST {\n";
    EXPECT_EQ(Parse(open), 1);
}

TEST_F(HostileInput, EveryAllocationFailingInTurnFailsTheReadAndLeavesNothingBehind) {
    std::string keys = "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n";
    for (int i = 0; i < 40; ++i)
        keys += "*CONTROL_POS_SAMPLE " + std::to_string(i) + " " + std::to_string(i) + " 0 0\n";
    AllocationWatch& watch = asetest::TheReading().watch;
    for (const bool onlyKeys : {false, true}) {
        const std::string text = onlyKeys ? asetest::Object(keys + "}\n}\n") : Data("every_array.ase");
        AseReader& first = asetest::Source(text);
        watch.FailAt(0);
        ASSERT_EQ(ParseAseDocument(first), 1);
        const long allocations = watch.FailAt(0);
        std::printf("allocations failed in turn (%s): %ld\n", onlyKeys ? "keys" : "every array", allocations);
        ASSERT_GT(allocations, 3);
        for (long n = 1; n <= allocations; ++n) {
            AseReader& source = asetest::Source(text);
            watch.FailAt(n);
            const int result = ParseAseDocument(source);
            watch.FailAt(0);
            ASSERT_EQ(result, 0) << n;
            ASSERT_EQ(asetest::Error().kind, JobErrorKind::kMemory) << n;
            asetest::ResetAll();
            ASSERT_EQ(watch.LiveBlocks(), 0) << onlyKeys << ' ' << n;
        }
    }
}

TEST_F(HostileInput, EveryTruncationParsesWithoutHarm) {
    for (const char* name :
         {"every_array.ase", "hostile/index_extremes.ase", "hostile/nul_bytes.ase", "hostile/nan_inf_numbers.ase"}) {
        const std::string fixture = Data(name);
        for (size_t cut = 0; cut <= fixture.size(); ++cut) {
            const int result = Parse(fixture.substr(0, cut));
            ASSERT_TRUE(result == 0 || result == 1) << name << ' ' << cut;
            asetest::ResetAll();
            ASSERT_EQ(asetest::TheReading().watch.LiveBlocks(), 0) << name << ' ' << cut;
        }
    }
}

// A file read through a window and cut short while it is read fails the
// read with that message, named as the import names its file, whether the
// cut comes within the one pass or between two: a failure of the file is
// never read again in two passes.
TEST_F(HostileInput, AFileCutShortWhileItIsReadFailsWithItsOwnMessage) {
    // Longer than what the stream buffers, so that the cut is seen.
    const std::string text =
        Data("every_array.ase") + "*COMMENT " + std::string(100000, 'x') + "\n" + asetest::Object("", "second");
    const std::string path = testing::TempDir() + "ase_shrinking.ase";
    for (const bool betweenPasses : {false, true}) {
        SCOPED_TRACE(betweenPasses ? "between the passes" : "in one pass");
        testfiles::WriteFile(path, text);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        asetest::ResetAll();
        std::copy_n(u"cut.ase", 8, Doc().sourcePath);
        AseReader& source = asetest::TheReading().reader;
        ASSERT_EQ(OpenAseSourceWindow(source, file, static_cast<uint32_t>(text.size()), 64), 1);
        if (betweenPasses) {
            ASSERT_EQ(CountObjects(source), 1);
            EXPECT_EQ(Doc().countedGeomObjects, 2);
            ASSERT_EQ(AllocateGeomObjects(Doc(), Doc().countedGeomObjects), 1);
            std::filesystem::resize_file(path, text.size() / 2);
            // The window grew for the long line: the cut may show at once.
            if (RewindAseSource(source)) ParseTopLevel(source);
        } else {
            std::filesystem::resize_file(path, text.size() / 2);
            EXPECT_EQ(ParseAseDocument(source), 0);
            EXPECT_EQ(source.passes, 1u);
        }
        EXPECT_TRUE(ReadFailed(source));
        EXPECT_EQ(asetest::Error().kind, JobErrorKind::kFile);
        EXPECT_EQ(asetest::ErrorText(), u"\"cut.ase\": the file became shorter while it was read");
        std::fclose(file);
    }
    std::filesystem::remove(path);
}

// Every charge beyond the budget names the line that made it: a material
// count, the first object or light line that the file's budget could not
// take, the face line whose host records went beyond it. The count lines
// are named the same way whether read whole or in two passes through a
// window.
TEST_F(HostileInput, EveryBudgetFailureNamesItsLine) {
    const std::string objects = Data("hostile/object_flood.ase");
    std::string lights = asetest::Object("");
    for (int i = 0; i < 20000; ++i) lights += "*LIGHTOBJECT\n";
    // The first counted line whose charge the budget of the whole file
    // cannot take, after `before` lines that are not charged.
    auto firstBeyond = [](const std::string& text, size_t first, size_t bytes, int64_t before) {
        const uint64_t budget = kDeclaredBytesPerFileByte * text.size() + kDeclaredSlackBytes - first;
        return before + 1 + static_cast<int64_t>(budget / bytes);
    };
    // Vertices that take all of the budget but about 2 KB: face lines then
    // go beyond it after a dozen faces.
    std::string faces = "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 0000000\n*MESH_NUMFACES 1000\n*MESH_FACE_LIST {\n";
    for (int f = 0; f < 1000; ++f) faces += "*MESH_FACE " + std::to_string(f) + ":a 0 b 0 c 0 d 0 e 0 f 0\n";
    faces += "}\n}\n}\n";
    const uint64_t budget = kDeclaredBytesPerFileByte * faces.size() + kDeclaredSlackBytes - kCountedGeomObjectBytes -
                            1000 * sizeof(AseFace);
    const std::string vertices = std::to_string((budget - 2048) / (sizeof(AseVertex) + kHostVertexBytes));
    faces.replace(faces.find("0000000"), 7, std::string(7 - vertices.size(), '0') + vertices);
    const struct {
        const char* name;
        std::string text;
        int64_t line;
        std::u16string message;  // how the message begins after the line
    } cases[] = {
        {"material count", Data("hostile/huge_material_count.ase"), 2, u"*MATERIAL_COUNT 2147483647 declares more"},
        {"sub-material count", Data("hostile/huge_submaterial_count.ase"), 4, u"*NUMSUBMTLS 100000000 declares more"},
        {"object lines", objects, firstBeyond(objects, 0, kCountedGeomObjectBytes, 0), u"the file holds 5000 objects"},
        {"light lines", lights, firstBeyond(lights, kCountedGeomObjectBytes, kCountedLightBytes, 3), u"the file holds 1 objects, 0 helpers, 20000 lights"},
        {"face lines", faces, 0, u"*MESH_FACE makes more records"},
    };
    for (const auto& c : cases) {
        for (const uint32_t window : {0u, 64u}) {
            SCOPED_TRACE(std::string(c.name) + " window " + std::to_string(window));
            asetest::ResetAll();
            AseReader& source = asetest::TheReading().reader;
            const std::string path = testing::TempDir() + "ase_budget.ase";
            std::FILE* file = nullptr;
            if (window == 0) {
                ASSERT_EQ(MakeAseSource(source, c.text.data(), c.text.size()), 1);
            } else {
                testfiles::WriteFile(path, c.text);
                file = std::fopen(path.c_str(), "rb");
                ASSERT_NE(file, nullptr);
                ASSERT_EQ(OpenAseSourceWindow(source, file, static_cast<uint32_t>(c.text.size()), window), 1);
            }
            EXPECT_EQ(ParseAseDocument(source), 0);
            if (file != nullptr) std::fclose(file);
            EXPECT_EQ(asetest::Error().kind, JobErrorKind::kLimit);
            if (c.line > 0) {
                EXPECT_EQ(asetest::Error().line, c.line);
            }
            EXPECT_GT(asetest::Error().line, 1);
            const std::u16string text = asetest::ErrorText();
            const std::string line = "line " + std::to_string(asetest::Error().line) + ": ";
            const std::u16string prefix(line.begin(), line.end());
            EXPECT_EQ(text.substr(0, prefix.size() + c.message.size()), prefix + c.message);
        }
    }
    std::filesystem::remove(testing::TempDir() + "ase_budget.ase");
    // With vertices fewer by the host records of the faces, the faces fit.
    const size_t fewer = 1000 * kHostFaceBytes / (sizeof(AseVertex) + kHostVertexBytes) + 1;
    faces.replace(faces.find(vertices), vertices.size(), std::to_string(std::stoul(vertices) - fewer));
    EXPECT_EQ(Parse(faces), 1) << asetest::Error().line;
}

}  // namespace
