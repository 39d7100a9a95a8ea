// The reader's observer seam, through the import's ObservedImport: line
// numbers that hold through a moving window and every kind of line end, the
// restart of a read that falls back to two passes, and the block, count and
// drop events of a small file; the scan that parses nothing (ScanAse) tells
// the lines and blocks the read tells, less the insides of the blocks it
// passes over.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include <filesystem>
#include <string>
#include <vector>

#include "ase/read.h"
#include "host/store/scene.h"
#include "import/import.h"
#include "tests/job_settings.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;
using testfiles::Data;

// Every event as one text: "line NUMBER WORD", "open NUMBER", "close NUMBER
// KEYWORD" (or "stray"), "count NUMBER VALUE", "drop NUMBER WHY", "restart".
struct Recorder final : AseObserver {
    void OnRestart() override { events.push_back("restart"); }
    void OnLine(const AseObservedLine& line) override {
        events.push_back("line " + std::to_string(line.number) + " " + std::string(line.word) +
                         (line.skipped ? " skipped" : ""));
        numbered.push_back({line.number, std::string(line.word)});
    }
    void OnBlockOpen(const AseObservedLine& line) override { events.push_back("open " + std::to_string(line.number)); }
    void OnBlockClose(const AseObservedLine& line, Kw closed, bool stray) override {
        events.push_back("close " + std::to_string(line.number) + " " +
                         (stray ? std::string("stray") : std::string(KeywordText(closed))));
    }
    void OnCount(const AseObservedLine& line, int32_t value) override {
        events.push_back("count " + std::to_string(line.number) + " " + std::to_string(value));
    }
    void OnDropped(const AseObservedLine& line, AseDrop why) override {
        events.push_back("drop " + std::to_string(line.number) + " " +
                         (why == AseDrop::kMalformed ? "malformed" : "out-of-range"));
    }
    std::vector<std::string> events;
    std::vector<std::pair<int64_t, std::string>> numbered;
};

// The events of an import of `path` read through a window of `window` bytes
// (0: the product's), in two passes when asked.
Recorder Observe(const fs::path& path, uint32_t window, bool twoPasses = false) {
    asehost::HostScene scene;
    scene.setOperationLogEnabled(false);
    const std::u16string wide = fs::absolute(path).u16string();
    scene.setFileName(wide.c_str());
    const fs::path cwd = fs::current_path();
    Recorder recorder;
    const JobSettingsScope settings({.read = {.windowBytes = window, .twoPasses = twoPasses}});
    ObservedImport import;
    import.Run(scene.context(), &recorder);
    fs::current_path(cwd);
    return recorder;
}

// The lines of `bytes` split as the format splits them (CR LF, a lone CR,
// a lone LF), numbered from 1 at index 1.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines(2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n') {
            if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += bytes[i];
        }
    }
    return lines;
}

fs::path Temp(const std::string& name) { return fs::temp_directory_path() / ("ase_observe_" + name); }

TEST(Observe, LineNumbersHoldThroughAWindowAndEveryLineEnd) {
    const std::vector<fs::path> sources = {Data("e2e/channels.ase"), Data("e2e/walk.cycle.ase"),
                                           Data("check/malformed_line.ase"), Data("check/open_block.ase")};
    for (const fs::path& source : sources) {
        for (const std::string ending : {"\n", "\r\n", "\r"}) {
            SCOPED_TRACE(source.filename().string() + " ending " + std::to_string(ending.size()) + ending.substr(0, 1));
            // An empty line and one of spaces where numbering may slip.
            const std::string text = "\n  \n" + testfiles::WithLineEnds(testfiles::ReadFile(source), ending);
            const fs::path path = Temp("lines.ase");
            testfiles::WriteFile(path, text);
            const Recorder whole = Observe(path, 0);
            ASSERT_GT(whole.numbered.size(), 5u);
            const std::vector<std::string> lines = SplitLines(text);
            for (const auto& [number, word] : whole.numbered) {
                ASSERT_GT(number, 0);
                ASSERT_LT(static_cast<size_t>(number), lines.size());
                EXPECT_NE(lines[static_cast<size_t>(number)].find(word), std::string::npos)
                    << "line " << number << " holds no " << word;
            }
            for (const uint32_t window : {64u, 97u, 256u}) {
                EXPECT_EQ(Observe(path, window).events, whole.events) << "window " << window;
            }
            fs::remove(path);
        }
    }
}

TEST(Observe, AFallBackToTwoPassesRestartsTheObserverOnce) {
    for (const char* name : {"material_count_twice.ase", "material_list_before_its_count.ase"}) {
        SCOPED_TRACE(name);
        const fs::path path = Data("ase/faults") / name;
        const Recorder twoPasses = Observe(path, 0, true);
        ASSERT_FALSE(twoPasses.events.empty());
        for (const uint32_t window : {0u, 64u}) {
            const std::vector<std::string> events = Observe(path, window).events;
            const auto restart = std::find(events.begin(), events.end(), "restart");
            ASSERT_NE(restart, events.end()) << "window " << window;
            EXPECT_EQ(std::vector<std::string>(restart + 1, events.end()), twoPasses.events) << "window " << window;
        }
    }
    const std::vector<std::string> plain = Observe(Data("e2e/channels.ase"), 64).events;
    EXPECT_EQ(std::count(plain.begin(), plain.end(), "restart"), 0);
}

TEST(Observe, BlocksCountsAndDroppedLinesComeWithTheirLines) {
    const fs::path path = Temp("events.ase");
    testfiles::WriteFile(path,
                         "*3DSMAX_ASCIIEXPORT 200\n"               // 1
                         "*GEOMOBJECT {\n"                          // 2
                         "\t*NODE_NAME \"Tri\"\n"                   // 3
                         "\t*MESH {\n"                              // 4
                         "\t\t*MESH_NUMVERTEX 3\n"                  // 5
                         "\t\t*MESH_NUMFACES 1\n"                   // 6
                         "\t\t*MESH_VERTEX_LIST {\n"                // 7
                         "\t\t\t*MESH_VERTEX 0 0.0 0.0 0.0\n"       // 8
                         "\t\t\t*MESH_VERTEX 1 1.0 0.0 0.0\n"       // 9
                         "\t\t\t*MESH_VERTEX 2 0.0 1.0 0.0\n"       // 10
                         "\t\t\t*MESH_VERTEX 7 0.0 0.0 1.0\n"       // 11: beyond the count
                         "\t\t\t*MESH_VERTEX x\n"                   // 12: unreadable
                         "\t\t}\n"                                  // 13
                         "\t\t*MESH_FACE_LIST {\n"                  // 14
                         "\t\t\t*MESH_FACE 0: A: 0 B: 1 C: 2\n"     // 15
                         "\t\t}\n"                                  // 16
                         "\t\t*MESH_NORMALS {\n"                    // 17: skipped unread
                         "\t\t\t*MESH_FACENORMAL 0 0.0 0.0 1.0\n"   // 18
                         "\t\t}\n"                                  // 19
                         "\t}\n"                                    // 20
                         "}\n"                                      // 21
                         "}\n");                                    // 22: closes nothing
    const std::vector<std::string> events = Observe(path, 0).events;
    fs::remove(path);
    const auto has = [&](const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    };
    for (const char* event :
         {"line 1 *3DSMAX_ASCIIEXPORT", "open 2", "count 5 3", "count 6 1", "drop 11 out-of-range", "drop 12 malformed",
          "close 13 *MESH_VERTEX_LIST", "close 16 *MESH_FACE_LIST", "line 18 *MESH_FACENORMAL skipped",
          "close 19 *MESH_NORMALS", "close 20 *MESH", "close 21 *GEOMOBJECT", "close 22 stray"}) {
        EXPECT_TRUE(has(event)) << event;
    }
    EXPECT_FALSE(has("restart"));
    // Each event of a line follows the line's own.
    const auto at = [&](const std::string& event) { return std::find(events.begin(), events.end(), event); };
    EXPECT_LT(at("line 11 *MESH_VERTEX"), at("drop 11 out-of-range"));
    EXPECT_LT(at("line 13 }"), at("close 13 *MESH_VERTEX_LIST"));
}

// The events of a scan of `path` through a window of `window` bytes (0:
// the product's), passing over the blocks of `filter`. The read's document
// stays empty and no failure is recorded.
Recorder Scan(const fs::path& path, uint32_t window, const AseScanFilter& filter) {
    JobAllocator allocator;
    JobError error;
    AseDocument doc{};
    doc.allocator = &allocator;
    ResetDocument(doc);
    Recorder recorder;
    AseRead* read = CreateAseRead(allocator, error, doc, nullptr);
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    EXPECT_NE(file, nullptr);
    bool fileStillRead = false;
    const std::u16string wide = path.u16string();
    EXPECT_EQ(LoadAseSource(*read, file, wide.c_str(), u"", AseReadSettings{window, false}, fileStillRead), 1);
    EXPECT_EQ(ScanAse(*read, recorder, filter), 1);
    EXPECT_FALSE(error.Failed());
    EXPECT_EQ(doc.geomObjectCount + doc.helperCount + doc.materialCount + doc.lightCount, 0);
    DestroyAseRead(allocator, read);
    std::fclose(file);
    return recorder;
}

// The second word of an event: its line number (0 for "restart").
int64_t EventLine(const std::string& event) {
    std::istringstream words(event);
    std::string kind;
    int64_t number = 0;
    words >> kind >> number;
    return number;
}

// The line, opening and closing events, " skipped" cut: what a scan and a
// read of the same text share (a read tells counts only in blocks it reads).
std::vector<std::string> LinesAndBlocks(const std::vector<std::string>& events) {
    std::vector<std::string> out;
    for (std::string event : events) {
        if (event.rfind("count ", 0) == 0) continue;
        if (const size_t at = event.find(" skipped"); at != std::string::npos) event.erase(at);
        out.push_back(event);
    }
    return out;
}

TEST(ObserveScan, TellsTheLinesAndBlocksOfTheRead) {
    for (const fs::path& path : {Data("e2e/channels.ase"), Data("e2e/walk.cycle.ase"), Data("e2e/helper_parent.ase"),
                                 Data("host/losses.ase"), Data("check/open_block.ase")}) {
        SCOPED_TRACE(path.filename().string());
        const Recorder read = Observe(path, 0);
        const Recorder scan = Scan(path, 0, AseScanFilter{});
        EXPECT_EQ(LinesAndBlocks(scan.events), LinesAndBlocks(read.events));
        EXPECT_NE(std::find_if(scan.events.begin(), scan.events.end(),
                               [](const std::string& event) { return event.rfind("count ", 0) == 0; }),
                  scan.events.end());
    }
}

TEST(ObserveScan, PassesOverTheInsidesOfTheBlocksItIsTold) {
    AseScanFilter filter;
    for (Kw keyword : {Kw::kMeshVertexList, Kw::kMeshMappingChannel, Kw::kMeshNormals, Kw::kTmAnimation}) {
        filter.PassOver(keyword);
    }
    const std::vector<std::string> passed = {"*MESH_VERTEX_LIST", "*MESH_MAPPINGCHANNEL", "*MESH_NORMALS",
                                             "*TM_ANIMATION"};
    const fs::path stray = Temp("stray.ase");
    // A passed-over block with nested ones, a line with both braces (it
    // opens), a brace after a NUL (the text ended before it), then a
    // stray brace and a block the file never closes.
    testfiles::WriteFile(stray, std::string("*GEOMOBJECT {\n*MESH {\n*MESH_NORMALS {\n*A {\n*B { }\n}\n*C 1\n*D 2 ") +
                                    std::string(1, '\0') +
                                    " {\n*E } {\n}\n}\n}\n}\n}\n}\n"
                                    "*GEOMOBJECT {\n*MESH {\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 0 1 2 3\n*X {\n");
    for (const fs::path& path : {Data("e2e/channels.ase"), Data("e2e/walk.cycle.ase"), stray}) {
        SCOPED_TRACE(path.filename().string());
        const std::vector<std::string> all = Scan(path, 0, AseScanFilter{}).events;
        // The lines strictly inside a passed-over block, from the events of
        // the scan that passes over nothing.
        std::vector<std::pair<int64_t, int64_t>> inside;
        std::vector<std::pair<int64_t, std::string>> open;
        std::string word;
        for (const std::string& event : all) {
            if (event.rfind("line ", 0) == 0) word = event.substr(event.find(' ', 5) + 1);
            if (event.rfind("open ", 0) == 0) open.push_back({EventLine(event), word});
            if (event.rfind("close ", 0) == 0 && event.find(" stray") == std::string::npos) {
                if (std::find(passed.begin(), passed.end(), open.back().second) != passed.end()) {
                    inside.push_back({open.back().first, EventLine(event)});
                }
                open.pop_back();
            }
        }
        for (const auto& [first, last] : open) {
            if (std::find(passed.begin(), passed.end(), last) != passed.end()) inside.push_back({first, INT64_MAX});
        }
        ASSERT_FALSE(inside.empty());
        std::vector<std::string> expected;
        for (const std::string& event : all) {
            const int64_t line = EventLine(event);
            const bool hidden = std::any_of(inside.begin(), inside.end(),
                                            [&](const auto& range) { return line > range.first && line < range.second; });
            if (!hidden) expected.push_back(event);
        }
        ASSERT_LT(expected.size(), all.size());
        for (const uint32_t window : {0u, 64u, 97u}) {
            EXPECT_EQ(Scan(path, window, filter).events, expected) << "window " << window;
        }
    }
    fs::remove(stray);
}

}  // namespace
