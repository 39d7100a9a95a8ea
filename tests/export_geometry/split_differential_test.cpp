// The split writer's hashed search against a plain linear scan on random scenes
// of near-duplicate positions, equal and unequal UVs, a few colours and
// normals, UV indices outside the store, NaN, infinities and huge values,
// under every option set.
#include <algorithm>
#include <limits>
#include <random>

#include "export/geometry/geometry_text.h"
#include "math/vecmath.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

bool SameUv(const HostUv& a, const HostUv& b) { return a.u == b.u && a.v == b.v; }

// One object's split vertices made by comparing each corner with every vertex so
// far: UVs as the options select, the written colour when colours are written,
// the normal when vertex normals are written from the vertices, position
// within the tolerance. Also the Source WriteMeshBlocks writes from.
struct ReferenceMesh {
    struct Made { const HostVertex* host; const float* normal; HostUv uv[2]; };

    ReferenceMesh(const ExportJob& job, int object) {
        const HostContext* ctx = job.context;
        const ExportOptions& o = job.options;
        const bool both = o.exportMultipleUvSets == 1;
        const bool first = both || o.exportTextureCoords == 1;
        const bool normals = o.exportVertexNormals == 1 && o.useFaceNormals != 1;
        for (int f = 0; f < ctx->faceGroups[0].faceCount; ++f) {
            if (ctx->faceGroups[0].faces[f].objectIndex == object) faces.push_back(&ctx->faceGroups[0].faces[f]);
        }
        for (const HostFace* face : faces) {
            written.insert(written.end(), face->exportCorners, face->exportCorners + 3);
            for (int c = 0; c < 3; ++c) {
                const int source = face->vertexIndices[c];
                Made v{&ctx->vertices[source], job.normals.normals[source], {}};
                for (int ch = 0; ch < 2; ++ch) {
                    const int t = face->uvData->channels[ch].uvIndices[c];
                    const HostUvChannel& store = ctx->uvStore->channels[ch];
                    v.uv[ch] = t >= 0 && t < store.count ? store.uvs[t] : HostUv{0, 0, 0, -1};
                }
                size_t i = 0;
                for (; i < made.size(); ++i) {
                    const float* p = v.host->position;
                    if ((!first || SameUv(v.uv[0], made[i].uv[0])) && (!both || SameUv(v.uv[1], made[i].uv[1])) &&
                        (o.exportVertexColors != 1 || std::equal(v.host->color, v.host->color + 3, made[i].host->color)) &&
                        (!normals || std::equal(v.normal, v.normal + 3, made[i].normal)) &&
                        std::equal(p, p + 3, made[i].host->position, FloatNearlyEqual))
                        break;
                }
                if (i == made.size()) made.push_back(v);
                crossMerges += made[i].host != v.host;
                corners.push_back(static_cast<int>(i));
            }
        }
    }

    int VertexCount() const { return static_cast<int>(made.size()); }
    const float* Position(int i) const { return made[i].host->position; }
    const float* Color(int i) const { return made[i].host->color; }
    const float* CornerNormal(int f, int k) const { return made[corners[3 * f + k]].normal; }
    int Uv0Count() const { return VertexCount(); }
    HostUv Uv0(int i) const { return made[i].uv[0]; }
    int Uv1Count() const { return VertexCount(); }
    HostUv Uv1(int i) const { return made[i].uv[1]; }
    int FaceCount() const { return static_cast<int>(faces.size()); }
    void Corners(int f, CornerList, int out[3]) const { std::copy_n(&corners[3 * f], 3, out); }
    const float* FaceNormal(int f) const { return faces[f]->normal; }
    int Smoothing(int f) const { return faces[f]->smoothingGroup; }
    int MaterialIndex(int f) const { return faces[f]->materialIndex; }

    std::vector<const HostFace*> faces;
    std::vector<Made> made;
    std::vector<int> corners;  // three per face
    std::vector<int> written;  // the exportCorners the writer left on the faces
    int crossMerges = 0;       // corners that took a vertex made by another host vertex
};

TEST_F(GeometryExportTest, SplitWritersHashedSearchNumbersAndWritesLikeTheLinearScan) {
    // Two objects of random triangles over vertices in clusters centred on and
    // around grid lines of several spacings, each coordinate just inside or
    // outside the tolerance, now and then a value matching nothing or only itself.
    const auto loadRandomScene = [&](std::mt19937& rng, int vertexCount, int faceCount) {
        const auto pick = [&rng](int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng); };
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const double anchors[] = {0.0, 5e-4, -5e-4, 1e-3, 2.5e-4, 1.0, -1.0, 1000.0, 1023.99994, 2047.9999, 12.3456};
        const double offsets[] = {0, 5e-5, -5e-5, 9.99e-5, -9.99e-5, 1e-4, -1e-4, 1.0001e-4, -1.0001e-4, 1.5e-4, -2e-4, 3e-7};
        const float specials[] = {nan, inf, -inf, 1.0e13f, -3.0e38f, -0.0f};
        const float uvValues[] = {0.0f, -0.0f, 0.5f, 1.0f, 0.25f, inf, nan, 0.5f};
        Json scene;
        scene["vertices"] = std::vector<Json>(vertexCount, Json{{"position", {0, 0, 0}}});
        scene["uvStore"] = {std::vector<std::array<float, 2>>(8), std::vector<std::array<float, 2>>(6)};
        scene["objects"] = Json::array({Json{{"name", "R0"}}, Json{{"name", "R1"}}});
        const auto three = [&](int last) { return std::vector<int>{pick(0, last), pick(0, last), pick(0, last)}; };
        for (int f = 0; f < faceCount; ++f) {
            const std::vector<int> v = three(vertexCount - 1), t0 = three(7), t1 = three(5);
            const int object = pick(0, 4) == 0;
            scene["faceGroups"][0]["faces"].push_back(Face(object, v, t0, t1, f % 5, {float(f % 3), 1, 0}));
        }
        Load(scene);
        std::vector<std::array<float, 3>> normals;
        for (int i = 0; i < vertexCount; ++i) {
            HostVertex& vertex = context()->vertices[i];
            const int cluster = pick(0, 5);
            for (int a = 0; a < 3; ++a) {
                const int special = pick(0, 299);
                vertex.position[a] = special < 6 ? specials[special]
                                                 : static_cast<float>(anchors[(cluster * 3 + a * 5) % 11] + offsets[pick(0, 11)]);
            }
            // Three colours that differ in two components each, and an alpha
            // that is not written and so must not keep corners apart.
            std::fill_n(vertex.color, 3, 1.0f);
            vertex.color[i % 3] = 0.5f;
            vertex.color[3] = float(pick(0, 1));
            // Four normals, two of them equal but for the sign of a zero.
            const std::array<float, 3> kNormals[] = {{0, 0, 1}, {-0.0f, 0, 1}, {1, 0, 0}, {0, 0.6f, 0.8f}};
            normals.push_back(kNormals[pick(0, 3)]);
        }
        SetNormalTable(normals);
        for (HostUvChannel& channel : context()->uvStore->channels) {
            for (int i = 0; i < channel.count; ++i) channel.uvs[i] = {0, uvValues[pick(0, 7)], uvValues[pick(0, 7)], -1};
        }
        for (int k = 0; k < 3 * faceCount; ++k) {
            if (pick(0, 29) == 0) FaceOf(0, k / 3).uvData->channels[k % 2].uvIndices[k % 3] = k % 2 == 0 ? 40 : -3;
        }
    };

    int crossMerges = 0, corners = 0, made = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 rng(seed);
        loadRandomScene(rng, 150 + 40 * static_cast<int>(seed), 500);
        for (int options = 0; options < 8; ++options) {
            TheExportOptions() = {.exportTextureCoords = options & 1,
                                  .exportVertexNormals = (seed + static_cast<unsigned>(options)) % 3 != 0,
                                  .exportVertexColors = (options >> 1) & 1,
                                  .exportMultipleUvSets = (options >> 2) & 1, .useFaceNormals = seed % 4 == 3,
                                  .smoothingMode = static_cast<int>(seed % 3)};
            for (int object = 0; object < 2; ++object) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " options " << options << " object " << object);
                int result = 0;
                const std::string text = Split(object, object, &result);
                ASSERT_EQ(result, 1);
                const ReferenceMesh reference(*job_, object);
                ASSERT_EQ(reference.written, reference.corners);
                const MaterialIdMap materials(job_->allocator, context()->objects[object], job_->options.exportMaterials == 1);
                const std::string mesh =
                    Capture([&](std::FILE* f) { return WriteMeshBlocks(f, job_->options, reference, materials); });
                const size_t start = text.find("\t*MESH {");
                ASSERT_NE(start, npos);
                ASSERT_EQ(text.substr(start, text.find("\t*PROP_MOTIONBLUR") - start), mesh);
                crossMerges += reference.crossMerges;
                corners += static_cast<int>(reference.corners.size());
                made += reference.VertexCount();
            }
        }
    }
    // The scenes exercise both outcomes: corners of different host vertices
    // merging within the tolerance, and corners kept apart.
    EXPECT_GT(crossMerges, 1000);
    EXPECT_LT(made, corners);
    EXPECT_GT(made, corners / 10);
}

}  // namespace
}  // namespace geomtest
