// Text helpers of the reference host.
#include "host/store/text.h"

#include <algorithm>
#include <vector>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "platform/utf8.h"

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
    using platform::Utf8Faults;
    const size_t units = platform::Utf8ToUtf16(text.data(), text.size(), nullptr, 0, Utf8Faults::kRefuse);
    if (units == platform::kConversionFailed) {
        out.clear();
        return false;
    }
    out.assign(units + 1, u'\0');
    platform::Utf8ToUtf16(text.data(), text.size(), out.data(), out.size(), Utf8Faults::kRefuse);
    out.resize(units);
    return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    using platform::Utf8Faults;
    const size_t bytes = platform::Utf16ToUtf8(text.data(), text.size(), nullptr, 0, Utf8Faults::kReplace);
    std::string out(bytes + 1, '\0');
    platform::Utf16ToUtf8(text.data(), text.size(), out.data(), out.size(), Utf8Faults::kReplace);
    out.resize(bytes);
    return out;
}

std::u16string ArgumentToWide(const std::string& argument) {
    std::u16string wide;
    platform::ArgumentToWide(argument, wide);
    return wide;
}

}  // namespace asehost
