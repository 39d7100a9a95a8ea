// Numbers read exactly as the C locale's sscanf "%d" and "%f" read them
// with glibc, without the runtime's scanner or the process locale.
//
// "%f" works in two steps, as glibc does: first the scanner takes the
// longest run of characters that could still begin a number (so "1e" and
// "100ergs" give up "1e" and "100e"), then that run is converted as strtof
// converts it (the valid prefix "1", "100"). The conversion itself is
// std::from_chars, correctly rounded to single precision.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "ase/reader_internal.h"

namespace {

inline unsigned char Lower(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + 32 : u;
}

inline bool IsXDigit(char c) {
    const unsigned char u = Lower(c);
    return IsDigit(u) || (u >= 'a' && u <= 'f');
}

const char* SkipSpace(const char* p, const char* end) {
    while (p < end && IsCSpace(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// True when [p, end) begins with `lower` compared without case.
bool StartsNoCase(const char* p, const char* end, const char* lower) {
    const size_t n = std::strlen(lower);
    if (static_cast<size_t>(end - p) < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (Lower(p[i]) != static_cast<unsigned char>(lower[i])) return false;
    }
    return true;
}

// Value of a number too large or too small for from_chars in double: the
// position of its leading digit tells which. `digitBits` is 1 for decimal
// (exponent of ten) and 4 for hexadecimal (exponent of two).
float OutOfRangeValue(const char* mantissa, const char* mantissaEnd, const char* exponent, const char* numberEnd,
                      int digitBits) {
    int64_t integerDigits = 0;
    int64_t index = 0;
    int64_t firstNonZero = -1;
    bool afterPoint = false;
    for (const char* p = mantissa; p < mantissaEnd; ++p) {
        if (*p == '.') {
            afterPoint = true;
            continue;
        }
        if (firstNonZero < 0 && *p != '0') firstNonZero = index;
        ++index;
        if (!afterPoint) ++integerDigits;
    }
    if (firstNonZero < 0) return 0.0f;
    int64_t exp = 0;
    if (exponent != nullptr) {
        const char* q = exponent + 1;
        bool negative = false;
        if (q < numberEnd && (*q == '+' || *q == '-')) negative = *q++ == '-';
        for (; q < numberEnd; ++q) exp = std::min<int64_t>(exp * 10 + (*q - '0'), int64_t{1} << 40);
        if (negative) exp = -exp;
    }
    const int64_t magnitude = (integerDigits - firstNonZero) * digitBits + exp;
    return magnitude > 0 ? std::numeric_limits<float>::infinity() : 0.0f;
}

// strtof of the valid number in [first, last): correctly rounded, overflow
// to infinity, underflow to the nearest subnormal or zero.
float Convert(const char* first, const char* mantissaEnd, const char* exponent, const char* last,
              std::chars_format format) {
    float value = 0.0f;
    const auto result = std::from_chars(first, last, value, format);
    if (result.ec == std::errc()) return value;
    double wide = 0.0;
    const auto wideResult = std::from_chars(first, last, wide, format);
    if (wideResult.ec == std::errc()) return static_cast<float>(wide);
    return OutOfRangeValue(first, mantissaEnd, exponent, last, format == std::chars_format::hex ? 4 : 1);
}

// Powers of ten that single precision holds exactly.
constexpr float kExactPowersOfTen[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The common form digits[.digits] with at most nine digits, no exponent
// after it and a value of at most 2^24 units of its last digit: both the
// digits and the power of ten are then exact in single precision, so one
// correctly rounded division gives exactly what a full conversion gives.
// Returns false (nothing consumed) for any other text.
bool ReadPlainDecimal(const char*& cursor, const char* end, bool negative, float& value) {
    const char* p = cursor;
    uint32_t mantissa = 0;
    int digits = 0;
    for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
        if (++digits > 9) return false;
        mantissa = mantissa * 10 + static_cast<uint32_t>(*p - '0');
    }
    int fraction = 0;
    if (p < end && *p == '.') {
        ++p;
        for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
            if (++digits > 9) return false;
            mantissa = mantissa * 10 + static_cast<uint32_t>(*p - '0');
            ++fraction;
        }
        if (fraction == 0) return false;
    }
    // An exponent letter, or an 'x' after a lone zero, belongs to a longer form.
    if (p < end && (*p == 'e' || *p == 'E' || *p == 'x' || *p == 'X')) return false;
    if (mantissa > (uint32_t{1} << 24)) return false;
    const float magnitude = static_cast<float>(mantissa) / kExactPowersOfTen[fraction];
    value = negative ? -magnitude : magnitude;
    cursor = p;
    return true;
}

}  // namespace

bool ReadInt(const char*& cursor, const char* end, int32_t& value) {
    const char* p = SkipSpace(cursor, end);
    if (p == end) return false;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (p == end || !IsDigit(static_cast<unsigned char>(*p))) return false;
    // glibc converts with strtol (saturating at the 64-bit limits) and then
    // stores the low 32 bits.
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t magnitude = 0;
    // Eighteen digits stay below the limit; only longer numbers need the
    // saturating steps.
    const char* plainEnd = end - p > 18 ? p + 18 : end;
    for (; p < plainEnd && IsDigit(static_cast<unsigned char>(*p)); ++p) {
        magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
    }
    for (; p < end && IsDigit(static_cast<unsigned char>(*p)); ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    const uint64_t bits = negative ? uint64_t{0} - magnitude : magnitude;
    value = static_cast<int32_t>(static_cast<uint32_t>(bits));
    cursor = p;
    return true;
}

bool ReadFloat(const char*& cursor, const char* end, float& value) {
    const char* p = SkipSpace(cursor, end);
    if (p == end) return false;
    const char* start = p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p++ == '-';
        if (p == end) return false;
    }
    if (IsDigit(static_cast<unsigned char>(*p)) && ReadPlainDecimal(p, end, negative, value)) {
        cursor = p;
        return true;
    }
    const char* number = p;
    const float sign = negative ? -1.0f : 1.0f;

    const unsigned char lead = Lower(*p);
    if (lead == 'n') {
        if (!StartsNoCase(p, end, "nan")) return false;
        value = std::copysign(std::numeric_limits<float>::quiet_NaN(), sign);
        cursor = p + 3;
        return true;
    }
    if (lead == 'i') {
        if (!StartsNoCase(p, end, "inf")) return false;
        p += 3;
        if (p < end && Lower(*p) == 'i') {
            // Once past "inf", an 'i' commits the scanner to "infinity".
            if (!StartsNoCase(p, end, "inity")) return false;
            p += 5;
        }
        value = sign * std::numeric_limits<float>::infinity();
        cursor = p;
        return true;
    }

    bool hex = false;
    bool gotDigit = false;
    bool gotDot = false;
    const char* exponent = nullptr;
    if (*p == '0') {
        ++p;
        if (p < end && Lower(*p) == 'x') {
            hex = true;
            ++p;
            number = p;
        } else {
            gotDigit = true;
        }
    }
    const unsigned char expChar = hex ? 'p' : 'e';
    for (; p < end; ++p) {
        const char c = *p;
        if (IsDigit(static_cast<unsigned char>(c))) {
            gotDigit = true;
        } else if (exponent == nullptr && hex && IsXDigit(c)) {
            gotDigit = true;
        } else if (exponent != nullptr && p - 1 == exponent && (c == '-' || c == '+')) {
            // sign of the exponent
        } else if (gotDigit && exponent == nullptr && Lower(c) == expChar) {
            exponent = p;
            gotDot = true;
        } else if (!gotDot && c == '.') {
            gotDot = true;
        } else {
            break;
        }
    }
    const size_t prefix = (negative || *start == '+' ? 1u : 0u) + (hex ? 2u : 0u);
    if (static_cast<size_t>(p - start) == prefix) return false;

    // The part strtof accepts: the mantissa, and the exponent only when
    // digits follow its letter and sign.
    const char* mantissaEnd = exponent != nullptr ? exponent : p;
    const char* numberEnd = mantissaEnd;
    if (exponent != nullptr) {
        const char* q = exponent + 1;
        if (q < p && (*q == '+' || *q == '-')) ++q;
        if (q < p) numberEnd = p;
    }
    bool anyDigit = false;
    for (const char* q = number; q < mantissaEnd && !anyDigit; ++q) anyDigit = hex ? IsXDigit(*q) : IsDigit(*q);
    if (!anyDigit) {
        // "0x" with no hexadecimal digit converts as the "0" before it.
        if (!hex) return false;
        value = sign * 0.0f;
        cursor = p;
        return true;
    }
    const char* exponentUsed = numberEnd == p ? exponent : nullptr;
    value = sign * Convert(number, mantissaEnd, exponentUsed, numberEnd,
                           hex ? std::chars_format::hex : std::chars_format::general);
    cursor = p;
    return true;
}

bool ReadWord(const char*& cursor, const char* end, uint32_t maxChars, std::string_view& word) {
    const char* p = SkipSpace(cursor, end);
    if (p == end) return false;
    const char* start = p;
    while (p < end && static_cast<uint32_t>(p - start) < maxChars && !IsCSpace(static_cast<unsigned char>(*p))) ++p;
    word = std::string_view(start, static_cast<size_t>(p - start));
    cursor = p;
    return true;
}

bool ReadLineFloats(const AseLine& line, float* values, int count) {
    const char* p = line.args;
    for (int i = 0; i < count; ++i) {
        if (!ReadFloat(p, line.end(), values[i])) return false;
    }
    return true;
}

bool ReadLineIntFloats(const AseLine& line, int32_t& index, float* values, int count) {
    const char* p = line.args;
    if (!ReadInt(p, line.end(), index)) return false;
    for (int i = 0; i < count; ++i) {
        if (!ReadFloat(p, line.end(), values[i])) return false;
    }
    return true;
}

bool ReadLineInt(const AseLine& line, int32_t& value) {
    const char* p = line.args;
    return ReadInt(p, line.end(), value);
}
