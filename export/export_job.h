// What the export driver, the material writer and the geometry writers
// share: the job of one export and the output mechanics.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "export/export.h"
#include "export/geometry/geometry_internal.h"
#include "platform/platform.h"
#include "platform/replace.h"
#include "base/job.h"
#include "base/job_settings.h"

// One normal per host vertex, built by the export preparation and read by the
// split geometry writer.
struct VertexNormalTable {
    float (*normals)[3] = nullptr;
    int count = 0;
};

// The file an export writes, through the platform's replacement: a new
// file that takes the target's place only when complete (or the target
// itself when that is a device or a pipe). Whatever is still open when the
// record goes is closed, and a new file that did not take the target's place
// is removed.
struct ExportOutput {
    platform::FileReplacement replacement;

    ExportOutput() = default;
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;
    ~ExportOutput() { Discard(); }
    // Closes the stream without checking and removes the new file.
    void Discard();
};

// The output fault of one export's settings, as the export meets its steps:
// the step fails from the fault's count-th time on.
class OutputFault {
public:
    OutputFault() = default;
    explicit OutputFault(const ExportOutputFault& fault)
        : step_(fault.step), passesBeforeFailure_(fault.count > 1 ? fault.count - 1 : 0) {}

    // True when this occurrence of `step`, about to be taken, fails.
    bool Fails(ExportOutputStep step) {
        if (step_ != step) return false;
        if (passesBeforeFailure_ == 0) return true;
        --passesBeforeFailure_;
        return false;
    }

private:
    ExportOutputStep step_ = ExportOutputStep::kNone;
    long passesBeforeFailure_ = 0;
};

// Where the writers send text: the stream and the output fault of the export
// that writes it. A bare stream (a writer's test) has no fault.
struct ExportStream {
    ExportStream(std::FILE* stream, OutputFault* outputFault = nullptr) : file(stream), fault(outputFault) {}
    // True when a piece written now fails as a full device would fail it.
    bool PieceFails() const { return fault != nullptr && fault->Fails(ExportOutputStep::kPiece); }

    std::FILE* file;
    OutputFault* fault;
};

// Everything one export owns, freed when it ends whatever happens: the
// options as they were when it started, its output fault, the allocator of
// all its memory, its error record, the vertex normal table, the per-object
// face lists, the weld scratch of the mesh preparation and the output. The
// context is the one of the filter call; nothing below the dispatch reads
// another. The settings are those CurrentJobSettings gives when it is made.
struct ExportJob {
    explicit ExportJob(HostContext* hostContext, const JobSettings& settings = CurrentJobSettings())
        : context(hostContext), options(TheExportOptions()), outputFault(settings.output),
          allocator(settings.allocation) {}
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // Records that memory ran out (unless an earlier failure is recorded).
    // Returns 0.
    int OutOfMemory();
    // `stream` with this export's output fault.
    ExportStream Stream(std::FILE* stream) { return ExportStream(stream, &outputFault); }

    HostContext* context;
    ExportOptions options;
    OutputFault outputFault;
    // Declared before everything that holds its blocks, so destroyed after.
    JobAllocator allocator;
    JobError error;
    VertexNormalTable normals;
    FaceBuckets faceBuckets;
    WeldTable weldScratch{&allocator};
    char* streamBuffer = nullptr;
    // Last, so that the stream is closed before its buffer is freed.
    ExportOutput output;
};

// Allocates the job's table for `count` vertices, all (0, 0, 0), after
// releasing the previous one. Returns false (and leaves no table) when
// count < 1 or the memory cannot be had.
bool AllocateVertexNormalTable(ExportJob& job, int count);
void ReleaseVertexNormalTable(ExportJob& job);

// Prepares the host data for writing: smoothing groups by the options, the
// job's VertexNormalTable, every face's exportCorners and, in single-object
// mode, the object indices and face counts. Returns false when memory ran
// out (recorded in the job).
bool PrepareSceneForExport(ExportJob& job);

// Writes header, scene block, material list and geometry objects of the
// job's scene. Returns 1 when everything was written, else 0 (a failure of
// memory or limits is recorded in the job; a failed write is not).
int WriteAseScene(ExportJob& job, std::FILE* stream);

// Builds the export time text (ctime form without its line feed), stores it
// in the context's timeText and copies it to `out` (may be null).
void MakeTimeText(HostContext* context, DualString* out);

// Writes the *MATERIAL block of ordinal `ordinal` for host object
// `objectIndex`. Returns 1 when the whole block was written.
int WriteMaterial(ExportJob& job, std::FILE* stream, int objectIndex, int ordinal);

// Formats one piece of output with the C formatting rules (%d, %4d, %s, %f;
// numbers written as in the C locale whatever the process locale) through a
// 2048-byte buffer, which goes to the stream whenever it fills, and writes
// the rest with one fwrite. Returns 1 when every write reported its bytes.
[[gnu::format(printf, 2, 3)]] int WritePiece(ExportStream stream, const char* format, ...);

// Many output lines collected in one buffer and sent to the stream in large
// writes, their numbers formatted directly, byte for byte as WritePiece
// formats %d, %4d and %f: the lines of the mesh blocks, most of a file, go
// out without a format string read at every line. Text sent is checked
// like WritePiece's pieces (the output fault counts each write).
class LineWriter {
public:
    explicit LineWriter(ExportStream stream) : stream_(stream) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    void Text(std::string_view text) {
        if (text.size() <= kBytes - used_) {
            std::memcpy(buffer_ + used_, text.data(), text.size());
            used_ += text.size();
        } else {
            AppendLong(text);
        }
    }
    void Int(int value);       // as %d
    void Int4(int value);      // as %4d
    void Fixed(double value);  // as %f
    // Sends what is collected. True when every write so far reported its
    // bytes; once one did not, the rest is dropped.
    bool Flush();
    bool Ok() const { return ok_; }

private:
    enum : size_t { kBytes = 16384, kNumberBytes = 400 };
    // Room for `bytes` more, after sending the buffer when it lacks them.
    char* Room(size_t bytes) {
        if (kBytes - used_ < bytes) Flush();
        return buffer_ + used_;
    }
    void AppendLong(std::string_view text);

    ExportStream stream_;
    bool ok_ = true;
    size_t used_ = 0;
    char buffer_[kBytes];
};

// Converts a wide text (read up to 259 units) to the ANSI code page into
// `out` of `capacity` bytes, cut at a whole character so that it and its
// terminator fit. `out` always ends up terminated (empty when nothing
// converts).
void WideToAnsiCut(const char16_t* text, char* out, int capacity);

enum : int { kFileNameOnlyUnits = 256 };

// Copies the file name and extension of a wide path into `out` (256 units,
// cut to fit). Returns 0 when an argument is null, else 1.
int FileNameOnly(const char16_t* path, char16_t* out);
