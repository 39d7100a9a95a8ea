// The text of a *GEOMOBJECT block, shared by both geometry writers: the node
// header, the mesh blocks and the closing lines. Every piece goes out through
// WritePiece; a function returns 1 when all its pieces were written and stops
// at the first piece that was not.
#pragma once

#include <cstdio>
#include <utility>
#include <vector>

#include "export/export_job.h"
#include "plugin/host_api.h"
#include "plugin/job.h"

// Which list a face's corner numbers index.
enum class CornerList { Vertex, Uv0, Uv1 };

// Writes the node header of the object (name, identity node matrix).
int WriteNodeHeader(std::FILE* stream, const HostObject& object);

// Writes the property lines, the material reference (when materials are
// exported) and the closing brace of the object.
int WriteObjectTail(std::FILE* stream, const ExportOptions& options, int materialOrdinal);

// Maps a face's material index to the position of the first entry of the
// object's material references that names it, 0 when none does, and 0 for
// every face when materials are not exported.
class MaterialIdMap {
public:
    // Throws std::bad_alloc.
    MaterialIdMap(JobAllocator& allocator, const HostObject& object, bool exportMaterials);
    int Lookup(int materialIndex) const;

private:
    using Entry = std::pair<int, int>;  // (material index, first position)
    std::vector<Entry, JobStdAllocator<Entry>> sorted_;
};

// The formats of a list of per-face corner numbers (texture or colour faces)
// and of the texture-vertex list of one channel.
struct ListText {
    const char* vertexHeader;  // %d: count
    const char* vertex;        // %d, %f u, %f 1 - v
    const char* listEnd;
    const char* faceHeader;  // %d: face count
    const char* face;        // %d face, three corner numbers
};

inline constexpr ListText kFirstChannelText = {
    "\t\t*MESH_NUMTVERTEX %d\n\t\t*MESH_TVERTLIST {\n", "\t\t\t*MESH_TVERT %d\t%f\t%f\t0.0\n", "\t\t}\n",
    "\t\t*MESH_NUMTVFACES %d\n\t\t*MESH_TFACELIST {\n", "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n"};
inline constexpr ListText kSecondChannelText = {
    "\t\t\t*MESH_NUMTVERTEX %d\n\t\t\t*MESH_TVERTLIST {\n", "\t\t\t\t*MESH_TVERT %d\t%f\t%f\t0.0\n", "\t\t\t}\n",
    "\t\t\t*MESH_NUMTVFACES %d\n\t\t\t*MESH_TFACELIST {\n", "\t\t\t\t*MESH_TFACE %d\t%d\t%d\t%d\n"};
inline constexpr ListText kColorText = {nullptr, nullptr, "\t\t}\n", "\t\t*MESH_NUMCVFACES %d\n\t\t*MESH_CFACELIST {\n",
                                        "\t\t\t*MESH_CFACE %d\t%d\t%d\t%d\n"};

// Texture vertices 0..count-1 of one channel, written as u and 1 - v.
template <class UvAt>
int WriteTextureList(std::FILE* stream, const ListText& text, int count, const UvAt& uvAt) {
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
int WriteFaceList(std::FILE* stream, const ListText& text, const Source& src, CornerList list) {
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
//   const float* VertexNormal(i) (null for a number outside the list),
//   int Uv0Count(), HostUv Uv0(i), int Uv1Count(), HostUv Uv1(i),
//   int FaceCount(), void Corners(f, CornerList, int out[3]),
//   const float* FaceNormal(f), int Smoothing(f), int MaterialIndex(f).
template <class Source>
int WriteMeshBlocks(std::FILE* stream, const ExportOptions& options, const Source& src, const MaterialIdMap& materials) {
    const int vertexCount = src.VertexCount();
    const int faceCount = src.FaceCount();
    const bool smoothByGroup = options.smoothingMode == SmoothPerGroup || options.smoothingMode == SmoothPerAngle;
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
        if (!WriteTextureList(stream, kFirstChannelText, src.Uv0Count(), uv0)) return 0;
        if (!WriteFaceList(stream, kFirstChannelText, src, CornerList::Uv0)) return 0;
        if (options.exportMultipleUvSets == 1) {
            const auto uv1 = [&](int i) { return src.Uv1(i); };
            if (!WritePiece(stream, "\t\t*MESH_MAPPINGCHANNEL %d {\n", 2)) return 0;
            if (!WriteTextureList(stream, kSecondChannelText, src.Uv1Count(), uv1)) return 0;
            if (!WriteFaceList(stream, kSecondChannelText, src, CornerList::Uv1)) return 0;
            if (!WritePiece(stream, "\t\t}\n")) return 0;
        }
    }

    if (options.exportVertexColors == 1) {
        if (!WritePiece(stream, "\t\t*MESH_NUMCVERTEX %d\n\t\t*MESH_CVERTLIST {\n", vertexCount)) return 0;
        for (int i = 0; i < vertexCount; ++i) {
            const float* rgb = src.Color(i);
            if (!WritePiece(stream, "\t\t\t*MESH_VERTCOL %d\t%f\t%f\t%f\n", i, rgb[0], rgb[1], rgb[2])) return 0;
        }
        if (!WritePiece(stream, "%s", kColorText.listEnd)) return 0;
        if (!WriteFaceList(stream, kColorText, src, CornerList::Vertex)) return 0;
    }

    if (options.exportVertexNormals == 1) {
        static const float kZero[3] = {0.0f, 0.0f, 0.0f};
        if (!WritePiece(stream, "\t\t*MESH_NORMALS {\n")) return 0;
        for (int f = 0; f < faceCount; ++f) {
            src.Corners(f, CornerList::Vertex, c);
            const float* fn = src.FaceNormal(f);
            const float* n[3];
            for (int k = 0; k < 3; ++k) {
                n[k] = options.useFaceNormals == 1 ? fn : src.VertexNormal(c[k]);
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
