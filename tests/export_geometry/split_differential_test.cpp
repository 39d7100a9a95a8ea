// The split writer's hashed search against a plain linear-scan writer: on
// random scenes full of near-duplicate positions, equal and unequal texture
// coordinates, NaN, infinities and huge values, both must number every corner
// alike and write the same text.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "export/geometry/geometry_text.h"
#include "math/vecmath.h"
#include "plugin/plugin.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

struct RefVertex {
    int source;
    float position[3];
    float normal[3];
    float color[4];
    HostUv uv[2];
};

HostUv RefUv(const HostContext* ctx, const HostFace& face, int channel, int corner) {
    if (ctx->uvStore == nullptr || face.uvData == nullptr) return HostUv{0, 0, 0, -1};
    const HostUvChannel& store = ctx->uvStore->channels[channel];
    const int* indices = face.uvData->channels[channel].uvIndices;
    if (indices == nullptr || store.uvs == nullptr) return HostUv{0, 0, 0, -1};
    const int t = indices[corner];
    return t >= 0 && t < store.count ? store.uvs[t] : HostUv{0, 0, 0, -1};
}

struct RefResult {
    std::vector<int> corners;  // every corner of every face, in scan order
    int crossVertexMerges = 0;  // corners that found a vertex made by another host vertex
    int cornerTotal = 0;
};

// Numbers the corners by comparing each with every split vertex made so far,
// and writes the mesh blocks with the templates of the format.
int ReferenceSplitWriter(std::FILE* s, int objectIndex, int ordinal, RefResult* out) {
    HostContext* ctx = currentContext;
    const ExportOptions& o = TheExportOptions();
    const VertexNormalTable& table = TheVertexNormalTable();
    std::vector<const HostFace*> faces;
    for (int g = 0; g < ctx->faceGroupCount; ++g) {
        for (int f = 0; f < ctx->faceGroups[g].faceCount; ++f) {
            if (ctx->faceGroups[g].faces[f].objectIndex == objectIndex) faces.push_back(&ctx->faceGroups[g].faces[f]);
        }
    }
    std::vector<RefVertex> made;
    std::vector<std::array<int, 3>> abc;
    for (const HostFace* face : faces) {
        std::array<int, 3> three{0, 0, 0};
        for (int c = 0; c < face->cornerCount; ++c) {
            RefVertex v{};
            const int vi = face->vertexIndices[c];
            v.source = vi;
            if (vi >= 0 && vi < ctx->vertexCount) {
                std::memcpy(v.position, ctx->vertices[vi].position, sizeof v.position);
                std::memcpy(v.color, ctx->vertices[vi].color, sizeof v.color);
                std::memcpy(v.normal, table.normals[vi], sizeof v.normal);
            }
            v.uv[0] = RefUv(ctx, *face, 0, c);
            v.uv[1] = RefUv(ctx, *face, 1, c);
            int found = -1;
            for (size_t i = 0; i < made.size() && found < 0; ++i) {
                const RefVertex& m = made[i];
                if (o.exportMultipleUvSets == 1) {
                    if (!(v.uv[0].u == m.uv[0].u && v.uv[0].v == m.uv[0].v && v.uv[1].u == m.uv[1].u &&
                          v.uv[1].v == m.uv[1].v))
                        continue;
                } else if (o.exportTextureCoords == 1) {
                    if (!(v.uv[0].u == m.uv[0].u && v.uv[0].v == m.uv[0].v)) continue;
                }
                if (o.exportVertexColors == 1 &&
                    !(v.color[0] == m.color[0] && v.color[1] == m.color[1] && v.color[2] == m.color[2]))
                    continue;
                const Vec3 a{v.position[0], v.position[1], v.position[2]};
                const Vec3 b{m.position[0], m.position[1], m.position[2]};
                if (Vec3NearlyEqual(&a, &b)) found = static_cast<int>(i);
            }
            if (found < 0) {
                found = static_cast<int>(made.size());
                made.push_back(v);
            } else if (made[found].source != vi) {
                ++out->crossVertexMerges;
            }
            out->corners.push_back(found);
            if (c < 3) three[c] = found;
            ++out->cornerTotal;
        }
        abc.push_back(three);
    }

    if (!WriteNodeHeader(s, ctx->objects[objectIndex])) return 0;
    const int n = static_cast<int>(made.size());
    const int fc = static_cast<int>(faces.size());
    WritePiece(s, "\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n", n, fc);
    WritePiece(s, "\t\t*MESH_VERTEX_LIST {\n");
    for (int i = 0; i < n; ++i) {
        const float* p = made[i].position;
        WritePiece(s, "\t\t\t*MESH_VERTEX %4d\t%f\t%f\t%f\n", i, p[0], -p[2], p[1]);
    }
    WritePiece(s, "\t\t}\n\t\t*MESH_FACE_LIST {\n");
    const bool bySmoothing = o.smoothingMode == 1 || o.smoothingMode == 2;
    for (int f = 0; f < fc; ++f) {
        int mtl = 0;
        const HostObject& obj = ctx->objects[objectIndex];
        for (int j = 0; o.exportMaterials == 1 && j < obj.materialRefCount; ++j) {
            if (obj.materialRefs[j].materialIndex == faces[f]->materialIndex) {
                mtl = j;
                break;
            }
        }
        WritePiece(s, "\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB: %4d BC: %4d CA: %4d\t*MESH_SMOOTHING %d\t*MESH_MTLID %d\n",
                   f, abc[f][0], abc[f][1], abc[f][2], 1, 1, 0, bySmoothing ? faces[f]->smoothingGroup : 1, mtl);
    }
    WritePiece(s, "\t\t}\n");
    for (int ch = 0; ch < 2 && o.exportTextureCoords == 1 && (ch == 0 || o.exportMultipleUvSets == 1); ++ch) {
        const std::string in(ch, '\t');
        if (ch == 1) WritePiece(s, "\t\t*MESH_MAPPINGCHANNEL 2 {\n");
        WritePiece(s, (in + "\t\t*MESH_NUMTVERTEX %d\n" + in + "\t\t*MESH_TVERTLIST {\n").c_str(), n);
        for (int i = 0; i < n; ++i) {
            const float v = 1.0f - made[i].uv[ch].v;
            WritePiece(s, (in + "\t\t\t*MESH_TVERT %d\t%f\t%f\t0.0\n").c_str(), i, made[i].uv[ch].u, v);
        }
        WritePiece(s, (in + "\t\t}\n" + in + "\t\t*MESH_NUMTVFACES %d\n" + in + "\t\t*MESH_TFACELIST {\n").c_str(), fc);
        for (int f = 0; f < fc; ++f) {
            WritePiece(s, (in + "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n").c_str(), f, abc[f][0], abc[f][1], abc[f][2]);
        }
        WritePiece(s, "%s", (in + "\t\t}\n").c_str());
        if (ch == 1) WritePiece(s, "\t\t}\n");
    }
    if (o.exportVertexColors == 1) {
        WritePiece(s, "\t\t*MESH_NUMCVERTEX %d\n\t\t*MESH_CVERTLIST {\n", n);
        for (int i = 0; i < n; ++i) {
            WritePiece(s, "\t\t\t*MESH_VERTCOL %d\t%f\t%f\t%f\n", i, made[i].color[0], made[i].color[1], made[i].color[2]);
        }
        WritePiece(s, "\t\t}\n\t\t*MESH_NUMCVFACES %d\n\t\t*MESH_CFACELIST {\n", fc);
        for (int f = 0; f < fc; ++f) WritePiece(s, "\t\t\t*MESH_CFACE %d\t%d\t%d\t%d\n", f, abc[f][0], abc[f][1], abc[f][2]);
        WritePiece(s, "\t\t}\n");
    }
    if (o.exportVertexNormals == 1) {
        WritePiece(s, "\t\t*MESH_NORMALS {\n");
        for (int f = 0; f < fc; ++f) {
            const float* fn = faces[f]->normal;
            WritePiece(s, "\t\t\t*MESH_FACENORMAL %d\t%f\t%f\t%f\n", f, fn[0], -fn[2], fn[1]);
            for (int k = 0; k < 3; ++k) {
                const float* vn = o.useFaceNormals == 1 ? fn : made[abc[f][k]].normal;
                WritePiece(s, "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f\n", abc[f][k], vn[0], -vn[2], vn[1]);
            }
        }
        WritePiece(s, "\t\t}\n");
    }
    WritePiece(s, "\t}\n");
    return WriteObjectTail(s, ordinal);
}

// Positions in a few clusters whose centres sit on and around grid lines of
// several spacings, each component offset just inside or just outside the
// tolerance, and now and then a value that matches nothing or only itself.
void RandomPosition(std::mt19937& rng, float out[3]) {
    static const double anchors[] = {0.0, 5e-4, -5e-4, 1e-3, 2.5e-4, 1.0, -1.0, 1000.0, 1023.99994, 2047.9999, 12.3456};
    static const double offsets[] = {0,       5e-5,     -5e-5,     9.99e-5,  -9.99e-5, 1e-4,
                                     -1e-4,   1.0001e-4, -1.0001e-4, 1.5e-4, -2e-4,   3e-7};
    const int cluster = std::uniform_int_distribution<int>(0, 5)(rng);
    for (int a = 0; a < 3; ++a) {
        const int special = std::uniform_int_distribution<int>(0, 299)(rng);
        static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(), 1.0e13f, -3.0e38f, -0.0f};
        if (special < int(std::size(kSpecial))) {
            out[a] = kSpecial[special];
            continue;
        }
        const double anchor = anchors[(cluster * 3 + a * 5) % std::size(anchors)];
        const double offset = offsets[std::uniform_int_distribution<size_t>(0, std::size(offsets) - 1)(rng)];
        out[a] = static_cast<float>(anchor + offset);
    }
}

float RandomUvValue(std::mt19937& rng) {
    static const float values[] = {0.0f, -0.0f, 0.5f, 1.0f, 0.25f, std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN(), 0.5f};
    return values[std::uniform_int_distribution<size_t>(0, std::size(values) - 1)(rng)];
}

class SplitDifferentialTest : public GeometryExportTest {
protected:
    // A scene of two objects over `vertexCount` vertices; faces use random
    // vertices, random UV indices (some outside the store) in both channels.
    void LoadRandomScene(std::mt19937& rng, int vertexCount, int faceCount) {
        Json scene;
        for (int i = 0; i < vertexCount; ++i) scene["vertices"].push_back(Vertex(0, 0, 0));
        const int uvCounts[2] = {8, 6};
        for (int c = 0; c < 2; ++c) {
            Json list = Json::array();
            for (int i = 0; i < uvCounts[c]; ++i) list.push_back({0, 0});
            scene["uvStore"].push_back(list);
        }
        scene["materials"] = Json::array({Json{{"name", "a"}}, Json{{"name", "b"}}});
        scene["objects"] = Json::array({Json{{"name", "R0"}}, Json{{"name", "R1"}}});
        std::uniform_int_distribution<int> pickVertex(0, vertexCount - 1);
        Json faces = Json::array();
        for (int f = 0; f < faceCount; ++f) {
            std::vector<int> v, t0, t1;
            for (int k = 0; k < 3; ++k) {
                v.push_back(pickVertex(rng));
                t0.push_back(std::uniform_int_distribution<int>(0, uvCounts[0] - 1)(rng));
                t1.push_back(std::uniform_int_distribution<int>(0, uvCounts[1] - 1)(rng));
            }
            const int object = std::uniform_int_distribution<int>(0, 4)(rng) == 0 ? 1 : 0;
            faces.push_back(Face(object, v, t0, t1, std::uniform_int_distribution<int>(-1, 1)(rng), f % 5,
                                 {float(f % 3), 1, 0}));
        }
        scene["faceGroups"] = Json::array({Json{{"faces", faces}}});
        Load(scene);
        for (int i = 0; i < vertexCount; ++i) {
            HostVertex& vertex = context()->vertices[i];
            RandomPosition(rng, vertex.position);
            // Few distinct colours: corners of equal colour still merge
            // across host vertices, those of different colours must not.
            vertex.color[0] = float(i % 3) / 2.0f;
        }
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < uvCounts[c]; ++i) {
                context()->uvStore->channels[c].uvs[i].u = RandomUvValue(rng);
                context()->uvStore->channels[c].uvs[i].v = RandomUvValue(rng);
            }
        }
        for (int f = 0; f < faceCount; ++f) {
            HostFace& face = FaceOf(0, f);
            for (int k = 0; k < 3; ++k) {
                if (std::uniform_int_distribution<int>(0, 29)(rng) == 0) face.uvData->channels[k % 2].uvIndices[k] = 40;
            }
        }
        // Vertex normals: each its own, so that merged vertices show whose
        // data they kept.
        std::vector<std::array<float, 3>> entries;
        for (int i = 0; i < vertexCount; ++i) entries.push_back({float(i), 0.5f, -float(i)});
        SetNormalTable(entries);
    }

    std::vector<int> ExportCornersOf(int objectIndex) {
        std::vector<int> corners;
        const HostFaceGroup& group = context()->faceGroups[0];
        for (int f = 0; f < group.faceCount; ++f) {
            if (group.faces[f].objectIndex != objectIndex) continue;
            corners.insert(corners.end(), group.faces[f].exportCorners, group.faces[f].exportCorners + 3);
        }
        return corners;
    }
};

TEST_F(SplitDifferentialTest, HashedSearchNumbersAndWritesLikeTheLinearScan) {
    int crossMerges = 0;
    int corners = 0;
    int written = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        LoadRandomScene(rng, 150 + 40 * static_cast<int>(seed), 500);
        for (int combo = 0; combo < 4; ++combo) {
            TheExportOptions().exportMultipleUvSets = combo & 1;
            TheExportOptions().exportTextureCoords = (combo >> 1) & 1;
            TheExportOptions().smoothingMode = static_cast<int>(seed % 3);
            for (int object = 0; object < 2; ++object) {
                int fastResult = 0;
                const std::string fast = Split(object, object, &fastResult);
                const std::vector<int> fastCorners = ExportCornersOf(object);
                RefResult ref;
                int refResult = 0;
                const std::string slow = Capture(
                    [&](std::FILE* f) { return ReferenceSplitWriter(f, object, object, &ref); }, &refResult);
                ASSERT_EQ(fastResult, 1);
                ASSERT_EQ(refResult, 1);
                ASSERT_EQ(fastCorners, ref.corners) << "seed " << seed << " combo " << combo << " object " << object;
                ASSERT_EQ(fast, slow) << "seed " << seed << " combo " << combo << " object " << object;
                crossMerges += ref.crossVertexMerges;
                corners += ref.cornerTotal;
                written += std::stoi(LinesWith(fast, "*MESH_NUMVERTEX ").at(0).substr(18));
            }
        }
    }
    // The scenes exercise both outcomes: corners of different host vertices
    // merging within the tolerance, and corners kept apart.
    EXPECT_GT(crossMerges, 1000);
    EXPECT_LT(written, corners);
    EXPECT_GT(written, corners / 10);
}

}  // namespace
}  // namespace geomtest
