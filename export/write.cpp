// The export driver: scene preparation (smoothing groups, vertex normals,
// per-corner export indices, single-object mode), the file, the header and
// scene blocks, and the order of material and geometry blocks.
#include <cstdlib>
#include <memory>
#include <new>

#include "export/export.h"
#include "export/geometry/geometry.h"
#include "math/vecmath.h"
#include "platform/platform.h"
#include "plugin/plugin.h"

namespace {

enum : int { kHeaderFieldBytes = 64, kSceneFileNameBytes = 260 };
// Large enough that the file is written in few large writes, small enough to
// stay in the cache beside the writers' own data (1 MiB measured slower on
// large split-layout objects).
enum : size_t { kStreamBufferBytes = size_t{64} << 10 };

VertexNormalTable gVertexNormalTable;

// Whether object `index` is written: its face count is not 0, except that
// object 0 needs a positive one.
bool IsExportedObject(const HostObject& object, int index) {
    return index == 0 ? object.faceCount > 0 : object.faceCount != 0;
}

// Calls `visit(face)` for every face of every face group, skipping groups
// without a face array.
template <typename Visit>
void ForEachFace(HostContext* context, Visit visit) {
    if (context->faceGroups == nullptr) return;
    for (int g = 0; g < context->faceGroupCount; ++g) {
        HostFaceGroup& group = context->faceGroups[g];
        if (group.faces == nullptr) continue;
        for (int f = 0; f < group.faceCount; ++f) visit(group.faces[f]);
    }
}

int CornersOf(const HostFace& face) {
    return face.cornerCount > 0 ? face.cornerCount : 0;
}

// True when any face has corners: such a scene cannot be written without a
// normal for every vertex.
bool SceneHasCorners(HostContext* context) {
    bool found = false;
    ForEachFace(context, [&](HostFace& face) { found = found || CornersOf(face) > 0; });
    return found;
}

void AssignSmoothingGroups(HostContext* context) {
    ForEachFace(context, [](HostFace& face) { face.smoothingGroup = 0; });
    const ExportOptions& options = TheExportOptions();
    if (options.smoothingMode == SmoothPerGroup) {
        ForEachFace(context, [](HostFace& face) {
            const int group = face.objectIndex;
            face.smoothingGroup = group < 0 ? 0 : (group > 32 ? 32 : group);
        });
    } else if (options.smoothingMode == SmoothPerAngle) {
        if (context->faceGroups != nullptr && context->ops != nullptr &&
            context->ops->AssignSmoothingGroupsByAngle != nullptr) {
            context->ops->AssignSmoothingGroupsByAngle(context, options.smoothingAngle);
        }
    }
}

// The normalised, unweighted sum of the normals of the faces around each
// vertex. Corners naming no vertex of the table add nothing.
void ComputeVertexNormals(HostContext* context) {
    VertexNormalTable& table = gVertexNormalTable;
    for (int i = 0; i < table.count; ++i) table.normals[i][0] = table.normals[i][1] = table.normals[i][2] = 0.0f;
    ForEachFace(context, [&](HostFace& face) {
        if (face.exportCorners == nullptr) return;
        for (int k = 0; k < CornersOf(face); ++k) {
            const int v = face.exportCorners[k];
            if (v < 0 || v >= table.count) continue;
            table.normals[v][0] += face.normal[0];
            table.normals[v][1] += face.normal[1];
            table.normals[v][2] += face.normal[2];
        }
    });
    for (int i = 0; i < table.count; ++i) {
        const Vec3 n = {table.normals[i][0], table.normals[i][1], table.normals[i][2]};
        const float length = Vec3Length(&n);
        if (length > 0.0f) {
            const float scale = 1.0f / length;
            table.normals[i][0] = n.x * scale;
            table.normals[i][1] = n.y * scale;
            table.normals[i][2] = n.z * scale;
        }
    }
}

void MergeIntoSingleObject(HostContext* context) {
    ForEachFace(context, [](HostFace& face) { face.objectIndex = 0; });
    // Counting into object 0 needs an object 0.
    if (context->objects == nullptr || context->objectCount < 1) return;
    for (int i = 0; i < context->objectCount; ++i) context->objects[i].faceCount = 0;
    ForEachFace(context, [&](HostFace&) { ++context->objects[0].faceCount; });
}

int WriteHeader(std::FILE* stream, HostContext* context) {
    DualString appName;
    DualString version;
    DualString website;
    DualString timeText;
    char appNameText[kHeaderFieldBytes];
    char versionText[kHeaderFieldBytes];
    char websiteText[kHeaderFieldBytes];
    char timeTextNarrow[kHeaderFieldBytes];
    WideToAnsiCut(GetHostAppName(context, &appName), appNameText, kHeaderFieldBytes);
    WideToAnsiCut(GetHostVersion(context, &version), versionText, kHeaderFieldBytes);
    WideToAnsiCut(GetHostWebsite(context, &website), websiteText, kHeaderFieldBytes);
    MakeTimeText(context, &timeText);
    WideToAnsiCut(timeText.wide, timeTextNarrow, kHeaderFieldBytes);
    return WritePiece(stream,
                      "*3DSMAX_ASCIIEXPORT\t200\n"
                      "*COMMENT \"Creator: %s %s\"\n"
                      "*COMMENT \"Website: %s\"\n"
                      "*COMMENT \"Time: %s\"\n",
                      appNameText, versionText, websiteText, timeTextNarrow);
}

int WriteSceneBlock(std::FILE* stream, HostContext* context) {
    char16_t name[kFileNameOnlyUnits] = {};
    char nameText[kSceneFileNameBytes];
    FileNameOnly(context->fileName.wide, name);
    WideToAnsiCut(name, nameText, kSceneFileNameBytes);
    return WritePiece(stream,
                      "*SCENE {\n"
                      "\t*SCENE_FILENAME \"%s\"\n"
                      "\t*SCENE_FIRSTFRAME 0\n"
                      "\t*SCENE_LASTFRAME 30\n"
                      "\t*SCENE_FRAMESPEED 30\n"
                      "\t*SCENE_TICKSPERFRAME 160\n"
                      "\t*SCENE_BACKGROUND_STATIC 0.0000\t0.0000\t0.0000\n"
                      "\t*SCENE_AMBIENT_STATIC 0.0000\t0.0000\t0.0000\n"
                      "}\n",
                      nameText);
}

}  // namespace

VertexNormalTable& TheVertexNormalTable() {
    return gVertexNormalTable;
}

bool AllocateVertexNormalTable(int count) {
    ReleaseVertexNormalTable();
    if (count < 1) return false;
    auto* normals = new (std::nothrow) float[static_cast<size_t>(count)][3];
    if (normals == nullptr) return false;
    for (int i = 0; i < count; ++i) normals[i][0] = normals[i][1] = normals[i][2] = 0.0f;
    gVertexNormalTable.normals = normals;
    gVertexNormalTable.count = count;
    return true;
}

void ReleaseVertexNormalTable() {
    delete[] gVertexNormalTable.normals;
    gVertexNormalTable.normals = nullptr;
    gVertexNormalTable.count = 0;
}

void PrepareSceneForExport(HostContext* context) {
    if (context == nullptr) return;
    AssignSmoothingGroups(context);

    if (AllocateVertexNormalTable(context->vertexCount) && context->vertices != nullptr) {
        for (int i = 0; i < gVertexNormalTable.count; ++i) {
            for (int a = 0; a < 3; ++a) gVertexNormalTable.normals[i][a] = context->vertices[i].normal[a];
        }
    }

    ForEachFace(context, [](HostFace& face) {
        if (face.vertexIndices == nullptr || face.exportCorners == nullptr) return;
        for (int k = 0; k < CornersOf(face); ++k) face.exportCorners[k] = face.vertexIndices[k];
    });

    if (gVertexNormalTable.normals != nullptr && context->vertices != nullptr && context->faceGroups != nullptr) {
        ComputeVertexNormals(context);
    }

    if (TheExportOptions().exportAsSingleObject == 1) MergeIntoSingleObject(context);
}

void MakeTimeText(HostContext* context, DualString* out) {
    char16_t now[platform::kTimeTextUnits] = {};
    platform::CurrentTimeText(now);
    char16_t text[kDualStringUnits] = {};
    size_t length = 0;
    for (; now[length] != 0 && length + 1 < kDualStringUnits; ++length) text[length] = now[length];
    // Only the ctime line feed goes; a clock without a text leaves it empty.
    if (length > 0 && text[length - 1] == u'\n') text[length - 1] = 0;
    if (context == nullptr) {
        AssignDualString(out, text);
        return;
    }
    AssignDualString(&context->timeText, text);
    CopyDualString(out, &context->timeText);
}

int WriteAseScene(std::FILE* stream) {
    HostContext* context = currentContext;
    if (stream == nullptr || context == nullptr) return 0;
    if (WriteHeader(stream, context) != 1) return 0;
    if (WriteSceneBlock(stream, context) != 1) return 0;

    HostObject* objects = context->objects;
    const int objectCount = objects != nullptr ? context->objectCount : 0;
    const ExportOptions& options = TheExportOptions();
    if (options.exportMaterials == 1) {
        int exported = 0;
        for (int i = 0; i < objectCount; ++i) exported += IsExportedObject(objects[i], i) ? 1 : 0;
        if (WritePiece(stream, "*MATERIAL_LIST {\n\t*MATERIAL_COUNT %d\n", exported) != 1) return 0;
        int ordinal = 0;
        for (int i = 0; i < objectCount; ++i) {
            if (IsExportedObject(objects[i], i)) WriteMaterial(stream, i, ordinal++);
        }
        if (WritePiece(stream, "}\n") != 1) return 0;
    }

    int ordinal = 0;
    for (int i = 0; i < objectCount; ++i) {
        if (!IsExportedObject(objects[i], i)) continue;
        if (options.splitVerticesPerUv == 1)
            WriteSplitGeometryObject(stream, i, ordinal);
        else
            WriteIndexedGeometryObject(stream, i, ordinal);
        ++ordinal;
    }
    return 1;
}

namespace {

// The export proper; WriteExportFile wraps it so that the writers' per-export
// face lists never outlive one export.
int PrepareAndWriteExport(HostContext* context) {
    PrepareSceneForExport(context);

    // The geometry writer reads a normal for every corner's vertex; without
    // the table it would read nothing valid, so such a scene is refused
    // before the target file is touched.
    if (gVertexNormalTable.normals == nullptr && SceneHasCorners(context)) {
        AssignDualString(&context->errorText, u"Could not prepare vertex normals for export.");
        ReleaseVertexNormalTable();
        return 0;
    }

    if (context->ops != nullptr && context->ops->PreWriteStep != nullptr) context->ops->PreWriteStep(context);

    int result = 0;
    std::FILE* stream = platform::OpenFile(context->fileName.wide, "wt");
    // Owned here so that it outlives the stream, which is closed below.
    std::unique_ptr<char[]> streamBuffer;
    if (stream != nullptr) {
        // Pieces are small; a larger buffer than the default makes each
        // fwrite a copy and the file writes fewer. Without the memory the
        // stream keeps its own buffer.
        streamBuffer.reset(new (std::nothrow) char[kStreamBufferBytes]);
        if (streamBuffer != nullptr) std::setvbuf(stream, streamBuffer.get(), _IOFBF, kStreamBufferBytes);
        result = WriteAseScene(stream);
        if (std::fclose(stream) != 0) result = 0;
    } else {
        AssignDualString(&context->errorText, u"Could not open file for writing.");
    }
    ReleaseVertexNormalTable();
    return result;
}

}  // namespace

int WriteExportFile(HostContext* context) {
    if (context == nullptr) return 0;
    ResetExportFaceBuckets();
    const int result = PrepareAndWriteExport(context);
    ResetExportFaceBuckets();
    return result;
}
