// The host scene store's records and the JSON form's refusals.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/store/scene.h"
#include "host/store/text.h"
#include "tests/test_files.h"

namespace {

using asehost::HostScene;

DualString Name(const char16_t* text) {
    DualString name{};
    asehost::SetDualString(name, text);
    return name;
}

// Indices into a given UV store fill the corner values from it (without a
// store the loader builds one, as HostFinishGeometry does).
TEST(HostSceneJson, UvIndicesIntoAGivenStoreFillTheCornerValues) {
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
    std::istringstream cases(testfiles::ReadFile(testfiles::Data("host/bad_scenes.txt")));
    int count = 0;
    for (std::string line; std::getline(cases, line);) {
        const size_t tab = line.find('\t');
        if (line.starts_with("#") || tab == std::string::npos) continue;
        SCOPED_TRACE(line);
        HostScene scene;
        std::string error;
        EXPECT_FALSE(scene.loadJson(line.substr(tab + 1), error));
        EXPECT_NE(error.find(line.substr(0, tab)), std::string::npos) << error;
        EXPECT_EQ(scene.context()->vertexCount, 0);
        EXPECT_EQ(scene.context()->faceGroups, nullptr);
        EXPECT_EQ(scene.boneCount(), 0);
        ++count;
    }
    EXPECT_EQ(count, 33);
}

// Later materials move the material records, never the textures; calls
// with a wrong channel, kind or index get null.
TEST(HostSceneStore, TexturesStayPutAndBadIndicesGiveNull) {
    HostScene scene;
    HostContext* c = scene.context();
    DualString name = Name(u"m");
    HostMaterial* material = c->ops->AddMaterial(c, &name);
    EXPECT_EQ(material->ops->AddTexture(material, 4, kTextureImage), nullptr);
    EXPECT_EQ(material->ops->AddTexture(material, 0, 2), nullptr);
    HostTexture* texture = material->ops->AddTexture(material, 1, kTextureImage);
    for (int m = 0; m < 100; ++m) c->ops->AddMaterial(c, &name);
    material = &c->materials[0];
    EXPECT_EQ(material->ops->GetTexture(material, 1), texture);

    c->ops->AllocateVertices(c, 1);
    EXPECT_EQ(c->ops->AllocateVertexWeights(c, 1, 1), nullptr);
    EXPECT_EQ(c->ops->AllocateVertexWeights(c, 0, -1), nullptr);
    HostAnimation* animation = c->ops->AddAnimation(c, &name);
    animation->ops->AllocateTracks(animation, 2);
    EXPECT_EQ(animation->ops->AllocatePositionKeys(animation, 2, 1), nullptr);
    EXPECT_EQ(animation->ops->AllocateRotationKeys(animation, -1, 1), nullptr);
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
            ASSERT_NE(c->ops->AddObject(c, &c->objects[i - 1].name, -1), nullptr);
            ASSERT_NE(c->ops->AddBone(c, &scene.bone(i - 1)->name, -1), nullptr);
            continue;
        }
        const std::string text = "object " + std::to_string(i);
        DualString name = Name(std::u16string(text.begin(), text.end()).c_str());
        ASSERT_NE(c->ops->AddObject(c, &name, -1), nullptr);
        HostBone* bone = c->ops->AddBone(c, &name, -1);
        bone->parentIndex = i - 1;
        bone->translation[2] = float(i);
    }
    ASSERT_EQ(c->objectCount, kCount);
    ASSERT_EQ(scene.boneCount(), kCount);
    for (int i = 0; i < kCount; ++i) {
        const std::string expected = "object " + std::to_string(i - i % 2);
        ASSERT_STREQ(c->objects[i].name.narrow, expected.c_str()) << i;
        ASSERT_EQ(asehost::WideOf(c->objects[i].name), std::u16string(expected.begin(), expected.end())) << i;
        const HostBone& bone = scene.bones()[i];
        ASSERT_STREQ(bone.name.narrow, expected.c_str()) << i;
        EXPECT_EQ(bone.parentIndex, i % 2 ? -1 : i - 1);
        EXPECT_EQ(bone.translation[2], i % 2 ? 0.0f : float(i));
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
    // The second pass gives every third vertex its weights anew.
    for (int pass = 0; pass < 2; ++pass) {
        for (int v = pass; v < kVertices; v += pass ? 3 : 1) {
            HostVertex* vertex = c->ops->AllocateVertexWeights(c, v, countOf(v));
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
        for (int k = 0; k < countOf(v); ++k) {
            ASSERT_EQ(weights[k].boneIndex, v * 8 + k % 8) << v << " " << k;
            ASSERT_EQ(weights[k].weight, v % 3 == 1 ? 1.0f : 0.0f) << v;
        }
    }
    ASSERT_NE(c->ops->AllocateVertexWeights(c, 5, 0), nullptr);
    EXPECT_EQ(scene.vertexWeights(5), nullptr);
}

// All arrays of a group's faces come out of one block: with any corner
// counts, every face has max(3, corners) slots in each per-corner array,
// suitably aligned, and no slot is shared. Allocated faces start as
// triangles without material or UV links.
TEST(HostSceneStore, FacesOfAnyCornerCountHaveSeparateAlignedArrays) {
    HostScene scene;
    HostFaceGroup* allocated = scene.context()->ops->AddFaceGroup(scene.context());
    ASSERT_EQ(allocated->ops->AllocateFaces(allocated, 2), 1);
    const HostFace& last = allocated->faces[1];
    EXPECT_EQ(last.cornerCount, 3);
    EXPECT_EQ(last.materialIndex, -1);
    EXPECT_EQ(last.uvData->channels[1].cornerUvs[2].link, -1);

    const int corners[] = {0, 1, 2, 3, 4, 7, 3, 5};
    std::string faces;
    for (int count : corners) {
        faces += faces.empty() ? "{\"vertexIndices\":[" : ",{\"vertexIndices\":[";
        for (int k = 0; k < count; ++k) faces += k ? ",0" : "0";
        faces += "]}";
    }
    std::string error;
    ASSERT_TRUE(scene.loadJson(R"({"vertices":[{}],"faceGroups":[{"faces":[)" + faces + "]}]}", error)) << error;
    const HostFaceGroup& group = scene.context()->faceGroups[0];
    ASSERT_EQ(group.faceCount, 8);
    auto aligned = [](const void* p, size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; };
    // Every int slot (the UV corners' first and last fields included) gets
    // a value of its own and still holds it when all are written.
    std::vector<int*> slots;
    for (int f = 0; f < group.faceCount; ++f) {
        HostFace& face = group.faces[f];
        ASSERT_EQ(face.cornerCount, corners[f]);
        ASSERT_TRUE(aligned(face.uvData, alignof(HostFaceUv)));
        for (int k = 0; k < std::max(3, face.cornerCount); ++k) {
            slots.insert(slots.end(), {&face.vertexIndices[k], &face.exportCorners[k]});
            for (HostFaceUvChannel& channel : face.uvData->channels) {
                ASSERT_TRUE(aligned(channel.uvIndices, alignof(int)) && aligned(channel.cornerUvs, alignof(HostUv)));
                slots.insert(slots.end(), {&channel.uvIndices[k], &channel.cornerUvs[k].tag, &channel.cornerUvs[k].link});
            }
        }
    }
    for (size_t i = 0; i < slots.size(); ++i) *slots[i] = int(i);
    for (size_t i = 0; i < slots.size(); ++i) ASSERT_EQ(*slots[i], int(i)) << i;
}

}  // namespace
