// Shared pieces of the export tests: options restored after each test, a
// scripted dialog user and what the dialog shows, files, scenes and captures.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "export/export_job.h"
#include "host/store/scene.h"
#include "platform/dialog.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "resources/options_dialog.h"
#include "tests/job_settings.h"
#include "tests/test_files.h"

namespace exporttest {

// Puts the export options back to what they were when the test started.
struct OptionsGuard {
    ExportOptions saved = TheExportOptions();
    ~OptionsGuard() { TheExportOptions() = saved; }
};

using Script = std::function<void(platform::DialogWindow*)>;

// A dialog user whose actions are a lambda.
struct ScriptedUser : platform::DialogUser {
    explicit ScriptedUser(Script s) : script(std::move(s)) {
        act = [](platform::DialogUser* self, platform::DialogWindow* d) { static_cast<ScriptedUser*>(self)->script(d); };
    }
    Script script;
};

// Runs `filter`'s export preparation of `scene` with `script` as the user at the dialog.
template <typename Filter>
int PrepareWithUser(Filter filter, asehost::HostScene& scene, void* instance, Script script) {
    ScriptedUser user(std::move(script));
    scene.setMainWindow(platform::AttachDialogUser(&user));
    const int result = filter(FILTER_MSG_PREPARE_EXPORT, scene.context(), instance, nullptr);
    platform::DetachDialogUser();
    scene.setMainWindow(nullptr);
    return result;
}

// The dialog's check boxes in dialog order, with their options and defaults.
struct CheckBox { int id; int ExportOptions::*field; int defaultValue; };
inline const CheckBox kBoxes[] = {
    {IDC_EXPORT_MATERIALS, &ExportOptions::exportMaterials, 1},
    {IDC_EXPORT_TEXTURE_COORDS, &ExportOptions::exportTextureCoords, 1},
    {IDC_EXPORT_VERTEX_NORMALS, &ExportOptions::exportVertexNormals, 1},
    {IDC_EXPORT_VERTEX_COLORS, &ExportOptions::exportVertexColors, 1},
    {IDC_EXPORT_MULTIPLE_UV_SETS, &ExportOptions::exportMultipleUvSets, 0},
    {IDC_EXPORT_AS_SINGLE_OBJECT, &ExportOptions::exportAsSingleObject, 0},
    {IDC_USE_FACE_NORMALS, &ExportOptions::useFaceNormals, 0},
    {IDC_SPLIT_VERTICES_PER_UV, &ExportOptions::splitVerticesPerUv, 1},
    {IDC_USE_MULTI_SUB_MATERIALS, &ExportOptions::useMultiSubObjectMaterials, 0},
    {IDC_USE_FULL_TEXTURE_PATH, &ExportOptions::useFullTexturePath, 0}};

// What an open dialog shows; gathered where the user acts, checked later.
struct Shown {
    intptr_t checks[std::size(kBoxes)] = {};
    intptr_t selection = -1;  // as when the dialog never appeared
    std::u16string angle;
    bool angleEnabled = false;
};

inline Shown Look(platform::DialogWindow* d) {
    using namespace platform;
    Shown s;
    for (size_t i = 0; i < std::size(kBoxes); ++i) s.checks[i] = SendDialogItemMessage(d, kBoxes[i].id, kButtonGetCheck, 0, 0);
    s.selection = SendDialogItemMessage(d, IDC_SMOOTHING_MODE, kComboGetCurSel, 0, 0);
    char16_t angle[256] = {};
    GetDialogItemText(d, IDC_SMOOTHING_ANGLE, angle, 256);
    s.angle = angle;
    s.angleEnabled = IsWindowEnabled(GetDialogItem(d, IDC_SMOOTHING_ANGLE));
    return s;
}

// Checks that `s` shows the options `o` (null: the defaults) with the angle text `angle`.
inline void ExpectShows(const Shown& s, const ExportOptions* o, const std::u16string& angle) {
    for (size_t i = 0; i < std::size(kBoxes); ++i) {
        EXPECT_EQ(s.checks[i], o ? o->*kBoxes[i].field : kBoxes[i].defaultValue) << kBoxes[i].id;
    }
    const int mode = o ? o->smoothingMode : SmoothAllSame;
    EXPECT_EQ(s.selection, mode);
    EXPECT_EQ(s.angle, angle);
    EXPECT_EQ(s.angleEnabled, mode == SmoothPerAngle);
}

// A fresh folder under the system's temporary folder, removed at the end.
struct TempDir {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
        (std::string("ase_export_") + testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { std::filesystem::remove_all(path); std::filesystem::create_directories(path); }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path, ignored); }
};

// The file's bytes; with `text`, without carriage returns, so that one golden
// serves the text mode of both systems.
inline std::string ReadFile(const std::filesystem::path& path, bool text = false) {
    std::string bytes = testfiles::ReadFile(path);
    if (text) std::erase(bytes, '\r');
    return bytes;
}

inline std::string Golden(const std::string& name) { return ReadFile(std::filesystem::path(ASE_TEST_DATA_DIR) / "export" / name); }

// An export of `scene_` into `dir_` with the host's texts and the clock
// fixed, its jobs made with the settings of `jobs_`; the options are put
// back afterwards, and no job block may be left.
class ExportTest : public testing::Test {
protected:
    void SetUp() override {
        platform::SetFixedTimeForTesting(1700000000);  // Tue Nov 14 22:13:20 2023 UTC
        scene_.setHostTexts(u"TestHost", u"2.5", u"https://host.example");
    }
    void TearDown() override {
        platform::SetFixedTimeForTesting(-1);
        EXPECT_EQ(jobs_.allocations.LiveBlocks(), 0);
    }

    JobSettingsScope jobs_;
    OptionsGuard guard_;
    TempDir dir_;
    asehost::HostScene scene_;
};

// A reference-host scene loaded from JSON; fails the test on bad JSON.
inline void LoadScene(asehost::HostScene& scene, const std::string& json) {
    std::string error;
    ASSERT_TRUE(scene.loadJson(json, error)) << error;
}

// Everything `write` writes to a temporary stream; `result` receives its result.
inline std::string Capture(const std::function<int(std::FILE*)>& write, int* result = nullptr) {
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) { ADD_FAILURE() << "no temporary file"; return {}; }
    const int r = write(stream);
    if (result != nullptr) *result = r;
    std::string text(static_cast<size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    std::fclose(stream);
    return text;
}

}  // namespace exporttest
