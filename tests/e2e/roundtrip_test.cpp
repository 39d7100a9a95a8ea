// Round trips through the loaded module: import, export with the options
// dialog worked by a user who presses OK, import the written file again.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "export/export.h"
#include "host/store/text.h"
#include "tests/platform/on_windows.h"

namespace {

using asehost::HostScene;

std::string NameOf(const DualString& name) { return asehost::Utf16ToUtf8(asehost::WideOf(name)); }

// The name of a face's material. A face without one comes back with the
// material written for an object without material references: host material
// 0, or, in a scene without materials, the default named after the ordinal.
std::string MaterialOf(const HostContext& c, const HostFace& face, int ordinal) {
    if (face.materialIndex >= 0) return NameOf(c.materials[face.materialIndex].name);
    return c.materialCount > 0 ? NameOf(c.materials[0].name) : "Material" + std::to_string(ordinal);
}

void ExpectNear(const float* actual, const std::vector<float>& expected, const char* what) {
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i], expected[i], 1e-6 + 1e-6 * std::fabs(expected[i])) << what << " component " << i;
    }
}

// The re-imported scene `back` holds the exported objects of `sent` (those
// with faces, in order) with their faces in scan order. Per corner: the
// position comes back as (x, -z, y), colour and texture coordinates as they
// were (channel 1 only when it was exported), and each face's material by name.
// With `groupsOf` (the scene as first imported), each face's smoothing group
// comes back as that scene's face of the same place holds it.
void ExpectSameSceneBack(const HostContext& sent, const HostContext& back, bool secondChannel,
                         const HostContext* groupsOf = nullptr) {
    int ordinal = 0;
    for (int o = 0; o < sent.objectCount; ++o) {
        if (sent.objects[o].faceCount == 0) continue;
        ASSERT_LT(ordinal, back.objectCount);
        EXPECT_EQ(NameOf(back.objects[ordinal].name), NameOf(sent.objects[o].name));
        const HostFaceGroup& group = back.faceGroups[ordinal];
        ASSERT_EQ(group.faceCount, sent.objects[o].faceCount) << NameOf(sent.objects[o].name);
        int f = 0;
        for (int g = 0; g < sent.faceGroupCount; ++g) {
            for (int i = 0; i < sent.faceGroups[g].faceCount; ++i) {
                const HostFace& a = sent.faceGroups[g].faces[i];
                if (a.objectIndex != o) continue;
                const HostFace& b = group.faces[f++];
                SCOPED_TRACE(NameOf(sent.objects[o].name) + " face " + std::to_string(f - 1));
                ASSERT_EQ(b.cornerCount, 3);
                EXPECT_EQ(MaterialOf(back, b, ordinal), MaterialOf(sent, a, ordinal));
                if (groupsOf != nullptr) {
                    ASSERT_LT(g, groupsOf->faceGroupCount);
                    ASSERT_LT(i, groupsOf->faceGroups[g].faceCount);
                    EXPECT_EQ(b.smoothingGroup, groupsOf->faceGroups[g].faces[i].smoothingGroup);
                }
                for (int k = 0; k < 3; ++k) {
                    const HostVertex& va = sent.vertices[a.vertexIndices[k]];
                    const HostVertex& vb = back.vertices[b.vertexIndices[k]];
                    ExpectNear(vb.position, {va.position[0], -va.position[2], va.position[1]}, "position");
                    ExpectNear(vb.color, {va.color[0], va.color[1], va.color[2], va.color[3]}, "colour");
                    for (int ch = 0; ch < (secondChannel ? 2 : 1); ++ch) {
                        const HostUv& ua = a.uvData->channels[ch].cornerUvs[k];
                        const HostUv& ub = b.uvData->channels[ch].cornerUvs[k];
                        const float got[2] = {ub.u, ub.v};
                        ExpectNear(got, {ua.u, ua.v}, ch ? "uv channel 1" : "uv channel 0");
                    }
                }
            }
        }
        ++ordinal;
    }
    EXPECT_EQ(back.objectCount, ordinal);
}

std::string WithoutTimeLine(const std::string& text) {
    const size_t at = text.find("*COMMENT \"Time: ");
    if (at == std::string::npos) return text;
    return text.substr(0, at) + text.substr(text.find('\n', at) + 1);
}

struct Layout { bool split, multipleUvSets; };

// Imports `source`, exports it in `layout` into a folder named outside ASCII
// (written and read back by its wide name), imports the written file and
// compares. With `repeat`, exports the same scene again and compares bytes.
void RoundTrip(const std::string& source, Layout layout, bool repeat) {
    SCOPED_TRACE(source + (layout.split ? " split" : " indexed") + (layout.multipleUvSets ? ", two UV sets" : ", one UV set"));
    const std::filesystem::path out = e2e::FreshTempDir(u8"roundtrip_d\u00e9j\u00e0") / "out.ase";
    const std::u16string outPath = out.u16string();
    // Every check box set, so that no choice of an earlier export lingers.
    asehost::DialogChoices ok;
    for (int k = 0; k < 10; ++k) ok.checks[k] = 0;
    ok.checks[0] = ok.checks[1] = ok.checks[2] = ok.checks[3] = 1;  // materials, UVs, normals, colours
    ok.checks[4] = layout.multipleUvSets;
    ok.checks[7] = layout.split;
    ok.smoothing = 0;
    HostScene sent;
    ASSERT_EQ(e2e::Import(sent, source), 1) << asehost::ErrorTextOf(*sent.context());
    const asehost::ExportOutcome outcome = asehost::ExportScene(e2e::Plugin(), sent, outPath.c_str(), ok);
    if (outcome == asehost::ExportOutcome::DialogNotShown) GTEST_SKIP() << "the options dialog cannot open here";
    ASSERT_EQ(outcome, asehost::ExportOutcome::Written) << asehost::ErrorTextOf(*sent.context());
    const std::string written = e2e::ReadFile(out);
    // Written in text mode: CR LF on Windows, which the import reads alike.
    EXPECT_EQ(written.find("\r\n") != std::string::npos, OnWindows());

    HostScene back;
    ASSERT_EQ(e2e::Import(back, out), 1) << asehost::ErrorTextOf(*back.context());
    ExpectSameSceneBack(*sent.context(), *back.context(), layout.multipleUvSets);
    if (!repeat) return;
    ASSERT_EQ(asehost::ExportScene(e2e::Plugin(), sent, outPath.c_str(), ok), asehost::ExportOutcome::Written);
    EXPECT_EQ(WithoutTimeLine(e2e::ReadFile(out)), WithoutTimeLine(written));
}

TEST(EndToEndRoundTrip, ReimportGivesBackTheExportedSceneAndRepeatsAreIdentical) {
    std::vector<std::string> sources;
    for (const char* name : {"channels", "materials", "hierarchy", "walk.cycle"}) sources.push_back(e2e::DataPath(std::string(name) + ".ase"));
    for (const char* name : {"ThreeCubesGreen.ASE", "RotatingCube.ASE", "anim.ASE"}) {
        if (const std::string path = e2e::SamplePath(name); !path.empty()) sources.push_back(path);
    }
    for (const std::string& source : sources) {
        for (const Layout layout : {Layout{true, true}, Layout{false, true}, Layout{true, false}}) {
            // Each export opens the dialog, slow under wine: the repeat runs
            // for the first source only, which has colours and two UV sets.
            RoundTrip(source, layout, source == sources.front());
        }
    }
}

// The export as convert does it by default ("From scene" smoothing, the second
// UV channel when the file has one) of every fixture and sample that imports:
// materials, positions, both channels and each face's smoothing group come
// back as import gives them. The plug-in's axes are kept (convert
// --plugin-axes), so that positions compare as the other round trips do.
TEST(EndToEndRoundTrip, ConvertsDefaultsKeepMaterialsPositionsUvsAndSmoothingGroups) {
    std::vector<std::string> sources = {std::string(ASE_TEST_DATA_DIR) + "/../../examples/crate.ase"};
    for (const auto& entry : std::filesystem::directory_iterator(std::string(ASE_TEST_DATA_DIR) + "/e2e")) {
        if (entry.path().extension() == ".ase") sources.push_back(entry.path().string());
    }
    for (const char* name : {"ThreeCubesGreen.ASE", "RotatingCube.ASE", "anim.ASE"}) {
        if (const std::string path = e2e::SamplePath(name); !path.empty()) sources.push_back(path);
    }
    std::sort(sources.begin(), sources.end());
    int converted = 0;
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        HostScene imported, sent;
        if (e2e::Import(imported, source) != 1) continue;  // (the import's tests cover refusals)
        ASSERT_EQ(e2e::Import(sent, source), 1);
        const bool secondChannel = e2e::ReadFile(source).find("*MESH_MAPPINGCHANNEL 2") != std::string::npos;
        asehost::DialogChoices choices;  // the dialog's defaults but for convert's two
        choices.smoothing = SmoothFromScene;
        choices.checks[4] = secondChannel ? 1 : 0;  // export-multiple-uvsets
        const std::filesystem::path out = e2e::FreshTempDir("convert_defaults") / "out.ase";
        const asehost::ExportOutcome outcome = asehost::ExportScene(e2e::Plugin(), sent, out.u16string().c_str(), choices);
        if (outcome == asehost::ExportOutcome::DialogNotShown) GTEST_SKIP() << "the options dialog cannot open here";
        ASSERT_EQ(outcome, asehost::ExportOutcome::Written) << asehost::ErrorTextOf(*sent.context());
        EXPECT_EQ(e2e::ReadFile(out).find("*MESH_MAPPINGCHANNEL 2") != std::string::npos, secondChannel);
        HostScene back;
        ASSERT_EQ(e2e::Import(back, out), 1) << asehost::ErrorTextOf(*back.context());
        ExpectSameSceneBack(*sent.context(), *back.context(), secondChannel, imported.context());
        ++converted;
    }
    EXPECT_GE(converted, 6);
}

TEST(EndToEndRoundTrip, BothLayoutsKeepColoursOfCoincidentVertices) {
    for (const bool split : {false, true}) RoundTrip(e2e::DataPath("colour_seam.ase"), Layout{split, false}, false);
}

}  // namespace
