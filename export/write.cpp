// The export driver: scene preparation (smoothing groups, vertex normals,
// per-corner export indices, single-object mode), the file, the header and
// scene blocks, and the order of material and geometry blocks.
#include <cerrno>
#include <exception>
#include <new>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "math/vecmath.h"
#include "platform/platform.h"
#include "base/strings.h"

namespace {

enum : int { kHeaderFieldBytes = 64, kSceneFileNameBytes = 260 };

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

// Sets every face's smoothing group by the mode: "From scene" keeps the
// host's, the others start from 0.
void AssignSmoothingGroups(HostContext* context, const ExportOptions& options) {
    if (options.smoothingMode == SmoothFromScene) return;
    ForEachFace(context, [](HostFace& face) { face.smoothingGroup = 0; });
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
// vertex. Corners naming no vertex of the table add nothing. A sum shorter
// than kZeroNormalLength has no direction and is left (0, 0, 0): the writers
// give its corners their faces' normals.
void ComputeVertexNormals(HostContext* context, VertexNormalTable& table) {
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
        if (length >= kZeroNormalLength) {
            const float scale = 1.0f / length;
            table.normals[i][0] = n.x * scale;
            table.normals[i][1] = n.y * scale;
            table.normals[i][2] = n.z * scale;
        } else {
            table.normals[i][0] = table.normals[i][1] = table.normals[i][2] = 0.0f;
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

int WriteHeader(ExportStream stream, HostContext* context) {
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

int WriteSceneBlock(ExportStream stream, HostContext* context) {
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

int ExportJob::OutOfMemory() {
    char16_t name[kFileNameOnlyUnits] = {};
    FileNameOnly(context != nullptr ? context->fileName.wide : u"", name);
    return error.Fail(JobErrorKind::kMemory, 0, nullptr, u"Not enough memory to export \"%s\".", name);
}

void ExportOutput::Discard() {
    platform::AbandonFileReplacement(replacement);
}

bool AllocateVertexNormalTable(ExportJob& job, int count) {
    ReleaseVertexNormalTable(job);
    if (count < 1) return false;
    auto* normals = static_cast<float(*)[3]>(job.allocator.Allocate(sizeof(float[3]) * static_cast<size_t>(count)));
    if (normals == nullptr) return false;
    for (int i = 0; i < count; ++i) normals[i][0] = normals[i][1] = normals[i][2] = 0.0f;
    job.normals.normals = normals;
    job.normals.count = count;
    return true;
}

void ReleaseVertexNormalTable(ExportJob& job) {
    job.allocator.Free(job.normals.normals);
    job.normals = VertexNormalTable{};
}

bool PrepareSceneForExport(ExportJob& job) {
    HostContext* context = job.context;
    if (context == nullptr) return false;
    AssignSmoothingGroups(context, job.options);

    VertexNormalTable& table = job.normals;
    if (AllocateVertexNormalTable(job, context->vertexCount)) {
        if (context->vertices != nullptr) {
            for (int i = 0; i < table.count; ++i) {
                for (int a = 0; a < 3; ++a) table.normals[i][a] = context->vertices[i].normal[a];
            }
        }
    } else if (context->vertexCount > 0) {
        return job.OutOfMemory();
    }

    ForEachFace(context, [](HostFace& face) {
        if (face.vertexIndices == nullptr || face.exportCorners == nullptr) return;
        for (int k = 0; k < CornersOf(face); ++k) face.exportCorners[k] = face.vertexIndices[k];
    });

    // "From scene" sums per group as each object is written; the table's
    // sums over all faces would not be read.
    if (table.normals != nullptr && context->vertices != nullptr && context->faceGroups != nullptr &&
        job.options.smoothingMode != SmoothFromScene) {
        ComputeVertexNormals(context, table);
    }

    if (job.options.exportAsSingleObject == 1) MergeIntoSingleObject(context);
    return true;
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

int WriteAseScene(ExportJob& job, std::FILE* file) {
    HostContext* context = job.context;
    if (file == nullptr || context == nullptr) return 0;
    const ExportStream stream = job.Stream(file);
    if (WriteHeader(stream, context) != 1) return 0;
    if (WriteSceneBlock(stream, context) != 1) return 0;

    HostObject* objects = context->objects;
    const int objectCount = objects != nullptr ? context->objectCount : 0;
    const ExportOptions& options = job.options;
    if (options.exportMaterials == 1) {
        int exported = 0;
        for (int i = 0; i < objectCount; ++i) exported += IsExportedObject(objects[i], i) ? 1 : 0;
        if (WritePiece(stream, "*MATERIAL_LIST {\n\t*MATERIAL_COUNT %d\n", exported) != 1) return 0;
        int ordinal = 0;
        for (int i = 0; i < objectCount; ++i) {
            if (IsExportedObject(objects[i], i) && WriteMaterial(job, file, i, ordinal++) != 1) return 0;
        }
        if (WritePiece(stream, "}\n") != 1) return 0;
    }

    int ordinal = 0;
    for (int i = 0; i < objectCount; ++i) {
        if (!IsExportedObject(objects[i], i)) continue;
        const int written = options.splitVerticesPerUv == 1 ? WriteSplitGeometryObject(job, file, i, ordinal)
                                                            : WriteIndexedGeometryObject(job, file, i, ordinal);
        if (written != 1) return 0;
        ++ordinal;
    }
    return 1;
}

namespace {

// Large enough that the file is written in few large writes, small enough to
// stay in the cache beside the writers' own data (1 MiB measured slower on
// large split-layout objects).
enum : size_t { kStreamBufferBytes = size_t{64} << 10 };

// Records a failure of the output: "<action> "<file name>": <reason>." with
// the reason when the system gave one.
int OutputFailed(ExportJob& job, const char16_t* action, int code) {
    char16_t name[kFileNameOnlyUnits] = {};
    FileNameOnly(job.context->fileName.wide, name);
    const char16_t* reason = platform::FileErrorReason(code);
    if (reason != nullptr) return job.error.Fail(JobErrorKind::kFile, 0, nullptr, u"%s \"%s\": %s.", action, name, reason);
    if (code != 0) {
        return job.error.Fail(JobErrorKind::kFile, 0, nullptr, u"%s \"%s\": system error %d.", action, name, code);
    }
    return job.error.Fail(JobErrorKind::kFile, 0, nullptr, u"%s \"%s\".", action, name);
}

// Opens the file the export writes: a new file beside the target, or the
// target itself when that is a device or a pipe.
bool OpenOutput(ExportJob& job) {
    platform::FileReplacement& replacement = job.output.replacement;
    if (job.outputFault.Fails(ExportOutputStep::kOpen) ||
        !platform::BeginFileReplacement(job.context->fileName.wide, "wt", replacement)) {
        platform::AbandonFileReplacement(replacement);
        return job.error.Fail(JobErrorKind::kFile, 0, nullptr, u"Could not open file for writing.");
    }
    return true;
}

// The platform's steps of the commit that the job's output fault makes fail,
// with the error each would meet.
void ArmReplaceFault(OutputFault& outputFault, platform::FileReplacement& replacement) {
    const struct { ExportOutputStep step; platform::ReplaceStep platformStep; int code; } kFaults[] = {
        {ExportOutputStep::kSync, platform::ReplaceStep::kSync, EIO},
        {ExportOutputStep::kReserve, platform::ReplaceStep::kReserve, ENOSPC},
        {ExportOutputStep::kClose, platform::ReplaceStep::kClose, EIO},
        {ExportOutputStep::kReplace, platform::ReplaceStep::kCommit, EACCES},
    };
    for (const auto& fault : kFaults) {
        if (outputFault.Fails(fault.step)) {
            replacement.fault = {fault.platformStep, fault.code};
            return;
        }
    }
}

// Flushes the written file and puts it in the target's place.
int CommitOutput(ExportJob& job) {
    platform::FileReplacement& replacement = job.output.replacement;
    errno = 0;
    if (std::fflush(replacement.stream) != 0 || job.outputFault.Fails(ExportOutputStep::kFlush)) {
        const int code = errno != 0 ? errno : ENOSPC;
        return OutputFailed(job, u"Could not finish writing", code);
    }
    ArmReplaceFault(job.outputFault, replacement);
    if (platform::CommitFileReplacement(replacement)) return 1;
    switch (replacement.failedStep) {
        case platform::ReplaceStep::kReserve: return OutputFailed(job, u"Could not make room for", replacement.error);
        case platform::ReplaceStep::kCommit: return OutputFailed(job, u"Could not replace", replacement.error);
        default: return OutputFailed(job, u"Could not finish writing", replacement.error);
    }
}

int RunExport(ExportJob& job) {
    HostContext* context = job.context;
    if (!PrepareSceneForExport(job)) return 0;

    // The geometry writer reads a normal for every corner's vertex; without
    // the table it would read nothing valid, so such a scene is refused.
    if (job.normals.normals == nullptr && SceneHasCorners(context)) {
        return job.error.Fail(JobErrorKind::kContent, 0, nullptr, u"Could not prepare vertex normals for export.");
    }

    if (context->ops != nullptr && context->ops->PreWriteStep != nullptr) context->ops->PreWriteStep(context);

    // What the whole scene needs is had before the file is made.
    if (!BuildObjectFaces(job)) return 0;
    job.streamBuffer = job.allocator.AllocateArray<char>(kStreamBufferBytes);
    if (job.streamBuffer == nullptr) return job.OutOfMemory();

    if (!OpenOutput(job)) return 0;
    std::FILE* stream = job.output.replacement.stream;
    // Pieces are small; a larger buffer than the default makes each fwrite a
    // copy and the file writes fewer.
    std::setvbuf(stream, job.streamBuffer, _IOFBF, kStreamBufferBytes);
    errno = 0;
    if (WriteAseScene(job, stream) != 1 || std::ferror(stream) != 0) {
        const int code = errno;
        return OutputFailed(job, u"Could not write", code);
    }
    return CommitOutput(job);
}

}  // namespace

int WriteExportFile(HostContext* context) {
    if (context == nullptr) return 0;
    // Making the job allocates nothing; everything after it may throw.
    ExportJob job(context);
    int result = 0;
    try {
        result = RunExport(job);
    } catch (const std::bad_alloc&) {
        // What escapes the writers (which record their own shortage with the
        // file's name) comes from the host or the library.
        result = job.error.Fail(JobErrorKind::kMemory, 0, nullptr, u"Not enough memory to export.");
    } catch (...) {
        result = job.error.Fail(JobErrorKind::kInternal, 0, nullptr, u"The export failed for an unexpected reason.");
    }
    if (result != 1) {
        // Every failure path records its cause; this only guards a path
        // that forgot to.
        if (!job.error.Failed()) OutputFailed(job, u"Could not write", 0);
        job.error.WriteTo(context);
    }
    return result;
}
