// Import benchmarks: an ASE file to a finished host scene through the
// plug-in module, as the reference host runs it (load the module, register,
// FILTER_MSG_IMPORT through the filter callback that registration handed
// over), plus the reader alone for profiling.
//
// Scenes come from the scene generator in the shared tools folder and are
// written to a temporary folder the first time; when python3 or the
// generator is missing the benchmarks skip with a message. The hostile flood
// of object lines is written by the benchmark itself.
//
// Counters: MB/s by process CPU time and by wall time, the CPU and wall
// ratios of a file twice as large (with the ratios of its phases), and the
// peak resident memory that one import adds in a fresh process, over the
// file's size.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ase/reader_internal.h"
#include "import/import.h"
#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"

namespace {

namespace fs = std::filesystem;

struct SceneSpec {
    const char* file;
    const char* arguments;  // OBJECTS GRID [KEYS] for the generator
};

// Mid-sized (about 105 MB) and half its size for the scaling pair; many
// small objects; one object with many keys.
constexpr SceneSpec kHalf = {"half.ase", "4 120 500"};
constexpr SceneSpec kMid = {"mid.ase", "8 120 500"};
constexpr SceneSpec kManyObjects = {"objects20000.ase", "20000 2"};
constexpr SceneSpec kManyKeys = {"keys200000.ase", "1 1 200000"};

std::string gSelf;  // this executable, for the peak-memory child runs

fs::path BenchFolder() {
    if (const char* folder = std::getenv("ASE_BENCH_DIR")) return folder;
    return fs::temp_directory_path() / "ase_import_bench";
}

// The scene's path, generating it when missing. Empty with `why` filled
// when it cannot be had.
std::string ScenePath(const SceneSpec& spec, std::string& why) {
    const fs::path folder = BenchFolder();
    const fs::path path = folder / spec.file;
    std::error_code error;
    if (fs::exists(path, error) && fs::file_size(path, error) > 0) return path.string();
    const fs::path generator = fs::path(ASE_SHARED_DIR) / "tools" / "gen_ase.py";
    if (!fs::exists(generator, error)) {
        why = "scene generator not found at " + generator.string();
        return {};
    }
    if (std::system("python3 -c \"\" > /dev/null 2>&1") != 0) {
        why = "python3 is not available to generate the scenes";
        return {};
    }
    fs::create_directories(folder, error);
    const fs::path partial = folder / (std::string(spec.file) + ".partial");
    const std::string command =
        "python3 \"" + generator.string() + "\" \"" + partial.string() + "\" " + spec.arguments;
    if (std::system(command.c_str()) != 0) {
        why = "scene generation failed: " + command;
        return {};
    }
    fs::rename(partial, path, error);
    if (error) {
        why = "cannot place the generated scene at " + path.string();
        return {};
    }
    return path.string();
}

std::u16string Widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Process CPU seconds and wall seconds.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The plug-in module loaded and registered once for all benchmarks.
asehost::PluginLoader* Plugin(std::string& why) {
    static asehost::PluginLoader loader;
    static bool opened = false;
    static std::string error;
    if (!opened) {
        opened = loader.open(Widen(ASE_MODULE_PATH).c_str(), error);
        if (!opened) error = "cannot load the plug-in module: " + error;
    }
    why = error;
    return opened ? &loader : nullptr;
}

// Times of one import into a scene that was emptied beforehand (outside the
// timing).
struct ImportTimes {
    double cpu = 0;
    double wall = 0;
    bool ok = false;
};

ImportTimes TimedImport(const asehost::PluginLoader& plugin, asehost::HostScene& scene, const std::u16string& path) {
    ImportTimes times;
    scene.reset();
    const double cpu0 = CpuSeconds();
    const double wall0 = WallSeconds();
    times.ok = asehost::ImportFile(plugin, scene, path.c_str()) == 1;
    times.cpu = CpuSeconds() - cpu0;
    times.wall = WallSeconds() - wall0;
    return times;
}

void ReportRates(benchmark::State& state, double bytes, double cpu, double wall) {
    state.counters["MB/s_cpu"] = cpu > 0 ? bytes / cpu / 1e6 : 0;
    state.counters["MB/s_wall"] = wall > 0 ? bytes / wall / 1e6 : 0;
    state.counters["file_MB"] = bytes / state.iterations() / 1e6;
}

// File to finished host scene through the module.
void ImportThroughModule(benchmark::State& state, SceneSpec spec) {
    std::string why;
    const std::string file = ScenePath(spec, why);
    asehost::PluginLoader* plugin = file.empty() ? nullptr : Plugin(why);
    if (plugin == nullptr) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::u16string path = Widen(file);
    const double size = static_cast<double>(fs::file_size(file));
    asehost::HostScene scene;
    scene.setOperationLogEnabled(false);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        scene.reset();
        state.ResumeTiming();
        const double cpu0 = CpuSeconds();
        const double wall0 = WallSeconds();
        if (asehost::ImportFile(*plugin, scene, path.c_str()) != 1) {
            state.SkipWithError("the import failed");
            return;
        }
        cpu += CpuSeconds() - cpu0;
        wall += WallSeconds() - wall0;
        benchmark::DoNotOptimize(scene.context()->vertexCount);
    }
    state.SetBytesProcessed(static_cast<int64_t>(size) * state.iterations());
    ReportRates(state, size * state.iterations(), cpu, wall);
    state.counters["objects"] = scene.context()->objectCount;
}

// Times of `work` (which returns false on failure).
template <class Work>
ImportTimes Timed(Work work) {
    ImportTimes times;
    const double cpu0 = CpuSeconds();
    const double wall0 = WallSeconds();
    times.ok = work();
    times.cpu = CpuSeconds() - cpu0;
    times.wall = WallSeconds() - wall0;
    return times;
}

// The reader's part of one import, timed as the import runs it: the file
// read through its window into the document, and the document's
// post-processing; then the frees of the document and the window.
struct ReaderPhases {
    ImportTimes parse;
    ImportTimes release;
    bool ok = false;
};

// What an import job owns for its reader.
struct BenchReading {
    JobAllocator allocator;
    JobError error;
    AseDocument doc{};
    BlockStack stack;
    AseReader source{};
    BenchReading() { BindAseReader(source, allocator, error, doc, stack); }
    // The reader and the post-processing the import job runs after it.
    bool Parse() {
        error = JobError{};
        if (!ParseAseDocument(source)) return false;
        ResolveParentIndices(doc);
        ComputeLocalTransforms(doc);
        ResolveVertexColors(doc);
        return true;
    }
    void Reset() {
        ResetDocument(doc);
        stack.Clear();
    }
};

ReaderPhases TimedReaderPhases(const std::string& path) {
    ReaderPhases phases;
    BenchReading reading;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return phases;
    const auto size = static_cast<uint32_t>(fs::file_size(path));
    phases.parse = Timed([&] {
        return OpenAseSourceWindow(reading.source, file, size, kSourceWindowBytes) != 0 && reading.Parse();
    });
    phases.release = Timed([&] {
        ReleaseAseSource(reading.source);
        reading.Reset();
        return true;
    });
    std::fclose(file);
    phases.ok = phases.parse.ok;
    return phases;
}

// Sums of one phase's times on the two files of the scaling pair.
struct PhasePair {
    ImportTimes small;
    ImportTimes large;
    void Add(const ImportTimes& a, const ImportTimes& b) {
        small.cpu += a.cpu;
        small.wall += a.wall;
        large.cpu += b.cpu;
        large.wall += b.wall;
    }
};

// A file twice as large: the ratio of the import times (CPU and wall),
// measured alternately so that load from other processes hits both alike.
// Beside them the CPU ratios of the import's two phases, to show where a
// ratio above 2 comes from: the reader (the file through its window into
// the document) and the rest (building the host scene and the frees), each
// with its share of the large file's import.
void ImportScaling(benchmark::State& state) {
    std::string why;
    const std::string half = ScenePath(kHalf, why);
    const std::string full = half.empty() ? std::string() : ScenePath(kMid, why);
    asehost::PluginLoader* plugin = full.empty() ? nullptr : Plugin(why);
    if (plugin == nullptr) {
        state.SkipWithError(why.c_str());
        return;
    }
    asehost::HostScene scene;
    scene.setOperationLogEnabled(false);
    PhasePair import;
    PhasePair reader;
    for (auto _ : state) {
        const ImportTimes a = TimedImport(*plugin, scene, Widen(half));
        const ImportTimes b = TimedImport(*plugin, scene, Widen(full));
        scene.reset();
        const ReaderPhases c = TimedReaderPhases(half);
        const ReaderPhases d = TimedReaderPhases(full);
        if (!a.ok || !b.ok || !c.ok || !d.ok) {
            state.SkipWithError("the import failed");
            return;
        }
        import.Add(a, b);
        reader.Add(c.parse, d.parse);
    }
    state.counters["size_ratio"] =
        static_cast<double>(fs::file_size(full)) / static_cast<double>(fs::file_size(half));
    state.counters["cpu_ratio"] = import.large.cpu / import.small.cpu;
    state.counters["wall_ratio"] = import.large.wall / import.small.wall;
    state.counters["reader_cpu_ratio"] = reader.large.cpu / reader.small.cpu;
    // The rest of the import: building the host scene and the frees.
    const double restSmall = import.small.cpu - reader.small.cpu;
    const double restLarge = import.large.cpu - reader.large.cpu;
    state.counters["rest_cpu_ratio"] = restSmall > 0 ? restLarge / restSmall : 0;
    state.counters["reader_share"] = reader.large.cpu / import.large.cpu;
    state.counters["rest_share"] = restLarge / import.large.cpu;
}

// Reads a "Vm...:  N kB" line of /proc/self/status; -1 when absent.
long long ProcStatusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength && line[keyLength] == ':') {
            return std::atoll(line.c_str() + keyLength + 1) * 1024;
        }
    }
    return -1;
}

// Child mode: one import of `file` in this fresh process; prints the growth
// of the peak resident size over the resident size just before it, and the
// import's result.
int PeakChild(const char* file) {
    std::string why;
    asehost::PluginLoader* plugin = Plugin(why);
    if (plugin == nullptr) {
        std::printf("error %s\n", why.c_str());
        return 1;
    }
    asehost::HostScene scene;
    scene.setOperationLogEnabled(false);
    const std::u16string path = Widen(file);
    const long long before = ProcStatusBytes("VmRSS");
    int result = 0;
    const ImportTimes times = Timed([&] {
        result = asehost::ImportFile(*plugin, scene, path.c_str());
        return true;
    });
    const long long peak = ProcStatusBytes("VmHWM");
    if (before < 0 || peak < 0) {
        std::printf("error rss %lld, peak %lld\n", before, peak);
        return 1;
    }
    std::printf("peak %lld %d %.6f %.6f\n", peak - before, result, times.cpu, times.wall);
    return 0;
}

// Peak memory of one import of `file`, measured in a fresh child process;
// `imported` is the result the import must have. Also the rates of that
// import: the first in its process, it finds no memory that earlier imports
// freed (the import loops above reuse much of theirs).
void MeasurePeak(benchmark::State& state, const std::string& file, int imported) {
    const fs::path report = BenchFolder() / "peak.txt";
    long long peak = -1;
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const std::string command = "\"" + gSelf + "\" --import-peak \"" + file + "\" > \"" + report.string() + "\"";
        const int status = std::system(command.c_str());
        std::ifstream in(report);
        std::string word;
        int result = -1;
        in >> word >> peak >> result >> cpu >> wall;
        if (status != 0 || word != "peak") {
            state.SkipWithError(("peak child failed: " + word).c_str());
            return;
        }
        if (result != imported) {
            state.SkipWithError(("the import gave " + std::to_string(result)).c_str());
            return;
        }
    }
    const double size = static_cast<double>(fs::file_size(file));
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["file_MB"] = size / 1e6;
    state.counters["peak/file"] = static_cast<double>(peak) / size;
    state.counters["first_MB/s_cpu"] = cpu > 0 ? size / cpu / 1e6 : 0;
    state.counters["first_MB/s_wall"] = wall > 0 ? size / wall / 1e6 : 0;
}

void ImportPeakMemory(benchmark::State& state, SceneSpec spec) {
    std::string why;
    const std::string file = ScenePath(spec, why);
    if (file.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    MeasurePeak(state, file, 1);
}

// A hostile file: a million "*GEOMOBJECT" lines (12 MB) and nothing else.
// The import must fail without making records for them.
void ImportPeakMemoryObjectLineFlood(benchmark::State& state) {
    const fs::path path = BenchFolder() / "object_line_flood.ase";
    std::error_code error;
    if (!fs::exists(path, error)) {
        fs::create_directories(path.parent_path(), error);
        std::ofstream out(path, std::ios::binary);
        const std::string line = "*GEOMOBJECT\n";
        for (int i = 0; i < 1000000; ++i) out << line;
        if (!out) {
            state.SkipWithError("cannot write the flood file");
            return;
        }
    }
    MeasurePeak(state, path.string(), 0);
}

std::string LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The reader alone: file bytes already in a source to a filled import
// document; only ParseAseDocument is timed. Making the source (a fresh
// buffer and the copy into it) and the frees are outside the timing and
// reported beside it per iteration: source_ms, and of that first_touch_ms,
// the fresh copy's time over a second copy into the same, now touched,
// pages; free_ms.
void ReaderOnly(benchmark::State& state, SceneSpec spec) {
    std::string why;
    const std::string file = ScenePath(spec, why);
    if (file.empty()) {
        state.SkipWithError(why.c_str());
        return;
    }
    const std::string input = LoadFile(file);
    BenchReading reading;
    double cpu = 0;
    double wall = 0;
    double sourceWall = 0;
    double touchedCopyWall = 0;
    double freeWall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const ImportTimes made = Timed([&] { return MakeAseSource(reading.source, input.data(), input.size()) != 0; });
        if (!made.ok) {
            state.SkipWithError("no memory for the source");
            break;
        }
        // The same bytes again (the input has no byte-order mark, so the
        // source holds them unchanged), into pages that are touched now.
        const ImportTimes copied = Timed([&] {
            std::memcpy(reading.source.data, input.data(), input.size());
            return true;
        });
        sourceWall += made.wall;
        touchedCopyWall += copied.wall;
        state.ResumeTiming();

        const ImportTimes parsed = Timed([&] { return reading.Parse(); });
        if (!parsed.ok) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(reading.doc.geomObjects);
        cpu += parsed.cpu;
        wall += parsed.wall;

        state.PauseTiming();
        freeWall += Timed([&] {
            ReleaseAseSource(reading.source);
            reading.Reset();
            return true;
        }).wall;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(input.size()) * state.iterations());
    ReportRates(state, static_cast<double>(input.size()) * state.iterations(), cpu, wall);
    const double n = static_cast<double>(state.iterations());
    if (n > 0) {
        state.counters["source_ms"] = sourceWall / n * 1e3;
        state.counters["first_touch_ms"] = (sourceWall - touchedCopyWall) / n * 1e3;
        state.counters["free_ms"] = freeWall / n * 1e3;
    }
}

}  // namespace

BENCHMARK_CAPTURE(ImportThroughModule, mid, kMid)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ImportThroughModule, half, kHalf)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ImportThroughModule, objects20000, kManyObjects)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ImportThroughModule, keys200000, kManyKeys)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(ImportScaling)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->Iterations(5);
BENCHMARK_CAPTURE(ImportPeakMemory, mid, kMid)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(ImportPeakMemory, objects20000, kManyObjects)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(ImportPeakMemory, keys200000, kManyKeys)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(ImportPeakMemoryObjectLineFlood)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(ReaderOnly, mid, kMid)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ReaderOnly, objects20000, kManyObjects)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(ReaderOnly, keys200000, kManyKeys)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

int main(int argc, char** argv) {
    gSelf = fs::absolute(argv[0]).string();
    if (argc == 3 && std::strcmp(argv[1], "--import-peak") == 0) return PeakChild(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
