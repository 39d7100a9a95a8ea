// Shared setup of the geometry writer tests: a reference-host scene made
// current, default export options, a vertex normal table owned by the test,
// and the capture of what a writer writes.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "export/export.h"
#include "export/geometry/geometry.h"
#include "host/scene.h"

namespace geomtest {

using Json = nlohmann::json;

// One vertex of a JSON scene: position, normal and colour.
Json Vertex(float x, float y, float z, std::array<float, 3> normal = {0.0f, 0.0f, 1.0f},
            std::array<float, 4> color = {1.0f, 1.0f, 1.0f, 1.0f});

// One face of a JSON scene with its channel-0 and channel-1 UV indices.
Json Face(int object, std::vector<int> vertices, std::vector<int> uv0, std::vector<int> uv1, int material = -1,
          int smoothing = 0, std::array<float, 3> normal = {0.0f, 0.0f, 1.0f});

// Runs `write` on a fresh temporary file and returns all it wrote; `result`
// receives the writer's result.
std::string Capture(const std::function<int(std::FILE*)>& write, int* result = nullptr);

class GeometryExportTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads `scene` into the host (failing the test on a load error), makes
    // it current and fills the normal table with each vertex's own normal
    // turned by a quarter turn about z, so that table and host normals differ.
    void Load(const Json& scene);
    // Sets the table to exactly `entries` (empty: no table).
    void SetNormalTable(std::vector<std::array<float, 3>> entries);

    std::string Split(int objectIndex, int ordinal = 0, int* result = nullptr);
    std::string Indexed(int objectIndex, int ordinal = 0, int* result = nullptr);

    HostContext* context() { return scene_.context(); }
    HostFace& FaceOf(int group, int face) { return context()->faceGroups[group].faces[face]; }

    asehost::HostScene scene_;
    std::vector<std::array<float, 3>> normals_;
};

// Lines of a text that start (after the tabs) with `keyword`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& keyword);

}  // namespace geomtest
