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
using asehost::HostScene;
using importtest::TestDocument;

constexpr float kHalfPi = 1.57079632679f;

Quat AboutZ(float angle) {
    const Vec3 axis{0, 0, 1};
    Quat q;
    QuatFromAxisAngle(&q, &axis, angle);
    return q;
}

// Equal rotations: the same quaternion up to sign.
void ExpectSameRotation(const float* actual, const Quat& expected) {
    const Quat a{actual[0], actual[1], actual[2], actual[3]};
    EXPECT_NEAR(std::fabs(QuatDot(&a, &expected)), 1.0f, 1e-5f)
        << a.x << " " << a.y << " " << a.z << " " << a.w;
}

void AddPosKey(AseGeomObject& object, float time, Vec3 value) {
    AsePosKey* key = AppendPosKey(object);
    ASSERT_NE(key, nullptr);
    key->time = time;
    key->value = value;
}

void AddRotKey(AseGeomObject& object, float time, Quat value) {
    AseRotKey* key = AppendRotKey(object);
    ASSERT_NE(key, nullptr);
    key->time = time;
    key->value = value;
}

void AddScaleKey(AseGeomObject& object, float time, Vec3 value) {
    AseScaleKey* key = AppendScaleKey(object);
    ASSERT_NE(key, nullptr);
    key->time = time;
    key->value = value;
}

class SkeletonTest : public ::testing::Test {
protected:
    HostContext* context() { return scene.context(); }
    int Import() { return ImportSkeletonAndAnimation(scene.context(), doc.doc()); }
    const HostTrack& Track(int bone) { return context()->animations[0].tracks[bone]; }

    HostScene scene;
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
    EXPECT_EQ(bones[0].scale[0], 1.0f);
    EXPECT_EQ(bones[0].rotation[3], 1.0f);
    EXPECT_EQ(bones[1].parentIndex, 0);
    EXPECT_EQ(bones[1].translation[2], 3.0f);
    EXPECT_EQ(bones[1].scale[1], 5.0f);
    EXPECT_EQ(bones[1].rotation[2], 0.6f);
    EXPECT_EQ(bones[1].rotation[3], 0.8f);
    EXPECT_STREQ(bones[1].name.narrow, "obj1");
    // No keys, no animation.
    EXPECT_EQ(context()->animationCount, 0);
}

TEST(CompareKeyTimes, IsAStrictOrderWithNansLastAndEqualTimesEquivalent) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(CompareKeyTimes(0.1f, 0.2f), -1);
    EXPECT_EQ(CompareKeyTimes(0.2f, 0.1f), 1);
    EXPECT_EQ(CompareKeyTimes(0.2f, 0.2f), 0);
    EXPECT_EQ(CompareKeyTimes(nan, 1e30f), 1);
    EXPECT_EQ(CompareKeyTimes(-1e30f, nan), -1);
    EXPECT_EQ(CompareKeyTimes(nan, nan), 0);
}

TEST(SortObjectKeys, OrdersByTimeKeepsFileOrderForTiesAndPutsNanLast) {
    TestDocument doc;
    AseGeomObject& object = doc.objects(1)[0];
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // The value's x records the file position of each key.
    const float times[] = {nan, 0.2f, 0.1f, 0.2f, nan, 0.1f, -0.5f, 0.2f};
    constexpr int kKeys = sizeof times / sizeof times[0];
    for (int k = 0; k < kKeys; ++k) {
        AddPosKey(object, times[k], Vec3{static_cast<float>(k), 0, 0});
        AddRotKey(object, times[kKeys - 1 - k], Quat{static_cast<float>(k), 0, 0, 1});
    }
    AddScaleKey(object, 0.5f, Vec3{0, 0, 0});
    AddScaleKey(object, 0.1f, Vec3{1, 0, 0});
    AddScaleKey(object, 0.3f, Vec3{2, 0, 0});

    SortObjectKeys(object);
    const int expectedPos[kKeys] = {6, 2, 5, 1, 3, 7, 0, 4};
    for (int k = 0; k < kKeys; ++k) EXPECT_EQ(object.posKeys[k].value.x, expectedPos[k]) << k;
    // Rotation times in file order: 0.2, -0.5, 0.1, nan, 0.2, 0.1, 0.2, nan.
    const int expectedRot[kKeys] = {1, 2, 5, 0, 4, 6, 3, 7};
    for (int k = 0; k < kKeys; ++k) EXPECT_EQ(object.rotKeys[k].value.x, expectedRot[k]) << k;
    EXPECT_EQ(object.scaleKeys[0].value.x, 1.0f);
    EXPECT_EQ(object.scaleKeys[1].value.x, 2.0f);
    EXPECT_EQ(object.scaleKeys[2].value.x, 0.0f);
}

TEST(SortObjectKeys, ManyTiedKeysKeepTheirFileOrder) {
    TestDocument doc;
    AseGeomObject& object = doc.objects(1)[0];
    constexpr int kKeys = 200;
    for (int k = 0; k < kKeys; ++k) AddPosKey(object, static_cast<float>((k * 7) % 5), Vec3{static_cast<float>(k), 0, 0});

    SortObjectKeys(object);
    for (int k = 1; k < kKeys; ++k) {
        const AsePosKey& before = object.posKeys[k - 1];
        const AsePosKey& after = object.posKeys[k];
        ASSERT_TRUE(before.time < after.time || (before.time == after.time && before.value.x < after.value.x)) << k;
    }
}

TEST_F(SkeletonTest, NanKeyTimeDoesNotHideTheTimeSpanOfTheOtherKeys) {
    AseGeomObject& object = doc.objects(1)[0];
    AddPosKey(object, std::numeric_limits<float>::quiet_NaN(), Vec3{1, 0, 0});
    AddPosKey(object, 0.5f, Vec3{2, 0, 0});

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(context()->animationCount, 1);
    EXPECT_EQ(Track(0).positionKeys[0].time, 0.5f);
    EXPECT_TRUE(std::isnan(Track(0).positionKeys[1].time));
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
    const HostVectorKey* keys = Track(0).positionKeys;
    ASSERT_NE(keys, nullptr);
    for (int k = 0; k < 3; ++k) {
        EXPECT_FLOAT_EQ(keys[k].time, 0.1f + 0.2f * k);
        EXPECT_EQ(keys[k].value[0], 1.0f + 2.0f * k);
    }
}

TEST_F(SkeletonTest, RelativeRotationKeysAccumulateInTimeOrder) {
    AseGeomObject* objects = doc.objects(2);
    // File order differs from time order; accumulation follows time order.
    AddRotKey(objects[0], 0.3f, AboutZ(kHalfPi));
    AddRotKey(objects[0], 0.1f, AboutZ(kHalfPi));
    AddRotKey(objects[0], 0.2f, AboutZ(kHalfPi));
    // The flag applies to every object, also one whose keys were absolute.
    AddRotKey(objects[1], 0.1f, AboutZ(0.5f));
    AddRotKey(objects[1], 0.2f, AboutZ(0.25f));
    doc->anyRotKeysRelative = 1;

    ASSERT_EQ(Import(), 1);
    ASSERT_EQ(Track(0).rotationKeyCount, 3);
    for (int k = 0; k < 3; ++k) ExpectSameRotation(Track(0).rotationKeys[k].value, AboutZ(kHalfPi * (k + 1)));
    ExpectSameRotation(Track(1).rotationKeys[1].value, AboutZ(0.75f));
    // The document keeps the accumulated keys.
    const Quat stored = objects[0].rotKeys[2].value;
    const float storedValue[4] = {stored.x, stored.y, stored.z, stored.w};
    ExpectSameRotation(storedValue, AboutZ(3 * kHalfPi));
}

TEST_F(SkeletonTest, KeysAreExpressedRelativeToTheBonesRestPose) {
    AseGeomObject* objects = doc.objects(2);
    objects[0].localTranslation = Vec3{1, 2, 3};
    AddPosKey(objects[0], 1.0f, Vec3{1, 2, 4});
    objects[0].localScale = Vec3{2, 0, 4};
    AddScaleKey(objects[0], 1.0f, Vec3{4, 5, 2});
    const Quat rest = AboutZ(-kHalfPi);  // turns x towards y
    objects[0].localRotation = rest;
    AddRotKey(objects[0], 1.0f, rest);
    // A rotated rest pose turns position keys back by the rest rotation.
    objects[1].localRotation = rest;
    AddPosKey(objects[1], 1.0f, Vec3{0, 1, 0});

    ASSERT_EQ(Import(), 1);
    Mat4 restMatrix;
    QuatToMatrix(&rest, &restMatrix);
    EXPECT_NEAR(restMatrix.m[4], 1.0f, 1e-6f);  // column-vector R maps x to y

    const HostVectorKey& scale = Track(0).scaleKeys[0];
    EXPECT_EQ(scale.value[0], 2.0f);
    EXPECT_EQ(scale.value[1], 5.0f);
    EXPECT_EQ(scale.value[2], 0.5f);
    const HostRotationKey& rotation = Track(0).rotationKeys[0];
    EXPECT_NEAR(rotation.value[0], 0.0f, 1e-6f);
    EXPECT_NEAR(rotation.value[1], 0.0f, 1e-6f);
    EXPECT_NEAR(rotation.value[2], 0.0f, 1e-6f);
    EXPECT_NEAR(rotation.value[3], 1.0f, 1e-6f);
    // (1, 2, 4) - (1, 2, 3) = (0, 0, 1), unchanged by a turn about z.
    const HostVectorKey& position = Track(0).positionKeys[0];
    EXPECT_NEAR(position.value[0], 0.0f, 1e-6f);
    EXPECT_NEAR(position.value[1], 0.0f, 1e-6f);
    EXPECT_NEAR(position.value[2], 1.0f, 1e-6f);
    const HostVectorKey& turned = Track(1).positionKeys[0];
    EXPECT_NEAR(turned.value[0], 1.0f, 1e-6f);
    EXPECT_NEAR(turned.value[1], 0.0f, 1e-6f);
    EXPECT_NEAR(turned.value[2], 0.0f, 1e-6f);
}

TEST_F(SkeletonTest, KeysOnlyAtTimeZeroGiveBonesButNoAnimation) {
    AseGeomObject* objects = doc.objects(2);
    AddPosKey(objects[0], 0.0f, Vec3{1, 0, 0});
    AddRotKey(objects[1], 0.0f, AboutZ(1.0f));
    AddScaleKey(objects[1], -1.0f, Vec3{2, 2, 2});
    AddScaleKey(objects[1], std::numeric_limits<float>::quiet_NaN(), Vec3{2, 2, 2});

    ASSERT_EQ(Import(), 1);
    EXPECT_EQ(scene.boneCount(), 2);
    EXPECT_EQ(context()->animationCount, 0);
    EXPECT_EQ(scene.callCount(HostOp::AddAnimation), 0);
}

TEST_F(SkeletonTest, ShortestArcPassFlipsKeysOfEveryAnimationInTheHost) {
    AseGeomObject& object = doc.objects(1)[0];
    const Quat q = AboutZ(1.0f);
    const Quat minusQ{-q.x, -q.y, -q.z, -q.w};
    AddRotKey(object, 0.1f, q);
    AddRotKey(object, 0.2f, minusQ);
    AddRotKey(object, 0.3f, q);

    ASSERT_EQ(Import(), 1);
    for (int k = 0; k < 3; ++k) {
        const float* value = Track(0).rotationKeys[k].value;
        EXPECT_NEAR(value[2], q.z, 1e-6f) << k;
        EXPECT_NEAR(value[3], q.w, 1e-6f) << k;
    }

    // An animation from an earlier import is corrected by the next one.
    float* earlier = context()->animations[0].tracks[0].rotationKeys[2].value;
    for (int n = 0; n < 4; ++n) earlier[n] = -earlier[n];
    TestDocument second;
    second.objects(1);
    ASSERT_EQ(ImportSkeletonAndAnimation(context(), second.doc()), 1);
    EXPECT_NEAR(context()->animations[0].tracks[0].rotationKeys[2].value[3], q.w, 1e-6f);
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
            ASSERT_EQ(AllocateFaces(objects[i], 1), 1);
            TestDocument::Face(objects[i], 0, 0, 1, 2, -1);
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
