// Shared setup of the geometry writer tests: a reference-host scene with an
// export job over it, default export options and a vertex normal table set by
// the test.
#pragma once

#include <array>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "export/export_job.h"
#include "export/geometry/geometry.h"
#include "tests/export/export_test_util.h"
#include "tests/job_settings.h"

namespace geomtest {

using Json = nlohmann::json;
using exporttest::Capture;
constexpr size_t npos = std::string::npos;

inline Json Face(int object, std::vector<int> vertices, std::vector<int> uv0, std::vector<int> uv1, int smoothing = 0,
                 std::array<float, 3> normal = {0, 0, 1}) {
    return Json{{"objectIndex", object}, {"vertexIndices", vertices}, {"materialIndex", -1},
                {"smoothingGroup", smoothing}, {"normal", normal},
                {"uvChannels", Json::array({Json{{"uvIndices", uv0}}, Json{{"uvIndices", uv1}}})}};
}

// Lines of a text that start (after the tabs) with `keyword`.
inline std::vector<std::string> LinesWith(const std::string& text, const std::string& keyword) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of('\t');
        if (start != npos && line.compare(start, keyword.size(), keyword) == 0) lines.push_back(line);
    }
    return lines;
}

// The number after the first `keyword` in `text`, or -1 when there is none.
inline int NumberAfter(const std::string& text, const std::string& keyword) {
    const size_t at = text.find(keyword);
    return at == npos ? -1 : std::atoi(text.c_str() + at + keyword.size());
}

class GeometryExportTest : public ::testing::Test {
protected:
    void SetUp() override { TheExportOptions() = ExportOptions{}; }
    void TearDown() override {
        job_.reset();
        EXPECT_EQ(jobs_.allocations.LiveBlocks(), 0);
    }

    // Loads `scene` into the host with a new job over it; the normal table
    // gets each vertex's own normal turned a quarter turn about z, so that
    // table and host normals differ.
    void Load(const Json& scene) {
        std::string error;
        ASSERT_TRUE(scene_.loadJson(scene.dump(), error)) << error;
        NewJob();
        std::vector<std::array<float, 3>> entries;
        const HostVertex* v = context()->vertices;
        for (int i = 0; i < context()->vertexCount; ++i) entries.push_back({-v[i].normal[1], v[i].normal[0], v[i].normal[2]});
        SetNormalTable(std::move(entries));
    }
    // Loads objects A and B with `faces` over ten vertices at x = index and
    // ten UV entries per channel, entry i at (i / 10, 0.5).
    void LoadFaces(const std::vector<Json>& faces) {
        Json scene;
        for (int i = 0; i < 10; ++i) {
            scene["vertices"].push_back({{"position", {i, 0, 0}}, {"normal", {0, 0, 1}}, {"color", {1, 1, 1, 1}}});
            scene["uvStore"][0].push_back({float(i) / 10, 0.5f});
        }
        scene["uvStore"][1] = scene["uvStore"][0];
        scene["objects"] = Json::array({Json{{"name", "A"}}, Json{{"name", "B"}}});
        scene["faceGroups"][0]["faces"] = faces;
        Load(scene);
    }
    // A job of its own over the scene, as a new export starts with (its
    // face lists built afresh), keeping the normal table.
    void NewJob() {
        job_ = std::make_unique<ExportJob>(scene_.context());
        if (!normals_.empty()) SetNormalTable(normals_);
    }
    // Sets the table to exactly `entries` (empty: no table).
    void SetNormalTable(std::vector<std::array<float, 3>> entries) {
        normals_ = std::move(entries);
        ReleaseVertexNormalTable(*job_);
        if (normals_.empty()) return;
        ASSERT_TRUE(AllocateVertexNormalTable(*job_, static_cast<int>(normals_.size())));
        for (size_t i = 0; i < normals_.size(); ++i) std::copy_n(normals_[i].data(), 3, job_->normals.normals[i]);
    }

    // The job's options are what the test set last.
    std::string Split(int object, int ordinal = 0, int* result = nullptr) {
        job_->options = TheExportOptions();
        return Capture([&](std::FILE* f) { return WriteSplitGeometryObject(*job_, f, object, ordinal); }, result);
    }
    std::string Indexed(int object, int ordinal = 0, int* result = nullptr) {
        job_->options = TheExportOptions();
        return Capture([&](std::FILE* f) { return WriteIndexedGeometryObject(*job_, f, object, ordinal); }, result);
    }

    HostContext* context() { return scene_.context(); }
    HostFace& FaceOf(int group, int face) { return context()->faceGroups[group].faces[face]; }

    // The jobs' settings, declared first so that they outlive the job.
    JobSettingsScope jobs_;
    asehost::HostScene scene_;
    std::vector<std::array<float, 3>> normals_;
    std::unique_ptr<ExportJob> job_;
};

}  // namespace geomtest
