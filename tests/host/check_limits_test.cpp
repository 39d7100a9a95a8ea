// asehost check on files built to blow up its work or its memory: deep
// nesting, many distinct findings of each kind, many objects. Each must be
// checked in one pass (a million-deep file finishes within the test's
// time; the quadratic walk it replaced would take hours), with exact totals,
// at most kCheckListedPerKind findings listed per kind, and check's peak
// memory, counted by this program's operator new, within the bound stated
// in host/tool/check.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "host/tool/check.h"
#include "tests/host/replaced_new.h"
#include "tests/test_files.h"

namespace {

// Live and peak bytes of every block through operator new, counted in a
// header before the block.
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::size_t gLive = 0;
std::size_t gPeak = 0;

}  // namespace

void* ReplacedNew(std::size_t size) noexcept {
    auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (raw == nullptr) return nullptr;
    std::memcpy(raw, &size, sizeof size);
    gLive += size;
    gPeak = std::max(gPeak, gLive);
    return raw + kHeader;
}

void ReplacedDelete(void* block) noexcept {
    if (block == nullptr) return;
    unsigned char* raw = static_cast<unsigned char*>(block) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, raw, sizeof size);
    gLive -= size;
    std::free(raw);
}

namespace {

namespace fs = std::filesystem;
using asehost::CheckReport;
using asehost::kCheckListedPerKind;

// The bound check.cpp states: its own peak within this many times the
// file's bytes, plus a fixed allowance.
constexpr std::size_t kBytesPerFileByte = 8;
constexpr std::size_t kFixedBytes = std::size_t{1} << 20;

struct Checked {
    CheckReport report;
    std::size_t fileBytes;
    std::size_t peakBytes;  // above what was live before the check
};

// The first line of every file written here: without it each would have
// one more finding.
constexpr std::string_view kAseHeader = "*3DSMAX_ASCIIEXPORT 200\n";

// Writes `text`, after the header, to a file alone in a scratch folder (so that no texture it
// names is there) and checks it, counting the peak.
Checked CheckText(const std::string& text) {
    const fs::path folder = fs::temp_directory_path() / "asehost_check_limits";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path path = folder / "limits.ase";
    testfiles::WriteFile(path, std::string(kAseHeader) + text);
    const std::size_t before = gLive;
    gPeak = gLive;
    Checked checked{asehost::CheckAseFile(path.u16string(), "limits.ase"), text.size(), 0};
    checked.peakBytes = gPeak - before;
    fs::remove_all(folder);
    return checked;
}

// A valid object, so that the import succeeds and the whole file is checked;
// `parent` names its parent when not empty.
std::string ValidObject(const std::string& name, const std::string& parent = {}) {
    return "*GEOMOBJECT {\n*NODE_NAME \"" + name + "\"\n" +
           (parent.empty() ? std::string() : "*NODE_PARENT \"" + parent + "\"\n") +
           "*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 1\n*MESH_VERTEX_LIST {\n"
           "*MESH_VERTEX 0 0 0 0\n*MESH_VERTEX 1 1 0 0\n*MESH_VERTEX 2 0 1 0\n}\n"
           "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 1 *MESH_MTLID 0\n}\n}\n}\n";
}

std::string Repeated(int64_t count, const std::function<std::string(int64_t)>& piece) {
    std::string out;
    for (int64_t i = 0; i < count; ++i) out += piece(i);
    return out;
}

// Of findings of `kind`: how many are listed, and the number a summing-up
// finding gives for the rest (0 when there is none).
struct KindCount {
    int64_t listed = 0;
    int64_t more = 0;
};

KindCount CountOf(const CheckReport& report, const std::string& kind) {
    KindCount count;
    for (const asehost::CheckFinding& finding : report.findings) {
        if (finding.kind != kind) continue;
        const std::string prefix = "... and ";
        if (finding.message.rfind(prefix, 0) != 0) {
            ++count.listed;
            continue;
        }
        EXPECT_EQ(finding.line, 0);
        EXPECT_EQ(count.more, 0) << "two summing-up findings of " << kind;
        std::string digits;
        for (char c : finding.message.substr(prefix.size())) {
            if (c == ' ') break;
            if (c != ',') digits += c;
        }
        count.more = std::stoll(digits);
        const std::string end = " more " + kind + (count.more == 1 ? " finding" : " findings");
        EXPECT_TRUE(finding.message.size() >= end.size() &&
                    finding.message.compare(finding.message.size() - end.size(), end.size(), end) == 0)
            << finding.message;
    }
    return count;
}

void ExpectWithinBound(const Checked& checked) {
    EXPECT_LE(checked.peakBytes, kBytesPerFileByte * checked.fileBytes + kFixedBytes)
        << "peak " << checked.peakBytes << " bytes for a file of " << checked.fileBytes;
}

// A million nested blocks left open: every one is reported, the outermost
// listed, and each lookup takes one step, whatever the depth.
TEST(CheckLimits, AMillionOpenBlocksAreCheckedInOnePass) {
    const int64_t depth = 1000000;
    const std::string valid = ValidObject("Deep");
    const Checked checked = CheckText(valid + Repeated(depth, [](int64_t) { return "*X {\n"; }));
    const CheckReport& report = checked.report;
    ASSERT_TRUE(report.opened);
    EXPECT_EQ(report.errors, 0);
    EXPECT_EQ(report.warnings, depth + 1);  // and the unknown *X itself
    const KindCount open = CountOf(report, "open-block");
    EXPECT_EQ(open.listed, kCheckListedPerKind);
    EXPECT_EQ(open.more, depth - kCheckListedPerKind);
    // The listed ones are the outermost, in the order of the file.
    const auto first = std::find_if(report.findings.begin(), report.findings.end(),
                                    [](const auto& f) { return f.kind == "open-block" && f.line > 0; });
    ASSERT_NE(first, report.findings.end());
    EXPECT_EQ(first->line, std::count(valid.begin(), valid.end(), '\n') + 2);
    ExpectWithinBound(checked);
    EXPECT_LT(asehost::FormatCheckText(report).size(), 100000u);
}

// Each kind that can repeat without end, tens of thousands of times over:
// totals exact, the list capped, the memory within the bound. Each piece is
// as short as its kind allows, which makes the bound tightest.
TEST(CheckLimits, ManyFindingsOfEachKindAreSummedUpWithinTheBound) {
    struct Case {
        const char* kind;
        int64_t findings;  // of that kind
        std::string text;
    };
    const int64_t n = 100000;
    const int64_t objects = 20000;  // each some 250 bytes: files as large as the rest
    const auto number = [](int64_t i) { return std::to_string(i); };
    // A letter and a number, without a one-letter literal before the string
    // (mingw g++ 12 warns falsely of overlap there at -O3).
    const auto named = [](char letter, int64_t i) { return std::string(1, letter).append(std::to_string(i)); };
    const std::string valid = ValidObject("V");
    // Kinds found per object: a reference to no material, a face with two
    // corners alike.
    const auto referring = [](int64_t i) {
        const std::string object = ValidObject(std::string(1, 'R').append(std::to_string(i)));
        return object.substr(0, object.size() - 2) + "*MATERIAL_REF 5\n}\n";
    };
    const auto degenerate = [](int64_t i) {
        std::string object = ValidObject(std::string(1, 'D').append(std::to_string(i)));
        return object.replace(object.find("C: 2"), 4, "C: 1");
    };
    const Case cases[] = {
        {"unknown-keyword", n, valid + Repeated(n, [&](int64_t i) { return "*K" + number(i) + "\n"; })},
        {"open-block", n, valid + Repeated(n, [](int64_t) { return "{\n"; })},
        {"count-mismatch", n,
         valid.substr(0, valid.size() - 4) + Repeated(n, [](int64_t) { return "*MESH {\n*MESH_NUMVERTEX 3\n"; })},
        {"duplicate-name", objects - 1, Repeated(objects, [&](int64_t) { return ValidObject("Same"); })},
        {"missing-parent", objects,
         Repeated(objects, [&](int64_t i) { return ValidObject(named('C', i), named('P', i)); })},
        {"parent-cycle", objects,
         Repeated(objects, [&](int64_t i) { return ValidObject(named('C', i), named('C', i)); })},
        {"missing-texture", n,
         valid + "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*MAP_DIFFUSE {\n" +
             Repeated(n, [&](int64_t i) { return "*BITMAP \"t" + number(i) + "\"\n"; }) + "}\n}\n}\n"},
        {"material-ref", objects, Repeated(objects, referring)},
        {"degenerate-face", objects, Repeated(objects, degenerate)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const Checked checked = CheckText(c.text);
        ASSERT_TRUE(checked.report.opened);
        const KindCount count = CountOf(checked.report, c.kind);
        EXPECT_EQ(count.listed, kCheckListedPerKind) << asehost::FormatCheckText(checked.report).substr(0, 2000);
        EXPECT_EQ(count.listed + count.more, c.findings);
        EXPECT_GE(checked.report.warnings, c.findings);
        EXPECT_LE(checked.report.findings.size(), 3 * static_cast<size_t>(kCheckListedPerKind));
        ExpectWithinBound(checked);
    }
}

// One finding over the cap is summed up as one.
TEST(CheckLimits, OneFindingOverTheCapIsSummedUpAsOne) {
    const auto unknown = [](int64_t i) { return "*K" + std::to_string(i) + "\n"; };
    const Checked checked = CheckText(ValidObject("V") + Repeated(kCheckListedPerKind + 1, unknown));
    const KindCount count = CountOf(checked.report, "unknown-keyword");
    EXPECT_EQ(count.listed, kCheckListedPerKind);
    EXPECT_EQ(count.more, 1);
}

// Findings of a kind under the cap are listed whole, with the lines each
// stands for, and no summing-up finding.
TEST(CheckLimits, FindingsUnderTheCapAreAllListed) {
    const int64_t n = kCheckListedPerKind;
    const Checked checked = CheckText(ValidObject("V") + Repeated(n, [](int64_t i) {
                                          return "*K" + std::to_string(i) + "\n*k" + std::to_string(i) + "\n";
                                      }));
    const KindCount count = CountOf(checked.report, "unknown-keyword");
    EXPECT_EQ(count.listed, n);
    EXPECT_EQ(count.more, 0);
    EXPECT_EQ(checked.report.warnings, n);
    for (const auto& finding : checked.report.findings) {
        EXPECT_NE(finding.message.find("(2 lines like this)"), std::string::npos) << finding.message;
    }
}

}  // namespace
