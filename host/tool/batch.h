// asehost's batch runs: convert, import --json and check over several files
// and folders. The parent walks the inputs, names every output and refuses a
// plan with a clash before anything runs; then it starts asehost again on
// each file (the plug-in's state is process-wide, so one file's dialog
// cannot leave anything to the next), at most N at once, and prints each
// file's lines whole, in input order, and a summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace asehost {

// The hidden flag that makes asehost a batch child: it ends its standard
// output with a counts line (see CountsLine).
inline constexpr const char* kBatchChildFlag = "--batch-child";

// The line a batch child ends its standard output with: "asehost-counts "
// and the three numbers (objects, faces, 0 for convert and import; errors,
// warnings, notes for check).
std::string CountsLine(int64_t first, int64_t second, int64_t third);

// Takes the counts line off the end of a child's `output`; false, and
// the numbers 0, when there is none.
bool TakeCountsLine(std::string& output, int64_t counts[3]);

// The worse of two exit codes by the batch precedence: 1 (the host could
// not do its part) over 3 (the plug-in or the import failed) over 4
// (check's warnings) over 0. A code outside these counts as 1.
int WorseExitCode(int a, int b);

// One file of a batch.
struct BatchFile {
    std::u16string path;     // as the command line or the walk names it
    std::string display;     // the same in UTF-8, for messages
    std::u16string relative; // the output's name below --output-dir, '/'-separated
};

// The inputs named by `arguments` (UTF-8 command-line texts; wildcards
// expanded on Windows): a file as it is (named after its last part), a
// folder walked for files ending in .ase in any case, in sorted order, its
// tree mirrored in `relative`. A folder that is `skipFolder` (the output
// folder, absolute; may be empty) is not walked. False, with a message in
// `error`, for an argument that names nothing or a folder that cannot be
// read.
bool CollectBatchFiles(const std::vector<std::string>& arguments, const std::u16string& skipFolder,
                       std::vector<BatchFile>& files, std::string& error);

// `relative` with its extension made `extension` (".json"); for ".ase" a
// name that ends in .ase in any case is kept as it is.
std::u16string OutputName(const std::u16string& relative, const std::u16string& extension);

// Two outputs that would be one file, compared with ASCII case folded (as
// on a case-blind file system): their indices in `first` < `second`, and
// true. Sorted, so linear after n log n.
bool FindOutputClash(const std::vector<std::u16string>& outputs, size_t& first, size_t& second);

// What a batch command asks for.
struct BatchRequest {
    std::vector<std::string> inputs;          // files and folders, as typed
    std::string outputDir;                    // convert and import: as typed
    int jobs = 1;                             // children at once, 1..64
    std::vector<std::u16string> childOptions; // given to every child after its command
    bool json = false;                        // check: one JSON document
};

// What checking one file gave: check's output for it (its findings and
// summary, or its JSON object), its counts (errors, warnings, notes) and
// exit code; or, for a file that cannot be read, `opened` false and the
// reason.
struct CheckedFile {
    bool opened = false;
    std::string output;
    std::string reason;
    int64_t counts[3] = {0, 0, 0};
    int exitCode = 1;
};

// Checks the file at `path` (absolute), named `display` in what it prints.
// Called from several threads at once: it must touch no shared state and
// print nothing.
using CheckOneFile = std::function<CheckedFile(const std::u16string& path, const std::string& display)>;

// One handler per command; each returns the run's exit code (2 when a
// child was cancelled, which stops the run). convert and import run each
// file in an asehost process of its own (the plug-in's state is
// process-wide); check needs no plug-in module and checks its files on
// `request.jobs` threads of this process with `check`, which spares each
// file a process start.
int RunBatchConvert(const BatchRequest& request);
int RunBatchImport(const BatchRequest& request);
int RunBatchCheck(const BatchRequest& request, const CheckOneFile& check);

// check --json's entry for a file that cannot be read: its name and reason.
std::string UnreadableCheckJson(const std::string& file, const std::string& reason);

}  // namespace asehost
