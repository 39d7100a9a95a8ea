// The command line on Windows: the wide command line, not the ANSI argv.
#include <windows.h>
#include <shellapi.h>

#include "platform/command_line.h"
#include "platform/utf8.h"

namespace platform {

bool CommandLineArguments(int /*argc*/, char** /*argv*/, std::vector<std::string>& out) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return false;
    out.clear();
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const auto* wide = reinterpret_cast<const char16_t*>(arguments[i]);
        const size_t length = wcslen(arguments[i]);
        const size_t bytes = Utf16ToUtf8(wide, length, nullptr, 0, Utf8Faults::kCarrySurrogates);
        std::string text(bytes + 1, '\0');
        ok = Utf16ToUtf8(wide, length, text.data(), text.size(), Utf8Faults::kCarrySurrogates) == bytes;
        text.resize(bytes);
        out.push_back(std::move(text));
    }
    LocalFree(arguments);
    return ok;
}

bool ArgumentToWide(const std::string& argument, std::u16string& out) {
    const size_t units = Utf8ToUtf16(argument.data(), argument.size(), nullptr, 0, Utf8Faults::kCarrySurrogates);
    if (units == kConversionFailed) {
        out.clear();
        return false;
    }
    out.assign(units + 1, u'\0');
    Utf8ToUtf16(argument.data(), argument.size(), out.data(), out.size(), Utf8Faults::kCarrySurrogates);
    out.resize(units);
    return true;
}

}  // namespace platform
