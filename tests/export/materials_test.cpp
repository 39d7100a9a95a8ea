// The material list writer: the standard and multi forms with their maps,
// byte for byte, and material indices the host table does not have.
#include <gtest/gtest.h>

#include "export_scenes.h"
#include "export_test_util.h"

namespace {

using exporttest::Capture;
using exporttest::Golden;
using exporttest::LoadScene;
using exporttest::OptionsGuard;

class MaterialWriterTest : public testing::Test {
protected:
    void SetUp() override {
        LoadScene(scene_, exporttest::kMaterialScene);
        currentContext = scene_.context();
    }

    std::string Material(int objectIndex, int ordinal, int* result = nullptr) {
        return Capture([&](std::FILE* s) { return WriteMaterial(s, objectIndex, ordinal); }, result);
    }

    HostObject& Object(int index) { return scene_.context()->objects[index]; }

    OptionsGuard guard_;
    asehost::HostScene scene_;
};

TEST_F(MaterialWriterTest, StandardFormCarriesValuesFlagsAndEveryImageMap) {
    int result = 0;
    EXPECT_EQ(Material(0, 0, &result), Golden("material_standard.ase"));
    EXPECT_EQ(result, 1);
}

TEST_F(MaterialWriterTest, SeveralMaterialsGiveTheMultiFormWithMultiplyMaps) {
    int result = 0;
    EXPECT_EQ(Material(1, 4, &result), Golden("material_multi.ase"));
    EXPECT_EQ(result, 1);
}

TEST_F(MaterialWriterTest, ObjectWithoutReferencesUsesHostMaterialZero) {
    const std::string text = Material(2, 3);
    EXPECT_EQ(text.rfind("\t*MATERIAL 3 {\n\t\t*MATERIAL_NAME \"Wood\"\n\t\t*MATERIAL_CLASS \"Standard\"\n", 0), 0u);
    EXPECT_EQ(text, Material(0, 3));
}

TEST_F(MaterialWriterTest, MultiOptionWrapsEvenOneOrNoReference) {
    TheExportOptions().useMultiSubObjectMaterials = 1;
    const std::string one = Material(0, 2);
    EXPECT_NE(one.find("\t\t*MATERIAL_NAME \"Material2\"\n\t\t*MATERIAL_CLASS \"Multi/Sub-Object\"\n"), std::string::npos);
    EXPECT_NE(one.find("\t\t*NUMSUBMTLS 1\n\t\t*SUBMATERIAL 0 {\n"), std::string::npos);
    EXPECT_EQ(one.find("*SUBMATERIAL 1 "), std::string::npos);
    // The sub-material separates colours by tabs and puts its maps one deeper.
    EXPECT_NE(one.find("\t\t\t*MATERIAL_AMBIENT 0.100000\t0.200000\t0.300000\n"), std::string::npos);
    EXPECT_NE(one.find("\t\t\t*MAP_DIFFUSE {\n\t\t\t\t*MAP_NAME \"Map #0\"\n"), std::string::npos);

    const std::string none = Material(2, 0);
    EXPECT_NE(none.find("\t\t*NUMSUBMTLS 0\n\t}\n"), std::string::npos);
    EXPECT_EQ(none.find("*SUBMATERIAL"), std::string::npos);
}

TEST_F(MaterialWriterTest, FullTexturePathOptionKeepsTheWholePath) {
    EXPECT_NE(Material(0, 0).find("\t\t\t*BITMAP \"wood.png\"\n"), std::string::npos);
    TheExportOptions().useFullTexturePath = 1;
    const std::string text = Material(0, 0);
    EXPECT_NE(text.find("\t\t\t*BITMAP \"D:\\maps\\wood.png\"\n"), std::string::npos);
    EXPECT_NE(text.find("\t\t\t*BITMAP \"C:\\op.tga\"\n"), std::string::npos);
}

TEST_F(MaterialWriterTest, ReferenceOutsideTheTableWritesTheDefaultMaterial) {
    Object(0).materialRefs[0].materialIndex = 3;  // the table holds 0..2
    EXPECT_EQ(Material(0, 5), Golden("material_default.ase"));
    Object(0).materialRefs[0].materialIndex = -1;
    EXPECT_EQ(Material(0, 5), Golden("material_default.ase"));

    // Without a table even material 0 is missing.
    HostContext* context = scene_.context();
    HostMaterial* table = context->materials;
    context->materials = nullptr;
    EXPECT_EQ(Material(2, 5), Golden("material_default.ase"));
    context->materials = table;
    const int count = context->materialCount;
    context->materialCount = 0;
    EXPECT_EQ(Material(2, 5), Golden("material_default.ase"));
    context->materialCount = count;
}

TEST_F(MaterialWriterTest, BadSubMaterialReferenceIsSubstitutedAndTheOthersStay) {
    const std::string valid = Material(1, 4);
    HostMaterialRef* refs = Object(1).materialRefs;
    const int second = refs[1].materialIndex;
    refs[1].materialIndex = 1000;
    const std::string mended = Material(1, 4);
    refs[1].materialIndex = second;

    // Everything up to sub-material 1 is unchanged; sub-material 1 is the
    // default under its own number, and the block still closes.
    const size_t sub1 = valid.find("\t\t*SUBMATERIAL 1 {\n");
    ASSERT_NE(sub1, std::string::npos);
    EXPECT_EQ(mended.substr(0, sub1), valid.substr(0, sub1));
    EXPECT_EQ(mended.substr(sub1),
              "\t\t*SUBMATERIAL 1 {\n"
              "\t\t\t*MATERIAL_NAME \"Material4_1\"\n"
              "\t\t\t*MATERIAL_CLASS \"Standard\"\n"
              "\t\t\t*MATERIAL_AMBIENT 0.000000\t0.000000\t0.000000\n"
              "\t\t\t*MATERIAL_DIFFUSE 1.000000\t1.000000\t1.000000\n"
              "\t\t\t*MATERIAL_SPECULAR 0.000000\t0.000000\t0.000000\n"
              "\t\t\t*MATERIAL_SHINE 0.000000\n"
              "\t\t\t*MATERIAL_SHINESTRENGTH 0.05000000\n"
              "\t\t\t*MATERIAL_TRANSPARENCY 0.000000\n"
              "\t\t\t*MATERIAL_WIRESIZE 1.00000000\n"
              "\t\t\t*MATERIAL_SHADING Blinn\n"
              "\t\t\t*MATERIAL_XP_FALLOFF 0.00000000\n"
              "\t\t\t*MATERIAL_SELFILLUM 0.00000000\n"
              "\t\t\t*MATERIAL_FALLOFF In\n"
              "\t\t\t*MATERIAL_XP_TYPE Filter\n"
              "\t\t}\n"
              "\t}\n");

    // No reference array at all: every sub-material is the default.
    Object(1).materialRefs = nullptr;
    const std::string bare = Material(1, 0);
    Object(1).materialRefs = refs;
    EXPECT_NE(bare.find("\"Material0_0\""), std::string::npos);
    EXPECT_NE(bare.find("\"Material0_1\""), std::string::npos);
}

TEST_F(MaterialWriterTest, RefusesWhatItCannotWriteBeforeWritingAnything) {
    int result = 1;
    EXPECT_EQ(Material(-1, 0, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Material(4, 0, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(WriteMaterial(nullptr, 0, 0), 0);
    currentContext = nullptr;
    EXPECT_EQ(Material(0, 0, &result), "");
    EXPECT_EQ(result, 0);
}

TEST_F(MaterialWriterTest, FailedWriteEndsTheBlockWithZero) {
    std::FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    std::setvbuf(full, nullptr, _IONBF, 0);  // every piece reaches the device
    EXPECT_EQ(WriteMaterial(full, 0, 0), 0);
    EXPECT_EQ(WriteAseScene(full), 0);
    std::fclose(full);
}

}  // namespace
