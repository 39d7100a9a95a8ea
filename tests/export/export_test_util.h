// Shared pieces of the export control tests: options restored after each
// test, a scripted dialog user, reference-host scenes and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "export/export.h"
#include "host/scene.h"
#include "platform/dialog.h"
#include "platform/platform.h"
#include "plugin/plugin.h"

namespace exporttest {

// Puts the export options back to what they were when the test started.
class OptionsGuard {
public:
    OptionsGuard() : saved_(TheExportOptions()) {}
    ~OptionsGuard() { TheExportOptions() = saved_; }
    OptionsGuard(const OptionsGuard&) = delete;
    OptionsGuard& operator=(const OptionsGuard&) = delete;

private:
    ExportOptions saved_;
};

// A dialog user whose actions are a lambda.
struct ScriptedUser : platform::DialogUser {
    explicit ScriptedUser(std::function<void(platform::DialogWindow*)> script) : script_(std::move(script)) {
        act = [](platform::DialogUser* self, platform::DialogWindow* dialog) {
            static_cast<ScriptedUser*>(self)->script_(dialog);
        };
    }

private:
    std::function<void(platform::DialogWindow*)> script_;
};

// The text of control `id`.
inline std::u16string ItemText(platform::DialogWindow* dialog, int id) {
    char16_t text[256] = {};
    platform::GetDialogItemText(dialog, id, text, 256);
    return text;
}

inline intptr_t CheckState(platform::DialogWindow* dialog, int id) {
    return platform::SendDialogItemMessage(dialog, id, platform::kButtonGetCheck, 0, 0);
}

inline bool ItemEnabled(platform::DialogWindow* dialog, int id) {
    return platform::IsWindowEnabled(platform::GetDialogItem(dialog, id));
}

// A fresh directory under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                (std::string("ase_export_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::u16string Wide(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    std::u16string out;
    for (char8_t c : utf8) out += static_cast<char16_t>(c);  // test paths are ASCII
    return out;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The file's text with every CR LF made an LF, so that one golden serves the
// text mode of both systems.
inline std::string ReadTextFile(const std::filesystem::path& path) {
    const std::string raw = ReadFile(path);
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return out;
}

inline std::string Golden(const std::string& name) {
    return ReadFile(std::filesystem::path(ASE_TEST_DATA_DIR) / "export" / name);
}

// A reference-host scene loaded from JSON; fails the test on bad JSON.
inline void LoadScene(asehost::HostScene& scene, const std::string& json) {
    std::string error;
    ASSERT_TRUE(scene.loadJson(json, error)) << error;
}

// Everything written to a temporary stream by `write`, with its result.
template <typename Write>
std::string Capture(Write write, int* result = nullptr) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    if (stream == nullptr) return {};
    const int r = write(stream);
    if (result != nullptr) *result = r;
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
    std::fclose(stream);
    return text;
}

}  // namespace exporttest
