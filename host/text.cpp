// Text helpers of the reference host.
#include "host/text.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace asehost {

void SetDualString(DualString& dest, std::u16string_view text) {
    const size_t length = std::min<size_t>(text.size(), kDualStringUnits - 1);
    std::copy_n(text.data(), length, dest.wide);
    dest.wide[length] = 0;
    if (platform::WideToAnsi(dest.wide, dest.narrow, kDualStringUnits) == 0) {
        // A code page with multi-byte characters may not fit: cut the narrow
        // copy rather than leave it stale.
        std::vector<char> buffer(length * 4 + 1);
        platform::WideToAnsi(dest.wide, buffer.data(), static_cast<int>(buffer.size()));
        std::copy_n(buffer.data(), kDualStringUnits - 1, dest.narrow);
        dest.narrow[kDualStringUnits - 1] = 0;
    }
}

void SetDualString(DualString& dest, const char16_t* text) {
    SetDualString(dest, text ? std::u16string_view(text) : std::u16string_view());
}

void CopyDualStringFrom(DualString& dest, const DualString* source) {
    if (!source) {
        dest.wide[0] = 0;
        dest.narrow[0] = 0;
        return;
    }
    if (&dest == source) return;
    dest = *source;
    dest.wide[kDualStringUnits - 1] = 0;
    dest.narrow[kDualStringUnits - 1] = 0;
}

std::u16string WideOf(const DualString& text) {
    size_t length = 0;
    while (length < kDualStringUnits && text.wide[length] != 0) ++length;
    return std::u16string(text.wide, length);
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
    out.clear();
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        char32_t code = 0;
        int extra = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (text.size() - i <= static_cast<size_t>(extra)) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are malformed.
        static const char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::u16string ArgumentToWide(const char* argument) {
    std::u16string wide;
    if (!argument) return wide;
    if (Utf8ToUtf16(argument, wide)) return wide;
    const std::string_view text(argument);
    std::vector<char16_t> buffer(text.size() + 1);
    if (platform::AnsiToWide(argument, buffer.data(), static_cast<int>(buffer.size())) == 0) return std::u16string();
    return std::u16string(buffer.data());
}

}  // namespace asehost
