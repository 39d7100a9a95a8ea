// The normals and groups the geometry writers give corners: the "From scene"
// mode's per-group sums (goldens of a box with a group per side, a two-sided
// card and a ridge, and the sums against a plain reference on random meshes),
// and the face normal that replaces a vertex normal without direction.
#include <cmath>
#include <map>
#include <random>

#include "export/geometry/geometry_text.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// Box (object 0): twelve faces, groups 1..6 by side over eight shared
// vertices. Card (1): two faces up and two down on four shared vertices, all
// in group 1. Ridge (2): two faces of group 2 at a right angle over vertices
// 12 and 13, and a face of group 0 sharing 12 and 15 with them.
Json SmoothingScene() { return Json::parse(exporttest::Golden("smoothing_scene.json")); }

class SmoothingTest : public GeometryExportTest {
protected:
    // Every object of the smoothing scene, written in one layout.
    std::string Written(bool split) {
        std::string text;
        for (int o = 0; o < 3; ++o) {
            int result = 0;
            text += split ? Split(o, o, &result) : Indexed(o, o, &result);
            EXPECT_EQ(result, 1) << "object " << o;
        }
        return text;
    }
    // The text of one object's block: from its *GEOMOBJECT to the next.
    static std::string Block(const std::string& text, int object) {
        size_t at = text.find("*GEOMOBJECT");
        for (int o = 0; o < object; ++o) at = text.find("*GEOMOBJECT", at + 1);
        return text.substr(at, text.find("*GEOMOBJECT", at + 1) - at);
    }
};

TEST_F(SmoothingTest, FromSceneKeepsTheGroupsAndWritesNormalsPerGroupInBothLayouts) {
    TheExportOptions().smoothingMode = SmoothFromScene;
    for (const bool split : {true, false}) {
        SCOPED_TRACE(split ? "split" : "indexed");
        Load(SmoothingScene());
        // The table would give every vertex the same normal: the mode does not read it.
        SetNormalTable(std::vector<std::array<float, 3>>(17, {0.0f, 1.0f, 0.0f}));
        const std::string text = Written(split);
        EXPECT_EQ(text, exporttest::Golden(split ? "geometry_split_from_scene.ase" : "geometry_indexed_from_scene.ase"));

        // The split layout keeps a vertex apart per box side and per card
        // side, and vertices 12 and 15 of the ridge apart from the group-0
        // face's; the indexed layout writes each host vertex once.
        EXPECT_EQ(NumberAfter(Block(text, 0), "*MESH_NUMVERTEX "), split ? 24 : 8);
        EXPECT_EQ(NumberAfter(Block(text, 1), "*MESH_NUMVERTEX "), split ? 8 : 4);
        EXPECT_EQ(NumberAfter(Block(text, 2), "*MESH_NUMVERTEX "), split ? 7 : 5);
        // (The golden's normals were checked by hand: every corner of the box
        // and the card has its face's normal; the ridge's corners at vertices
        // 12 and 13 of its group-2 faces (0, -0.707107, -0.707107), its
        // group-0 face (-1, -0, 0) at every corner.)
    }
}

// The vertex normal of a corner whose vertex sums to nothing (the card's) is
// its face's in every mode and layout, and no written normal is zero.
TEST_F(SmoothingTest, AVertexNormalWithoutDirectionGivesWayToTheFaceNormal) {
    for (const int mode : {SmoothAllSame, SmoothPerGroup, SmoothPerAngle, SmoothFromScene}) {
        for (const bool split : {true, false}) {
            SCOPED_TRACE(std::to_string(mode) + (split ? " split" : " indexed"));
            Json scene = SmoothingScene();
            // The host's normals and the table's sums: the card's cancel to
            // zero, but vertex 9's is just shorter than the limit and vertex
            // 10's points up.
            for (auto& v : scene["vertices"]) v["normal"] = {0, 0, 0};
            scene["vertices"][9]["normal"] = {0, 0, 9.0e-7};
            scene["vertices"][10]["normal"] = {0, 0, 1};
            Load(scene);
            SetNormalTable(std::vector<std::array<float, 3>>(17, {0.0f, 0.0f, 0.0f}));
            job_->normals.normals[9][2] = 9.0e-7f;
            job_->normals.normals[10][2] = 1.0f;
            TheExportOptions().smoothingMode = mode;
            const std::string card = Block(Written(split), 1);
            const auto lines = LinesWith(card, "*MESH_VERTEXNORMAL");
            ASSERT_EQ(lines.size(), 12u);
            for (size_t k = 0; k < 12; ++k) {
                // Vertex 10 (the third corner of faces 0 and 2, the second of 1
                // and 3) has a direction in the three modes that read the
                // host's sums: it stays up.
                const bool vertex10 = k == 2 || k == 4 || k == 7 || k == 11;
                const bool up = k < 6 || (vertex10 && mode != SmoothFromScene);
                EXPECT_NE(lines[k].find(up ? "\t0.000000\t-1.000000\t0.000000" : "\t0.000000\t1.000000\t0.000000"), npos)
                    << lines[k];
            }
            // Apart only where the normals differ: the split layout makes
            // two vertices of each of the card's other three.
            EXPECT_EQ(NumberAfter(card, "*MESH_NUMVERTEX "), split ? (mode == SmoothFromScene ? 8 : 7) : 4);
        }
    }
}

// A plain reference of the per-group sums: for every corner, every face of the
// list compared with it.
std::vector<std::array<float, 3>> ReferenceGroupNormals(const HostContext* c, const ObjectFaceList& list) {
    std::vector<std::array<float, 3>> out;
    for (int f = 0; f < list.count; ++f) {
        const HostFace& face = FaceAt(c, list.refs[f]);
        for (int k = 0; k < CornerCountOf(face); ++k) {
            const int v = face.vertexIndices[k];
            double sum[3] = {0, 0, 0};
            if (face.smoothingGroup != 0 && v >= 0 && v < c->vertexCount) {
                for (int g = 0; g < list.count; ++g) {
                    const HostFace& other = FaceAt(c, list.refs[g]);
                    if (other.smoothingGroup != face.smoothingGroup) continue;
                    for (int j = 0; j < CornerCountOf(other); ++j) {
                        if (other.vertexIndices[j] != v) continue;
                        for (int a = 0; a < 3; ++a) sum[a] += other.normal[a];
                    }
                }
            }
            const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
            std::array<float, 3> n;
            for (int a = 0; a < 3; ++a) n[a] = length >= 1e-6 ? static_cast<float>(sum[a] / length) : face.normal[a];
            out.push_back(n);
        }
    }
    return out;
}

TEST_F(SmoothingTest, PerGroupSumsMatchAPlainReferenceOnRandomMeshes) {
    std::mt19937 rng(77);
    for (int round = 0; round < 40; ++round) {
        // Every fourth round the faces use a few vertices at both ends of a
        // long list, which the sums find by hash rather than by position.
        const bool sparse = round % 4 == 3;
        const int vertices = sparse ? 2000 : 1 + static_cast<int>(rng() % 30);
        Json scene;
        for (int i = 0; i < vertices; ++i) scene["vertices"].push_back({{"position", {i, 0, 0}}});
        scene["objects"] = Json::array({Json{{"name", "A"}}, Json{{"name", "B"}}});
        // Negative and very large groups, normals of either sign.
        std::uniform_int_distribution<int> near(0, vertices - 1), group(0, 4);
        const auto corner = [&](std::mt19937& r) { return sparse ? (r() % 2 ? 1990 : 0) + static_cast<int>(r() % 10) : near(r); };
        std::uniform_real_distribution<float> component(-1.0f, 1.0f);
        for (int f = 0; f < 60; ++f) {
            int g = group(rng);
            if (g == 4) g = rng() % 2 ? -7 : 1 << 30;
            scene["faceGroups"][0]["faces"].push_back(
                {{"objectIndex", static_cast<int>(rng() % 2)}, {"smoothingGroup", g},
                 {"vertexIndices", {corner(rng), corner(rng), corner(rng)}},
                 {"normal", {component(rng), component(rng), component(rng)}}});
        }
        Load(scene);
        // Now and then a corner naming no vertex, which sums with nothing.
        for (int f = 0; f < 60; f += 7) FaceOf(0, f).vertexIndices[f % 3] = f % 2 ? -1 : vertices;
        for (int object = 0; object < 2; ++object) {
            ObjectFaceList list;
            ASSERT_TRUE(GetObjectFaces(*job_, object, &list));
            const GroupCornerNormals normals(job_->allocator, context(), list);
            const auto expected = ReferenceGroupNormals(context(), list);
            size_t k = 0;
            for (int f = 0; f < list.count; ++f) {
                EXPECT_EQ(normals.At(f, 3), nullptr);
                for (int c = 0; c < 3; ++c, ++k) {
                    const float* n = normals.At(f, c);
                    ASSERT_NE(n, nullptr);
                    for (int a = 0; a < 3; ++a) EXPECT_NEAR(n[a], expected[k][a], 2e-6) << round << " " << f << " " << c;
                }
            }
        }
    }
}

}  // namespace
}  // namespace geomtest
