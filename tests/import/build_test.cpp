// The host scene made from hand-built documents, on the reference host.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "host/scene.h"
#include "import/import.h"
#include "import_test_util.h"
#include "platform/platform.h"

namespace {

using asehost::HostOp;
using asehost::HostScene;
using importtest::TestDocument;

std::u16string Wide(const DualString& text) { return text.wide; }
std::string Narrow(const DualString& text) { return text.narrow; }

HostTexture* TextureOf(HostContext* context, int material, int channel) {
    HostMaterial& record = context->materials[material];
    return record.ops->GetTexture(&record, channel);
}

void SetMaterial(AseMaterial& material, const char* name) { TestDocument::SetName(material.name, name); }

// One object of `vertices` vertices and one face (0, 1, 2) with material id 0.
void OneTriangle(AseGeomObject& object, int vertices) {
    TestDocument::Vertices(object, vertices);
    ASSERT_EQ(AllocateFaces(object, 1), 1);
    TestDocument::Face(object, 0, 0, 1, 2, 0);
}

class BuildHostSceneTest : public ::testing::Test {
protected:
    void SetUp() override { scene.setFileName(u"D:\\scenes\\house.ase"); }
    HostContext* context() { return scene.context(); }
    int Build() { return BuildHostScene(scene.context(), doc.doc()); }

    HostScene scene;
    TestDocument doc;
};

TEST_F(BuildHostSceneTest, MaterialsComeFromSubMaterialsAndNeverFromTheirParent) {
    AseMaterial* materials = doc.materials(2);
    SetMaterial(materials[0], "Parent");
    TestDocument::SetWide(materials[0].diffuseMap, u"parent.tga");
    ASSERT_EQ(AllocateSubMaterials(materials[0], 3), 1);
    const char* names[3] = {"Brick", "Stone", "Gl\xE4s"};  // Windows-1252 a-umlaut
    for (int s = 0; s < 3; ++s) TestDocument::SetName(materials[0].subMaterials[s].name, names[s]);
    materials[0].subMaterials[1].twoSided = 1;
    SetMaterial(materials[1], "Solo");
    materials[1].shininess = 64.0f;
    materials[1].opacity = 0.5f;
    materials[1].twoSided = 1;

    ASSERT_EQ(Build(), 1);
    ASSERT_EQ(context()->materialCount, 4);
    EXPECT_EQ(Narrow(context()->materials[0].name), "Brick");
    EXPECT_EQ(Narrow(context()->materials[1].name), "Stone");
    EXPECT_EQ(Wide(context()->materials[2].name), u"Gl\u00E4s");
    EXPECT_EQ(Narrow(context()->materials[3].name), "Solo");
    EXPECT_EQ(context()->materials[0].flags & kMaterialTwoSided, 0u);
    EXPECT_EQ(context()->materials[1].flags & kMaterialTwoSided, kMaterialTwoSided);
    EXPECT_EQ(context()->materials[3].flags & kMaterialTwoSided, kMaterialTwoSided);
    EXPECT_EQ(context()->materials[3].shininess, 64.0f);
    EXPECT_EQ(context()->materials[3].opacity, 0.5f);
    // The parent's map went nowhere.
    EXPECT_EQ(scene.callCount(HostOp::AddTexture), 0);
}

TEST_F(BuildHostSceneTest, MapsBecomeImageTexturesInTheImportedFilesFolderInChannelOrder) {
    AseMaterial* materials = doc.materials(2);
    TestDocument::SetWide(materials[0].diffuseMap, u"wall.tga");
    TestDocument::SetWide(materials[0].bumpMap, u"bump.tga");
    TestDocument::SetWide(materials[0].specularMap, u"shine.tga");
    TestDocument::SetWide(materials[1].bumpMap, u"only.tga");
    // The second texture call (the bump map) is refused: that map is skipped
    // and the import goes on.
    scene.failCall(HostOp::AddTexture, 2);

    ASSERT_EQ(Build(), 1);
    EXPECT_EQ(scene.callCount(HostOp::AddTexture), 4);
    HostTexture* diffuse = TextureOf(context(), 0, kTextureChannelColor);
    ASSERT_NE(diffuse, nullptr);
    EXPECT_EQ(diffuse->kind, kTextureImage);
    EXPECT_EQ(diffuse->flags & kTexturePathSet, kTexturePathSet);
    EXPECT_EQ(Narrow(diffuse->path), "D:\\scenes\\wall.tga");
    EXPECT_EQ(TextureOf(context(), 0, kTextureChannelOpacity), nullptr);
    EXPECT_EQ(TextureOf(context(), 0, kTextureChannelBump), nullptr);
    EXPECT_EQ(Wide(TextureOf(context(), 0, kTextureChannelSpecular)->path), u"D:\\scenes\\shine.tga");
    EXPECT_EQ(Wide(TextureOf(context(), 1, kTextureChannelBump)->path), u"D:\\scenes\\only.tga");
    EXPECT_EQ(TextureOf(context(), 1, kTextureChannelColor), nullptr);
}

TEST_F(BuildHostSceneTest, TextureFolderFollowsTheFilePathAndOverlongPathsSkipTheMap) {
    AseMaterial* materials = doc.materials(1);
    TestDocument::SetWide(materials[0].diffuseMap, u"wall.tga");
    TestDocument::SetWide(materials[0].opacityMap, u"a.tga");
    // A folder of 252 units: with "a.tga" the path fits, with "wall.tga" it
    // would need 261 units.
    const std::u16string longFolder = u"D:\\" + std::u16string(248, u'd') + u"\\";
    struct Case {
        std::u16string file, wall, a;
    };
    for (const Case& c : {Case{u"D:/scenes/house.ase", u"D:/scenes/wall.tga", u"D:/scenes/a.tga"},
                          Case{u"house.ase", u"wall.tga", u"a.tga"},
                          Case{longFolder + u"house.ase", u"", longFolder + u"a.tga"}}) {
        scene.reset();
        scene.setFileName(c.file.c_str());
        ASSERT_EQ(Build(), 1);
        HostTexture* wall = TextureOf(context(), 0, kTextureChannelColor);
        if (c.wall.empty())
            EXPECT_EQ(wall, nullptr);
        else
            EXPECT_EQ(Wide(wall->path), c.wall);
        EXPECT_EQ(Wide(TextureOf(context(), 0, kTextureChannelOpacity)->path), c.a);
    }
}

TEST_F(BuildHostSceneTest, CurrentDirectoryMovesToTheFileFolderOnlyWithMaterials) {
    namespace fs = std::filesystem;
    const fs::path original = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / "ase_import_cwd_test";
    fs::create_directories(folder);
    const std::u16string file = (folder / "house.ase").u16string();
    scene.setFileName(file.c_str());
    OneTriangle(doc.objects(1)[0], 3);

    ASSERT_EQ(Build(), 1);
    EXPECT_EQ(fs::current_path(), original);

    scene.reset();
    doc.materials(1);
    ASSERT_EQ(Build(), 1);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
    fs::current_path(original);
    fs::remove_all(folder);
}

TEST_F(BuildHostSceneTest, VerticesAreBoundToTheirObjectsBoneWithPerObjectBase) {
    AseGeomObject* objects = doc.objects(2);
    OneTriangle(objects[0], 4);
    OneTriangle(objects[1], 3);
    objects[1].vertices[2].position = Vec3{7, 8, 9};
    objects[1].vertices[2].color[0] = 0.25f;

    ASSERT_EQ(Build(), 1);
    ASSERT_EQ(context()->vertexCount, 7);
    for (int g = 0; g < 7; ++g) {
        const HostVertexWeight* weights = scene.vertexWeights(g);
        ASSERT_NE(weights, nullptr) << g;
        EXPECT_EQ(weights[0].boneIndex, g < 4 ? 0 : 1) << g;
        EXPECT_EQ(weights[0].weight, 1.0f) << g;
    }
    importtest::ExpectNear(context()->vertices[6].position, {7, 8, 9});
    importtest::ExpectNear(context()->vertices[6].color, {0.25f, 1, 1, 1});

    ASSERT_EQ(context()->objectCount, 2);
    EXPECT_EQ(Narrow(context()->objects[1].name), "obj1");
    ASSERT_EQ(context()->faceGroupCount, 2);
    const HostFace& face = context()->faceGroups[1].faces[0];
    for (int k = 0; k < 3; ++k) EXPECT_EQ(face.vertexIndices[k], 4 + k);
    EXPECT_EQ(face.objectIndex, 1);
    // No material array in the host: material id 0 passes unchecked.
    EXPECT_EQ(face.materialIndex, 0);
}

TEST_F(BuildHostSceneTest, CornerUvsComeFromChannelZeroAndTheFirstChannelNumberedTwo) {
    AseGeomObject* objects = doc.objects(2);
    AseGeomObject& object = objects[0];
    TestDocument::Vertices(object, 3);
    ASSERT_EQ(AllocateFaces(object, 2), 1);
    TestDocument::Face(object, 0, 0, 1, 2, -1);
    TestDocument::Face(object, 1, 2, 1, 0, -1);
    ASSERT_EQ(AllocateTexVertices(object.texChannel, 2), 1);
    object.texChannel.tverts[0] = AseTexVertex{0.25f, 0.75f};
    object.texChannel.tverts[1] = AseTexVertex{0.5f, 0.0f};
    ASSERT_EQ(AllocateTexFaces(object.texChannel, 1), 1);  // face 1 has none
    object.texChannel.tfaces[0] = AseTriIndex{0, 1, 5};     // corner 2 out of range

    const float channelUs[3] = {0.9f, 0.1f, 0.3f};  // numbered 3, 2, 2
    for (int m = 0; m < 3; ++m) {
        AseMapChannel* channel = AppendMapChannel(object);
        ASSERT_NE(channel, nullptr);
        channel->channel = m == 0 ? 3 : 2;
        ASSERT_EQ(AllocateTexVertices(*channel, 1), 1);
        channel->tverts[0] = AseTexVertex{channelUs[m], 0.4f};
        ASSERT_EQ(AllocateTexFaces(*channel, 2), 1);
        channel->tfaces[0] = AseTriIndex{0, 0, 0};
        channel->tfaces[1] = AseTriIndex{0, 0, 0};
    }
    // The second object has only a channel numbered 3.
    OneTriangle(objects[1], 3);
    AseMapChannel* third = AppendMapChannel(objects[1]);
    ASSERT_NE(third, nullptr);
    third->channel = 3;
    ASSERT_EQ(AllocateTexVertices(*third, 1), 1);
    third->tverts[0] = AseTexVertex{0.9f, 0.9f};
    ASSERT_EQ(AllocateTexFaces(*third, 1), 1);
    third->tfaces[0] = AseTriIndex{0, 0, 0};

    ASSERT_EQ(Build(), 1);
    const HostFace* faces = context()->faceGroups[0].faces;
    EXPECT_EQ(faces[0].materialIndex, -1);
    const HostUv* uv0 = faces[0].uvData->channels[0].cornerUvs;
    EXPECT_EQ(uv0[0].u, 0.25f);
    EXPECT_EQ(uv0[0].v, 0.25f);  // 1 - 0.75
    EXPECT_EQ(uv0[1].u, 0.5f);
    EXPECT_EQ(uv0[1].v, 1.0f);
    // Untouched corners keep what the host put there: compare with face 1,
    // which has no texture face at all.
    const HostUv* untouched = faces[1].uvData->channels[0].cornerUvs;
    EXPECT_EQ(uv0[2].u, untouched[2].u);
    EXPECT_EQ(uv0[2].v, untouched[2].v);

    for (int f = 0; f < 2; ++f) {
        const HostUv* uv1 = faces[f].uvData->channels[1].cornerUvs;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(uv1[k].u, 0.1f) << f << k;
            EXPECT_FLOAT_EQ(uv1[k].v, 0.6f) << f << k;
        }
    }
    const HostUv* other = context()->faceGroups[1].faces[0].uvData->channels[1].cornerUvs;
    EXPECT_NE(other[0].u, 0.9f);
    EXPECT_EQ(other[0].u, untouched[0].u);
}

TEST_F(BuildHostSceneTest, VertexIndexBeyondTheHostListFailsAfterEarlierObjectsWereBuilt) {
    AseGeomObject* objects = doc.objects(2);
    OneTriangle(objects[0], 4);
    OneTriangle(objects[1], 3);
    TestDocument::Face(objects[1], 0, 0, 1, 3, 0);  // 4 + 3 = 7 = host count

    EXPECT_EQ(Build(), 0);
    ASSERT_EQ(context()->faceGroupCount, 2);
    const HostFace& first = context()->faceGroups[0].faces[0];
    EXPECT_EQ(first.vertexIndices[2], 2);
    // The failing face keeps the corners written before the bad one.
    const HostFace& failing = context()->faceGroups[1].faces[0];
    EXPECT_EQ(failing.vertexIndices[0], 4);
    EXPECT_EQ(failing.vertexIndices[1], 5);
    EXPECT_EQ(scene.callCount(HostOp::FinishGeometry), 0);
    EXPECT_EQ(scene.callCount(HostOp::FinishImport), 0);
}

TEST_F(BuildHostSceneTest, NegativeVertexIndexAfterTheBaseFailsAndNeverReachesTheHost) {
    AseGeomObject* objects = doc.objects(2);
    OneTriangle(objects[0], 4);
    OneTriangle(objects[1], 3);
    TestDocument::Face(objects[1], 0, -5, 1, 2, 0);  // 4 - 5 = -1

    EXPECT_EQ(Build(), 0);
    const HostFace& failing = context()->faceGroups[1].faces[0];
    EXPECT_GE(failing.vertexIndices[0], 0);
    EXPECT_EQ(scene.callCount(HostOp::FinishGeometry), 0);
}

TEST_F(BuildHostSceneTest, MaterialIdsAreCheckedAgainstTheHostMaterials) {
    struct Case {
        int materialId;
        int result;
    };
    for (const Case& c : {Case{-1, 1}, Case{1, 1}, Case{2, 0}, Case{-2, 0}, Case{INT32_MIN, 0}}) {
        scene.reset();
        TestDocument local;
        local.materials(2);
        OneTriangle(local.objects(1)[0], 3);
        local->geomObjects[0].faces[0].materialId = c.materialId;
        EXPECT_EQ(BuildHostScene(scene.context(), local.doc()), c.result) << c.materialId;
        if (c.result == 1) {
            EXPECT_EQ(context()->faceGroups[0].faces[0].materialIndex, c.materialId);
        }
    }
}

TEST_F(BuildHostSceneTest, EveryRefusedCreationEndsTheBuildButRefusedWeightsAndTexturesDoNot) {
    auto fill = [](TestDocument& d) {
        AseMaterial* materials = d.materials(1);
        TestDocument::SetWide(materials[0].diffuseMap, u"wall.tga");
        OneTriangle(d.objects(2)[0], 3);
        OneTriangle(d->geomObjects[1], 3);
    };
    struct Refusal {
        HostOp op;
        int nth;
    };
    for (const Refusal& refusal : {Refusal{HostOp::AddMaterial, 1}, Refusal{HostOp::AllocateVertices, 1},
                                   Refusal{HostOp::AddObject, 2}, Refusal{HostOp::AddFaceGroup, 2},
                                   Refusal{HostOp::AllocateFaces, 2}}) {
        const HostOp op = refusal.op;
        scene.reset();
        TestDocument local;
        fill(local);
        scene.failCall(op, refusal.nth);
        EXPECT_EQ(BuildHostScene(scene.context(), local.doc()), 0) << asehost::HostOpName(op);
        EXPECT_EQ(scene.callCount(HostOp::FinishImport), 0) << asehost::HostOpName(op);
    }
    for (HostOp op : {HostOp::AddTexture, HostOp::AllocateVertexWeights}) {
        scene.reset();
        TestDocument local;
        fill(local);
        scene.failCall(op, 1, true);
        EXPECT_EQ(BuildHostScene(scene.context(), local.doc()), 1) << asehost::HostOpName(op);
    }
    EXPECT_EQ(scene.vertexWeights(0), nullptr);
    EXPECT_EQ(BuildHostScene(nullptr, doc.doc()), 0);
}

TEST_F(BuildHostSceneTest, SecondImportIntoTheSameSceneStaysWithinTheHostArrays) {
    AseMaterial* materials = doc.materials(1);
    TestDocument::SetWide(materials[0].diffuseMap, u"wall.tga");
    AseGeomObject* objects = doc.objects(2);
    OneTriangle(objects[0], 3);
    OneTriangle(objects[1], 4);
    TestDocument::Face(objects[1], 0, 1, 2, 3, 0);

    ASSERT_EQ(Build(), 1);
    const int firstVertexCount = context()->vertexCount;
    // The index correspondence no longer holds; whatever the outcome, every
    // written index stays inside the arrays the host holds.
    const int second = Build();
    for (int g = 0; g < context()->faceGroupCount; ++g) {
        const HostFaceGroup& group = context()->faceGroups[g];
        for (int f = 0; f < group.faceCount; ++f) {
            for (int k = 0; k < 3; ++k) {
                EXPECT_GE(group.faces[f].vertexIndices[k], 0);
                EXPECT_LT(group.faces[f].vertexIndices[k], context()->vertexCount);
            }
            EXPECT_LT(group.faces[f].objectIndex, context()->objectCount);
            EXPECT_LT(group.faces[f].materialIndex, context()->materialCount);
        }
    }
    // The reference host resizes the vertex list to the new total and
    // appends everything else, so the second build finds every index valid.
    EXPECT_EQ(second, 1);
    EXPECT_EQ(context()->materialCount, 2);
    EXPECT_EQ(context()->objectCount, 4);
    EXPECT_EQ(context()->vertexCount, firstVertexCount);
}

}  // namespace
