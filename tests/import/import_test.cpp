// The import scene builder: parent resolution and post-processing, texture
// paths, the host scene on the reference host, key order and the animation.
// Hierarchies, mirrored and singular matrices, colour averages, materials,
// textures, vertices, faces, UV channels, bones, rest poses, relative
// rotations and animations of well-formed files are covered by the end-to-end
// fixtures; these tests cover what no such file reaches: the host's refusals,
// malformed indices and names, NaN and tied key times, and paths that do not
// fit.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <string>

#include "ase/document.h"
#include "host/store/scene.h"
#include "import/import.h"
#include "import/import_detail.h"
#include "math/vecmath.h"
#include "tests/job_settings.h"

namespace {

namespace fs = std::filesystem;
using asehost::HostOp;

const float kNan = std::numeric_limits<float>::quiet_NaN();

// A node name field filled with `name` and zeros.
void SetName(char* field, const std::string& name) { std::strncpy(field, name.c_str(), kAseNameBytes - 1); }

// Copies `text` (shorter than the field) into a zero-filled wide field.
void SetWide(char16_t* field, const std::u16string& text) { std::copy(text.begin(), text.end(), field); }

// The allocator of the tests' documents and the watch on it.
AllocationWatch& Watch() {
    static AllocationWatch watch;
    return watch;
}
JobAllocator& Alloc() {
    static JobAllocator allocator{Watch().Hook()};
    return allocator;
}

// BuildHostScene with an error record of its own.
int Build(HostContext* context, AseDocument& doc) {
    JobError error;
    return BuildHostScene(context, doc, error);
}

// A document of its own, emptied on destruction.
struct TestDocument {
    AseDocument doc{};
    TestDocument() {
        doc.allocator = &Alloc();
        ResetDocument(doc);
    }
    ~TestDocument() { ResetDocument(doc); }
    // `count` objects named "obj0", "obj1", ...
    AseGeomObject* objects(int count) {
        EXPECT_EQ(AllocateGeomObjects(doc, count), 1);
        for (int i = 0; i < count; ++i) SetName(doc.geomObjects[i].nodeName, "obj" + std::to_string(i));
        return doc.geomObjects;
    }
};

// `vertices` vertices and one face (0, 1, 2) with material id 0.
void OneTriangle(AseGeomObject& object, int vertices) {
    ASSERT_EQ(AllocateVertices(Alloc(), object, vertices), 1);
    ASSERT_EQ(AllocateFaces(Alloc(), object, 1), 1);
    object.faces[0] = AseFace{0, 1, 2, 0, 0};
}

// Each float of `actual` near the corresponding expected value.
void ExpectNear(const float* actual, std::initializer_list<float> expected, float tolerance = 1e-4f) {
    int i = 0;
    for (float value : expected) EXPECT_NEAR(actual[i++], value, tolerance) << "component " << i - 1;
}

// Appends a key {time, value} through `append` (AppendPosKey, AppendRotKey, AppendScaleKey).
template <typename Key, typename Value>
void AddKey(Key* (*append)(JobAllocator&, AseGeomObject&), AseGeomObject& object, float time, Value value) {
    Key* key = append(Alloc(), object);
    ASSERT_NE(key, nullptr);
    *key = Key{time, value};
}

TEST(ResolveParentIndices, FirstNameWinsUnknownAndEmptyAreRootsAndCyclesAreCutWhereTheWalkCloses) {
    struct Row { const char *name, *parent; int expected; };
    // An empty parent name never picks the unnamed object 2. In the cycle
    // A -> B -> C -> A the walk from A closes at C, which loses its link.
    const Row rows[] = {{"Twin", "", -1},     {"Twin", "", -1},   {"", "Twin", 0}, {"Orphan", "Nobody", -1},
                        {"Self", "Self", -1}, {"A", "B", 6},      {"B", "C", 7},   {"C", "A", -1},
                        {"Hang", "B", 6},     {"Leaf", "Hang", 8}};
    const int count = static_cast<int>(std::size(rows));
    TestDocument doc;
    AseGeomObject* objects = doc.objects(count);
    for (int i = 0; i < count; ++i) {
        SetName(objects[i].nodeName, rows[i].name);
        SetName(objects[i].parentName, rows[i].parent);
    }
    ResolveParentIndices(doc.doc);
    for (int i = 0; i < count; ++i) EXPECT_EQ(objects[i].parentIndex, rows[i].expected) << rows[i].name;
}

TEST(ResolveParentIndices, HandlesAMillionObjectChainClosedIntoOneCycle) {
    constexpr int kCount = 1000000;
    TestDocument doc;
    AseGeomObject* objects = doc.objects(kCount);
    // Object i names object i + 1, the last one names object 0. A walk that
    // revisited ancestors, or a recursive one, would not get through this.
    for (int i = 0; i < kCount; ++i) SetName(objects[i].parentName, "obj" + std::to_string((i + 1) % kCount));

    ResolveParentIndices(doc.doc);
    int wrong = 0;
    for (int i = 0; i + 1 < kCount; ++i) wrong += objects[i].parentIndex != i + 1;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(objects[kCount - 1].parentIndex, -1);
}

TEST(PostProcessing, IndicesOutOfRangeAreSkippedAndMismatchedColourCountsLeaveTheObjectWhite) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(2);
    objects[0].worldTm = Mat4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1}};
    objects[0].parentIndex = 99;
    OneTriangle(objects[0], 2);  // corner 2 names vertex 2 of 2
    AseColorChannel& colors = objects[0].colorChannel;
    ASSERT_EQ(AllocateColorVertices(Alloc(), colors, 2), 1);
    colors.cverts[0] = {1, 0, 0};
    colors.cverts[1] = {0, 0, 1};
    ASSERT_EQ(AllocateColorFaces(Alloc(), colors, 1), 1);
    colors.cfaces[0] = {0, 9, 1};  // colour 9 of 2
    // The second object declares more colour faces than faces.
    OneTriangle(objects[1], 3);
    ASSERT_EQ(AllocateColorVertices(Alloc(), objects[1].colorChannel, 1), 1);
    ASSERT_EQ(AllocateColorFaces(Alloc(), objects[1].colorChannel, 2), 1);
    objects[1].colorChannel.cfaces[0] = {0, 0, 0};

    ASSERT_EQ(ComputeLocalTransforms(doc.doc), 1);
    ExpectNear(objects[0].localTm.m + 12, {4, 5, 6, 1}, 0);
    ASSERT_EQ(ResolveVertexColors(doc.doc), 1);
    ExpectNear(objects[0].vertices[0].color, {1, 0, 0, 1}, 0);
    ExpectNear(objects[0].vertices[1].color, {0, 0, 0, 1}, 0);
    for (int v = 0; v < 3; ++v) ExpectNear(objects[1].vertices[v].color, {1, 1, 1, 1}, 0);

    TestDocument empty;
    EXPECT_EQ(ComputeLocalTransforms(empty.doc), 0);
    EXPECT_EQ(ResolveVertexColors(empty.doc), 0);
}

TEST(TexturePaths, FolderEndsInOneSeparatorAndJoinedPathsThatDoNotFitAreRefusedNotCut) {
    struct Case { const char16_t *path, *folder; };
    for (const Case& c : {Case{u"D:\\scenes\\house.ase", u"D:\\scenes\\"}, Case{u"D:/scenes/house.ase", u"D:/scenes/"},
                          Case{u"house.ase", u""}, Case{u"D:house.ase", u"D:\\"}}) {
        char16_t out[kImportPathUnits] = {u'#'};
        ASSERT_EQ(GetPathDirectory(c.path, out), 1);
        EXPECT_EQ(std::u16string(out), c.folder);
    }
    EXPECT_EQ(GetPathDirectory(nullptr, nullptr), 0);

    // 251 + 8 units fill the buffer up to its terminator; one unit more does not fit.
    char16_t full[kImportPathUnits];
    const std::u16string folder = u"C:\\" + std::u16string(247, u'f') + u"\\";
    ASSERT_EQ(ResolveTexturePath(folder.c_str(), u"wall.tga", full), 1);
    EXPECT_EQ(std::u16string(full), folder + u"wall.tga");
    EXPECT_EQ(ResolveTexturePath(folder.c_str(), u"wall1.tga", full), 0);
    EXPECT_EQ(full[0], 0);
    EXPECT_EQ(ResolveTexturePath(std::u16string(300, u'f').c_str(), u"a", full), 0);
}

TEST(BuildHostScene, MaterialsMoveIntoTheFilesFolderAndRefusedOrOverlongMapsAreSkipped) {
    const fs::path original = fs::current_path();
    const fs::path folder = fs::temp_directory_path() / "ase_import_build_test";
    fs::create_directories(folder);
    asehost::HostScene scene;
    scene.setFileName((folder / "house.ase").u16string().c_str());
    TestDocument doc;
    OneTriangle(doc.objects(1)[0], 3);
    ASSERT_EQ(Build(scene.context(), doc.doc), 1);
    EXPECT_EQ(fs::current_path(), original);  // no materials, no change of folder

    ASSERT_EQ(AllocateMaterials(doc.doc, 1), 1);
    AseMaterial& material = doc.doc.materials[0];
    SetWide(material.diffuseMap, u"wall.tga");
    SetWide(material.opacityMap, std::u16string(kAsePathUnits - 1, u'n'));  // too long with the folder
    SetWide(material.bumpMap, u"bump.tga");
    SetWide(material.specularMap, u"shine.tga");
    scene.failCall(HostOp::AddTexture, 2);  // the bump map
    // The second build goes into the same, no longer empty, scene.
    ASSERT_EQ(Build(scene.context(), doc.doc), 1);
    EXPECT_TRUE(fs::equivalent(fs::current_path(), folder));
    fs::current_path(original);
    fs::remove_all(folder);

    EXPECT_EQ(scene.callCount(HostOp::AddTexture), 3);
    HostTexture* const* textures = scene.context()->materials[0].textures;
    ASSERT_NE(textures[kTextureChannelColor], nullptr);
    EXPECT_EQ(std::u16string(textures[kTextureChannelColor]->path.wide), (folder / "wall.tga").u16string());
    EXPECT_EQ(textures[kTextureChannelOpacity], nullptr);
    EXPECT_EQ(textures[kTextureChannelBump], nullptr);
    ASSERT_NE(textures[kTextureChannelSpecular], nullptr);
}

TEST(BuildHostScene, TextureIndicesOutOfRangeOrMissingLeaveTheHostsCornerUvs) {
    TestDocument doc;
    AseGeomObject& object = doc.objects(1)[0];
    ASSERT_EQ(AllocateVertices(Alloc(), object, 3), 1);
    ASSERT_EQ(AllocateFaces(Alloc(), object, 2), 1);
    object.faces[0] = object.faces[1] = AseFace{0, 1, 2, -1, 0};
    for (AseMapChannel* channel : {&object.texChannel, AppendMapChannel(Alloc(), object)}) {
        channel->channel = 2;
        ASSERT_EQ(AllocateTexVertices(Alloc(), *channel, 1), 1);
        channel->tverts[0] = {0.25f, 0.75f};
        ASSERT_EQ(AllocateTexFaces(Alloc(), *channel, 1), 1);  // none for face 1
        channel->tfaces[0] = {0, -1, 5};
    }

    asehost::HostScene scene;
    ASSERT_EQ(Build(scene.context(), doc.doc), 1);
    const HostFace* faces = scene.context()->faceGroups[0].faces;
    for (int c = 0; c < kUvChannels; ++c) {
        const HostUv* written = faces[0].uvData->channels[c].cornerUvs;
        const HostUv* untouched = faces[1].uvData->channels[c].cornerUvs;
        EXPECT_EQ(written[0].u, 0.25f) << c;
        EXPECT_EQ(written[0].v, 0.25f) << c;
        for (int k = 1; k < 3; ++k) {
            EXPECT_EQ(written[k].u, untouched[k].u) << c << k;
            EXPECT_EQ(written[k].v, untouched[k].v) << c << k;
        }
    }
}

TEST(BuildHostScene, FaceIndicesOutsideTheHostArraysFailTheBuildAfterEarlierObjects) {
    // Object 1's corner c, after the base of 4, against 7 host vertices and 2 host materials.
    struct Case { int c, materialId, result; };
    for (const Case& c : {Case{2, -1, 1}, Case{2, 1, 1}, Case{3, 0, 0}, Case{-5, 0, 0}, Case{2, 2, 0}, Case{2, -2, 0},
                          Case{2, INT_MIN, 0}}) {
        SCOPED_TRACE(testing::Message() << c.c << " " << c.materialId);
        asehost::HostScene scene;
        TestDocument doc;
        ASSERT_EQ(AllocateMaterials(doc.doc, 2), 1);
        AseGeomObject* objects = doc.objects(2);
        OneTriangle(objects[0], 4);
        OneTriangle(objects[1], 3);
        objects[1].faces[0] = AseFace{0, 1, c.c, c.materialId, 0};
        EXPECT_EQ(Build(scene.context(), doc.doc), c.result);
        EXPECT_EQ(scene.callCount(HostOp::FinishGeometry), c.result);
        const HostFaceGroup* groups = scene.context()->faceGroups;
        EXPECT_EQ(groups[0].faces[0].vertexIndices[2], 2);
        EXPECT_GE(groups[1].faces[0].vertexIndices[2], 0);
        EXPECT_LT(groups[1].faces[0].vertexIndices[2], 7);
        if (c.result == 1) {
            EXPECT_EQ(groups[1].faces[0].materialIndex, c.materialId);
        }
    }
}

TEST(BuildHostScene, EveryRefusedCreationFailsTheBuildButRefusedWeightsAndTexturesDoNot) {
    // stage 0: fails before the geometry is finished, 1: after it, 2: the build succeeds.
    struct Refusal { HostOp op; int nth, stage; };
    const Refusal refusals[] = {
        {HostOp::AddMaterial, 1, 0},          {HostOp::AllocateVertices, 1, 0},  {HostOp::AddObject, 2, 0},
        {HostOp::AddFaceGroup, 2, 0},         {HostOp::AllocateFaces, 2, 0},     {HostOp::AddBone, 2, 1},
        {HostOp::AddAnimation, 1, 1},         {HostOp::AllocateTracks, 1, 1},    {HostOp::AllocatePositionKeys, 2, 1},
        {HostOp::AllocateRotationKeys, 1, 1}, {HostOp::AllocateScaleKeys, 1, 1}, {HostOp::AddTexture, 1, 2},
        {HostOp::AllocateVertexWeights, 1, 2}};
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(asehost::HostOpName(refusal.op));
        asehost::HostScene scene;
        TestDocument doc;
        ASSERT_EQ(AllocateMaterials(doc.doc, 1), 1);
        SetWide(doc.doc.materials[0].diffuseMap, u"wall.tga");
        AseGeomObject* objects = doc.objects(2);
        for (int i = 0; i < 2; ++i) {
            OneTriangle(objects[i], 3);
            AddKey(AppendPosKey, objects[i], 0.5f, Vec3{1, 1, 1});
        }
        AddKey(AppendRotKey, objects[1], 0.5f, Quat{0, 0, 0, 1});
        AddKey(AppendScaleKey, objects[1], 0.5f, Vec3{1, 1, 1});
        scene.failCall(refusal.op, refusal.nth, true);
        EXPECT_EQ(Build(scene.context(), doc.doc), refusal.stage == 2 ? 1 : 0);
        EXPECT_EQ(scene.callCount(HostOp::FinishGeometry), refusal.stage >= 1 ? 1 : 0);
        EXPECT_EQ(scene.callCount(HostOp::FinishImport), refusal.stage == 2 ? 1 : 0);
        if (refusal.op == HostOp::AllocateVertexWeights) {
            EXPECT_EQ(scene.vertexWeights(0), nullptr);
        }
    }
    TestDocument doc;
    EXPECT_EQ(Build(nullptr, doc.doc), 0);
    JobError error;
    EXPECT_EQ(ImportSkeletonAndAnimation(nullptr, doc.doc, error), 0);
}

// Ascending times, ties in file order (value.x), NaN times last.
template <typename Key>
void ExpectSorted(const Key* keys, int count) {
    for (int k = 1; k < count; ++k) {
        const int order = CompareKeyTimes(keys[k - 1].time, keys[k].time);
        ASSERT_TRUE(order < 0 || (order == 0 && keys[k - 1].value.x < keys[k].value.x)) << k;
    }
    EXPECT_TRUE(std::isnan(keys[count - 1].time));
}

TEST(SortObjectKeys, OrdersByTimeKeepsFileOrderForTiesAndPutsNanLast) {
    TestDocument doc;
    AseGeomObject& object = doc.objects(1)[0];
    // Many ties, so that an unstable sort would show; x records file order.
    constexpr int kKeys = 200;
    for (int k = 0; k < kKeys; ++k) {
        const float time = k % 11 == 0 ? kNan : static_cast<float>((k * 7) % 5);
        const float x = static_cast<float>(k);
        AddKey(AppendPosKey, object, time, Vec3{x, 0, 0});
        AddKey(AppendRotKey, object, -time, Quat{x, 0, 0, 1});
        AddKey(AppendScaleKey, object, time * 3 - 4, Vec3{x, 1, 1});
    }
    // Without memory for its scratch the sort says so and leaves the keys.
    Watch().FailAt(1, true);
    EXPECT_FALSE(SortObjectKeys(*doc.doc.allocator, object));
    Watch().FailAt(0);
    EXPECT_EQ(object.posKeys[1].value.x, 1.0f);
    ASSERT_TRUE(SortObjectKeys(*doc.doc.allocator, object));
    ExpectSorted(object.posKeys, kKeys);
    ExpectSorted(object.rotKeys, kKeys);
    ExpectSorted(object.scaleKeys, kKeys);
}

TEST(ImportSkeletonAndAnimation, OnlyKeysAfterTimeZeroMakeAnAnimationWhereverNanTimesStand) {
    for (float last : {0.0f, 0.5f}) {
        SCOPED_TRACE(last);
        asehost::HostScene scene;
        TestDocument doc;
        AseGeomObject& object = doc.objects(2)[1];
        object.localScale = Vec3{2, 0, 4};
        for (float time : {kNan, -1.0f, last}) AddKey(AppendScaleKey, object, time, Vec3{4, 5, 2});
        JobError error;
        ASSERT_EQ(ImportSkeletonAndAnimation(scene.context(), doc.doc, error), 1);
        EXPECT_EQ(scene.boneCount(), 2);
        ASSERT_EQ(scene.context()->animationCount, last > 0 ? 1 : 0);
        // A zero rest scale component leaves that component of the key as it is.
        if (last > 0) ExpectNear(scene.context()->animations[0].tracks[1].scaleKeys[0].value, {2, 5, 0.5f});
    }
}

TEST(ImportSkeletonAndAnimation, ShortestArcPassFlipsKeysOfEveryAnimationInTheHost) {
    asehost::HostScene scene;
    TestDocument doc, second;
    AseGeomObject& object = doc.objects(1)[0];
    for (float sign : {1.0f, -1.0f, 1.0f}) AddKey(AppendRotKey, object, 0.5f, Quat{0, 0, sign * 0.6f, sign * 0.8f});
    JobError error;
    ASSERT_EQ(ImportSkeletonAndAnimation(scene.context(), doc.doc, error), 1);
    auto* keys = scene.context()->animations[0].tracks[0].rotationKeys;
    for (int k = 0; k < 3; ++k) ExpectNear(keys[k].value, {0, 0, 0.6f, 0.8f});

    // An animation from an earlier import is corrected by the next one,
    // which brings an animation of its own.
    for (float& component : keys[2].value) component = -component;
    AddKey(AppendPosKey, second.objects(1)[0], 0.5f, Vec3{1, 0, 0});
    ASSERT_EQ(ImportSkeletonAndAnimation(scene.context(), second.doc, error), 1);
    ASSERT_EQ(scene.context()->animationCount, 2);
    ExpectNear(scene.context()->animations[0].tracks[0].rotationKeys[2].value, {0, 0, 0.6f, 0.8f});
}

}  // namespace
