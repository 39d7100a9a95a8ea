// What the ASE reader tells an observer while it reads, for a validator:
// every line with a word that its block loop reads, the blocks those lines
// open and close, the counts they declare and the list or count lines the
// reader drops, each with its 1-based line number (CR LF, a lone CR and a
// lone LF end one line each).
//
// The events come from the read a plain import takes: one pass through a
// window that moves through the file, and for the few files that need the
// counting pass first, a second read from the file's first line, announced
// by OnRestart before its first line: an observer then forgets what it was
// told. The reader numbers lines only while an observer is attached, so a
// plain import pays nothing for them. The finished document is the public
// view of what the read made (ase/document.h).
//
// The views in an event (text, word, args) are valid during the call only:
// the window may move after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ase/keywords.h"

// One line with a word, as the reader's block loop read it.
struct AseObservedLine {
    int64_t number;         // 1-based
    std::string_view text;  // the line without its end; it ends at a NUL too
    std::string_view word;  // its first word (cut at 511 bytes)
    std::string_view args;  // what follows the whole first word
    Kw keyword;             // of the first word; kUnknown for a word the reader does not know
    bool skipped;           // inside a block the reader skips unread
};

// Why the reader dropped a list or count line.
enum class AseDrop : uint8_t {
    kMalformed,   // its numbers or its form could not be read
    kOutOfRange,  // its index lies outside the count its list declared
};

// Told of one read; an import leaves it out. Every event of a line follows
// the OnLine of that line, in the order of the file.
class AseObserver {
public:
    // The read starts again from the file's first line: everything told
    // since the start (or the last restart) is void.
    virtual void OnRestart() = 0;
    // A line with a word that the block loop read.
    virtual void OnLine(const AseObservedLine& line) = 0;
    // `line` opens a block, named by its first word.
    virtual void OnBlockOpen(const AseObservedLine& line) = 0;
    // `line` closes the innermost open block, whose first word is the
    // keyword `closed`; `stray`: no block is open, the brace closes none.
    virtual void OnBlockClose(const AseObservedLine& line, Kw closed, bool stray) = 0;
    // A count line of a block the reader reads (*MESH_NUMVERTEX and the
    // other mesh counts, *MATERIAL_COUNT, *NUMSUBMTLS) declares `value`,
    // read as the reader reads it.
    virtual void OnCount(const AseObservedLine& line, int32_t value) = 0;
    // The reader dropped `line`, a list or count line.
    virtual void OnDropped(const AseObservedLine& line, AseDrop why) = 0;

protected:
    ~AseObserver() = default;
};

// The reader's own reading of the integers after the first word ("%d"
// each, as the C locale's sscanf reads them) into `values`. True when all
// `count` were read.
bool ReadObservedInts(const AseObservedLine& line, int32_t* values, int count);

// The reader's own reading of an index and `count` numbers after the first
// word ("%d", then "%f" each): a list item's numbers as the reader stores
// them. True when all were read.
bool ReadObservedIntFloats(const AseObservedLine& line, int32_t& index, float* values, int count);

// A face line as the reader reads it, with the labels written before its
// three corners, which the reader reads past unchecked.
struct AseObservedFace {
    int32_t index;
    int32_t corners[3];          // in the order written, whatever their labels
    int32_t materialId;          // -1 without a *MESH_MTLID the reader reads
    std::string_view labels[3];  // as written, at most 31 bytes each
};

// True, with `face` filled, when the reader reads the line as a face; false
// when it drops the line as malformed.
bool ReadObservedFace(const AseObservedLine& line, AseObservedFace& face);

// The line's first quoted text, cut as the reader cuts it; empty without a
// double quote.
std::string ObservedQuotedText(const AseObservedLine& line);

// The file name the reader keeps of a texture's path (its last part): what
// the import looks for in the folder of the imported file.
std::string AseFileNameOfPath(const std::string& path);
