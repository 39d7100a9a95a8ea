// The in-memory source: one padded buffer per file, and the conversion of
// text marked with a byte-order mark to the ANSI code page.
//
// Marked text (UTF-16 LE, UTF-16 BE, UTF-8) is converted in place: every
// code unit or sequence becomes at most as many ANSI bytes as it took in the
// file, so the conversion needs no second buffer.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ase/reader_internal.h"
#include "platform/platform.h"
#include "base/strings.h"

namespace {

// ANSI bytes of each UTF-16 unit: low byte first, high byte the second byte
// of a double-byte character or 0. Units the code page lacks map to '?'.
const uint16_t* AnsiTable() {
    static uint16_t table[0x10000];
    static bool built = false;
    if (!built) {
        for (uint32_t unit = 0; unit < 0x10000; ++unit) {
            if (unit < 0x80) {
                table[unit] = static_cast<uint16_t>(unit);
                continue;
            }
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                table[unit] = '?';
                continue;
            }
            const char16_t text[2] = {static_cast<char16_t>(unit), 0};
            char bytes[8] = {};
            const int written = platform::WideToAnsi(text, bytes, sizeof bytes);
            if (written == 2 && bytes[0] != '\0') {
                table[unit] = static_cast<unsigned char>(bytes[0]);
            } else if (written == 3 && bytes[0] != '\0') {
                table[unit] = static_cast<uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                                    (static_cast<unsigned char>(bytes[1]) << 8));
            } else {
                table[unit] = '?';
            }
        }
        built = true;
    }
    return table;
}

// Writes the ANSI form of `codePoint` at `out`; returns the new end.
char* PutCodePoint(char* out, uint32_t codePoint, const uint16_t* table) {
    const uint16_t bytes = codePoint < 0x10000 ? table[codePoint] : '?';
    *out++ = static_cast<char>(bytes & 0xFF);
    if (bytes >> 8) *out++ = static_cast<char>(bytes >> 8);
    return out;
}

uint32_t ConvertUtf16(char* data, uint32_t size, bool bigEndian) {
    const uint16_t* table = AnsiTable();
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    char* out = data;
    uint32_t i = 2;
    auto unitAt = [&](uint32_t at) -> uint32_t {
        return bigEndian ? (uint32_t{in[at]} << 8) | in[at + 1] : in[at] | (uint32_t{in[at + 1]} << 8);
    };
    while (i + 1 < size) {
        const uint32_t unit = unitAt(i);
        i += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < size) {
            const uint32_t low = unitAt(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;  // a pair: a character beyond the code page
                *out++ = '?';
                continue;
            }
        }
        out = PutCodePoint(out, unit, table);
    }
    if (i < size) *out++ = '?';  // a lone trailing byte
    return static_cast<uint32_t>(out - data);
}

// Length of the valid UTF-8 sequence at `in` (1 to 4) with its code point,
// or 0 with `consumed` the bytes of its maximal invalid part (at least 1).
uint32_t DecodeUtf8(const unsigned char* in, uint32_t available, uint32_t& codePoint, uint32_t& consumed) {
    const unsigned char b0 = in[0];
    uint32_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        codePoint = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        codePoint = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        codePoint = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        consumed = 1;
        return 0;
    }
    for (uint32_t k = 1; k < length; ++k) {
        const unsigned char b = k < available ? in[k] : 0;
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (k >= available || b < lo || b > hi) {
            consumed = k;
            return 0;
        }
        codePoint = (codePoint << 6) | (b & 0x3F);
    }
    consumed = length;
    return length;
}

uint32_t ConvertUtf8(char* data, uint32_t size) {
    const uint16_t* table = AnsiTable();
    const unsigned char* in = reinterpret_cast<const unsigned char*>(data);
    char* out = data;
    uint32_t i = 3;
    while (i < size) {
        if (in[i] < 0x80) {
            *out++ = static_cast<char>(in[i++]);
            continue;
        }
        uint32_t codePoint = 0;
        uint32_t consumed = 0;
        if (DecodeUtf8(in + i, size - i, codePoint, consumed) == 0) {
            *out++ = '?';
        } else {
            out = PutCodePoint(out, codePoint, table);
        }
        i += consumed;
    }
    return static_cast<uint32_t>(out - data);
}

}  // namespace

namespace {

// The padding after the bytes in memory: a line feed, so that the scanner
// always meets a line end, then zeros.
void LayPadding(AseReader& source) {
    source.data[source.size] = '\n';
    std::memset(source.data + source.size + 1, 0, kSourcePadding - 1);
}

}  // namespace

void ReleaseAseSource(AseReader& source) {
    if (source.allocator != nullptr) source.allocator->Free(source.data);
    source.data = nullptr;
    source.position = 0;
    source.size = 0;
    source.base = 0;
    source.fileSize = 0;
    source.capacity = 0;
    source.file = nullptr;
}

char* AllocateSourceBuffer(AseReader& source, uint32_t size) {
    ReleaseAseSource(source);
    if (source.allocator == nullptr) return nullptr;
    char* data = static_cast<char*>(source.allocator->Allocate(static_cast<size_t>(size) + kSourcePadding));
    if (data == nullptr) return nullptr;
    source.data = data;
    source.size = size;
    source.fileSize = size;
    source.capacity = size;
    return data;
}

ByteOrderMark ByteOrderMarkOf(const unsigned char* bytes, size_t count) {
    if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return ByteOrderMark::kUtf16Le;
    if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return ByteOrderMark::kUtf16Be;
    if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return ByteOrderMark::kUtf8;
    return ByteOrderMark::kNone;
}

void FinishAseSource(AseReader& source) {
    char* data = source.data;
    if (data == nullptr) return;
    uint32_t size = source.size;
    switch (ByteOrderMarkOf(reinterpret_cast<const unsigned char*>(data), size)) {
        case ByteOrderMark::kUtf16Le: size = ConvertUtf16(data, size, false); break;
        case ByteOrderMark::kUtf16Be: size = ConvertUtf16(data, size, true); break;
        case ByteOrderMark::kUtf8: size = ConvertUtf8(data, size); break;
        case ByteOrderMark::kNone: break;
    }
    source.size = size;
    source.fileSize = size;
    source.position = 0;
    LayPadding(source);
}

int MakeAseSource(AseReader& source, const void* bytes, size_t size) {
    ReleaseAseSource(source);
    if (size > UINT32_MAX - kSourcePadding) return 0;
    char* data = AllocateSourceBuffer(source, static_cast<uint32_t>(size));
    if (data == nullptr) return 0;
    if (size > 0) std::memcpy(data, bytes, size);
    FinishAseSource(source);
    return 1;
}

int OpenAseSourceWindow(AseReader& source, std::FILE* file, uint32_t fileSize, uint32_t windowBytes) {
    ReleaseAseSource(source);
    if (file == nullptr || fileSize > UINT32_MAX - kSourcePadding) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"no file to read");
    }
    const uint32_t window = std::max<uint32_t>(windowBytes, 64);
    const uint32_t capacity = std::min(fileSize, window);
    if (AllocateSourceBuffer(source, capacity) == nullptr) return ReaderOutOfMemory(source, nullptr);
    source.fileSize = fileSize;
    source.size = 0;
    source.file = file;
    // A file that fits is read whole: no window moves, and the file is not
    // needed again.
    if (!SlideAseWindow(source, 0) && ReadFailed(source)) return 0;
    if (!MoreToRead(source)) source.file = nullptr;
    return 1;
}

int ReadAseSourceToEnd(AseReader& source, std::FILE* file) {
    ReleaseAseSource(source);
    if (file == nullptr || source.allocator == nullptr) {
        return ReaderFail(source, nullptr, JobErrorKind::kInternal, nullptr, u"no file to read");
    }
    constexpr uint64_t kMost = UINT32_MAX - kSourcePadding;
    size_t capacity = 0;
    size_t size = 0;
    char* data = nullptr;
    for (;;) {
        if (size == capacity) {
            // One byte past the most a source holds tells a file that is
            // too large from one that is just large enough.
            if (capacity > kMost) break;
            const uint64_t doubled = std::max<uint64_t>(uint64_t{capacity} * 2, 64 * 1024);
            const size_t grown = static_cast<size_t>(std::min<uint64_t>(doubled, kMost + 1));
            char* fresh = static_cast<char*>(source.allocator->Reallocate(data, grown + kSourcePadding));
            if (fresh == nullptr) {
                source.allocator->Free(data);
                return ReaderOutOfMemory(source, nullptr);
            }
            data = fresh;
            capacity = grown;
        }
        // fread stops short only at the end of the file or at an error.
        const size_t wanted = capacity - size;
        const size_t got = std::fread(data + size, 1, wanted, file);
        size += got;
        if (got == wanted) continue;
        if (std::ferror(file) != 0) {
            source.allocator->Free(data);
            return ReaderFileFail(source, JobErrorKind::kFile, u"the file could not be read to its end");
        }
        break;
    }
    if (size > kMost) {
        source.allocator->Free(data);
        char16_t detail[kJobErrorDetailUnits];
        FormatWide(detail, kJobErrorDetailUnits, u"the file holds more than the %lld bytes that can be read",
                   static_cast<long long>(kMost));
        return ReaderFileFail(source, JobErrorKind::kLimit, detail);
    }
    // The source keeps no more than its text: the rest goes back at once.
    char* fitted = static_cast<char*>(source.allocator->Reallocate(data, size + kSourcePadding));
    source.data = fitted != nullptr ? fitted : data;
    source.size = static_cast<uint32_t>(size);
    source.capacity = static_cast<uint32_t>(size);
    FinishAseSource(source);
    return 1;
}

int RewindAseSource(AseReader& source) {
    if (source.data == nullptr) return 0;
    ++source.passes;
    source.position = 0;
    source.observed = {1, 0, false};
    if (source.base == 0) return 1;  // the text's start is in memory
    if (source.file == nullptr || std::fseek(source.file, 0, SEEK_SET) != 0) {
        return ReaderFileFail(source, JobErrorKind::kFile, u"the file could not be read again");
    }
    source.base = 0;
    source.size = 0;
    return SlideAseWindow(source, 0) || !ReadFailed(source);
}

int SlideAseWindow(AseReader& source, uint32_t keep) {
    if (source.data == nullptr || !MoreToRead(source)) return 0;
    keep = std::min(keep, source.size);
    CountObservedLines(source, keep);
    const uint32_t kept = source.size - keep;
    const uint64_t unread = uint64_t{source.fileSize} - source.base - source.size;
    if (kept == source.capacity) {
        // One line fills the window: double it (no more than the text).
        const uint64_t grown = std::min<uint64_t>(uint64_t{source.capacity} * 2 + 64, uint64_t{kept} + unread);
        char* fresh = static_cast<char*>(source.allocator->Allocate(static_cast<size_t>(grown) + kSourcePadding));
        if (fresh == nullptr) return ReaderOutOfMemory(source, nullptr);
        std::memcpy(fresh, source.data + keep, kept);
        source.allocator->Free(source.data);
        source.data = fresh;
        source.capacity = static_cast<uint32_t>(grown);
    } else if (kept > 0 && keep > 0) {
        std::memmove(source.data, source.data + keep, kept);
    }
    source.base += keep;
    source.size = kept;
    source.position = source.position >= keep ? source.position - keep : 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(source.capacity - kept, unread));
    const size_t got = std::fread(source.data + kept, 1, wanted, source.file);
    source.size = kept + static_cast<uint32_t>(got);
    LayPadding(source);
    if (got != wanted) {
        // The bytes a size promised are not there: a read error, or a file
        // cut short since it was opened. What was read stays unused.
        const bool error = std::ferror(source.file) != 0;
        source.file = nullptr;
        return ReaderFileFail(source, JobErrorKind::kFile, error ? u"the file could not be read to its end"
                                            : u"the file became shorter while it was read");
    }
    return 1;
}
