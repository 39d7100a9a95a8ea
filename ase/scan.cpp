// Line scanner, first word, quoted text, block stack and block loop.
//
// Lines are views into the source buffer; nothing is copied per line. The
// scanner finds a line's end, its first NUL and its braces in one pass of
// 16-byte vectors where SSE2 is available.
#include <algorithm>
#include <cstdarg>
#include <climits>
#include <cstring>

#include "ase/reader_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "base/strings.h"
#endif

namespace {

inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// First CR or LF at or after `p`. The source padding guarantees one.
const char* FindLineEnd(const char* p) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (;;) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
#else
    while (!IsLineEnd(*p)) ++p;
    return p;
#endif
}

}  // namespace

void MarkLineEndsAndStars(const char* p, uint64_t& lineEnds, uint64_t& stars) {
    lineEnds = 0;
    stars = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i star = _mm_set1_epi8('*');
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto ends = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        const auto starBits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, star)));
        lineEnds |= uint64_t{ends} << (16 * i);
        stars |= uint64_t{starBits} << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i) {
        lineEnds |= uint64_t{IsLineEnd(p[i])} << i;
        stars |= uint64_t{p[i] == '*'} << i;
    }
#endif
}

namespace {

// Scans the text from `p` to its first CR, LF or NUL, noting braces on the
// way. Returns the stop.
const char* ScanText(const char* p, bool& opens, bool& closes) {
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    const __m128i open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    unsigned openBits = 0;
    unsigned closeBits = 0;
    for (;;) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stops =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, nul));
        const unsigned stopMask = static_cast<unsigned>(_mm_movemask_epi8(stops));
        const unsigned o = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, open)));
        const unsigned c = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, close)));
        if (stopMask != 0) {
            const int first = __builtin_ctz(stopMask);
            const unsigned below = (1u << first) - 1u;
            openBits |= o & below;
            closeBits |= c & below;
            opens = openBits != 0;
            closes = closeBits != 0;
            return p + first;
        }
        openBits |= o;
        closeBits |= c;
        p += 16;
    }
#else
    opens = closes = false;
    for (;; ++p) {
        const char ch = *p;
        if (ch == '\0' || IsLineEnd(ch)) return p;
        if (ch == '{') opens = true;
        if (ch == '}') closes = true;
    }
#endif
}

#if defined(__SSE2__)
// Bits of the C spaces among the 16 bytes at `p`.
inline unsigned SpaceBits(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // \t..\r: the byte minus '\t' is at most 4 as an unsigned byte.
    const __m128i offset = _mm_sub_epi8(v, _mm_set1_epi8('\t'));
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8('\r' - '\t')), offset);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), control)));
}
#endif

// First C space at or after `p`, or `end` when none comes before it. The
// source padding makes the vector reads past `end` safe.
const char* FindWordEnd(const char* p, const char* end) {
#if defined(__SSE2__)
    while (p < end) {
        const unsigned mask = SpaceBits(p);
        if (mask != 0) {
            const char* stop = p + __builtin_ctz(mask);
            return stop < end ? stop : end;
        }
        p += 16;
    }
    return end;
#else
    while (p < end && !IsCSpace(static_cast<unsigned char>(*p))) ++p;
    return p;
#endif
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(static_cast<unsigned char>(a[i])) != AsciiUpper(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

bool NextLine(AseReader& source, AseLine& line) {
    if (source.data == nullptr) return false;
    for (;;) {
        const char* data = source.data;
        uint32_t pos = source.position;
        while (pos < source.size && IsLineEnd(data[pos])) ++pos;
        source.position = pos;
        if (pos >= source.size) {
            if (MoreToRead(source) && SlideAseWindow(source, pos)) continue;
            source.position = source.size;
            return false;
        }
        const char* start = data + pos;
        bool opens = false;
        bool closes = false;
        const char* stop = ScanText(start, opens, closes);
        // A NUL ends the text; the rest of the line up to its end is dropped.
        const char* lineEnd = (*stop == '\0') ? FindLineEnd(stop) : stop;
        // The padding's line feed ends a window, not the line: the window
        // moves on to hold the whole line and the line is scanned again.
        if (lineEnd >= data + source.size && MoreToRead(source)) {
            if (SlideAseWindow(source, pos)) continue;
            source.position = source.size;
            return false;
        }
        line.text = start;
        line.length = static_cast<uint32_t>(stop - start);
        line.opens = opens;
        line.closes = closes;
        line.word = start;
        line.wordLength = 0;
        line.args = start;
        line.keyword = Kw::kUnknown;
        source.position = std::min(static_cast<uint32_t>(lineEnd - data), source.size);
        return true;
    }
}

BlockName::BlockName(std::string_view name)
    : length(static_cast<uint32_t>(std::min<size_t>(name.size(), kMaxKeywordChars))) {
    std::memcpy(text, name.data(), length);
}

bool FindFirstWord(AseLine& line) {
    const char* p = line.text;
    const char* end = line.end();
    line.keyword = Kw::kUnknown;
#if defined(__SSE2__)
    // Most first words start and end within the line's first 32 bytes: one
    // or two vectors give both ends. Only vectors that start inside the
    // text are read, so no read goes beyond 16 bytes past its end.
    const uint32_t head = std::min<uint32_t>(line.length, 32);
    if (head > 0) {
        uint32_t spaces = SpaceBits(p);
        if (head > 16) spaces |= SpaceBits(p + 16) << 16;
        const uint32_t inText = head == 32 ? ~0u : (1u << head) - 1u;
        const uint32_t wordBytes = ~spaces & inText;
        if (wordBytes != 0) {
            const int first = __builtin_ctz(wordBytes);
            const uint32_t stops = (spaces | ~inText) & (~0u << first);
            const char* wordEnd = stops != 0 ? p + __builtin_ctz(stops) : FindWordEnd(p + 32, end);
            line.word = p + first;
            line.wordLength =
                static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(wordEnd - line.word), kMaxKeywordChars));
            line.args = wordEnd;
            return true;
        }
        p += head;
    }
#endif
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    if (p == end) {
        line.wordLength = 0;
        return false;
    }
    const char* word = p;
    p = FindWordEnd(p, end);
    line.word = word;
    line.wordLength = static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(p - word), kMaxKeywordChars));
    line.args = p;
    return true;
}

bool ScanFirstWord(AseLine& line) {
    if (!FindFirstWord(line)) return false;
    line.keyword = LookupKeywordPadded(line.word, line.wordLength);
    return true;
}

void ReadQuotedString(char* dest, const AseLine& line) {
    const char* quote = static_cast<const char*>(std::memchr(line.text, '"', line.length));
    if (quote == nullptr) return;
    const char* p = quote + 1;
    const char* end = line.end();
    size_t n = 0;
    while (p < end && *p != '"' && n < kMaxQuotedChars) dest[n++] = *p++;
    dest[n] = '\0';
}

// --- Block stack --------------------------------------------------------------------

namespace {

// Grows `buffer` of `capacity` elements (used `used`) to hold `needed`,
// doubling. False when memory cannot be had (buffer unchanged).
template <typename T>
bool Reserve(JobAllocator* allocator, T*& buffer, size_t& capacity, size_t used, size_t needed, size_t least) {
    if (needed <= capacity) return true;
    if (allocator == nullptr) return false;
    size_t grown = std::max(capacity * 2, least);
    while (grown < needed) grown *= 2;
    T* fresh = allocator->AllocateArray<T>(grown);
    if (fresh == nullptr) return false;
    if (used > 0) std::memcpy(fresh, buffer, used * sizeof(T));
    allocator->Free(buffer);
    buffer = fresh;
    capacity = grown;
    return true;
}

}  // namespace

bool BlockStack::Push(std::string_view name) {
    const size_t length = std::min<size_t>(name.size(), kMaxBlockNameChars);
    if (nameUsed_ + length > UINT32_MAX) return false;
    if (!Reserve(allocator_, names_, nameCapacity_, nameUsed_, nameUsed_ + length, 256)) return false;
    if (!Reserve(allocator_, ends_, endCapacity_, depth_, depth_ + 1, 16)) return false;
    std::memcpy(names_ + nameUsed_, name.data(), length);
    nameUsed_ += length;
    ends_[depth_++] = static_cast<uint32_t>(nameUsed_);
    return true;
}

bool BlockStack::Pop(char* dest) {
    if (depth_ == 0) return false;
    const size_t start = depth_ > 1 ? ends_[depth_ - 2] : 0;
    if (dest != nullptr) {
        std::memcpy(dest, names_ + start, nameUsed_ - start);
        dest[nameUsed_ - start] = '\0';
    }
    nameUsed_ = start;
    --depth_;
    return true;
}

bool BlockStack::PopMatches(std::string_view name) {
    if (depth_ == 0) return false;
    const size_t start = depth_ > 1 ? ends_[depth_ - 2] : 0;
    const bool match = EqualNoCase(std::string_view(names_ + start, nameUsed_ - start), name);
    nameUsed_ = start;
    --depth_;
    return match;
}

void BlockStack::Clear() {
    if (allocator_ != nullptr) {
        allocator_->Free(names_);
        allocator_->Free(ends_);
    }
    names_ = nullptr;
    ends_ = nullptr;
    nameUsed_ = nameCapacity_ = depth_ = endCapacity_ = 0;
}

// --- Block loop ---------------------------------------------------------------------

BlockStep NextBlockLine(AseReader& source, std::string_view own, AseLine& line) {
    BlockStack& stack = *source.stack;
    while (NextLine(source, line)) {
        if (!ScanFirstWord(line)) continue;
        if (source.observer != nullptr) ObserveBlockLine(source, line, false);
        if (source.countAsRead && !CountAsRead(source, line)) return BlockStep::kFail;
        if (line.opens) {
            if (!stack.Push(line.Word())) {
                ReaderOutOfMemory(source, line.text);
                return BlockStep::kFail;
            }
        } else if (line.closes) {
            if (stack.PopMatches(own) && !own.empty()) return BlockStep::kDone;
        }
        return BlockStep::kLine;
    }
    return BlockStep::kDone;
}

namespace {

// The first '{', '}' or NUL at or after `p`, or `end` when none comes
// before it. The source padding makes the vector reads past `end` safe.
const char* FindBraceOrNul(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i nul = _mm_setzero_si128();
    const __m128i open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    for (; p < end; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)), _mm_cmpeq_epi8(v, nul));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0) return std::min(p + __builtin_ctz(mask), end);
    }
    return end;
#else
    while (p < end && *p != '{' && *p != '}' && *p != '\0') ++p;
    return p;
#endif
}

// Moves the position to the start of the next line whose bytes hold a
// brace or a NUL: the lines before it have no brace in their text. False
// at the end of the text (or a failure, recorded).
bool SkipToBraceLine(AseReader& source) {
    for (;;) {
        const char* data = source.data;
        const char* from = data + source.position;
        const char* end = data + source.size;
        const char* hit = FindBraceOrNul(from, end);
        if (hit < end) {
            while (hit > from && !IsLineEnd(hit[-1])) --hit;
            source.position = static_cast<uint32_t>(hit - data);
            return true;
        }
        if (!MoreToRead(source)) {
            source.position = source.size;
            return false;
        }
        // The last line may go on beyond the window: keep it whole.
        const char* last = end;
        while (last > from && !IsLineEnd(last[-1])) --last;
        source.position = static_cast<uint32_t>(last - data);
        if (!SlideAseWindow(source, source.position)) return false;
    }
}

}  // namespace

int PassOverBlock(AseReader& source, AseLine& line) {
    size_t depth = 0;
    while (SkipToBraceLine(source) && NextLine(source, line)) {
        if (line.opens) {
            ++depth;
        } else if (line.closes) {
            if (depth == 0) return 1;
            --depth;
        }
    }
    return 0;
}

namespace {

// A cheap filter for the lines of a skipped block: true when the first byte
// that is not a C space is a '*' that may start a counted keyword. The text
// is followed by readable bytes (the source's padding).
bool MayBeCounted(const AseLine& line) {
    const char* p = line.text;
    const char* end = line.end();
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    return p != end && *p == '*' && MayStartCountedKeyword(p);
}

}  // namespace

int SkipBlock(AseReader& source, std::string_view name) {
    // The block loop without keywords: only lines with a brace matter, and
    // only an opening line needs its word (it has one: the brace).
    const BlockName own(name);
    BlockStack& stack = *source.stack;
    AseLine line;
    while (NextLine(source, line)) {
        if (source.observer != nullptr && ScanFirstWord(line)) ObserveBlockLine(source, line, true);
        if (source.countAsRead && MayBeCounted(line) && ScanFirstWord(line) && !CountAsRead(source, line)) return 0;
        if (line.opens) {
            FindFirstWord(line);
            if (!stack.Push(line.Word())) return ReaderOutOfMemory(source, line.text);
        } else if (line.closes) {
            if (stack.PopMatches(own) && !own.empty()) return 1;
        }
    }
    return 1;
}

uint64_t RemainingBytes(const AseReader& source) {
    const uint64_t at = uint64_t{source.base} + source.position;
    return source.fileSize > at ? source.fileSize - at : 0;
}

bool BelieveDeclaredCount(AseReader& source, uint64_t remaining, int64_t count, size_t elementBytes) {
    if (count < 0) return false;
    // Both factors are below 2^32, so the product fits.
    const uint64_t bytes = static_cast<uint64_t>(count) * elementBytes;
    const uint64_t local = kDeclaredBytesPerFileByte * remaining + kDeclaredSlackBytes;
    const uint64_t total = kDeclaredBytesPerFileByte * source.fileSize + kDeclaredSlackBytes;
    if (bytes > local || bytes > total || source.believedBytes > total - bytes) return false;
    source.believedBytes += bytes;
    return true;
}

namespace {

// The line's first word as a NUL-terminated text for a message, cut to fit.
struct WordOfLine {
    explicit WordOfLine(const AseLine& line) {
        const size_t length = std::min<size_t>(line.wordLength, sizeof text - 1);
        std::memcpy(text, line.word, length);
        text[length] = '\0';
    }
    char text[64];
};

}  // namespace

bool BelieveCountLine(AseReader& source, const AseLine& line, int64_t count, size_t elementBytes) {
    if (BelieveDeclaredCount(source, RemainingBytes(source), count, elementBytes)) return true;
    const WordOfLine keyword(line);
    FailCountBeyondBound(source, uint64_t{source.base} + static_cast<uint64_t>(line.text - source.data), keyword.text,
                         count);
    return false;
}

int FailCountBeyondBound(AseReader& source, uint64_t at, const char* keyword, int64_t count) {
    char16_t detail[kJobErrorDetailUnits];
    FormatWide(detail, kJobErrorDetailUnits,
               u"%S %lld declares more than a file of this size can hold (the declared counts may take at most %d "
               u"bytes per byte of the file)",
               keyword, static_cast<long long>(count), static_cast<int>(kDeclaredBytesPerFileByte));
    return ReaderFailAtOffset(source, at, JobErrorKind::kLimit, detail);
}

bool ChargeLineRecords(AseReader& source, const AseLine& line, size_t bytes) {
    // Only the whole file's bound applies: the line itself is real text,
    // whatever follows it.
    const uint64_t total = kDeclaredBytesPerFileByte * source.fileSize + kDeclaredSlackBytes;
    if (source.believedBytes <= total && bytes <= total - source.believedBytes) {
        source.believedBytes += bytes;
        return true;
    }
    ReaderFail(source, line.text, JobErrorKind::kLimit, nullptr,
               u"%S makes more records than a file of this size can hold (its records may take at most %d bytes "
               u"per byte of the file)",
               WordOfLine(line).text, static_cast<int>(kDeclaredBytesPerFileByte));
    return false;
}

// --- Failures ---------------------------------------------------------------------

void BindAseReader(AseReader& reader, JobAllocator& allocator, JobError& error, AseDocument& doc, BlockStack& stack) {
    reader.allocator = &allocator;
    reader.error = &error;
    reader.doc = &doc;
    reader.stack = &stack;
    doc.allocator = &allocator;
    stack.Bind(allocator);
}

namespace {

// Counts the line ends of `n` bytes as the line splitting does: CR LF, a
// lone CR and a lone LF are one end each. `afterCr` carries a CR at the end
// of one run of bytes to the next. Every CR ends a line and every LF that
// no CR precedes, so 16 bytes are counted at once where SSE2 is available
// (an observed read counts every line of the file).
int64_t CountLineEnds(const char* p, size_t n, bool& afterCr) {
    int64_t ends = 0;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto crs = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
        const auto lfs = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        const uint32_t crBefore = (crs << 1) | (afterCr ? 1u : 0u);
        // A byte is a CR or an LF, never both: one mask of the ends. Lines
        // are longer than a few bytes, so a mask holds a bit or two, which
        // clearing one at a time counts faster than a popcount the
        // baseline x86-64 target makes a library call of.
        for (uint32_t bits = crs | (lfs & ~crBefore); bits != 0; bits &= bits - 1) ++ends;
        afterCr = ((crs >> 15) & 1u) != 0;
    }
#endif
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == '\n') {
            if (!afterCr) ++ends;
            afterCr = false;
        } else {
            afterCr = c == '\r';
            if (afterCr) ++ends;
        }
    }
    return ends;
}

// Counts the line ends of the file's bytes before offset `stop` (at most
// the window's start) by reading them again, then reads on to where the
// window ends, so that the stream is where the next slide expects it. -1
// when the file cannot be read so.
int64_t LineEndsBefore(const AseReader& source, uint64_t stop, bool& afterCr) {
    if (source.base == 0) return 0;
    if (source.file == nullptr || std::fseek(source.file, 0, SEEK_SET) != 0) return -1;
    char chunk[16384];
    int64_t ends = 0;
    const uint64_t end = uint64_t{source.base} + source.size;
    for (uint64_t at = 0; at < end;) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, end - at));
        if (std::fread(chunk, 1, wanted, source.file) != wanted) return -1;
        if (at < stop) ends += CountLineEnds(chunk, static_cast<size_t>(std::min<uint64_t>(wanted, stop - at)), afterCr);
        at += wanted;
    }
    return ends;
}

}  // namespace

int64_t ObservedLineNumber(const AseReader& source, const char* at) {
    if (source.unnumbered) return 0;
    ObservedLines& seen = source.observed;
    const uint64_t offset = uint64_t{source.base} + static_cast<uint64_t>(at - source.data);
    if (offset > seen.offset) {
        // Bytes before the window's start were counted when it moved on.
        const uint64_t from = std::max<uint64_t>(seen.offset, source.base);
        seen.number += CountLineEnds(source.data + (from - source.base), static_cast<size_t>(offset - from),
                                     seen.afterCr);
        seen.offset = offset;
    }
    return seen.number;
}

void CountObservedLines(const AseReader& source, uint32_t keep) {
    if (source.observer != nullptr && source.data != nullptr) ObservedLineNumber(source, source.data + keep);
}

int64_t LineNumberAtOffset(const AseReader& source, uint64_t at) {
    if (source.data == nullptr) return 0;
    // Line ends are counted here, at a failure, so that the scanner never
    // counts them.
    bool afterCr = false;
    const int64_t before = LineEndsBefore(source, std::min<uint64_t>(at, source.base), afterCr);
    if (before < 0) return 0;
    const uint64_t inWindow = at > source.base ? std::min<uint64_t>(at - source.base, source.size) : 0;
    return 1 + before + CountLineEnds(source.data, static_cast<size_t>(inWindow), afterCr);
}

int64_t LineNumberAt(const AseReader& source, const char* at) {
    if (source.data == nullptr || at == nullptr || at < source.data) return 0;
    return LineNumberAtOffset(source, uint64_t{source.base} + static_cast<uint64_t>(at - source.data));
}

int ReaderFail(AseReader& source, const char* at, JobErrorKind kind, const char16_t* what, const char16_t* format, ...) {
    if (source.error == nullptr || source.error->Failed()) return 0;
    char16_t detail[kJobErrorDetailUnits];
    va_list args;
    va_start(args, format);
    VFormatWide(detail, kJobErrorDetailUnits, format, args);
    va_end(args);
    return source.error->Fail(kind, LineNumberAt(source, at), what, u"%s", detail);
}

int ReaderFailAtOffset(AseReader& source, uint64_t at, JobErrorKind kind, const char16_t* detail) {
    if (source.error == nullptr || source.error->Failed()) return 0;
    return source.error->Fail(kind, LineNumberAtOffset(source, at), nullptr, u"%s", detail);
}

int ReaderFileFail(AseReader& source, JobErrorKind kind, const char16_t* detail) {
    char16_t what[kJobErrorWhatUnits] = {};
    if (source.doc != nullptr && source.doc->sourcePath[0] != 0) {
        FormatWide(what, kJobErrorWhatUnits, u"\"%s\":", source.doc->sourcePath);
    }
    return ReaderFail(source, nullptr, kind, what[0] != 0 ? what : nullptr, u"%s", detail);
}

int ReaderOutOfMemory(AseReader& source, const char* at) {
    return ReaderFail(source, at, JobErrorKind::kMemory, nullptr, u"out of memory while reading the file");
}
