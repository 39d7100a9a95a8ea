// The mesh blocks' direct line formatting against the format strings it
// replaces, run through WritePiece's interpreter: random meshes whose numbers
// include -0, rounding ties, huge and tiny values, NaN and infinities, and
// corner numbers of any sign and size, under every option set.
#include <bit>
#include <limits>
#include <random>

#include "export/geometry/geometry_text.h"
#include "tests/export_geometry/export_fixture.h"

namespace geomtest {
namespace {

// The mesh block writer as it was, one WritePiece per line.
struct InterpretedListText {
    const char* vertexHeader;  // %d: count
    const char* vertex;        // %d, %f u, %f 1 - v
    const char* listEnd;
    const char* faceHeader;  // %d: face count
    const char* face;        // %d face, three corner numbers
};

constexpr InterpretedListText kFirstChannel = {
    "\t\t*MESH_NUMTVERTEX %d\n\t\t*MESH_TVERTLIST {\n", "\t\t\t*MESH_TVERT %d\t%f\t%f\t0.0\n", "\t\t}\n",
    "\t\t*MESH_NUMTVFACES %d\n\t\t*MESH_TFACELIST {\n", "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n"};
constexpr InterpretedListText kSecondChannel = {
    "\t\t\t*MESH_NUMTVERTEX %d\n\t\t\t*MESH_TVERTLIST {\n", "\t\t\t\t*MESH_TVERT %d\t%f\t%f\t0.0\n", "\t\t\t}\n",
    "\t\t\t*MESH_NUMTVFACES %d\n\t\t\t*MESH_TFACELIST {\n", "\t\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n"};
constexpr InterpretedListText kColors = {nullptr, nullptr, "\t\t}\n", "\t\t*MESH_NUMCVFACES %d\n\t\t*MESH_CFACELIST {\n",
                                        "\t\t\t*MESH_CFACE %d\t%d\t%d\t%d\n"};

// Texture vertices 0..count-1 of one channel, written as u and 1 - v.
template <class UvAt>
int InterpretedTextureList(std::FILE* stream, const InterpretedListText& text, int count, const UvAt& uvAt) {
    if (!WritePiece(stream, text.vertexHeader, count)) return 0;
    for (int i = 0; i < count; ++i) {
        const HostUv uv = uvAt(i);
        const float v = 1.0f - uv.v;
        if (!WritePiece(stream, text.vertex, i, uv.u, v)) return 0;
    }
    return WritePiece(stream, "%s", text.listEnd);
}

// One line per face with the face's corner numbers in `list`.
template <class Source>
int InterpretedFaceList(std::FILE* stream, const InterpretedListText& text, const Source& src, CornerList list) {
    if (!WritePiece(stream, text.faceHeader, src.FaceCount())) return 0;
    int c[3];
    for (int f = 0; f < src.FaceCount(); ++f) {
        src.Corners(f, list, c);
        if (!WritePiece(stream, text.face, f, c[0], c[1], c[2])) return 0;
    }
    return WritePiece(stream, "%s", text.listEnd);
}

// The values one writer exports; a Source provides
//   int VertexCount(), const float* Position(i), const float* Color(i),
//   const float* CornerNormal(f, k) (null for a corner naming no vertex),
//   int Uv0Count(), HostUv Uv0(i), int Uv1Count(), HostUv Uv1(i),
//   int FaceCount(), void Corners(f, CornerList, int out[3]),
//   const float* FaceNormal(f), int Smoothing(f), int MaterialIndex(f).
template <class Source>
int InterpretedMeshBlocks(std::FILE* stream, const ExportOptions& options, const Source& src, const MaterialIdMap& materials) {
    const int vertexCount = src.VertexCount();
    const int faceCount = src.FaceCount();
    const bool smoothByGroup = options.smoothingMode == SmoothPerGroup || options.smoothingMode == SmoothPerAngle ||
                               options.smoothingMode == SmoothFromScene;
    int c[3];

    if (!WritePiece(stream, "\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n", vertexCount,
                    faceCount))
        return 0;

    if (!WritePiece(stream, "\t\t*MESH_VERTEX_LIST {\n")) return 0;
    for (int i = 0; i < vertexCount; ++i) {
        const float* p = src.Position(i);
        if (!WritePiece(stream, "\t\t\t*MESH_VERTEX %4d\t%f\t%f\t%f\n", i, p[0], -p[2], p[1])) return 0;
    }
    if (!WritePiece(stream, "\t\t}\n")) return 0;

    if (!WritePiece(stream, "\t\t*MESH_FACE_LIST {\n")) return 0;
    for (int f = 0; f < faceCount; ++f) {
        src.Corners(f, CornerList::Vertex, c);
        const int smoothing = smoothByGroup ? src.Smoothing(f) : 1;
        if (!WritePiece(stream,
                        "\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB: %4d BC: %4d CA: %4d\t*MESH_SMOOTHING "
                        "%d\t*MESH_MTLID %d\n",
                        f, c[0], c[1], c[2], 1, 1, 0, smoothing, materials.Lookup(src.MaterialIndex(f))))
            return 0;
    }
    if (!WritePiece(stream, "\t\t}\n")) return 0;

    if (options.exportTextureCoords == 1) {
        const auto uv0 = [&](int i) { return src.Uv0(i); };
        if (!InterpretedTextureList(stream, kFirstChannel, src.Uv0Count(), uv0)) return 0;
        if (!InterpretedFaceList(stream, kFirstChannel, src, CornerList::Uv0)) return 0;
        if (options.exportMultipleUvSets == 1) {
            const auto uv1 = [&](int i) { return src.Uv1(i); };
            if (!WritePiece(stream, "\t\t*MESH_MAPPINGCHANNEL %d {\n", 2)) return 0;
            if (!InterpretedTextureList(stream, kSecondChannel, src.Uv1Count(), uv1)) return 0;
            if (!InterpretedFaceList(stream, kSecondChannel, src, CornerList::Uv1)) return 0;
            if (!WritePiece(stream, "\t\t}\n")) return 0;
        }
    }

    if (options.exportVertexColors == 1) {
        if (!WritePiece(stream, "\t\t*MESH_NUMCVERTEX %d\n\t\t*MESH_CVERTLIST {\n", vertexCount)) return 0;
        for (int i = 0; i < vertexCount; ++i) {
            const float* rgb = src.Color(i);
            if (!WritePiece(stream, "\t\t\t*MESH_VERTCOL %d\t%f\t%f\t%f\n", i, rgb[0], rgb[1], rgb[2])) return 0;
        }
        if (!WritePiece(stream, "%s", kColors.listEnd)) return 0;
        if (!InterpretedFaceList(stream, kColors, src, CornerList::Vertex)) return 0;
    }

    if (options.exportVertexNormals == 1) {
        static const float kZero[3] = {0.0f, 0.0f, 0.0f};
        if (!WritePiece(stream, "\t\t*MESH_NORMALS {\n")) return 0;
        for (int f = 0; f < faceCount; ++f) {
            src.Corners(f, CornerList::Vertex, c);
            const float* fn = src.FaceNormal(f);
            const float* n[3];
            for (int k = 0; k < 3; ++k) {
                n[k] = options.useFaceNormals == 1 ? fn : src.CornerNormal(f, k);
                if (n[k] == nullptr) n[k] = kZero;
            }
            if (!WritePiece(stream,
                            "\t\t\t*MESH_FACENORMAL %d\t%f\t%f\t%f\n"
                            "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f\n"
                            "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f\n"
                            "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f\n",
                            f, fn[0], -fn[2], fn[1], c[0], n[0][0], -n[0][2], n[0][1], c[1], n[1][0], -n[1][2],
                            n[1][1], c[2], n[2][0], -n[2][2], n[2][1]))
                return 0;
        }
        if (!WritePiece(stream, "\t\t}\n")) return 0;
    }

    return WritePiece(stream, "\t}\n");
}

// A mesh of random numbers in the shape a writer's Source has.
struct RandomSource {
    std::vector<std::array<float, 3>> positions, colors, normals, faceNormals;
    std::vector<HostUv> uv0, uv1;
    std::vector<std::array<int, 9>> corners;  // vertex, uv0, uv1 lists
    std::vector<int> smoothing, materials;

    int VertexCount() const { return static_cast<int>(positions.size()); }
    const float* Position(int i) const { return positions[i].data(); }
    const float* Color(int i) const { return colors[i].data(); }
    const float* CornerNormal(int f, int k) const {
        const int i = corners[f][k];
        return i >= 0 && i < VertexCount() ? normals[i].data() : nullptr;
    }
    int Uv0Count() const { return static_cast<int>(uv0.size()); }
    HostUv Uv0(int i) const { return uv0[i]; }
    int Uv1Count() const { return static_cast<int>(uv1.size()); }
    HostUv Uv1(int i) const { return uv1[i]; }
    int FaceCount() const { return static_cast<int>(corners.size()); }
    void Corners(int f, CornerList list, int out[3]) const {
        const int base = list == CornerList::Vertex ? 0 : list == CornerList::Uv0 ? 3 : 6;
        std::copy_n(corners[f].data() + base, 3, out);
    }
    const float* FaceNormal(int f) const { return faceNormals[f].data(); }
    int Smoothing(int f) const { return smoothing[f]; }
    int MaterialIndex(int f) const { return materials[f]; }
};

float RandomFloat(std::mt19937& rng) {
    const float specials[] = {0.0f, -0.0f, std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::max(), -std::numeric_limits<float>::denorm_min(),
                              999999999.0f, 1.0e9f, 0.0000005f, -0.0000015f, 0.9999995f};
    switch (rng() % 5) {
        case 0: return specials[rng() % std::size(specials)];
        case 1: return std::bit_cast<float>(static_cast<uint32_t>(rng()));  // any bits
        case 2: {  // dyadic fractions, many of them ties at the sixth decimal
            const float value = static_cast<float>(rng() % 4000000) / static_cast<float>(1u << (7 + rng() % 14));
            return rng() % 2 ? value : -value;
        }
        default: return std::uniform_real_distribution<float>(-1000.0f, 1000.0f)(rng);
    }
}

int RandomInt(std::mt19937& rng) {
    const int specials[] = {0, -1, 9999, 10000, -999, -1000, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
    return rng() % 3 == 0 ? specials[rng() % std::size(specials)] : static_cast<int>(rng() % 20000) - 100;
}

TEST(LineFormatting, DirectLinesAreTheBytesOfTheirFormatStringsForAnyNumbers) {
    std::mt19937 rng(2024);
    const auto triple = [&] { return std::array<float, 3>{RandomFloat(rng), RandomFloat(rng), RandomFloat(rng)}; };
    HostMaterialRef refs[] = {{4, 0}, {-2, 0}, {4, 0}, {9, 0}};
    const HostObject object{{}, 0, 4, refs};
    JobAllocator allocator;
    int lines = 0;
    for (int round = 0; round < 64; ++round) {
        RandomSource src;
        const int vertices = static_cast<int>(rng() % 40), faces = static_cast<int>(rng() % 40);
        for (int i = 0; i < vertices; ++i) {
            src.positions.push_back(triple());
            src.colors.push_back(triple());
            src.normals.push_back(triple());
        }
        for (int i = 0; i < static_cast<int>(rng() % 30); ++i) src.uv0.push_back({0, RandomFloat(rng), RandomFloat(rng), -1});
        for (int i = 0; i < static_cast<int>(rng() % 30); ++i) src.uv1.push_back({0, RandomFloat(rng), RandomFloat(rng), -1});
        for (int f = 0; f < faces; ++f) {
            std::array<int, 9> c;
            for (int& n : c) n = rng() % 4 == 0 ? RandomInt(rng) : static_cast<int>(rng() % (vertices + 1));
            src.corners.push_back(c);
            src.faceNormals.push_back(triple());
            src.smoothing.push_back(RandomInt(rng));
            src.materials.push_back(static_cast<int>(rng() % 12) - 2);
        }
        // Every flag on or off (a flag counts only when it is 1), and every smoothing mode.
        const int bits = round % 32;
        const ExportOptions options{.exportMaterials = bits & 1, .exportTextureCoords = (bits >> 1) & 1,
                                    .exportVertexNormals = (bits >> 2) & 1, .exportVertexColors = (bits >> 3) & 1,
                                    .exportMultipleUvSets = (bits >> 4) & 1, .useFaceNormals = round % 3 == 0 ? 1 : 2,
                                    .smoothingMode = round % 5};
        const MaterialIdMap materials(allocator, object, options.exportMaterials == 1);
        int direct = 0, interpreted = 0;
        const std::string expected =
            Capture([&](std::FILE* f) { return InterpretedMeshBlocks(f, options, src, materials); }, &interpreted);
        ASSERT_EQ(Capture([&](std::FILE* f) { return WriteMeshBlocks(f, options, src, materials); }, &direct), expected)
            << "round " << round;
        EXPECT_EQ(std::pair(direct, interpreted), std::pair(1, 1));
        lines += static_cast<int>(std::count(expected.begin(), expected.end(), '\n'));
    }
    EXPECT_GT(lines, 5000);

    // A stream that refuses writes fails the block, as a refused piece did.
    RandomSource one;
    one.positions = one.colors = one.normals = {{1, 2, 3}};
    std::FILE* readOnly = std::fopen(ASE_TEST_DATA_DIR "/export/geometry_scene.json", "rb");
    ASSERT_NE(readOnly, nullptr);
    const MaterialIdMap none(allocator, object, false);
    EXPECT_EQ(WriteMeshBlocks(readOnly, ExportOptions{}, one, none), 0);
    std::fclose(readOnly);
}

}  // namespace
}  // namespace geomtest
