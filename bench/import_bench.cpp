// Throughput of the ASE reader alone: file bytes to a filled import
// document (both passes, no host). The file comes from ASE_BENCH_FILE, or
// a scene generated in memory when it is not set.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ase/reader_internal.h"

namespace {

// A mesh-heavy scene of about `vertices` vertices in the exporter's layout.
std::string GeneratedScene(int objects, int vertices) {
    std::string text = "*3DSMAX_ASCIIEXPORT\t200\n*SCENE {\n\t*SCENE_FRAMESPEED 30\n}\n";
    char line[256];
    for (int o = 0; o < objects; ++o) {
        text += "*GEOMOBJECT {\n\t*NODE_NAME \"obj" + std::to_string(o) + "\"\n\t*MESH {\n";
        text += "\t\t*MESH_NUMVERTEX " + std::to_string(vertices) + "\n\t\t*MESH_NUMFACES " +
                std::to_string(vertices) + "\n\t\t*MESH_VERTEX_LIST {\n";
        for (int v = 0; v < vertices; ++v) {
            std::snprintf(line, sizeof line, "\t\t\t*MESH_VERTEX %5d\t%.4f\t%.4f\t%.4f\n", v, v * 0.25, -v * 0.5,
                          v * 0.125);
            text += line;
        }
        text += "\t\t}\n\t\t*MESH_FACE_LIST {\n";
        for (int f = 0; f < vertices; ++f) {
            std::snprintf(line, sizeof line,
                          "\t\t\t*MESH_FACE %5d:    A: %5d B: %5d C: %5d AB:    1 BC:    1 CA:    0\t "
                          "*MESH_SMOOTHING 1 \t*MESH_MTLID 0\n",
                          f, f, (f + 1) % vertices, (f + 2) % vertices);
            text += line;
        }
        text += "\t\t}\n\t}\n}\n";
    }
    return text;
}

std::string LoadInput() {
    if (const char* path = std::getenv("ASE_BENCH_FILE")) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    return GeneratedScene(8, 100000);
}

void ParseDocument(benchmark::State& state) {
    const std::string input = LoadInput();
    AseSource source = {};
    HostContext context = {};
    for (auto _ : state) {
        ResetDocument(TheDocument());
        if (!MakeAseSource(source, input.data(), input.size()) || !ParseAseDocument(source, &context)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(TheDocument().geomObjects);
        ReleaseAseSource(source);
        ResetDocument(TheDocument());
        TheBlockStack().Clear();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void CountingPass(benchmark::State& state) {
    const std::string input = LoadInput();
    AseSource source = {};
    MakeAseSource(source, input.data(), input.size());
    for (auto _ : state) {
        ResetDocument(TheDocument());
        source.position = 0;
        CountObjects(source);
        benchmark::DoNotOptimize(TheDocument().countedGeomObjects);
    }
    ReleaseAseSource(source);
    ResetDocument(TheDocument());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

}  // namespace

BENCHMARK(ParseDocument)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CountingPass)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
