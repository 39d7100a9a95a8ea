// Parent resolution, local transforms and vertex colours of the import
// document.
#include <gtest/gtest.h>

#include "import/import.h"
#include "import_test_util.h"

namespace {

using importtest::TestDocument;

TEST(FindGeomObjectByName, ComparesBytesExactlyAndReturnsTheFirstMatch) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(4);
    TestDocument::SetName(objects[1].nodeName, "Box");
    TestDocument::SetName(objects[2].nodeName, "box");
    TestDocument::SetName(objects[3].nodeName, "Box");

    EXPECT_EQ(FindGeomObjectByName(doc.doc(), "Box"), 1);
    EXPECT_EQ(FindGeomObjectByName(doc.doc(), "box"), 2);
    EXPECT_EQ(FindGeomObjectByName(doc.doc(), "Box "), -1);
    EXPECT_EQ(FindGeomObjectByName(doc.doc(), "Bo"), -1);
    EXPECT_EQ(FindGeomObjectByName(doc.doc(), nullptr), -1);

    TestDocument empty;
    EXPECT_EQ(FindGeomObjectByName(empty.doc(), "Box"), -1);
}

TEST(ResolveParentIndices, ResolvesNamesWithFirstObjectWinningAndEmptyOrUnknownAsRoot) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(5);
    TestDocument::SetName(objects[0].nodeName, "Twin");
    TestDocument::SetName(objects[1].nodeName, "Twin");
    TestDocument::SetName(objects[2].nodeName, "");  // an unnamed object
    TestDocument::SetName(objects[2].parentName, "Twin");
    TestDocument::SetName(objects[3].parentName, "Nobody");
    TestDocument::SetName(objects[4].parentName, "");

    ResolveParentIndices(doc.doc());
    EXPECT_EQ(objects[0].parentIndex, -1);
    EXPECT_EQ(objects[1].parentIndex, -1);
    EXPECT_EQ(objects[2].parentIndex, 0);
    EXPECT_EQ(objects[3].parentIndex, -1);
    // An empty parent name never picks the unnamed object as parent.
    EXPECT_EQ(objects[4].parentIndex, -1);
}

TEST(ResolveParentIndices, CutsSelfReferencesAndCyclesAtTheLinkClosingTheWalk) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(6);
    // obj0 names itself; obj1 -> obj2 -> obj3 -> obj1 is a cycle; obj4 hangs
    // off the cycle; obj5 is a plain child of obj4.
    TestDocument::SetName(objects[0].parentName, "obj0");
    TestDocument::SetName(objects[1].parentName, "obj2");
    TestDocument::SetName(objects[2].parentName, "obj3");
    TestDocument::SetName(objects[3].parentName, "obj1");
    TestDocument::SetName(objects[4].parentName, "obj2");
    TestDocument::SetName(objects[5].parentName, "obj4");

    ResolveParentIndices(doc.doc());
    EXPECT_EQ(objects[0].parentIndex, -1);
    EXPECT_EQ(objects[1].parentIndex, 2);
    EXPECT_EQ(objects[2].parentIndex, 3);
    EXPECT_EQ(objects[3].parentIndex, -1);  // its link back to obj1 closed the walk from obj1
    EXPECT_EQ(objects[4].parentIndex, 2);
    EXPECT_EQ(objects[5].parentIndex, 4);
}

TEST(ResolveParentIndices, HandlesAMillionObjectChainClosedIntoOneCycle) {
    constexpr int kCount = 1000000;
    TestDocument doc;
    AseGeomObject* objects = doc.objects(kCount);
    // Object i names object i + 1; the last one names object 0. A walk that
    // revisited ancestors, or a recursive one, would not get through this.
    for (int i = 0; i < kCount; ++i)
        TestDocument::SetName(objects[i].parentName, "obj" + std::to_string(i + 1 < kCount ? i + 1 : 0));

    ResolveParentIndices(doc.doc());
    int wrong = 0;
    for (int i = 0; i + 1 < kCount; ++i) wrong += objects[i].parentIndex != i + 1;
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(objects[kCount - 1].parentIndex, -1);
}

TEST(ComputeLocalTransforms, UsesTheParentsWorldMatrixWhateverTheObjectOrder) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(3);
    // obj2 is the root, obj1 its child, obj0 the grandchild: children come
    // first in the array.
    const Mat4 rootWorld = importtest::Multiply(importtest::RotationZ(90.0f), importtest::Translation(10, 0, 0));
    const Mat4 childLocal = importtest::Translation(1, 0, 0);
    const Mat4 grandchildLocal = importtest::Multiply(importtest::Scaling(2, 2, 2), importtest::Translation(0, 3, 0));
    objects[2].worldTm = rootWorld;
    objects[1].worldTm = importtest::Multiply(childLocal, rootWorld);
    objects[0].worldTm = importtest::Multiply(grandchildLocal, objects[1].worldTm);
    TestDocument::SetName(objects[1].parentName, "obj2");
    TestDocument::SetName(objects[0].parentName, "obj1");

    ResolveParentIndices(doc.doc());
    ASSERT_EQ(ComputeLocalTransforms(doc.doc()), 1);

    importtest::ExpectMatNear(objects[2].localTm, rootWorld);
    importtest::ExpectMatNear(objects[1].localTm, childLocal);
    importtest::ExpectMatNear(objects[0].localTm, grandchildLocal);

    EXPECT_NEAR(objects[1].localTranslation.x, 1.0f, 1e-5f);
    EXPECT_NEAR(objects[1].localTranslation.y, 0.0f, 1e-5f);
    EXPECT_NEAR(objects[0].localTranslation.y, 3.0f, 1e-5f);
    EXPECT_NEAR(objects[0].localScale.x, 2.0f, 1e-4f);
    EXPECT_NEAR(objects[0].localScale.y, 2.0f, 1e-4f);
    EXPECT_NEAR(objects[0].localScale.z, 2.0f, 1e-4f);

    // The root's rotation, rebuilt as a column-vector matrix, is the
    // transpose of its row-vector world rotation.
    EXPECT_NEAR(objects[2].localTranslation.x, 10.0f, 1e-5f);
    Mat4 rebuilt;
    QuatToMatrix(&objects[2].localRotation, &rebuilt);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(rebuilt.m[4 * r + c], rootWorld.m[4 * c + r], 1e-5f);
}

TEST(ComputeLocalTransforms, SelfParentIsCutSoTheWorldMatrixStaysTheLocalOne) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(1);
    objects[0].worldTm = importtest::Translation(5, 6, 7);
    TestDocument::SetName(objects[0].parentName, "obj0");

    ResolveParentIndices(doc.doc());
    ASSERT_EQ(ComputeLocalTransforms(doc.doc()), 1);
    EXPECT_EQ(objects[0].parentIndex, -1);
    importtest::ExpectMatNear(objects[0].localTm, objects[0].worldTm);
    EXPECT_FLOAT_EQ(objects[0].localTranslation.x, 5.0f);
    EXPECT_FLOAT_EQ(objects[0].localTranslation.y, 6.0f);
    EXPECT_FLOAT_EQ(objects[0].localTranslation.z, 7.0f);
}

TEST(ComputeLocalTransforms, SingularParentLeavesWorldAndMirrorNegatesScale) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(3);
    objects[0].worldTm = importtest::Scaling(0, 1, 1);  // singular
    objects[1].worldTm = importtest::Translation(4, 5, 6);
    objects[1].parentIndex = 0;
    objects[2].worldTm = importtest::Scaling(-2, 2, 2);  // mirrors x

    ASSERT_EQ(ComputeLocalTransforms(doc.doc()), 1);
    importtest::ExpectMatNear(objects[1].localTm, objects[1].worldTm);
    EXPECT_NEAR(objects[2].localScale.x, -2.0f, 1e-4f);
    EXPECT_NEAR(objects[2].localScale.y, -2.0f, 1e-4f);
    EXPECT_NEAR(objects[2].localScale.z, -2.0f, 1e-4f);
}

TEST(ComputeLocalTransforms, ParentIndexOutsideTheArrayCountsAsRoot) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(1);
    objects[0].worldTm = importtest::Translation(1, 2, 3);
    objects[0].parentIndex = 7;
    ASSERT_EQ(ComputeLocalTransforms(doc.doc()), 1);
    importtest::ExpectMatNear(objects[0].localTm, objects[0].worldTm);

    TestDocument empty;
    EXPECT_EQ(ComputeLocalTransforms(empty.doc()), 0);
    EXPECT_EQ(ResolveVertexColors(empty.doc()), 0);
}

TEST(ResolveVertexColors, AveragesCornerColoursAndBlackensUnreferencedVertices) {
    TestDocument doc;
    AseGeomObject* objects = doc.objects(2);
    AseGeomObject& object = objects[0];
    TestDocument::Vertices(object, 4);
    ASSERT_EQ(AllocateFaces(object, 3), 1);
    TestDocument::Face(object, 0, 0, 1, 2, 0);
    TestDocument::Face(object, 1, 0, 2, 1, 0);
    TestDocument::Face(object, 2, 0, 1, 2, 0);
    ASSERT_EQ(AllocateColorVertices(object.colorChannel, 4), 1);
    object.colorChannel.cverts[0] = AseColorVertex{1, 0, 0};
    object.colorChannel.cverts[1] = AseColorVertex{0, 1, 0};
    object.colorChannel.cverts[2] = AseColorVertex{0, 0, 1};
    object.colorChannel.cverts[3] = AseColorVertex{0.5f, 0.25f, 1.0f};
    ASSERT_EQ(AllocateColorFaces(object.colorChannel, 3), 1);
    // Vertex 0 sees red, green and blue; vertex 1 colour 3 through one
    // corner, its other two corners have colour indices out of range;
    // vertex 2 sees colour 3 three times.
    object.colorChannel.cfaces[0] = AseTriIndex{0, 3, 3};
    object.colorChannel.cfaces[1] = AseTriIndex{1, 3, 9};
    object.colorChannel.cfaces[2] = AseTriIndex{2, -1, 3};

    // The second object declares more colour faces than faces.
    AseGeomObject& mismatched = objects[1];
    TestDocument::Vertices(mismatched, 3);
    ASSERT_EQ(AllocateFaces(mismatched, 1), 1);
    TestDocument::Face(mismatched, 0, 0, 1, 2, 0);
    ASSERT_EQ(AllocateColorVertices(mismatched.colorChannel, 1), 1);
    mismatched.colorChannel.cverts[0] = AseColorVertex{0, 0, 0};
    ASSERT_EQ(AllocateColorFaces(mismatched.colorChannel, 2), 1);
    mismatched.colorChannel.cfaces[0] = AseTriIndex{0, 0, 0};

    ASSERT_EQ(ResolveVertexColors(doc.doc()), 1);
    const float* c0 = object.vertices[0].color;
    EXPECT_NEAR(c0[0], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(c0[1], 1.0f / 3, 1e-6f);
    EXPECT_NEAR(c0[2], 1.0f / 3, 1e-6f);
    EXPECT_EQ(c0[3], 1.0f);
    EXPECT_EQ(object.vertices[0].colorSamples, 3);
    EXPECT_FLOAT_EQ(object.vertices[1].color[0], 0.5f);
    EXPECT_FLOAT_EQ(object.vertices[1].color[1], 0.25f);
    EXPECT_FLOAT_EQ(object.vertices[1].color[2], 1.0f);
    EXPECT_EQ(object.vertices[1].colorSamples, 1);
    EXPECT_FLOAT_EQ(object.vertices[2].color[0], 0.5f);
    EXPECT_FLOAT_EQ(object.vertices[2].color[1], 0.25f);
    EXPECT_FLOAT_EQ(object.vertices[2].color[2], 1.0f);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(object.vertices[3].color[c], 0.0f);
    EXPECT_EQ(object.vertices[3].color[3], 1.0f);

    for (int v = 0; v < 3; ++v)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(mismatched.vertices[v].color[c], 1.0f);
}

}  // namespace
