// The host scene store's geometry: triangulation, normals, smoothing groups,
// the UV store and the objects' material references.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/store/scene.h"

namespace {

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

// A cube of side 2 around the origin, as six outward-facing quads (vertex i
// sits at x = bit 0, y = bit 1, z = bit 2 of i; 0 -> -1, 1 -> +1) and a
// degenerate triangle on the edge 0-1, triangulated, with face normals.
void PrepareCube(HostScene& scene) {
    std::string json = R"({"vertices":[)";
    for (int i = 0; i < 8; ++i) {
        json += std::string(i ? "," : "") + "{\"position\":[" + ((i & 1) ? "1" : "-1") + "," + ((i & 2) ? "1" : "-1") + "," + ((i & 4) ? "1" : "-1") + "]}";
    }
    json += R"(],"objects":[{"name":"cube"}],"faceGroups":[{"faces":[)";
    for (const char* quad : {"[0,4,6,2]", "[1,3,7,5]", "[0,1,5,4]", "[2,6,7,3]", "[0,2,3,1]", "[4,5,7,6]", "[0,1,0]"}) {
        json += std::string(json.back() == '[' ? "" : ",") + "{\"objectIndex\":0,\"vertexIndices\":" + quad + "}";
    }
    Load(scene, json + "]}]}");
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    ASSERT_EQ(c->ops->PostTriangulateStep1(c), 1);
}

// Faces of fewer than three corners are dropped and counted; a group left
// without faces has no face array.
TEST(HostTriangulation, FansAPentagonCarryingItsFieldsAndBothUvViewsAndDropsShortFaces) {
    HostScene scene;
    Load(scene, R"({"vertices":[{},{},{},{},{}],"materials":[{},{}],"objects":[{"name":"pentagon"}],"faceGroups":[{"faces":[
        {"objectIndex":0,"vertexIndices":[0,1]},
        {"materialIndex":1,"objectIndex":0,"smoothingGroup":7,"normal":[0,0,1],"vertexIndices":[0,1,2,3,4],
         "uvChannels":[{"cornerUvs":[[0.5,0],[1,0.25],[0.75,1],[0.25,1],[0,0.25]]},{"cornerUvs":[[0,5],[1,5],[2,6],[3,5],[4,6]]}]}]},
        {"faces":[{"objectIndex":0,"vertexIndices":[]},{"objectIndex":0,"vertexIndices":[2]}]}]})");
    HostContext* c = scene.context();
    EXPECT_EQ(c->objects[0].faceCount, 4);
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    EXPECT_EQ(scene.droppedFaceCount(), 3);
    EXPECT_EQ(c->faceGroups[1].faceCount, 0);
    EXPECT_EQ(c->faceGroups[1].faces, nullptr);
    ASSERT_EQ(c->faceGroups[0].faceCount, 3);
    EXPECT_EQ(c->objects[0].faceCount, 3);
    // Fans from the first corner; both UV views name the same value.
    const int cornerOf[3][3] = {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}};
    const float cornerU[5] = {0.5f, 1, 0.75f, 0.25f, 0};
    for (int f = 0; f < 3; ++f) {
        const HostFace& face = c->faceGroups[0].faces[f];
        ASSERT_EQ(face.cornerCount, 3);
        EXPECT_EQ(face.materialIndex, 1);
        EXPECT_EQ(face.smoothingGroup, 7);
        EXPECT_EQ(face.normal[2], 1.0f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(face.vertexIndices[k], cornerOf[f][k]) << "face " << f << " corner " << k;
            EXPECT_EQ(face.uvData->channels[0].cornerUvs[k].u, cornerU[cornerOf[f][k]]);
            EXPECT_EQ(face.uvData->channels[1].cornerUvs[k].u, float(cornerOf[f][k]));
            for (const HostFaceUvChannel& channel : face.uvData->channels) {
                const HostUv& stored = c->uvStore->channels[&channel - face.uvData->channels].uvs[channel.uvIndices[k]];
                EXPECT_EQ(channel.cornerUvs[k].u, stored.u);
                EXPECT_EQ(channel.cornerUvs[k].v, stored.v);
            }
        }
    }
}

TEST(HostNormals, CubeFacesPointOutwardAndVertexNormalsAreUnitDiagonals) {
    HostScene scene;
    PrepareCube(scene);
    HostContext* c = scene.context();
    std::vector<HostFace*> faces = Faces(scene);
    ASSERT_EQ(faces.size(), 13u);
    for (size_t f = 0; f < 12; ++f) {
        const HostFace& face = *faces[f];
        // The corners' coordinate sum is +-3 on the face's axis, +-1 elsewhere.
        float sum[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < 3; ++j) sum[j] += c->vertices[face.vertexIndices[k]].position[j];
        }
        for (int j = 0; j < 3; ++j) EXPECT_EQ(face.normal[j], float(int(sum[j]) / 3)) << "face " << f;
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

// Triangles 2r and 2r+1 form region r: they share a number in 1..32 that
// differs from the number of every region `adjacent` to r.
void ExpectTwoTriangleRegions(const std::vector<HostFace*>& faces, size_t regions, bool (*adjacent)(size_t, size_t)) {
    for (size_t r = 0; r < regions; ++r) {
        const int number = faces[r * 2]->smoothingGroup;
        EXPECT_EQ(faces[r * 2 + 1]->smoothingGroup, number) << r;
        EXPECT_TRUE(number >= 1 && number <= 32) << number;
        for (size_t t = 0; t < r; ++t) EXPECT_TRUE(!adjacent(r, t) || faces[t * 2]->smoothingGroup != number) << r << " " << t;
    }
}

// At 30 degrees each side is a region; sides 2a and 2a+1 are opposite, all
// other pairs share an edge. At 100 degrees the cube is one region, a face
// without normal still one of its own.
TEST(HostSmoothingGroups, CubeSidesAreRegionsBelowTheirAngleAndOneRegionAbove) {
    HostScene scene;
    PrepareCube(scene);
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 30.0f), 1);
    ExpectTwoTriangleRegions(Faces(scene), 6, [](size_t r, size_t t) { return r / 2 != t / 2; });
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 100.0f), 1);
    std::vector<HostFace*> faces = Faces(scene);
    for (size_t f = 0; f < 12; ++f) EXPECT_EQ(faces[f]->smoothingGroup, 1);
    EXPECT_NE(faces[12]->smoothingGroup, 1);
}

TEST(HostSmoothingGroups, FoldedStripGivesNeighbouringRegionsDifferentNumbers) {
    // A zigzag strip of 100 quads folded at 90 degrees: 100 regions in a row.
    std::string json = R"({"vertices":[)";
    for (int i = 0; i <= 100; ++i) {
        const std::string xy = std::to_string((i + 1) / 2) + "," + std::to_string(i / 2);
        json += std::string(i ? "," : "") + "{\"position\":[" + xy + ",0]},{\"position\":[" + xy + ",1]}";
    }
    json += R"(],"faceGroups":[{"faces":[)";
    for (int a = 0; a < 200; a += 2) {
        json += std::string(a ? "," : "") + "{\"vertexIndices\":[" + std::to_string(a) + "," + std::to_string(a + 2) + "," +
                std::to_string(a + 3) + "," + std::to_string(a + 1) + "]}";
    }
    HostScene scene;
    Load(scene, json + "]}]}");
    HostContext* c = scene.context();
    ASSERT_EQ(c->ops->TriangulateScene(c), 1);
    ASSERT_EQ(c->ops->PostTriangulateStep1(c), 1);
    ASSERT_EQ(c->ops->AssignSmoothingGroupsByAngle(c, 45.0f), 1);
    ExpectTwoTriangleRegions(Faces(scene), 100, [](size_t r, size_t t) { return r == t + 1; });
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

// An object's faces may lie in several groups with other objects' faces
// between them: each object still gets one reference per material, in the
// order of first use, counting all its faces; faces without material count
// for the object only.
TEST(HostFinishGeometry, MaterialRefsFollowFirstUseAcrossInterleavedGroups) {
    HostScene scene;
    ImportLikeScene(scene, 3, 3, 6);
    HostContext* c = scene.context();
    HostFaceGroup* second = c->ops->AddFaceGroup(c);
    HostFaceGroup* first = &c->faceGroups[0];
    ASSERT_EQ(second->ops->AllocateFaces(second, 4), 1);
    const int pairs[10][2] = {{0, 1}, {1, 1}, {0, -1}, {0, 1}, {2, 0}, {0, 0},  // first group
                              {1, 1}, {0, 2}, {2, 0}, {0, 1}};                  // second group
    for (int f = 0; f < 10; ++f) {
        HostFace& face = f < 6 ? first->faces[f] : second->faces[f - 6];
        face.objectIndex = pairs[f][0];
        face.materialIndex = pairs[f][1];
    }
    c->ops->FinishGeometry(c, 1);
    const std::vector<std::vector<std::pair<int, int>>> expected = {{{1, 3}, {0, 1}, {2, 1}}, {{1, 2}}, {{0, 2}}};
    for (int o = 0; o < 3; ++o) {
        const HostObject& object = c->objects[o];
        ASSERT_EQ(object.materialRefCount, static_cast<int>(expected[o].size())) << o;
        int faces = o == 0 ? 1 : 0;
        for (int r = 0; r < object.materialRefCount; ++r) {
            EXPECT_EQ(object.materialRefs[r].materialIndex, expected[o][r].first) << o << " " << r;
            EXPECT_EQ(object.materialRefs[r].faceCount, expected[o][r].second) << o << " " << r;
            faces += expected[o][r].second;
        }
        EXPECT_EQ(object.faceCount, faces);
    }
}

}  // namespace
