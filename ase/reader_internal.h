// Internals of the ASE reader shared by its stages: the in-memory source,
// the line scanner, number reading, keyword lookup, the block stack, the
// block loop and the block parsers. Private to ase/ and its tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "ase/document.h"
#include "ase/keywords.h"
#include "ase/observe.h"
#include "base/job.h"

// --- Source --------------------------------------------------------------------

// Bytes after the end of every source buffer: the first is a line feed, the
// rest zero, so the scanner may read a vector past its position and always
// meets a line end.
inline constexpr uint32_t kSourcePadding = 64;  // at least 32 + 16

class BlockStack;
struct AseLine;
struct AseReader;

// The parsers' name for why a line the block loop handed out changed
// nothing (ase/observe.h).
using AseSkip = AseDrop;

// Where the numbering of lines for an observer stands: the 1-based number
// of the line holding file offset `offset`, and whether the byte before
// that offset is a CR (whose LF, if one follows, ends no other line).
struct ObservedLines {
    int64_t number;
    uint64_t offset;
    bool afterCr;
};

// The state of one read: the file's bytes in memory, the document it fills,
// the stack of open blocks, the memory bound and the first failure. A job
// binds it to its allocator, error record, document and stack (BindAseReader)
// and owns all of them; the reader keeps nothing between reads.
//
// The bytes in memory are the whole file, or a window of it that slides
// through the file as the scanner goes (OpenAseSourceWindow): only whole
// lines are handed out, and a line longer than the window grows it. A
// window spares the memory of a copy of the whole file and the cost of
// touching that much fresh memory; a read passes through the file once
// (twice for the few files that need a counting pass first).
//
// `data` holds `size` bytes, the bytes of the file from offset `base` on,
// followed by kSourcePadding padding bytes; it comes from the allocator and
// is freed by ReleaseAseSource. `position` is an index into `data`. Offsets
// in the file are `base` + an index; `fileSize` is the size of the whole
// text. A whole source has base 0, size == fileSize and no file.
//
// Lines and words are views into `data`: a window may move at any call
// that reads a line, so a view must not be kept across one (a parser keeps
// its block's name as a BlockName).
struct AseReader {
    char* data;
    uint32_t position;
    uint32_t size;
    uint32_t base;
    uint32_t fileSize;
    uint32_t capacity;  // bytes `data` can hold before its padding
    std::FILE* file;    // the file a window reads from; null for a whole source
    // Bytes of the declared counts believed so far in this read (see
    // BelieveDeclaredCount); the parse starts it at 0.
    uint64_t believedBytes;
    // Bytes of the file after the *MATERIAL_COUNT line that holds, for the
    // bound of that count, and the file offset where that line starts.
    uint64_t materialCountRemaining;
    uint64_t materialCountAt;
    // Set by the counting pass at the first object, light or camera line
    // whose charge the budget could not take, with the offset of that line.
    bool countedOverBudget;
    uint64_t overBudgetAt;
    // How the read goes (see ParseAseDocument). `twoPasses`: the counting
    // pass comes first (a test's choice). In one pass, objects, lights,
    // cameras and the material count are counted as their lines come
    // (CountAsRead): `countAsRead` is set, `materialCountLines` counts the
    // *MATERIAL_COUNT lines met, and `materialListBeforeCount` notes a
    // material list entered before any of them.
    bool twoPasses;
    bool countAsRead;
    uint32_t passes;  // passes the read began over the text
    bool materialListBeforeCount;
    int32_t materialCountLines;
    JobAllocator* allocator;
    JobError* error;
    AseDocument* doc;
    BlockStack* stack;
    // Null but for a validator's read. Lines are numbered for it only, as
    // its events go (see ObservedLineNumber); const steps that report a
    // dropped line number it too.
    AseObserver* observer;
    mutable ObservedLines observed;
    // Set by a scan whose observer wants no line numbers: every number is 0
    // and no line end is counted.
    bool unnumbered;
};

// Binds a zeroed reader to what a job owns; the document and the stack
// take their memory from `allocator` too.
void BindAseReader(AseReader& reader, JobAllocator& allocator, JobError& error, AseDocument& doc, BlockStack& stack);

// Frees the source's data and zeroes the source.
void ReleaseAseSource(AseReader& source);

// Makes `source` own a padded copy of `bytes` (any previous data is freed),
// with text marked by a byte-order mark converted to the ANSI code page.
// Returns 1, or 0 when memory cannot be had (the source is then empty).
int MakeAseSource(AseReader& source, const void* bytes, size_t size);

// Allocates an uninitialised padded buffer of `size` bytes for `source`
// (freeing what it held). Returns the buffer or null.
char* AllocateSourceBuffer(AseReader& source, uint32_t size);

// Completes a source whose `size` bytes were written into the buffer of
// AllocateSourceBuffer: converts marked text in place and lays the padding.
void FinishAseSource(AseReader& source);

// The byte-order mark a text starts with, if any.
enum class ByteOrderMark : uint8_t { kNone, kUtf16Le, kUtf16Be, kUtf8 };
ByteOrderMark ByteOrderMarkOf(const unsigned char* bytes, size_t count);

// Bytes of the window a file is read through, unless a test sets another.
inline constexpr uint32_t kSourceWindowBytes = uint32_t{4} << 20;

// Makes `source` read the `fileSize` bytes of `file` (positioned at its
// start, owned by the caller, open until the read ends) through a window of
// `windowBytes` (at least 64; a file that fits is read whole). The text must
// not begin with a byte-order mark: marked text is converted whole
// (AllocateSourceBuffer, FinishAseSource). Returns 1, or 0 with the failure
// recorded (memory, or a file that could not be read).
int OpenAseSourceWindow(AseReader& source, std::FILE* file, uint32_t fileSize, uint32_t windowBytes);

// Makes `source` a whole source of every byte `file` holds from its
// position on, read until the file ends: for a file whose size is not known
// before it is read (a pipe, a device, a file of the kind that reports size
// 0). The buffer grows by doubling and is cut to the text at the end; the
// text is converted as FinishAseSource converts it. Returns 1, or 0 with the
// failure recorded (memory, a read error, more bytes than a source can hold).
int ReadAseSourceToEnd(AseReader& source, std::FILE* file);

// Starts a pass over the source from its first byte: a window reads the
// file again from its start. Returns 1, or 0 with the failure recorded.
int RewindAseSource(AseReader& source);

// Moves the window on so that `data` starts with the byte at index `keep`
// and holds as many bytes after it as fit (growing the window when the
// bytes from `keep` on fill it). Returns 1 when bytes were added, 0 at the
// end of the text or on a failure (recorded: a file that cannot be read, or
// one that no longer holds the bytes its size promised).
int SlideAseWindow(AseReader& source, uint32_t keep);

// True when bytes of the text lie beyond those in memory.
inline bool MoreToRead(const AseReader& source) {
    return source.file != nullptr && uint64_t{source.base} + source.size < source.fileSize;
}

// True when the read has recorded a failure.
inline bool ReadFailed(const AseReader& source) { return source.error != nullptr && source.error->Failed(); }

// --- Character classes (C locale, independent of the process locale) -------

// The C locale's isspace: space, \t, \n, \v, \f, \r.
inline bool IsCSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// True when the two bytes after the '*' at `star` (readable: inside a
// source buffer) begin, in any case, one of the keywords a read counts:
// *GEOMOBJECT, *HELPEROBJECT, *LIGHTOBJECT, *CAMERAOBJECT, *MATERIAL_COUNT.
// A cheap filter before the keyword lookup.
inline bool MayStartCountedKeyword(const char* star) {
    const unsigned char a = AsciiUpper(static_cast<unsigned char>(star[1]));
    const unsigned char b = AsciiUpper(static_cast<unsigned char>(star[2]));
    return (a == 'G' && b == 'E') || (a == 'L' && b == 'I') || (a == 'C' && b == 'A') || (a == 'M' && b == 'A') ||
           (a == 'H' && b == 'E');
}

// Case-insensitive equality of two byte ranges, ASCII letters folded only.
bool EqualNoCase(std::string_view a, std::string_view b);

// --- Keywords (the list itself: ase/keywords.h) ------------------------------

// LookupKeyword for a word followed by at least 32 readable bytes (any word
// inside a source buffer, thanks to its padding); reads them in lanes.
Kw LookupKeywordPadded(const char* word, size_t length);

// --- Lines ---------------------------------------------------------------------

enum : uint32_t {
    kMaxKeywordChars = 511,    // the first word is cut to this many bytes
    kMaxBlockNameChars = 255,  // block names on the stack
    kMaxQuotedChars = 255,     // quoted texts
};

// A block's name copied out of the source, for the block loop of the
// parser that reads the block: the window may move while the block is read,
// and a view of its opening line would not survive that.
struct BlockName {
    explicit BlockName(std::string_view name);
    operator std::string_view() const { return {text, length}; }
    bool empty() const { return length == 0; }
    uint32_t length;
    char text[kMaxKeywordChars];
};

// One line of the source, viewed in place. The text ends at the first NUL
// of the line or at its CR/LF, whichever comes first.
struct AseLine {
    const char* text;
    uint32_t length;
    bool opens;   // '{' in the text
    bool closes;  // '}' in the text
    const char* word;  // first word (cut at kMaxKeywordChars); wordLength 0: none
    uint32_t wordLength;
    const char* args;  // first byte after the whole first word
    Kw keyword;
    const char* end() const { return text + length; }
    std::string_view Word() const { return {word, wordLength}; }
};

// Advances to the next line that holds at least one byte and fills `line`'s
// text, length and brace flags (not the word). Returns false at the end of
// the input. Yields exactly the non-empty lines of the line splitting rule;
// the empty lines it omits carry no word.
bool NextLine(AseReader& source, AseLine& line);

// Bit i of `lineEnds` is set when p[i] is CR or LF, of `stars` when it is
// '*', for the 64 bytes at `p` (all readable).
void MarkLineEndsAndStars(const char* p, uint64_t& lineEnds, uint64_t& stars);

// For an observer (ase/observe.h): the 1-based number of the line that
// holds `at` (a pointer into the source's data, at or after the last one
// asked about in this pass), or 0 when the reader is unnumbered. Counts the line ends since that one, so that a
// pass numbers its lines in linear time; lines before a window's start were
// counted as the window moved on (CountObservedLines).
int64_t ObservedLineNumber(const AseReader& source, const char* at);

// Counts for the observer, if any, the line ends before index `keep` of
// the source's data, which a window is about to let go.
void CountObservedLines(const AseReader& source, uint32_t keep);

// Tells the observer of a line with a word the block loop read: the line,
// the count it declares, the block it opens or closes (before the block
// stack changes). `skipped`: inside a block the reader skips.
void ObserveBlockLine(const AseReader& source, const AseLine& line, bool skipped);

// Tells the observer that the reader dropped `line`.
void ObserveDropped(const AseReader& source, const AseLine& line, AseDrop why);

// Tells the reader's observer, if any, that `line` was dropped.
inline void ReportSkipped(const AseReader& source, const AseLine& line, AseSkip why) {
    if (source.observer != nullptr) ObserveDropped(source, line, why);
}

// Finds the first word of the line (keyword left kUnknown). Returns false
// when the line holds no word. The line lies in a buffer with at least 16
// readable bytes after its end (a source's lines do).
bool FindFirstWord(AseLine& line);

// Finds the first word of the line and its keyword. Returns false when the
// line holds no word.
bool ScanFirstWord(AseLine& line);

// Copies the line's first quoted text into `dest` (kAseNameBytes bytes); a
// line without a double quote leaves `dest` unchanged.
void ReadQuotedString(char* dest, const AseLine& line);

// --- Numbers (as the C locale's sscanf reads them) -----------------------------

// "%d": skips C whitespace, reads an optional sign and decimal digits. The
// value is the one glibc stores: saturated to 64 bits, then cut to 32.
// On success advances `cursor` past the number.
bool ReadInt(const char*& cursor, const char* end, int32_t& value);

// "%f": the longest prefix glibc's scanner takes (sign, inf/infinity/nan,
// hexadecimal and decimal forms, dangling exponents), converted with
// correct rounding to single precision. On success advances `cursor`.
bool ReadFloat(const char*& cursor, const char* end, float& value);

// Reads `count` reals after the line's first word ("%s %f %f ..."); true
// when all are read.
bool ReadLineFloats(const AseLine& line, float* values, int count);

// Reads one integer and then `count` reals after the first word.
bool ReadLineIntFloats(const AseLine& line, int32_t& index, float* values, int count);

// Reads one integer after the first word.
bool ReadLineInt(const AseLine& line, int32_t& value);

// "%Ns": skips C whitespace and takes up to `maxChars` other bytes.
bool ReadWord(const char*& cursor, const char* end, uint32_t maxChars, std::string_view& word);

// --- Block stack ---------------------------------------------------------------

// The stack of open block names, stored back to back in one growing buffer
// (memory in proportion to the names held). Its buffers come from the
// allocator it is bound to; Clear frees them.
class BlockStack {
public:
    void Bind(JobAllocator& allocator) { allocator_ = &allocator; }
    // Pushes `name` cut to kMaxBlockNameChars. Returns false when memory
    // cannot be had (the stack is then unchanged).
    bool Push(std::string_view name);
    // Removes the top entry, copying its name into `dest` (256 bytes) when
    // given. Returns false on an empty stack (dest untouched).
    bool Pop(char* dest);
    // Removes the top entry; true when its name equals `name` without regard
    // to case. False on an empty stack.
    bool PopMatches(std::string_view name);
    void Clear();
    size_t Depth() const { return depth_; }
    // The top entry's name (empty on an empty stack).
    std::string_view Top() const {
        const size_t start = depth_ > 1 ? ends_[depth_ - 2] : 0;
        return depth_ == 0 ? std::string_view() : std::string_view(names_ + start, nameUsed_ - start);
    }
    size_t CapacityBytes() const { return nameCapacity_ + endCapacity_ * sizeof(uint32_t); }

private:
    JobAllocator* allocator_ = nullptr;
    char* names_ = nullptr;
    size_t nameUsed_ = 0;
    size_t nameCapacity_ = 0;
    uint32_t* ends_ = nullptr;  // end offset of each entry's name
    size_t depth_ = 0;
    size_t endCapacity_ = 0;
};

// --- Block loop ------------------------------------------------------------------

// What the block loop reads next.
enum class BlockStep {
    kLine,  // a line with a word for the parser to act on
    kDone,  // the block closed, or the input ended
    kFail,  // the block stack could not grow
};

// Reads lines of the block named `own` (empty: the top level, which never
// closes) until one holds a word; pushes its first word when it opens a
// block, else pops when it closes one. Returns kDone when the pop closes
// `own`.
BlockStep NextBlockLine(AseReader& source, std::string_view own, AseLine& line);

// Passes over the lines of a block whose opening line was just read,
// following only their braces (nested blocks are counted, not pushed):
// only lines that hold a brace or a NUL are split. Returns 1 with `line`
// the block's closing line (its word not yet found), or 0 when the text
// ends first.
int PassOverBlock(AseReader& source, AseLine& line);

// Reads and discards the lines of the block named `own`. 1, or 0 when the
// block stack could not grow.
int SkipBlock(AseReader& source, std::string_view own);

// --- Memory bound of declared counts -------------------------------------------

// The memory of one import, the host's records included, stays within
// kImportBytesPerFileByte times the file plus kDeclaredSlackBytes: the
// source copy (one byte per byte) and the records the file's lines make,
// which are charged to one budget of kDeclaredBytesPerFileByte per byte.
//
// A count that a line declares (materials, sub-materials, mesh arrays) is
// believed only when the records it asks for stay in that proportion:
// count x record bytes at most kDeclaredBytesPerFileByte times the bytes
// after the count line plus the slack, and every count believed in one
// import together at most the same multiple of the whole file plus the
// slack (so many count lines cannot add up to more). A count beyond that
// fails the import with a message that names it. A vertex is charged with
// the host vertex the builder makes of it; faces are charged here with
// their document record only, since the host is given only the faces lines
// filled, and each face line that fills one is charged with its host
// records (kHostFaceBytes, ChargeLineRecords). Materials are charged with
// the host's records too (kHostMaterialBytes, kHostTextureBytes). Every
// charge beyond the bound names its line. The slack lets a small file
// declare a few large records: a material takes about 5 KB. Appended keys are real lines no smaller than their
// records and need no bound.
//
// The multiple leaves room for the records that every object costs
// whatever its size (document, host object, bone, face group, track:
// kCountedGeomObjectBytes): a 200-byte object holding one triangle costs
// about 15 bytes per byte of its text, and real exporters write several
// hundred bytes per object, so every well-formed file fits, while a flood of
// object, count or vertex lines fails at once.
inline constexpr uint64_t kDeclaredBytesPerFileByte = 16;
inline constexpr uint64_t kImportBytesPerFileByte = kDeclaredBytesPerFileByte + 1;
inline constexpr uint64_t kDeclaredSlackBytes = 64 * 1024;

// The host's records per vertex (the vertex, its one weight and the host's
// bookkeeping of the weight list) and per face handed over (the face, its
// corner lists and both UV channels).
inline constexpr size_t kHostVertexBytes = sizeof(HostVertex) + sizeof(HostVertexWeight) + 4 * sizeof(void*);
inline constexpr size_t kHostFaceBytes = sizeof(HostFace) + sizeof(HostFaceUv) + 3 * 2 * sizeof(int) +
                                         kUvChannels * 3 * (sizeof(HostUv) + sizeof(int));

// The host's records per material and per texture. A material is charged
// one host record with its slot of texture pointers: charging the copies a
// host holds while it grows an array of doubling capacity (up to three
// records a material, for a moment) would refuse real multi/sub materials
// whose sub-materials are short, and the whole import stays within the
// stated multiple without it (ImportMemory tests). A texture may be given
// the room of a two-layer one, the largest kind, and a block header. Both
// are charged to the budget: a material at its count line (each material
// and sub-material may become one host material), a texture when a
// *BITMAP line first fills a map of a material that becomes one.
inline constexpr size_t kHostRecordsPerAppend = 1;
inline constexpr size_t kHostMaterialBytes =
    kHostRecordsPerAppend * (sizeof(HostMaterial) + kTextureChannels * sizeof(void*));
inline constexpr size_t kHostTextureBytes = sizeof(HostLayeredTexture) + 2 * sizeof(HostTextureLayer) + 16;

// The object, light and camera lines that a read counts are real lines
// too, but a line of a dozen bytes ("*GEOMOBJECT" and its line end) would
// make records of hundreds: each counted line is charged to the same budget
// before its record exists, an object at its document record and the host
// records the scene builder makes of it. The charge covers three document
// records as well: read in one pass, the arrays grow by doubling as blocks
// come, and while one moves the old array and the new one, up to twice the
// count, live together.
inline constexpr size_t kGrowingRecordsPerCount = 3;
inline constexpr size_t kCountedGeomObjectBytes =
    std::max(sizeof(AseGeomObject) + sizeof(HostObject) + sizeof(HostBone) + sizeof(HostFaceGroup) + sizeof(HostTrack),
             kGrowingRecordsPerCount * sizeof(AseGeomObject));
inline constexpr size_t kCountedLightBytes = kGrowingRecordsPerCount * sizeof(AseLight);
inline constexpr size_t kCountedCameraBytes = kGrowingRecordsPerCount * sizeof(AseCamera);

// Bytes of the source after its current position.
uint64_t RemainingBytes(const AseReader& source);

// True when `count` elements of `elementBytes` each may be allocated for a
// count line that `remaining` bytes of the file follow; charges them to the
// source's believedBytes. False for a negative count or one beyond the bound.
bool BelieveDeclaredCount(AseReader& source, uint64_t remaining, int64_t count, size_t elementBytes);

// BelieveDeclaredCount for the count `count` that `line` declares, with the
// bytes after the line; a count beyond the bound fails the read with a
// message that names the keyword and the count.
bool BelieveCountLine(AseReader& source, const AseLine& line, int64_t count, size_t elementBytes);

// Fails the read for the count `count` of `keyword` (NUL-terminated) beyond
// the bound, at the line that starts at file offset `at`, as
// BelieveCountLine words it. Returns 0.
int FailCountBeyondBound(AseReader& source, uint64_t at, const char* keyword, int64_t count);

// Charges `bytes` of records that `line` makes (a face it fills, a texture
// it sets) to the budget of the whole file. False, with the failure recorded
// at the line, when the budget cannot take them.
bool ChargeLineRecords(AseReader& source, const AseLine& line, size_t bytes);

// --- Parsers ---------------------------------------------------------------------
// Each is entered after its opening line was read and pushed; `name` is that
// line's first word. 1 on success, 0 on failure (which fails the import).

int ParseScene(AseReader& source, std::string_view name);
int ParseMaterialList(AseReader& source, std::string_view name);
int ParseMaterial(AseReader& source, const AseLine& opening, int32_t index);
int ParseSubMaterial(AseReader& source, const AseLine& opening, AseMaterial& material, int32_t index);
int ParseMap(AseReader& source, std::string_view name, AseMaterial* material, AseSubMaterial* sub, int32_t index,
             int kind);
int FileNameOfPath(const char* path, char* dest, size_t destBytes);
int ParseGeomObject(AseReader& source, std::string_view name);
int ParseHelperObject(AseReader& source, std::string_view name);
int ParseNodeTm(AseReader& source, std::string_view name, Mat4& target);
int ParseMesh(AseReader& source, std::string_view name, AseGeomObject& object);
// Reads a *MESH_FACE line: its index, followed at once by ':', then three
// corner pairs of a label (at most 31 bytes) and an integer, then either
// three edge pairs or a word that begins with '*' (or the line's end); the
// smoothing group from a *MESH_SMOOTHING word right after the pairs (the
// rule in document.h) and the material id from the line's last '*' when it
// begins *MESH_MTLID. False when the line has not that form.
bool ReadFaceLine(const AseLine& line, int32_t& index, AseFace& face);
int ParseMapChannel(AseReader& source, std::string_view name, AseMapChannel& channel, int32_t number);
int ParseTmAnimation(AseReader& source, std::string_view name, AseGeomObject& object);
int ParsePosTrack(AseReader& source, std::string_view name, AseGeomObject& object);
int ParseRotTrack(AseReader& source, std::string_view name, AseGeomObject& object);
int ParseScaleTrack(AseReader& source, std::string_view name, AseGeomObject& object);
int ParseLight(AseReader& source, std::string_view name);
int ParseCamera(AseReader& source, std::string_view name);
int ParseLightSettings(AseReader& source, std::string_view name, AseLight& light);
int ParseCameraSettings(AseReader& source, std::string_view name, AseCamera& camera);
Mat4 RebuildRigidTransform(const Mat4& m);

// First pass over the whole source (whatever its position): counts
// objects, lights and cameras, charging each line to the budget of the
// whole file (the first one it cannot take sets countedOverBudget), and
// reads the material count. Leaves the position at the end. 0 without
// source data or when the file could not be read (recorded).
int CountObjects(AseReader& source);
int ParseTopLevel(AseReader& source);

// Counts the line in a read in one pass, as the counting pass would have:
// an object, light or camera line is charged to the budget (its record comes
// when the top level meets its block), and the material count's line sets
// the count and allocates the materials. False on a failure (recorded),
// which includes a file that needs the counting pass first.
bool CountAsRead(AseReader& source, const AseLine& line);

// A read in one pass met what only the counting pass knows: records it as
// the read's failure, which makes ParseAseDocument read again in two
// passes. Returns false.
bool NeedTwoPasses(AseReader& source);

// Remaps every face's material id to a host material index: with hostBase(r)
// the host materials made from the materials before r (one from a material
// without sub-materials, else one per sub-material), an id in 0..L-1 gives
// hostBase(r) + id and any other id hostBase(r); without a material array or
// when r names no material, -1. Linear time. 1, or 0 when memory fails.
int RemapMaterialIds(AseDocument& doc);

// Reads the reader's source into its document and remaps the material
// ids. 1, or 0 with the failure in the reader's error record (the document
// then holds what was read until a reset). Parent names, local transforms
// and vertex colours are the import's to resolve.
//
// The document is that of two passes: one that counts the objects, lights
// and cameras and reads the material count, and one that parses with those
// counts. A read in one pass gives the same document for most files at half
// the reading: it counts as it parses and grows the arrays as blocks come.
// It falls back to two passes (from a fresh document) where it cannot know
// what the counting pass would have: a second *MATERIAL_COUNT line, a
// material list before its count, and every failure of the text, so that a
// failing file fails as two passes fail it ("No geometry found." first).
// Memory and file failures end the read as they are.
// A test may ask for two passes. An observer is told of the lines of the
// read in one pass, then, when it falls back, of a restart and the lines of
// the second pass.
int ParseAseDocument(AseReader& source);

// --- Failures ------------------------------------------------------------------

// The 1-based line of the source that holds the byte at `at` (a pointer
// into the source's data): the line ends before it are counted once, at the
// failure, so that the scanner never counts lines. A text of CR LF, lone CR
// and lone LF ends counts each end once, as the line splitting does.
int64_t LineNumberAt(const AseReader& source, const char* at);

// The same for the byte at offset `at` of the file, in the window or before
// it (then the file is read again up to the window's end).
int64_t LineNumberAtOffset(const AseReader& source, uint64_t at);

// Records the read's first failure at the line holding `at` (null: no line)
// with `what` (may be null) and a detail formatted as FormatWide does.
// Returns 0, so that a failing step can `return ReaderFail(...)`.
int ReaderFail(AseReader& source, const char* at, JobErrorKind kind, const char16_t* what, const char16_t* format, ...);

// Records the read's first failure, `detail`, at the line holding the byte
// at file offset `at`. Returns 0.
int ReaderFailAtOffset(AseReader& source, uint64_t at, JobErrorKind kind, const char16_t* detail);

// Records a failure of the file itself (it could not be read, changed
// while it was read, or is too large), naming the file as the import's
// other file failures do ("\"path\": detail") when the document knows its
// path. Returns 0.
int ReaderFileFail(AseReader& source, JobErrorKind kind, const char16_t* detail);

// The failure for memory that could not be had while reading the line at
// `at`. Returns 0.
int ReaderOutOfMemory(AseReader& source, const char* at);
