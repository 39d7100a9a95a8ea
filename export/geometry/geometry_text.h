// The text of a *GEOMOBJECT block, shared by both geometry writers: the node
// header, the mesh blocks and the closing lines. Every piece goes out through
// WritePiece; a function returns 1 when all its pieces were written and stops
// at the first piece that was not.
#pragma once

#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

#include "export/export_job.h"
#include "base/host_api.h"
#include "base/job.h"

// Whether *MESH_SMOOTHING carries each face's group (else every face is
// written in group 1).
inline bool WritesFaceGroups(const ExportOptions& options) {
    return options.smoothingMode == SmoothPerGroup || options.smoothingMode == SmoothPerAngle ||
           options.smoothingMode == SmoothFromScene;
}

// Which list a face's corner numbers index.
enum class CornerList { Vertex, Uv0, Uv1 };

// Writes the node header of the object (name, identity node matrix).
int WriteNodeHeader(ExportStream stream, const HostObject& object);

// Writes the property lines, the material reference (when materials are
// exported) and the closing brace of the object.
int WriteObjectTail(ExportStream stream, const ExportOptions& options, int materialOrdinal);

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

// The texts of a list of per-face corner numbers (texture or colour faces)
// and of the texture-vertex list of one channel, around the numbers.
struct ListText {
    std::string_view indent;       // of the list's own lines
    std::string_view vertexCount;  // count line keyword
    std::string_view vertexList;   // list opening keyword
    std::string_view vertex;       // keyword of one texture vertex
    std::string_view faceCount;
    std::string_view faceList;
    std::string_view face;  // keyword of one face's corner numbers
};

inline constexpr ListText kFirstChannelText = {"\t\t",           "*MESH_NUMTVERTEX ", "*MESH_TVERTLIST {\n",
                                               "\t*MESH_TVERT ", "*MESH_NUMTVFACES ", "*MESH_TFACELIST {\n",
                                               "\t*MESH_TFACE "};
inline constexpr ListText kSecondChannelText = {"\t\t\t",          "*MESH_NUMTVERTEX ", "*MESH_TVERTLIST {\n",
                                                "\t*MESH_TVERT ", "*MESH_NUMTVFACES ", "*MESH_TFACELIST {\n",
                                                "\t*MESH_TFACE "};
inline constexpr ListText kColorText = {"\t\t", {}, {}, {}, "*MESH_NUMCVFACES ", "*MESH_CFACELIST {\n", "\t*MESH_CFACE "};

// Texture vertices 0..count-1 of one channel, written as u and 1 - v:
//   <indent>*MESH_NUMTVERTEX %d\n<indent>*MESH_TVERTLIST {\n
//   <indent>\t*MESH_TVERT %d\t%f\t%f\t0.0\n ... <indent>}\n
template <class UvAt>
bool WriteTextureList(LineWriter& w, const ListText& text, int count, const UvAt& uvAt) {
    w.Text(text.indent);
    w.Text(text.vertexCount);
    w.Int(count);
    w.Text("\n");
    w.Text(text.indent);
    w.Text(text.vertexList);
    for (int i = 0; i < count; ++i) {
        const HostUv uv = uvAt(i);
        const float v = 1.0f - uv.v;
        w.Text(text.indent);
        w.Text(text.vertex);
        w.Int(i);
        w.Text("\t");
        w.Fixed(uv.u);
        w.Text("\t");
        w.Fixed(v);
        w.Text("\t0.0\n");
        if (!w.Ok()) return false;
    }
    w.Text(text.indent);
    w.Text("}\n");
    return w.Ok();
}

// One line per face with the face's corner numbers in `list`:
//   <indent>*MESH_NUMTVFACES %d\n<indent>*MESH_TFACELIST {\n
//   <indent>\t*MESH_TFACE %d\t%d\t%d\t%d\n ... <indent>}\n
template <class Source>
bool WriteFaceList(LineWriter& w, const ListText& text, const Source& src, CornerList list) {
    w.Text(text.indent);
    w.Text(text.faceCount);
    w.Int(src.FaceCount());
    w.Text("\n");
    w.Text(text.indent);
    w.Text(text.faceList);
    int c[3];
    for (int f = 0; f < src.FaceCount(); ++f) {
        src.Corners(f, list, c);
        w.Text(text.indent);
        w.Text(text.face);
        w.Int(f);
        for (int k = 0; k < 3; ++k) {
            w.Text("\t");
            w.Int(c[k]);
        }
        w.Text("\n");
        if (!w.Ok()) return false;
    }
    w.Text(text.indent);
    w.Text("}\n");
    return w.Ok();
}

// Three numbers of a line: "\t%f\t%f\t%f\n".
inline void WriteTriple(LineWriter& w, float a, float b, float c) {
    w.Text("\t");
    w.Fixed(a);
    w.Text("\t");
    w.Fixed(b);
    w.Text("\t");
    w.Fixed(c);
    w.Text("\n");
}

// The values one writer exports; a Source provides
//   int VertexCount(), const float* Position(i), const float* Color(i),
//   const float* CornerNormal(f, k) (the vertex normal written at corner k
//   of face f; null writes (0, 0, 0)),
//   int Uv0Count(), HostUv Uv0(i), int Uv1Count(), HostUv Uv1(i),
//   int FaceCount(), void Corners(f, CornerList, int out[3]),
//   const float* FaceNormal(f), int Smoothing(f), int MaterialIndex(f).
// Each line's form is in the comment before it, in WritePiece's terms.
template <class Source>
int WriteMeshBlocks(ExportStream stream, const ExportOptions& options, const Source& src, const MaterialIdMap& materials) {
    const int vertexCount = src.VertexCount();
    const int faceCount = src.FaceCount();
    const bool smoothByGroup = WritesFaceGroups(options);
    int c[3];
    LineWriter w(stream);

    // "\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX %d\n\t\t*MESH_NUMFACES %d\n"
    w.Text("\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX ");
    w.Int(vertexCount);
    w.Text("\n\t\t*MESH_NUMFACES ");
    w.Int(faceCount);
    w.Text("\n");

    // "\t\t\t*MESH_VERTEX %4d\t%f\t%f\t%f\n" of (x, -z, y)
    w.Text("\t\t*MESH_VERTEX_LIST {\n");
    for (int i = 0; i < vertexCount; ++i) {
        const float* p = src.Position(i);
        w.Text("\t\t\t*MESH_VERTEX ");
        w.Int4(i);
        WriteTriple(w, p[0], -p[2], p[1]);
        if (!w.Ok()) return 0;
    }
    w.Text("\t\t}\n");

    // "\t\t\t*MESH_FACE %4d:    A: %4d B: %4d C: %4d AB: %4d BC: %4d CA: %4d\t*MESH_SMOOTHING %d\t*MESH_MTLID %d\n"
    // with AB 1, BC 1, CA 0
    w.Text("\t\t*MESH_FACE_LIST {\n");
    for (int f = 0; f < faceCount; ++f) {
        src.Corners(f, CornerList::Vertex, c);
        const int smoothing = smoothByGroup ? src.Smoothing(f) : 1;
        w.Text("\t\t\t*MESH_FACE ");
        w.Int4(f);
        w.Text(":    A: ");
        w.Int4(c[0]);
        w.Text(" B: ");
        w.Int4(c[1]);
        w.Text(" C: ");
        w.Int4(c[2]);
        w.Text(" AB:    1 BC:    1 CA:    0\t*MESH_SMOOTHING ");
        w.Int(smoothing);
        w.Text("\t*MESH_MTLID ");
        w.Int(materials.Lookup(src.MaterialIndex(f)));
        w.Text("\n");
        if (!w.Ok()) return 0;
    }
    w.Text("\t\t}\n");

    if (options.exportTextureCoords == 1) {
        const auto uv0 = [&](int i) { return src.Uv0(i); };
        if (!WriteTextureList(w, kFirstChannelText, src.Uv0Count(), uv0)) return 0;
        if (!WriteFaceList(w, kFirstChannelText, src, CornerList::Uv0)) return 0;
        if (options.exportMultipleUvSets == 1) {
            const auto uv1 = [&](int i) { return src.Uv1(i); };
            w.Text("\t\t*MESH_MAPPINGCHANNEL 2 {\n");
            if (!WriteTextureList(w, kSecondChannelText, src.Uv1Count(), uv1)) return 0;
            if (!WriteFaceList(w, kSecondChannelText, src, CornerList::Uv1)) return 0;
            w.Text("\t\t}\n");
        }
    }

    if (options.exportVertexColors == 1) {
        // "\t\t*MESH_NUMCVERTEX %d\n\t\t*MESH_CVERTLIST {\n", "\t\t\t*MESH_VERTCOL %d\t%f\t%f\t%f\n"
        w.Text("\t\t*MESH_NUMCVERTEX ");
        w.Int(vertexCount);
        w.Text("\n\t\t*MESH_CVERTLIST {\n");
        for (int i = 0; i < vertexCount; ++i) {
            const float* rgb = src.Color(i);
            w.Text("\t\t\t*MESH_VERTCOL ");
            w.Int(i);
            WriteTriple(w, rgb[0], rgb[1], rgb[2]);
            if (!w.Ok()) return 0;
        }
        w.Text("\t\t}\n");
        if (!WriteFaceList(w, kColorText, src, CornerList::Vertex)) return 0;
    }

    if (options.exportVertexNormals == 1) {
        // "\t\t\t*MESH_FACENORMAL %d\t%f\t%f\t%f\n" and three
        // "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f\n", each of (x, -z, y)
        static const float kZero[3] = {0.0f, 0.0f, 0.0f};
        w.Text("\t\t*MESH_NORMALS {\n");
        for (int f = 0; f < faceCount; ++f) {
            src.Corners(f, CornerList::Vertex, c);
            const float* fn = src.FaceNormal(f);
            w.Text("\t\t\t*MESH_FACENORMAL ");
            w.Int(f);
            WriteTriple(w, fn[0], -fn[2], fn[1]);
            for (int k = 0; k < 3; ++k) {
                const float* n = options.useFaceNormals == 1 ? fn : src.CornerNormal(f, k);
                if (n == nullptr) n = kZero;
                w.Text("\t\t\t\t*MESH_VERTEXNORMAL ");
                w.Int(c[k]);
                WriteTriple(w, n[0], -n[2], n[1]);
            }
            if (!w.Ok()) return 0;
        }
        w.Text("\t\t}\n");
    }

    w.Text("\t}\n");
    return w.Flush() ? 1 : 0;
}
