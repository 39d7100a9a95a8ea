// Skeleton and animation import: one bone per node (each geometry object,
// then each helper), keys in time order, relative rotations made absolute,
// one animation whose keys are relative to the bones' rest pose, and the
// shortest-arc pass.
#include <algorithm>
#include <cmath>

#include "import/import.h"
#include "base/strings.h"
#include "import/import_detail.h"
#include "platform/platform.h"

int CompareKeyTimes(float a, float b) {
    const bool aNan = std::isnan(a);
    const bool bNan = std::isnan(b);
    if (aNan || bNan) return aNan == bNan ? 0 : (aNan ? 1 : -1);
    if (a > b) return 1;
    if (a < b) return -1;
    return 0;
}

float MaxFloat(float a, float b) { return a > b ? a : b; }

namespace {

// Sorts keys by time with a bottom-up merge sort whose scratch comes from
// the job, so that no allocation of the import escapes its allocator. A
// strict weak order (CompareKeyTimes < 0) and a stable merge: equal times
// keep their file order, and no comparison can lead outside the array.
// False when the scratch cannot be had (the keys are then as they were).
template <typename Key>
bool SortKeys(JobAllocator& allocator, Key* keys, int count) {
    if (keys == nullptr || count <= 1) return true;
    const auto earlier = [](const Key& a, const Key& b) { return CompareKeyTimes(a.time, b.time) < 0; };
    // Exporters write keys in time order; checking first keeps that common
    // case to one pass without scratch.
    if (std::is_sorted(keys, keys + count, earlier)) return true;
    Key* scratch = allocator.AllocateArray<Key>(static_cast<size_t>(count));
    if (scratch == nullptr) return false;
    Key* from = keys;
    Key* to = scratch;
    const int64_t n = count;
    for (int64_t width = 1; width < n; width *= 2) {
        for (int64_t low = 0; low < n; low += 2 * width) {
            const int64_t middle = std::min(low + width, n);
            const int64_t high = std::min(low + 2 * width, n);
            // std::merge takes from the first run on ties: stable.
            std::merge(from + low, from + middle, from + middle, from + high, to + low, earlier);
        }
        std::swap(from, to);
    }
    if (from != keys) std::copy(from, from + n, keys);
    allocator.Free(scratch);
    return true;
}

// Latest key time over the array, NaN times left out.
template <typename Key>
float LatestTime(const Key* keys, int count, float latest) {
    for (int k = 0; k < count; ++k) {
        if (!std::isnan(keys[k].time)) latest = MaxFloat(latest, keys[k].time);
    }
    return latest;
}

bool HasObjects(const AseDocument& doc) { return doc.geomObjects != nullptr && doc.geomObjectCount > 0; }

int BuildBones(HostContext* context, const AseDocument& doc) {
    if (!HasObjects(doc)) return 1;
    DualString name{};
    for (int i = 0; i < NodeCount(doc); ++i) {
        const AseGeomObject& object = NodeAt(doc, i);
        AssignFixedName(&name, object.nodeName, kAseNameBytes);
        HostBone* bone = context->ops->AddBone(context, &name, -1);
        if (bone == nullptr) return 0;
        bone->parentIndex = object.parentIndex;
        bone->translation[0] = object.localTranslation.x;
        bone->translation[1] = object.localTranslation.y;
        bone->translation[2] = object.localTranslation.z;
        bone->scale[0] = object.localScale.x;
        bone->scale[1] = object.localScale.y;
        bone->scale[2] = object.localScale.z;
        bone->rotation[0] = object.localRotation.x;
        bone->rotation[1] = object.localRotation.y;
        bone->rotation[2] = object.localRotation.z;
        bone->rotation[3] = object.localRotation.w;
    }
    return 1;
}

// Key n of every node becomes key n x key n-1 x ... x key 0.
void AccumulateRelativeRotations(AseDocument& doc) {
    for (int i = 0; i < NodeCount(doc); ++i) {
        AseGeomObject& object = NodeAt(doc, i);
        if (object.rotKeys == nullptr) continue;
        Quat running = QuatIdentity();
        for (int k = 0; k < object.rotKeyCount; ++k) {
            QuatMultiply(&object.rotKeys[k].value, &running, &running);
            object.rotKeys[k].value = running;
        }
    }
}

// The animation's name: the imported file's name without folder and
// extension, through the ANSI code page.
void AnimationName(const AseDocument& doc, DualString* name) {
    char16_t path[kAsePathUnits + 1] = {};
    for (int i = 0; i < kAsePathUnits && doc.sourcePath[i] != 0; ++i) path[i] = doc.sourcePath[i];
    char16_t fileName[platform::kMaxFileName] = {};
    platform::SplitPath(path, nullptr, nullptr, fileName, nullptr);
    char narrow[platform::kMaxFileName] = {};
    if (platform::WideToAnsi(fileName, narrow, platform::kMaxFileName) == 0) narrow[0] = '\0';
    AssignDualStringNarrow(name, narrow);
}

// Keys of node i into bone i's track, relative to the bone's rest pose.
int FillTrack(HostAnimation* animation, int i, const AseGeomObject& object) {
    const HostAnimationOps* ops = animation->ops;
    const Vec3 restTranslation = object.localTranslation;
    const Quat restRotation = object.localRotation;
    const Vec3 restScale = object.localScale;

    if (object.posKeyCount > 0 && object.posKeys != nullptr) {
        HostTrack* track = ops->AllocatePositionKeys(animation, i, object.posKeyCount);
        if (track == nullptr || track->positionKeys == nullptr) return 0;
        Mat4 rotation;
        QuatToMatrix(&restRotation, &rotation);
        for (int k = 0; k < object.posKeyCount; ++k) {
            const AsePosKey& key = object.posKeys[k];
            const Vec3 offset{key.value.x - restTranslation.x, key.value.y - restTranslation.y,
                              key.value.z - restTranslation.z};
            Vec3 local;
            Mat4InverseTransformPoint(&local, &offset, &rotation);
            track->positionKeys[k].time = key.time;
            track->positionKeys[k].value[0] = local.x;
            track->positionKeys[k].value[1] = local.y;
            track->positionKeys[k].value[2] = local.z;
        }
    }

    if (object.rotKeyCount > 0 && object.rotKeys != nullptr) {
        HostTrack* track = ops->AllocateRotationKeys(animation, i, object.rotKeyCount);
        if (track == nullptr || track->rotationKeys == nullptr || track->rotationKeyCount < object.rotKeyCount)
            return 0;
        Quat inverseRest;
        QuatInverse(&restRotation, &inverseRest);
        for (int k = 0; k < object.rotKeyCount; ++k) {
            const AseRotKey& key = object.rotKeys[k];
            Quat local;
            QuatMultiply(&inverseRest, &key.value, &local);
            track->rotationKeys[k].time = key.time;
            track->rotationKeys[k].value[0] = local.x;
            track->rotationKeys[k].value[1] = local.y;
            track->rotationKeys[k].value[2] = local.z;
            track->rotationKeys[k].value[3] = local.w;
        }
    }

    if (object.scaleKeyCount > 0 && object.scaleKeys != nullptr) {
        HostTrack* track = ops->AllocateScaleKeys(animation, i, object.scaleKeyCount);
        if (track == nullptr || track->scaleKeys == nullptr) return 0;
        const float rest[3] = {restScale.x, restScale.y, restScale.z};
        for (int k = 0; k < object.scaleKeyCount; ++k) {
            const AseScaleKey& key = object.scaleKeys[k];
            const float value[3] = {key.value.x, key.value.y, key.value.z};
            track->scaleKeys[k].time = key.time;
            // A zero rest scale leaves its component as the key states it.
            for (int c = 0; c < 3; ++c) track->scaleKeys[k].value[c] = rest[c] != 0.0f ? value[c] / rest[c] : value[c];
        }
    }
    return 1;
}

int BuildAnimation(HostContext* context, const AseDocument& doc) {
    DualString name{};
    AnimationName(doc, &name);
    HostAnimation* animation = context->ops->AddAnimation(context, &name);
    if (animation == nullptr) return 0;
    animation->flags = 0;
    animation->frameCount = doc.frameCount;
    animation->frameRate = doc.frameSpeed;

    const HostAnimationOps* ops = animation->ops;
    if (ops == nullptr || ops->AllocateTracks == nullptr || ops->AllocatePositionKeys == nullptr ||
        ops->AllocateRotationKeys == nullptr || ops->AllocateScaleKeys == nullptr)
        return 0;
    const int nodes = NodeCount(doc);
    if (ops->AllocateTracks(animation, nodes) == 0) return 0;
    if (animation->tracks == nullptr || animation->trackCount < nodes) return 0;

    for (int i = 0; i < nodes; ++i) {
        if (!FillTrack(animation, i, NodeAt(doc, i))) return 0;
    }
    return 1;
}

// Every rotation track of every animation in the host takes the shorter way
// between neighbouring keys; each test uses the already corrected key.
void ShortestArcPass(HostContext* context) {
    if (context->animations == nullptr) return;
    for (int a = 0; a < context->animationCount; ++a) {
        const HostAnimation& animation = context->animations[a];
        if (animation.tracks == nullptr) continue;
        for (int t = 0; t < animation.trackCount; ++t) {
            HostTrack& track = animation.tracks[t];
            if (track.rotationKeys == nullptr) continue;
            for (int k = 1; k < track.rotationKeyCount; ++k) {
                float* previous = track.rotationKeys[k - 1].value;
                float* current = track.rotationKeys[k].value;
                const Quat p{previous[0], previous[1], previous[2], previous[3]};
                const Quat c{current[0], current[1], current[2], current[3]};
                if (QuatDot(&p, &c) < 0.0f) {
                    for (int n = 0; n < 4; ++n) current[n] = -current[n];
                }
            }
        }
    }
}

}  // namespace

bool SortObjectKeys(JobAllocator& allocator, AseGeomObject& object) {
    return SortKeys(allocator, object.posKeys, object.posKeyCount) &&
           SortKeys(allocator, object.rotKeys, object.rotKeyCount) &&
           SortKeys(allocator, object.scaleKeys, object.scaleKeyCount);
}

int ImportSkeletonAndAnimation(HostContext* context, AseDocument& doc, JobError& error) {
    if (context == nullptr || context->ops == nullptr || context->ops->AddBone == nullptr ||
        context->ops->AddAnimation == nullptr || doc.allocator == nullptr)
        return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host lacks an operation the import needs");
    if (!BuildBones(context, doc)) return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host refused a bone");

    float maxTime = 0.0f;
    bool anyKeys = false;
    if (HasObjects(doc)) {
        for (int i = 0; i < NodeCount(doc); ++i) {
            AseGeomObject& object = NodeAt(doc, i);
            if (!SortObjectKeys(*doc.allocator, object)) {
                return error.Fail(JobErrorKind::kMemory, 0, nullptr, u"Out of memory.");
            }
        }
        for (int i = 0; i < NodeCount(doc); ++i) {
            const AseGeomObject& object = NodeAt(doc, i);
            if (object.posKeyCount > 0 && object.posKeys != nullptr) {
                anyKeys = true;
                maxTime = LatestTime(object.posKeys, object.posKeyCount, maxTime);
            }
            if (object.rotKeyCount > 0 && object.rotKeys != nullptr) {
                anyKeys = true;
                maxTime = LatestTime(object.rotKeys, object.rotKeyCount, maxTime);
            }
            if (object.scaleKeyCount > 0 && object.scaleKeys != nullptr) {
                anyKeys = true;
                maxTime = LatestTime(object.scaleKeys, object.scaleKeyCount, maxTime);
            }
        }
        if (doc.anyRotKeysRelative != 0) AccumulateRelativeRotations(doc);
        if (maxTime > 0.0f && anyKeys) {
            if (!BuildAnimation(context, doc)) {
                return error.Fail(JobErrorKind::kHost, 0, nullptr, u"the host refused the animation or one of its tracks");
            }
        }
    }

    ShortestArcPass(context);
    return 1;
}
