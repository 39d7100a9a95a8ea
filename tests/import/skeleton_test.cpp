// Bones, key order, relative rotations, the animation and the shortest-arc
// pass, on the reference host.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "host/scene.h"
#include "import/import.h"
#include "import/import_detail.h"
#include "import_test_util.h"

namespace {

using asehost::HostOp;
using importtest::ExpectNear;
using importtest::TestDocument;

constexpr float kHalfPi = 1.57079632679f;
const float kNan = std::numeric_limits<float>::quiet_NaN();

Quat AboutZ(float angle) {
    const Vec3 axis{0, 0, 1};
    Quat q;
    QuatFromAxisAngle(&q, &axis, angle);
    return q;
}

// The same rotation: the same quaternion up to sign.
void ExpectSameRotation(const float* actual, const Quat& expected) {
    const Quat a{actual[0], actual[1], actual[2], actual[3]};
    EXPECT_NEAR(std::fabs(QuatDot(&a, &expected)), 1.0f, 1e-5f);
}

void AddPosKey(AseGeomObject& object, float time, Vec3 value) {
    AsePosKey* key = AppendPosKey(object);
    ASSERT_NE(key, nullptr);
    *key = AsePosKey{time, value};
}

void AddRotKey(AseGeomObject& object, float time, Quat value) {
    AseRotKey* key = AppendRotKey(object);
    ASSERT_NE(key, nullptr);
    *key = AseRotKey{time, value};
}

void AddScaleKey(AseGeomObject& object, float time, Vec3 value) {
    AseScaleKey* key = AppendScaleKey(object);
    ASSERT_NE(key, nullptr);
    *key = AseScaleKey{time, value};
}

class SkeletonTest : public ::testing::Test {
protected:
    HostContext* context() { return scene.context(); }
    int Import() { return ImportSkeletonAndAnimation(scene.context(), doc.doc()); }
    const HostTrack& Track(int bone) { return context()->animations[0].tracks[bone]; }

    asehost::HostScene scene;
    TestDocument doc;
};

TEST_F(SkeletonTest, EveryObjectBecomesABoneWithItsParentAndRestTransform) {
    AseGeomObject* objects = doc.objects(2);
    objects[1].parentIndex = 0;
    objects[1].localTranslation = Vec3{1, 2, 3};
    objects[1].localScale = Vec3{4, 5, 6};
    objects[1].localRotation = Quat{0, 0, 0.6f, 0.8f};

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(scene.boneCount(), 2);
    const HostBone* bones = scene.bones();
    EXPECT_EQ(bones[0].parentIndex, -1);
    ExpectNear(bones[0].rotation, {0, 0, 0, 1});
    EXPECT_EQ(bones[1].parentIndex, 0);
    ExpectNear(bones[1].translation, {1, 2, 3});
    ExpectNear(bones[1].scale, {4, 5, 6});
    ExpectNear(bones[1].rotation, {0, 0, 0.6f, 0.8f});
    EXPECT_STREQ(bones[1].name.narrow, "obj1");
    EXPECT_EQ(context()->animationCount, 0);  // no keys, no animation
}

TEST(SortObjectKeys, OrdersByTimeKeepsFileOrderForTiesAndPutsNanLast) {
    TestDocument doc;
    AseGeomObject& object = doc.objects(1)[0];
    // Many ties, so that an unstable sort would show; x records file order.
    constexpr int kKeys = 200;
    for (int k = 0; k < kKeys; ++k) {
        const float time = k % 11 == 0 ? kNan : static_cast<float>((k * 7) % 5);
        AddPosKey(object, time, Vec3{static_cast<float>(k), 0, 0});
        AddRotKey(object, -time, Quat{static_cast<float>(k), 0, 0, 1});
    }
    EXPECT_EQ(CompareKeyTimes(kNan, 1e30f), 1);
    EXPECT_EQ(CompareKeyTimes(kNan, kNan), 0);
    EXPECT_EQ(CompareKeyTimes(0.2f, 0.2f), 0);

    SortObjectKeys(object);
    for (int k = 1; k < kKeys; ++k) {
        const AsePosKey& a = object.posKeys[k - 1];
        const AsePosKey& b = object.posKeys[k];
        const int order = CompareKeyTimes(a.time, b.time);
        ASSERT_TRUE(order < 0 || (order == 0 && a.value.x < b.value.x)) << k;
        const AseRotKey& ra = object.rotKeys[k - 1];
        const AseRotKey& rb = object.rotKeys[k];
        const int rotOrder = CompareKeyTimes(ra.time, rb.time);
        ASSERT_TRUE(rotOrder < 0 || (rotOrder == 0 && ra.value.x < rb.value.x)) << k;
    }
    EXPECT_TRUE(std::isnan(object.posKeys[kKeys - 1].time));
}

TEST_F(SkeletonTest, KeysReachTheHostInTimeOrderUnderTheFilesName) {
    AseGeomObject& object = doc.objects(1)[0];
    AddPosKey(object, 0.5f, Vec3{5, 0, 0});
    AddPosKey(object, 0.1f, Vec3{1, 0, 0});
    AddPosKey(object, 0.3f, Vec3{3, 0, 0});
    TestDocument::SetWide(doc->sourcePath, u"C:\\takes\\v2.0\\walk.cycle.ase");
    doc->frameCount = 45.0f;
    doc->frameSpeed = 25.0f;

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(context()->animationCount, 1);
    const HostAnimation& animation = context()->animations[0];
    EXPECT_STREQ(animation.name.narrow, "walk.cycle");
    EXPECT_EQ(std::u16string(animation.name.wide), u"walk.cycle");
    EXPECT_EQ(animation.flags, 0);
    EXPECT_EQ(animation.frameCount, 45.0f);
    EXPECT_EQ(animation.frameRate, 25.0f);
    ASSERT_EQ(animation.trackCount, 1);
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(Track(0).positionKeys[k].time, 0.1f + 0.2f * k);
        EXPECT_EQ(Track(0).positionKeys[k].value[0], 1.0f + 2.0f * k);
    }
}

TEST_F(SkeletonTest, NanKeyTimeDoesNotHideTheTimeSpanOfTheOtherKeys) {
    AseGeomObject& object = doc.objects(1)[0];
    AddPosKey(object, kNan, Vec3{1, 0, 0});
    AddPosKey(object, 0.5f, Vec3{2, 0, 0});

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(context()->animationCount, 1);
    EXPECT_EQ(Track(0).positionKeys[0].time, 0.5f);
    EXPECT_TRUE(std::isnan(Track(0).positionKeys[1].time));
}

TEST_F(SkeletonTest, RelativeRotationKeysAccumulateInTimeOrderForEveryObject) {
    AseGeomObject* objects = doc.objects(2);
    AddRotKey(objects[0], 0.3f, AboutZ(kHalfPi));
    AddRotKey(objects[0], 0.1f, AboutZ(kHalfPi));
    AddRotKey(objects[0], 0.2f, AboutZ(kHalfPi));
    AddRotKey(objects[1], 0.2f, AboutZ(0.25f));
    AddRotKey(objects[1], 0.1f, AboutZ(0.5f));
    doc->anyRotKeysRelative = 1;

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(Track(0).rotationKeyCount, 3);
    for (int k = 0; k < 3; ++k) ExpectSameRotation(Track(0).rotationKeys[k].value, AboutZ(kHalfPi * (k + 1)));
    ExpectSameRotation(Track(1).rotationKeys[1].value, AboutZ(0.75f));
}

TEST_F(SkeletonTest, KeysAreExpressedRelativeToTheBonesRestPose) {
    AseGeomObject* objects = doc.objects(2);
    const Quat rest = AboutZ(-kHalfPi);  // column-vector R turns x towards y
    objects[0].localTranslation = Vec3{1, 2, 3};
    objects[0].localScale = Vec3{2, 0, 4};
    objects[0].localRotation = rest;
    AddPosKey(objects[0], 1.0f, Vec3{1, 2, 4});
    AddScaleKey(objects[0], 1.0f, Vec3{4, 5, 2});
    AddRotKey(objects[0], 1.0f, rest);
    objects[1].localRotation = rest;
    AddPosKey(objects[1], 1.0f, Vec3{0, 1, 0});

    ASSERT_EQ(Import(), 1);
    ExpectNear(Track(0).scaleKeys[0].value, {2, 5, 0.5f});
    ExpectNear(Track(0).rotationKeys[0].value, {0, 0, 0, 1});
    // (1, 2, 4) - (1, 2, 3) lies on the axis of the rest turn.
    ExpectNear(Track(0).positionKeys[0].value, {0, 0, 1});
    // R^T turns y back to x.
    ExpectNear(Track(1).positionKeys[0].value, {1, 0, 0});
}

TEST_F(SkeletonTest, KeysOnlyAtTimeZeroOrEarlierGiveBonesButNoAnimation) {
    AseGeomObject* objects = doc.objects(2);
    AddPosKey(objects[0], 0.0f, Vec3{1, 0, 0});
    AddRotKey(objects[1], 0.0f, AboutZ(1.0f));
    AddScaleKey(objects[1], -1.0f, Vec3{2, 2, 2});
    AddScaleKey(objects[1], kNan, Vec3{2, 2, 2});

    ASSERT_EQ(Import(), 1);
    EXPECT_EQ(scene.boneCount(), 2);
    EXPECT_EQ(scene.callCount(HostOp::AddAnimation), 0);
}

TEST_F(SkeletonTest, ShortestArcPassFlipsKeysOfEveryAnimationInTheHost) {
    AseGeomObject& object = doc.objects(1)[0];
    const Quat q = AboutZ(1.0f);
    AddRotKey(object, 0.1f, q);
    AddRotKey(object, 0.2f, Quat{-q.x, -q.y, -q.z, -q.w});
    AddRotKey(object, 0.3f, q);

    ASSERT_EQ(Import(), 1);
    for (int k = 0; k < 3; ++k) ExpectNear(Track(0).rotationKeys[k].value, {q.x, q.y, q.z, q.w});

    // An animation from an earlier import is corrected by the next one.
    float* earlier = Track(0).rotationKeys[2].value;
    for (int n = 0; n < 4; ++n) earlier[n] = -earlier[n];
    TestDocument second;
    second.objects(1);
    ASSERT_EQ(ImportSkeletonAndAnimation(context(), second.doc()), 1);
    ExpectNear(Track(0).rotationKeys[2].value, {q.x, q.y, q.z, q.w});
}

TEST_F(SkeletonTest, RefusedBonesAnimationsTracksOrKeysFailTheImport) {
    struct Refusal {
        HostOp op;
        int nth;
    };
    for (const Refusal& refusal :
         {Refusal{HostOp::AddBone, 2}, Refusal{HostOp::AddAnimation, 1}, Refusal{HostOp::AllocateTracks, 1},
          Refusal{HostOp::AllocatePositionKeys, 2}, Refusal{HostOp::AllocateRotationKeys, 1},
          Refusal{HostOp::AllocateScaleKeys, 1}}) {
        scene.reset();
        TestDocument local;
        AseGeomObject* objects = local.objects(2);
        for (int i = 0; i < 2; ++i) {
            TestDocument::Vertices(objects[i], 3);
            AddPosKey(objects[i], 0.5f, Vec3{1, 1, 1});
        }
        AddRotKey(objects[1], 0.5f, AboutZ(1.0f));
        AddScaleKey(objects[1], 0.5f, Vec3{1, 1, 1});
        scene.failCall(refusal.op, refusal.nth);
        const char* name = asehost::HostOpName(refusal.op);
        EXPECT_EQ(BuildHostScene(context(), local.doc()), 0) << name;
        EXPECT_EQ(scene.callCount(HostOp::FinishGeometry), 1) << name;
        EXPECT_EQ(scene.callCount(HostOp::FinishImport), 0) << name;
    }
    EXPECT_EQ(ImportSkeletonAndAnimation(nullptr, doc.doc()), 0);
}

}  // namespace
