// A streaming JSON parser for the scene reader: the text, read from a file in
// chunks or seen whole in memory, becomes a sequence of events handed to a
// handler as they are met (the events and their order are those of
// nlohmann-json's SAX interface, which the tests compare it with). It keeps
// no document and no more text than one chunk and the token being read, and
// it reads numbers with std::from_chars (a short decimal with one exact
// division, which gives the same float), so that nothing depends on the
// process locale.
//
// The handler has these members (each returns bool; false is not used, a
// handler throws to stop):
//   null() boolean(bool) number_integer(int64_t) number_unsigned(uint64_t)
//   number_float(float, std::string_view) string(std::string_view)
//   start_object(size_t) key(std::string_view) end_object()
//   start_array(size_t) end_array()
//
// A UTF-8 byte-order mark before the value is skipped. Numbers follow
// nlohmann-json: a number without fraction or exponent is an
// integer (unsigned when it has no sign; one beyond 64 bits is read as a
// float, like any other); a float beyond the float range fails, one below
// it reads as zero.
#pragma once

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace asehost {

// The text, with the offset of the current byte for messages.
class JsonSource {
public:
    explicit JsonSource(std::string_view text) : start_(text.data()), cursor_(text.data()), limit_(text.data() + text.size()) {}
    // Reads `file` in chunks of `chunk` bytes. Throws std::bad_alloc.
    explicit JsonSource(std::FILE* file, size_t chunk = 256 * 1024) : file_(file), chunk_(chunk), buffer_(new char[chunk]) {
        start_ = cursor_ = limit_ = buffer_.get();
        Refill();
    }

    uint64_t Offset() const { return before_ + static_cast<uint64_t>(cursor_ - start_); }
    // Where the value, key or closing bracket last handed to the handler
    // begins.
    uint64_t TokenOffset() const { return token_; }
    bool ReadFailed() const { return readFailed_; }

private:
    template <class Handler>
    friend class JsonParser;

    // When the chunk is used up, reads the next one; false at the end.
    bool Refill() {
        if (cursor_ < limit_) return true;
        if (!file_ || ended_) return false;
        before_ += static_cast<uint64_t>(limit_ - start_);
        const size_t got = std::fread(buffer_.get(), 1, chunk_, file_);
        if (got < chunk_) {
            ended_ = true;
            if (std::ferror(file_)) readFailed_ = true;
        }
        start_ = cursor_ = buffer_.get();
        limit_ = buffer_.get() + got;
        return got > 0;
    }

    std::FILE* file_ = nullptr;
    size_t chunk_ = 0;
    std::unique_ptr<char[]> buffer_;
    const char* start_ = nullptr;
    const char* cursor_ = nullptr;
    const char* limit_ = nullptr;
    uint64_t before_ = 0;
    uint64_t token_ = 0;
    bool ended_ = false;
    bool readFailed_ = false;
};

// A syntax error: what was wrong and the byte offset where it was seen.
struct JsonSyntaxError {
    std::string what;
    uint64_t offset;
};

// Whether double and float arithmetic round each operation once, to its own
// type (no excess precision, no reciprocals), so that the quotient of two
// exact doubles is the exact quotient correctly rounded.
#if defined(__FAST_MATH__) || !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
inline constexpr bool kExactQuotient = false;
#else
inline constexpr bool kExactQuotient = std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559;
#endif

// The powers of ten that are exact doubles (5^22 < 2^53 < 5^23), as far as
// QuickNumber needs them.
inline constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A double's mantissa bits beyond a float's 24-bit precision, and their value
// when the double lies halfway between two floats.
inline constexpr uint64_t kBelowFloat = (uint64_t{1} << 29) - 1;
inline constexpr uint64_t kFloatMidpoint = uint64_t{1} << 28;

// The bytes a string holds as they are: printable ASCII but the quote and
// the backslash.
struct PlainBytes {
    bool is[256] = {};
    constexpr PlainBytes() {
        for (int c = 0x20; c < 0x80; ++c) is[c] = c != '"' && c != '\\';
    }
};
inline constexpr PlainBytes kPlainBytes;

template <class Handler>
class JsonParser {
public:
    JsonParser(JsonSource& source, Handler& handler) : in_(source), handler_(handler) {}

    // Parses one value and the blanks around it; false with `error` filled
    // on a syntax error (or a read failure, which the source reports).
    bool Parse(JsonSyntaxError& error) {
        try {
            Run();
            return true;
        } catch (const JsonSyntaxError& failure) {
            error = failure;
            return false;
        }
    }

private:
    enum : uint8_t { kInObject = 1, kFirst = 2 };

    [[noreturn]] void Fail(const char* what) const { throw JsonSyntaxError{what, in_.Offset()}; }

    // The current byte, or -1 at the end of the text.
    int Peek() {
        if (in_.cursor_ == in_.limit_ && !in_.Refill()) return -1;
        return static_cast<unsigned char>(*in_.cursor_);
    }
    void Skip() { ++in_.cursor_; }
    void Mark() { in_.token_ = in_.Offset(); }
    int SkipBlanks() {
        // Most tokens follow the one before without a blank.
        if (in_.cursor_ < in_.limit_ && static_cast<unsigned char>(*in_.cursor_) > ' ') return static_cast<unsigned char>(*in_.cursor_);
        for (;;) {
            const char* p = in_.cursor_;
            const char* const e = in_.limit_;
            while (p < e && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
            in_.cursor_ = p;
            if (p < e) return static_cast<unsigned char>(*p);
            if (!in_.Refill()) return -1;
        }
    }
    void Expect(const char* word) {
        for (const char* w = word; *w; ++w) {
            if (Peek() != static_cast<unsigned char>(*w)) Fail("invalid literal");
            Skip();
        }
    }

    // Containers are kept on a stack of their own, not by recursion, so
    // that deep nesting costs a byte per level.
    void Run() {
        // A UTF-8 byte-order mark, as editors on Windows write, is skipped.
        if (Peek() == 0xEF) {
            for (int mark : {0xEF, 0xBB, 0xBF}) {
                if (Peek() != mark) Fail("invalid byte-order mark");
                Skip();
            }
        }
        Value(SkipBlanks());
        while (!stack_.empty()) {
            int c = SkipBlanks();
            uint8_t& top = stack_.back();
            const bool inObject = top & kInObject;
            if (c == (inObject ? '}' : ']')) {
                Mark();
                Skip();
                stack_.pop_back();
                inObject ? handler_.end_object() : handler_.end_array();
                continue;
            }
            if (top & kFirst) {
                top &= static_cast<uint8_t>(~kFirst);
            } else {
                if (c != ',') Fail(inObject ? "expected ',' or '}'" : "expected ',' or ']'");
                Skip();
                c = SkipBlanks();
            }
            if (inObject) {
                Key(c);
                c = SkipBlanks();
            }
            Value(c);
        }
        if (SkipBlanks() != -1) Fail("unexpected text after the value");
    }

    void Key(int c) {
        if (c != '"') Fail("expected a key");
        Mark();
        handler_.key(String());
        if (SkipBlanks() != ':') Fail("expected ':'");
        Skip();
    }

    // One value starting with `c`; a container only opens here, its
    // elements come from Run.
    void Value(int c) {
        Mark();
        switch (c) {
        case '{':
            Skip();
            handler_.start_object(static_cast<size_t>(-1));
            stack_.push_back(kInObject | kFirst);
            return;
        case '[':
            Skip();
            handler_.start_array(static_cast<size_t>(-1));
            stack_.push_back(kFirst);
            return;
        case '"':
            handler_.string(String());
            return;
        case 't':
            Expect("true");
            handler_.boolean(true);
            return;
        case 'f':
            Expect("false");
            handler_.boolean(false);
            return;
        case 'n':
            Expect("null");
            handler_.null();
            return;
        case -1:
            Fail("unexpected end of the text");
        default:
            if (c == '-' || (c >= '0' && c <= '9')) return Number();
            Fail("unexpected character");
        }
    }

    static bool IsNumberChar(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

    // The bytes of a token that satisfy `pred`, in place when the chunk
    // holds all of them, else gathered into the scratch text.
    template <class Pred>
    std::string_view TakeWhile(Pred pred) {
        const char* s = in_.cursor_;
        const char* p = s;
        while (p < in_.limit_ && pred(*p)) ++p;
        in_.cursor_ = p;
        if (p < in_.limit_ || !in_.file_) return std::string_view(s, static_cast<size_t>(p - s));
        scratch_.assign(s, p);
        while (in_.Refill()) {
            s = p = in_.cursor_;
            while (p < in_.limit_ && pred(*p)) ++p;
            scratch_.append(s, p);
            in_.cursor_ = p;
            if (p < in_.limit_) break;
        }
        return scratch_;
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    // A number as the writer writes them, read in place in one pass: no
    // exponent, at most 15 digits, ending inside the chunk. Anything else
    // (and anything malformed) is left to the general path, which reads it
    // again from the start; false then, with nothing consumed.
    bool QuickNumber() {
        const char* const start = in_.cursor_;
        const char* const e = in_.limit_;
        const char* p = start;
        const bool negative = *p == '-';
        if (negative) ++p;
        if (p == e || !IsDigit(*p)) return false;
        // Every digit, leading zeros of a fraction too, goes into the
        // mantissa; past 15 digits it may no longer be an exact double, and
        // the number goes the general way.
        uint64_t mantissa = 0;
        int digits = 0;
        if (*p == '0') {
            ++p;
        } else {
            for (; p < e && IsDigit(*p); ++p, ++digits) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        }
        int fraction = 0;
        const bool isFloat = p < e && *p == '.';
        if (isFloat) {
            ++p;
            for (; p < e && IsDigit(*p); ++p, ++fraction) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
            if (fraction == 0) return false;
        }
        if (p == e || IsNumberChar(*p) || digits + fraction > 15) return false;
        if (!isFloat) {
            in_.cursor_ = p;
            if (negative) {
                handler_.number_integer(-static_cast<int64_t>(mantissa));
            } else {
                handler_.number_unsigned(mantissa);
            }
            return true;
        }
        // The mantissa (below 10^15 < 2^53) and 10^fraction (fraction <= 15
        // <= 22) are exact doubles, so the quotient is the decimal rounded
        // once, to double. Rounding that to float again gives the float
        // nearest to the decimal unless the double landed on a midpoint
        // between two floats (its 29 bits beyond a float's precision 1
        // followed by zeros): the decimal may then lie on either side, and
        // from_chars decides.
        float value = 0.0f;
        const double quotient = static_cast<double>(mantissa) / kPowersOfTen[fraction];
        if (kExactQuotient && (std::bit_cast<uint64_t>(quotient) & kBelowFloat) != kFloatMidpoint) {
            value = static_cast<float>(negative ? -quotient : quotient);
        } else {
            const auto result = std::from_chars(start, p, value);
            if (result.ec != std::errc() || result.ptr != p) return false;
        }
        in_.cursor_ = p;
        handler_.number_float(value, std::string_view(start, static_cast<size_t>(p - start)));
        return true;
    }

    void Number() {
        if (!QuickNumber()) GeneralNumber();
    }

    // Any number QuickNumber leaves: kept out of line, so that the value
    // loop stays small for the numbers a scene holds.
    [[gnu::noinline]] void GeneralNumber() {
        const std::string_view text = TakeWhile(IsNumberChar);
        // The JSON grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
        const char* p = text.data();
        const char* const e = p + text.size();
        auto digit = [&] { return p < e && *p >= '0' && *p <= '9'; };
        const bool negative = p < e && *p == '-';
        if (negative) ++p;
        if (!digit()) Fail("invalid number");
        const char* digits = p;
        if (*p == '0') {
            ++p;
        } else {
            while (digit()) ++p;
        }
        const char* digitsEnd = p;
        bool isFloat = false;
        // The decimal magnitude, for a number beyond the float range.
        int64_t magnitude = *digits == '0' ? 0 : digitsEnd - digits - 1;
        if (p < e && *p == '.') {
            ++p;
            if (!digit()) Fail("invalid number");
            const char* fraction = p;
            while (digit()) ++p;
            if (*digits == '0') {
                const char* first = fraction;
                while (first < p && *first == '0') ++first;
                magnitude = -(first - fraction) - 1;
            }
            isFloat = true;
        }
        if (p < e && (*p == 'e' || *p == 'E')) {
            ++p;
            bool negativeExponent = false;
            if (p < e && (*p == '+' || *p == '-')) negativeExponent = *p++ == '-';
            if (!digit()) Fail("invalid number");
            int64_t exponent = 0;
            for (; digit(); ++p) exponent = exponent < 100000000 ? exponent * 10 + (*p - '0') : exponent;
            magnitude += negativeExponent ? -exponent : exponent;
            isFloat = true;
        }
        if (p != e) Fail("invalid number");
        if (!isFloat) {
            uint64_t value = 0;
            bool fits = true;
            // Nineteen digits always fit; only a twentieth needs the test.
            for (const char* d = digits; d < digitsEnd && fits; ++d) {
                const uint64_t digitValue = static_cast<uint64_t>(*d - '0');
                if (d - digits >= 19) fits = value <= (UINT64_MAX - digitValue) / 10;
                value = value * 10 + digitValue;
            }
            if (fits && !negative) {
                handler_.number_unsigned(value);
                return;
            }
            if (fits && value <= static_cast<uint64_t>(INT64_MAX) + 1) {
                handler_.number_integer(value == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(value));
                return;
            }
            // Beyond 64 bits: a float, like nlohmann-json.
        }
        float value = 0.0f;
        const auto result = std::from_chars(text.data(), e, value);
        if (result.ec == std::errc::result_out_of_range) {
            // Below the float range reads as zero; beyond it fails.
            if (magnitude >= 0) Fail("number beyond the float range");
            value = negative ? -0.0f : 0.0f;
        } else if (result.ec != std::errc() || result.ptr != e) {
            Fail("invalid number");
        }
        handler_.number_float(value, text);
    }

    static int Hex(int c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    unsigned Escape4() {
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const int h = Hex(Peek());
            if (h < 0) Fail("invalid \\u escape");
            Skip();
            value = value * 16 + static_cast<unsigned>(h);
        }
        return value;
    }
    void PutUtf8(unsigned code) {
        if (code < 0x80) {
            scratch_ += static_cast<char>(code);
        } else if (code < 0x800) {
            scratch_ += static_cast<char>(0xC0 | (code >> 6));
            scratch_ += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            scratch_ += static_cast<char>(0xE0 | (code >> 12));
            scratch_ += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            scratch_ += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            scratch_ += static_cast<char>(0xF0 | (code >> 18));
            scratch_ += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            scratch_ += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            scratch_ += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    // One UTF-8 sequence whose lead byte `lead` (>= 0x80) was taken.
    void Utf8Sequence(int lead) {
        int more = 0;
        int low = 0x80, high = 0xBF;  // range of the first continuation byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            Fail("invalid UTF-8 in a string");
        }
        scratch_ += static_cast<char>(lead);
        for (int k = 0; k < more; ++k) {
            const int c = Peek();
            if (c < low || c > high) Fail("invalid UTF-8 in a string");
            Skip();
            scratch_ += static_cast<char>(c);
            low = 0x80;
            high = 0xBF;
        }
    }

    // A string whose opening quote is current; its text without escapes.
    std::string_view String() {
        Skip();
        // Plain ASCII up to the closing quote inside the chunk: in place.
        const char* s = in_.cursor_;
        const char* p = s;
        while (p < in_.limit_ && kPlainBytes.is[static_cast<unsigned char>(*p)]) ++p;
        if (p < in_.limit_ && *p == '"') {
            in_.cursor_ = p + 1;
            return std::string_view(s, static_cast<size_t>(p - s));
        }
        scratch_.assign(s, p);
        in_.cursor_ = p;
        for (;;) {
            const int c = Peek();
            if (c < 0) Fail("unexpected end of the text in a string");
            Skip();
            if (c == '"') return scratch_;
            if (c < 0x20) Fail("control character in a string");
            if (c >= 0x80) {
                Utf8Sequence(c);
                continue;
            }
            if (c != '\\') {
                scratch_ += static_cast<char>(c);
                continue;
            }
            const int e = Peek();
            if (e < 0) Fail("unexpected end of the text in a string");
            Skip();
            switch (e) {
            case '"': scratch_ += '"'; break;
            case '\\': scratch_ += '\\'; break;
            case '/': scratch_ += '/'; break;
            case 'b': scratch_ += '\b'; break;
            case 'f': scratch_ += '\f'; break;
            case 'n': scratch_ += '\n'; break;
            case 'r': scratch_ += '\r'; break;
            case 't': scratch_ += '\t'; break;
            case 'u': {
                unsigned code = Escape4();
                if (code >= 0xDC00 && code <= 0xDFFF) Fail("lone low surrogate in a \\u escape");
                if (code >= 0xD800 && code <= 0xDBFF) {
                    if (Peek() != '\\') Fail("high surrogate without its low half");
                    Skip();
                    if (Peek() != 'u') Fail("high surrogate without its low half");
                    Skip();
                    const unsigned low = Escape4();
                    if (low < 0xDC00 || low > 0xDFFF) Fail("high surrogate without its low half");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                PutUtf8(code);
                break;
            }
            default:
                Fail("invalid escape in a string");
            }
        }
    }

    JsonSource& in_;
    Handler& handler_;
    std::vector<uint8_t> stack_;
    std::string scratch_;
};

// Parses the text of `source` into events for `handler`.
template <class Handler>
bool ParseJson(JsonSource& source, Handler& handler, JsonSyntaxError& error) {
    return JsonParser<Handler>(source, handler).Parse(error);
}

}  // namespace asehost
