// Feeds arbitrary bytes to asehost check through its public entry,
// CheckAseFile, as a user runs it on a file they do not trust: a file on
// disk, the plug-in's reader and import with check's observer, then both
// printed forms.
//
// Besides the sanitizers, each run holds check to what its report
// promises: a file that exists is opened; no kind lists more than
// kCheckListedPerKind findings and one summing-up finding; the totals count
// at least the findings listed; and the import leaves nothing behind.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/tool/check.h"
#include "tests/job_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string narrow = fuzzsupport::ScratchPath("check.ase");
    static const std::u16string path(narrow.begin(), narrow.end());
    if (!fuzzsupport::WriteWholeFile(narrow, data, size)) return 0;

    const fuzzsupport::WorkingDirectoryGuard keep;
    const JobSettingsScope jobs;
    const asehost::CheckReport report = asehost::CheckAseFile(path, "fuzz.ase");
    if (!report.opened) std::abort();
    std::map<std::string, int64_t> perKind;
    int64_t listed = 0;
    for (const asehost::CheckFinding& finding : report.findings) {
        if (++perKind[finding.kind] > asehost::kCheckListedPerKind + 1) std::abort();
        if (finding.line < 0) std::abort();
        ++listed;
    }
    // A summing-up finding is not counted, and stands for at least one.
    if (report.errors + report.warnings + report.notes < listed - static_cast<int64_t>(perKind.size())) std::abort();
    if (report.errors > 1) std::abort();  // only the import's own failure is an error
    const std::string text = asehost::FormatCheckText(report);
    const std::string json = asehost::FormatCheckJson(report);
    if (text.empty() || json.empty()) std::abort();
    if (jobs.allocations.LiveBlocks() != 0) std::abort();
    std::remove(narrow.c_str());
    return 0;
}
