// The host scene store's records, failure knobs, operation log and JSON form.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "host/scene.h"
#include "host/text.h"

namespace {

using asehost::HostOp;
using asehost::HostScene;

DualString Name(const char16_t* text) {
    DualString name{};
    asehost::SetDualString(name, text);
    return name;
}

// A scene with every kind of record, built through the operations.
void BuildRichScene(HostScene& scene) {
    HostContext* c = scene.context();
    DualString name = Name(u"brick \"\u00e9\"\t\\");
    HostMaterial* material = c->ops->AddMaterial(c, &name);
    material->flags |= kMaterialTwoSided;
    material->shininess = 0.1f;
    HostTexture* image = material->ops->AddTexture(material, kTextureChannelBump, kTextureImage);
    asehost::SetDualString(image->path, u"C:\\maps\\wall.tga");
    image->flags |= kTexturePathSet;
    HostTexture* layered = material->ops->AddTexture(material, kTextureChannelColor, kTextureMultiply);
    HostLayeredTexture* both = LayeredTextureOf(layered);
    both->layerFlags = kLayer0Present | kLayer1Present;
    std::u16string first = u"a.tga", second = u"b.tga";
    std::copy(first.begin(), first.end() + 1, both->layers[0].path);
    std::copy(second.begin(), second.end() + 1, both->layers[1].path);

    ASSERT_EQ(c->ops->AllocateVertices(c, 3), 1);
    for (int v = 0; v < 3; ++v) {
        c->vertices[v].position[0] = float(v) / 3.0f;
        HostVertex* weighted = c->ops->AllocateVertexWeights(c, v, 1);
        weighted->weights[0] = HostVertexWeight{0, 1.0f};
    }
    c->vertices[2].color[3] = std::nanf("");
    DualString objectName = Name(u"box");
    c->ops->AddObject(c, &objectName, -1);
    HostFaceGroup* group = c->ops->AddFaceGroup(c);
    ASSERT_EQ(group->ops->AllocateFaces(group, 1), 1);
    HostFace& face = group->faces[0];
    face.objectIndex = 0;
    face.materialIndex = 0;
    for (int k = 0; k < 3; ++k) {
        face.vertexIndices[k] = k;
        face.uvData->channels[0].cornerUvs[k].u = 0.1f * float(k);
        face.uvData->channels[1].cornerUvs[k].v = 1e-40f;
    }
    c->ops->FinishGeometry(c, 1);
    HostBone* bone = c->ops->AddBone(c, &objectName, -1);
    bone->translation[1] = -std::numeric_limits<float>::infinity();
    DualString animationName = Name(u"walk");
    HostAnimation* animation = c->ops->AddAnimation(c, &animationName);
    animation->frameRate = 30.0f;
    ASSERT_EQ(animation->ops->AllocateTracks(animation, 1), 1);
    HostTrack* track = animation->ops->AllocateRotationKeys(animation, 0, 2);
    track->rotationKeys[1].time = 0.5f;
    animation->ops->AllocatePositionKeys(animation, 0, 1)->positionKeys[0].value[2] = 3.0f;
    c->ops->FinishImport(c, 1);
}

TEST(HostSceneJson, RoundTripKeepsEveryRecordExactly) {
    HostScene scene;
    BuildRichScene(scene);
    const std::string first = scene.saveJson();
    HostScene again;
    std::string error;
    ASSERT_TRUE(again.loadJson(first, error)) << error;
    EXPECT_EQ(again.saveJson(), first);

    const HostContext* c = again.context();
    ASSERT_EQ(c->materialCount, 1);
    EXPECT_EQ(std::u16string(c->materials[0].name.wide), u"brick \"\u00e9\"\t\\");
    EXPECT_STREQ(c->materials[0].name.narrow, "brick \"\xe9\"\t\\");
    EXPECT_EQ(c->materials[0].shininess, 0.1f);
    HostMaterial* material = &again.context()->materials[0];
    HostTexture* color = material->ops->GetTexture(material, kTextureChannelColor);
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(color->kind, kTextureMultiply);
    EXPECT_EQ(std::u16string(LayeredTextureOf(color)->layers[1].path), u"b.tga");
    EXPECT_EQ(material->ops->GetTexture(material, kTextureChannelOpacity), nullptr);
    EXPECT_EQ(c->vertices[1].position[0], 1.0f / 3.0f);
    EXPECT_TRUE(std::isnan(c->vertices[2].color[3]));
    EXPECT_EQ(c->faceGroups[0].faces[0].uvData->channels[1].cornerUvs[0].v, 1e-40f);
    EXPECT_EQ(again.boneCount(), 1);
    EXPECT_EQ(again.bones()[0].translation[1], -std::numeric_limits<float>::infinity());
    EXPECT_EQ(c->animations[0].tracks[0].rotationKeyCount, 2);
    EXPECT_EQ(c->animations[0].tracks[0].positionKeys[0].value[2], 3.0f);
}

TEST(HostSceneJson, EmptySceneRoundTrips) {
    HostScene scene;
    HostScene again;
    std::string error;
    EXPECT_TRUE(again.loadJson(scene.saveJson(), error)) << error << "\n" << scene.saveJson();
    EXPECT_EQ(again.context()->materials, nullptr);
}

TEST(HostSceneJson, LoadsPolygonsWithoutStoreAndFillsBothUvViews) {
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{},{},{},{}],"faceGroups":[{"faces":[
        {"vertexIndices":[0,1,2,3],"uvChannels":[{"cornerUvs":[[0,0],[1,0],[1,0],[0,0]]},{}]}]}]})",
                               error))
        << error;
    const HostContext* c = scene.context();
    const HostFace& face = c->faceGroups[0].faces[0];
    EXPECT_EQ(face.cornerCount, 4);
    EXPECT_EQ(c->uvStore->channels[0].count, 2);
    EXPECT_EQ(face.uvData->channels[0].uvIndices[0], face.uvData->channels[0].uvIndices[3]);
    EXPECT_EQ(face.uvData->channels[0].uvIndices[1], face.uvData->channels[0].uvIndices[2]);
    EXPECT_EQ(face.materialIndex, -1);
}

TEST(HostSceneJson, StoreGivenFillsCornerValuesFromIt) {
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{},{},{}],"uvStore":[[[0.5,0.25],[1,1]],[[2,2]]],"faceGroups":[{"faces":[
        {"vertexIndices":[0,1,2],"uvChannels":[{"uvIndices":[1,0,1]},{"uvIndices":[0,0,0]}]}]}]})",
                               error))
        << error;
    const HostFace& face = scene.context()->faceGroups[0].faces[0];
    EXPECT_EQ(face.uvData->channels[0].cornerUvs[1].u, 0.5f);
    EXPECT_EQ(face.uvData->channels[0].cornerUvs[2].v, 1.0f);
    EXPECT_EQ(face.uvData->channels[1].cornerUvs[0].u, 2.0f);
}

TEST(HostSceneJson, RejectsBadInputWithAMessageAndLeavesTheSceneEmpty) {
    struct Case {
        const char* json;
        const char* message;
    };
    const Case cases[] = {
        {R"({"vertices":[{}],"faceGroups":[{"faces":[{"vertexIndices":[0,1,0]}]}]})", "faceGroups[0].faces[0].vertexIndices[1]"},
        {R"({"vertices":[{}],"faceGroups":[{"faces":[{"vertexIndices":[0],"materialIndex":0}]}]})", "materialIndex"},
        {R"({"vertices":[{}],"faceGroups":[{"faces":[{"vertexIndices":[0],"objectIndex":-2}]}]})", "objectIndex"},
        {R"({"vertices":[{"weights":[[0,1]]}]})", "weights[0][0]"},
        {R"({"bones":[{"parentIndex":0}]})", "own parent"},
        {R"({"bones":[{"parentIndex":4294967296}]})", "out of range"},
        {R"({"vertices":[{},{},{}],"uvStore":[[[0,0]],[]],"faceGroups":[{"faces":[{"vertexIndices":[0,1,2],
            "uvChannels":[{"uvIndices":[0,0,1]},{"uvIndices":[0,0,0]}]}]}]})", "uvIndices[2]"},
        {R"({"vertices":[{},{},{}],"faceGroups":[{"faces":[{"vertexIndices":[0,1,2],"uvChannels":[{"uvIndices":[0,0,0]},{}]}]}]})", "uvStore"},
        {R"({"vertices":[{},{},{}],"faceGroups":[{"faces":[{"vertexIndices":[0,1,2],"uvChannels":[{"cornerUvs":[[0,0]]},{}]}]}]})", "one UV per corner"},
        {R"({"objects":[{"name":"o","faceCount":1}]})", "faceCount"},
        {R"({"materials":[{}],"objects":[{"materialRefs":[[0,1]]}]})", "materialRefs"},
        {R"({"materials":[{"textures":[{"channel":4,"kind":1}]}]})", "channel"},
        {R"({"materials":[{"textures":[{"channel":0,"kind":2}]}]})", "kind"},
        {R"({"materials":[{"textures":[{"channel":0,"kind":1},{"channel":0,"kind":1}]}]})", "already"},
        {R"({"materials":[{"name":7}]})", "expected a text"},
        {R"({"vertices":[{"position":[1,2]}]})", "expected 3 numbers"},
        {R"({"vertex":[]})", "unknown key"},
        {R"({"animations":[{"tracks":[{"rotationKeys":[[0,0,0,1]]}]}]})", "expected 5 numbers"},
        {R"({"vertices":[{},)", "not valid JSON"},
        {R"([1,2])", "expected an object"},
    };
    for (const Case& test : cases) {
        HostScene scene;
        std::string error;
        EXPECT_FALSE(scene.loadJson(test.json, error)) << test.json;
        EXPECT_NE(error.find(test.message), std::string::npos) << "message \"" << error << "\" for " << test.json;
        EXPECT_EQ(scene.context()->vertexCount, 0);
        EXPECT_EQ(scene.context()->faceGroups, nullptr);
        EXPECT_EQ(scene.boneCount(), 0);
    }
}

TEST(HostSceneStore, FailureKnobsFailTheChosenCallsOnly) {
    HostScene scene;
    HostContext* c = scene.context();
    DualString name = Name(u"m");
    ASSERT_NE(c->ops->AddMaterial(c, &name), nullptr);
    scene.failCall(HostOp::AddMaterial, 2);
    EXPECT_NE(c->ops->AddMaterial(c, &name), nullptr);
    EXPECT_EQ(c->ops->AddMaterial(c, &name), nullptr);
    EXPECT_NE(c->ops->AddMaterial(c, &name), nullptr);
    EXPECT_EQ(c->materialCount, 3);
    EXPECT_EQ(scene.callCount(HostOp::AddMaterial), 4);

    scene.failCall(HostOp::AllocateVertices, 1, true);
    EXPECT_EQ(c->ops->AllocateVertices(c, 4), 0);
    EXPECT_EQ(c->ops->AllocateVertices(c, 4), 0);
    EXPECT_EQ(c->vertices, nullptr);
    scene.clearFailures();
    EXPECT_EQ(c->ops->AllocateVertices(c, 4), 1);

    HostFaceGroup* group = c->ops->AddFaceGroup(c);
    scene.failCall(HostOp::AllocateFaces, 1);
    EXPECT_EQ(group->ops->AllocateFaces(group, 2), 0);
    EXPECT_EQ(group->faceCount, 0);
    scene.failCall(HostOp::AddBone, 1);
    EXPECT_EQ(c->ops->AddBone(c, &name, -1), nullptr);
    EXPECT_EQ(scene.boneCount(), 0);
    HostAnimation* animation = c->ops->AddAnimation(c, &name);
    scene.failCall(HostOp::AllocateTracks, 1);
    EXPECT_EQ(animation->ops->AllocateTracks(animation, 2), 0);
    ASSERT_EQ(animation->ops->AllocateTracks(animation, 2), 1);
    scene.failCall(HostOp::AllocateScaleKeys, 1);
    EXPECT_EQ(animation->ops->AllocateScaleKeys(animation, 0, 3), nullptr);
    EXPECT_EQ(animation->tracks[0].scaleKeyCount, 0);
}

TEST(HostSceneStore, LogsOperationsInCallOrder) {
    HostScene scene;
    HostContext* c = scene.context();
    c->ops->AllocateVertices(c, 2);
    c->ops->TriangulateScene(c);
    c->ops->PostTriangulateStep1(c);
    c->ops->PostTriangulateStep2(c);
    for (int v = 0; v < c->vertexCount; ++v) c->vertices[v].ops->PrepareVertex(&c->vertices[v]);
    c->ops->PreDialogStep(c, 1);
    EXPECT_EQ(c->ops->GetMainWindow(c), nullptr);
    const std::vector<std::string> expected = {"AllocateVertices", "TriangulateScene", "PostTriangulateStep1", "PostTriangulateStep2",
                                               "PrepareVertex",    "PrepareVertex",    "PreDialogStep",        "GetMainWindow"};
    EXPECT_EQ(scene.operationNames(), expected);
    scene.reset();
    EXPECT_TRUE(scene.operationLog().empty());
    EXPECT_EQ(c->vertexCount, 0);
}

TEST(HostSceneStore, RecordsOutOfRangeOrOfTheWrongKindGiveNull) {
    HostScene scene;
    HostContext* c = scene.context();
    DualString name = Name(u"m");
    HostMaterial* material = c->ops->AddMaterial(c, &name);
    EXPECT_EQ(material->ops->AddTexture(material, 4, kTextureImage), nullptr);
    EXPECT_EQ(material->ops->AddTexture(material, 0, 2), nullptr);
    EXPECT_EQ(material->ops->GetTexture(material, -1), nullptr);
    HostTexture* texture = material->ops->AddTexture(material, 1, kTextureImage);
    // Later materials move the material records, never the textures.
    for (int m = 0; m < 100; ++m) c->ops->AddMaterial(c, &name);
    material = &c->materials[0];
    EXPECT_EQ(material->ops->GetTexture(material, 1), texture);
    EXPECT_EQ(LayeredTextureOf(texture)->layers, nullptr);

    EXPECT_EQ(c->ops->AllocateVertexWeights(c, 0, 1), nullptr);
    c->ops->AllocateVertices(c, 1);
    EXPECT_EQ(c->ops->AllocateVertexWeights(c, 1, 1), nullptr);
    EXPECT_EQ(c->ops->AllocateVertexWeights(c, 0, -1), nullptr);
    HostAnimation* animation = c->ops->AddAnimation(c, &name);
    animation->ops->AllocateTracks(animation, 2);
    EXPECT_EQ(animation->ops->AllocatePositionKeys(animation, 2, 1), nullptr);
    EXPECT_EQ(animation->ops->AllocateRotationKeys(animation, -1, 1), nullptr);
    HostTrack* track = animation->ops->AllocateRotationKeys(animation, 1, 2);
    ASSERT_EQ(track, &animation->tracks[1]);
    EXPECT_EQ(track->rotationKeys[1].value[3], 1.0f);
}

TEST(HostSceneStore, AllocatedFacesHaveThreeCornersAndRoomForThreeInEveryArray) {
    HostScene scene;
    HostContext* c = scene.context();
    HostFaceGroup* group = c->ops->AddFaceGroup(c);
    ASSERT_EQ(group->ops->AllocateFaces(group, 2), 1);
    for (int f = 0; f < 2; ++f) {
        const HostFace& face = group->faces[f];
        EXPECT_EQ(face.cornerCount, 3);
        EXPECT_EQ(face.materialIndex, -1);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(face.vertexIndices[k], 0);
            EXPECT_EQ(face.exportCorners[k], 0);
            for (int ch = 0; ch < kUvChannels; ++ch) {
                EXPECT_EQ(face.uvData->channels[ch].uvIndices[k], 0);
                EXPECT_EQ(face.uvData->channels[ch].cornerUvs[k].tag, 0);
                EXPECT_EQ(face.uvData->channels[ch].cornerUvs[k].link, -1);
            }
        }
    }
    // The arrays of one face never overlap those of the next.
    group->faces[0].exportCorners[2] = 7;
    group->faces[0].uvData->channels[1].uvIndices[2] = 9;
    EXPECT_EQ(group->faces[1].vertexIndices[0], 0);
    EXPECT_EQ(group->faces[1].uvData->channels[0].uvIndices[0], 0);
    EXPECT_EQ(group->faces[0].uvData->channels[1].uvIndices[2], 9);
}

// Objects and bones are built in place and their arrays grow by moving
// whole blocks: every record keeps what it was given, also when the name
// handed in lies in the array that the call makes grow.
TEST(HostSceneStore, ObjectsAndBonesKeepTheirContentWhileTheirArraysGrow) {
    HostScene scene;
    HostContext* c = scene.context();
    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i) {
        if (i % 2 == 1) {
            // Object i - 1's name again, read from inside the objects.
            ASSERT_NE(c->ops->AddObject(c, &c->objects[i - 1].name, -1), nullptr);
            ASSERT_NE(c->ops->AddBone(c, &scene.bone(i - 1)->name, -1), nullptr);
        } else {
            const std::string text = "object " + std::to_string(i);
            DualString name = Name(std::u16string(text.begin(), text.end()).c_str());
            ASSERT_NE(c->ops->AddObject(c, &name, -1), nullptr);
            HostBone* bone = c->ops->AddBone(c, &name, -1);
            ASSERT_NE(bone, nullptr);
            bone->parentIndex = i - 1;
            bone->translation[2] = float(i);
        }
    }
    ASSERT_EQ(c->objectCount, kCount);
    ASSERT_EQ(scene.boneCount(), kCount);
    for (int i = 0; i < kCount; ++i) {
        const std::string expected = "object " + std::to_string(i - i % 2);
        ASSERT_STREQ(c->objects[i].name.narrow, expected.c_str()) << i;
        ASSERT_EQ(asehost::WideOf(c->objects[i].name), std::u16string(expected.begin(), expected.end())) << i;
        EXPECT_EQ(c->objects[i].faceCount, 0);
        EXPECT_EQ(c->objects[i].materialRefs, nullptr);
        const HostBone& bone = scene.bones()[i];
        ASSERT_STREQ(bone.name.narrow, expected.c_str()) << i;
        EXPECT_EQ(bone.parentIndex, i % 2 ? -1 : i - 1);
        EXPECT_EQ(bone.translation[2], i % 2 ? 0.0f : float(i));
        EXPECT_EQ(bone.scale[1], 1.0f);
        EXPECT_EQ(bone.rotation[3], 1.0f);
    }
    scene.reset();
    EXPECT_EQ(c->objects, nullptr);
    EXPECT_EQ(scene.bones(), nullptr);
}

// Weight arrays share blocks: small ones side by side, a large one in a
// block of its own. No array overlaps another, and a vertex given new
// weights keeps only the new ones.
TEST(HostSceneStore, WeightArraysOfEveryVertexStayApart) {
    HostScene scene;
    HostContext* c = scene.context();
    constexpr int kVertices = 6000;
    ASSERT_EQ(c->ops->AllocateVertices(c, kVertices), 1);
    auto countOf = [](int v) { return v == 17 ? 5000 : 1 + v % 4; };
    for (int pass = 0; pass < 2; ++pass) {
        // The second pass gives every third vertex its weights anew.
        for (int v = pass; v < kVertices; v += pass ? 3 : 1) {
            HostVertex* vertex = c->ops->AllocateVertexWeights(c, v, countOf(v));
            ASSERT_NE(vertex, nullptr);
            ASSERT_EQ(vertex, &c->vertices[v]);
            for (int k = 0; k < countOf(v); ++k) {
                EXPECT_EQ(vertex->weights[k].boneIndex, -1);
                vertex->weights[k] = HostVertexWeight{v * 8 + k % 8, float(pass)};
            }
        }
    }
    for (int v = 0; v < kVertices; ++v) {
        const HostVertexWeight* weights = scene.vertexWeights(v);
        ASSERT_EQ(weights, c->vertices[v].weights);
        ASSERT_EQ(c->vertices[v].weightCount, countOf(v));
        const float pass = v % 3 == 1 ? 1.0f : 0.0f;
        for (int k = 0; k < countOf(v); ++k) {
            ASSERT_EQ(weights[k].boneIndex, v * 8 + k % 8) << v << " " << k;
            ASSERT_EQ(weights[k].weight, pass) << v;
        }
    }
    ASSERT_NE(c->ops->AllocateVertexWeights(c, 5, 0), nullptr);
    EXPECT_EQ(scene.vertexWeights(5), nullptr);
}

// All arrays of a group's faces come out of one block: with any corner
// counts, every face has max(3, corners) slots in each per-corner array,
// suitably aligned, and no slot is shared.
TEST(HostSceneStore, FacesOfAnyCornerCountHaveSeparateAlignedArrays) {
    const int corners[] = {0, 1, 2, 3, 4, 7, 3, 5};
    std::string faces;
    for (int count : corners) {
        faces += faces.empty() ? "{\"vertexIndices\":[" : ",{\"vertexIndices\":[";
        for (int k = 0; k < count; ++k) faces += k ? ",0" : "0";
        faces += "]}";
    }
    HostScene scene;
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{}],"faceGroups":[{"faces":[)" + faces + "]}]}", error)) << error;
    const HostFaceGroup& group = scene.context()->faceGroups[0];
    ASSERT_EQ(group.faceCount, 8);
    auto aligned = [](const void* p, size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; };
    // Every int slot and every HostUv slot gets a value of its own...
    int next = 1;
    for (int f = 0; f < group.faceCount; ++f) {
        HostFace& face = group.faces[f];
        ASSERT_EQ(face.cornerCount, corners[f]);
        ASSERT_TRUE(aligned(face.uvData, alignof(HostFaceUv)));
        const int slots = std::max(3, face.cornerCount);
        for (int k = 0; k < slots; ++k) {
            face.vertexIndices[k] = next++;
            face.exportCorners[k] = next++;
            for (int ch = 0; ch < kUvChannels; ++ch) {
                HostFaceUvChannel& channel = face.uvData->channels[ch];
                ASSERT_TRUE(aligned(channel.uvIndices, alignof(int)) && aligned(channel.cornerUvs, alignof(HostUv)));
                channel.uvIndices[k] = next++;
                channel.cornerUvs[k] = HostUv{next, float(next), float(next), next};
                ++next;
            }
        }
    }
    // ...and still holds it when all are written.
    next = 1;
    for (int f = 0; f < group.faceCount; ++f) {
        const HostFace& face = group.faces[f];
        for (int k = 0; k < std::max(3, face.cornerCount); ++k) {
            EXPECT_EQ(face.vertexIndices[k], next++);
            EXPECT_EQ(face.exportCorners[k], next++);
            for (int ch = 0; ch < kUvChannels; ++ch) {
                EXPECT_EQ(face.uvData->channels[ch].uvIndices[k], next++);
                EXPECT_EQ(face.uvData->channels[ch].cornerUvs[k].link, next++);
            }
        }
    }
}

}  // namespace
