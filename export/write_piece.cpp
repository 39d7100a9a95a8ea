// Output mechanics shared by every export writer: one piece of text,
// formatted with the C formatting rules independently of the process
// locale, written with one fwrite; and the reduction of a path to its file
// name.
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "export/export_job.h"
#include "platform/platform.h"
#include "base/strings.h"

namespace {

enum : size_t { kPieceBytes = 2048 };

// Collects formatted text in a fixed buffer that goes to the stream whenever
// it fills, so that no piece is ever cut or overruns and none needs memory of
// its own. The buffer is not cleared: only the bytes written are ever read.
class PieceSink {
public:
    explicit PieceSink(std::FILE* stream) : stream_(stream) {}
    void Append(const char* text, size_t length) {
        while (length > 0) {
            const size_t n = Room(length);
            std::memcpy(buffer_ + used_, text, n);
            used_ += n;
            text += n;
            length -= n;
        }
    }
    void AppendRepeated(char c, size_t count) {
        while (count > 0) {
            const size_t n = Room(count);
            std::memset(buffer_ + used_, c, n);
            used_ += n;
            count -= n;
        }
    }
    // Writes what is left; true when every write reported its bytes.
    bool Finish() {
        Flush();
        return ok_;
    }

private:
    // How many of `wanted` bytes fit now, after sending a full buffer.
    size_t Room(size_t wanted) {
        if (used_ == kPieceBytes) Flush();
        const size_t room = kPieceBytes - used_;
        return wanted < room ? wanted : room;
    }
    void Flush() {
        // fwrite reports no item for an empty piece, which nonetheless lost
        // nothing.
        if (used_ > 0 && std::fwrite(buffer_, used_, 1, stream_) != 1) ok_ = false;
        used_ = 0;
    }

    std::FILE* stream_;
    bool ok_ = true;
    size_t used_ = 0;
    char buffer_[kPieceBytes];
};

struct Conversion {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plusSign = false;
    bool spaceSign = false;
    int width = 0;
    int precision = -1;  // -1: none given
};

// Pads `body` to the conversion's width. Zero padding goes after the sign,
// as printf puts it, and only for numbers.
void AppendPadded(PieceSink& sink, const Conversion& c, const char* body, size_t length, bool numeric) {
    const size_t width = c.width > 0 ? static_cast<size_t>(c.width) : 0;
    const size_t pad = width > length ? width - length : 0;
    if (pad == 0) {
        sink.Append(body, length);
    } else if (c.leftAlign) {
        sink.Append(body, length);
        sink.AppendRepeated(' ', pad);
    } else if (c.zeroPad && numeric) {
        size_t signLength = (length > 0 && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
        sink.Append(body, signLength);
        sink.AppendRepeated('0', pad);
        sink.Append(body + signLength, length - signLength);
    } else {
        sink.AppendRepeated(' ', pad);
        sink.Append(body, length);
    }
}

void FormatInteger(PieceSink& sink, const Conversion& c, long long value, bool isUnsigned) {
    char text[24];
    char* start = text + 1;  // text[0] is room for a sign
    const char* end = isUnsigned ? std::to_chars(start, text + sizeof text, static_cast<unsigned>(value)).ptr
                                 : std::to_chars(start, text + sizeof text, value).ptr;
    if (!isUnsigned && *start != '-' && (c.plusSign || c.spaceSign)) *--start = c.plusSign ? '+' : ' ';
    AppendPadded(sink, c, start, static_cast<size_t>(end - start), true);
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr uint64_t kPowersOfTen[10] = {1,      10,      100,      1000,      10000,
                                       100000, 1000000, 10000000, 100000000, 1000000000};

// Writes `magnitude` (not negative) to `out` with `precision` decimals,
// 0 <= precision <= 9, rounded as printf's %f rounds: the exact binary value
// to the nearest, ties to even. Returns the end of the text, or null when the
// value is not below 1e9 (or not a number), which this does not handle.
//
// The double is m * 2^-shift exactly; m * 10^precision has at most 83 bits,
// so the scaled value and its remainder are exact in 128-bit arithmetic.
char* FixedDigits(char* out, double magnitude, int precision) {
    if (!(magnitude < 1.0e9)) return nullptr;
    uint64_t bits;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
    int shift = 1074;
    if (biased != 0) {
        mantissa |= uint64_t{1} << 52;
        shift = 1075 - biased;
    }
    // A normal number below 1e9 has shift > 22; the scaled product stays
    // below 2^83, so from 84 on it is under one half and rounds to 0.
    if (shift < 1) return nullptr;
    const uint64_t unit = kPowersOfTen[precision];
    // Without its trailing zero bits the mantissa of a float widened to
    // double (the writers' values) has at most 24 bits, and its product with
    // the scale fits 64 bits, which cost less than 128. Zero and the tiniest
    // values shift everything out and stay 0.
    const int zeros = mantissa == 0 ? 0 : std::countr_zero(mantissa);
    const uint64_t odd = mantissa >> zeros;
    const int oddShift = shift - zeros;
    uint64_t scaled = 0;
    if (oddShift <= 0) {
        scaled = (odd << -oddShift) * unit;  // a whole number below 1e9
    } else if (oddShift < 64 && std::bit_width(odd) + std::bit_width(unit) <= 64) {
        const uint64_t product = odd * unit;
        scaled = product >> oddShift;
        const uint64_t rest = product - (scaled << oddShift);
        const uint64_t half = uint64_t{1} << (oddShift - 1);
        if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
    } else if (shift < 84) {
        const unsigned __int128 product = static_cast<unsigned __int128>(mantissa) * unit;
        scaled = static_cast<uint64_t>(product >> shift);
        const unsigned __int128 rest = product - (static_cast<unsigned __int128>(scaled) << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
    }
    // The common precision gets a constant divisor.
    const uint64_t whole = precision == 6 ? scaled / 1000000 : scaled / unit;
    uint64_t fraction = scaled - whole * unit;
    out = std::to_chars(out, out + 20, whole).ptr;
    if (precision > 0) {
        *out++ = '.';
        if (precision == 6) {
            // Six decimals, the writers' own, two at a time.
            const auto f = static_cast<uint32_t>(fraction);
            const uint32_t low = f % 10000;
            std::memcpy(out, kDigitPairs + 2 * (f / 10000), 2);
            std::memcpy(out + 2, kDigitPairs + 2 * (low / 100), 2);
            std::memcpy(out + 4, kDigitPairs + 2 * (low % 100), 2);
        } else {
            for (int i = precision - 1; i >= 0; --i) {
                out[i] = static_cast<char>('0' + fraction % 10);
                fraction /= 10;
            }
        }
        out += precision;
    }
    return out;
}

// "%f": the digits printf gives, from FixedDigits for the usual values and
// from std::to_chars in fixed form for the rest, which also gives "inf",
// "-inf", "nan", "-nan" for the values without digits. Zero padding does not
// apply to those, as with printf.
void FormatFixed(PieceSink& sink, const Conversion& c, double value) {
    char text[400];  // the largest double has 309 integer digits
    const int precision = c.precision < 0 ? 6 : (c.precision > 60 ? 60 : c.precision);
    char* start = text + 1;  // text[0] is room for a sign
    char* end = precision <= 9 ? FixedDigits(start, std::fabs(value), precision) : nullptr;
    if (end != nullptr) {
        if (std::signbit(value)) *--start = '-';
    } else {
        end = std::to_chars(start, text + sizeof text, value, std::chars_format::fixed, precision).ptr;
    }
    if (*start != '-' && (c.plusSign || c.spaceSign)) *--start = c.plusSign ? '+' : ' ';
    const bool finite = value - value == 0.0;
    AppendPadded(sink, c, start, static_cast<size_t>(end - start), finite);
}

void FormatText(PieceSink& sink, const Conversion& c, const char* text) {
    if (text == nullptr) text = "(null)";
    size_t length = std::strlen(text);
    if (c.precision >= 0 && static_cast<size_t>(c.precision) < length) length = static_cast<size_t>(c.precision);
    AppendPadded(sink, c, text, length, false);
}

// Formats `format` with the conversions %d, %i, %u, %s, %c, %f and %%, with
// flags, width and precision. An unknown conversion ends the piece.
void FormatPiece(PieceSink& sink, const char* format, va_list args) {
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            const char* stop = std::strchr(p, '%');
            if (stop == nullptr) stop = p + std::strlen(p);
            sink.Append(p, static_cast<size_t>(stop - p));
            p = stop - 1;
            continue;
        }
        Conversion c;
        for (++p;; ++p) {
            if (*p == '-') c.leftAlign = true;
            else if (*p == '0') c.zeroPad = true;
            else if (*p == '+') c.plusSign = true;
            else if (*p == ' ') c.spaceSign = true;
            else break;
        }
        for (; *p >= '0' && *p <= '9'; ++p) c.width = c.width < 100000 ? c.width * 10 + (*p - '0') : c.width;
        if (*p == '.') {
            c.precision = 0;
            for (++p; *p >= '0' && *p <= '9'; ++p) {
                c.precision = c.precision < 100000 ? c.precision * 10 + (*p - '0') : c.precision;
            }
        }
        switch (*p) {
            case 'd':
            case 'i':
                FormatInteger(sink, c, va_arg(args, int), false);
                break;
            case 'u':
                FormatInteger(sink, c, va_arg(args, unsigned), true);
                break;
            case 'f':
                FormatFixed(sink, c, va_arg(args, double));
                break;
            case 's':
                FormatText(sink, c, va_arg(args, const char*));
                break;
            case 'c': {
                const char ch = static_cast<char>(va_arg(args, int));
                AppendPadded(sink, c, &ch, 1, false);
                break;
            }
            case '%':
                sink.Append("%", 1);
                break;
            default:
                return;  // a conversion no writer uses; '\0' ends here too
        }
    }
}

}  // namespace

int WritePiece(ExportStream stream, const char* format, ...) {
    if (stream.file == nullptr || format == nullptr) return 0;
    if (stream.PieceFails()) {
        errno = ENOSPC;
        return 0;
    }
    PieceSink sink(stream.file);
    va_list args;
    va_start(args, format);
    FormatPiece(sink, format, args);
    va_end(args);
    return sink.Finish() ? 1 : 0;
}

void LineWriter::AppendLong(std::string_view text) {
    while (!text.empty()) {
        if (used_ == kBytes) Flush();
        const size_t n = text.size() < kBytes - used_ ? text.size() : kBytes - used_;
        std::memcpy(buffer_ + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
    }
}

void LineWriter::Int(int value) {
    char* out = Room(kNumberBytes);
    used_ = static_cast<size_t>(std::to_chars(out, out + kNumberBytes, value).ptr - buffer_);
}

void LineWriter::Int4(int value) {
    char text[16];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    const size_t length = static_cast<size_t>(end - text);
    char* out = Room(kNumberBytes);
    for (size_t pad = length; pad < 4; ++pad) *out++ = ' ';
    std::memcpy(out, text, length);
    used_ = static_cast<size_t>(out + length - buffer_);
}

void LineWriter::Fixed(double value) {
    // FormatFixed without flags, width or precision: the sign and the exact
    // digits below 1e9, std::to_chars for the rest and for no number.
    char* out = Room(kNumberBytes);
    char* digits = out;
    if (std::signbit(value)) *digits++ = '-';
    char* end = FixedDigits(digits, std::fabs(value), 6);
    if (end == nullptr) end = std::to_chars(out, out + kNumberBytes, value, std::chars_format::fixed, 6).ptr;
    used_ = static_cast<size_t>(end - buffer_);
}

bool LineWriter::Flush() {
    if (used_ > 0 && ok_) {
        if (stream_.file == nullptr) {
            ok_ = false;
        } else if (stream_.PieceFails()) {
            errno = ENOSPC;
            ok_ = false;
        } else if (std::fwrite(buffer_, used_, 1, stream_.file) != 1) {
            ok_ = false;
        }
    }
    used_ = 0;
    return ok_;
}

int FileNameOnly(const char16_t* path, char16_t* out) {
    if (path == nullptr || out == nullptr) return 0;
    char16_t name[platform::kMaxFileName] = {};
    char16_t extension[platform::kMaxExtension] = {};
    platform::SplitPath(path, nullptr, nullptr, name, extension);
    // Name and extension may each fill their 255 units; together they are cut
    // to the 256 units of `out`.
    size_t n = 0;
    for (size_t i = 0; name[i] != 0 && n + 1 < kFileNameOnlyUnits; ++i) out[n++] = name[i];
    for (size_t i = 0; extension[i] != 0 && n + 1 < kFileNameOnlyUnits; ++i) out[n++] = extension[i];
    out[n] = 0;
    return 1;
}

void WideToAnsiCut(const char16_t* text, char* out, int capacity) {
    if (out == nullptr || capacity < 1) return;
    char16_t temp[kDualStringUnits] = {};
    size_t length = 0;
    for (; text != nullptr && text[length] != 0 && length + 1 < kDualStringUnits; ++length) temp[length] = text[length];
    // Shortens one character at a time until the conversion fits; the text
    // is at most one DualString long, so this stays bounded.
    for (;;) {
        if (WideToAnsi(temp, out, capacity) > 0) return;
        if (length == 0) break;
        --length;
        // Never leaves half of a surrogate pair behind.
        if (length > 0 && temp[length] >= 0xDC00 && temp[length] <= 0xDFFF && temp[length - 1] >= 0xD800 &&
            temp[length - 1] <= 0xDBFF) {
            --length;
        }
        temp[length] = 0;
    }
    out[0] = '\0';
}
