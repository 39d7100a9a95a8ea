// Throughput of the geometry object writers: a grid of triangles of one
// object in both layouts (one and two million triangles, to see how the time
// grows), and 20,000 small objects in one face group. The scenes live in the
// reference host; the text goes to a temporary file. Reports bytes of ASE
// text written per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cmath>
#include <memory>
#include <string>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "host/scene.h"
#include "plugin/strings.h"

namespace {

DualString Name(const std::string& text) {
    DualString name{};
    AssignDualStringNarrow(&name, text.c_str());
    return name;
}

// Fills face `f` of `group` with one triangle of object `object`; each corner
// takes a UV made from its vertex's grid position.
void SetTriangle(HostFace& face, int object, int a, int b, int c, const float (*uvOf)[2]) {
    face.objectIndex = object;
    face.materialIndex = -1;
    face.normal[0] = 0.0f;
    face.normal[1] = 0.0f;
    face.normal[2] = 1.0f;
    const int corners[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
        face.vertexIndices[k] = corners[k];
        for (int ch = 0; ch < kUvChannels; ++ch) {
            face.uvData->channels[ch].cornerUvs[k] = HostUv{0, uvOf[corners[k]][0], uvOf[corners[k]][1], -1};
        }
    }
}

// A scene of `objects` objects, each a grid of `side` x `side` quads (two
// triangles each), with texture coordinates that break at every 32nd column
// so that the split layout has seams to split.
std::unique_ptr<asehost::HostScene> GridScene(int objects, int side) {
    auto scene = std::make_unique<asehost::HostScene>();
    scene->setOperationLogEnabled(false);
    HostContext* ctx = scene->context();
    const int perObject = (side + 1) * (side + 1);
    ctx->ops->AllocateVertices(ctx, objects * perObject);
    std::unique_ptr<float[][2]> uv(new float[static_cast<size_t>(objects) * perObject][2]);
    for (int o = 0; o < objects; ++o) {
        for (int y = 0; y <= side; ++y) {
            for (int x = 0; x <= side; ++x) {
                const int i = o * perObject + y * (side + 1) + x;
                HostVertex& v = ctx->vertices[i];
                v.position[0] = static_cast<float>(x) * 0.01f + static_cast<float>(o);
                v.position[1] = static_cast<float>(y) * 0.01f;
                v.position[2] = std::sin(static_cast<float>(x + y) * 0.05f);
                v.normal[2] = 1.0f;
                v.color[0] = static_cast<float>(x % 7) / 7.0f;
                uv[i][0] = static_cast<float>(x % 32) / 32.0f;
                uv[i][1] = static_cast<float>(y) / static_cast<float>(side);
            }
        }
    }
    for (int o = 0; o < objects; ++o) {
        const DualString name = Name("object" + std::to_string(o));
        ctx->ops->AddObject(ctx, &name, 0);
    }
    HostFaceGroup* group = ctx->ops->AddFaceGroup(ctx);
    group->ops->AllocateFaces(group, objects * side * side * 2);
    int f = 0;
    for (int o = 0; o < objects; ++o) {
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const int i = o * perObject + y * (side + 1) + x;
                SetTriangle(group->faces[f++], o, i, i + 1, i + side + 2, uv.get());
                SetTriangle(group->faces[f++], o, i, i + side + 2, i + side + 1, uv.get());
            }
        }
    }
    scene->rebuildDerivedData();
    return scene;
}

void RunExport(benchmark::State& state, asehost::HostScene& scene, bool split) {
    HostContext* ctx = scene.context();
    ExportJob job(ctx);
    job.options = ExportOptions{};
    job.options.splitVerticesPerUv = split ? 1 : 0;
    PrepareSceneForExport(job);
    std::FILE* out = std::tmpfile();
    if (out == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    // Buffered as the export driver buffers its file.
    std::unique_ptr<char[]> buffer(new char[size_t{64} << 10]);
    std::setvbuf(out, buffer.get(), _IOFBF, size_t{64} << 10);
    long bytes = 0;
    for (auto _ : state) {
        std::rewind(out);
        BuildObjectFaces(job);
        for (int o = 0; o < ctx->objectCount; ++o) {
            const int ok = split ? WriteSplitGeometryObject(job, out, o, o) : WriteIndexedGeometryObject(job, out, o, o);
            if (!ok) state.SkipWithError("writer failed");
        }
        std::fflush(out);
        bytes = std::ftell(out);
    }
    std::fclose(out);
    int64_t triangles = 0;
    for (int g = 0; g < ctx->faceGroupCount; ++g) triangles += ctx->faceGroups[g].faceCount;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.counters["MB_per_object_pass"] = static_cast<double>(bytes) / 1.0e6;
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["triangles_per_s"] =
        benchmark::Counter(static_cast<double>(triangles), benchmark::Counter::kIsIterationInvariantRate);
}

// One object of about range(0) million triangles; range(1): 1 = split layout.
void BM_LargeObject(benchmark::State& state) {
    const int side = static_cast<int>(std::lround(std::sqrt(state.range(0) * 1.0e6 / 2.0)));
    auto scene = GridScene(1, side);
    RunExport(state, *scene, state.range(1) == 1);
}
BENCHMARK(BM_LargeObject)
    ->ArgsProduct({{1, 2}, {1, 0}})
    ->ArgNames({"Mtris", "split"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// 20,000 objects of 2 x 3 x 3 triangles in one face group.
void BM_ManySmallObjects(benchmark::State& state) {
    auto scene = GridScene(20000, 3);
    RunExport(state, *scene, state.range(0) == 1);
}
BENCHMARK(BM_ManySmallObjects)->Arg(1)->Arg(0)->ArgName("split")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
