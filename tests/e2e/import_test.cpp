// Import through the loaded module: hand-written fixtures against the host
// scenes they describe, broken files, and the shared sample files.
#include <regex>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "host/text.h"

namespace {

using asehost::HostScene;
using e2e::DataPath;
using e2e::ReadFile;

// The text with every line ended by `ending`.
std::string WithLineEnds(const std::string& text, const std::string& ending) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            out += ending;
        } else {
            out += c;
        }
    }
    return out;
}

// Each fixture imports into the host scene of its .expected.json, read with
// LF line ends in place and with CR LF and lone CR from copies: textures
// resolve into the folder of whichever file was imported.
TEST(EndToEndImport, FixturesGiveTheirExpectedSceneWithAnyLineEnds) {
    const std::filesystem::path temp = e2e::FreshTempDir("import");
    for (const std::string name : {"materials", "hierarchy", "channels", "walk.cycle"}) {
        const nlohmann::json expected = nlohmann::json::parse(ReadFile(DataPath(name + ".expected.json")));
        const std::string text = ReadFile(DataPath(name + ".ase"));
        const struct {
            const char* folder;
            const char* ending;
        } variants[] = {{nullptr, "\n"}, {"crlf", "\r\n"}, {"cr", "\r"}};
        for (const auto& variant : variants) {
            SCOPED_TRACE(name + (variant.folder ? std::string(" ") + variant.folder : std::string(" in place")));
            std::filesystem::path path = DataPath(name + ".ase");
            if (variant.folder) {
                std::filesystem::create_directories(temp / variant.folder);
                path = temp / variant.folder / (name + ".ase");
                e2e::WriteFile(path, WithLineEnds(text, variant.ending));
            }
            HostScene scene;
            ASSERT_EQ(e2e::Import(scene, path), 1) << asehost::ErrorTextOf(*scene.context());
            e2e::ExpectSubset(expected, nlohmann::json::parse(scene.saveJson()), e2e::FolderOfFileName(scene), 1e-5);
        }
    }
}

TEST(EndToEndImport, BrokenFilesFailWithTheirErrorText) {
    const std::filesystem::path empty = e2e::FreshTempDir("broken") / "empty.ase";
    e2e::WriteFile(empty, "");
    const struct {
        std::string path;
        const char* errorText;
    } cases[] = {
        {empty.string(), "No geometry found."},
        {DataPath("no_geometry.ase"), "No geometry found."},
        {DataPath("bad_vertex_index.ase"), "line 13: face 0 of \"Broken\" uses vertex 3, but \"Broken\" has 3 vertices"},
        {DataPath("bad_material_index.ase"), "line 7: *MATERIAL 2 names no material: *MATERIAL_COUNT declares 2"},
    };
    for (const auto& c : cases) {
        HostScene scene;
        EXPECT_EQ(e2e::Import(scene, c.path), 0) << c.path;
        EXPECT_EQ(asehost::ErrorTextOf(*scene.context()), c.errorText) << c.path;
    }
}

// What a sample file declares, read from its text.
struct Declared {
    std::vector<std::string> objects;
    std::vector<int> faceCounts;
    int materialCount = 0;
    std::vector<std::string> materialNames;
};

Declared ReadDeclarations(const std::string& text) {
    Declared d;
    const auto scan = [&text](const char* pattern, auto onMatch) {
        const std::regex re(pattern);
        for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) onMatch((*it)[1].str());
    };
    scan(R"re(\*GEOMOBJECT \{\s*\*NODE_NAME "([^"]*)")re", [&d](const std::string& s) { d.objects.push_back(s); });
    scan(R"re(\*MESH_NUMFACES (\d+))re", [&d](const std::string& s) { d.faceCounts.push_back(std::stoi(s)); });
    scan(R"re(\*MATERIAL_COUNT (\d+))re", [&d](const std::string& s) { d.materialCount = std::stoi(s); });
    scan(R"re(\*MATERIAL_NAME "([^"]*)")re", [&d](const std::string& s) { d.materialNames.push_back(s); });
    return d;
}

TEST(EndToEndImport, SharedSamplesGiveWhatTheirTextDeclares) {
    for (const char* name : {"ThreeCubesGreen.ASE", "RotatingCube.ASE", "anim.ASE"}) {
        const std::string path = e2e::SamplePath(name);
        if (path.empty()) GTEST_SKIP() << "no shared samples";
        SCOPED_TRACE(name);
        const Declared declared = ReadDeclarations(ReadFile(path));
        ASSERT_FALSE(declared.objects.empty());
        ASSERT_EQ(declared.faceCounts.size(), declared.objects.size());
        HostScene scene;
        ASSERT_EQ(e2e::Import(scene, path), 1) << asehost::ErrorTextOf(*scene.context());
        const HostContext& c = *scene.context();
        ASSERT_EQ(c.objectCount, static_cast<int>(declared.objects.size()));
        int faces = 0;
        for (int o = 0; o < c.objectCount; ++o) {
            EXPECT_EQ(asehost::Utf16ToUtf8(asehost::WideOf(c.objects[o].name)), declared.objects[o]);
            EXPECT_EQ(c.objects[o].faceCount, declared.faceCounts[o]);
            EXPECT_EQ(c.faceGroups[o].faceCount, declared.faceCounts[o]);
            faces += c.faceGroups[o].faceCount;
        }
        EXPECT_GT(faces, 0);
        ASSERT_EQ(c.materialCount, declared.materialCount);
        ASSERT_EQ(declared.materialNames.size(), static_cast<size_t>(declared.materialCount));
        for (int m = 0; m < c.materialCount; ++m) {
            EXPECT_EQ(asehost::Utf16ToUtf8(asehost::WideOf(c.materials[m].name)), declared.materialNames[m]);
        }
    }
}

}  // namespace
