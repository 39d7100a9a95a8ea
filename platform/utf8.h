// The product's UTF-8 <-> UTF-16 codec. Both directions write into the
// caller's buffer (or only measure) and never allocate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// What a conversion does with text that is not well formed.
enum class Utf8Faults {
    // The conversion fails.
    kRefuse,
    // U+FFFD in place of each malformed byte or lone surrogate.
    kReplace,
    // File names on POSIX, which are bytes: each byte of a malformed UTF-8
    // sequence becomes the lone surrogate U+DC80..U+DCFF, and such a lone
    // surrogate becomes its byte again, so that any byte string goes to
    // UTF-16 and back unchanged. Other lone surrogates fail.
    kCarryBytes,
    // Windows file names, which are UTF-16 that may hold lone surrogates:
    // those are written and read as their three-byte forms. Other
    // malformed bytes fail.
    kCarrySurrogates,
};

inline constexpr size_t kConversionFailed = SIZE_MAX;

// Converts `length` bytes of UTF-8 to UTF-16. With a null `out` only
// measures; otherwise writes at most `capacity` units, terminator included.
// Returns the units of the result without the terminator, or
// kConversionFailed when the text is malformed under `faults` or the result
// does not fit (then `out` holds a terminated prefix when `capacity` > 0).
size_t Utf8ToUtf16(const char* text, size_t length, char16_t* out, size_t capacity, Utf8Faults faults);

// Converts `length` units of UTF-16 to UTF-8, with the same buffer rules.
size_t Utf16ToUtf8(const char16_t* text, size_t length, char* out, size_t capacity, Utf8Faults faults);

}  // namespace platform
