// Hostile input: fault files, generated extremes, every allocation failing
// in turn and every truncation of the fixtures. Each parse must end with
// the expected result and leave nothing behind.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ase/reader.h"
#include "plugin/plugin.h"
#include "test_support.h"

namespace {

using asetest::Doc;
using asetest::Parse;

std::string Hostile(const char* name) {
    return asetest::ReadFileBytes(std::string(ASE_TEST_DATA_DIR "/ase/hostile/") + name);
}

class HostileInput : public ::testing::Test {
protected:
    void TearDown() override {
        asetest::ResetAll();
        asetest::ExpectNothingLeft();
    }
};

TEST_F(HostileInput, DeclaredCountsBeyondTheFileFailWithoutAllocating) {
    for (const char* name : {"huge_vertex_count.ase", "huge_material_count.ase", "huge_submaterial_count.ase"}) {
        const std::string bytes = Hostile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(Parse(bytes), 0) << name;
        asetest::ResetAll();
    }
    // The bound is on bytes: 32-byte vertices after a count line that 32
    // bytes of the file follow (its own line end and 31 more) may take
    // 8 x 32 + 64 KiB, that is 2056 vertices, and not one more. (The line
    // before the object gives the whole file room for the object's own
    // record without changing the bytes after the count.)
    static_assert(sizeof(AseVertex) == 32 && kDeclaredBytesPerFileByte == 8 && kDeclaredSlackBytes == 65536);
    const std::string head = "*COMMENT " + std::string(390, 'x') + "\n";
    const std::string tail = std::string(30, ' ') + "\n";
    EXPECT_EQ(Parse(head + "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2056\n" + tail), 1);
    EXPECT_EQ(Doc().geomObjects[0].vertexCount, 2056);
    EXPECT_EQ(Parse(head + "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2057\n" + tail), 0);
}

// Peak bytes of the document (without the source copy) while parsing `text`.
size_t DocumentBytesOfParse(const std::string& text, int& result) {
    asetest::ResetAll();
    DocumentPeakBytesForTesting();
    result = Parse(text);
    return DocumentPeakBytesForTesting() - (text.size() + kSourcePadding);
}

// Declared counts cost memory in proportion to the file, however many
// count lines ask and however large their records: materials (about 2.4 KB
// each), sub-materials in every material, vertex counts in every object.
TEST_F(HostileInput, DeclaredCountsKeepTheDocumentWithinAMultipleOfTheFile) {
    std::string subFlood = "*MATERIAL_LIST {\n*MATERIAL_COUNT 200\n";
    for (int m = 0; m < 200; ++m) subFlood += "*MATERIAL " + std::to_string(m) + " {\n*NUMSUBMTLS 25\n}\n";
    subFlood += "}\n" + asetest::Object("");
    std::string meshFlood;
    for (int o = 0; o < 2000; ++o) meshFlood += "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 2000\n}\n}\n";
    const struct {
        const char* name;
        std::string text;
        int32_t objects;
    } cases[] = {{"material flood", Hostile("material_flood.ase"), 1},
                 {"sub-material flood", subFlood, 1},
                 {"vertex count in every object", meshFlood, 2000}};
    for (const auto& c : cases) {
        ASSERT_FALSE(c.text.empty()) << c.name;
        int result = -1;
        const size_t bytes = DocumentBytesOfParse(c.text, result);
        EXPECT_EQ(result, 0) << c.name;
        // Counted objects are real lines; the block stack holds a few names.
        const size_t bound = kDeclaredBytesPerFileByte * c.text.size() + kDeclaredSlackBytes +
                             static_cast<size_t>(c.objects) * sizeof(AseGeomObject) + 16 * 1024;
        EXPECT_LE(bytes, bound) << c.name << ": " << bytes << " document bytes for a file of " << c.text.size();
    }
    // A small file may still declare a handful of large records.
    std::string few = "*MATERIAL_LIST {\n*MATERIAL_COUNT 20\n";
    for (int m = 0; m < 20; ++m) few += "*MATERIAL " + std::to_string(m) + " {\n}\n";
    few += "}\n" + asetest::Object("");
    int result = -1;
    DocumentBytesOfParse(few, result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Doc().materialCount, 20);
}

// Counted object, light and camera lines are charged at their record bytes
// to the budget of declared counts: a flood of short lines fails before its
// records exist, objects long enough for their records pass.
TEST_F(HostileInput, FloodsOfObjectLinesFailBeforeTheirRecordsExist) {
    std::string lights = asetest::Object("");
    std::string cameras = asetest::Object("");
    for (int i = 0; i < 20000; ++i) {
        lights += "*LIGHTOBJECT\n";
        cameras += "*CAMERAOBJECT\n";
    }
    const struct {
        const char* name;
        std::string text;
    } floods[] = {{"object lines", Hostile("object_flood.ase")}, {"light lines", lights}, {"camera lines", cameras}};
    for (const auto& flood : floods) {
        ASSERT_FALSE(flood.text.empty()) << flood.name;
        int result = -1;
        const size_t bytes = DocumentBytesOfParse(flood.text, result);
        EXPECT_EQ(result, 0) << flood.name;
        EXPECT_LE(bytes, 16u * 1024) << flood.name;
        asetest::ResetAll();
    }

    // Objects of 310 bytes may cost 8 x 310 bytes each plus the 64 KiB of
    // slack together: 910 of them, and not one more.
    static_assert(kCountedGeomObjectBytes == 2552 && kDeclaredBytesPerFileByte == 8 && kDeclaredSlackBytes == 65536);
    const std::string object = "*GEOMOBJECT {\n*COMMENT " + std::string(284, 'x') + "\n}\n";
    ASSERT_EQ(object.size(), 310u);
    std::string objects;
    for (int i = 0; i < 910; ++i) objects += object;
    EXPECT_EQ(Parse(objects), 1);
    EXPECT_EQ(Doc().geomObjectCount, 910);
    EXPECT_EQ(Parse(objects + object), 0);
}

TEST_F(HostileInput, NegativeCountsMakeNoArrays) {
    ASSERT_EQ(Parse(Hostile("negative_counts.ase")), 1);
    EXPECT_EQ(Doc().materials, nullptr);
    EXPECT_EQ(Doc().geomObjects[0].vertices, nullptr);
    EXPECT_EQ(Doc().geomObjects[0].faces, nullptr);
}

TEST_F(HostileInput, ExtremeIndicesStayInBoundsAndWrapAsTheCLibraryDoes) {
    ASSERT_EQ(Parse(Hostile("index_extremes.ase")), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    EXPECT_EQ(o.vertices[0].position.x, 0.0f);
    // 4294967297 is read as 1, as "%d" stores it.
    EXPECT_EQ(o.vertices[1].position.x, 5.0f);
    EXPECT_EQ(o.faces[0].a, INT32_MIN);
    EXPECT_EQ(o.faces[0].b, INT32_MIN);
    EXPECT_EQ(o.faces[0].c, 1215752191);
    EXPECT_EQ(o.faces[0].materialId, -1);
    EXPECT_EQ(Parse(Hostile("material_index_int_min.ase")), 0);
    EXPECT_EQ(Parse(Hostile("material_index_2pow31.ase")), 0);
}

TEST_F(HostileInput, NanInfinityAndOverflowingNumbersAreStoredAsRead) {
    ASSERT_EQ(Parse(Hostile("nan_inf_numbers.ase")), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    EXPECT_TRUE(std::isnan(o.worldTm.m[12]));
    EXPECT_EQ(o.worldTm.m[13], -INFINITY);
    EXPECT_EQ(o.worldTm.m[14], INFINITY);
    EXPECT_TRUE(std::isnan(o.vertices[0].position.x));
    EXPECT_EQ(o.vertices[0].position.y, INFINITY);
    EXPECT_EQ(o.vertices[0].position.z, 0.0f);
    EXPECT_TRUE(std::signbit(o.vertices[0].position.z));
    // "NaN(1)": the scanner takes "NaN" and the next number fails at '('.
    EXPECT_EQ(o.vertices[1].position.y, 0.0f);
    EXPECT_EQ(o.rotKeyCount, 1);
}

TEST_F(HostileInput, QuotesBracesNulsAndGarbage) {
    ASSERT_EQ(Parse(Hostile("unterminated_quote.ase")), 1);
    EXPECT_STREQ(Doc().geomObjects[0].nodeName, "open name");
    EXPECT_STREQ(Doc().geomObjects[0].parentName, "");

    ASSERT_EQ(Parse(Hostile("unbalanced_braces.ase")), 1);
    ASSERT_EQ(Doc().geomObjectCount, 2);
    EXPECT_EQ(Doc().geomObjects[0].vertexCount, 1);
    EXPECT_STREQ(Doc().geomObjects[1].nodeName, "never closed");

    ASSERT_EQ(Parse(Hostile("nul_bytes.ase")), 1);
    EXPECT_STREQ(Doc().geomObjects[0].nodeName, "a");
    EXPECT_EQ(Doc().geomObjects[0].vertices[0].position.z, 3.0f);

    EXPECT_GE(Parse(Hostile("binary_garbage.ase")), 0);
    EXPECT_GE(Doc().geomObjectCount, 1);
    EXPECT_EQ(Parse(Hostile("extreme_scene_values.ase")), 1);
    EXPECT_EQ(Doc().frameSpeed, -30.0f);
}

TEST_F(HostileInput, ParentCycleResolvesWithoutACycle) {
    ASSERT_EQ(Parse(Hostile("parent_cycle.ase")), 1);
    const AseDocument& doc = Doc();
    for (int32_t i = 0; i < doc.geomObjectCount; ++i) {
        int32_t steps = 0;
        for (int32_t p = doc.geomObjects[i].parentIndex; p >= 0; p = doc.geomObjects[p].parentIndex) {
            ASSERT_LT(p, doc.geomObjectCount);
            ASSERT_LE(++steps, doc.geomObjectCount) << "object " << i << " is its own ancestor";
        }
    }
}

TEST_F(HostileInput, TenMegabyteLineIsReadWhole) {
    std::string text = "*GEOMOBJECT {\n*NODE_NAME \"" + std::string(10 * 1024 * 1024, 'x') + "\"\n}\n";
    ASSERT_EQ(Parse(text), 1);
    EXPECT_EQ(std::string(Doc().geomObjects[0].nodeName), std::string(255, 'x'));
    EXPECT_GT(Doc().maxLineLength, 10 * 1024 * 1024);
}

TEST_F(HostileInput, HundredThousandNestedBlocks) {
    std::string text = "*GEOMOBJECT {\n*NODE_NAME \"deep\"\n";
    for (int i = 0; i < 100000; ++i) text += "*MESH_NORMALS {\n";
    text += "*MESH {\n";
    for (int i = 0; i < 100000; ++i) text += "*MESH {\n";
    for (int i = 0; i < 200001; ++i) text += "}\n";
    text += "}\n" + asetest::Object("", "after");
    ASSERT_EQ(Parse(text), 1);
    ASSERT_EQ(Doc().geomObjectCount, 2);
    EXPECT_STREQ(Doc().geomObjects[1].nodeName, "after");
    // Nested open blocks at the end of the input are accepted too.
    std::string open = asetest::Object("");
    for (int i = 0; i < 100000; ++i) open += "*MATERIAL_LIST {\n";
    EXPECT_EQ(Parse(open), 1);
}

// A scene that touches every kind of array, kept small for the sweeps.
std::string SweepFixture() {
    return "*SCENE {\n*SCENE_FRAMESPEED 25\n}\n"
           "*MATERIAL_LIST {\n*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_NAME \"m\"\n*NUMSUBMTLS 1\n"
           "*SUBMATERIAL 0 {\n*MAP_DIFFUSE {\n*BITMAP \"a\\b.png\"\n}\n}\n}\n*MATERIAL 1 {\n}\n}\n"
           "*GEOMOBJECT {\n*NODE_NAME \"o\"\n*NODE_TM {\n*TM_ROW3 1 2 3\n}\n*MESH {\n*MESH_NUMVERTEX 3\n"
           "*MESH_NUMFACES 1\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n}\n"
           "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_MTLID 0\n}\n"
           "*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n*MESH_TVERTLIST {\n*MESH_TVERT 0 0.5 0.5 0\n}\n"
           "*MESH_TFACELIST {\n*MESH_TFACE 0 0 0 0\n}\n*MESH_NUMCVERTEX 1\n*MESH_NUMCVFACES 1\n"
           "*MESH_CVERTLIST {\n*MESH_VERTCOL 0 1 0 0\n}\n*MESH_CFACELIST {\n*MESH_CFACE 0 0 0 0\n}\n"
           "*MESH_MAPPINGCHANNEL 2 {\n*MESH_NUMTVERTEX 1\n*MESH_NUMTVFACES 1\n*MESH_TVERTLIST {\n"
           "*MESH_TVERT 0 0 0 0\n}\n}\n}\n"
           "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n*CONTROL_POS_SAMPLE 0 1 2 3\n}\n*CONTROL_ROT_TCB {\n"
           "*CONTROL_TCB_ROT_KEY 0 0 0 1 1 0 0 0 0 0\n}\n*CONTROL_SCALE_TRACK {\n*CONTROL_SCALE_SAMPLE 0 1 1 1\n}\n}\n}\n"
           "*LIGHTOBJECT {\n*NODE_TM {\n*TM_ROW3 1 1 1\n}\n*LIGHT_SETTINGS {\n*LIGHT_INTENS 2\n}\n}\n"
           "*CAMERAOBJECT {\n*CAMERA_SETTINGS {\n*CAMERA_FOV 1\n}\n}\n";
}

TEST_F(HostileInput, EveryAllocationFailingInTurnLeavesNothingBehind) {
    const std::string text = SweepFixture();
    ASSERT_EQ(Parse(text), 1);
    asetest::ResetAll();
    bool sawSuccess = false;
    for (long n = 1; n < 10000 && !sawSuccess; ++n) {
        SetDocumentAllocationFailureForTesting(n);
        const int result = Parse(text);
        const long made = SetDocumentAllocationFailureForTesting(0);
        // Keys are dropped when their storage fails; everything else fails
        // the parse.
        sawSuccess = made < n;
        if (sawSuccess) {
            EXPECT_EQ(result, 1);
        }
        asetest::ResetAll();
        ASSERT_EQ(DocumentLiveBlocksForTesting(), 0) << "allocation " << n;
    }
    EXPECT_TRUE(sawSuccess);
}

// Keys grow their arrays as they come; a growth that fails drops that key
// and keeps every key before it, in file order.
TEST_F(HostileInput, KeyGrowthFailingDropsKeysButKeepsEarlierOnes) {
    std::string keys = "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n";
    for (int i = 0; i < 40; ++i) keys += "*CONTROL_POS_SAMPLE " + std::to_string(i) + " " + std::to_string(i) + " 0 0\n";
    keys += "}\n}\n";
    const std::string text = asetest::Object(keys);
    ASSERT_EQ(Parse(text), 1);
    const long allocations = SetDocumentAllocationFailureForTesting(0);
    asetest::ResetAll();
    for (long n = 1; n <= allocations; ++n) {
        SetDocumentAllocationFailureForTesting(n);
        const int result = Parse(text);
        SetDocumentAllocationFailureForTesting(0);
        if (result == 1) {
            const AseGeomObject& o = Doc().geomObjects[0];
            ASSERT_LT(o.posKeyCount, 40) << n;
            for (int32_t k = 0; k < o.posKeyCount; ++k) ASSERT_EQ(o.posKeys[k].value.x, static_cast<float>(k)) << n;
        }
        asetest::ResetAll();
        ASSERT_EQ(DocumentLiveBlocksForTesting(), 0) << n;
    }
}

TEST_F(HostileInput, EveryTruncationParsesWithoutHarm) {
    std::vector<std::string> fixtures = {SweepFixture(), Hostile("index_extremes.ase"), Hostile("nul_bytes.ase"),
                                         Hostile("nan_inf_numbers.ase")};
    for (const std::string& fixture : fixtures) {
        for (size_t cut = 0; cut <= fixture.size(); ++cut) {
            const int result = Parse(fixture.substr(0, cut));
            ASSERT_TRUE(result == 0 || result == 1) << cut;
            asetest::ResetAll();
            ASSERT_EQ(DocumentLiveBlocksForTesting(), 0) << cut;
        }
    }
}

TEST_F(HostileInput, FileImportFailuresLeaveNothingBehind) {
    HostContext context = {};
    AssignDualStringNarrow(&context.fileName, ASE_TEST_DATA_DIR "/ase/hostile/does-not-exist.ase");
    EXPECT_EQ(HandleImport(&context), 0);
    asetest::ExpectNothingLeft();

    const std::string path = testing::TempDir() + "ase_no_geometry.ase";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("*SCENE {\n*MATERIAL_LIST {\n", file);
    std::fclose(file);
    AssignDualStringNarrow(&context.fileName, path.c_str());
    EXPECT_EQ(HandleImport(&context), 0);
    EXPECT_STREQ(context.errorText.narrow, "No geometry found.");
    asetest::ExpectNothingLeft();
    for (long n = 1; n < 8; ++n) {
        SetDocumentAllocationFailureForTesting(n);
        EXPECT_EQ(HandleImport(&context), 0);
        SetDocumentAllocationFailureForTesting(0);
        asetest::ExpectNothingLeft();
    }
    std::remove(path.c_str());
    EXPECT_EQ(HandleImport(nullptr), 0);
}

}  // namespace
