// asehost check: a validator that reads an ASE file with the plug-in's own
// reader and import (linked in, not loaded) and says, line by line, what the
// import would skip, clamp, refuse or not hand to the host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asehost {

enum class CheckSeverity { kError, kWarning, kNote };

// "error", "warning" or "note".
const char* CheckSeverityName(CheckSeverity severity);

struct CheckFinding {
    int64_t line;  // 1-based; 0 when the finding concerns no one line
    CheckSeverity severity;
    std::string kind;  // a stable name such as "count-mismatch"
    std::string message;
};

struct CheckReport {
    std::string file;  // as the user named it, UTF-8
    bool opened = false;  // false: the file could not be opened or read
    std::string openError;
    // By line. At most kCheckListedPerKind findings of one kind are listed;
    // the rest of that kind are summed up in one more finding of the kind,
    // on line 0.
    std::vector<CheckFinding> findings;
    // Every finding, listed or summed up (a summing-up finding is not one).
    int64_t errors = 0;
    int64_t warnings = 0;
    int64_t notes = 0;
};

// How many findings of one kind a report lists. Keeping no more than these
// (and what finds the rest compact) holds check's own memory within a small
// multiple of the file: see check.cpp.
inline constexpr int64_t kCheckListedPerKind = 100;

// Checks the file at `path` (UTF-16; made absolute here). `displayName` is
// what the report calls it. The import it runs changes the current folder
// and restores it.
CheckReport CheckAseFile(const std::u16string& path, const std::string& displayName);

// One line per finding ("FILE:LINE: warning: ...") and a summary line.
// Notes are counted in the summary but listed only with `showNotes`.
std::string FormatCheckText(const CheckReport& report, bool showNotes = true);
// {"file", "findings": [{"line", "severity", "kind", "keyword", "message"}],
// "errors", "warnings", "notes", "count": {"findings", "errors",
// "warnings", "notes", "listed"}}, with a line end; a finding's "keyword"
// (the first *KEYWORD its message names) only where it has one, and notes
// listed only with `showNotes`.
std::string FormatCheckJson(const CheckReport& report, bool showNotes = true);

// 0 clean (notes only), 4 warnings but no error, 3 errors (the import would
// fail), 1 a file that could not be opened.
int CheckExitCode(const CheckReport& report);

}  // namespace asehost
