// Import through the loaded module: hand-written fixtures against the host
// scenes they describe. (The error texts of broken files are
// ImportFaults.FailuresSayWhereAndWhat's; the shared samples are imported by
// the round trips, the check and the window test, and every face corner of
// each is compared with its text by the command-line test.)
#include <string>

#include <nlohmann/json.hpp>

#include "e2e_support.h"

namespace {

using asehost::HostScene;
using e2e::DataPath;
using e2e::ReadFile;

// The host's file name up to and including its last separator.
std::string FolderOfFileName(const asehost::HostScene& scene) {
    const std::string name = asehost::Utf16ToUtf8(asehost::WideOf(scene.context()->fileName));
    return name.substr(0, name.find_last_of("/\\") + 1);
}

// Checks `actual` against `expected`: every member that `expected` has must
// match, arrays element by element with equal lengths, numbers within
// `tolerance`; a null in `expected` matches anything. "${DIR}" in expected
// texts stands for `folder`.
void ExpectSubset(const nlohmann::json& expected, const nlohmann::json& actual, const std::string& folder, double tolerance,
                  const std::string& where = "$") {
    if (expected.is_null()) return;
    if (expected.is_object()) {
        ASSERT_TRUE(actual.is_object()) << where;
        for (const auto& [key, value] : expected.items()) {
            ASSERT_TRUE(actual.contains(key)) << where << "." << key;
            ExpectSubset(value, actual[key], folder, tolerance, where + "." + key);
        }
    } else if (expected.is_array()) {
        ASSERT_TRUE(actual.is_array()) << where;
        ASSERT_EQ(actual.size(), expected.size()) << where;
        for (size_t i = 0; i < expected.size(); ++i) {
            ExpectSubset(expected[i], actual[i], folder, tolerance, where + "[" + std::to_string(i) + "]");
        }
    } else if (expected.is_number()) {
        ASSERT_TRUE(actual.is_number()) << where << " is " << actual.dump();
        EXPECT_NEAR(actual.get<double>(), expected.get<double>(), tolerance) << where;
    } else if (expected.is_string()) {
        std::string text = expected.get<std::string>();
        if (const size_t at = text.find("${DIR}"); at != std::string::npos) text.replace(at, 6, folder);
        EXPECT_EQ(actual, nlohmann::json(text)) << where;
    } else {
        EXPECT_EQ(actual, expected) << where;
    }
}

// Each fixture imports into the host scene of its .expected.json, read with
// LF line ends in place and with CR LF and lone CR from copies: textures
// resolve into the folder of whichever file was imported.
TEST(EndToEndImport, FixturesGiveTheirExpectedSceneWithAnyLineEnds) {
    const std::filesystem::path temp = e2e::FreshTempDir("import");
    for (const std::string name :
         {"materials", "hierarchy", "channels", "walk.cycle", "smoothing_box", "edgeless_box", "helper_parent"}) {
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
                e2e::WriteFile(path, testfiles::WithLineEnds(text, variant.ending));
            }
            HostScene scene;
            ASSERT_EQ(e2e::Import(scene, path), 1) << asehost::ErrorTextOf(*scene.context());
            ExpectSubset(expected, nlohmann::json::parse(scene.saveJson()), FolderOfFileName(scene), 1e-5);
        }
    }
}

}  // namespace
