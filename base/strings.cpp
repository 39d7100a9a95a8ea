// String utilities shared by the reader and the writers.
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "base/strings.h"

int AnsiToWide(const char* text, char16_t* dest, int capacityUnits) {
    return platform::AnsiToWide(text, dest, capacityUnits);
}

int WideToAnsi(const char16_t* text, char* dest, int capacityBytes) {
    return platform::WideToAnsi(text, dest, capacityBytes);
}

namespace {

// Appends narrow ASCII text produced by the C formatter, unit by unit.
size_t AppendAscii(char16_t* dest, size_t pos, size_t capacity, const char* text) {
    for (; *text != '\0' && pos + 1 < capacity; ++text) dest[pos++] = static_cast<unsigned char>(*text);
    return pos;
}

}  // namespace

int VFormatWide(char16_t* dest, size_t capacityUnits, const char16_t* format, va_list args) {
    if (dest == nullptr || capacityUnits == 0) return 0;
    size_t pos = 0;
    for (const char16_t* p = format; p != nullptr && *p != 0 && pos + 1 < capacityUnits; ++p) {
        if (*p != u'%') {
            dest[pos++] = *p;
            continue;
        }
        // Collect a conversion: flags, width, precision, length and the letter.
        char spec[32] = "%";
        size_t len = 1;
        ++p;
        while (*p != 0 && len + 4 < sizeof spec && std::strchr("-+ #0123456789.", static_cast<char>(*p)) != nullptr &&
               *p < 128) {
            spec[len++] = static_cast<char>(*p++);
        }
        int longs = 0;
        while (*p == u'l' && longs < 2) {
            ++longs;
            ++p;
        }
        if (*p == 0) break;
        const char16_t conversion = *p;
        char number[512];
        if (conversion == u'%') {
            dest[pos++] = u'%';
        } else if (conversion == u's') {
            const char16_t* text = va_arg(args, const char16_t*);
            for (; text != nullptr && *text != 0 && pos + 1 < capacityUnits; ++text) dest[pos++] = *text;
        } else if (conversion == u'S') {
            // Narrow text in the ANSI code page (names as a file holds them).
            const char* text = va_arg(args, const char*);
            char16_t wide[kDualStringUnits * 2];
            if (text == nullptr || platform::AnsiToWide(text, wide, static_cast<int>(std::size(wide))) == 0) {
                wide[0] = 0;
            }
            for (const char16_t* w = wide; *w != 0 && pos + 1 < capacityUnits; ++w) dest[pos++] = *w;
        } else if (conversion == u'd') {
            if (longs > 0) {
                spec[len++] = 'l';
                spec[len++] = 'l';
            }
            spec[len++] = 'd';
            spec[len] = '\0';
            if (longs > 0)
                std::snprintf(number, sizeof number, spec, static_cast<long long>(longs == 1 ? va_arg(args, long)
                                                                                             : va_arg(args, long long)));
            else
                std::snprintf(number, sizeof number, spec, va_arg(args, int));
            pos = AppendAscii(dest, pos, capacityUnits, number);
        } else if (conversion == u'f') {
            // Only a precision is taken for %f ("%f", "%.3f"); to_chars writes
            // the same digits as printf in the C locale, whatever the process
            // locale says.
            const char* dot = std::strchr(spec, '.');
            const int precision = dot != nullptr ? std::atoi(dot + 1) : 6;
            const double value = va_arg(args, double);
            const auto result = std::to_chars(number, number + sizeof number - 1, value, std::chars_format::fixed,
                                              precision < 0 || precision > 64 ? 6 : precision);
            *result.ptr = '\0';
            pos = AppendAscii(dest, pos, capacityUnits, number);
        } else {
            break;  // not a conversion this product uses
        }
    }
    dest[pos] = 0;
    return static_cast<int>(pos);
}

int FormatWide(char16_t* dest, size_t capacityUnits, const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = VFormatWide(dest, capacityUnits, format, args);
    va_end(args);
    return written;
}

void AssignDualString(DualString* dest, const char16_t* text) {
    if (dest == nullptr) return;
    DualString temp;
    size_t n = 0;
    for (; text != nullptr && text[n] != 0 && n + 1 < kDualStringUnits; ++n) temp.wide[n] = text[n];
    temp.wide[n] = 0;
    // wcstombs writes no terminator when the text fills the limit, and gives
    // (size_t)-1 for a unit it cannot convert; either way the narrow part
    // must still end inside its 260 bytes.
    const size_t bytes = platform::WideToMultiByteCrt(temp.narrow, temp.wide, kDualStringUnits);
    if (bytes == static_cast<size_t>(-1))
        temp.narrow[0] = '\0';
    else
        temp.narrow[bytes < kDualStringUnits ? bytes : kDualStringUnits - 1] = '\0';
    CopyDualString(dest, &temp);
}

void AssignDualStringNarrow(DualString* dest, const char* text) {
    if (dest == nullptr) return;
    DualString temp;
    size_t n = 0;
    for (; text != nullptr && text[n] != '\0' && n + 1 < kDualStringUnits; ++n) temp.narrow[n] = text[n];
    temp.narrow[n] = '\0';
    const size_t units = platform::MultiByteToWideCrt(temp.wide, temp.narrow, kDualStringUnits);
    if (units == static_cast<size_t>(-1))
        temp.wide[0] = 0;
    else
        temp.wide[units < kDualStringUnits ? units : kDualStringUnits - 1] = 0;
    CopyDualString(dest, &temp);
}

void CopyDualString(DualString* dest, const DualString* source) {
    if (dest == nullptr || source == nullptr || dest == source) return;
    size_t i = 0;
    for (; i + 1 < kDualStringUnits && source->narrow[i] != '\0'; ++i) dest->narrow[i] = source->narrow[i];
    dest->narrow[i] = '\0';
    for (i = 0; i + 1 < kDualStringUnits && source->wide[i] != 0; ++i) dest->wide[i] = source->wide[i];
    dest->wide[i] = 0;
}

namespace {

// Copies one of the context's texts into `dest` and returns dest's wide text.
const char16_t* CopyContextText(const HostContext* context, DualString HostContext::*field, DualString* dest) {
    if (context == nullptr || dest == nullptr) return nullptr;
    CopyDualString(dest, &(context->*field));
    return dest->wide;
}

}  // namespace

const char16_t* GetFileName(const HostContext* context, DualString* dest) {
    return CopyContextText(context, &HostContext::fileName, dest);
}

const char16_t* GetHostAppName(const HostContext* context, DualString* dest) {
    return CopyContextText(context, &HostContext::hostAppName, dest);
}

const char16_t* GetHostVersion(const HostContext* context, DualString* dest) {
    return CopyContextText(context, &HostContext::hostVersion, dest);
}

const char16_t* GetHostWebsite(const HostContext* context, DualString* dest) {
    return CopyContextText(context, &HostContext::hostWebsite, dest);
}
