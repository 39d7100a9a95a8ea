// The host scene store's geometry: triangulation, normals, smoothing groups,
// the UV store and the objects' material references.
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/scene.h"

namespace {

using asehost::HostOp;
using asehost::HostScene;

// All faces of the scene in group order.
std::vector<HostFace*> Faces(HostScene& scene) {
    std::vector<HostFace*> faces;
    HostContext* c = scene.context();
    for (int g = 0; g < c->faceGroupCount; ++g) {
        for (int f = 0; f < c->faceGroups[g].faceCount; ++f) faces.push_back(&c->faceGroups[g].faces[f]);
    }
    return faces;
}

void Load(HostScene& scene, const std::string& json) {
    std::string error;
    ASSERT_TRUE(scene.loadJson(json, error)) << error;
}

// A cube of side 2 around the origin, as six outward-facing quads; vertex i
// sits at x = bit 0, y = bit 1, z = bit 2 of i (0 -> -1, 1 -> +1).
const char* const kCubeQuads[6] = {"[0,4,6,2]", "[1,3,7,5]", "[0,1,5,4]", "[2,6,7,3]", "[0,2,3,1]", "[4,5,7,6]"};

std::string CubeJson(const std::string& extraFace = "") {
    std::string json = R"({"vertices":[)";
    for (int i = 0; i < 8; ++i) {
        json += std::string(i ? "," : "") + "{\"position\":[" + ((i & 1) ? "1" : "-1") + "," + ((i & 2) ? "1" : "-1") + "," + ((i & 4) ? "1" : "-1") + "]}";
    }
    json += R"(],"objects":[{"name":"cube"}],"faceGroups":[{"faces":[)";
    for (int f = 0; f < 6; ++f) json += std::string(f ? "," : "") + "{\"objectIndex\":0,\"vertexIndices\":" + kCubeQuads[f] + "}";
    json += extraFace + "]}]}";
    return json;
}

void PrepareCube(HostScene& scene, const std::string& extraFace = "") {
    Load(scene, CubeJson(extraFace));
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    ASSERT_EQ(c->ops->PostTriangulateStep1(c), 1);
}

TEST(HostTriangulation, FansQuadAndPentagonCarryingIndicesAndBothUvViews) {
    HostScene scene;
    Load(scene, R"({
        "vertices": [{},{},{},{},{},{},{},{},{}],
        "materials": [{"name":"a"},{"name":"b"}],
        "objects": [{"name":"quad"},{"name":"pentagon"}],
        "faceGroups": [{"faces": [
            {"materialIndex":1,"objectIndex":0,"smoothingGroup":7,"normal":[0,0,1],"vertexIndices":[0,1,2,3],
             "uvChannels":[{"cornerUvs":[[0,0],[1,0],[1,1],[0,1]]},{"cornerUvs":[[5,5],[6,5],[6,6],[5,6]]}]},
            {"materialIndex":0,"objectIndex":1,"vertexIndices":[4,5,6,7,8],
             "uvChannels":[{"cornerUvs":[[0.5,0],[1,0.25],[0.75,1],[0.25,1],[0,0.25]]},{"cornerUvs":[[0,0],[0,0],[0,0],[0,0],[0,0]]}]}
        ]}]})");
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    ASSERT_EQ(c->faceGroups[0].faceCount, 2 + 3);
    const int expected[5][3] = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}, {4, 7, 8}};
    const int cornerOf[5][3] = {{0, 1, 2}, {0, 2, 3}, {0, 1, 2}, {0, 2, 3}, {0, 3, 4}};
    const float pentagonU[5] = {0.5f, 1.0f, 0.75f, 0.25f, 0.0f};
    for (int f = 0; f < 5; ++f) {
        const HostFace& face = c->faceGroups[0].faces[f];
        ASSERT_EQ(face.cornerCount, 3);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(face.vertexIndices[k], expected[f][k]) << "face " << f << " corner " << k;
            // Both views name the same value for every channel.
            for (int ch = 0; ch < kUvChannels; ++ch) {
                const HostUv& corner = face.uvData->channels[ch].cornerUvs[k];
                const HostUv& stored = c->uvStore->channels[ch].uvs[face.uvData->channels[ch].uvIndices[k]];
                EXPECT_EQ(corner.u, stored.u);
                EXPECT_EQ(corner.v, stored.v);
            }
        }
        if (f >= 2) {
            for (int k = 0; k < 3; ++k) EXPECT_EQ(face.uvData->channels[0].cornerUvs[k].u, pentagonU[cornerOf[f][k]]);
        }
    }
    const HostFace& second = c->faceGroups[0].faces[1];
    EXPECT_EQ(second.materialIndex, 1);
    EXPECT_EQ(second.objectIndex, 0);
    EXPECT_EQ(second.smoothingGroup, 7);
    EXPECT_EQ(second.normal[2], 1.0f);
    EXPECT_EQ(second.uvData->channels[1].cornerUvs[2].u, 5.0f);
    EXPECT_EQ(second.uvData->channels[1].cornerUvs[2].v, 6.0f);
    EXPECT_EQ(c->objects[0].faceCount, 2);
    EXPECT_EQ(c->objects[1].faceCount, 3);
    EXPECT_EQ(scene.droppedFaceCount(), 0);
}

TEST(HostTriangulation, DropsFacesWithFewerThanThreeCornersAndCountsThem) {
    HostScene scene;
    Load(scene, R"({"vertices":[{},{},{}],"objects":[{"name":"o"}],
        "faceGroups":[{"faces":[{"objectIndex":0,"vertexIndices":[0,1]},{"objectIndex":0,"vertexIndices":[0,1,2]}]},
                      {"faces":[{"objectIndex":0,"vertexIndices":[]},{"objectIndex":0,"vertexIndices":[2]}]}]})");
    HostContext* c = scene.context();
    EXPECT_EQ(c->objects[0].faceCount, 4);
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    EXPECT_EQ(scene.droppedFaceCount(), 3);
    ASSERT_EQ(c->faceGroups[0].faceCount, 1);
    EXPECT_EQ(c->faceGroups[0].faces[0].vertexIndices[2], 2);
    EXPECT_EQ(c->faceGroups[1].faceCount, 0);
    EXPECT_EQ(c->faceGroups[1].faces, nullptr);
    EXPECT_EQ(c->objects[0].faceCount, 1);
}

TEST(HostTriangulation, InjectedFailureReturnsZeroAndKeepsThePolygons) {
    HostScene scene;
    Load(scene, CubeJson());
    HostContext* c = scene.context();
    scene.failCall(HostOp::TriangulateScene, 1);
    EXPECT_EQ(c->ops->TriangulateScene(c), 0);
    ASSERT_EQ(c->faceGroups[0].faceCount, 6);
    EXPECT_EQ(c->faceGroups[0].faces[0].cornerCount, 4);
    EXPECT_EQ(c->ops->TriangulateScene(c), 1);
    EXPECT_EQ(c->faceGroups[0].faceCount, 12);
}

TEST(HostNormals, CubeFacesPointOutwardAndVertexNormalsAreUnitDiagonals) {
    HostScene scene;
    PrepareCube(scene, R"(,{"objectIndex":0,"vertexIndices":[0,1,0]})");
    HostContext* c = scene.context();
    std::vector<HostFace*> faces = Faces(scene);
    ASSERT_EQ(faces.size(), 13u);
    for (size_t f = 0; f < 12; ++f) {
        const HostFace& face = *faces[f];
        float centre[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < 3; ++j) centre[j] += c->vertices[face.vertexIndices[k]].position[j] / 3.0f;
        }
        int axis = 0;
        for (int j = 1; j < 3; ++j) {
            if (std::fabs(centre[j]) > std::fabs(centre[axis])) axis = j;
        }
        for (int j = 0; j < 3; ++j) EXPECT_EQ(face.normal[j], j == axis ? (centre[axis] > 0 ? 1.0f : -1.0f) : 0.0f) << "face " << f;
    }
    for (int j = 0; j < 3; ++j) EXPECT_EQ(faces[12]->normal[j], 0.0f) << "degenerate face";

    ASSERT_EQ(c->ops->PostTriangulateStep2(c), 1);
    for (int v = 0; v < c->vertexCount; ++v) ASSERT_EQ(c->vertices[v].ops->PrepareVertex(&c->vertices[v]), 1);
    for (int v = 0; v < c->vertexCount; ++v) {
        const float* n = c->vertices[v].normal;
        const float* p = c->vertices[v].position;
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-6f) << "vertex " << v;
        for (int j = 0; j < 3; ++j) EXPECT_GT(n[j] * p[j], 0.0f) << "vertex " << v << " axis " << j;
    }
}

TEST(HostSmoothingGroups, CubeAt30DegreesHasSixRegionsThatDifferFromTheirNeighbours) {
    HostScene scene;
    PrepareCube(scene);
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 30.0f), 1);
    std::vector<HostFace*> faces = Faces(scene);
    // Triangles 2s and 2s+1 come from side s.
    std::set<int> numbers;
    for (size_t side = 0; side < 6; ++side) {
        const int group = faces[side * 2]->smoothingGroup;
        EXPECT_EQ(faces[side * 2 + 1]->smoothingGroup, group);
        EXPECT_GE(group, 1);
        EXPECT_LE(group, 32);
        numbers.insert(group);
    }
    // Sides s and s^1 are opposite; every other pair shares an edge.
    for (int s = 0; s < 6; ++s) {
        for (int t = 0; t < 6; ++t) {
            if (s != t && (s ^ 1) != t) {
                EXPECT_NE(faces[size_t(s) * 2]->smoothingGroup, faces[size_t(t) * 2]->smoothingGroup) << s << " " << t;
            }
        }
    }
    EXPECT_GE(numbers.size(), 3u);
}

TEST(HostSmoothingGroups, CubeAt100DegreesIsOneRegion) {
    HostScene scene;
    PrepareCube(scene);
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 100.0f), 1);
    for (HostFace* face : Faces(scene)) EXPECT_EQ(face->smoothingGroup, 1);
}

TEST(HostSmoothingGroups, FaceWithoutNormalIsARegionOfItsOwn) {
    HostScene scene;
    // A degenerate triangle on the edge 0-1 of the cube.
    PrepareCube(scene, R"(,{"objectIndex":0,"vertexIndices":[0,1,0]})");
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 180.0f), 1);
    std::vector<HostFace*> faces = Faces(scene);
    for (size_t f = 1; f < 12; ++f) EXPECT_EQ(faces[f]->smoothingGroup, faces[0]->smoothingGroup);
    EXPECT_NE(faces[12]->smoothingGroup, faces[0]->smoothingGroup);
}

TEST(HostSmoothingGroups, FoldedStripGivesNeighbouringRegionsDifferentNumbers) {
    // A zigzag strip of 100 quads folded at 90 degrees: 100 regions in a row.
    HostScene scene;
    std::string json = R"({"vertices":[)";
    for (int i = 0; i <= 100; ++i) {
        const int x = (i + 1) / 2, y = i / 2;
        json += std::string(i ? "," : "") + "{\"position\":[" + std::to_string(x) + "," + std::to_string(y) + ",0]},";
        json += "{\"position\":[" + std::to_string(x) + "," + std::to_string(y) + ",1]}";
    }
    json += R"(],"objects":[{"name":"strip"}],"faceGroups":[{"faces":[)";
    for (int i = 0; i < 100; ++i) {
        const int a = 2 * i;
        json += std::string(i ? "," : "") + "{\"objectIndex\":0,\"vertexIndices\":[" + std::to_string(a) + "," + std::to_string(a + 2) + "," +
                std::to_string(a + 3) + "," + std::to_string(a + 1) + "]}";
    }
    json += "]}]}";
    Load(scene, json);
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    ASSERT_EQ(c->ops->PostTriangulateStep1(c), 1);
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 45.0f), 1);
    std::vector<HostFace*> faces = Faces(scene);
    for (size_t q = 0; q < 100; ++q) {
        EXPECT_EQ(faces[q * 2]->smoothingGroup, faces[q * 2 + 1]->smoothingGroup);
        EXPECT_GE(faces[q * 2]->smoothingGroup, 1);
        EXPECT_LE(faces[q * 2]->smoothingGroup, 32);
        if (q > 0) {
            EXPECT_NE(faces[q * 2]->smoothingGroup, faces[q * 2 - 2]->smoothingGroup) << q;
        }
    }
}

// Builds a scene through the operations the plug-in uses: one object, one
// group of `count` triangles over three vertices.
HostFaceGroup* ImportLikeScene(HostScene& scene, int materials, int objects, int count) {
    HostContext* c = scene.context();
    DualString name{};
    for (int m = 0; m < materials; ++m) c->ops->AddMaterial(c, &name);
    c->ops->AllocateVertices(c, 3);
    for (int o = 0; o < objects; ++o) c->ops->AddObject(c, &name, -1);
    HostFaceGroup* group = c->ops->AddFaceGroup(c);
    group->ops->AllocateFaces(group, count);
    for (int f = 0; f < count; ++f) {
        for (int k = 0; k < 3; ++k) group->faces[f].vertexIndices[k] = k;
        group->faces[f].objectIndex = 0;
    }
    return group;
}

TEST(HostFinishGeometry, BuildsUvStoreSharingEqualValuesAndGivingEachNanItsOwnEntry) {
    HostScene scene;
    HostFaceGroup* group = ImportLikeScene(scene, 0, 1, 2);
    HostContext* c = scene.context();
    const float nan = std::nanf("");
    const float uvs[2][3][2] = {{{0.25f, 0.5f}, {1, 1}, {nan, 0}}, {{1, 1}, {0.25f, 0.5f}, {nan, 0}}};
    for (int f = 0; f < 2; ++f) {
        for (int k = 0; k < 3; ++k) {
            group->faces[f].uvData->channels[0].cornerUvs[k].u = uvs[f][k][0];
            group->faces[f].uvData->channels[0].cornerUvs[k].v = uvs[f][k][1];
        }
    }
    // -0.0 and 0.0 differ by bit pattern.
    group->faces[1].uvData->channels[1].cornerUvs[0].u = -0.0f;
    c->ops->FinishGeometry(c, 1);
    const HostFaceUvChannel& a = group->faces[0].uvData->channels[0];
    const HostFaceUvChannel& b = group->faces[1].uvData->channels[0];
    EXPECT_EQ(c->uvStore->channels[0].count, 4);
    EXPECT_EQ(a.uvIndices[0], b.uvIndices[1]);
    EXPECT_EQ(a.uvIndices[1], b.uvIndices[0]);
    EXPECT_NE(a.uvIndices[2], b.uvIndices[2]);
    EXPECT_EQ(c->uvStore->channels[0].uvs[a.uvIndices[0]].u, 0.25f);
    EXPECT_EQ(c->uvStore->channels[0].uvs[a.uvIndices[0]].v, 0.5f);
    EXPECT_EQ(c->uvStore->channels[0].uvs[a.uvIndices[0]].link, -1);
    EXPECT_EQ(c->uvStore->channels[1].count, 2);
    EXPECT_EQ(group->faces[0].uvData->channels[1].uvIndices[0], 0);
    EXPECT_EQ(group->faces[1].uvData->channels[1].uvIndices[0], 1);
}

TEST(HostFinishGeometry, MaterialRefsFollowFirstUseAndSkipFacesWithoutMaterial) {
    HostScene scene;
    HostFaceGroup* group = ImportLikeScene(scene, 3, 2, 6);
    HostContext* c = scene.context();
    const int materials[6] = {2, -1, 0, 2, 1, 0};
    const int objects[6] = {0, 0, 0, 0, 1, 1};
    for (int f = 0; f < 6; ++f) {
        group->faces[f].materialIndex = materials[f];
        group->faces[f].objectIndex = objects[f];
    }
    c->ops->FinishGeometry(c, 1);
    ASSERT_EQ(c->objects[0].faceCount, 4);
    ASSERT_EQ(c->objects[0].materialRefCount, 2);
    EXPECT_EQ(c->objects[0].materialRefs[0].materialIndex, 2);
    EXPECT_EQ(c->objects[0].materialRefs[0].faceCount, 2);
    EXPECT_EQ(c->objects[0].materialRefs[1].materialIndex, 0);
    ASSERT_EQ(c->objects[1].materialRefCount, 2);
    EXPECT_EQ(c->objects[1].materialRefs[0].materialIndex, 1);
    EXPECT_EQ(c->objects[1].materialRefs[1].materialIndex, 0);
    EXPECT_EQ(c->objects[1].faceCount, 2);
}

// An object's faces may lie in several groups with other objects' faces
// between them: each object still gets one reference per material, in the
// order of first use, counting all its faces.
TEST(HostFinishGeometry, MaterialRefsGatherFacesOfObjectsThatInterleave) {
    HostScene scene;
    HostFaceGroup* first = ImportLikeScene(scene, 3, 3, 5);
    HostContext* c = scene.context();
    HostFaceGroup* second = c->ops->AddFaceGroup(c);
    first = &c->faceGroups[0];
    ASSERT_EQ(second->ops->AllocateFaces(second, 4), 1);
    const int pairs[9][2] = {{0, 1}, {1, 1}, {0, 1}, {2, 0}, {0, 0},  // first group
                             {1, 1}, {0, 2}, {2, 0}, {0, 1}};         // second group
    for (int f = 0; f < 9; ++f) {
        HostFace& face = f < 5 ? first->faces[f] : second->faces[f - 5];
        face.objectIndex = pairs[f][0];
        face.materialIndex = pairs[f][1];
    }
    c->ops->FinishGeometry(c, 1);
    const std::vector<std::vector<std::pair<int, int>>> expected = {
        {{1, 3}, {0, 1}, {2, 1}}, {{1, 2}}, {{0, 2}}};
    for (int o = 0; o < 3; ++o) {
        const HostObject& object = c->objects[o];
        ASSERT_EQ(object.materialRefCount, static_cast<int>(expected[o].size())) << o;
        int faces = 0;
        for (int r = 0; r < object.materialRefCount; ++r) {
            EXPECT_EQ(object.materialRefs[r].materialIndex, expected[o][r].first) << o << " " << r;
            EXPECT_EQ(object.materialRefs[r].faceCount, expected[o][r].second) << o << " " << r;
            faces += expected[o][r].second;
        }
        EXPECT_EQ(object.faceCount, faces);
    }
}

}  // namespace
