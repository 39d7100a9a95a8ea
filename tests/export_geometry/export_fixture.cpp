#include "tests/export_geometry/export_fixture.h"

#include <sstream>

#include "plugin/plugin.h"

namespace geomtest {

Json Vertex(float x, float y, float z, std::array<float, 3> normal, std::array<float, 4> color) {
    return Json{{"position", {x, y, z}}, {"normal", normal}, {"color", color}};
}

Json Face(int object, std::vector<int> vertices, std::vector<int> uv0, std::vector<int> uv1, int material,
          int smoothing, std::array<float, 3> normal) {
    return Json{{"materialIndex", material},
                {"objectIndex", object},
                {"smoothingGroup", smoothing},
                {"normal", normal},
                {"vertexIndices", vertices},
                {"uvChannels", Json::array({Json{{"uvIndices", uv0}}, Json{{"uvIndices", uv1}}})}};
}

std::string Capture(const std::function<int(std::FILE*)>& write, int* result) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    const int r = write(file);
    if (result != nullptr) *result = r;
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

void GeometryExportTest::SetUp() {
    TheExportOptions() = ExportOptions{};
    ResetExportFaceBuckets();
    currentContext = scene_.context();
}

void GeometryExportTest::TearDown() {
    TheVertexNormalTable() = VertexNormalTable{};
    ResetExportFaceBuckets();
    currentContext = nullptr;
}

void GeometryExportTest::Load(const Json& scene) {
    std::string error;
    ASSERT_TRUE(scene_.loadJson(scene.dump(), error)) << error;
    ResetExportFaceBuckets();
    currentContext = scene_.context();
    std::vector<std::array<float, 3>> entries;
    for (int i = 0; i < context()->vertexCount; ++i) {
        const float* n = context()->vertices[i].normal;
        entries.push_back({-n[1], n[0], n[2]});
    }
    SetNormalTable(std::move(entries));
}

void GeometryExportTest::SetNormalTable(std::vector<std::array<float, 3>> entries) {
    normals_ = std::move(entries);
    VertexNormalTable& table = TheVertexNormalTable();
    table.normals = normals_.empty() ? nullptr : reinterpret_cast<float (*)[3]>(normals_.data());
    table.count = static_cast<int>(normals_.size());
}

std::string GeometryExportTest::Split(int objectIndex, int ordinal, int* result) {
    return Capture([&](std::FILE* f) { return WriteSplitGeometryObject(f, objectIndex, ordinal); }, result);
}

std::string GeometryExportTest::Indexed(int objectIndex, int ordinal, int* result) {
    return Capture([&](std::FILE* f) { return WriteIndexedGeometryObject(f, objectIndex, ordinal); }, result);
}

std::vector<std::string> LinesWith(const std::string& text, const std::string& keyword) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of('\t');
        if (start != std::string::npos && line.compare(start, keyword.size(), keyword) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace geomtest
