// asehost check: the fault-file folder against its table of expected
// findings, every sample and fixture free of false errors, and the two
// printed forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/tool/check.h"
#include "host/store/scene.h"
#include "import/import.h"
#include "tests/job_settings.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using asehost::CheckAseFile;
using asehost::CheckReport;
using testfiles::AseFiles;
using testfiles::Data;

struct Expected {
    int exitCode = -1;
    std::vector<std::string> findings;  // "LINE SEVERITY KIND", sorted
    std::vector<std::pair<std::string, std::string>> texts;  // a finding's row, what its message says
};

std::string Row(int64_t line, const char* severity, const std::string& kind) {
    return std::to_string(line) + " " + severity + " " + kind;
}

std::vector<std::string> Rows(const CheckReport& report) {
    std::vector<std::string> rows;
    for (const auto& f : report.findings) rows.push_back(Row(f.line, asehost::CheckSeverityName(f.severity), f.kind));
    std::sort(rows.begin(), rows.end());
    return rows;
}

CheckReport Check(const fs::path& path) { return CheckAseFile(path.u16string(), path.filename().string()); }

TEST(Check, EveryFaultFileGivesExactlyItsFindings) {
    const fs::path folder = Data("check");
    std::map<std::string, Expected> table;
    std::ifstream in(folder / "expected.txt");
    ASSERT_TRUE(in) << "no expected.txt";
    for (std::string text; std::getline(in, text);) {
        if (text.empty() || text[0] == '#') continue;
        std::istringstream row(text);
        std::string file, first, severity, kind;
        row >> file >> first;
        if (first == "exit") {
            row >> table[file].exitCode;
        } else {
            row >> severity >> kind;
            table[file].findings.push_back(Row(std::stoll(first), severity.c_str(), kind));
            std::string said;
            std::getline(row >> std::ws, said);
            if (!said.empty()) table[file].texts.emplace_back(table[file].findings.back(), said);
        }
    }
    const std::vector<fs::path> files = AseFiles(folder);
    ASSERT_GE(files.size(), 20u);
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        auto it = table.find(name);
        ASSERT_NE(it, table.end()) << "no row in expected.txt";
        std::sort(it->second.findings.begin(), it->second.findings.end());
        const CheckReport report = Check(path);
        ASSERT_TRUE(report.opened) << report.openError;
        EXPECT_EQ(Rows(report), it->second.findings) << asehost::FormatCheckText(report);
        EXPECT_EQ(asehost::CheckExitCode(report), it->second.exitCode);
        for (const auto& [row, said] : it->second.texts) {
            const bool found = std::any_of(report.findings.begin(), report.findings.end(), [&](const auto& f) {
                return Row(f.line, asehost::CheckSeverityName(f.severity), f.kind) == row &&
                       f.message.find(said) != std::string::npos;
            });
            EXPECT_TRUE(found) << row << " does not say: " << said << "\n" << asehost::FormatCheckText(report);
        }
        table.erase(it);
    }
    for (const auto& [name, expected] : table) ADD_FAILURE() << name << " is in expected.txt but not in the folder";
}

// check reads as the import reads, through its window: a window of a few
// dozen bytes, moved hundreds of times a file, finds what a whole read finds.
TEST(Check, AWindowedReadFindsWhatAWholeReadFinds) {
    std::vector<fs::path> files = AseFiles(Data("check"));
    for (const fs::path& path : AseFiles(Data("ase/faults"))) files.push_back(path);
    ASSERT_GE(files.size(), 30u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        const std::string whole = asehost::FormatCheckJson(Check(path));
        for (const uint32_t window : {64u, 200u}) {
            const JobSettingsScope settings({.read = {.windowBytes = window}});
            const std::string windowed = asehost::FormatCheckJson(Check(path));
            EXPECT_EQ(windowed, whole) << "window " << window;
        }
    }
}

// An observer that only counts what it is told.
struct CountingObserver final : AseObserver {
    void OnRestart() override { lines = skipped = 0; }
    void OnLine(const AseObservedLine&) override { ++lines; }
    void OnBlockOpen(const AseObservedLine&) override {}
    void OnBlockClose(const AseObservedLine&, Kw, bool) override {}
    void OnCount(const AseObservedLine&, int32_t) override {}
    void OnDropped(const AseObservedLine&, AseDrop) override { ++skipped; }
    int lines = 0;
    int skipped = 0;
};

// The import of `path` with `observer` (may be null): the scene as JSON, or
// empty when the import fails.
std::string Import(const fs::path& path, AseObserver* observer) {
    asehost::HostScene scene;
    scene.setOperationLogEnabled(false);
    const std::u16string absolute = fs::absolute(path).u16string();
    scene.setFileName(absolute.c_str());
    const fs::path cwd = fs::current_path();
    ObservedImport import;
    const bool ok = import.Run(scene.context(), observer) == 1;
    fs::current_path(cwd);
    return ok ? scene.saveJson() : std::string();
}

// Files that import give no error; files the import refuses give exactly
// one, the import's own. Warnings and notes are allowed.
TEST(Check, SamplesAndFixturesGiveNoFalseErrors) {
    std::vector<fs::path> files;
    for (const fs::path& folder : {fs::path(ASE_SHARED_DIR) / "samples", Data("e2e"), Data("export"), Data("ase")}) {
        const std::vector<fs::path> found = AseFiles(folder);
        files.insert(files.end(), found.begin(), found.end());
    }
    ASSERT_GE(files.size(), 30u);
    int clean = 0;
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        const CheckReport report = Check(path);
        ASSERT_TRUE(report.opened);
        const std::string plain = Import(path, nullptr);
        CountingObserver observer;
        EXPECT_EQ(Import(path, &observer), plain) << "an observer changed the import";
        if (!plain.empty()) {
            EXPECT_GT(observer.lines, 10);
            ++clean;
            EXPECT_EQ(report.errors, 0) << asehost::FormatCheckText(report);
            EXPECT_TRUE(asehost::CheckExitCode(report) == 0 || asehost::CheckExitCode(report) == 4);
        } else {
            EXPECT_EQ(report.errors, 1) << asehost::FormatCheckText(report);
            EXPECT_EQ(asehost::CheckExitCode(report), 3);
        }
    }
    EXPECT_GE(clean, 20);
}

// Every cut of a fixture with materials, channels and colours: the check
// never fails by itself, and a cut that leaves the import working reports
// the blocks it left open.
TEST(Check, EveryCutOfAFixtureIsCheckedCleanly) {
    const std::string bytes = testfiles::ReadFile(Data("e2e/channels.ase"));
    ASSERT_GT(bytes.size(), 1000u);
    const fs::path cut = fs::temp_directory_path() / "asehost_check_cut.ase";
    int openCuts = 0;
    for (size_t size = 0; size <= bytes.size(); size += 7) {
        std::ofstream(cut, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
        const CheckReport report = CheckAseFile(cut.u16string(), "cut.ase");
        ASSERT_TRUE(report.opened) << size;
        ASSERT_LE(report.errors, 1) << size;
        const bool open = std::any_of(report.findings.begin(), report.findings.end(),
                                      [](const auto& f) { return f.kind == "open-block"; });
        if (report.errors == 0 && size < bytes.size() - 2) {
            openCuts += open ? 1 : 0;
        } else if (size == bytes.size()) {
            EXPECT_FALSE(open);
        }
    }
    fs::remove(cut);
    EXPECT_GT(openCuts, 100);
}

// (A finding's line of the text form is the asehost_check_cli test's.)
TEST(Check, TextAndJsonFormsCarryTheFindings) {
    const fs::path path = Data("check/count_mismatch.ase");
    const CheckReport report = CheckAseFile(path.u16string(), "count_mismatch.ase");
    const std::string text = asehost::FormatCheckText(report);
    EXPECT_NE(text.find("count_mismatch.ase: 0 errors, 4 warnings, 0 notes"), std::string::npos) << text;

    const nlohmann::json json = nlohmann::json::parse(asehost::FormatCheckJson(report));
    EXPECT_EQ(json["file"], "count_mismatch.ase");
    EXPECT_EQ(json["warnings"], 4);
    EXPECT_EQ(json["errors"], 0);
    ASSERT_EQ(json["findings"].size(), report.findings.size());
    EXPECT_EQ(json["findings"][2]["line"], 16);
    EXPECT_EQ(json["findings"][2]["severity"], "warning");
    EXPECT_EQ(json["findings"][2]["kind"], "count-mismatch");

    const CheckReport missing = CheckAseFile(u"/nonexistent/folder/none.ase", "none.ase");
    EXPECT_FALSE(missing.opened);
    EXPECT_NE(missing.openError.find("does not exist"), std::string::npos) << missing.openError;
    EXPECT_EQ(asehost::CheckExitCode(missing), 1);
}

}  // namespace
