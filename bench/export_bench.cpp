// Throughput of the geometry object writers: a grid of triangles of one
// object in both layouts (one and two million triangles, written alternately,
// with the ratio of their times), and 20,000 small objects in one face group. The scenes live in the
// reference host; the text goes to a temporary file. Reports bytes of ASE
// text written per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include <sys/resource.h>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "host/store/scene.h"
#include "base/strings.h"

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

// Process CPU seconds and wall seconds.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
// Process CPU seconds spent in the kernel.
double SystemSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) * 1e-6;
}
double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A temporary file buffered as the export driver buffers its file.
struct OutputFile {
    std::FILE* file = std::tmpfile();
    std::unique_ptr<char[]> buffer{new char[size_t{64} << 10]};
    OutputFile() {
        if (file != nullptr) std::setvbuf(file, buffer.get(), _IOFBF, size_t{64} << 10);
    }
    ~OutputFile() {
        if (file != nullptr) std::fclose(file);
    }
};

// An export job for `scene` with the default options but the layout, its
// scene prepared for writing.
std::unique_ptr<ExportJob> PrepareExportOf(asehost::HostScene& scene, bool split) {
    auto job = std::make_unique<ExportJob>(scene.context());
    job->options = ExportOptions{};
    job->options.splitVerticesPerUv = split ? 1 : 0;
    PrepareSceneForExport(*job);
    return job;
}

// Writes every object of the prepared scene once from the start of `out`;
// the bytes written, or -1 when a writer failed.
long WriteAllObjects(ExportJob& job, std::FILE* out, bool split) {
    std::rewind(out);
    if (!BuildObjectFaces(job)) return -1;
    for (int o = 0; o < job.context->objectCount; ++o) {
        const int ok = split ? WriteSplitGeometryObject(job, out, o, o) : WriteIndexedGeometryObject(job, out, o, o);
        if (!ok) return -1;
    }
    std::fflush(out);
    return std::ftell(out);
}

int64_t TriangleCount(const HostContext* ctx) {
    int64_t triangles = 0;
    for (int g = 0; g < ctx->faceGroupCount; ++g) triangles += ctx->faceGroups[g].faceCount;
    return triangles;
}

void RunExport(benchmark::State& state, asehost::HostScene& scene, bool split) {
    HostContext* ctx = scene.context();
    const auto job = PrepareExportOf(scene, split);
    OutputFile out;
    if (out.file == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    long bytes = 0;
    for (auto _ : state) {
        bytes = WriteAllObjects(*job, out.file, split);
        if (bytes < 0) state.SkipWithError("writer failed");
    }
    const int64_t triangles = TriangleCount(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
    state.counters["MB_per_object_pass"] = static_cast<double>(bytes) / 1.0e6;
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["triangles_per_s"] =
        benchmark::Counter(static_cast<double>(triangles), benchmark::Counter::kIsIterationInvariantRate);
}

// One object of about one and of about two million triangles, written
// alternately (so that load from other processes hits both alike) in the
// layout range(0) (1 = split). Each size is prepared outside the timing
// before its pass. Counters: MB/s of each by CPU time, the kernel's part of
// each pass's CPU time, and the ratios of the large to the small size in
// bytes, CPU, user CPU and wall time. The writers are linear when user_ratio
// is close to bytes_ratio; the kernel's time grows faster than the text once
// the file (about 1 GB for the large size) fills the page cache, which
// cpu_ratio and wall_ratio include. The benchmark's own time is both passes.
void BM_LargeObjectPair(benchmark::State& state) {
    const bool split = state.range(0) == 1;
    auto small = GridScene(1, static_cast<int>(std::lround(std::sqrt(1.0e6 / 2.0))));
    auto large = GridScene(1, static_cast<int>(std::lround(std::sqrt(2.0e6 / 2.0))));
    OutputFile out;
    if (out.file == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    struct Sums {
        double cpu = 0;
        double wall = 0;
        double sys = 0;
        long bytes = 0;
    } sums[2];
    for (auto _ : state) {
        for (int which = 0; which < 2; ++which) {
            asehost::HostScene& scene = which == 0 ? *small : *large;
            state.PauseTiming();
            auto job = PrepareExportOf(scene, split);
            state.ResumeTiming();
            const double cpu0 = CpuSeconds();
            const double wall0 = WallSeconds();
            const double sys0 = SystemSeconds();
            const long bytes = WriteAllObjects(*job, out.file, split);
            sums[which].sys += SystemSeconds() - sys0;
            sums[which].cpu += CpuSeconds() - cpu0;
            sums[which].wall += WallSeconds() - wall0;
            state.PauseTiming();
            job.reset();
            state.ResumeTiming();
            if (bytes < 0) {
                state.SkipWithError("writer failed");
                return;
            }
            sums[which].bytes = bytes;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["small_MB"] = static_cast<double>(sums[0].bytes) / 1e6;
    state.counters["large_MB"] = static_cast<double>(sums[1].bytes) / 1e6;
    state.counters["small_MB/s_cpu"] = sums[0].cpu > 0 ? static_cast<double>(sums[0].bytes) * n / sums[0].cpu / 1e6 : 0;
    state.counters["large_MB/s_cpu"] = sums[1].cpu > 0 ? static_cast<double>(sums[1].bytes) * n / sums[1].cpu / 1e6 : 0;
    state.counters["bytes_ratio"] = static_cast<double>(sums[1].bytes) / static_cast<double>(sums[0].bytes);
    state.counters["cpu_ratio"] = sums[0].cpu > 0 ? sums[1].cpu / sums[0].cpu : 0;
    state.counters["small_kernel_s"] = sums[0].sys / n;
    state.counters["large_kernel_s"] = sums[1].sys / n;
    state.counters["user_ratio"] =
        sums[0].cpu > sums[0].sys ? (sums[1].cpu - sums[1].sys) / (sums[0].cpu - sums[0].sys) : 0;
    state.counters["wall_ratio"] = sums[0].wall > 0 ? sums[1].wall / sums[0].wall : 0;
    state.counters["triangles_ratio"] =
        static_cast<double>(TriangleCount(large->context())) / static_cast<double>(TriangleCount(small->context()));
}
BENCHMARK(BM_LargeObjectPair)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("split")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(3);

// 20,000 objects of 2 x 3 x 3 triangles in one face group.
void BM_ManySmallObjects(benchmark::State& state) {
    auto scene = GridScene(20000, 3);
    RunExport(state, *scene, state.range(0) == 1);
}
BENCHMARK(BM_ManySmallObjects)->Arg(1)->Arg(0)->ArgName("split")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
